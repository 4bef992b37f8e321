// Power averaging: the fundamental rms over windows and over detected periods,
// and the fundamental power of a voltage/current pair, with the bytes each
// call may touch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/integrity.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRms = 0.7071067811865476;

std::vector<float> Sine(int n, double period, double amplitude) {
    std::vector<float> s(n);
    for (int i = 0; i < n; ++i) s[i] = static_cast<float>(amplitude * std::sin(2 * kPi * (i + 0.3) / period));
    return s;
}

// Two sources (ChannelId 1 and 2) with the same signal as samples and results,
// and a target reading them.
struct Rig {
    HostChannels host{0xA5};
    ChannelInfo* u;
    ChannelInfo* i;
    ChannelInfo* t;
    float* r;
    std::vector<float> spectra[4];
    Rig(const std::vector<float>& us, const std::vector<float>& is) {
        u = host.Add(1);
        i = host.Add(2);
        t = host.Add(3, false);
        host.Samples(u, us);
        host.Results(u, us);
        host.Samples(i, is);
        host.Results(i, is);
        r = host.Results(t, us.size(), -7.0f);
        host.SetSources(t, {1, 2});
        u->PhaseShift = i->PhaseShift = 0.0;
        t->Scale = 1.0;
        for (auto& v : spectra) v.assign(1024, 0.0f);
    }
};

// One cycle per 256-sample window: the bin-1 rms is A * 0.7071 everywhere
// once the ramps settle, block by block as over the whole record.
TEST(PowerAverage, WindowedFundamentalRms) {
    const int n = 4096, fft = 256;
    const double a = 3.0;
    Rig g(Sine(n, fft, a), Sine(n, fft, a));
    ByteWatch watch(g.host);
    watch.AllowFloats(g.r, 0, n);
    watch.AllowFloats(g.spectra[0].data(), 0, 1024);
    watch.AllowFloats(g.spectra[1].data(), 0, 1024);
    for (int start = 0; start < n; start += 1024)
        GetPowerAvg(g.host.List(), g.t, start, 1024, fft, g.spectra[0].data(), g.spectra[1].data(), n, n);
    EXPECT_EQ(watch.Violations(), "");
    for (int k : {0, 100, 1000, 2500, n - 1}) EXPECT_NEAR(g.r[k], a * kRms, 1e-3) << k;

    const double mean = GetPowerAvgSum(g.host.List(), g.t, 0, n, fft, g.spectra[0].data(), g.spectra[1].data());
    EXPECT_EQ(watch.Violations(), "");
    EXPECT_NEAR(mean, a * kRms, 1e-3);
    EXPECT_NEAR(g.r[fft / 4 * 3], a * kRms, 1e-3);
    // A record shorter than a window has nothing to average and writes nothing.
    std::vector<float> before(g.r, g.r + n);
    EXPECT_EQ(GetPowerAvgSum(g.host.List(), g.t, 0, fft - 1, fft, g.spectra[0].data(), g.spectra[1].data()), 0.0);
    EXPECT_EQ(std::vector<float>(g.r, g.r + n), before);
    GetPowerAvg(nullptr, g.t, 0, 1024, fft, g.spectra[0].data(), g.spectra[1].data(), n, n);
    EXPECT_EQ(std::vector<float>(g.r, g.r + n), before);
}

// In-phase voltage and current: the active power is Urms * Irms, the reactive
// one about zero, and a kind that is neither writes zeros.
TEST(PowerAverage, FundamentalPowerOfAPair) {
    const int n = 2048, fft = 256;
    Rig g(Sine(n, fft, 230.0 * std::sqrt(2.0)), Sine(n, fft, 5.0 * std::sqrt(2.0)));
    struct Case {
        uint32_t kind;
        double expected, tolerance;
    } cases[] = {{1, 230.0 * 5.0, 0.5}, {2, 0.0, 0.5}, {3, 0.0, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        g.t->CalcKind = c.kind;
        ByteWatch watch(g.host);
        watch.AllowFloats(g.r, 0, n);
        for (auto& v : g.spectra) watch.AllowFloats(v.data(), 0, 1024);
        const double p = GetPSum(g.host.List(), g.t, 0, n, fft, g.spectra[0].data(), g.spectra[1].data(),
                                 g.spectra[2].data(), g.spectra[3].data());
        EXPECT_NEAR(p, c.expected, c.tolerance);
        EXPECT_NEAR(g.r[fft * 3], c.expected, c.tolerance);
        EXPECT_EQ(watch.Violations(), "");
    }
    EXPECT_EQ(GetPSum(g.host.List(), g.t, 0, n, fft, g.spectra[0].data(), nullptr, g.spectra[2].data(),
                      g.spectra[3].data()),
              0.0);
}

// A 50 Hz sine at 10 kS/s: the rms over each detected period; a silent
// channel has no period and averages to 0. Nothing is written.
TEST(PowerAverage, RmsOverDetectedPeriods) {
    const int n = 10000;
    struct Case {
        double amplitude, expected;
    } cases[] = {{2.0, 2.0 * kRms}, {0.0, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amplitude);
        Rig g(Sine(n, 200.0, c.amplitude), Sine(n, 200.0, c.amplitude));
        ByteWatch watch(g.host);
        const double mean = GetPowerAvgSumExtra(g.host.List(), g.t, 0, n, 0, 10.0, n);
        EXPECT_EQ(watch.Violations(), "");
        EXPECT_NEAR(mean, c.expected, 2e-3);
    }
}

}  // namespace

namespace {

// The cycle curves, block by block: a 50 Hz sine of amplitude 2 at 10 kS/s
// reads 2 * 0.7071 once periods run, in blocks of 1000 and of 4096 alike; a
// silent channel reads 0. Only the curve and the tracking fields change.
struct CycleCase {
    const char* name;
    bool self;
    int block;
    double amplitude;
};

class CycleCurve : public testing::TestWithParam<CycleCase> {};

TEST_P(CycleCurve, SteadySineAndSilence) {
    const CycleCase& c = GetParam();
    const int n = 20000;
    Rig g(Sine(n, 200.0, c.amplitude), Sine(n, 200.0, c.amplitude));
    ChannelInfo* t = g.t;
    float* r = g.r;
    if (c.self) {
        g.host.Samples(g.t, Sine(n, 200.0, c.amplitude));
        r = g.host.Results(g.t, n, -7.0f);
        g.host.SetUnit(g.t, "V");
        t->DataKind = 0;
        t->FullScale = 10.0;
    }
    g.u->RatedValue = t->RatedValue = 10.0;
    for (double& slot : t->TrackState) slot = 0.0;
    t->CycleStart = t->PeriodFrequency = 0.0;
    t->PeriodEndIndex = t->LastBlockEnd = t->QuietCount = 0;
    ByteWatch watch(g.host);
    watch.AllowFloats(r, 0, n);
    AMPORA_ALLOW_FIELD(watch, t, TrackState);
    AMPORA_ALLOW_FIELD(watch, t, CycleStart);
    AMPORA_ALLOW_FIELD(watch, t, CycleWriteEnd);
    AMPORA_ALLOW_FIELD(watch, t, PeriodFrequency);
    AMPORA_ALLOW_FIELD(watch, t, PeriodEndIndex);
    AMPORA_ALLOW_FIELD(watch, t, LastBlockEnd);
    AMPORA_ALLOW_FIELD(watch, t, QuietCount);
    for (int start = 0; start < n; start += c.block) {
        const int count = std::min(c.block, n - start);
        if (c.self)
            GetPowerAvgSelf(g.host.List(), t, start, count, 0, 10.0, n, n, 0);
        else
            GetPowerAvgExtra(g.host.List(), t, start, count, 0, 10.0, 0);
    }
    EXPECT_EQ(watch.Violations(), "");
    // A cycle taken in whole samples may be one sample short of the period:
    // a few tenths of a percent.
    for (int k = 1000; k < 19000; k += 37) ASSERT_NEAR(r[k], c.amplitude * kRms, 3e-3 * c.amplitude + 1e-6) << k;
}

INSTANTIATE_TEST_SUITE_P(Blocks, CycleCurve,
                         testing::Values(CycleCase{"source_1000", false, 1000, 2.0},
                                         CycleCase{"source_4096", false, 4096, 2.0},
                                         CycleCase{"source_silent", false, 1000, 0.0},
                                         CycleCase{"self_1000", true, 1000, 2.0},
                                         CycleCase{"self_4096", true, 4096, 2.0},
                                         CycleCase{"self_silent", true, 1000, 0.0}),
                         [](const testing::TestParamInfo<CycleCase>& i) { return std::string(i.param.name); });

}  // namespace
