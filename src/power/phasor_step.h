// The harmonic phasor step, shared by every windowed export: a source's window
// is transformed (dsp/fft.h), bin h becomes the RMS phasor of harmonic h (bin h
// · 2/P · kRmsScale, stored as floats), and the phasor is turned back by the
// source's PhaseShift · h (stored as floats again). The phasor components
// therefore live in the spectrum arrays as 32-bit floats when an export
// multiplies them.
//
// Pieces, from the smallest up:
//   StoreRmsPhasor       bin h scaled to an RMS phasor, stored back (no turn).
//   BinRms, WindowBinRms the RMS magnitude of bin h (of a window).
//   PhasorRounding       the two ways a phasor is scaled and turned: the RMS
//                        phasor stored and then turned (every windowed power
//                        export), or both in double and stored once (GetPSum).
//   PhasorSources        the sources of one export: values, spectra, turns.
//   PhasorsOfWindow      transform and phasors of every source at one window
//                        offset, in order, for a set of harmonics.
//   ScratchSources       sources whose spectra are the call's own.
// Turns (cos and sin of -(PhaseShift · h)) are evaluated once per call into
// SourceTurns; the values are the very bits TurnAt would give at each use.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "dsp/constants.h"
#include "dsp/fft.h"
#include "frame/channel_info.h"

constexpr int kHighestHarmonic = 21;
constexpr int kMostSources = 6;   // three voltage/current pairs

// The harmonic orders whose terms an export adds up.
struct HarmonicSet {
    int first;
    int last;
};
constexpr HarmonicSet kFundamentalOnly{1, 1};
constexpr HarmonicSet kHarmonicsOneToTwentyOne{1, kHighestHarmonic};

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

// Bin h of a transformed spectrum of P points becomes the RMS phasor, stored back.
Phasor StoreRmsPhasor(Spectrum s, int h, int points);

// The RMS value of harmonic h of a transformed spectrum of P points,
// |2·bin/P| · kRmsScale. The whole-record magnitude exports leave the scaled
// values 2·bin/P in the spectrum for the host (StoredBack) and take the
// magnitude of those stored floats; the block exports keep them unrounded.
enum class ScaledParts { Kept, StoredBack };
double BinRms(Spectrum s, int h, int points, ScaledParts parts);

// The same of the window of fftSize values from window on, transformed into s.
double WindowBinRms(const float* window, int fftSize, Spectrum s, Transform transform, int h, ScaledParts parts);

// Bin h turned into the RMS phasor and turned by turn, stored back.
using PhasorRounding = void (*)(Spectrum s, int h, int points, PhaseTurn turn);
// The RMS phasor stored, then the stored phasor turned and stored again.
void RmsPhasorThenTurned(Spectrum s, int h, int points, PhaseTurn turn);
// Both steps in double and only the turned phasor stored.
void TurnedRmsPhasor(Spectrum s, int h, int points, PhaseTurn turn);

// Whether a spectrum must hold the whole transform (the caller's work buffers,
// which the host may read) or only the bins the export uses (the call's own).
enum class SpectrumUse { WholeSpectrum, UsedBinsOnly };

// The sources of one windowed export, ready for the phasor step.
struct PhasorSources {
    int count = 0;
    const float* values[kMostSources] = {};
    Spectrum spectra[kMostSources] = {};
    SourceTurns turns[kMostSources];
    SpectrumUse use = SpectrumUse::WholeSpectrum;
    PhasorRounding rounding = RmsPhasorThenTurned;
    std::optional<OneBin> bin;   // a set of one harmonic: its tree, formed once per call

    Phasor At(int k, int h) const { return PhasorAt(spectra[k], h); }
};

// count sources' values (samples or results), their spectra and their turns
// for the set.
PhasorSources PrepareSources(ChannelInfo* const* records, int count, Reads reads, const Spectrum* spectra,
                             HarmonicSet set, int fftSize);

// The phasor step for every source, in source order, on the window at offset:
// the transform (the bins of the set only, where nobody else reads the
// spectrum), then for each harmonic of the set its phasor. Bins outside the set
// keep the transform's values, or with UsedBinsOnly may hold anything.
void PhasorsOfWindow(const PhasorSources& s, int offset, int fftSize, HarmonicSet set);

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

private:
    static float* Allocate(int sources, int fftSize) {
        const uint64_t elements = 2 * static_cast<uint64_t>(sources) * static_cast<uint64_t>(fftSize);
        if (fftSize < 1 || elements > std::numeric_limits<std::size_t>::max() / sizeof(float)) return nullptr;
        return new (std::nothrow) float[static_cast<std::size_t>(elements)];
    }
    int fftSize_;
    std::unique_ptr<float[]> data_;
};

// Sources whose spectra are the call's own scratch, allocated once for the
// call; nobody else reads them, so only the bins of the set are computed.
struct ScratchSources {
    SpectrumScratch scratch;
    PhasorSources sources;

    ScratchSources(ChannelInfo* const* records, int count, Reads reads, int fftSize, HarmonicSet set);
    bool Held() const { return scratch.Held(); }
};

// Sums term(h) over a set in double from 0.0. A set of one harmonic gives
// that term itself (0.0 + term would turn a negative zero positive).
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
