// The transform and the window extremes against known answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "dsp/elementary.h"
#include "dsp/fft.h"
#include "dsp/window_extremes.h"
#include "support/power_signals.h"

namespace {

struct Transformed {
    std::vector<float> re, im;
    int points;
};

Transformed Transform(const std::vector<float>& x, uint32_t reduce) {
    Transformed s{std::vector<float>(x.size(), -1.0f), std::vector<float>(x.size(), -1.0f), 0};
    s.points = Fft(static_cast<int>(x.size()), 0, x.data(), nullptr, s.re.data(), s.im.data(), reduce);
    return s;
}

// A cosine of the given number of cycles over n samples.
std::vector<float> Cycles(int n, double cycles, double amplitude, double phase) {
    return Signal(n, n / cycles, {{amplitude / std::sqrt(2.0), phase}});
}

// The bins computed on demand, one alone or bins 1 .. 21, are those a cosine of
// h cycles makes: P/2 at bin h, 0 beside it; direct windows and reduced.
TEST(Fft, BinsOnDemand) {
    for (int n : {8, 64, 256}) {
        const int points = std::min(n, 64);
        for (int h = 1; h < points / 2; ++h) {
            const std::vector<float> x = Cycles(n, h, 1.0, 0.0);
            std::vector<float> re(n), im(n), low(n), lowIm(n);
            ASSERT_EQ(TransformBins(x.data(), n, {re.data(), im.data()}, h, h), points);
            EXPECT_NEAR(re[h], points / 2.0, 1e-4 * points) << n << " bin " << h;
            EXPECT_NEAR(im[h], 0.0, 1e-4 * points) << n << " bin " << h;
            if (points < 64 || h > 20) continue;
            TransformBins(x.data(), n, {low.data(), lowIm.data()}, 1, 21);
            EXPECT_NEAR(low[h], points / 2.0, 1e-4 * points) << n << " bins 1-21, " << h;
            EXPECT_NEAR(low[h + 1], 0.0, 1e-4 * points) << n << " bins 1-21, " << h + 1;
        }
    }
}

// Bin h alone of the full-length transform is the whole transform's bin, bit
// for bit: low, middle and top orders of short and long windows, on a cosine
// with noise and with a value that is not finite (its NaN runs down the tree).
TEST(Fft, OneBinOfTheFullLengthIsTheWholeTransformsBin) {
    for (int n : {4, 8, 256, 2048}) {
        std::vector<float> x = Cycles(n, 3.3, 100.0, 0.4);
        for (int i = 0; i < n; ++i) x[i] += static_cast<float>((i * 7919 % 113) * 0.01);
        for (bool finite : {true, false}) {
            if (!finite) x[n / 2 + 1] = INFINITY;
            const Transformed whole = Transform(x, 0);
            for (int h : {0, 1, 3, n / 2 - 1, n / 2, n - 1}) {
                std::vector<float> re(n), im(n);
                ASSERT_EQ(OneBin(n, ::Transform::FullLength, h).Of(x.data(), {re.data(), im.data()}), n);
                EXPECT_EQ(std::memcmp(&re[h], &whole.re[h], sizeof(float)), 0) << n << " bin " << h;
                EXPECT_EQ(std::memcmp(&im[h], &whole.im[h], sizeof(float)), 0) << n << " bin " << h;
            }
        }
    }
}

// Above 64 points the transform takes every (size / 64)-th sample, rounded
// down (1000 takes every 15th); 64 with reduce set is the direct mode. A
// signal of 3.3 cycles tells the strides apart.
TEST(Fft, ReducedModeIsTheDirectTransformOfItsStridedSubsample) {
    for (auto [size, stride] : {std::pair{64, 1}, {96, 1}, {128, 2}, {1000, 15}, {1024, 16}, {4096, 64}}) {
        const std::vector<float> x = Cycles(size, 3.3, 1.0, 0.4);
        std::vector<float> sub(64);
        for (int k = 0; k < 64; ++k) sub[k] = x[k * stride];
        const Transformed reduced = Transform(x, 1), direct = Transform(sub, 0);
        ASSERT_EQ(reduced.points, 64) << size;
        for (int k = 0; k < 64; ++k) {
            // The reduced mode keeps its twiddle sines unrounded, so bins agree to float rounding.
            EXPECT_NEAR(reduced.re[k], direct.re[k], 5e-5) << size << " bin " << k;
            EXPECT_NEAR(reduced.im[k], direct.im[k], 5e-5) << size << " bin " << k;
        }
    }
}

TEST(WindowExtremes, StretchesStopAtTheArrayBounds) {
    const std::vector<float> d{3, 1, 4, 1, 5};
    EXPECT_EQ(WindowMax(d.data(), 3, 2, 0, 5), 4.0f);
    EXPECT_EQ(WindowMin(d.data(), 3, 2, 0, 5), 1.0f);
    EXPECT_EQ(WindowMax(d.data(), 3, 2, 1, 5), 5.0f);
    EXPECT_EQ(WindowMin(d.data(), 3, 2, 1, 5), 1.0f);
    // Backward from 2 with width 10 sees only 1 and 0; forward from 3 with total 4 sees nothing past 3.
    EXPECT_EQ(WindowMax(d.data(), 10, 2, 0, 5), 4.0f);
    EXPECT_EQ(WindowMin(d.data(), 10, 1, 0, 5), 1.0f);
    EXPECT_EQ(WindowMax(d.data(), 10, 3, 1, 4), 1.0f);
    EXPECT_EQ(WindowMax(d.data(), 10, 3, 1, 5), 5.0f);
    for (int width : {1, 0, -3}) {
        EXPECT_EQ(WindowMax(d.data(), width, 2, 1, 5), 4.0f);
        EXPECT_EQ(WindowMin(d.data(), width, 2, 0, 5), 4.0f);
    }
}

TEST(WindowExtremes, NullDataAndUnorderedValues) {
    EXPECT_EQ(WindowMax(nullptr, 3, 0, 1, 3), -65535.0f);
    EXPECT_EQ(WindowMin(nullptr, 3, 0, 1, 3), 65535.0f);
    float mx = 9, mn = 9;
    WindowMinMax(nullptr, 3, 0, 1, 3, &mx, &mn);
    EXPECT_EQ(mx, 9.0f);
    EXPECT_EQ(mn, 9.0f);
    const float nan = std::nanf("");
    const std::vector<float> d{1, nan, 2};
    EXPECT_TRUE(std::isnan(WindowMax(d.data(), 2, 0, 1, 3))) << "an unordered value replaces the maximum";
    EXPECT_EQ(WindowMin(d.data(), 2, 0, 1, 3), 1.0f) << "an unordered value keeps the minimum";
    WindowMinMax(d.data(), 3, 0, 1, 3, &mx, &mn);
    EXPECT_EQ(mx, 2.0f);
    EXPECT_EQ(mn, 1.0f);
    // The same rules on stretches long enough to be read four at a time: the
    // maximum of what follows the NaN, and of equal zeros the first one.
    const std::vector<float> longer{1, 9, nan, 2, 3, -1, 0};
    WindowMinMax(longer.data(), 7, 0, 1, 7, &mx, &mn);
    EXPECT_EQ(mx, 3.0f);
    EXPECT_EQ(mn, -1.0f);
    const std::vector<float> zeros{-0.0f, -5, 0.0f, -2, -0.0f, 0.0f};
    WindowMinMax(zeros.data(), 6, 0, 1, 6, &mx, &mn);
    EXPECT_TRUE(mx == 0.0f && std::signbit(mx));
    EXPECT_EQ(mn, -5.0f);
}

// Distance in units in the last place between two finite doubles.
int64_t UlpDistance(double a, double b) {
    int64_t ia, ib;
    std::memcpy(&ia, &a, sizeof ia);
    std::memcpy(&ib, &b, sizeof ib);
    if (ia < 0) ia = INT64_MIN - ia;
    if (ib < 0) ib = INT64_MIN - ib;
    return ia > ib ? ia - ib : ib - ia;
}

// The library's own functions stay within one ulp of the C library's over the
// angles recordings produce (and well beyond), including the reduction edges
// near multiples of pi/2 where a wrong constant would show first.
TEST(Elementary, WithinOneUlpOfTheCLibrary) {
    int64_t worstSin = 0, worstCos = 0, worstAtan = 0;
    for (int k = -200000; k <= 200000; ++k) {
        const double x = k * 0.000731 + static_cast<double>(k) * k * 1e-9;
        worstSin = std::max(worstSin, UlpDistance(Sin(x), std::sin(x)));
        worstCos = std::max(worstCos, UlpDistance(Cos(x), std::cos(x)));
        const double t = k * 1e-4 * (1.0 + std::fabs(k) * 1e-3);
        worstAtan = std::max(worstAtan, UlpDistance(Atan(t), std::atan(t)));
    }
    for (int n = 1; n < 20000; n += 7) {
        const double nearAxis = n * 1.5707963267948966;
        for (double x : {nearAxis, std::nextafter(nearAxis, 0.0), -nearAxis}) {
            if (std::fabs(std::sin(x)) > 1e-300) worstSin = std::max(worstSin, UlpDistance(Sin(x), std::sin(x)));
            if (std::fabs(std::cos(x)) > 1e-300) worstCos = std::max(worstCos, UlpDistance(Cos(x), std::cos(x)));
        }
    }
    EXPECT_LE(worstSin, 1);
    EXPECT_LE(worstCos, 1);
    EXPECT_LE(worstAtan, 1);
}

// The arc cosine within one ulp of the exact value (the C library's long
// double arc cosine stands for it), densest near the ends and the branch
// points at ±1/2, where a result taken through the arc tangent lost two.
TEST(Elementary, ArcCosineWithinOneUlpAndExactAtTheEnds) {
    double worst = 0.0;
    for (int k = -100000; k <= 100000; ++k) {
        for (const double x : {k * 1e-5, std::copysign(1.0 - std::ldexp(1.0 + k * 1e-6, -1 - std::abs(k) % 50), k)}) {
            const long double exact = acosl(static_cast<long double>(x));
            const double rounded = static_cast<double>(exact);
            const double ulp = std::nextafter(rounded, INFINITY) - rounded;
            worst = std::max(worst, static_cast<double>(std::fabs(Acos(x) - exact) / ulp));
        }
    }
    EXPECT_LE(worst, 1.0);
    EXPECT_EQ(Acos(1.0), 0.0);
    EXPECT_EQ(Acos(-1.0), 3.141592653589793);
    EXPECT_EQ(Acos(0.0), 1.5707963267948966);
    EXPECT_TRUE(std::isnan(Acos(1.0000001)));
    EXPECT_TRUE(std::isnan(Acos(NAN)));
}

// Two values side by side give each the bits the one-value functions give it:
// neighbours of a sweep (mostly one branch for both), a value with its
// negation (quadrants of either sign), and pairs whose lanes go different ways: an edge
// value (a reduction of the arc tangent's or the sine's, a multiple of pi/2
// whose reduction needs the later values of pi/2, non-finite values).
TEST(Elementary, TwoLanesGiveTheBitsOfOneValue) {
    const auto bits = [](double v) {
        uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    };
    const double edges[] = {0.0, -0.0, 1e-300, 0.4375, 0.6875, 1.1875, 2.4375, 0.7853981633974483,
                            1.5707963267948966, 4.71238898038469, 1e7, 1e20, INFINITY, -INFINITY, NAN};
    int differing = 0;
    for (int k = -40000; k <= 40000; ++k) {
        const double x = k * 0.000731 + static_cast<double>(k) * k * 1e-8;
        const double edge = edges[(k + 40000) % std::size(edges)];
        for (const auto& [a, b] : {std::pair{x, x + 0.000731}, {x, -x}, {x, edge}, {edge, x}}) {
            const Lanes sin = Sin(Lanes::Of(a, b)), cos = Cos(Lanes::Of(a, b)), atan = Atan(Lanes::Of(a, b));
            differing += bits(sin.Low()) != bits(Sin(a)) || bits(sin.High()) != bits(Sin(b)) ||
                         bits(cos.Low()) != bits(Cos(a)) || bits(cos.High()) != bits(Cos(b)) ||
                         bits(atan.Low()) != bits(Atan(a)) || bits(atan.High()) != bits(Atan(b));
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(Elementary, ExactPointsAndNonFiniteArguments) {
    EXPECT_EQ(Sin(0.0), 0.0);
    EXPECT_TRUE(std::signbit(Sin(-0.0)));
    EXPECT_EQ(Cos(0.0), 1.0);
    EXPECT_EQ(Atan(0.0), 0.0);
    EXPECT_EQ(Atan(1.0), 0.78539816339744828);
    EXPECT_EQ(Atan(INFINITY), 1.5707963267948966);
    EXPECT_EQ(Atan(-1e300), -1.5707963267948966);
    EXPECT_TRUE(std::isnan(Sin(INFINITY)));
    EXPECT_TRUE(std::isnan(Cos(NAN)));
    EXPECT_TRUE(std::isnan(Atan(NAN)));
    // Far beyond any recording's angles the result is still a sine (bounded,
    // folded by 2 pi) rather than garbage.
    EXPECT_NEAR(Sin(1e9 * 6.283185307179586 + 0.5), std::sin(0.5), 1e-6);
}

}  // namespace
