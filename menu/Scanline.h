#pragma once
// Per-pixel operations on 32-bit pictures with premultiplied alpha: the grey copy, and the split
// of a picture into a colour picture and an alpha mask and their join. The split and join let a
// drawing path that ignores alpha (text output on some platforms) work on an opaque colour
// picture while the alpha is kept as grey in a separate mask.

#include <QImage>

/// Weighted grey value 0.3 R + 0.59 G + 0.11 B, rounded to the nearest integer, halves to even.
int GrayValue(int Red, int Green, int Blue);

/// A copy of Source (as ARGB32 premultiplied) with blue, green and red set to their grey value;
/// alpha stays.
QImage GrayscaleCopy(const QImage &Source);

/// Color gets Source's blue, green and red with alpha 255; Mask gets Source's alpha in blue, green
/// and red with alpha 255. Both are made the size of Source.
void SplitColorAndMask(const QImage &Source, QImage &Color, QImage &Mask);

/// Target gets Color's blue, green and red and Mask's red as alpha (made the size of Color; Mask
/// must have the same size, else Target is left null). A colour channel above its alpha would be
/// no valid premultiplied pixel and is cut down to the alpha.
void JoinColorAndMask(const QImage &Color, const QImage &Mask, QImage &Target);
