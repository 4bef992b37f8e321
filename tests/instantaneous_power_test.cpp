// Per-sample three-wire, delta and two-wattmeter power: balanced-system
// physics, the moving average and its continuity across blocks, CalcKind
// outside the power kinds, record means, and the bytes each call may touch.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/integrity.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPerPeriod = 64;
constexpr int kLength = 4 * kPerPeriod;

using Signal = std::vector<float>;
using BlockExport = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using WholeExport = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);

// A balanced positive-sequence set: phase voltages of amplitude uAmp, phase
// currents of amplitude iAmp lagging by phi, and the line voltages between them.
struct Balanced {
    Signal ua, ub, uc, ia, ib, ic, u12, u23, u31;
};

Balanced MakeBalanced(double uAmp, double iAmp, double phi) {
    Balanced b;
    for (int k = 0; k < kLength; ++k) {
        const double wt = 2 * kPi * k / kPerPeriod;
        const double u[3] = {uAmp * std::cos(wt), uAmp * std::cos(wt - 2 * kPi / 3), uAmp * std::cos(wt + 2 * kPi / 3)};
        b.ua.push_back(u[0]);
        b.ub.push_back(u[1]);
        b.uc.push_back(u[2]);
        b.ia.push_back(iAmp * std::cos(wt - phi));
        b.ib.push_back(iAmp * std::cos(wt - 2 * kPi / 3 - phi));
        b.ic.push_back(iAmp * std::cos(wt + 2 * kPi / 3 - phi));
        b.u12.push_back(u[0] - u[1]);
        b.u23.push_back(u[1] - u[2]);
        b.u31.push_back(u[2] - u[0]);
    }
    return b;
}

// A host with one source record per signal (ids 1, 2, ...: voltage, current,
// voltage, current, ...) and an unlisted target. On the plain path the voltages
// sit in SecondaryData and SampleData holds a decoy.
struct Rig {
    HostChannels host{0xA5};
    std::vector<ChannelInfo*> sources;
    ChannelInfo* target;
    float* out;

    Rig(const std::vector<Signal>& signals, bool plain, uint32_t kind = 1, double scale = 1.0) {
        const std::size_t n = signals[0].size();
        for (std::size_t k = 0; k < signals.size(); ++k) {
            ChannelInfo* c = host.Add(static_cast<uint32_t>(k + 1));
            const bool voltage = k % 2 == 0;
            if (plain && voltage) {
                host.Secondary(c, signals[k]);
                host.Samples(c, Signal(n, 1e4f));
            } else {
                host.Samples(c, signals[k]);
            }
            c->DataKind = plain ? 2 : 0;
            sources.push_back(c);
        }
        target = host.Add(50, false);
        out = host.Results(target, n, -7.0f);
        if (signals.size() == 6) host.SetSources(target, {1, 2, 3, 4, 5, 6});
        else host.SetSources(target, {1, 2, 3, 4});
        target->CalcKind = kind;
        target->Scale = scale;
        target->RunningSum = 12345.0;
    }
    CPtrList* List() { return host.List(); }
};

void ExpectEveryPosition(const float* out, double expected, const std::string& what) {
    for (int k = 0; k < kLength; ++k)
        ASSERT_NEAR(out[k], expected, 2e-5 * std::fabs(expected) + 1e-4) << what << " at " << k;
}

const double kPhi = kPi / 6;
const double kU = 100.0;  // phase RMS
const double kI = 5.0;    // phase RMS

struct BalancedCase {
    const char* name;
    BlockExport call;
    bool lineWiring;   // line voltages U12, U23, U31 instead of the phase voltages
    bool fourSources;  // U12 I1 U23 I3 (or u12 i1 u23 i3)
    bool plain;
    uint32_t kind;
    int windowSize;
    double expected;
};

const double kSqrt2 = std::sqrt(2.0);
const double kUAmp = kU * kSqrt2;
const double kIAmp = kI * kSqrt2;

const BalancedCase kBalancedCases[] = {
    {"ThreeLinePEx vectors P", GetThreeLinePEx, true, false, false, 1, 60, 3 * kU * kI * std::cos(kPhi)},
    {"ThreeLinePEx vectors Q", GetThreeLinePEx, true, false, false, 2, 6, 3 * kU * kI * std::sin(kPhi)},
    {"ThreeLinePEx plain P", GetThreeLinePEx, true, false, true, 1, 0, 3 * kU * kI * std::cos(kPhi)},
    {"ThreeLinePEx plain Q", GetThreeLinePEx, true, false, true, 2, 0, 3 * kU * kI * std::sin(kPhi)},
    {"ThreeLineQIEx", GetThreeLineQIEx, true, false, false, 0, 2, kI * std::sin(kPhi)},
    {"TwoLineQIEx", GetTwoLineQIEx, true, true, false, 0, 34, kI * std::sin(kPhi)},
    {"ThreeAnglePEx vectors P", GetThreeAnglePEx, false, false, false, 1, 3, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
    {"ThreeAnglePEx vectors Q", GetThreeAnglePEx, false, false, false, 2, 30, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
    {"ThreeAnglePEx plain P", GetThreeAnglePEx, false, false, true, 1, 0, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
    {"ThreeAnglePEx plain Q", GetThreeAnglePEx, false, false, true, 2, 0, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
    {"TwoAnglePEx vectors P", GetTwoAnglePEx, true, true, false, 1, 3, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
    {"TwoAnglePEx vectors Q", GetTwoAnglePEx, true, true, false, 2, 24, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
    {"TwoAnglePEx plain P", GetTwoAnglePEx, true, true, true, 1, 0, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
    {"TwoAnglePEx plain Q", GetTwoAnglePEx, true, true, true, 2, 0, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
    {"ThreeAngleQIEx", GetThreeAngleQIEx, false, false, false, 0, 8, kIAmp / kSqrt2 * std::sin(kPhi)},
};

std::vector<Signal> Wiring(const Balanced& b, bool line, bool four) {
    if (four) return {b.u12, b.ia, b.u23, b.ic};
    if (line) return {b.u12, b.ia, b.u23, b.ib, b.u31, b.ic};
    return {b.ua, b.ia, b.ub, b.ib, b.uc, b.ic};
}

// Every export on a balanced set gives its textbook value at every position,
// before and after the moving average (the average of a constant is itself).
TEST(InstantaneousPower, BalancedSystemGivesTextbookValues) {
    const Balanced b = MakeBalanced(kUAmp, kIAmp, kPhi);
    for (const BalancedCase& c : kBalancedCases) {
        Rig rig(Wiring(b, c.lineWiring, c.fourSources), c.plain, c.kind);
        c.call(rig.List(), rig.target, 0, kLength, c.windowSize);
        ExpectEveryPosition(rig.out, c.expected, c.name);
    }
}

// The four-signal wirings agree with the six-signal ones sample for sample.
TEST(InstantaneousPower, FourSourceWiringsMatchSixSources) {
    const Balanced b = MakeBalanced(kUAmp, kIAmp, 0.4);
    Rig six(Wiring(b, true, false), false);
    Rig four(Wiring(b, true, true), false);
    GetThreeLineQIEx(six.List(), six.target, 0, kLength, 2);
    GetTwoLineQIEx(four.List(), four.target, 0, kLength, 2);
    for (int k = 0; k < kLength; ++k) ASSERT_NEAR(four.out[k], six.out[k], 1e-5) << "reactive current at " << k;

    for (bool plain : {false, true})
        for (uint32_t kind : {1u, 2u}) {
            Rig delta(Wiring(b, false, false), plain, kind);
            Rig two(Wiring(b, true, true), plain, kind);
            GetThreeAnglePEx(delta.List(), delta.target, 0, kLength, 3);
            GetTwoAnglePEx(two.List(), two.target, 0, kLength, 3);
            for (int k = 0; k < kLength; ++k)
                ASSERT_NEAR(two.out[k], delta.out[k], 2e-5 * std::fabs(delta.out[k]) + 1e-3)
                    << (plain ? "plain" : "vectors") << " kind " << kind << " at " << k;
        }
}

// Sample values chosen through the delta active power: u1 = 3 v, i1 = 0.5 and
// the other phases zero give p = v (times the float 2/3 constant's error).
std::vector<Signal> RampSamples(int n, std::vector<double>* values) {
    Signal u1, i1, zero(n, 0.0f);
    for (int k = 0; k < n; ++k) {
        const double v = (k * 7 % 11) - 3.0;
        values->push_back(v * 2.0);  // Scale 2
        u1.push_back(static_cast<float>(3 * v));
        i1.push_back(0.5f);
    }
    return {u1, i1, zero, zero, zero, zero};
}

// W = 8 over samples 0..19: raw values until the first window is full, then
// every entry the mean of the 8 values ending there; the same curve whether
// the record comes in one call or in blocks.
TEST(InstantaneousPower, MovingAverageOfEightInOneCallAndInBlocks) {
    std::vector<double> v;
    const std::vector<Signal> signals = RampSamples(20, &v);
    Rig whole(signals, false, 1, 2.0);
    Rig blocks(signals, false, 1, 2.0);
    GetThreeAnglePEx(whole.List(), whole.target, 0, 20, 24);

    GetThreeAnglePEx(blocks.List(), blocks.target, 0, 7, 24);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(blocks.out[k], v[k], 1e-5) << "raw value at " << k;
    EXPECT_EQ(blocks.out[7], -7.0f);
    GetThreeAnglePEx(blocks.List(), blocks.target, 7, 6, 24);
    GetThreeAnglePEx(blocks.List(), blocks.target, 13, 7, 24);

    double first = 0;
    for (int k = 0; k < 8; ++k) first += v[k];
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(whole.out[k], first / 8, 1e-5) << "first window at " << k;
    for (int k = 8; k < 20; ++k) {
        double sum = 0;
        for (int j = k - 7; j <= k; ++j) sum += v[j];
        EXPECT_NEAR(whole.out[k], sum / 8, 1e-5) << "window ending at " << k;
    }
    for (int k = 0; k < 20; ++k) EXPECT_EQ(blocks.out[k], whole.out[k]) << "blocks differ at " << k;
    EXPECT_EQ(blocks.target->RunningSum, whole.target->RunningSum);
}

// RunningSum is reset only by a call that processes position 0; a call that
// starts later continues from whatever the record holds.
TEST(InstantaneousPower, RunningSumResetOnlyAtPositionZero) {
    std::vector<double> v;
    Rig rig(RampSamples(12, &v), false, 1, 2.0);
    rig.target->RunningSum = 100.0;
    GetThreeAnglePEx(rig.List(), rig.target, 5, 1, 3);  // W = 1
    EXPECT_NEAR(rig.out[5], 100.0 + v[5] - v[4], 1e-4);
    EXPECT_NEAR(rig.target->RunningSum, 100.0 + v[5] - v[4], 1e-4);
    GetThreeAnglePEx(rig.List(), rig.target, 0, 1, 3);
    EXPECT_NEAR(rig.target->RunningSum, v[0], 1e-5);
}

// A CalcKind other than active or reactive: the plain path writes nothing; a
// space-vector path writes nothing before W - 1 and RunningSum / W (0.0) after.
TEST(InstantaneousPower, OtherCalcKindAveragesNothing) {
    const Balanced b = MakeBalanced(kUAmp, kIAmp, kPhi);
    for (BlockExport call : {GetThreeLinePEx, GetThreeAnglePEx, GetTwoAnglePEx}) {
        const bool four = call == GetTwoAnglePEx;
        Rig plain(Wiring(b, call != GetThreeAnglePEx, four), true, 3);
        call(plain.List(), plain.target, 0, kLength, 60);
        for (int k = 0; k < kLength; ++k) ASSERT_EQ(plain.out[k], -7.0f) << "plain path wrote " << k;

        Rig vectors(Wiring(b, call != GetThreeAnglePEx, four), false, 3);
        const int w = call == GetThreeLinePEx ? 60 / 6 : 60 / 3;
        call(vectors.List(), vectors.target, 0, w - 1, 60);
        for (int k = 0; k < w - 1; ++k) ASSERT_EQ(vectors.out[k], -7.0f) << "written before W - 1 at " << k;
        call(vectors.List(), vectors.target, w - 1, 30 - (w - 1), 60);
        for (int k = 0; k < 30; ++k) ASSERT_EQ(vectors.out[k], 0.0f) << "mean of nothing at " << k;
        EXPECT_EQ(vectors.target->RunningSum, 0.0);
    }
}

// Record means over whole periods and of constant samples.
TEST(InstantaneousPower, RecordMeans) {
    const Balanced b = MakeBalanced(kUAmp, kIAmp, kPhi);
    const struct {
        const char* name;
        WholeExport call;
        std::vector<Signal> signals;
        uint32_t kind;
        double expected;
    } cases[] = {
        {"ThreeLinePExSum P", GetThreeLinePExSum, Wiring(b, true, false), 1, 3 * kU * kI * std::cos(kPhi)},
        {"ThreeLinePExSum Q", GetThreeLinePExSum, Wiring(b, true, false), 2, 3 * kU * kI * std::sin(kPhi)},
        {"ThreeAnglePExSum P", GetThreeAnglePExSum, Wiring(b, false, false), 1, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
        {"ThreeAnglePExSum Q", GetThreeAnglePExSum, Wiring(b, false, false), 2, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
        {"TwoAnglePExSum P", GetTwoAnglePExSum, Wiring(b, true, true), 1, 1.5 * kUAmp * kIAmp * std::cos(kPhi)},
        {"TwoAnglePExSum Q", GetTwoAnglePExSum, Wiring(b, true, true), 2, 1.5 * kUAmp * kIAmp * std::sin(kPhi)},
        {"ThreeAnglePExSum ones", GetThreeAnglePExSum, std::vector<Signal>(6, Signal(10, 1.0f)), 1, 3.0},
        {"other CalcKind", GetThreeLinePExSum, Wiring(b, true, false), 7, 0.0},
    };
    for (const auto& c : cases) {
        Rig rig(c.signals, false, c.kind, 1.0);
        const int n = static_cast<int>(c.signals[0].size());
        EXPECT_NEAR(c.call(rig.List(), rig.target, 0, n), c.expected, 1e-4 * std::fabs(c.expected) + 1e-9) << c.name;
        rig.target->Scale = -2.0;
        EXPECT_NEAR(c.call(rig.List(), rig.target, 0, n), -2.0 * c.expected, 2e-4 * std::fabs(c.expected) + 1e-9)
            << c.name << " scaled";
        EXPECT_EQ(c.call(rig.List(), rig.target, 0, 0), 0.0) << c.name << " empty";
        EXPECT_EQ(c.call(rig.List(), rig.target, 0, -3), 0.0) << c.name << " negative";
    }
}

// Angles on the axis of a pair: a voltage set whose A component is exactly 0
// with B positive sits at pi/2, so a current in phase with it has no reactive part.
TEST(InstantaneousPower, AxisAnglesAndNonFiniteSamples) {
    // u = (0, 1, -1): A = 0, B > 0; i the same shape: in phase, no reactive current.
    const std::vector<Signal> onAxis = {{0}, {0}, {1}, {1}, {-1}, {-1}};
    Rig rig(onAxis, false);
    GetThreeAngleQIEx(rig.List(), rig.target, 0, 1, 2);
    EXPECT_NEAR(rig.out[0], 0.0, 1e-7);
    // A current on the A axis (angle 0) against a voltage at pi/2 (B > 0) and at
    // 3pi/2 (B < 0, and B = 0 too): a quarter turn either way, the full current.
    const double full = 1.5 * 0.8164965816086519 * 0.5773502795520422;
    const struct { Signal u2, u3; double expected; } axis[] = {
        {{1}, {-1}, full}, {{-1}, {1}, -full}, {{0}, {0}, -full}};
    for (const auto& a : axis) {
        Rig r({{0}, {1}, a.u2, {-0.5f}, a.u3, {-0.5f}}, false);
        GetThreeAngleQIEx(r.List(), r.target, 0, 1, 2);
        EXPECT_NEAR(r.out[0], a.expected, 1e-6) << "voltage B " << a.u2[0] - a.u3[0];
    }

    // A NaN sample passes through as NaN and the call ends.
    const float nan = std::nanf("");
    const std::vector<Signal> bad = {{nan}, {1}, {0}, {0}, {0}, {0}};
    for (BlockExport call : {GetThreeLineQIEx, GetThreeAngleQIEx}) {
        Rig r(bad, false);
        call(r.List(), r.target, 0, 1, 2);
        EXPECT_TRUE(std::isnan(r.out[0]));
    }
}

// Every export writes only its block of ResultData (and RunningSum on the
// averaging paths), and nothing at all for bad calls.
TEST(InstantaneousPower, RecordIntegrity) {
    const Balanced b = MakeBalanced(kUAmp, kIAmp, kPhi);
    const struct {
        const char* name;
        BlockExport block;
        WholeExport whole;
        bool four;
        bool plain;
    } exports[] = {
        {"GetThreeLinePEx", GetThreeLinePEx, nullptr, false, false},
        {"GetThreeLinePEx plain", GetThreeLinePEx, nullptr, false, true},
        {"GetThreeLineQIEx", GetThreeLineQIEx, nullptr, false, false},
        {"GetTwoLineQIEx", GetTwoLineQIEx, nullptr, true, false},
        {"GetThreeAnglePEx", GetThreeAnglePEx, nullptr, false, false},
        {"GetThreeAnglePEx plain", GetThreeAnglePEx, nullptr, false, true},
        {"GetTwoAnglePEx", GetTwoAnglePEx, nullptr, true, false},
        {"GetTwoAnglePEx plain", GetTwoAnglePEx, nullptr, true, true},
        {"GetThreeAngleQIEx", GetThreeAngleQIEx, nullptr, false, false},
        {"GetThreeLinePExSum", nullptr, GetThreeLinePExSum, false, false},
        {"GetThreeAnglePExSum", nullptr, GetThreeAnglePExSum, false, false},
        {"GetTwoAnglePExSum", nullptr, GetTwoAnglePExSum, true, false},
    };
    constexpr int kStart = 8, kCount = 8, kWindowSize = 12;
    for (const auto& e : exports) {
        for (uint32_t kind : {1u, 2u}) {
            Rig rig(Wiring(b, true, e.four), e.plain, kind);
            ByteWatch watch(rig.host);
            if (e.block) {
                watch.AllowFloats(rig.out, kStart, kCount);
                if (!e.plain) AMPORA_ALLOW_FIELD(watch, rig.target, RunningSum);
                e.block(rig.List(), rig.target, kStart, kCount, kWindowSize);
                EXPECT_TRUE(watch.Changed(rig.out + kStart, kCount * sizeof(float))) << e.name;
            } else {
                EXPECT_NE(e.whole(rig.List(), rig.target, kStart, kCount), 0.0) << e.name;
            }
            EXPECT_EQ(watch.Violations(), "") << e.name << " kind " << kind;
        }

    }
}

}  // namespace
