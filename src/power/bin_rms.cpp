#include "power/bin_rms.h"

namespace {

// The source (source 0) and the bin of a call; false when it is to write
// nothing: a null buffer, a missing source, or no bin at this window length.
bool Open(const BinRmsRule& rule, CallRecords records, int fftSize, Spectrum buffers, ChannelInfo*& source,
          int& bin) {
    if (buffers.re == nullptr || buffers.im == nullptr) return false;
    ChannelInfo* sources[1];
    if (!ResolveSources(records.channels, records.target, records.lookup, sources)) return false;
    source = sources[0];
    bin = rule.binOf(records.target, fftSize);
    return bin >= 0;
}

// The host's work buffers receive the spectrum of the last window: every
// window's bin comes from OneBin (only the butterflies that lead to it, in
// the buffers), and the last window is transformed whole once the walk is done.
// Returns its point count P, or 0 when the walk visited no window.
int TransformLastWindow(const float* window, int fftSize, Spectrum buffers, Transform transform) {
    return window != nullptr ? TransformWindow(window, fftSize, buffers, transform) : 0;
}

}  // namespace

// The value of each window is stored as a float before it is ramped.
void BinRmsBlock(const BinRmsRule& rule, CallRecords records, WindowSpan span, Spectrum buffers, RecordEnd end) {
    ChannelInfo* source;
    int h;
    if (!Open(rule, records, span.fftSize, buffers, source, h)) return;
    const float* samples = SampleArray(source);
    float* result = ResultArray(records.target);
    const OneBin bin(span.fftSize, rule.transform, h);
    const float* lastWindow = nullptr;
    const int next = WalkBlock(result, span.start, span.count, span.fftSize, rule.walk, [&](int offset) {
        lastWindow = samples + offset;
        const int points = bin.Of(lastWindow, buffers);
        const float stored = static_cast<float>(BinRms(buffers, h, points, ScaledParts::Kept));
        return static_cast<double>(stored);
    });
    TransformLastWindow(lastWindow, span.fftSize, buffers, rule.transform);
    rule.hold(result, span, next, end);
}

// Windows overlapping by three quarters over the source's results; each value
// lands at its window's first position, and the scaled bin stays in the work
// buffers, where the host reads it.
double BinRmsRecord(const BinRmsRule& rule, CallRecords records, WindowSpan span, Spectrum buffers) {
    ChannelInfo* source;
    int h;
    if (!Open(rule, records, span.fftSize, buffers, source, h)) return 0.0;
    const float* values = ResultArray(source);
    float* result = ResultArray(records.target);
    FloatMean mean;
    const int hop = span.fftSize / 4;
    const OneBin bin(span.fftSize, rule.transform, h);
    const float* lastWindow = nullptr;
    const auto visit = [&](int position, int offset) {
        lastWindow = values + offset;
        const int points = bin.Of(lastWindow, buffers);
        const float stored = static_cast<float>(BinRms(buffers, h, points, ScaledParts::StoredBack));
        result[position] = stored;
        mean.Add(stored);
    };
    WalkRecord(span.start, span.count, span.fftSize, hop, RecordWindow::BeginsAtPosition, visit);
    const int points = TransformLastWindow(lastWindow, span.fftSize, buffers, rule.transform);
    if (points > 0) BinRms(buffers, h, points, ScaledParts::StoredBack);   // its scaled bin, as the walk left it
    return mean.Value();
}
