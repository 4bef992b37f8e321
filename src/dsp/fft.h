// Radix-2 decimation-in-time FFT on separate real and imaginary float arrays.
//
// Fft is the whole transform with its two modes: direct (all `size` points,
// which must be a power of two) and reduced (above 64 samples, the 64-point
// subsample of stride size/64). Every intermediate value is a double rounded
// to float where it is stored, so every build gives the same bits.
//
// The windowed exports transform a real window forward and read one bin, a
// few low bins or the whole spectrum; the Transform* functions give them
// exactly those bins, bit for bit what Fft leaves there:
//   TransformWindow  the whole spectrum, reduced or full length (Fft itself);
//   TransformBins    bins first .. last of the reduced transform: bin h alone
//                    runs only the P - 1 butterflies that lead to it, bins
//                    1 .. n skip the last stage's butterflies above n;
//   OneBin           bin h alone, window after window, of either transform,
//                    by that tree of butterflies.
// Butterflies run four side by side (SSE2), each with its own operations in
// its own order. Transforms of up to 64 points (every reduced one, and direct
// windows of 64 or less) run on constant plans built once per point count: the
// first stage's bit-reversed indices and every stage's twiddles. Larger direct
// windows (the full-length harmonic magnitude) form the same tables once per
// call; the inverse and complex input form their order and twiddles as they go.
#pragma once

#include <cstdint>

#include "dsp/complex.h"

// True when n >= 2 and n is a power of two.
bool IsPowerOfTwo(int n);
// log2 of a power of two; 0 for odd n; ends the process for n below 2.
int FftBitCount(int n);
// The low `bits` bits of value, reversed.
uint32_t ReverseBits(uint32_t value, int bits);

// Number of points the reduced mode transforms.
constexpr int kReducedPoints = 64;

// Ends the process with the transform's message ("<size> is not a power of
// two") when Fft would refuse `size` in that mode: a direct-mode size (reduce
// zero, or size 64 or less) that is not a power of two, 0, 1 and negative
// sizes included. Returns otherwise.
void CheckFftSize(int size, uint32_t reduce);

// Transforms `size` samples (or, with reduce set and size above 64, a 64-point
// subsample of stride size/64) and returns the number of points P transformed;
// 0 when reIn, reOut or imOut is null. A direct-mode size that is not a power
// of two ends the process with a message, by design.
int Fft(int size, uint8_t inverse, const float* reIn, const float* imIn, float* reOut, float* imOut,
        uint32_t reduce);

// One spectrum: a caller's work buffers or an export's own scratch.
struct Spectrum {
    float* re;
    float* im;
};

// Which transform a window gets: the 64-point subsample of the power exports, or
// the full length that the harmonic-magnitude exports need for high orders.
enum class Transform : uint32_t { FullLength = 0, Reduced = 1 };

// Fft of the fftSize values from window on (forward, real input); returns the
// point count P: fftSize, or 64 when reduced and fftSize is above 64.
int TransformWindow(const float* window, int fftSize, Spectrum s, Transform transform);

// Bins first .. last (first >= 0, last below P) of the reduced transform of
// the window, bit for bit those TransformWindow gives; the other entries of
// the spectrum may hold anything (intermediate values, or what they held), so
// the spectrum must be one nobody else reads. Returns P. A refused fftSize ends
// the process as in Fft.
int TransformBins(const float* window, int fftSize, Spectrum s, int first, int last);

// Bin h of the transform of window after window of one length and mode, bit
// for bit what TransformWindow leaves there: the butterflies that lead to bin
// h, with each stage's twiddle for it taken once for all windows (the plan's
// up to 64 points, the transform's own recurrence beyond), working in the
// spectrum's entries [0, P/2).
class OneBin {
public:
    OneBin(int fftSize, Transform transform, int h);
    // Transforms the window into s.re[h], s.im[h]; other entries of s may
    // hold anything afterwards. Returns P.
    int Of(const float* window, Spectrum s) const;

private:
    static constexpr int kMostStages = 31;   // an int window length has at most 30 stages
    int fftSize_;
    int bin_;
    bool usable_ = false;   // a length the transform accepts in this mode
    int points_ = 0;        // P
    int stride_ = 1;        // point r is window[r·stride]
    Complex twiddles_[kMostStages] = {};   // stage 4, 8, ..: butterfly h mod m/2's twiddle
    bool upper_[kMostStages + 1] = {};     // stage 2, 4, ..: bin h from the difference half
};
