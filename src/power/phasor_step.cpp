#include "power/phasor_step.h"

#include <cmath>

#include "dsp/elementary.h"

namespace {

constexpr double kBinScale = 2.0;   // a bin holds half the amplitude of its cosine

// One part of bin h of a P-point transform as a part of the RMS phasor.
double RmsPart(float binPart, int points) { return static_cast<double>(binPart) * kBinScale / points * kRmsScale; }

// The phasor (a, b) turned by turn, each part rounded to float.
Phasor Turned(PhaseTurn turn, double a, double b) {
    return {static_cast<float>(turn.cosine * a - turn.sine * b), static_cast<float>(turn.sine * a + turn.cosine * b)};
}

Phasor StoreBack(Spectrum s, int h, Phasor p) {
    s.re[h] = p.re;
    s.im[h] = p.im;
    return p;
}

// The transform the step needs: the whole spectrum where the host may read
// it, else only the bins of the set.
int TransformForStep(const float* window, int fftSize, Spectrum s, HarmonicSet set, const PhasorSources& sources) {
    if (sources.use == SpectrumUse::WholeSpectrum) return TransformWindow(window, fftSize, s, Transform::Reduced);
    if (sources.bin) return sources.bin->Of(window, s);
    return TransformBins(window, fftSize, s, set.first, set.last);
}

}  // namespace

PhaseTurn TurnAt(double phaseShift, int harmonic) {
    const double phi = -(phaseShift * harmonic);
    return {Cos(phi), Sin(phi)};
}

SourceTurns TurnsOf(double phaseShift, HarmonicSet set) {
    SourceTurns turns{};
    for (int h = set.first; h <= set.last; ++h) turns.at[h] = TurnAt(phaseShift, h);
    return turns;
}

Phasor StoreRmsPhasor(Spectrum s, int h, int points) {
    const float a = static_cast<float>(RmsPart(s.re[h], points));
    const float b = static_cast<float>(RmsPart(s.im[h], points));
    return StoreBack(s, h, {a, b});
}

double BinRms(Spectrum s, int h, int points, ScaledParts parts) {
    double x = kBinScale * s.re[h] / points;
    double y = kBinScale * s.im[h] / points;
    if (parts == ScaledParts::StoredBack) {
        const float storedX = static_cast<float>(x);
        const float storedY = static_cast<float>(y);
        s.re[h] = storedX;
        s.im[h] = storedY;
        x = storedX;
        y = storedY;
    }
    return std::sqrt(x * x + y * y) * kRmsScale;
}

double WindowBinRms(const float* window, int fftSize, Spectrum s, Transform transform, int h, ScaledParts parts) {
    const int points = TransformWindow(window, fftSize, s, transform);
    return BinRms(s, h, points, parts);
}

void RmsPhasorThenTurned(Spectrum s, int h, int points, PhaseTurn turn) {
    const Phasor stored = StoreRmsPhasor(s, h, points);
    StoreBack(s, h, Turned(turn, stored.re, stored.im));
}

void TurnedRmsPhasor(Spectrum s, int h, int points, PhaseTurn turn) {
    StoreBack(s, h, Turned(turn, RmsPart(s.re[h], points), RmsPart(s.im[h], points)));
}

namespace {

// The phasors of every harmonic of the set of one transformed source, the
// rounding known where it is compiled (so that it is inlined).
template <PhasorRounding Rounding>
void PhasorsOfSource(Spectrum s, HarmonicSet set, int points, const SourceTurns& turns) {
    for (int h = set.first; h <= set.last; ++h) Rounding(s, h, points, turns.at[h]);
}

}  // namespace

PhasorSources PrepareSources(ChannelInfo* const* records, int count, Reads reads, const Spectrum* spectra,
                             HarmonicSet set, int fftSize) {
    PhasorSources s;
    s.count = count;
    if (set.first == set.last) s.bin.emplace(fftSize, Transform::Reduced, set.first);
    for (int k = 0; k < count; ++k) {
        s.values[k] = ValuesOf(records[k], reads);
        s.spectra[k] = spectra[k];
        s.turns[k] = TurnsOf(records[k]->PhaseShift, set);
    }
    return s;
}

void PhasorsOfWindow(const PhasorSources& s, int offset, int fftSize, HarmonicSet set) {
    for (int k = 0; k < s.count; ++k) {
        const int points = TransformForStep(s.values[k] + offset, fftSize, s.spectra[k], set, s);
        if (s.rounding == TurnedRmsPhasor) PhasorsOfSource<TurnedRmsPhasor>(s.spectra[k], set, points, s.turns[k]);
        else PhasorsOfSource<RmsPhasorThenTurned>(s.spectra[k], set, points, s.turns[k]);
    }
}

ScratchSources::ScratchSources(ChannelInfo* const* records, int count, Reads reads, int fftSize, HarmonicSet set)
    : scratch(count, fftSize) {
    if (!scratch.Held()) return;
    Spectrum spectra[kMostSources];
    for (int k = 0; k < count; ++k) spectra[k] = scratch.Of(k);
    sources = PrepareSources(records, count, reads, spectra, set, fftSize);
    sources.use = SpectrumUse::UsedBinsOnly;
}
