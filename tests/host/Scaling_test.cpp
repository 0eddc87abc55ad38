#include "core/Scaling.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using zal::TBounds;

struct MulDivCase {
    int Number;
    int Numerator;
    int Denominator;
    int Expected;
};

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
    const MulDivCase cases[] = {
        {-11, 120, 96, -14}, // the window font at 120 pixels per inch
        {8, 120, 72, 13},    {8, 96, 72, 11},    {1, 1, 2, 1},      {-1, 1, 2, -1},   {3, 1, 2, 2},
        {-3, 1, 2, -2},      {1, -1, 2, -1},     {-1, -1, 2, 1},    {1, 1, -2, -1},   {5, 1, -2, -3},
        {-5, 1, -2, 3},      {7, 1, 3, 2},       {8, 1, 3, 3},      {-8, 1, 3, -3},   {0, -5, 3, 0},
        {0, 0, 7, 0},        {487, 16, 13, 599}, {90, 16, 13, 111}, {13, 13, 13, 13},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zal::MulDiv(c.Number, c.Numerator, c.Denominator), c.Expected)
            << c.Number << " * " << c.Numerator << " / " << c.Denominator;
    }
}

TEST(MulDiv, ZeroDivisorAndOverflowGiveMinusOne) {
    const MulDivCase cases[] = {
        {5, 3, 0, -1},
        {0, 0, 0, -1},
        {INT_MAX, 2, 1, -1},
        {65536, 65536, 2, -1}, // exactly 2^31
        {INT_MIN, 1, 1, -1},   // -2^31 is outside the range the system accepts
        {INT_MIN, -1, 1, -1},
        {INT_MIN, INT_MIN, INT_MIN, -1},
        {INT_MAX, 1, 1, INT_MAX},
        {-INT_MAX, 1, 1, -INT_MAX},
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, // the product needs 62 bits; the quotient fits
        {65536, 65536, 4, 1 << 30},
        {INT_MIN, 1, 2, -(1 << 30)},
        {INT_MIN, 1, INT_MIN, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zal::MulDiv(c.Number, c.Numerator, c.Denominator), c.Expected)
            << c.Number << " * " << c.Numerator << " / " << c.Denominator;
    }
}

struct BoundsCase {
    TBounds Before;
    int M;
    TBounds After;
};

TEST(ScaleBounds, ScalesBothEdgesOfTheLayoutControls) {
    const BoundsCase cases[] = {
        {{19, 9, 448, 16}, 16, {23, 11, 552, 20}},    {{159, 47, 169, 28}, 16, {196, 58, 208, 34}},
        {{0, 0, 487, 90}, 16, {0, 0, 599, 111}},      {{19, 9, 448, 16}, 15, {22, 10, 517, 19}},
        {{159, 47, 169, 28}, 15, {183, 54, 195, 33}}, {{19, 9, 448, 16}, 11, {16, 8, 379, 13}},
        {{159, 47, 169, 28}, 20, {245, 72, 260, 43}}, {{159, 47, 169, 28}, 13, {159, 47, 169, 28}},
    };
    for (const auto& c : cases) {
        TBounds after = zal::ScaleBounds(c.Before, c.M, 13);
        EXPECT_EQ(after, c.After) << "N = " << c.M << ", left " << c.Before.Left;
    }
}

TEST(ScaleBounds, ControlsThatTouchStillTouchAfterScaling) {
    // Rounding the width on its own would open or close one-pixel gaps; scaling the far edge cannot.
    for (int m = 9; m <= 26; ++m) {
        for (int left = 0; left < 40; ++left) {
            for (int width = 1; width < 30; ++width) {
                TBounds a = zal::ScaleBounds({left, left, width, width}, m, 13);
                TBounds b = zal::ScaleBounds({left + width, left + width, 7, 7}, m, 13);
                ASSERT_EQ(a.Left + a.Width, b.Left) << m << " " << left << " " << width;
                ASSERT_EQ(a.Top + a.Height, b.Top) << m << " " << left << " " << width;
            }
        }
    }
}

struct FontCase {
    int Height;
    int M;
    int PixelsPerInch;
    int Expected;
};

TEST(ScaleFontHeight, GoesThroughWholePoints) {
    const FontCase cases[] = {
        {-13, 16, 120, -17},                      // 7.8 pt -> 8 pt -> 10 pt -> -16.67 px
        {-13, 16, 96, -16},                       // 9.75 pt -> 10 pt -> 12 pt
        {-13, 13, 96, -13},                       // unchanged at the layout's own text height
        {-11, 13, 96, -11},  {-13, 20, 144, -22}, // 6.5 pt -> 7 pt (half away from zero) -> 11 pt
        {-16, 16, 120, -20},                      // 9.6 pt -> 10 pt -> 12 pt
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zal::ScaleFontHeight(c.Height, c.M, 13, c.PixelsPerInch), c.Expected)
            << c.Height << " at " << c.PixelsPerInch << " ppi, N = " << c.M;
    }
}

struct LayoutFontCase {
    int ScreenPixelsPerInch;
    bool SameFaceAndStyle;
    bool ShiftJis;
    int Expected;
};

TEST(LayoutFontHeight, ScalesOnlyWhenTheLayoutFontDiffersFromTheDefault) {
    const LayoutFontCase cases[] = {
        {96, true, false, -11},   {120, true, false, -14}, // default -13 differs: MulDiv(-11, 120, 96)
        {144, true, false, -17},  {72, true, false, -8},    {95, true, false, -11}, // default is -11 from 95
        {100, true, false, -11},  {103, true, false, -11},  // ... to 103: the window font stays -11
        {104, true, false, -12},  {94, true, false, -11},   // default -10 differs; MulDiv gives -10.77
        {100, false, false, -11}, {110, false, false, -13}, // another face always differs
        {96, false, false, -11},                            // no scaling at the layout's own resolution
        {120, true, true, -14},   {100, true, true, -11},   // Shift-JIS default (9 pt) never equals -11 here
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zal::LayoutFontHeight(-11, 96, c.ScreenPixelsPerInch, c.SameFaceAndStyle, c.ShiftJis),
                  c.Expected)
            << c.ScreenPixelsPerInch << " ppi";
    }
}

TEST(DefaultFontHeight, IsEightPointsOrNineOnShiftJis) {
    EXPECT_EQ(zal::DefaultFontHeight(96, false), -11);
    EXPECT_EQ(zal::DefaultFontHeight(120, false), -13);
    EXPECT_EQ(zal::DefaultFontHeight(144, false), -16);
    EXPECT_EQ(zal::DefaultFontHeight(96, true), -12);
    EXPECT_EQ(zal::DefaultFontHeight(120, true), -15);
}

TEST(CenteredOrigin, TruncatesAndNeverGoesNegative) {
    const struct {
        int Screen;
        int Window;
        int Expected;
    } cases[] = {
        {1280, 493, 393}, {1024, 115, 454}, {1280, 1280, 0}, {492, 493, 0}, // -1 div 2 truncates to 0
        {491, 493, 0},    {400, 493, 0},    {0, 0, 0},       {7, 0, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zal::CenteredOrigin(c.Screen, c.Window), c.Expected) << c.Screen << " - " << c.Window;
    }
}

} // namespace
