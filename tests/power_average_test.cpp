// Power averaging: the fundamental rms over detected periods, from a source and from own samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/power_signals.h"

namespace {

constexpr double kRms = 0.7071067811865476;


// Two sources with the same signal as samples and results, and a target reading them.
struct Rig : PowerHost {
    ChannelInfo *u = sources[0], *i = sources[1], *t = target;
    float* r = result;
    Rig(const std::vector<float>& us, const std::vector<float>& is) : PowerHost({us, is}, us.size()) {}
};

// The cycle curves, block by block: a 50 Hz sine of amplitude 2 at 10 kS/s
// reads 2 * 0.7071 once periods run in blocks of 1000, as does the
// whole-record mean over detected periods; a silent channel has no period
// and reads 0.
struct CycleCase {
    const char* name;
    bool self;
    double amplitude;
};

const CycleCase kCycleCases[] = {{"source", false, 2.0}, {"source_silent", false, 0.0},
                                  {"self", true, 2.0}, {"self_silent", true, 0.0}};

TEST(PowerAverage, CycleCurveOfASteadySineAndOfSilence) {
    const int n = 20000;
    for (const CycleCase& c : kCycleCases) {
        SCOPED_TRACE(c.name);
        Rig g(Sine(n, 200.0, c.amplitude), Sine(n, 200.0, c.amplitude));
        ChannelInfo* t = g.t;
        float* r = g.r;
        if (c.self) {
            g.host.Samples(t, Sine(n, 200.0, c.amplitude));
            r = g.host.Results(t, n, -7.0f);
            g.host.SetUnit(t, "V");
            t->DataKind = 0;
            t->FullScale = 10.0;
        }
        g.u->RatedValue = t->RatedValue = 10.0;
        ZeroTrackingState(t);
        for (int start = 0; start < n; start += 1000) {
            const int count = std::min(1000, n - start);
            if (c.self)
                GetPowerAvgSelf(g.host.List(), t, start, count, 0, 10.0, n, n, 0);
            else
                GetPowerAvgExtra(g.host.List(), t, start, count, 0, 10.0, 0);
        }
        // A cycle taken in whole samples may be one sample short of the period:
        // a few tenths of a percent.
        for (int k = 1000; k < 19000; k += 37) ASSERT_NEAR(r[k], c.amplitude * kRms, 3e-3 * c.amplitude + 1e-6) << k;
        if (c.self) continue;
        // The whole-record mean over the detected periods.
        EXPECT_NEAR(GetPowerAvgSumExtra(g.host.List(), t, 0, n, 0, 10.0, n), c.amplitude * kRms, 2e-3);
        EXPECT_EQ(GetPowerAvgSumExtra(g.host.List(), t, 0, n, INT_MAX, 10.0, n), 0.0) << "margins past the record";
    }
}

// A 10 V sine of 200 samples per period (50 Hz at 10 kS/s, step 12, half a
// millisecond = 5 samples), rising through zero at 100.5, 300.5, ... The
// previous block left a period started at 98.0 with a running frequency and the
// curve at 5.0 up to there. A block from 110 first finds the crossing at about
// 100.5, 2.5 samples after 98.0: it is dropped and clears the frequency, so
// the period 98 .. 300.5 is written flat at its rms. A block from 114 finds
// 300.5 first and ramps the same period from 5.0.
TEST(PowerAverage, CrossingWithinHalfAMillisecondClearsTheFrequency) {
    const int n = 400;
    std::vector<float> s(n);
    for (int k = 0; k < n; ++k) s[k] = static_cast<float>(10.0 * std::sin(2 * kPi * (k - 100.5) / 200.0));
    for (const int start : {110, 114}) {
        SCOPED_TRACE(start);
        Rig g(s, s);
        g.u->RatedValue = 1.0;   // presence above 0.02: every scanned sample is loud
        std::fill(g.r, g.r + 98, 5.0f);
        for (double& slot : g.t->TrackState) slot = 0.0;
        g.t->TrackState[0] = 98.0;
        g.t->PeriodFrequency = 50.0;
        g.t->PeriodEndIndex = 98;
        g.t->QuietCount = 0;
        GetPowerAvgExtra(g.host.List(), g.t, start, 310 - start, 0, 10.0, 0);
        // One whole cycle and the two samples before the crossing, over 202.5.
        const double rms = std::sqrt((100.0 * 10.0 * 10.0 + s[98] * s[98] + s[99] * s[99]) / 202.494);
        EXPECT_NEAR(g.t->PeriodFrequency, 10000.0 / 202.494, 1e-2);
        EXPECT_NEAR(g.t->TrackState[0], 300.494, 1e-3);
        EXPECT_EQ(g.t->PeriodEndIndex, 300u);
        if (start == 110) {
            for (int k = 98; k < 310; ++k) ASSERT_EQ(g.r[k], g.r[98]) << k;
            EXPECT_NEAR(g.r[98], rms, 1e-3);
        } else {
            EXPECT_NEAR(g.r[98], 5.0, 1e-4);
            EXPECT_NEAR(g.r[299], 5.0 + (rms - 5.0) * 201 / 202.494, 1e-3);
            for (int k = 99; k < 300; ++k) ASSERT_GT(g.r[k], g.r[k - 1]) << k;
        }
        EXPECT_EQ(g.r[97], 5.0f);
    }
}

// Own samples of a DataKind-2 channel (SecondaryData; SampleData holds zeros,
// which would read as quiet) at 1 sample per ms: step 1, windows of 200, long
// cycles over 4 samples. A square wave of amplitude a rises at 20, 30 and
// 30 + second: the first long cycle (10 samples, 100 Hz) fills 0 .. 28 with
// its rms a; the second writes from 29 up to its end b = 29 + second.
struct SelfCase {
    const char* name;
    const char* unit;
    double fullScale, scale, amplitude;
    int second;
    // Expected by hand: positions [0, fillEnd) read a, [fillEnd, copyEnd) hold
    // quiet copies at copyLevel (2 % of the range), the rest is left alone.
    int fillEnd, copyEnd;
    double copyLevel, frequency, writeEnd;
};

const SelfCase kSelfCases[] = {
    // 10 Hz after 100 Hz, a jump of 10: quiet copies of the second cycle.
    {"jump", "V", 100, 10, 10, 100, 29, 129, 2.0, 10, 129},
    // 20 Hz after 100 Hz, exactly 5: a ramp from a to a.
    {"factor_of_five", "V", 100, 10, 10, 50, 79, 79, 2.0, 20, 79},
    // A V range of 1000: the copy level is 20 and the ±10 samples pass as they are.
    {"jump_V_wide_range", "V", 1000, 10, 10, 100, 29, 129, 20.0, 10, 129},
    // A ±1 wave: above 0.2 % of the kV range (0.2) it forms cycles; below
    // 0.2 % of the V range (2.0) every window is quiet and copied through.
    {"small_kV", "kV", 1000, 10, 1, 100, 29, 129, 2.0, 10, 129},
    {"small_V_quiet", "V", 1000, 10, 1, 100, 0, 200, 20.0, 0, -1},
};

TEST(PowerAverage, SelfCyclesFrequencyJumpAndRangeOfTheUnit) {
    for (const SelfCase& c : kSelfCases) {
        SCOPED_TRACE(c.name);
        const int n = 200, e2 = 30 + c.second;
        std::vector<float> x(n);
        for (int k = 0; k < n; ++k) {
            const bool high = (k >= 20 && k < 25) || (k >= 30 && k < 30 + c.second / 2) || k >= e2;
            x[k] = static_cast<float>(high ? c.amplitude : -c.amplitude);
        }
        if (c.second == 100) {   // small samples inside the second cycle, crossing nothing
            const double small[] = {0.15, 0.2, 0.25};
            for (int i = 0; i < 3; ++i) x[40 + i] = static_cast<float>(small[i] * c.amplitude);
            x[100] = static_cast<float>(-0.1 * c.amplitude);
        }
        HostChannels host(0xA5);
        ChannelInfo* t = host.Add(1);
        host.Samples(t, std::vector<float>(n, 0.0f));
        host.Secondary(t, x);
        float* r = host.Results(t, n, -7.0f);
        host.SetUnit(t, c.unit);
        t->DataKind = 2;
        t->FullScale = c.fullScale;
        t->Scale = c.scale;
        t->RatedValue = 10.0;
        t->CycleStart = t->PeriodFrequency = 0.0;
        t->LastBlockEnd = 0;
        t->CycleWriteEnd = -1.0;
        // holdMode 1 with fillEnd short of the record: nothing is held at the end.
        GetPowerAvgSelf(host.List(), t, 0, n, 0, 1.0, n, 0, 1);
        for (int k = 0; k < n; ++k) {
            const float copy = std::fabs(x[k]) <= c.copyLevel ? x[k] : 0.0f;
            const float want = k < c.fillEnd ? static_cast<float>(c.amplitude) : k < c.copyEnd ? copy : -7.0f;
            ASSERT_EQ(r[k], want) << k;
        }
        EXPECT_EQ(t->LastBlockEnd, static_cast<uint32_t>(std::max(c.fillEnd, c.copyEnd)));
        EXPECT_EQ(t->PeriodFrequency, c.frequency);
        EXPECT_EQ(t->CycleWriteEnd, c.writeEnd);
    }
}

}  // namespace
