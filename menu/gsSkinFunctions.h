#pragma once
// The border record that says how many edge pixels of a skin picture stay fixed, and the
// nine-part renderer that brings a picture to any size while keeping those edges. All pictures
// are QImage::Format_ARGB32_Premultiplied; every part is blended source-over with its own alpha.

#include <QImage>

class TgsBorder;

/// Told when a border it owns changes (the skin rebuilds its pictures then).
class TgsBorderOwner {
public:
    virtual ~TgsBorderOwner() = default;
    virtual void BorderChanged(TgsBorder &Border) = 0;
};

class TgsBorder {
public:
    explicit TgsBorder(TgsBorderOwner *Owner = nullptr) : fOwner(Owner) {}
    TgsBorder(const TgsBorder &) = delete;
    TgsBorder &operator=(const TgsBorder &) = delete;

    int Left() const { return fLeft; }
    int Top() const { return fTop; }
    int Right() const { return fRight; }
    int Bottom() const { return fBottom; }
    void SetLeft(int Value) { SetValue(0, Value); }
    void SetTop(int Value) { SetValue(1, Value); }
    void SetRight(int Value) { SetValue(2, Value); }
    void SetBottom(int Value) { SetValue(3, Value); }
    /// Sets all four sides (left, top, right, bottom in that order).
    void SetAll(int Value);

    /// Index 0 left, 1 top, 2 right, 3 bottom. A border size is never negative: a negative value
    /// is taken as 0. A change notifies the owner once; writing the present value does nothing.
    void SetValue(int Index, int Value);
    int Value(int Index) const;

    /// Copies the other border's sides through the setter, in the order left, top, right, bottom.
    void Assign(const TgsBorder &Source);

    TgsBorderOwner *Owner() const { return fOwner; }

private:
    TgsBorderOwner *fOwner;
    int fLeft = 0;
    int fTop = 0;
    int fRight = 0;
    int fBottom = 0;
};

class TgsSkinFunctions {
public:
    /// A new Width x Height picture: the four corners of Source copied unscaled, the four edges
    /// stretched (Stretch) or tiled from the strip's top-left corner, the centre always stretched.
    /// Parts of zero or negative size draw nothing; a zero border scales the whole picture.
    QImage PrepareSurface(int Width, int Height, bool Stretch, const TgsBorder &Border, const QImage &Source) const;

    /// A grey copy: blue, green and red become 0.3 R + 0.59 G + 0.11 B rounded half to even; alpha
    /// stays.
    QImage ConvertToGrayscale(const QImage &Source) const;
};
