#include "dsp/elementary.h"
#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dsp/complex.h"

namespace {

constexpr float kTwoPi = 6.2831855f;   // the float value of 2*pi the stages divide
constexpr float kReducedInverseScale = 0.015625f;

[[noreturn]] void Abort(const char* format, int value) {
    std::fprintf(stderr, format, value);
    std::exit(1);
}

// The per-stage twiddle step (cos, sin) of block size m. The reduced mode keeps
// the sine unrounded.
Complex StageStep(int m, bool inverse, bool reduced) {
    const double theta = -(static_cast<double>(inverse ? -kTwoPi : kTwoPi) / m);
    const double c = static_cast<float>(Cos(theta));
    const double s = reduced ? Sin(theta) : static_cast<float>(Sin(theta));
    return {c, s};
}

// The next twiddle of a stage: the complex product, each part rounded to float.
Complex NextTwiddle(Complex w, Complex step) {
    const Complex p = w * step;
    return {static_cast<float>(p.re), static_cast<float>(p.im)};
}

inline void Butterfly(float* re, float* im, int u, int v, Complex w) {
    const float tr = static_cast<float>(w.re * re[v] - w.im * im[v]);
    const float ti = static_cast<float>(w.im * re[v] + w.re * im[v]);
    const double ur = re[u];
    const double ui = im[u];
    re[v] = static_cast<float>(ur - tr);
    im[v] = static_cast<float>(ui - ti);
    re[u] = static_cast<float>(ur + tr);
    im[u] = static_cast<float>(ui + ti);
}

// All butterfly stages. Within a stage the butterflies touch disjoint pairs, so
// visiting them twiddle by twiddle (instead of block by block) lets each twiddle
// be computed once per stage by the same recurrence, with identical results.
void Stages(float* re, float* im, int points, bool inverse, bool reduced) {
    for (int m = 2; m <= points; m <<= 1) {
        const int half = m / 2;
        const Complex step = StageStep(m, inverse, reduced);
        Complex w{1.0, 0.0};
        for (int j = 0; j < half; ++j) {
            for (int b = 0; b < points; b += m) Butterfly(re, im, b + j, b + j + half, w);
            w = NextTwiddle(w, step);
        }
    }
}

// The forward reduced transform runs once per window in most exports: its
// bit-reversal order and twiddles are the same on every call, so they are
// computed once, by the same recurrence, into a constant table.
struct ReducedForwardPlan {
    uint8_t reversed[kReducedPoints];
    Complex twiddle[kReducedPoints];   // stage m uses entries [half - 1, m - 1)

    ReducedForwardPlan() {
        for (int i = 0; i < kReducedPoints; ++i) reversed[i] = static_cast<uint8_t>(ReverseBits(i, 6));
        for (int m = 2; m <= kReducedPoints; m <<= 1) {
            const int half = m / 2;
            const Complex step = StageStep(m, false, true);
            Complex w{1.0, 0.0};
            for (int j = 0; j < half; ++j) {
                twiddle[half - 1 + j] = w;
                w = NextTwiddle(w, step);
            }
        }
    }
};

void ReducedForward(const float* gathered, float* re, float* im) {
    static const ReducedForwardPlan plan;
    for (int i = 0; i < kReducedPoints; ++i) {
        re[plan.reversed[i]] = gathered[i];
        im[plan.reversed[i]] = 0.0f;
    }
    for (int m = 2; m <= kReducedPoints; m <<= 1) {
        const int half = m / 2;
        for (int j = 0; j < half; ++j) {
            const Complex w = plan.twiddle[half - 1 + j];
            for (int b = 0; b < kReducedPoints; b += m) Butterfly(re, im, b + j, b + j + half, w);
        }
    }
}

}  // namespace

bool IsPowerOfTwo(int n) { return n >= 2 && (n & (n - 1)) == 0; }

int FftBitCount(int n) {
    if (n < 2) Abort("Error: FFT called with size %d\n", n);
    if (n % 2 != 0) return 0;
    int bits = 0;
    while (((n >> bits) & 1) == 0) ++bits;
    return bits;
}

uint32_t ReverseBits(uint32_t value, int bits) {
    uint32_t reversed = 0;
    for (int b = 0; b < bits; ++b) reversed = (reversed << 1) | ((value >> b) & 1u);
    return reversed;
}

void CheckFftSize(int size, uint32_t reduce) {
    const bool reduced = reduce != 0 && size > kReducedPoints;
    if (!reduced && !IsPowerOfTwo(size)) Abort("%d is not a power of two\n", size);
}

int Fft(int size, uint8_t inverse, const float* reIn, const float* imIn, float* reOut, float* imOut,
        uint32_t reduce) {
    if (reIn == nullptr || reOut == nullptr || imOut == nullptr) return 0;
    const bool reduced = reduce != 0 && size > kReducedPoints;

    if (reduced) {
        const int stride = size / kReducedPoints;
        float gatheredRe[kReducedPoints] = {};
        for (int k = 0; k < kReducedPoints; ++k) gatheredRe[k] = reIn[k * stride];
        if (inverse == 0 && imIn == nullptr) {
            ReducedForward(gatheredRe, reOut, imOut);
            return kReducedPoints;
        }
        for (int i = 0; i < kReducedPoints; ++i) {
            const uint32_t j = ReverseBits(i, 6);
            reOut[j] = gatheredRe[i];
            imOut[j] = imIn != nullptr ? imIn[i * stride] : 0.0f;
        }
        Stages(reOut, imOut, kReducedPoints, inverse != 0, true);
        if (inverse != 0) {
            for (int i = 0; i < kReducedPoints; ++i) {
                reOut[i] = static_cast<float>(reOut[i] * kReducedInverseScale);
                imOut[i] = static_cast<float>(imOut[i] * kReducedInverseScale);
            }
        }
        return kReducedPoints;
    }

    CheckFftSize(size, reduce);
    const int bits = FftBitCount(size);
    for (int i = 0; i < size; ++i) {
        const uint32_t j = ReverseBits(static_cast<uint32_t>(i), bits);
        reOut[j] = reIn[i];
        imOut[j] = imIn != nullptr ? imIn[i] : 0.0f;
    }
    Stages(reOut, imOut, size, inverse != 0, false);
    if (inverse != 0) {
        const float points = static_cast<float>(size);
        for (int i = 0; i < size; ++i) {
            reOut[i] = static_cast<float>(reOut[i] / points);
            imOut[i] = static_cast<float>(imOut[i] / points);
        }
    }
    return size;
}
