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

}  // namespace

// The value of each window is stored as a float before it is ramped.
void BinRmsBlock(const BinRmsRule& rule, CallRecords records, WindowSpan span, Spectrum buffers, RecordEnd end) {
    ChannelInfo* source;
    int h;
    if (!Open(rule, records, span.fftSize, buffers, source, h)) return;
    const float* samples = SampleArray(source);
    float* result = ResultArray(records.target);
    const int next = WalkBlock(result, span.start, span.count, span.fftSize, rule.walk, [&](int offset) {
        const float stored = static_cast<float>(
            WindowBinRms(samples + offset, span.fftSize, buffers, rule.transform, h, ScaledParts::Kept));
        return static_cast<double>(stored);
    });
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
    const auto visit = [&](int position, int offset) {
        const float stored = static_cast<float>(
            WindowBinRms(values + offset, span.fftSize, buffers, rule.transform, h, ScaledParts::StoredBack));
        result[position] = stored;
        mean.Add(stored);
    };
    WalkRecord(span.start, span.count, span.fftSize, hop, RecordWindow::BeginsAtPosition, visit);
    return mean.Value();
}
