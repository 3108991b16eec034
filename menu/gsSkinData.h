#pragma once
// A skin: one picture holding up to four state frames side by side (normal, hover, pressed, and a
// region frame), each kept ready at the skin's width and height, a grey copy of the normal frame
// for disabled parts, and the hit region of the visible pixels.

#include "menu/gsSkinFunctions.h"

#include <QImage>
#include <QRegion>

class QObject;

class TgsSkinData : public TgsBorderOwner {
public:
    explicit TgsSkinData(QObject *Owner = nullptr);
    TgsSkinData(const TgsSkinData &) = delete;
    TgsSkinData &operator=(const TgsSkinData &) = delete;

    /// Copies the picture and rebuilds the state images.
    void SetPicture(const QImage &Value);
    const QImage &Picture() const { return fPicture; }

    /// Number of frames in the picture, 1 to 4 (other values are brought into that range).
    int States() const { return fStates; }
    void SetStates(int Value);
    bool Stretch() const { return fStretch; }
    void SetStretch(bool Value);
    int RegionTransparency() const { return fRegionTransparency; }
    void SetRegionTransparency(int Value);
    TgsBorder &Border() { return fBorder; }
    const TgsBorder &Border() const { return fBorder; }
    TgsBorder &Margin() { return fMargin; }
    const TgsBorder &Margin() const { return fMargin; }

    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    /// Sets the size of every state image; 0 means the frame's own width (picture width / states)
    /// or height. Nothing happens when the size stays the same.
    void SetWidthHeight(int Width, int Height);

    /// Copies picture, states, border, stretch, margin, region transparency, then width and height.
    void Assign(const TgsSkinData &Source);

    /// Width of one frame of the picture (0 without a picture).
    int FrameWidth() const;
    int FrameHeight() const { return fPicture.height(); }

    const QImage &NormalImage() const { return fNormalImage; }
    const QImage &OverImage() const { return fOverImage; }
    const QImage &ActiveImage() const { return fActiveImage; }
    const QImage &DisabledImage() const { return fDisabledImage; }
    const QImage &RegionImage() const { return fRegionImage; }
    const QRegion &Region() const { return fRegion; }

    QObject *Owner() const { return fOwner; }

    void BorderChanged(TgsBorder &Border) override;

private:
    void Rebuild();
    QImage Frame(int Index) const;

    QObject *fOwner;
    int fWidth = 50;
    int fHeight = 30;
    QImage fPicture;
    QImage fPictureBitMap;
    int fStates = 3;
    int fRegionTransparency = 200;
    TgsBorder fBorder;
    bool fStretch = true;
    TgsBorder fMargin;
    TgsSkinFunctions fSkinFunctions;
    QImage fRegionImage;
    QImage fActiveImage;
    QImage fOverImage;
    QImage fNormalImage;
    QImage fDisabledImage;
    QRegion fRegion;
    bool fAssigning = false; // Assign is copying: the pictures are made once at its end
};

/// The region made of the pixels of Image that pass Test, built row by row from runs of such
/// pixels, each run one pixel high.
template <typename Pred> QRegion RegionFromRuns(const QImage &Image, Pred Test) {
    QRegion Result;
    for (int Y = 0; Y < Image.height(); ++Y) {
        const auto *Line = reinterpret_cast<const QRgb *>(Image.constScanLine(Y));
        int X = 0;
        while (X < Image.width()) {
            while (X < Image.width() && !Test(Line[X]))
                ++X;
            const int Start = X;
            while (X < Image.width() && Test(Line[X]))
                ++X;
            if (X > Start)
                Result += QRect(Start, Y, X - Start, 1);
        }
    }
    return Result;
}
