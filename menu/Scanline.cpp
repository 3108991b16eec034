#include "menu/Scanline.h"

int GrayValue(int Red, int Green, int Blue) {
    // Integer hundredths, so that exact halves are seen as such (0.3 * 255 = 76.5 goes to 76).
    const int Hundredths = 30 * Red + 59 * Green + 11 * Blue;
    int Value = Hundredths / 100;
    const int Rest = Hundredths % 100;
    if (Rest > 50 || (Rest == 50 && (Value & 1)))
        ++Value;
    return Value;
}

QImage GrayscaleCopy(const QImage &Source) {
    QImage Result = Source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < Result.height(); ++Y) {
        auto *Line = reinterpret_cast<QRgb *>(Result.scanLine(Y));
        for (int X = 0; X < Result.width(); ++X) {
            const QRgb P = Line[X];
            const int G = GrayValue(qRed(P), qGreen(P), qBlue(P));
            Line[X] = qRgba(G, G, G, qAlpha(P));
        }
    }
    return Result;
}

void SplitColorAndMask(const QImage &Source, QImage &Color, QImage &Mask) {
    const QImage Src = Source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Color = QImage(Src.size(), QImage::Format_ARGB32_Premultiplied);
    Mask = QImage(Src.size(), QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < Src.height(); ++Y) {
        const auto *In = reinterpret_cast<const QRgb *>(Src.constScanLine(Y));
        auto *C = reinterpret_cast<QRgb *>(Color.scanLine(Y));
        auto *M = reinterpret_cast<QRgb *>(Mask.scanLine(Y));
        for (int X = 0; X < Src.width(); ++X) {
            const QRgb P = In[X];
            C[X] = qRgba(qRed(P), qGreen(P), qBlue(P), 255);
            M[X] = qRgba(qAlpha(P), qAlpha(P), qAlpha(P), 255);
        }
    }
}

void JoinColorAndMask(const QImage &Color, const QImage &Mask, QImage &Target) {
    if (Color.size() != Mask.size()) {
        Target = QImage();
        return;
    }
    const QImage C = Color.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage M = Mask.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Target = QImage(C.size(), QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < C.height(); ++Y) {
        const auto *CL = reinterpret_cast<const QRgb *>(C.constScanLine(Y));
        const auto *ML = reinterpret_cast<const QRgb *>(M.constScanLine(Y));
        auto *Out = reinterpret_cast<QRgb *>(Target.scanLine(Y));
        for (int X = 0; X < C.width(); ++X) {
            const int A = qRed(ML[X]);
            Out[X] = qRgba(qMin(qRed(CL[X]), A), qMin(qGreen(CL[X]), A), qMin(qBlue(CL[X]), A), A);
        }
    }
}
