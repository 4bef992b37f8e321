// The angle of two whole-record values, and the fundamental RMS of a line
// signal formed from two of three phases.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "ampora.h"
#include "dsp/constants.h"
#include "dsp/phase_angle.h"
#include "frame/arguments.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

// The line a pair selector forms: 0 is phase 0 - phase 1, 1 is phase 1 - phase 2,
// any other value phase 2 - phase 0.
struct LinePair {
    const float* from;
    const float* minus;
};

LinePair SelectPair(ChannelInfo* const (&phases)[3], int pair, Reads reads) {
    const int first = pair == 0 ? 0 : pair == 1 ? 1 : 2;
    const int second = pair == 0 ? 1 : pair == 1 ? 2 : 0;
    return {ValuesOf(phases[first], reads), ValuesOf(phases[second], reads)};
}

// Writes line[i] = from[first + i] - minus[first + i] for i = 0 .. n-1; the
// entries before position 0 are left as they are (nothing there is read).
void FormLine(float* line, LinePair p, int first, int n) {
    for (int64_t i = FirstInRecord(first) - int64_t{first}; i < n; ++i) {
        const float stored = static_cast<float>(static_cast<double>(p.from[first + i]) - p.minus[first + i]);
        line[i] = stored;
    }
}

// The fundamental RMS of the reduced transform of one window, into the
// caller's spectrum buffers.
double FundamentalRms(const float* window, int fftSize, Spectrum spectrum, ScaledParts parts) {
    return WindowBinRms(window, fftSize, spectrum, Transform::Reduced, 1, parts);
}

}  // namespace

// The angle is the same for every window of the record, so its mean over the
// windows is the angle itself (0.0 with no window). A step below 1 has no
// windows to count: the call returns 0.0 and leaves the record as it was.
double GetAngleSum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t length, int32_t fftSize) {
    if (channels == nullptr || fftSize < 1) return 0.0;
    ChannelInfo* ab[2];
    if (!ResolveSources(channels, target, LookupFor("GetAngleSum"), ab)) return 0.0;
    const double angle = RepeatedMean<double>(PhaseAngle(ab[0]->SummaryValue, ab[1]->SummaryValue), length, fftSize);
    const double degrees = angle * kDegreesPerRadian;
    target->SummaryValue = degrees;
    return degrees;
}

// The line signal of the block is formed once into a work array; the window of
// each hop ends at the next result position to write (the first fftSize samples
// until there are that many), and the result closes a quarter of the distance
// per hop. A block shorter than one window, or a window too short to hop,
// returns without writing: its windows would lie outside the block's samples.
void GetAngleToLine(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t pair,
                    int32_t fftSize, float* specRe, float* specIm) {
    if (channels == nullptr || specRe == nullptr || specIm == nullptr) return;
    ChannelInfo* phases[3];
    if (!ResolveSources(channels, target, LookupFor("GetAngleToLine"), phases)) return;
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::Reduced) || count < fftSize) return;
    std::unique_ptr<float[]> line(new (std::nothrow) float[count]());
    if (line == nullptr) return;   // no room for the block's line signal: as a missing source
    FormLine(line.get(), SelectPair(phases, pair, Reads::Samples), start, count);
    float* result = ResultArray(target);
    const int q = fftSize / 4;
    GeometricRamp ramp{start};
    for (int pos = start; pos <= start + count; pos += q) {
        const int rel = ramp.next - start;
        const float* window = line.get() + (rel > fftSize ? rel - fftSize : 0);
        ramp.Write(result, q, fftSize, FundamentalRms(window, fftSize, {specRe, specIm}, ScaledParts::Kept));
    }
}

// The target's results take the line signal over the whole stretch; the mean
// is over whole, non-overlapping windows of it.
double GetAngleToLineSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t length, int32_t pair,
                         int32_t fftSize, float* specRe, float* specIm) {
    if (channels == nullptr || specRe == nullptr || specIm == nullptr) return 0.0;
    ChannelInfo* phases[3];
    if (!ResolveSources(channels, target, LookupFor("GetAngleToLineSum"), phases)) return 0.0;
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::Reduced)) return 0.0;   // as the block form
    float* result = ResultArray(target);
    const int first = FirstInRecord(start);   // the line is not written before position 0
    const int64_t rest = length - (int64_t{first} - start);
    FormLine(result + first, SelectPair(phases, pair, Reads::Results), first, static_cast<int>(std::max<int64_t>(rest, 0)));
    double sum = 0.0;
    int n = 0;
    WalkRecord(start, length, fftSize, fftSize, RecordWindow::BeginsAtPosition, [&](int, int offset) {
        sum += FundamentalRms(result + offset, fftSize, {specRe, specIm}, ScaledParts::StoredBack);
        ++n;
    });
    return n == 0 ? 0.0 : sum / n;
}
