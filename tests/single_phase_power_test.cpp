// Single-phase harmonic power and the shared window steps: the ramp rules and
// the physics of one voltage/current pair, block by block and over a record.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "power/window_walk.h"
#include "support/power_signals.h"

namespace {

using BlockFn = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using RecordFn = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);

struct SinglePhaseExport {
    const char* name;
    BlockFn block;     // block form, or null
    RecordFn record;   // whole-record form, or null
    double factor;     // 1, 3 or sqrt(3)
    bool line;         // fed with a line voltage, turned back by 30°
    bool all;          // harmonics 1 to 21
};

const SinglePhaseExport kExports[] = {
    {"GetP", GetP, nullptr, 1.0, false, false},
    {"GetPAll", GetPAll, GetPAllSum, 1.0, false, true},
    {"Get3PBy1", Get3PBy1, Get3PBy1Sum, 3.0, false, false},
    {"Get3PBy1All", Get3PBy1All, Get3PBy1AllSum, 3.0, false, true},
    {"Get3PBy1Line", Get3PBy1Line, Get3PBy1LineSum, std::sqrt(3.0), true, false},
    {"Get3PBy1LineAll", Get3PBy1LineAll, Get3PBy1LineAllSum, std::sqrt(3.0), true, true},
    {"GetPSum", nullptr, GetPSum, 1.0, false, false},
};

// ---- the shared window steps ----

// Windows of 8 taking 1, 3 and 10. Trailing: windows at offsets 0, 2, 4 write
// up to 12. Leading: windows at positions 0, 10, 12 (the end 14 is none), the
// first value filling the gap after the first window.
TEST(WindowWalk, TrailingAndLeadingRampsOfAnEightSampleWindow) {
    struct Case {
        int count, ramp;   // the ramp's first entry
        bool trailing;
    } const cases[] = {{12, 9, true}, {14, 11, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        std::vector<float> r(c.count + 4, -1.0f);
        std::vector<int> offsets;
        const double values[] = {1.0, 3.0, 10.0};
        const int next = WalkBlock(r.data(), 0, c.count, 8, c.trailing ? kTrailingWalk : kLeadingWalk, [&](int offset) {
            offsets.push_back(offset);
            return values[offsets.size() - 1];
        });
        EXPECT_EQ(offsets.size(), 3u);
        if (c.trailing) {
            EXPECT_EQ(offsets, (std::vector<int>{0, 2, 4}));
            EXPECT_EQ(next, 14);
        }
        for (int i = 0; i < c.ramp; ++i) EXPECT_EQ(r[i], 1.0f) << i;
        EXPECT_EQ(r[c.ramp], 2.0f);       // halfway from 1 to 3
        EXPECT_EQ(r[c.ramp + 1], 2.0f);   // the next ramp starts at the entry before it
        EXPECT_EQ(r[c.ramp + 2], 6.0f);   // halfway from 2 to 10
        EXPECT_EQ(r[c.ramp + 3], -1.0f);
    }
}

TEST(WindowWalk, EarlyStartAnchorsAtZeroAndWritesNothingBefore) {
    std::vector<float> r(10, -1.0f);
    r[1] = 5.0f;
    float* result = r.data() + 1;   // r[0] stands for the memory before the array
    WalkBlock(result, 1, 1, 8, kTrailingWalk, [](int) { return 9.0; });
    EXPECT_EQ(r[0], -1.0f);
    EXPECT_EQ(result[0], 7.0f);   // one step of (9 - 5) / 8 · 4 from the anchor at 0
    EXPECT_EQ(result[1], -1.0f);
}

// ---- physics ----

constexpr int kFft = 256;
constexpr int kLength = 8 * kFft;
constexpr double kU = 230.0, kI = 5.0;

// One voltage/current pair at the fundamental and at the 5th harmonic, with
// phase corrections; alpha is the angle of u·conj(i) after the corrections.
struct PairCase {
    const char* name;
    double u1, i1, alpha1;
    double u5, i5, alpha5;
    double voltageShift, currentShift;
    double currentLag1, currentLag5;   // lags put into the current signal
};

const PairCase kPairCases[] = {
    {"lagging_90", kU, kI, Degrees(90), 0, 0, 0, 0, 0, Degrees(90), 0},
    {"leading_30", kU, kI, Degrees(-30), 0, 0, 0, 0, 0, Degrees(-30), 0},
    // The current's phase correction turns its 5th harmonic by -5·0.1 rad.
    {"fifth_turned_by_shift", kU, 0.0, 0.0, 20.0, 3.0, 0.5, 0.0, 0.1, 0, 0},
    // pi/2 on the voltage: the fundamental by -90°, the 5th by -450°.
    {"voltage_shift_quarter_turn", kU, kI, Degrees(-90), 20.0, 3.0, Degrees(-450), std::acos(-1.0) / 2, 0, 0, 0},
};

// The line exports are fed a line voltage that leads the phase voltage by 30°
// with sqrt(3) its RMS (at every harmonic): they then give what the x3 forms
// give from the phase voltage.
double Expected(const SinglePhaseExport& e, const PairCase& c, uint32_t kind) {
    if (kind != 1 && kind != 2) return 0.0;
    const double factor = e.line ? 3.0 : e.factor;
    auto part = [&](double ui, double alpha) { return factor * ui * (kind == 1 ? std::cos(alpha) : std::sin(alpha)); };
    return part(c.u1 * c.i1, c.alpha1) + (e.all ? part(c.u5 * c.i5, c.alpha5) : 0.0);
}

std::vector<std::vector<float>> PairSignals(const SinglePhaseExport& e, const PairCase& c) {
    const double gain = e.line ? std::sqrt(3.0) : 1.0;
    const double lead = e.line ? Degrees(30) : 0.0;
    return {Signal(kLength, kFft, {{c.u1 * gain, lead}, {c.u5 * gain, lead, 5}}),
            Signal(kLength, kFft, {{c.i1, -c.currentLag1}, {c.i5, -c.currentLag5, 5}})};
}

TEST(SinglePhasePower, PairPhysicsThroughEveryForm) {
    for (const SinglePhaseExport& e : kExports) {
        for (const PairCase& c : kPairCases) {
            for (uint32_t kind : {0u, 1u, 2u, 3u}) {
                SCOPED_TRACE(std::string(e.name) + " " + c.name + " CalcKind " + std::to_string(kind));
                const double want = Expected(e, c, kind);
                PowerHost h(PairSignals(e, c), kLength, kind, 1.0);
                h.sources[0]->PhaseShift = c.voltageShift;
                h.sources[1]->PhaseShift = c.currentShift;
                std::vector<float> work(4 * 64);   // the four work buffers of the reduced transform
                float* b = work.data();
                const double tolerance = kind == 0 || kind == 3 ? 0.0 : 2e-5 * 3 * kU * kI;   // no power: zeros
                if (e.block != nullptr) {
                    e.block(h.List(), h.target, 0, kLength - kFft, kFft, b, b + 64, b + 128, b + 192);
                    for (int i = 0; i < kLength - kFft; ++i)
                        ASSERT_NEAR(h.result[i], want, tolerance) << "position " << i;
                }
                if (e.record != nullptr) {
                    EXPECT_NEAR(e.record(h.List(), h.target, 0, kLength, kFft, b, b + 64, b + 128, b + 192), want, tolerance);
                }
            }
        }
    }
}

// A record's mean is the float sum of the window values it stores (one per
// fftSize positions, at the window's position), rounded after each addition,
// over their count: 64 windows of a signal whose period (61.7 samples) fits no
// window, so every window's value differs and the sum rounds.
TEST(SinglePhasePower, RecordMeanIsTheFloatSumOfItsStoredWindows) {
    constexpr int kWindow = 64, kWindows = 64;
    const std::vector<std::vector<float>> ui = {Signal(kWindow * kWindows, 61.7, {{230.0, 0.3}, {9.0, 1.1, 5}}),
                                                Signal(kWindow * kWindows, 61.7, {{5.0, -0.2}, {0.7, 0.4, 5}})};
    for (const SinglePhaseExport& e : kExports) {
        if (e.record == nullptr) continue;
        SCOPED_TRACE(e.name);
        PowerHost h(ui, kWindow * kWindows);
        std::vector<float> work(4 * 64);
        float* b = work.data();
        const double mean = e.record(h.List(), h.target, 0, kWindow * kWindows, kWindow, b, b + 64, b + 128, b + 192);
        float sum = 0.0f;
        for (int k = 0; k < kWindows; ++k) sum += h.result[k * kWindow];
        EXPECT_EQ(mean, static_cast<double>(sum) / kWindows);
    }
}

}  // namespace
