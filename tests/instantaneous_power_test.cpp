// Per-sample three-wire, delta and two-wattmeter power: balanced-system
// physics and record means, the moving average, CalcKind outside the power kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/power_signals.h"

namespace {

constexpr int kPerPeriod = 64;
constexpr int kLength = 4 * kPerPeriod;
constexpr double kU = 100.0, kI = 5.0;   // phase RMS
const double kPhi = Degrees(30);

using Samples = std::vector<float>;
using BlockExport = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using WholeExport = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);

enum Wiring { kLine, kPhase, kFour };   // U12 I1 U23 I2 U31 I3; Ua Ia Ub Ib Uc Ic; U12 I1 U23 I3

std::vector<Samples> Balanced(Wiring w, double phi = kPhi) {
    auto s = BalancedSystem(kLength, kPerPeriod, kU, kI, phi, w != kPhase);
    if (w == kFour) return {s[0], s[1], s[2], s[5]};
    return s;
}

// One source record per signal (ids 1, 2, ...: voltage, current, voltage,
// current, ...), a decoy in their results, and an unlisted target. On the plain
// path the voltages sit in SecondaryData and SampleData holds the decoy.
struct Rig : PowerHost {
    float* out = result;
    Rig(const std::vector<Samples>& signals, bool plain, uint32_t kind = 1, double scale = 1.0)
        : PowerHost(signals, static_cast<int>(signals[0].size()), kind, scale) {
        const Samples decoy(signals[0].size(), 1e4f);
        for (std::size_t k = 0; k < signals.size(); ++k) {
            host.Results(sources[k], decoy);
            if (plain && k % 2 == 0) {
                host.Secondary(sources[k], signals[k]);
                host.Samples(sources[k], decoy);
            }
            sources[k]->DataKind = plain ? 2 : 0;
        }
        target->RunningSum = 12345.0;
    }
};

struct ExExport {
    const char* name;
    BlockExport call;
    WholeExport mean;   // the record mean, or null
    Wiring wiring;
    bool power;   // the power kinds and a plain path; else the reactive current
};
const ExExport kExExports[] = {
    {"GetThreeLinePEx", GetThreeLinePEx, GetThreeLinePExSum, kLine, true},
    {"GetThreeAnglePEx", GetThreeAnglePEx, GetThreeAnglePExSum, kPhase, true},
    {"GetTwoAnglePEx", GetTwoAnglePEx, GetTwoAnglePExSum, kFour, true},
    {"GetThreeLineQIEx", GetThreeLineQIEx, nullptr, kLine, false},
    {"GetTwoLineQIEx", GetTwoLineQIEx, nullptr, kFour, false},
    {"GetThreeAngleQIEx", GetThreeAngleQIEx, nullptr, kPhase, false},
};

// Every export on a balanced set gives its textbook value at every position,
// before and after the moving average (the average of a constant is itself),
// and so does its record mean, times Scale:
// P = 3·U·I·cos φ, Q = 3·U·I·sin φ, the reactive current I·sin φ.
TEST(InstantaneousPower, BalancedSystemGivesTextbookValues) {
    for (const ExExport& e : kExExports) {
        for (bool plain : {false, true}) {
            for (uint32_t kind : {1u, 2u}) {
                if (!e.power && (plain || kind == 2)) continue;
                SCOPED_TRACE(std::string(e.name) + (plain ? " plain" : "") + " kind " + std::to_string(kind));
                const double want = !e.power ? kI * std::sin(kPhi) : 3 * kU * kI * (kind == 1 ? std::cos(kPhi) : std::sin(kPhi));
                Rig rig(Balanced(e.wiring), plain, e.power ? kind : 0);
                e.call(rig.List(), rig.target, 0, kLength, plain ? 0 : 30);
                for (int k = 0; k < kLength; ++k) ASSERT_NEAR(rig.out[k], want, 2e-5 * want + 1e-4) << k;
                if (e.mean == nullptr || plain) continue;
                rig.target->Scale = -2.0;
                EXPECT_NEAR(e.mean(rig.List(), rig.target, 0, kLength), -2.0 * want, 2e-4 * want);
                // Positions before 0 add nothing; the sum is still divided by count.
                EXPECT_NEAR(e.mean(rig.List(), rig.target, -5, kLength + 5), -2.0 * want * kLength / (kLength + 5),
                            2e-4 * want);
            }
        }
    }
    // A CalcKind other than P or Q has no mean.
    Rig other(Balanced(kLine), false, 7);
    EXPECT_EQ(GetThreeLinePExSum(other.List(), other.target, 0, kLength), 0.0);
}

// The plain path rounds its reactive power to a float before Scale applies:
// with Scale 3 each entry is the float of 3 times the Scale-1 entry.
TEST(InstantaneousPower, PlainReactivePowerIsRoundedBeforeItsScale) {
    for (const ExExport& e : kExExports) {
        if (!e.power) continue;
        Rig one(Balanced(e.wiring), true, 2, 1.0), three(Balanced(e.wiring), true, 2, 3.0);
        e.call(one.List(), one.target, 0, kLength, 0);
        e.call(three.List(), three.target, 0, kLength, 0);
        for (int k = 0; k < kLength; ++k) ASSERT_EQ(three.out[k], static_cast<float>(one.out[k] * 3.0)) << e.name << " " << k;
    }
}

// Sample values chosen through the delta active power: u1 = 3 v, i1 = 0.5 and
// the other phases zero give p = v (times the float 2/3 constant's error).
std::vector<Samples> RampSamples(int n, std::vector<double>* values) {
    Samples u1, i1(n, 0.5f), zero(n, 0.0f);
    for (int k = 0; k < n; ++k) {
        const double v = (k * 7 % 11) - 3.0;
        values->push_back(v * 2.0);   // Scale 2
        u1.push_back(static_cast<float>(3 * v));
    }
    return {u1, i1, zero, zero, zero, zero};
}

// W = 8 over samples 0..19: every entry the mean of the 8 values ending there
// (the first window's for the entries before it); a block ending before the
// first window is full writes the raw values.
TEST(InstantaneousPower, MovingAverageOfEight) {
    std::vector<double> v;
    const std::vector<Samples> signals = RampSamples(20, &v);
    Rig whole(signals, false, 1, 2.0), early(signals, false, 1, 2.0);
    GetThreeAnglePEx(whole.List(), whole.target, 0, 20, 24);
    for (int k = 0; k < 20; ++k) {
        double sum = 0;
        for (int j = std::max(k, 7) - 7; j <= std::max(k, 7); ++j) sum += v[j];
        EXPECT_NEAR(whole.out[k], sum / 8, 1e-5) << "window ending at " << std::max(k, 7);
    }
    GetThreeAnglePEx(early.List(), early.target, 0, 7, 24);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(early.out[k], v[k], 1e-5) << "raw value at " << k;
}

// A CalcKind other than active or reactive: the plain path writes nothing; a
// space-vector path writes nothing before W - 1 and RunningSum / W (0.0) after.
TEST(InstantaneousPower, OtherCalcKindAveragesNothing) {
    for (const ExExport& e : kExExports) {
        if (!e.power) continue;
        Rig plain(Balanced(e.wiring), true, 3);
        e.call(plain.List(), plain.target, 0, kLength, 60);
        for (int k = 0; k < kLength; ++k) ASSERT_EQ(plain.out[k], -7.0f) << e.name << " plain path wrote " << k;

        Rig vectors(Balanced(e.wiring), false, 3);
        const int w = e.call == GetThreeLinePEx ? 60 / 6 : 60 / 3;
        e.call(vectors.List(), vectors.target, 0, w - 1, 60);
        for (int k = 0; k < w - 1; ++k) ASSERT_EQ(vectors.out[k], -7.0f) << e.name << " wrote before W - 1 at " << k;
        e.call(vectors.List(), vectors.target, w - 1, 30 - (w - 1), 60);
        for (int k = 0; k < 30; ++k) ASSERT_EQ(vectors.out[k], 0.0f) << e.name << " mean of nothing at " << k;
        EXPECT_EQ(vectors.target->RunningSum, 0.0);
    }
}

// Angles on the axis of a pair: a voltage set whose A component is exactly 0
// sits at pi/2 (B positive) or 3pi/2 (B negative, and B = 0 too).
TEST(InstantaneousPower, AxisAnglesAndNonFiniteSamples) {
    // A current on the A axis (angle 0) against a voltage at pi/2 (B > 0) and at
    // 3pi/2 (B < 0, and B = 0 too): a quarter turn either way, the full current.
    const double full = 1.5 * 0.8164965816086519 * 0.5773502795520422;
    const struct { Samples u2, u3; double expected; } axis[] = {
        {{1}, {-1}, full}, {{-1}, {1}, -full}, {{0}, {0}, -full}};
    for (const auto& a : axis) {
        Rig r({{0}, {1}, a.u2, {-0.5f}, a.u3, {-0.5f}}, false);
        GetThreeAngleQIEx(r.List(), r.target, 0, 1, 2);
        EXPECT_NEAR(r.out[0], a.expected, 1e-6) << "voltage B " << a.u2[0] - a.u3[0];
    }
    // A NaN sample passes through as NaN and the call ends.
    for (BlockExport call : {GetThreeLineQIEx, GetThreeAngleQIEx}) {
        Rig r({{std::nanf("")}, {1}, {0}, {0}, {0}, {0}}, false);
        call(r.List(), r.target, 0, 1, 2);
        EXPECT_TRUE(std::isnan(r.out[0]));
    }
}

}  // namespace
