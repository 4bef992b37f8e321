// Three-wire power and reactive current sample by sample: line voltages U12,
// U23, U31 with phase currents I1, I2, I3 (or two of each, the third closing
// the triangle and the star).
#include "ampora.h"
#include "frame/resolve.h"
#include "power/per_sample.h"

namespace {

constexpr int kPowerWindowDivisor = 6;   // W = windowSize / 6
constexpr int kCurrentWindowDivisor = 2; // W = windowSize / 2

SixSignals SixSamples(ChannelInfo* const (&s)[6]) {
    return {{SampleArray(s[0]), SampleArray(s[2]), SampleArray(s[4])},
            {SampleArray(s[1]), SampleArray(s[3]), SampleArray(s[5])}};
}

}  // namespace

void GetThreeLinePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeLinePEx"), s)) return;
    if (s[0]->DataKind == kPlainFormulas) {
        // Voltages from SecondaryData; the moving average and RunningSum are not used.
        const float* u12 = SecondaryArray(s[0]);
        const float* u23 = SecondaryArray(s[2]);
        const float* u31 = SecondaryArray(s[4]);
        const float* i1 = SampleArray(s[1]);
        const float* i2 = SampleArray(s[3]);
        const float* i3 = SampleArray(s[5]);
        PlainPowerBlock(
            target, start, count,
            [=](int k) {
                const double a = u12[k], b = u23[k], c = u31[k];
                return ((b - a) * i2[k] + (c - b) * i3[k] + (a - c) * i1[k]) * kThirdFloat;
            },
            [=](int k) {
                const double a = u12[k], b = u23[k], c = u31[k];
                return (c * i2[k] + i3[k] * a + b * i1[k]) * kInvSqrt3Float;
            });
        return;
    }
    AveragedPowerBlock(target, start, count, windowSize / kPowerWindowDivisor, SixSamples(s), LineFramePower,
                       true);
}

double GetThreeLinePExSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeLinePExSum"), s)) return 0.0;
    const SixSignals x = SixSamples(s);
    return PerSampleMean(
        target, start, count,
        // The two-wattmeter sum: instantaneous power of a three-wire system.
        [&](int k) { return double(x.u[0][k]) * x.i[0][k] - double(x.u[1][k]) * x.i[2][k]; },
        [&](int k) {
            return (double(x.u[2][k]) * x.i[1][k] + double(x.u[0][k]) * x.i[2][k] +
                    double(x.u[1][k]) * x.i[0][k]) *
                   kOneOverSqrt3Float;
        });
}

void GetThreeLineQIEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeLineQIEx"), s)) return;
    AveragedReactiveCurrentBlock(target, start, count, windowSize / kCurrentWindowDivisor, SixSamples(s),
                                 VoltageFrame::Line);
}

void GetTwoLineQIEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[4];
    if (!ResolveSources(channels, target, LookupFor("GetTwoLineQIEx"), s)) return;
    // U31 closes the triangle in double; I2 closes the star as a float.
    const FourSignals<false> signals{SampleArray(s[0]), SampleArray(s[1]), SampleArray(s[2]), SampleArray(s[3])};
    AveragedReactiveCurrentBlock(target, start, count, windowSize / kCurrentWindowDivisor, signals,
                                 VoltageFrame::Line);
}
