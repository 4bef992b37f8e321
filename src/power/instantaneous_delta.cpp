// Delta and two-wattmeter power and reactive current sample by sample: three
// voltage/current pairs u1 i1, u2 i2, u3 i3, or the two-wattmeter pairs u1 i1
// (line 1 to 2, line 1) and u2 i3 (line 2 to 3, line 3).
#include "ampora.h"
#include "frame/resolve.h"
#include "power/per_sample.h"

namespace {

constexpr int kPowerWindowDivisor = 3;   // W = windowSize / 3
constexpr int kCurrentWindowDivisor = 2; // W = windowSize / 2

// The two-wattmeter samples: u1, i1, u2, i3.
struct TwoPairs {
    const float* u1;
    const float* i1;
    const float* u2;
    const float* i3;
};

TwoPairs TwoPairSamples(ChannelInfo* const (&s)[4], const float* u1, const float* u2) {
    return {u1, SampleArray(s[1]), u2, SampleArray(s[3])};
}

// Three voltage/current pairs: the plain formulas, and the record mean's.
constexpr auto kPlainActive = [](const SixSignals& x, int k) {
    return double(x.u[1][k]) * x.i[1][k] + double(x.u[0][k]) * x.i[0][k] + double(x.i[2][k]) * x.u[2][k];
};
constexpr auto kPlainReactive = [](const SixSignals& x, int k) {
    const double a = x.u[0][k], b = x.u[1][k], c = x.u[2][k];
    return ((a - b) * x.i[2][k] + (b - c) * x.i[0][k] + (c - a) * x.i[1][k]) * kInvSqrt3Float;
};
constexpr auto kMeanActive = [](const SixSignals& x, int k) {
    return double(x.i[1][k]) * x.u[1][k] + double(x.i[2][k]) * x.u[2][k] + double(x.i[0][k]) * x.u[0][k];
};
constexpr auto kMeanReactive = [](const SixSignals& x, int k) {
    const double a = x.u[0][k], b = x.u[1][k], c = x.u[2][k];
    return ((a - b) * x.i[2][k] + (c - a) * x.i[1][k] + (b - c) * x.i[0][k]) * kOneOverSqrt3Float;
};

// Two-wattmeter: pair 1 minus pair 2; the reactive formulas of the plain block
// and of the record mean add their terms in different orders.
constexpr auto kTwoWattmeterActive = [](const TwoPairs& x, int k) {
    return double(x.i1[k]) * x.u1[k] - double(x.i3[k]) * x.u2[k];
};
constexpr auto kTwoWattmeterPlainReactive = [](const TwoPairs& x, int k) {
    const double a = x.u1[k], b = x.u2[k];
    return ((a + 2 * b) * x.i1[k] + (2 * a + b) * x.i3[k]) * kInvSqrt3Float;
};
constexpr auto kTwoWattmeterMeanReactive = [](const TwoPairs& x, int k) {
    const double a = x.u1[k], b = x.u2[k];
    return ((2 * a + b) * x.i3[k] + (2 * b + a) * x.i1[k]) * kInvSqrt3Float;
};

}  // namespace

void GetThreeAnglePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    SixSourcePowerBlock({channels, target, LookupFor("GetThreeAnglePEx")}, start, count,
                        windowSize / kPowerWindowDivisor, kPlainActive, kPlainReactive, kDeltaFramePower);
}

void GetTwoAnglePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[4];
    if (!ResolveSources(channels, target, LookupFor("GetTwoAnglePEx"), s)) return;
    if (s[0]->DataKind == kPlainFormulas) {
        const TwoPairs x = TwoPairSamples(s, SecondaryArray(s[0]), SecondaryArray(s[2]));
        PlainPowerBlock(target, start, count, x, kTwoWattmeterActive, kTwoWattmeterPlainReactive);
        return;
    }
    // Both closing members are stored as floats; the triples then go through
    // the line-voltage space-vector steps.
    const FourSignals<true> signals{SampleArray(s[0]), SampleArray(s[1]), SampleArray(s[2]), SampleArray(s[3])};
    AveragedPowerBlock(target, start, count, windowSize / kPowerWindowDivisor, signals, kLineFramePower, true);
}

void GetThreeAngleQIEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeAngleQIEx"), s)) return;
    AveragedReactiveCurrentBlock(target, start, count, windowSize / kCurrentWindowDivisor, SixSamples(s),
                                 VoltageFrame::Pair);
}

double GetThreeAnglePExSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeAnglePExSum"), s)) return 0.0;
    return PerSampleMean(target, start, count, SixSamples(s), kMeanActive, kMeanReactive);
}

double GetTwoAnglePExSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    ChannelInfo* s[4];
    if (!ResolveSources(channels, target, LookupFor("GetTwoAnglePExSum"), s)) return 0.0;
    const TwoPairs x = TwoPairSamples(s, SampleArray(s[0]), SampleArray(s[2]));
    return PerSampleMean(target, start, count, x, kTwoWattmeterActive, kTwoWattmeterMeanReactive);
}
