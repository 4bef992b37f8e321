// Delta and two-wattmeter power and reactive current sample by sample: three
// voltage/current pairs u1 i1, u2 i2, u3 i3, or the two-wattmeter pairs u1 i1
// (line 1 to 2, line 1) and u2 i3 (line 2 to 3, line 3).
#include "ampora.h"
#include "frame/resolve.h"
#include "power/per_sample.h"

namespace {

constexpr int kPowerWindowDivisor = 3;   // W = windowSize / 3
constexpr int kCurrentWindowDivisor = 2; // W = windowSize / 2

SixSignals SixSamples(ChannelInfo* const (&s)[6]) {
    return {{SampleArray(s[0]), SampleArray(s[2]), SampleArray(s[4])},
            {SampleArray(s[1]), SampleArray(s[3]), SampleArray(s[5])}};
}

// The two-wattmeter samples at k, as doubles: u1, i1, u2, i3.
struct TwoPairs {
    const float* u1;
    const float* i1;
    const float* u2;
    const float* i3;
};

TwoPairs TwoPairSamples(ChannelInfo* const (&s)[4], const float* u1, const float* u2) {
    return {u1, SampleArray(s[1]), u2, SampleArray(s[3])};
}

}  // namespace

void GetThreeAnglePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[6];
    if (!ResolveSources(channels, target, LookupFor("GetThreeAnglePEx"), s)) return;
    if (s[0]->DataKind == kPlainFormulas) {
        // Voltages from SecondaryData; the moving average and RunningSum are not used.
        const float* u1 = SecondaryArray(s[0]);
        const float* u2 = SecondaryArray(s[2]);
        const float* u3 = SecondaryArray(s[4]);
        const float* i1 = SampleArray(s[1]);
        const float* i2 = SampleArray(s[3]);
        const float* i3 = SampleArray(s[5]);
        PlainPowerBlock(
            target, start, count,
            [=](int k) { return double(u2[k]) * i2[k] + double(u1[k]) * i1[k] + double(i3[k]) * u3[k]; },
            [=](int k) {
                const double a = u1[k], b = u2[k], c = u3[k];
                return ((a - b) * i3[k] + (b - c) * i1[k] + (c - a) * i2[k]) * kInvSqrt3Float;
            });
        return;
    }
    AveragedPowerBlock(target, start, count, windowSize / kPowerWindowDivisor, SixSamples(s), DeltaFramePower,
                       true);
}

void GetTwoAnglePEx(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t windowSize) {
    ChannelInfo* s[4];
    if (!ResolveSources(channels, target, LookupFor("GetTwoAnglePEx"), s)) return;
    if (s[0]->DataKind == kPlainFormulas) {
        const TwoPairs x = TwoPairSamples(s, SecondaryArray(s[0]), SecondaryArray(s[2]));
        PlainPowerBlock(
            target, start, count,
            [=](int k) { return double(x.i1[k]) * x.u1[k] - double(x.i3[k]) * x.u2[k]; },
            [=](int k) {
                const double a = x.u1[k], b = x.u2[k];
                return ((a + 2 * b) * x.i1[k] + (2 * a + b) * x.i3[k]) * kInvSqrt3Float;
            });
        return;
    }
    // Both closing members are stored as floats; the triples then go through
    // the line-voltage space-vector steps.
    const FourSignals<true> signals{SampleArray(s[0]), SampleArray(s[1]), SampleArray(s[2]), SampleArray(s[3])};
    AveragedPowerBlock(target, start, count, windowSize / kPowerWindowDivisor, signals, LineFramePower, true);
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
    const SixSignals x = SixSamples(s);
    return PerSampleMean(
        target, start, count,
        [&](int k) {
            return double(x.i[1][k]) * x.u[1][k] + double(x.i[2][k]) * x.u[2][k] + double(x.i[0][k]) * x.u[0][k];
        },
        [&](int k) {
            const double a = x.u[0][k], b = x.u[1][k], c = x.u[2][k];
            return ((a - b) * x.i[2][k] + (c - a) * x.i[1][k] + (b - c) * x.i[0][k]) * kOneOverSqrt3Float;
        });
}

double GetTwoAnglePExSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    ChannelInfo* s[4];
    if (!ResolveSources(channels, target, LookupFor("GetTwoAnglePExSum"), s)) return 0.0;
    const TwoPairs x = TwoPairSamples(s, SampleArray(s[0]), SampleArray(s[2]));
    return PerSampleMean(
        target, start, count, [&](int k) { return double(x.i1[k]) * x.u1[k] - double(x.i3[k]) * x.u2[k]; },
        [&](int k) {
            const double a = x.u1[k], b = x.u2[k];
            return ((2 * a + b) * x.i3[k] + (2 * b + a) * x.i1[k]) * kInvSqrt3Float;
        });
}
