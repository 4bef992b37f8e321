// Frequency and speed tracking: the trackers block after block, the record's
// crossing queue, and the whole-record means.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "ampora.h"
#include "hostkit/crossing_queue_host.h"
#include "support/integrity.h"
#include "support/power_signals.h"
#include "tracking/crossing_queue.h"

namespace {


// A source record (ChannelId 1) with samples, extremes and full scale, and a
// target with a zeroed tracking state, as a host prepares them for a record.
struct Rig : PowerHost {
    ChannelInfo *src = sources[0], *t = target;
    float* r = result;
    explicit Rig(const std::vector<float>& samples) : PowerHost({samples}, static_cast<int>(samples.size())) {
        host.SetUnit(src, "V");
        src->FullScale = src->RatedValue = 10.0;
        src->Scale = 1.0;
        src->SampleMax = *std::max_element(samples.begin(), samples.end());
        src->SampleMin = *std::min_element(samples.begin(), samples.end());
        ZeroTrackingState(t);
        t->UseSource = 1;
    }
};

enum class Tracker { Three, PerPeriod, Rpm };

void CallBlock(Tracker which, Rig& g, int start, int count, int total) {
    if (which == Tracker::Three) GetFrequenceStatus(g.host.List(), g.t, start, count, 200, 10.0, total, 0);
    if (which == Tracker::PerPeriod) GetFrequenceStatus2(g.host.List(), g.t, start, count, 10.0, total, 0);
    if (which == Tracker::Rpm) GetRPM(g.host.List(), g.t, start, count, 200, 10.0, total, 0);
}

// A sine stepping from 49.5 to 50.5 Hz at 10 kS/s reads each frequency (60
// times it in rev/min) within a few periods of the step, block after block:
// also with an offset (the per-period tracker's positions aim at zero, 5.3
// samples after the level, the period unchanged) and from slots a longer
// recording left (positions past this one, or before its start, are none).
TEST(Frequency, SteadyAndAfterAStep) {
    const int n = 20000;
    std::vector<float> s(n);
    double phase = 0;
    for (int i = 0; i < n; ++i) {
        phase += 2 * kPi * (i < n / 2 ? 49.5 : 50.5) / 10000.0;
        s[i] = static_cast<float>(3.0 * std::sin(phase + 0.1));
    }
    const struct { double offset, stale; } variants[] = {{0.0, 0.0}, {-0.5, 0.0}, {0.0, 32013.6}, {0.0, -3.5}};
    for (const auto& v : variants) {
        std::vector<float> shifted(s);
        for (float& x : shifted) x = static_cast<float>(x + v.offset);
        for (auto [which, unit] : {std::pair{Tracker::Three, 1.0}, {Tracker::PerPeriod, 1.0}, {Tracker::Rpm, 60.0}}) {
            Rig g(shifted);
            for (double& slot : g.t->TrackState) slot = v.stale;
            for (int b = 0; b < n; b += 1000) CallBlock(which, g, b, 1000, n);
            for (int i = 2000; i < 18000; ++i) {
                if (i >= 9000 && i < 11000) continue;   // the step
                ASSERT_NEAR(g.r[i], unit * (i < n / 2 ? 49.5 : 50.5), unit * 0.01)
                    << i << " offset " << v.offset << " slots " << v.stale;
            }
        }
    }
}

// A flat source writes nothing, not even the block end.
TEST(Frequency, FlatSourceWritesNothing) {
    Rig g(std::vector<float>(4000, 0.01f));
    ByteWatch watch(g.host);
    GetFrequenceStatus(g.host.List(), g.t, 0, 4000, 200, 10.0, 4000, 1);
    AMPORA_ALLOW_FIELD(watch, g.src, SampleMax);
    AMPORA_ALLOW_FIELD(watch, g.src, SampleMin);
    EXPECT_EQ(watch.Violations(), "");
}

// A one-sample dip through the level is no new period: just after a rise (the
// skip after a crossing passes over it) and on the crest (the rise back up
// follows a fall within the glitch window).
TEST(Frequency, GlitchRejected) {
    std::vector<float> s = Sine(20000, 200.0);
    for (int p = 0; p < 100; ++p) s[p * 200 + 2] = s[p * 200 + 50] = -0.5f;
    Rig g(s);
    GetFrequenceStatus(g.host.List(), g.t, 0, 20000, 200, 10.0, 20000, 0);
    for (int i = 2000; i < 18000; ++i) ASSERT_NEAR(g.r[i], 50.0, 0.05) << i;
}

// The level-touch rules: a square wave whose low samples sit exactly on the
// level counts for GetRPM but never for GetFrequenceStatus.
TEST(Speed, SquareWaveAndLevelTouch) {
    std::vector<float> s(4000);
    for (int i = 0; i < 4000; ++i) s[i] = (i % 200) < 100 ? 1.0f : -1.0f;
    {
        Rig g(s);
        EXPECT_NEAR(GetRPMSum(g.host.List(), g.t, 0, 4000, 200), 3000.0, 1e-9);
        EXPECT_EQ(GetRPMSum(g.host.List(), g.t, -5, 4005, 200), GetRPMSum(g.host.List(), g.t, 0, 4000, 200))
            << "nothing before position 0";
    }
    std::vector<float> touching(4000);
    for (int i = 0; i < 4000; ++i) touching[i] = (i % 200) < 100 ? 2.0f : 1.0f;
    Rig g(touching);
    g.src->SampleMin = 0.0f;  // level 1.0: the low samples lie on it
    GetRPM(g.host.List(), g.t, 0, 4000, 200, 10.0, 4000, 0);
    EXPECT_NEAR(g.r[2000], 3000.0, 1e-3);
    Rig f(touching);
    f.src->SampleMin = 0.0f;
    GetFrequenceStatus(f.host.List(), f.t, 0, 4000, 200, 10.0, 4000, 0);
    EXPECT_EQ(f.r[2000], 0.0f);  // no crossing: only the zero tail
    // High samples on the level: the rise onto it counts for both.
    for (float& v : touching) v -= 1.0f;
    Rig h(touching);
    h.src->SampleMax = 2.0f;  // level 1.0
    GetFrequenceStatus(h.host.List(), h.t, 0, 4000, 200, 10.0, 4000, 0);
    EXPECT_NEAR(h.r[2000], 50.0, 1e-3);
}

// 60 pulses per revolution, one every 10 samples: 1000 rev/min; while the
// queue still holds initial zeros only the tail is written. (600 crossings
// run round the queue's 181 slots: the hostile test keeps it inside its bytes.)
TEST(Speed, SeveralPulsesPerRevolution) {
    std::vector<float> s(6000);
    for (int i = 0; i < 6000; ++i) s[i] = (i % 10) < 5 ? 1.0f : -1.0f;
    Rig g(s);
    g.t->PulsesPerRev = 60.0;
    HostCrossingQueue queue(g.t, 181);
    GetBSCLRPM(g.host.List(), g.t, 0, 1000, 200, 10.0, 6000, 0);
    EXPECT_EQ(CrossingQueueAt(g.t, 0), 0.0f);  // 100 crossings, 181 slots
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(g.r[i], 0.0f);
    EXPECT_EQ(g.r[1000], -7.0f);
    for (int b = 1000; b < 6000; b += 1000) GetBSCLRPM(g.host.List(), g.t, b, 1000, 200, 10.0, 6000, 0);
    EXPECT_EQ(CrossingQueueLength(g.t), 181u);
    for (int i = 1000; i < 4000; ++i) ASSERT_NEAR(g.r[i], 1000.0, 1e-3) << i;
}

// Whole-record frequency in both modes, and the 2 ms shortest period.
TEST(Frequency, WholeRecordMean) {
    const int n = 10000;
    Rig g(Sine(n, 200.0, 3.0));
    const double mean = GetFrequenceStatusSum(g.host.List(), g.t, 0, n, 10.0, 0, n);
    // A tail margin of INT_MIN holds no tail; at 1e9 samples per millisecond
    // the scan's step outruns the record and every position holds position 0's value.
    EXPECT_EQ(GetFrequenceStatusSum(g.host.List(), g.t, 0, n, 10.0, INT_MIN, n), mean);
    EXPECT_NEAR(GetFrequenceStatusSum(g.host.List(), g.t, 0, n, 1e9, 0, n), g.r[0], 1e-2);
    EXPECT_EQ(g.r[n - 1], g.r[0]);

    // Own data: the target's curve is measured and left as it was.
    Rig own(std::vector<float>(n, 0.0f));
    std::vector<float> curve = Sine(n, 200.0, 3.0);
    std::copy(curve.begin(), curve.end(), own.r);
    own.t->UseSource = 0;
    own.t->FullScale = 10.0;
    own.t->Scale = 1.0;
    own.host.SetUnit(own.t, "V");
    const double ownMean = GetFrequenceStatusSum(own.host.List(), own.t, 0, n, 10.0, 0, n);
    EXPECT_EQ(std::vector<float>(own.r, own.r + n), curve);
    EXPECT_GT(ownMean, 40.0);
    EXPECT_LT(ownMean, 50.1);
}

}  // namespace
