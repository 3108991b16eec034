#include "menu/gsSkinFunctions.h"

#include "menu/Scanline.h"

#include <QPainter>

void TgsBorder::SetAll(int Value) {
    for (int I = 0; I < 4; ++I)
        SetValue(I, Value);
}

void TgsBorder::SetValue(int Index, int Value) {
    if (Value < 0)
        Value = 0;
    int *Field = nullptr;
    switch (Index) {
    case 0:
        Field = &fLeft;
        break;
    case 1:
        Field = &fTop;
        break;
    case 2:
        Field = &fRight;
        break;
    case 3:
        Field = &fBottom;
        break;
    default:
        return;
    }
    if (*Field == Value)
        return;
    *Field = Value;
    if (fOwner)
        fOwner->BorderChanged(*this);
}

int TgsBorder::Value(int Index) const {
    switch (Index) {
    case 0:
        return fLeft;
    case 1:
        return fTop;
    case 2:
        return fRight;
    case 3:
        return fBottom;
    default:
        return 0;
    }
}

void TgsBorder::Assign(const TgsBorder &Source) {
    for (int I = 0; I < 4; ++I)
        SetValue(I, Source.Value(I));
}

namespace {

// Blends the source rectangle scaled into the target rectangle. The part is cut out first so that
// smooth scaling never samples the neighbouring parts of the picture.
void BlendScaled(QPainter &P, const QImage &Source, const QRect &From, const QRect &To) {
    if (From.width() <= 0 || From.height() <= 0 || To.width() <= 0 || To.height() <= 0)
        return;
    const QRect Clipped = From & Source.rect();
    if (Clipped != From)
        return;
    QImage Part = Source.copy(From);
    if (Part.size() != To.size())
        Part = Part.scaled(To.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    P.drawImage(To.topLeft(), Part);
}

// Repeats the source rectangle unscaled across the target rectangle, from its top-left corner,
// the last tiles cut at the target's edges.
void BlendTiled(QPainter &P, const QImage &Source, const QRect &From, const QRect &To) {
    if (From.width() <= 0 || From.height() <= 0 || To.width() <= 0 || To.height() <= 0)
        return;
    if ((From & Source.rect()) != From)
        return;
    const QImage Part = Source.copy(From);
    P.save();
    P.setClipRect(To);
    for (int Y = To.top(); Y <= To.bottom(); Y += Part.height())
        for (int X = To.left(); X <= To.right(); X += Part.width())
            P.drawImage(QPoint(X, Y), Part);
    P.restore();
}

} // namespace

QImage TgsSkinFunctions::PrepareSurface(int Width, int Height, bool Stretch, const TgsBorder &Border,
                                        const QImage &Source) const {
    QImage Result(qMax(Width, 0), qMax(Height, 0), QImage::Format_ARGB32_Premultiplied);
    Result.fill(Qt::transparent);
    if (Result.isNull() || Source.isNull())
        return Result;
    const QImage Src = Source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int L = Border.Left(), T = Border.Top(), R = Border.Right(), B = Border.Bottom();
    const int W = Src.width(), H = Src.height();
    const int w = Width, h = Height;

    QPainter P(&Result);
    P.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // Corners, unscaled.
    BlendScaled(P, Src, QRect(0, 0, L, T), QRect(0, 0, L, T));
    BlendScaled(P, Src, QRect(W - R, 0, R, T), QRect(w - R, 0, R, T));
    BlendScaled(P, Src, QRect(W - R, H - B, R, B), QRect(w - R, h - B, R, B));
    BlendScaled(P, Src, QRect(0, H - B, L, B), QRect(0, h - B, L, B));
    // Edges.
    const auto Edge = Stretch ? BlendScaled : BlendTiled;
    Edge(P, Src, QRect(L, 0, W - L - R, T), QRect(L, 0, w - L - R, T));
    Edge(P, Src, QRect(W - R, T, R, H - T - B), QRect(w - R, T, R, h - T - B));
    Edge(P, Src, QRect(L, H - B, W - L - R, B), QRect(L, h - B, w - L - R, B));
    Edge(P, Src, QRect(0, T, L, H - T - B), QRect(0, T, L, h - T - B));
    // Centre, always stretched.
    BlendScaled(P, Src, QRect(L, T, W - L - R, H - T - B), QRect(L, T, w - L - R, h - T - B));
    return Result;
}

QImage TgsSkinFunctions::ConvertToGrayscale(const QImage &Source) const {
    return GrayscaleCopy(Source);
}
