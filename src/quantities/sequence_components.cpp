// Positive-, negative- and zero-sequence RMS values of the fundamental of three
// phases: per sample over a block, or as the mean over a whole record.
#include <cmath>

#include "ampora.h"
#include "dsp/constants.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

enum class Sequence { Positive, Negative, Zero };

// |X| / 3 for X = P1 + a·P2 + a²·P3 (positive), P1 + a²·P2 + a·P3 (negative) or
// P1 + P2 + P3 (zero), a the rotation by +120° (-kCos60 + j·kSin60Float),
// written out term by term.
double ComponentOf(const Phasor (&p)[3], Sequence sequence) {
    double re, im;
    switch (sequence) {
        case Sequence::Positive:
            re = p[0].re - kCos60 * p[1].re - kSin60Float * p[1].im - kCos60 * p[2].re + kSin60Float * p[2].im;
            im = p[0].im - kCos60 * p[1].im + kSin60Float * p[1].re - kCos60 * p[2].im - kSin60Float * p[2].re;
            break;
        case Sequence::Negative:
            re = p[0].re - kCos60 * p[1].re + kSin60Float * p[1].im - kCos60 * p[2].re - kSin60Float * p[2].im;
            im = p[0].im - kCos60 * p[1].im - kSin60Float * p[1].re - kCos60 * p[2].im + kSin60Float * p[2].re;
            break;
        default:
            re = static_cast<double>(p[0].re) + p[1].re + p[2].re;
            im = static_cast<double>(p[0].im) + p[1].im + p[2].im;
            break;
    }
    return std::sqrt(re * re + im * im) * kThird;
}

// The three phases of one export and the call's own spectra (nobody else
// reads them, so only bin 1 is computed).
struct Phases {
    const float* values[3];
    SpectrumScratch scratch;
    OneBin fundamental;

    Phases(ChannelInfo* const (&records)[3], Reads reads, int fftSize)
        : scratch(3, fftSize), fundamental(fftSize, Transform::Reduced, 1) {
        for (int k = 0; k < 3; ++k) values[k] = ValuesOf(records[k], reads);
    }

    // The component of the windows beginning at offset, phases in source order.
    double ComponentAt(int offset, Sequence sequence) const {
        Phasor p[3];
        for (int k = 0; k < 3; ++k) {
            const Spectrum s = scratch.Of(k);
            const int points = fundamental.Of(values[k] + offset, s);
            p[k] = StoreRmsPhasor(s, 1, points);
        }
        return ComponentOf(p, sequence);
    }
};

// A power-of-two window shorter than 4 samples would not hop (q = 0): such a
// call returns without writing. The sources must hold the block's windows and the target
// start + count results, as for every block export.
void ComponentBlock(CPtrList* channels, ChannelInfo* target, int start, int count, int fftSize,
                    Sequence sequence, const char* exportName) {
    ChannelInfo* records[3];
    if (!ResolveSources(channels, target, LookupFor(exportName), records)) return;
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::Reduced)) return;
    const int q = fftSize / 4;
    if (count - q < 0) return;
    const Phases phases(records, Reads::Samples, fftSize);
    if (!phases.scratch.Held()) return;
    float* result = ResultArray(target);
    GeometricRamp ramp{start};
    for (int j = 0; j <= count - q; j += q) {
        const int offset = WindowOffset(WindowPlacement::EndsAtPosition, start + j, fftSize);
        ramp.Write(result, q, fftSize, phases.ComponentAt(offset, sequence));
    }
}

// Whole, non-overlapping windows of the sources' results; each value lands at
// its window's first position.
double ComponentSum(CPtrList* channels, ChannelInfo* target, int start, int count, int fftSize, Sequence sequence,
                    const char* exportName) {
    ChannelInfo* records[3];
    if (!ResolveSources(channels, target, LookupFor(exportName), records)) return 0.0;
    // No window fits a record shorter than one: nothing to allocate for.
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::Reduced) || count < fftSize) return 0.0;
    const Phases phases(records, Reads::Results, fftSize);
    if (!phases.scratch.Held()) return 0.0;
    float* result = ResultArray(target);
    FloatMean mean;
    WalkRecord(start, count, fftSize, fftSize, RecordWindow::BeginsAtPosition, [&](int position, int offset) {
        const float stored = static_cast<float>(phases.ComponentAt(offset, sequence));
        result[position] = stored;
        mean.Add(stored);
    });
    return mean.Value();
}

}  // namespace

void GetZHPart(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    ComponentBlock(channels, target, start, count, fftSize, Sequence::Positive, "GetZHPart");
}
void GetFXPart(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    ComponentBlock(channels, target, start, count, fftSize, Sequence::Negative, "GetFXPart");
}
void GetLXPart(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    ComponentBlock(channels, target, start, count, fftSize, Sequence::Zero, "GetLXPart");
}
double GetZXPartSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return ComponentSum(channels, target, start, count, fftSize, Sequence::Positive, "GetZXPartSum");
}
double GetFXPartSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return ComponentSum(channels, target, start, count, fftSize, Sequence::Negative, "GetFXPartSum");
}
double GetLXPartSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    return ComponentSum(channels, target, start, count, fftSize, Sequence::Zero, "GetLXPartSum");
}
