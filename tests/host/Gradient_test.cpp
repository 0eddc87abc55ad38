#include "core/Gradient.h"
#include "testkit/BandPicture.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

namespace zal {
namespace {

using testkit::PixelBuffer;
using testkit::RasteriseBands;

constexpr std::uint32_t Background = 0xABCDEF;

std::uint32_t NoSystemColors(int) {
    ADD_FAILURE() << "no system colour expected";
    return 0;
}

std::uint32_t Rgb3(int red, int green, int blue) {
    return static_cast<std::uint32_t>(red | green << 8 | blue << 16);
}

PixelBuffer Paint(const std::vector<GradientBand>& bands, int width, int height) {
    return RasteriseBands(bands, width, height, Background);
}

// numerator / denominator (both not negative) rounded to the nearest integer, ties to even, in integers
// only: an oracle that shares nothing with the floating-point rounding it checks.
int RoundRatio(int numerator, int denominator) {
    int quotient = numerator / denominator;
    const int twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 == 1)) {
        ++quotient;
    }
    return quotient;
}

// The last band whose offset lands on a given row or column, found by brute force over the offsets: band i
// starts at i * extent / 128, rounded, and is extent / 128 + 1 long.
int LastBandAt(int position, int extent) {
    int found = -1;
    for (int i = 0; i < 128; ++i) {
        const int off = RoundRatio(i * extent, 128);
        if (off <= position && position < std::min(off + extent / 128 + 1, extent)) {
            found = i;
        }
    }
    return found;
}

TEST(RoundHalfEvenTest, TiesGoToTheEvenNeighbour) {
    const struct {
        double In;
        double Out;
    } cases[] = {{0.5, 0},  {1.5, 2},  {2.5, 2},    {3.5, 4},     {-0.5, 0},       {-1.5, -2},   {-2.5, -2},
                 {0.49, 0}, {0.51, 1}, {-0.51, -1}, {127.5, 128}, {89.296875, 89}, {-63.5, -64}, {7, 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(RoundHalfEven(c.In), c.Out) << c.In;
    }
}

TEST(RoundHalfEvenTest, IgnoresTheFloatingPointRoundingMode) {
    const int saved = std::fegetround();
    std::fesetround(FE_UPWARD);
    const double down = RoundHalfEven(2.5);
    const double negative = RoundHalfEven(-1.2);
    std::fesetround(saved);
    EXPECT_EQ(down, 2);
    EXPECT_EQ(negative, -1);
}

// The tool's own window: 487 x 90, 0x808040 to black, top to bottom.
class ToolWindowGradient : public ::testing::Test {
protected:
    std::vector<GradientBand> FBands = MirrorGradient({0, 0, 487, 90}, 8421440, clBlack, clNone, clNone,
                                                      GradientAxis::Vertical, NoSystemColors);
};

TEST_F(ToolWindowGradient, BandColoursRoundHalvesToEven) {
    ASSERT_EQ(FBands.size(), 128u);
    EXPECT_EQ(FBands[0].Color, static_cast<TColor>(Rgb3(64, 128, 128)));
    EXPECT_EQ(FBands[1].Color, static_cast<TColor>(Rgb3(64, 127, 127))); // -0.5 rounds to 0
    EXPECT_EQ(FBands[2].Color, static_cast<TColor>(Rgb3(63, 126, 126)));
    EXPECT_EQ(FBands[3].Color, static_cast<TColor>(Rgb3(62, 125, 125))); // -1.5 rounds to -2
    EXPECT_EQ(FBands[127].Color, static_cast<TColor>(Rgb3(0, 1, 1)));    // never quite the end colour
    for (int i = 0; i < 128; ++i) {
        const int red = 64 - RoundRatio(i, 2); // ties to even are symmetric about zero
        EXPECT_EQ(FBands[i].Color, static_cast<TColor>(Rgb3(red, 128 - i, 128 - i))) << "band " << i;
    }
}

TEST_F(ToolWindowGradient, EveryBandIsOneRowAcrossTheWholeWidth) {
    EXPECT_EQ(FBands[0].Bounds, (BandRect{0, 0, 487, 1}));
    EXPECT_EQ(FBands[1].Bounds, (BandRect{0, 1, 487, 2}));     // 0.703125 rounds to 1
    EXPECT_EQ(FBands[3].Bounds, (BandRect{0, 2, 487, 3}));     // 2.109375
    EXPECT_EQ(FBands[4].Bounds, (BandRect{0, 3, 487, 4}));     // 2.8125
    EXPECT_EQ(FBands[127].Bounds, (BandRect{0, 89, 487, 90})); // 89.296875
}

TEST_F(ToolWindowGradient, RowShowsTheLastBandLandingOnIt) {
    const PixelBuffer picture = Paint(FBands, 487, 90);
    EXPECT_EQ(picture.At(0, 0), Rgb3(64, 128, 128)); // band 0 alone: band 1 rounds onto row 1
    EXPECT_EQ(picture.At(0, 2), Rgb3(62, 125, 125)); // band 3
    EXPECT_EQ(picture.At(486, 89), Rgb3(0, 1, 1));   // band 127
    for (int y = 0; y < 90; ++y) {
        int last = -1;
        for (int i = 0; i < 128; ++i) {
            if (RoundRatio(90 * i, 128) == y) {
                last = i;
            }
        }
        ASSERT_GE(last, 0) << "row " << y << " is not covered";
        for (int x : {0, 243, 486}) {
            EXPECT_EQ(picture.At(x, y), static_cast<std::uint32_t>(FBands[last].Color)) << x << "," << y;
        }
    }
}

TEST(MirrorGradientTest, OddExtentGivesTheSecondHalfTheExtraPixel) {
    const auto bands = MirrorGradient({0, 0, 30, 101}, clBlack, clWhite, 0x0000FF, 0xFF0000,
                                      GradientAxis::Vertical, NoSystemColors);
    ASSERT_EQ(bands.size(), 256u);
    for (int i = 0; i < 128; ++i) {
        EXPECT_GE(bands[i].Bounds.Top, 0);
        EXPECT_LE(bands[i].Bounds.Bottom, 50) << "first gradient band " << i;
        EXPECT_GE(bands[128 + i].Bounds.Top, 50) << "second gradient band " << i;
        EXPECT_LE(bands[128 + i].Bounds.Bottom, 101);
    }
    const PixelBuffer picture = Paint(bands, 30, 101);
    // s is 0.390625 on the first half and 0.3984375 on the second; the last band of each rounds past its end.
    EXPECT_EQ(picture.At(0, 0), static_cast<std::uint32_t>(bands[1].Color));
    EXPECT_EQ(picture.At(0, 49), static_cast<std::uint32_t>(bands[126].Color));
    EXPECT_EQ(picture.At(0, 50), static_cast<std::uint32_t>(bands[129].Color));
    EXPECT_EQ(picture.At(29, 100), static_cast<std::uint32_t>(bands[254].Color));
    EXPECT_EQ(bands[128].Color, 0x0000FF);
    for (int y = 0; y < 101; ++y) {
        const bool second = y >= 50;
        const int band = LastBandAt(second ? y - 50 : y, second ? 51 : 50);
        EXPECT_EQ(picture.At(15, y), static_cast<std::uint32_t>(bands[band + (second ? 128 : 0)].Color))
            << "row " << y;
    }
}

TEST(MirrorGradientTest, SplitsAHorizontalAxisAtTheMiddleOfAnOffsetRectangle) {
    const auto bands = MirrorGradient({10, 5, 111, 25}, clWhite, clBlack, clBlack, clWhite,
                                      GradientAxis::Horizontal, NoSystemColors);
    ASSERT_EQ(bands.size(), 256u);
    EXPECT_EQ(bands[0].Bounds, (BandRect{10, 5, 11, 25}));
    EXPECT_EQ(bands[127].Bounds.Right, 60);
    EXPECT_EQ(bands[128].Bounds, (BandRect{60, 5, 61, 25}));
    EXPECT_EQ(bands[255].Bounds.Right, 111);
}

TEST(MirrorGradientTest, ClNoneToColourReadsAsWhite) {
    const auto mirrored = MirrorGradient({0, 0, 4, 256}, 0x123456, 0x654321, clBlack, clNone,
                                         GradientAxis::Vertical, NoSystemColors);
    ASSERT_EQ(mirrored.size(), 256u);
    EXPECT_EQ(mirrored[128].Color, clBlack);
    EXPECT_EQ(mirrored[128 + 64].Color, static_cast<TColor>(Rgb3(128, 128, 128))); // 127.5 rounds to 128
    EXPECT_EQ(mirrored[255].Color, static_cast<TColor>(Rgb3(253, 253, 253)));

    const auto single = MirrorGradient({0, 0, 4, 128}, clBlack, clNone, clNone, clBlack,
                                       GradientAxis::Vertical, NoSystemColors);
    ASSERT_EQ(single.size(), 128u);
    EXPECT_EQ(single[127].Color, static_cast<TColor>(Rgb3(253, 253, 253)));
}

TEST(MirrorGradientTest, ClNoneFromColourDrawsNothing) {
    const TColor others[] = {clBlack, clWhite, clNone, clBtnFace};
    for (TColor to : others) {
        for (TColor mirror : others) {
            EXPECT_TRUE(MirrorGradient({0, 0, 487, 90}, clNone, to, mirror, mirror, GradientAxis::Vertical,
                                       NoSystemColors)
                            .empty());
            EXPECT_TRUE(MirrorGradient({0, 0, 487, 90}, clNone, to, mirror, to, GradientAxis::Horizontal,
                                       NoSystemColors)
                            .empty());
        }
    }
}

TEST(GradientBandsTest, SmallExtentsLetTheLaterBandWin) {
    const struct {
        int Extent;
        int Position;
        int Band;
    } cases[] = {
        {1, 0, 64}, // Round(64/128) = 0 by the tie rule, 65/128 rounds up and falls off the end
        {10, 9, 121}, {10, 0, 6}, {2, 0, 32}, {2, 1, 95}, {127, 126, 127}, {64, 0, 1}, {64, 63, 126},
    };
    for (const auto& c : cases) {
        const auto bands =
            GradientBands(clBlack, clWhite, {0, 0, 3, c.Extent}, GradientAxis::Vertical, NoSystemColors);
        ASSERT_EQ(LastBandAt(c.Position, c.Extent), c.Band) << "extent " << c.Extent;
        const PixelBuffer picture = Paint(bands, 3, c.Extent);
        EXPECT_EQ(picture.At(1, c.Position), static_cast<std::uint32_t>(bands[c.Band].Color))
            << "extent " << c.Extent << " row " << c.Position;
    }
}

TEST(GradientBandsTest, BandsPastTheEndAreEmptyAndPaintNothing) {
    const auto bands = GradientBands(clBlack, clWhite, {0, 0, 5, 10}, GradientAxis::Vertical, NoSystemColors);
    for (int i = 122; i < 128; ++i) {
        EXPECT_EQ(bands[i].Bounds.Top, 10) << "band " << i;
        EXPECT_EQ(bands[i].Bounds.Bottom, 10) << "band " << i;
    }
    const auto empty = GradientBands(clBlack, clWhite, {0, 0, 5, 0}, GradientAxis::Vertical, NoSystemColors);
    ASSERT_EQ(empty.size(), 128u);
    const PixelBuffer picture = Paint(empty, 5, 1);
    for (std::uint32_t pixel : picture.Pixels) {
        EXPECT_EQ(pixel, Background);
    }
}

TEST(GradientBandsTest, HorizontalAxisSpansTheFullHeight) {
    const auto bands =
        GradientBands(0x0000FF, 0xFF0000, {0, 0, 487, 90}, GradientAxis::Horizontal, NoSystemColors);
    // s = 3.8046875: every band is four columns wide and overlaps the next.
    for (int i = 0; i < 128; ++i) {
        const int off = RoundRatio(487 * i, 128);
        EXPECT_EQ(bands[i].Bounds, (BandRect{off, 0, std::min(off + 4, 487), 90})) << "band " << i;
    }
    const PixelBuffer picture = Paint(bands, 487, 90);
    for (int x = 0; x < 487; ++x) {
        const std::uint32_t expected = static_cast<std::uint32_t>(bands[LastBandAt(x, 487)].Color);
        EXPECT_EQ(picture.At(x, 0), expected) << "column " << x;
        EXPECT_EQ(picture.At(x, 89), expected) << "column " << x;
    }
}

TEST(GradientBandsTest, SystemColoursGoThroughTheLookup) {
    std::vector<int> asked;
    const SysColorLookup lookup = [&asked](int index) {
        asked.push_back(index);
        return index == 15 ? Rgb3(0xD4, 0xD0, 0xC8) : Rgb3(1, 2, 3);
    };
    const auto flat =
        MirrorGradient({0, 0, 10, 10}, clBtnFace, clBtnFace, clNone, clNone, GradientAxis::Vertical, lookup);
    ASSERT_EQ(flat.size(), 128u);
    for (const auto& band : flat) {
        EXPECT_EQ(band.Color, static_cast<TColor>(Rgb3(0xD4, 0xD0, 0xC8)));
    }
    EXPECT_EQ(asked, (std::vector<int>{15, 15}));

    asked.clear();
    const auto mixed = GradientBands(clBlack, clWindowText, {0, 0, 10, 10}, GradientAxis::Vertical, lookup);
    EXPECT_EQ(asked, (std::vector<int>{8}));
    EXPECT_EQ(mixed[127].Color, static_cast<TColor>(Rgb3(1, 2, 3)));
}

TEST(GradientBandsTest, LargestWindowExtentKeepsOffsetsInOrder) {
    // Up to 65535 pixels (twice what a window can be) the 16-bit offset cannot wrap.
    const auto bands =
        GradientBands(clBlack, clWhite, {0, 0, 65535, 1}, GradientAxis::Horizontal, NoSystemColors);
    for (int i = 1; i < 128; ++i) {
        EXPECT_GT(bands[i].Bounds.Left, bands[i - 1].Bounds.Left) << "band " << i;
        EXPECT_LE(bands[i].Bounds.Right, 65535);
    }
    EXPECT_EQ(bands[127].Bounds.Left, 65023);
    EXPECT_EQ(bands[127].Bounds.Right, 65535);
}

// The panel skips the background erase whenever it paints, which is only sound if no pixel is left out.
TEST(MirrorGradientTest, CoversEveryPixelOfAnyExtent) {
    for (int extent = 1; extent <= 600; ++extent) {
        for (TColor mirror : {clNone, clWhite}) {
            const auto bands = MirrorGradient({0, 0, 1, extent}, clBlack, clBlack, mirror, clBlack,
                                              GradientAxis::Vertical, NoSystemColors);
            const PixelBuffer picture = Paint(bands, 1, extent);
            for (int y = 0; y < extent; ++y) {
                ASSERT_NE(picture.At(0, y), Background) << "extent " << extent << " row " << y;
            }
        }
    }
}

TEST(RasteriseBandsTest, ClipsBandsToThePicture) {
    const std::vector<GradientBand> bands = {{0x111111, {-5, -5, 2, 2}}, {0x222222, {1, 1, 50, 50}}};
    const PixelBuffer picture = Paint(bands, 3, 3);
    EXPECT_EQ(picture.At(0, 0), 0x111111u);
    EXPECT_EQ(picture.At(1, 1), 0x222222u);
    EXPECT_EQ(picture.At(2, 0), Background);
    EXPECT_EQ(picture.At(2, 2), 0x222222u);
}

} // namespace
} // namespace zal
