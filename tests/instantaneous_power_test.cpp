// Per-sample three-wire, delta and two-wattmeter power: balanced-system
// physics, the moving average and its continuity across blocks, CalcKind
// outside the power kinds, record means, and the bytes each call may touch.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/integrity.h"
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

// A host with one source record per signal (ids 1, 2, ...: voltage, current,
// voltage, current, ...) and an unlisted target. On the plain path the voltages
// sit in SecondaryData and SampleData holds a decoy.
struct Rig {
    HostChannels host{0xA5};
    ChannelInfo* target;
    float* out;

    Rig(const std::vector<Samples>& signals, bool plain, uint32_t kind = 1, double scale = 1.0) {
        const std::size_t n = signals[0].size();
        for (std::size_t k = 0; k < signals.size(); ++k) {
            ChannelInfo* c = host.Add(static_cast<uint32_t>(k + 1));
            if (plain && k % 2 == 0) {
                host.Secondary(c, signals[k]);
                host.Samples(c, Samples(n, 1e4f));
            } else {
                host.Samples(c, signals[k]);
            }
            c->DataKind = plain ? 2 : 0;
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

struct ExExport {
    const char* name;
    BlockExport call;
    Wiring wiring;
    bool power;   // the power kinds and a plain path; else the reactive current
};
const ExExport kExExports[] = {
    {"GetThreeLinePEx", GetThreeLinePEx, kLine, true},     {"GetThreeAnglePEx", GetThreeAnglePEx, kPhase, true},
    {"GetTwoAnglePEx", GetTwoAnglePEx, kFour, true},       {"GetThreeLineQIEx", GetThreeLineQIEx, kLine, false},
    {"GetTwoLineQIEx", GetTwoLineQIEx, kFour, false},      {"GetThreeAngleQIEx", GetThreeAngleQIEx, kPhase, false},
};

// Every export on a balanced set gives its textbook value at every position,
// before and after the moving average (the average of a constant is itself):
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
            }
        }
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

// W = 8 over samples 0..19: raw values until the first window is full, then
// every entry the mean of the 8 values ending there; the same curve whether
// the record comes in one call or in blocks.
TEST(InstantaneousPower, MovingAverageOfEightInOneCallAndInBlocks) {
    std::vector<double> v;
    const std::vector<Samples> signals = RampSamples(20, &v);
    Rig whole(signals, false, 1, 2.0), blocks(signals, false, 1, 2.0);
    GetThreeAnglePEx(whole.List(), whole.target, 0, 20, 24);

    GetThreeAnglePEx(blocks.List(), blocks.target, 0, 7, 24);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(blocks.out[k], v[k], 1e-5) << "raw value at " << k;
    EXPECT_EQ(blocks.out[7], -7.0f);
    GetThreeAnglePEx(blocks.List(), blocks.target, 7, 6, 24);
    GetThreeAnglePEx(blocks.List(), blocks.target, 13, 7, 24);

    for (int k = 0; k < 20; ++k) {
        double sum = 0;
        for (int j = std::max(k, 7) - 7; j <= std::max(k, 7); ++j) sum += v[j];
        EXPECT_NEAR(whole.out[k], sum / 8, 1e-5) << "window ending at " << std::max(k, 7);
        EXPECT_EQ(blocks.out[k], whole.out[k]) << "blocks differ at " << k;
    }
    EXPECT_EQ(blocks.target->RunningSum, whole.target->RunningSum);
}

// RunningSum is reset only by a call that processes position 0; a call that
// starts later continues from whatever the record holds.
TEST(InstantaneousPower, RunningSumResetOnlyAtPositionZero) {
    std::vector<double> v;
    Rig rig(RampSamples(12, &v), false, 1, 2.0);
    rig.target->RunningSum = 100.0;
    GetThreeAnglePEx(rig.List(), rig.target, 5, 1, 3);   // W = 1
    EXPECT_NEAR(rig.out[5], 100.0 + v[5] - v[4], 1e-4);
    EXPECT_NEAR(rig.target->RunningSum, 100.0 + v[5] - v[4], 1e-4);
    GetThreeAnglePEx(rig.List(), rig.target, 0, 1, 3);
    EXPECT_NEAR(rig.target->RunningSum, v[0], 1e-5);
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

// Drifting samples, blocks of several lengths, the first from -5: each call
// writes its block's positions from 0 on only (and the first window's entries
// once W - 1 is reached, and RunningSum where it averages), and the blocks
// give the curve of one call bit for bit.
TEST(InstantaneousPower, BlocksJoinAndTouchOnlyTheirPositions) {
    const int n = 200, window = 48;
    for (const ExExport& e : kExExports) {
        for (bool plain : {false, true}) {
            if (plain && !e.power) continue;
            auto s = Balanced(e.wiring);
            for (std::size_t k = 0; k < s.size(); ++k)
                for (int i = 0; i < n; ++i) s[k][i] = static_cast<float>(s[k][i] * (1 + 0.01 * i) + (i * (k + 3) % 17));
            for (auto& x : s) x.resize(n);
            const int w = window / (!e.power ? 2 : e.wiring == kLine ? 6 : 3);
            Rig whole(s, plain, 2), pieces(s, plain, 2);
            e.call(whole.List(), whole.target, 0, n, window);
            for (int start = -5, len = 10; start < n; start += len, len = len * 3 % 37 + 1) {
                const int count = std::min(len, n - start);
                const int first = start < w && w <= start + count ? 0 : std::max(start, 0);
                ByteWatch watch(pieces.host);
                watch.AllowFloats(pieces.out, first, start + count - first);
                if (!plain) AMPORA_ALLOW_FIELD(watch, pieces.target, RunningSum);
                e.call(pieces.List(), pieces.target, start, count, window);
                ASSERT_EQ(watch.Violations(), "") << e.name << (plain ? " plain" : "") << " block at " << start;
            }
            for (int k = 0; k < n; ++k) ASSERT_EQ(pieces.out[k], whole.out[k]) << e.name << (plain ? " plain " : " ") << k;
        }
    }
}

// Record means over whole periods and of constant samples, scaled; the whole
// record forms write nothing.
TEST(InstantaneousPower, RecordMeans) {
    const double p = 3 * kU * kI * std::cos(kPhi), q = 3 * kU * kI * std::sin(kPhi);
    const struct {
        const char* name;
        WholeExport call;
        std::vector<Samples> signals;
        uint32_t kind;
        double expected;
    } cases[] = {
        {"ThreeLinePExSum P", GetThreeLinePExSum, Balanced(kLine), 1, p},
        {"ThreeLinePExSum Q", GetThreeLinePExSum, Balanced(kLine), 2, q},
        {"ThreeAnglePExSum P", GetThreeAnglePExSum, Balanced(kPhase), 1, p},
        {"ThreeAnglePExSum Q", GetThreeAnglePExSum, Balanced(kPhase), 2, q},
        {"TwoAnglePExSum P", GetTwoAnglePExSum, Balanced(kFour), 1, p},
        {"TwoAnglePExSum Q", GetTwoAnglePExSum, Balanced(kFour), 2, q},
        {"ThreeAnglePExSum ones", GetThreeAnglePExSum, std::vector<Samples>(6, Samples(10, 1.0f)), 1, 3.0},
        {"other CalcKind", GetThreeLinePExSum, Balanced(kLine), 7, 0.0},
    };
    for (const auto& c : cases) {
        Rig rig(c.signals, false, c.kind, 1.0);
        const int n = static_cast<int>(c.signals[0].size());
        EXPECT_NEAR(c.call(rig.List(), rig.target, 0, n), c.expected, 1e-4 * std::fabs(c.expected) + 1e-9) << c.name;
        rig.target->Scale = -2.0;
        ByteWatch scaled(rig.host);
        EXPECT_NEAR(c.call(rig.List(), rig.target, 0, n), -2.0 * c.expected, 2e-4 * std::fabs(c.expected) + 1e-9)
            << c.name << " scaled";
        EXPECT_EQ(c.call(rig.List(), rig.target, 0, 0), 0.0) << c.name << " empty";
        // Positions before 0 add nothing; the sum is still divided by count.
        EXPECT_NEAR(c.call(rig.List(), rig.target, -5, n + 5), -2.0 * c.expected * n / (n + 5),
                    2e-4 * std::fabs(c.expected) + 1e-9) << c.name << " from -5";
        EXPECT_EQ(scaled.Violations(), "") << c.name;
    }
}

// Angles on the axis of a pair: a voltage set whose A component is exactly 0
// with B positive sits at pi/2, so a current in phase with it has no reactive part.
TEST(InstantaneousPower, AxisAnglesAndNonFiniteSamples) {
    // u = (0, 1, -1): A = 0, B > 0; i the same shape: in phase, no reactive current.
    Rig rig({{0}, {0}, {1}, {1}, {-1}, {-1}}, false);
    GetThreeAngleQIEx(rig.List(), rig.target, 0, 1, 2);
    EXPECT_NEAR(rig.out[0], 0.0, 1e-7);
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
