#include "menu/gsSkinData.h"

#include <QPainter>
#include <QScopedValueRollback>

TgsSkinData::TgsSkinData(QObject *Owner) : fOwner(Owner), fBorder(this), fMargin(nullptr) {}

void TgsSkinData::SetPicture(const QImage &Value) {
    fPicture = Value.isNull() ? QImage() : Value.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Rebuild();
}

void TgsSkinData::SetStates(int Value) {
    Value = qBound(1, Value, 4);
    if (Value == fStates)
        return;
    fStates = Value;
    Rebuild();
}

void TgsSkinData::SetStretch(bool Value) {
    if (Value == fStretch)
        return;
    fStretch = Value;
    Rebuild();
}

void TgsSkinData::SetRegionTransparency(int Value) {
    Value = qBound(0, Value, 255);
    if (Value == fRegionTransparency)
        return;
    fRegionTransparency = Value;
    Rebuild();
}

int TgsSkinData::FrameWidth() const {
    return fPicture.width() / fStates;
}

void TgsSkinData::SetWidthHeight(int Width, int Height) {
    if (Width <= 0)
        Width = FrameWidth();
    if (Height <= 0)
        Height = FrameHeight();
    if (Width == fWidth && Height == fHeight)
        return;
    fWidth = Width;
    fHeight = Height;
    Rebuild();
}

void TgsSkinData::Assign(const TgsSkinData &Source) {
    if (&Source == this)
        return;
    // The pictures are made once for the whole copy, not once per field that changes.
    {
        const QScopedValueRollback<bool> Copying(fAssigning, true);
        SetPicture(Source.fPicture);
        SetStates(Source.fStates);
        fBorder.Assign(Source.fBorder);
        SetStretch(Source.fStretch);
        fMargin.Assign(Source.fMargin);
        SetRegionTransparency(Source.fRegionTransparency);
        SetWidthHeight(Source.fWidth, Source.fHeight);
    }
    Rebuild();
}

void TgsSkinData::BorderChanged(TgsBorder &) {
    Rebuild();
}

QImage TgsSkinData::Frame(int Index) const {
    const int FW = FrameWidth(), FH = FrameHeight();
    QImage Cut(FW, FH, QImage::Format_ARGB32_Premultiplied);
    Cut.fill(Qt::transparent);
    QPainter P(&Cut);
    P.drawImage(QPoint(0, 0), fPictureBitMap, QRect(Index * FW, 0, FW, FH));
    P.end();
    return fSkinFunctions.PrepareSurface(fWidth, fHeight, fStretch, fBorder, Cut);
}

void TgsSkinData::Rebuild() {
    if (fAssigning)
        return;
    fPictureBitMap = fPicture;
    fNormalImage = fOverImage = fActiveImage = fRegionImage = fDisabledImage = QImage();
    fRegion = QRegion();
    if (FrameWidth() == 0 || FrameHeight() == 0 || fWidth <= 0 || fHeight <= 0)
        return;
    fNormalImage = Frame(0);
    fDisabledImage = fSkinFunctions.ConvertToGrayscale(fNormalImage);
    if (fStates > 1)
        fOverImage = Frame(1);
    if (fStates > 2)
        fActiveImage = Frame(2);
    if (fStates > 3)
        fRegionImage = Frame(3);

    if (fStates == 4) {
        fRegion = RegionFromRuns(fRegionImage, [](QRgb P) { return qRed(P) == 0 && qGreen(P) == 0 && qBlue(P) == 0; });
        return;
    }
    const int Least = fRegionTransparency;
    const auto Solid = [Least](QRgb P) { return qAlpha(P) >= Least; };
    fRegion = RegionFromRuns(fNormalImage, Solid);
    if (fStates >= 2)
        fRegion += RegionFromRuns(fOverImage, Solid);
    if (fStates == 3)
        fRegion += RegionFromRuns(fActiveImage, Solid);
}
