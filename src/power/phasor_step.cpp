#include "dsp/elementary.h"
#include "power/phasor_step.h"

#include <cmath>

#include "dsp/complex.h"
#include "dsp/fft.h"

namespace {

constexpr float kTwoPi = 6.2831855f;   // the float value of 2*pi the transform's stages divide
constexpr int kMaxBits = 6;            // the reduced transform's 64 points

struct Point {
    float re;
    float im;
};

// The transform's butterfly, the same arithmetic: t = w·v rounded to float,
// then v = u - t and u = u + t, each part rounded to float.
inline Point Sum(Point u, Point v, Complex w) {
    const float tr = static_cast<float>(w.re * v.re - w.im * v.im);
    const float ti = static_cast<float>(w.im * v.re + w.re * v.im);
    return {static_cast<float>(static_cast<double>(u.re) + tr), static_cast<float>(static_cast<double>(u.im) + ti)};
}
inline Point Difference(Point u, Point v, Complex w) {
    const float tr = static_cast<float>(w.re * v.re - w.im * v.im);
    const float ti = static_cast<float>(w.im * v.re + w.re * v.im);
    return {static_cast<float>(static_cast<double>(u.re) - tr), static_cast<float>(static_cast<double>(u.im) - ti)};
}

// What bin 1 needs of each stage, for every point count 2^bits: the input index
// of the bit-reversed positions 2t and 2t + 1 of the first stage, and the
// twiddle of butterfly 1 of every later stage, obtained by the transform's own
// recurrence (one step from (1, 0); the reduced mode keeps the step's sine
// unrounded, the direct mode rounds it).
struct FundamentalPlan {
    uint8_t firstStage[kMaxBits + 1][1 << kMaxBits];
    Complex twiddle[2][kMaxBits + 1];   // [reduced][log2 m]

    FundamentalPlan() {
        for (int bits = 1; bits <= kMaxBits; ++bits)
            for (int i = 0; i < (1 << bits); ++i)
                firstStage[bits][i] = static_cast<uint8_t>(ReverseBits(static_cast<uint32_t>(i), bits));
        for (int reduced = 0; reduced < 2; ++reduced) {
            for (int b = 1; b <= kMaxBits; ++b) {
                const int m = 1 << b;
                const double theta = -(static_cast<double>(kTwoPi) / m);
                const double c = static_cast<float>(Cos(theta));
                const double sn = reduced ? Sin(theta) : static_cast<float>(Sin(theta));
                const Complex p = Complex{1.0, 0.0} * Complex{c, sn};
                twiddle[reduced][b] = {static_cast<float>(p.re), static_cast<float>(p.im)};
            }
        }
    }
};

const FundamentalPlan& Plan() {
    static const FundamentalPlan plan;
    return plan;
}

// The reduced transform's constant tables: the bit-reversed order and every
// stage's twiddles by the transform's recurrence (w from (1, 0), times the
// stage's step, both parts rounded to float each time); stage m uses entries
// [m/2 - 1, m - 1). Twiddle parts in separate arrays let consecutive
// butterflies of a block run side by side with the same arithmetic.
struct ReducedPlan {
    uint8_t reversed[kReducedPoints];
    double twiddleRe[kReducedPoints];
    double twiddleIm[kReducedPoints];

    ReducedPlan() {
        for (int i = 0; i < kReducedPoints; ++i)
            reversed[i] = static_cast<uint8_t>(ReverseBits(static_cast<uint32_t>(i), kMaxBits));
        for (int m = 2; m <= kReducedPoints; m <<= 1) {
            const int half = m / 2;
            const double theta = -(static_cast<double>(kTwoPi) / m);
            const Complex step{static_cast<float>(Cos(theta)), Sin(theta)};
            Complex w{1.0, 0.0};
            for (int j = 0; j < half; ++j) {
                twiddleRe[half - 1 + j] = w.re;
                twiddleIm[half - 1 + j] = w.im;
                const Complex next = w * step;
                w = {static_cast<float>(next.re), static_cast<float>(next.im)};
            }
        }
    }
};

const ReducedPlan& Reduced() {
    static const ReducedPlan plan;
    return plan;
}

// Butterflies j = first .. last - 1 of the block at b (half its size), the
// transform's arithmetic; only the sums are kept when keepDifferences is false.
inline void BlockButterflies(float* __restrict re, float* __restrict im, int b, int half, int first, int last,
                             const double* __restrict wr, const double* __restrict wi, bool keepDifferences) {
    float* __restrict ure = re + b;
    float* __restrict uim = im + b;
    float* __restrict vre = re + b + half;
    float* __restrict vim = im + b + half;
    for (int j = first; j < last; ++j) {
        const float tr = static_cast<float>(wr[j] * vre[j] - wi[j] * vim[j]);
        const float ti = static_cast<float>(wi[j] * vre[j] + wr[j] * vim[j]);
        const double ur = ure[j];
        const double ui = uim[j];
        if (keepDifferences) {
            vre[j] = static_cast<float>(ur - tr);
            vim[j] = static_cast<float>(ui - ti);
        }
        ure[j] = static_cast<float>(ur + tr);
        uim[j] = static_cast<float>(ui + ti);
    }
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

int TransformWindow(const float* window, int fftSize, Spectrum s, Transform transform) {
    return Fft(fftSize, 0, window, nullptr, s.re, s.im, static_cast<uint32_t>(transform));
}

int TransformFundamentalBin(const float* window, int fftSize, Spectrum s) {
    const bool reduced = fftSize > kReducedPoints;
    CheckFftSize(fftSize, static_cast<uint32_t>(Transform::Reduced));   // ends the process on a refused length
    const int points = reduced ? kReducedPoints : fftSize;
    const int stride = reduced ? fftSize / kReducedPoints : 1;
    const int bits = FftBitCount(points);
    const FundamentalPlan& plan = Plan();
    const uint8_t* order = plan.firstStage[bits];
    const Complex one{1.0, 0.0};

    // First stage: bin 1 of every two-point block is the butterfly's difference.
    Point level[kReducedPoints / 2];
    int blocks = points / 2;
    for (int t = 0; t < blocks; ++t) {
        const Point u{window[order[2 * t] * stride], 0.0f};
        const Point v{window[order[2 * t + 1] * stride], 0.0f};
        level[t] = Difference(u, v, one);
    }
    // Later stages: bin 1 of a block is the sum of butterfly 1 on the bins 1 of its halves.
    for (int b = 2; b <= bits; ++b) {
        const Complex w = plan.twiddle[reduced ? 1 : 0][b];
        blocks /= 2;
        for (int t = 0; t < blocks; ++t) level[t] = Sum(level[2 * t], level[2 * t + 1], w);
    }
    s.re[1] = level[0].re;
    s.im[1] = level[0].im;
    return points;
}

int TransformLowBins(const float* window, int fftSize, Spectrum s, int lastBin) {
    if (fftSize <= kReducedPoints || lastBin >= kReducedPoints / 2)
        return TransformWindow(window, fftSize, s, Transform::Reduced);
    const int stride = fftSize / kReducedPoints;
    const ReducedPlan& plan = Reduced();
    // First stage straight from the window: the block at 2t pairs the samples
    // the bit-reversed copy would put at 2t and 2t + 1, twiddle (1, 0).
    const Complex one{1.0, 0.0};
    for (int t = 0; t < kReducedPoints / 2; ++t) {
        const Point u{window[plan.reversed[2 * t] * stride], 0.0f};
        const Point v{window[plan.reversed[2 * t + 1] * stride], 0.0f};
        const Point sum = Sum(u, v, one);
        const Point difference = Difference(u, v, one);
        s.re[2 * t] = sum.re;
        s.im[2 * t] = sum.im;
        s.re[2 * t + 1] = difference.re;
        s.im[2 * t + 1] = difference.im;
    }
    // Stages of 4 and 8 points: blocks too short to run their butterflies side
    // by side; the same butterfly, one at a time.
    for (int m = 4; m <= 8; m <<= 1) {
        const int half = m / 2;
        for (int j = 0; j < half; ++j) {
            const Complex w{plan.twiddleRe[half - 1 + j], plan.twiddleIm[half - 1 + j]};
            for (int b = j; b < kReducedPoints; b += m) {
                const Point u{s.re[b], s.im[b]};
                const Point v{s.re[b + half], s.im[b + half]};
                const Point sum = Sum(u, v, w);
                const Point difference = Difference(u, v, w);
                s.re[b] = sum.re;
                s.im[b] = sum.im;
                s.re[b + half] = difference.re;
                s.im[b + half] = difference.im;
            }
        }
    }
    for (int m = 16; m < kReducedPoints; m <<= 1) {
        const int half = m / 2;
        const double* wr = plan.twiddleRe + half - 1;
        const double* wi = plan.twiddleIm + half - 1;
        for (int b = 0; b < kReducedPoints; b += m) BlockButterflies(s.re, s.im, b, half, 0, half, wr, wi, true);
    }
    // Last stage: bins 1 .. lastBin are the sums of butterflies 1 .. lastBin.
    const int half = kReducedPoints / 2;
    BlockButterflies(s.re, s.im, 0, half, 1, lastBin + 1, plan.twiddleRe + half - 1, plan.twiddleIm + half - 1,
                     false);
    return kReducedPoints;
}

namespace {

// One part of bin h of a P-point transform as a part of the RMS phasor.
double RmsPart(float binPart, int points) { return static_cast<double>(binPart) * 2.0 / points * kRmsScale; }

// The phasor (a, b) turned by turn, each part rounded to float.
Phasor Turned(PhaseTurn turn, double a, double b) {
    return {static_cast<float>(turn.cosine * a - turn.sine * b), static_cast<float>(turn.sine * a + turn.cosine * b)};
}

Phasor StoreBack(Spectrum s, int h, Phasor p) {
    s.re[h] = p.re;
    s.im[h] = p.im;
    return p;
}

}  // namespace

Phasor StoreRmsPhasor(Spectrum s, int h, int points) {
    const float a = static_cast<float>(RmsPart(s.re[h], points));
    const float b = static_cast<float>(RmsPart(s.im[h], points));
    return StoreBack(s, h, {a, b});
}

double BinRms(Spectrum s, int h, int points, ScaledParts parts) {
    double x = 2.0 * s.re[h] / points;
    double y = 2.0 * s.im[h] / points;
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

Phasor StoreTurnedPhasor(Spectrum s, int h, PhaseTurn turn) { return StoreBack(s, h, Turned(turn, s.re[h], s.im[h])); }

Phasor StoreTurnedRmsPhasor(Spectrum s, int h, int points, PhaseTurn turn) {
    return StoreBack(s, h, Turned(turn, RmsPart(s.re[h], points), RmsPart(s.im[h], points)));
}

void HarmonicPhasorStep(const float* window, int fftSize, Spectrum s, HarmonicSet set,
                        const SourceTurns& turns, SpectrumUse use) {
    int points;
    if (use == SpectrumUse::WholeSpectrum) points = TransformWindow(window, fftSize, s, Transform::Reduced);
    else if (set.last == 1) points = TransformFundamentalBin(window, fftSize, s);
    else points = TransformLowBins(window, fftSize, s, set.last);
    for (int h = set.first; h <= set.last; ++h) {
        StoreRmsPhasor(s, h, points);
        StoreTurnedPhasor(s, h, turns.at[h]);
    }
}
