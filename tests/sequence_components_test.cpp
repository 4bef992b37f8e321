// Positive-, negative- and zero-sequence values of three phases, block by block
// and over a whole record.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ampora.h"
#include "support/power_signals.h"

namespace {

using BlockExport = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using SumExport = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);

struct Component {
    const char* name;
    BlockExport block;
    SumExport sum;
};
constexpr Component kPositive{"positive", GetZHPart, GetZXPartSum};
constexpr Component kNegative{"negative", GetFXPart, GetFXPartSum};
constexpr Component kZero{"zero", GetLXPart, GetLXPartSum};

// Phases of RMS 1 at the given angles (degrees), one cycle per period samples.
struct PhaseSet : PowerHost {
    explicit PhaseSet(const double (&a)[3], int period = 64)
        : PowerHost({Phase(a[0], period), Phase(a[1], period), Phase(a[2], period)}, 2048) {}
    static std::vector<float> Phase(double degrees, int period) {
        return Signal(2048, period, {{1.0, Degrees(degrees)}});
    }
};

struct Expectation {
    Component component;
    double angles[3];
    double value;
};

// Balanced sets in both phase orders and an in-phase set; window 128 divides
// the phasors by the 64 points of the reduced transform, the ramp by 128.
TEST(SequenceComponents, BalancedSwappedAndInPhaseSets) {
    const double rms = 0.7071067932881648 * std::sqrt(2.0);
    const Expectation cases[] = {
        {kPositive, {0, -120, -240}, rms}, {kNegative, {0, -120, -240}, 0}, {kZero, {0, -120, -240}, 0},
        {kPositive, {0, -240, -120}, 0},   {kNegative, {0, -240, -120}, rms}, {kZero, {30, 30, 30}, rms},
        {kPositive, {30, 30, 30}, 0},
    };
    for (const Expectation& c : cases) {
        for (int fftSize : {64, 128}) {
            PhaseSet set(c.angles, fftSize);
            c.component.block(set.List(), set.target, 0, 1024, fftSize);
            for (int i = 0; i < 1024 - fftSize / 4; ++i)
                ASSERT_NEAR(set.result[i], c.value, 2e-5) << c.component.name << " position " << i;
            const double mean = c.component.sum(set.List(), set.target, 1000, 2 * fftSize + 10, fftSize);
            EXPECT_NEAR(mean, c.value, 2e-5) << c.component.name;
            EXPECT_EQ(mean, (static_cast<double>(set.result[1000]) + set.result[1000 + fftSize]) / 2);
        }
    }
}

TEST(SequenceComponents, RampsFromTheEntryBeforeTheBlock) {
    // A block from position 0 writes element 0 from its first window alone, then
    // q - 1, then q elements per window; a later block continues from the entry
    // before it and closes 1/fftSize of the gap per element.
    PhaseSet set({0, -120, -240});
    GetZHPart(set.List(), set.target, 0, 64, 64);
    EXPECT_EQ(set.result[48], -7.0f) << "windows at 0, 16, 32, 48 write 0 .. 47";
    set.result[47] = 0.0f;
    GetZHPart(set.List(), set.target, 48, 16, 64);
    const double v = set.result[63] / (16.0 / 64.0);
    for (int i = 1; i <= 16; ++i) EXPECT_NEAR(set.result[47 + i], v * i / 64.0, 1e-6) << i;
    EXPECT_NEAR(v, 1.0, 1e-5);
    // A stretch shorter than a hop writes nothing; shorter than a window, no mean.
    PhaseSet fresh({0, -120, -240});
    GetZHPart(fresh.List(), fresh.target, 0, 15, 64);
    EXPECT_EQ(fresh.result[0], -7.0f);
    EXPECT_EQ(GetZXPartSum(fresh.List(), fresh.target, 0, 63, 64), 0.0);
}

}  // namespace
