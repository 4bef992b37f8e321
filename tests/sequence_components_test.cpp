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

// A negative-sequence set and an in-phase set (the default run holds the
// positive-sequence ones); window 128 divides the phasors by the 64 points of
// the reduced transform, the ramp by 128.
TEST(SequenceComponents, NegativeSequenceAndInPhaseSets) {
    const double rms = 0.7071067932881648 * std::sqrt(2.0);
    const Expectation cases[] = {
        {kPositive, {0, -240, -120}, 0}, {kNegative, {0, -240, -120}, rms},
        {kPositive, {30, 30, 30}, 0},    {kZero, {30, 30, 30}, rms},
    };
    for (const Expectation& c : cases) {
        for (int fftSize : {64, 128}) {
            PhaseSet set(c.angles, fftSize);
            c.component.block(set.List(), set.target, 0, 1024, fftSize);
            for (int i = 0; i < 1024 - fftSize / 4; ++i)
                ASSERT_NEAR(set.result[i], c.value, 2e-5) << c.component.name << " position " << i;
            const double mean = c.component.sum(set.List(), set.target, 1000, 2 * fftSize + 10, fftSize);
            EXPECT_NEAR(mean, c.value, 2e-5) << c.component.name;
        }
    }
}

}  // namespace
