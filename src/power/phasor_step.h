// The harmonic phasor step, shared by every windowed export: a source's window
// is transformed, bin h becomes the RMS phasor of harmonic h (bin h · 2/P ·
// kRmsScale, stored as floats), and the phasor is turned back by the source's
// PhaseShift · h (stored as floats again). The phasor components therefore live
// in the spectrum arrays as 32-bit floats when an export multiplies them.
//
// Pieces, from the smallest up (all stable; new variants are added, not changed):
//   TransformWindow     Fft of one window, reduced 64-point or full length; returns P.
//   TransformFundamentalBin  bin 1 alone of the reduced transform, same bits.
//   TransformLowBins    bins 1 .. n of the reduced transform, same bits.
//   StoreRmsPhasor      bin h scaled to an RMS phasor, stored back (no turn).
//   BinRms              the RMS magnitude of bin h (harmonic-magnitude exports).
//   StoreTurnedPhasor   stored phasor of bin h turned by a PhaseTurn, stored back.
//   StoreTurnedRmsPhasor  the two above in double, only the turned phasor stored.
//   HarmonicPhasorStep  the three above for one source and a set of harmonics.
//   PhasorSources<N>    N sources of one export: value arrays, spectra, turns.
//   PhasorsOfWindow     the step for all N sources at one window offset, in order.
// Turns (cos and sin of -(PhaseShift · h)) are evaluated once per call into
// SourceTurns; the values are the very bits TurnAt would give at each use.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "dsp/fft.h"
#include "frame/channel_info.h"

constexpr double kRmsScale = 0.7071067932881648;   // sqrt(1/2) as float precision rounds it
constexpr int kHighestHarmonic = 21;

// The harmonic orders whose terms an export adds up.
struct HarmonicSet {
    int first;
    int last;
};
constexpr HarmonicSet kFundamentalOnly{1, 1};
constexpr HarmonicSet kHarmonicsOneToTwentyOne{1, kHighestHarmonic};

// Which transform a window gets: the 64-point subsample of the power exports, or
// the full length that the harmonic-magnitude exports need for high orders.
enum class Transform : uint32_t { FullLength = 0, Reduced = 1 };

// Whether an export can walk windows of fftSize samples with this transform.
// A length the transform refuses (not a power of two where it takes every
// point: 0, 1, 3 and negative lengths too) ends the process here with the
// transform's message, once the call's sources have resolved and before a work
// buffer is sized or a hop taken from it: the first window would end it the
// same way. A power of two below the export's minimum returns false, and the
// call returns without writing.
inline bool UsableWindow(int fftSize, int minimum, Transform transform) {
    CheckFftSize(fftSize, static_cast<uint32_t>(transform));
    return fftSize >= minimum;
}

// One source's spectrum: caller-supplied work buffers or the call's own scratch.
struct Spectrum {
    float* re;
    float* im;
};

// A phasor as it is stored in a spectrum.
struct Phasor {
    float re;
    float im;
};

inline Phasor PhasorAt(Spectrum s, int h) { return {s.re[h], s.im[h]}; }

// cos and sin of the turn -(phaseShift · h) of one source at harmonic h.
struct PhaseTurn {
    double cosine;
    double sine;
};
PhaseTurn TurnAt(double phaseShift, int harmonic);

// A source's turns for the harmonics of a set, indexed by the harmonic order.
struct SourceTurns {
    PhaseTurn at[kHighestHarmonic + 1];
};
SourceTurns TurnsOf(double phaseShift, HarmonicSet set);

// Fft of the fftSize values from window on (forward, real input); returns the
// point count P: fftSize, or 64 when reduced and fftSize is above 64.
int TransformWindow(const float* window, int fftSize, Spectrum s, Transform transform);

// Bin 1 alone of the same transform, bit for bit what TransformWindow leaves in
// re[1] and im[1], computed with only the butterflies that lead to it; the other
// entries of the spectrum are not written. For spectra nobody else reads.
int TransformFundamentalBin(const float* window, int fftSize, Spectrum s);

// Bins 1 .. lastBin of the same transform, bit for bit (lastBin below 32): above
// 64 samples the last stage skips what those bins do not need; the other
// entries hold intermediate values. For spectra nobody else reads.
int TransformLowBins(const float* window, int fftSize, Spectrum s, int lastBin);

// Bin h of a transformed spectrum of P points becomes the RMS phasor, stored back.
Phasor StoreRmsPhasor(Spectrum s, int h, int points);

// The RMS value of harmonic h of a transformed spectrum of P points,
// |2·bin/P| · kRmsScale. The whole-record magnitude exports leave the scaled
// values 2·bin/P in the spectrum for the host (StoredBack) and take the
// magnitude of those stored floats; the block exports keep them unrounded.
enum class ScaledParts { Kept, StoredBack };
double BinRms(Spectrum s, int h, int points, ScaledParts parts);

// The stored phasor of bin h turned by turn, stored back.
Phasor StoreTurnedPhasor(Spectrum s, int h, PhaseTurn turn);

// Bin h as the RMS phasor turned by turn, both steps in double and only the
// turned phasor stored (the whole-record fundamental power rounds once).
Phasor StoreTurnedRmsPhasor(Spectrum s, int h, int points, PhaseTurn turn);

// Whether a spectrum must hold the whole transform (the caller's work buffers,
// which the host may read) or only the bins the export uses (the call's own).
enum class SpectrumUse { WholeSpectrum, UsedBinsOnly };

// The whole step for one source: reduced transform, then for each h of the set
// the RMS phasor and its turn. Bins outside the set keep the transform's values
// (with UsedBinsOnly they may hold anything: only the set's bins are computed).
void HarmonicPhasorStep(const float* window, int fftSize, Spectrum s, HarmonicSet set,
                        const SourceTurns& turns, SpectrumUse use = SpectrumUse::WholeSpectrum);

// The sources of one windowed export, ready for the phasor step.
template <int N>
struct PhasorSources {
    const float* values[N];
    Spectrum spectra[N];
    SourceTurns turns[N];
    SpectrumUse use = SpectrumUse::WholeSpectrum;
};

template <int N>
PhasorSources<N> PrepareSources(ChannelInfo* const (&records)[N], Reads reads, const Spectrum (&spectra)[N],
                                HarmonicSet set) {
    PhasorSources<N> s;
    for (int k = 0; k < N; ++k) {
        s.values[k] = ValuesOf(records[k], reads);
        s.spectra[k] = spectra[k];
        s.turns[k] = TurnsOf(records[k]->PhaseShift, set);
    }
    return s;
}

// The phasor step for every source, in source order, on the window at offset.
template <int N>
void PhasorsOfWindow(PhasorSources<N>& s, int offset, int fftSize, HarmonicSet set) {
    for (int k = 0; k < N; ++k)
        HarmonicPhasorStep(s.values[k] + offset, fftSize, s.spectra[k], set, s.turns[k], s.use);
}

// The call's own spectra: two float arrays of fftSize elements per source, held
// for the duration of one call (one allocation, released on return). A window
// too long for the memory (or for the address space) leaves it empty: Held()
// is false and the export returns as on a missing source, no exception.
class SpectrumScratch {
public:
    SpectrumScratch(int sources, int fftSize) : fftSize_(fftSize), data_(Allocate(sources, fftSize)) {}
    bool Held() const { return data_ != nullptr; }
    Spectrum Of(int k) const {
        float* re = data_.get() + 2 * static_cast<std::size_t>(k) * fftSize_;
        return {re, re + fftSize_};
    }
    template <int N>
    void All(Spectrum (&out)[N]) const {
        for (int k = 0; k < N; ++k) out[k] = Of(k);
    }

private:
    static float* Allocate(int sources, int fftSize) {
        const uint64_t elements = 2 * static_cast<uint64_t>(sources) * static_cast<uint64_t>(fftSize);
        if (fftSize < 1 || elements > std::numeric_limits<std::size_t>::max() / sizeof(float)) return nullptr;
        return new (std::nothrow) float[static_cast<std::size_t>(elements)];
    }
    int fftSize_;
    std::unique_ptr<float[]> data_;
};

// Sources whose spectra are the call's own scratch: N sources, 2·N arrays of
// fftSize floats allocated once for the call.
template <int N>
struct ScratchSources {
    SpectrumScratch scratch;
    PhasorSources<N> sources;

    ScratchSources(ChannelInfo* const (&records)[N], Reads reads, int fftSize, HarmonicSet set)
        : scratch(N, fftSize) {
        if (!scratch.Held()) return;
        Spectrum spectra[N];
        scratch.All(spectra);
        sources = PrepareSources(records, reads, spectra, set);
        sources.use = SpectrumUse::UsedBinsOnly;
    }
    bool Held() const { return scratch.Held(); }
};

// Sums term(h) over a set in extended precision from 0.0. A set of one harmonic
// gives that term itself (0.0 + term would turn a negative zero positive).
template <typename Term>
double SumOverHarmonics(HarmonicSet set, Term&& term) {
    if (set.first == set.last) return term(set.first);
    double sum = 0.0;
    for (int h = set.first; h <= set.last; ++h) sum += term(h);
    return sum;
}

// The same with a float sum, rounded after every addition; a single harmonic
// again gives its term, unrounded (the export rounds it where it stores it).
template <typename Term>
double FloatSumOverHarmonics(HarmonicSet set, Term&& term) {
    if (set.first == set.last) return term(set.first);
    float sum = 0.0f;
    for (int h = set.first; h <= set.last; ++h) sum = static_cast<float>(sum + term(h));
    return sum;
}
