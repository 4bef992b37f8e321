// Three-wire power and reactive current sample by sample: line voltages U12,
// U23, U31 with phase currents I1, I2, I3 (or two of each, the third closing
// the triangle and the star).
#include "ampora.h"
#include "frame/resolve.h"
#include "power/per_sample.h"

namespace {

constexpr int kPowerWindowDivisor = 6;   // W = windowSize / 6
constexpr int kCurrentWindowDivisor = 2; // W = windowSize / 2

// The plain formulas of line voltages a = U12, b = U23, c = U31 with the phase currents.
constexpr auto kPlainActive = [](const SixSignals& x, int k) {
    const double a = x.u[0][k], b = x.u[1][k], c = x.u[2][k];
    return ((b - a) * x.i[1][k] + (c - b) * x.i[2][k] + (a - c) * x.i[0][k]) * kThirdFloat;
};
constexpr auto kPlainReactive = [](const SixSignals& x, int k) {
    const double a = x.u[0][k], b = x.u[1][k], c = x.u[2][k];
    return (c * x.i[1][k] + x.i[2][k] * a + b * x.i[0][k]) * kInvSqrt3Float;
};

// The record mean's formulas: the two-wattmeter sum (the instantaneous power of
// a three-wire system), and the line voltages crossed with the currents.
constexpr auto kMeanActive = [](const SixSignals& x, int k) {
    return double(x.u[0][k]) * x.i[0][k] - double(x.u[1][k]) * x.i[2][k];
};
constexpr auto kMeanReactive = [](const SixSignals& x, int k) {
    return (double(x.u[2][k]) * x.i[1][k] + double(x.u[0][k]) * x.i[2][k] + double(x.u[1][k]) * x.i[0][k]) *
           kOneOverSqrt3Float;
};

}  // namespace

void GetThreeLinePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    SixSourcePowerBlock({channels, target, LookupFor("GetThreeLinePEx")}, start, count,
                        windowSize / kPowerWindowDivisor, kPlainActive, kPlainReactive, kLineFramePower);
}

double GetThreeLinePExSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeLinePExSum"), s)) return 0.0;
    return PerSampleMean(target, start, count, SixSamples(s), kMeanActive, kMeanReactive);
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
