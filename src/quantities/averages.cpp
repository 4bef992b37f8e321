// Averages of three channels, and the RMS value of one harmonic of a channel.
#include <algorithm>

#include "ampora.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

constexpr double kThird = 0.3333333333333333;

// The mean of three sources at every position of the block, from their samples
// or their results; the sum is formed as source 0 + source 2 + source 1.
void AverageBlock(CPtrList* channels, ChannelInfo* target, int start, int count, Reads reads,
                  const char* exportName) {
    ChannelInfo* sources[3];
    if (!ResolveSources(channels, target, LookupFor(exportName), sources)) return;
    const float* s0 = ValuesOf(sources[0], reads);
    const float* s1 = ValuesOf(sources[1], reads);
    const float* s2 = ValuesOf(sources[2], reads);
    float* result = ResultArray(target);
    for (int i = FirstInRecord(start); i < EndOfBlock(start, count); ++i) {
        const float stored = static_cast<float>((static_cast<double>(s0[i]) + s2[i] + s1[i]) * kThird);
        result[i] = stored;
    }
}

// The harmonic order h the target asks for, or -1 when the spectrum of a
// window of fftSize samples has no such bin or the window is too short to
// step. Such a call returns without writing rather than read outside the
// spectrum. The full-length transform takes powers of two only: any other
// window length ends the process here, whatever the order.
int HarmonicBin(const ChannelInfo* target, int fftSize) {
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::FullLength)) return -1;
    const float order = target->HarmonicOrder;
    if (!(order > -1.0f && order < static_cast<float>(fftSize))) return -1;
    const int h = static_cast<int>(order);   // truncated toward zero
    return h < fftSize ? h : -1;
}

// The RMS value of harmonic h of the full-length transform of one window.
double HarmonicRms(const float* window, int fftSize, Spectrum spectrum, int h, ScaledParts parts) {
    const int points = TransformWindow(window, fftSize, spectrum, Transform::FullLength);
    return BinRms(spectrum, h, points, parts);
}

// Once the block reaches the end of the recorded data, the last value is held
// to the end of the result array. The walk's last ramp ends a hop (q) before its
// next position, so the hold starts right after that ramp's last entry: every
// held entry is a computed value, never what the host left in the array.
// Position 0 has nothing before it to hold, so the hold never starts below 1.
void HoldToEnd(float* result, int from, int resultLength) {
    for (int i = std::max(from, 1); i < resultLength; ++i) result[i] = result[i - 1];
}

}  // namespace

void GetAvgValue(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    AverageBlock(channels, target, start, count, Reads::Samples, "GetAvgValue");
}

void GetAvgValueExt(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    AverageBlock(channels, target, start, count, Reads::Results, "GetAvgValueExt");
}

// Also exported as GetAvgValueExtSum: the same routine under both names.
double GetAvgValueSum(CPtrList* channels, ChannelInfo* target) {
    ChannelInfo* s[3];
    if (!ResolveSources(channels, target, LookupFor("GetAvgValueSum"), s)) return 0.0;
    return (s[2]->SummaryValue + s[1]->SummaryValue + s[0]->SummaryValue) * kThird;
}

#if !defined(_WIN32)
extern "C" double GetAvgValueExtSum(CPtrList*, ChannelInfo*)
    __attribute__((alias("GetAvgValueSum"), visibility("default")));
#endif

// Block by block: the window ending at each quarter-window position, ramped in
// behind it; a block starting between 1 and q anchors at position 0 (the walk
// never reads before it).
void GetHarmonicValue(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                      float* specRe, float* specIm, int32_t recordEnd, int32_t resultLength) {
    if (channels == nullptr || specRe == nullptr || specIm == nullptr) return;
    ChannelInfo* source[1];
    if (!ResolveSources(channels, target, LookupFor("GetHarmonicValue"), source)) return;
    const int h = HarmonicBin(target, fftSize);
    if (h < 0) return;
    const float* samples = SampleArray(source[0]);
    constexpr BlockWalk kWalk{RampPlacement::Trailing, BlockEnd::Exclusive, WindowPlacement::EndsAtPosition};
    float* result = ResultArray(target);
    const int next = WalkBlock(result, start, count, fftSize, kWalk, [&](int offset) {
        const float stored = static_cast<float>(HarmonicRms(samples + offset, fftSize, {specRe, specIm}, h,
                                                            ScaledParts::Kept));
        return static_cast<double>(stored);
    });
    if (start + count == recordEnd) HoldToEnd(result, next - fftSize / 4, resultLength);
}

// Windows overlapping by three quarters over the source's results; each value
// lands at its window's first position.
double GetHarmonicValueSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length,
                           int32_t fftSize, float* specRe, float* specIm) {
    if (channels == nullptr || specRe == nullptr || specIm == nullptr) return 0.0;
    ChannelInfo* source[1];
    if (!ResolveSources(channels, target, LookupFor("GetHarmonicValueSum"), source)) return 0.0;
    const int h = HarmonicBin(target, fftSize);
    if (h < 0) return 0.0;
    const float* values = ResultArray(source[0]);
    float* result = ResultArray(target);
    FloatMean mean;
    WalkRecord(start, length, fftSize, fftSize / 4, RecordWindow::BeginsAtPosition, [&](int position, int offset) {
        const float stored = static_cast<float>(HarmonicRms(values + offset, fftSize, {specRe, specIm}, h,
                                                            ScaledParts::StoredBack));
        result[position] = stored;
        mean.Add(stored);
    });
    return mean.Value();
}
