// Derived channels: harmonic RMS, angles, line RMS, power factor and apparent
// power, and channel arithmetic. (The three-channel averages and the
// whole-record line RMS are checked against the built-in recording's
// construction by the host's default run.)
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ampora.h"
#include "support/power_signals.h"

namespace {

// A harmonic of RMS 5 at 2 cycles per window of 64, under a fundamental of 100.
struct HarmonicHost : PowerHost {
    static constexpr int kWindow = 64;
    std::vector<float> re = std::vector<float>(kWindow), im = std::vector<float>(kWindow);

    HarmonicHost(int n, float order, int resultLength)
        : PowerHost({Signal(n, kWindow, {{100.0, 0.3}, {5.0, 1.1, 2}})}, resultLength) {
        target->HarmonicOrder = order;
    }
    void Block(int start, int count, int recordEnd, int resultLength) {
        GetHarmonicValue(List(), target, start, count, kWindow, re.data(), im.data(), recordEnd, resultLength);
    }
};

TEST(HarmonicValue, RmsOfTheSelectedOrderAndTheHeldTail) {
    HarmonicHost h(2048, 2.9f, 2100);
    h.Block(0, 2048, 2048, 2100);
    for (int i = 0; i < 2100; ++i) ASSERT_NEAR(h.result[i], 5.0, 2e-4) << "position " << i;
    for (int i = 2032; i < 2100; ++i) ASSERT_EQ(h.result[i], h.result[2031]) << "held from the last ramp entry";

    // Order 0 of a constant is sqrt(2) times its mean.
    HarmonicHost dc(256, 0.0f, 256);
    std::fill(SampleArray(dc.sources[0]), SampleArray(dc.sources[0]) + 256, -2.0f);
    dc.Block(0, 128, 0, 0);
    EXPECT_NEAR(dc.result[100], 2.0 * std::sqrt(2.0), 1e-5);
}

TEST(HarmonicValueSum, OverlappingWindowsOverTheResults) {
    HarmonicHost h(256, 2.0f, 256);
    const double one = GetHarmonicValueSum(h.List(), h.target, 10, 64, 64, h.re.data(), h.im.data());
    EXPECT_EQ(one, h.result[10]);
    EXPECT_NEAR(one, 5.0, 2e-4);
    EXPECT_NEAR(std::hypot(h.re[2], h.im[2]) * 0.7071067932881648, one, 1e-5) << "scaled parts left for the host";
}

TEST(AngleSum, QuadrantsFromTheSummaryRecords) {
    struct Case { double a, b, degrees; };
    for (const Case& c : {Case{1, 1, 45}, Case{-1, 1, 135}, Case{0, 0, -90}, Case{0, 2, 90}, Case{3, -4, -53.1301}}) {
        HostChannels host;
        ChannelInfo* a = host.Add(37);
        ChannelInfo* b = host.Add(38);
        host.Add(1)->SummaryValue = 99.0;   // decoys at the positions SourceByIndex would pick
        host.Add(2)->SummaryValue = 99.0;
        ChannelInfo* t = host.Add(9, false);
        host.SetSources(t, {1, 2}, true);
        a->SummaryValue = c.a;
        b->SummaryValue = c.b;
        const double v = GetAngleSum(host.List(), t, 0, 1000, 100);
        EXPECT_NEAR(v, c.degrees, 1e-4) << c.a << ", " << c.b;
        EXPECT_EQ(t->SummaryValue, v);
        EXPECT_EQ(GetAngleSum(host.List(), t, 0, 99, 100), 0.0) << "no window";
        EXPECT_EQ(t->SummaryValue, 0.0);
    }
}

TEST(AngleToLine, FirstWindowsAndAQuarterOfTheWayPerHop) {
    // Window 8, hop 2: positions 0 to 9 take the value of samples 0..7.
    std::vector<float> ramp(16);
    for (int i = 0; i < 16; ++i) ramp[i] = static_cast<float>(i * i % 7);
    PowerHost small({ramp, std::vector<float>(16, 0.0f), std::vector<float>(16, 0.0f)}, 16);
    std::vector<float> re(8), im(8);
    GetAngleToLine(small.List(), small.target, 0, 12, 0, 8, re.data(), im.data());
    for (int i = 1; i < 10; ++i) EXPECT_EQ(small.result[i], small.result[0]) << i;
    EXPECT_NE(small.result[10], small.result[9]);
    EXPECT_EQ(small.result[12], -7.0f);

    // An amplitude step from RMS 1 to RMS 2 at sample 640, window 64.
    std::vector<float> x = Signal(2048, 64, {{1.0, 0.2}});
    for (int i = 640; i < 2048; ++i) x[i] *= 2.0f;
    PowerHost t({x, std::vector<float>(2048, 0.0f), std::vector<float>(2048, 0.0f)}, 2048 + 16);
    std::vector<float> re64(64), im64(64);
    GetAngleToLine(t.List(), t.target, 0, 2048, 0, 64, re64.data(), im64.data());
    const double v2 = 2.0;
    for (int out = 720; out < 720 + 16 * 12; out += 16) {   // hops whose window lies after the step
        const double before = std::fabs(t.result[out - 1] - v2), after = std::fabs(t.result[out + 15] - v2);
        EXPECT_NEAR(after / before, 0.75, 1e-3) << "hop writing from " << out;
    }
}

// Active power two places and reactive power one place before the target.
TEST(Status, PowerFactorAndApparentPowerFromTheTwoChannelsBeforeTheTarget) {
    struct Case { float p, q, pf, s; };
    for (const Case& c : {Case{3, 4, 0.6f, 5}, Case{-3, 4, -0.6f, 5}, Case{0, 0, 0, 0}}) {
        HostChannels host;
        host.Add(50);
        ChannelInfo* p = host.Add(51);
        ChannelInfo* q = host.Add(52);
        ChannelInfo* t = host.Add(53);
        t->ListIndex = 3;
        t->SourceByIndex = 0;
        host.Results(p, std::vector<float>(16, c.p));
        host.Results(q, std::vector<float>(16, c.q));
        p->SummaryValue = c.p;
        q->SummaryValue = c.q;
        float* out = host.Results(t, 16, -7.0f);
        GetCosStatus(host.List(), t, 10, 5, 12);
        EXPECT_FLOAT_EQ(out[11], c.pf);
        GetPSumStatus(host.List(), t, 10, 5, 12);
        EXPECT_FLOAT_EQ(out[12], c.s);
        EXPECT_NEAR(GetCosStatusSum(host.List(), t), c.pf, 1e-7);
        EXPECT_DOUBLE_EQ(GetPSumStatusSum(host.List(), t), c.s);
    }
}

TEST(ChannelArithmetic, DifferencesAndConverterAngle) {
    HostChannels host;
    ChannelInfo* a = host.Add(7);
    ChannelInfo* b = host.Add(8);
    ChannelInfo* t = host.Add(9, false);
    host.SetSources(t, {7, 8}, true);   // looked up by ChannelId whatever SourceByIndex says
    host.Samples(a, {5, 1, 2});
    host.Samples(b, {9, 4, 7});
    // AC line voltage 100 and -100; DC voltages giving 0°, 60°, 120°, out of range.
    host.Results(a, {100, 100, 100, 100, -100, -100});
    host.Results(b, {135, 67.5, 0, 200, 50, 0});
    float* out = host.Results(t, 6, -7.0f);
    GetReduce(host.List(), t, -2, 5);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{4, 3, 5}));
    GetPWMAngle(host.List(), t, 0, 6);
    const float expected[] = {0, 60, 120, 0, 0, 120};
    for (int n = 0; n < 6; ++n) EXPECT_NEAR(out[n], expected[n], 1e-3) << "position " << n;
    EXPECT_EQ(out[0], 0.0f) << "a DC voltage of 1.35 times the AC voltage is exactly 0°";
}

}  // namespace
