// Averages of three channels, and the RMS value of one harmonic of a channel.
#include <algorithm>

#include "ampora.h"
#include "dsp/constants.h"
#include "frame/arguments.h"
#include "power/bin_rms.h"

namespace {

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

// Once the block reaches the end of the recorded data, the last value is held
// to the end of the result array. The walk's last ramp ends a hop (q) before its
// next position, so the hold starts right after that ramp's last entry: every
// held entry is a computed value, never what the host left in the array.
// Position 0 has nothing before it to hold, so the hold never starts below 1.
void HoldAfterTrailingRamps(float* result, WindowSpan block, int next, RecordEnd end) {
    if (block.start + block.count != end.recordEnd) return;
    for (int i = std::max(next - block.fftSize / 4, 1); i < end.resultLength; ++i) result[i] = result[i - 1];
}

// The RMS of harmonic h of the full-length transform; block by block the
// window ending at each quarter-window position, ramped in behind it (a block
// starting between 1 and q anchors at position 0: the walk never reads before it).
constexpr BinRmsRule kHarmonicValue{Transform::FullLength, HarmonicBin,
                                    {RampPlacement::Trailing, BlockEnd::Exclusive, WindowPlacement::EndsAtPosition},
                                    HoldAfterTrailingRamps};

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

void GetHarmonicValue(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                      float* specRe, float* specIm, int32_t recordEnd, int32_t resultLength) {
    BinRmsBlock(kHarmonicValue, {channels, target, LookupFor("GetHarmonicValue")}, {start, count, fftSize},
                {specRe, specIm}, {recordEnd, resultLength});
}

double GetHarmonicValueSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length,
                           int32_t fftSize, float* specRe, float* specIm) {
    return BinRmsRecord(kHarmonicValue, {channels, target, LookupFor("GetHarmonicValueSum")},
                        {start, length, fftSize}, {specRe, specIm});
}
