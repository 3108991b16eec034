// The skin toolkit on small pictures whose every pixel is known: nine-part rendering, state
// frames, the hit region, the grey copy, and the colour/mask split and join.

#include "menu/Scanline.h"
#include "menu/gsSkinData.h"
#include "menu/gsSkinFunctions.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <vector>

namespace {

QImage Blank(int W, int H) {
    QImage I(W, H, QImage::Format_ARGB32_Premultiplied);
    I.fill(Qt::transparent);
    return I;
}

// Every pixel a different opaque colour, so a copied part can be traced back to where it came from.
QImage Distinct(int W, int H) {
    QImage I = Blank(W, H);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            I.setPixel(X, Y, qRgba(X * 7 % 256, Y * 11 % 256, (X + Y * W) % 256, 255));
    return I;
}

// True when every pixel of Target inside To has the colour of Source at (SX, SY).
bool Uniform(const QImage &Target, const QRect &To, QRgb Expected) {
    for (int Y = To.top(); Y <= To.bottom(); ++Y)
        for (int X = To.left(); X <= To.right(); ++X)
            if (Target.pixel(X, Y) != Expected)
                return false;
    return true;
}

bool SameBlock(const QImage &Target, QPoint At, const QImage &Source, const QRect &From) {
    for (int Y = 0; Y < From.height(); ++Y)
        for (int X = 0; X < From.width(); ++X)
            if (Target.pixel(At.x() + X, At.y() + Y) != Source.pixel(From.x() + X, From.y() + Y))
                return false;
    return true;
}

struct TRecordingOwner : TgsBorderOwner {
    std::vector<std::vector<int>> Seen;
    void BorderChanged(TgsBorder &B) override { Seen.push_back({B.Left(), B.Top(), B.Right(), B.Bottom()}); }
};

} // namespace

TEST(TgsBorderTest, SetterNotifiesOnlyOnChangeAndKeepsSizesNonNegative) {
    TRecordingOwner Owner;
    TgsBorder B(&Owner);
    B.SetValue(1, 4);
    B.SetValue(1, 4);
    B.SetRight(-3);
    EXPECT_EQ(B.Top(), 4);
    EXPECT_EQ(B.Right(), 0);
    EXPECT_EQ(Owner.Seen.size(), 1u);
    B.SetValue(7, 9); // no such side
    EXPECT_EQ(Owner.Seen.size(), 1u);
}

TEST(TgsBorderTest, AssignCopiesLeftTopRightBottomInThatOrder) {
    TgsBorder Source;
    Source.SetLeft(1);
    Source.SetTop(2);
    Source.SetRight(3);
    Source.SetBottom(4);
    TRecordingOwner Owner;
    TgsBorder Target(&Owner);
    Target.Assign(Source);
    const std::vector<std::vector<int>> Expected{{1, 0, 0, 0}, {1, 2, 0, 0}, {1, 2, 3, 0}, {1, 2, 3, 4}};
    EXPECT_EQ(Owner.Seen, Expected);
}

TEST(PrepareSurfaceTest, FiveByFiveWithBorderTwoToHundredByTwentyFive) {
    const QImage Src = Distinct(5, 5);
    TgsBorder B;
    B.SetAll(2);
    const QImage Out = TgsSkinFunctions().PrepareSurface(100, 25, true, B, Src);
    ASSERT_EQ(Out.size(), QSize(100, 25));
    EXPECT_EQ(Out.format(), QImage::Format_ARGB32_Premultiplied);
    // Corners unchanged, 2 x 2.
    EXPECT_TRUE(SameBlock(Out, {0, 0}, Src, {0, 0, 2, 2}));
    EXPECT_TRUE(SameBlock(Out, {98, 0}, Src, {3, 0, 2, 2}));
    EXPECT_TRUE(SameBlock(Out, {98, 23}, Src, {3, 3, 2, 2}));
    EXPECT_TRUE(SameBlock(Out, {0, 23}, Src, {0, 3, 2, 2}));
    // Edges 96 (top, bottom) or 21 (left, right) long: each row/column of the one-pixel source
    // strip spread along it.
    for (int Row = 0; Row < 2; ++Row) {
        EXPECT_TRUE(Uniform(Out, {2, Row, 96, 1}, Src.pixel(2, Row))) << "top row " << Row;
        EXPECT_TRUE(Uniform(Out, {2, 23 + Row, 96, 1}, Src.pixel(2, 3 + Row))) << "bottom row " << Row;
        EXPECT_TRUE(Uniform(Out, {Row, 2, 1, 21}, Src.pixel(Row, 2))) << "left column " << Row;
        EXPECT_TRUE(Uniform(Out, {98 + Row, 2, 1, 21}, Src.pixel(3 + Row, 2))) << "right column " << Row;
    }
    // The centre pixel stretched to 96 x 21.
    EXPECT_TRUE(Uniform(Out, {2, 2, 96, 21}, Src.pixel(2, 2)));
}

TEST(PrepareSurfaceTest, FrameBorderOf39KeepsCornersOfAShrunkFrame) {
    const QImage Src = Distinct(400, 800);
    TgsBorder B;
    B.SetAll(39);
    const QImage Out = TgsSkinFunctions().PrepareSurface(300, 200, true, B, Src);
    ASSERT_EQ(Out.size(), QSize(300, 200));
    EXPECT_TRUE(SameBlock(Out, {0, 0}, Src, {0, 0, 39, 39}));
    EXPECT_TRUE(SameBlock(Out, {261, 0}, Src, {361, 0, 39, 39}));
    EXPECT_TRUE(SameBlock(Out, {261, 161}, Src, {361, 761, 39, 39}));
    EXPECT_TRUE(SameBlock(Out, {0, 161}, Src, {0, 761, 39, 39}));
}

TEST(PrepareSurfaceTest, TiledEdgesRepeatFromTheStripStartAndCutTheLastTile) {
    // 4 x 2 source, border 1 all round: the top edge is the two pixels A B of row 0.
    QImage Src = Distinct(4, 2);
    TgsBorder B;
    B.SetAll(1);
    const QImage Wide = TgsSkinFunctions().PrepareSurface(7, 2, false, B, Src);
    const QRgb A = Src.pixel(1, 0), Bp = Src.pixel(2, 0);
    const std::vector<QRgb> Row{Src.pixel(0, 0), A, Bp, A, Bp, A, Src.pixel(3, 0)};
    for (int X = 0; X < 7; ++X)
        EXPECT_EQ(Wide.pixel(X, 0), Row[X]) << "x " << X;
    EXPECT_EQ(Wide.pixel(5, 1), Src.pixel(1, 1));

    // The same turned on its side: the left edge tiles downwards.
    const QImage Tall = TgsSkinFunctions().PrepareSurface(2, 7, false, B, Src.transformed(QTransform().rotate(90)));
    const QImage Rot = Src.transformed(QTransform().rotate(90)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int Y = 1; Y < 6; ++Y)
        EXPECT_EQ(Tall.pixel(0, Y), Rot.pixel(0, 1 + (Y - 1) % 2)) << "y " << Y;
}

TEST(PrepareSurfaceTest, DegenerateSizesDrawOnlyWhatFits) {
    const QImage Src = Distinct(5, 5);
    TgsBorder Two;
    Two.SetAll(2);
    TgsBorder None;
    struct TCase {
        const char *Name;
        int W, H;
        const TgsBorder *Border;
        QSize Size;
    } Cases[] = {
        {"smaller than both borders", 3, 3, &Two, {3, 3}},
        {"as wide as both borders", 4, 9, &Two, {4, 9}},
        {"zero width", 0, 9, &Two, {0, 0}},
        {"negative size", -5, -1, &None, {0, 0}},
    };
    for (const auto &C : Cases) {
        const QImage Out = TgsSkinFunctions().PrepareSurface(C.W, C.H, true, *C.Border, Src);
        EXPECT_EQ(Out.size(), C.Size) << C.Name;
    }
    // 4 wide with border 2: no room for edges or centre; only the corners show, left then right.
    const QImage Narrow = TgsSkinFunctions().PrepareSurface(4, 9, true, Two, Src);
    EXPECT_TRUE(SameBlock(Narrow, {0, 0}, Src, {0, 0, 2, 2}));
    EXPECT_TRUE(SameBlock(Narrow, {2, 7}, Src, {3, 3, 2, 2}));
    EXPECT_EQ(qAlpha(Narrow.pixel(0, 4)), 255); // the left edge still spans the middle rows
    // A border larger than the picture draws no corner it cannot cut, and does not crash.
    TgsBorder Huge;
    Huge.SetAll(50);
    const QImage Over = TgsSkinFunctions().PrepareSurface(20, 20, true, Huge, Src);
    EXPECT_TRUE(Uniform(Over, Over.rect(), 0));
}

TEST(PrepareSurfaceTest, ZeroBorderScalesTheWholePictureAndKeepsItsAlpha) {
    QImage Src = Blank(2, 2);
    Src.fill(qRgba(64, 0, 0, 128)); // half-transparent red, premultiplied
    const QImage Out = TgsSkinFunctions().PrepareSurface(10, 6, true, TgsBorder(), Src);
    EXPECT_TRUE(Uniform(Out, Out.rect(), qRgba(64, 0, 0, 128)));
}

TEST(GrayscaleTest, WeightsRoundHalvesToEvenAndAlphaStays) {
    struct TCase {
        QRgb In;
        int Grey;
    } Cases[] = {
        {qRgba(255, 0, 0, 255), 76},  // 76.5 -> 76
        {qRgba(0, 255, 0, 255), 150}, // 150.45
        {qRgba(0, 0, 255, 255), 28},  // 28.05
        {qRgba(5, 0, 0, 255), 2},     // 1.5 -> 2
        {qRgba(255, 255, 255, 255), 255},
        {qRgba(100, 50, 20, 200), 62}, // 30 + 29.5 + 2.2 = 61.7, premultiplied values stay below alpha
    };
    for (const auto &C : Cases) {
        QImage Img = Blank(1, 1);
        Img.setPixel(0, 0, C.In);
        const QImage Grey = TgsSkinFunctions().ConvertToGrayscale(Img);
        EXPECT_EQ(Grey.pixel(0, 0), qRgba(C.Grey, C.Grey, C.Grey, qAlpha(C.In))) << std::hex << C.In;
        EXPECT_EQ(GrayscaleCopy(Img).pixel(0, 0), Grey.pixel(0, 0));
    }
}

TEST(TgsSkinDataTest, FifteenByFivePictureWithThreeStatesGivesFiveByFiveFrames) {
    QImage Pic = Blank(15, 5);
    const QRgb Colours[3] = {qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 255), qRgba(0, 0, 255, 255)};
    QPainter P(&Pic);
    for (int I = 0; I < 3; ++I)
        P.fillRect(I * 5, 0, 5, 5, QColor::fromRgba(Colours[I]));
    P.end();
    TgsSkinData Skin;
    Skin.SetPicture(Pic);
    Skin.SetWidthHeight(0, 0);
    ASSERT_EQ(Skin.Width(), 5);
    ASSERT_EQ(Skin.Height(), 5);
    EXPECT_EQ(Skin.NormalImage().size(), QSize(5, 5));
    EXPECT_TRUE(Uniform(Skin.NormalImage(), {0, 0, 5, 5}, Colours[0]));
    EXPECT_TRUE(Uniform(Skin.OverImage(), {0, 0, 5, 5}, Colours[1]));
    EXPECT_TRUE(Uniform(Skin.ActiveImage(), {0, 0, 5, 5}, Colours[2]));
    EXPECT_TRUE(Uniform(Skin.DisabledImage(), {0, 0, 5, 5}, qRgba(76, 76, 76, 255)));
    EXPECT_TRUE(Skin.RegionImage().isNull());
}

TEST(TgsSkinDataTest, RebuildsOnlyWhenSomethingChanges) {
    QImage Pic = Blank(15, 5);
    Pic.fill(Qt::white);
    TgsSkinData Skin;
    Skin.SetPicture(Pic);
    Skin.SetWidthHeight(40, 20);
    const qint64 First = Skin.NormalImage().cacheKey();
    Skin.SetWidthHeight(40, 20);
    Skin.SetStates(3);
    Skin.SetStretch(true);
    Skin.SetRegionTransparency(200);
    Skin.Border().SetAll(0);
    EXPECT_EQ(Skin.NormalImage().cacheKey(), First);

    Skin.Border().SetLeft(1);
    const qint64 AfterBorder = Skin.NormalImage().cacheKey();
    EXPECT_NE(AfterBorder, First);
    Skin.SetWidthHeight(41, 20);
    EXPECT_NE(Skin.NormalImage().cacheKey(), AfterBorder);
    EXPECT_EQ(Skin.NormalImage().size(), QSize(41, 20));
}

TEST(TgsSkinDataTest, StatesAreKeptBetweenOneAndFour) {
    QImage Pic = Blank(12, 2);
    Pic.fill(Qt::white);
    TgsSkinData Skin;
    Skin.SetPicture(Pic);
    Skin.SetStates(0);
    EXPECT_EQ(Skin.States(), 1);
    Skin.SetStates(9);
    EXPECT_EQ(Skin.States(), 4);
    Skin.SetWidthHeight(0, 0);
    EXPECT_EQ(Skin.Width(), 3);
    EXPECT_FALSE(Skin.RegionImage().isNull());
}

TEST(TgsSkinDataTest, RegionIsTheUnionOfSolidPixelsOfTheStateFrames) {
    // Three 4 x 2 frames; a pixel counts when its alpha reaches 200 in any frame.
    QImage Pic = Blank(12, 2);
    Pic.setPixel(0, 0, qRgba(0, 0, 0, 255));      // normal: (0,0)
    Pic.setPixel(1, 0, qRgba(0, 0, 0, 199));      // normal: (1,0) too faint
    Pic.setPixel(4 + 2, 0, qRgba(0, 0, 0, 200));  // hover: (2,0)
    Pic.setPixel(8 + 1, 1, qRgba(10, 0, 0, 230)); // pressed: (1,1)
    Pic.setPixel(8 + 2, 1, qRgba(10, 0, 0, 230)); // pressed: (2,1), same run
    TgsSkinData Skin;
    Skin.SetPicture(Pic);
    Skin.SetWidthHeight(0, 0);
    const QRegion Expected = QRegion(0, 0, 1, 1) + QRegion(2, 0, 1, 1) + QRegion(1, 1, 2, 1);
    EXPECT_EQ(Skin.Region(), Expected);

    // With four states the region is the black pixels of the fourth frame.
    QImage Four = Blank(16, 2);
    Four.fill(Qt::white);
    for (int X = 12; X < 16; ++X)
        Four.setPixel(X, 0, qRgba(0, 0, 0, 255));
    Four.setPixel(13, 1, qRgba(0, 0, 0, 255));
    Skin.SetPicture(Four);
    Skin.SetStates(4);
    Skin.SetWidthHeight(0, 0);
    EXPECT_EQ(Skin.Region(), QRegion(0, 0, 4, 1) + QRegion(1, 1, 1, 1));
}

TEST(TgsSkinDataTest, AssignCopiesEverythingIncludingTheSize) {
    QImage Pic = Distinct(15, 5);
    TgsSkinData Source;
    Source.SetPicture(Pic);
    Source.Border().SetAll(1);
    Source.SetStretch(false);
    Source.SetWidthHeight(30, 9);
    TgsSkinData Copy;
    Copy.Assign(Source);
    EXPECT_EQ(Copy.Width(), 30);
    EXPECT_EQ(Copy.Height(), 9);
    EXPECT_FALSE(Copy.Stretch());
    EXPECT_EQ(Copy.Border().Bottom(), 1);
    EXPECT_EQ(Copy.OverImage(), Source.OverImage());
}

TEST(ScanlineTest, SplitAndJoinGiveBackThePicture) {
    QImage Src = Blank(3, 1);
    Src.setPixel(0, 0, qRgba(10, 20, 30, 40));
    Src.setPixel(1, 0, qRgba(255, 128, 0, 255));
    Src.setPixel(2, 0, qRgba(0, 0, 0, 0));
    QImage Colour, Mask, Joined;
    SplitColorAndMask(Src, Colour, Mask);
    EXPECT_EQ(Colour.pixel(0, 0), qRgba(10, 20, 30, 255));
    EXPECT_EQ(Mask.pixel(0, 0), qRgba(40, 40, 40, 255));
    EXPECT_EQ(Mask.pixel(2, 0), qRgba(0, 0, 0, 255));
    JoinColorAndMask(Colour, Mask, Joined);
    EXPECT_EQ(Joined, Src);
}

TEST(ScanlineTest, JoinRefusesUnequalSizesAndNeverMakesAnInvalidPixel) {
    QImage Colour = Blank(2, 1), Mask = Blank(1, 1), Out;
    JoinColorAndMask(Colour, Mask, Out);
    EXPECT_TRUE(Out.isNull());
    // White text written into the colour picture over a half-transparent area.
    Colour.fill(qRgba(255, 255, 255, 255));
    Mask = Blank(2, 1);
    Mask.fill(qRgba(100, 100, 100, 255));
    JoinColorAndMask(Colour, Mask, Out);
    EXPECT_EQ(Out.pixel(1, 0), qRgba(100, 100, 100, 100));
}
