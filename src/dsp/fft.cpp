#include "dsp/fft.h"

#include <emmintrin.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "dsp/complex.h"
#include "dsp/constants.h"
#include "dsp/elementary.h"

namespace {

constexpr int kReducedBits = 6;   // log2 of the reduced transform's points
constexpr Complex kOne{1.0, 0.0};  // the first twiddle of every stage

[[noreturn]] void Abort(const char* format, int value) {
    std::fprintf(stderr, format, value);
    std::exit(1);
}

// ---- twiddles ----

// The twiddle step (cos θ, sin θ) of stage m, θ = -(2π/m) forward and +2π/m
// inverse, 2π being the float the stages divide; each part rounded to float,
// except the reduced mode's sine.
Complex StageStep(int m, bool inverse, bool reduced) {
    const double theta = -((inverse ? -kTwoPiFloat : kTwoPiFloat) / m);
    const double c = static_cast<float>(Cos(theta));
    const double s = reduced ? Sin(theta) : static_cast<float>(Sin(theta));
    return {c, s};
}

// The next twiddle of a stage: the complex product, each part rounded to float.
Complex NextTwiddle(Complex w, Complex step) {
    const Complex p = w * step;
    return {static_cast<float>(p.re), static_cast<float>(p.im)};
}

// Every stage's twiddles of a P-point forward transform, by the recurrence
// from (1, 0): stage m's at [m/2 - 1, m - 1), their parts in separate arrays
// so that consecutive butterflies of a block run side by side.
void FillStageTwiddles(int points, bool reduced, double* wr, double* wi) {
    for (int half = 1; half < points; half *= 2) {
        const Complex step = StageStep(2 * half, false, reduced);
        Complex w = kOne;
        for (int j = 0; j < half; ++j) {
            wr[half - 1 + j] = w.re;
            wi[half - 1 + j] = w.im;
            w = NextTwiddle(w, step);
        }
    }
}

// ---- the butterfly ----

// One spectrum entry as the stages hold it.
struct Point {
    float re;
    float im;
};

// u + w·v (the sum) or u - w·v (the difference): w·v with each part rounded to
// float, then each part of the result rounded to float.
inline Point Butterfly(Point u, Point v, Complex w, bool difference) {
    const float tr = static_cast<float>(w.re * v.re - w.im * v.im);
    const float ti = static_cast<float>(w.im * v.re + w.re * v.im);
    const double ur = u.re, ui = u.im;
    if (difference) return {static_cast<float>(ur - tr), static_cast<float>(ui - ti)};
    return {static_cast<float>(ur + tr), static_cast<float>(ui + ti)};
}

// The butterfly in place on entries u and v: u takes the sum, v the difference.
inline void ButterflyAt(float* re, float* im, int u, int v, Complex w) {
    const Point pu{re[u], im[u]}, pv{re[v], im[v]};
    const Point sum = Butterfly(pu, pv, w, false), difference = Butterfly(pu, pv, w, true);
    re[u] = sum.re;
    im[u] = sum.im;
    re[v] = difference.re;
    im[v] = difference.im;
}

// ---- stage by stage, twiddles formed as they go ----

// Every stride-th input into bit-reversed order; imaginary values 0.0 without imIn.
void BitReversedCopy(const float* reIn, const float* imIn, int stride, int points, Spectrum out) {
    const int bits = FftBitCount(points);
    for (int i = 0; i < points; ++i) {
        const uint32_t j = ReverseBits(static_cast<uint32_t>(i), bits);
        out.re[j] = reIn[i * stride];
        out.im[j] = imIn != nullptr ? imIn[i * stride] : 0.0f;
    }
}

// Every stage in place, each stage's twiddles formed as it goes. Within a
// stage the butterflies touch disjoint pairs, so visiting them twiddle by
// twiddle (instead of block by block) forms each twiddle once per stage by the
// same recurrence, with identical results.
void StagesAsTheyGo(Spectrum s, int points, bool inverse, bool reduced) {
    for (int m = 2; m <= points; m <<= 1) {
        const int half = m / 2;
        const Complex step = StageStep(m, inverse, reduced);
        Complex w = kOne;
        for (int j = 0; j < half; ++j) {
            for (int b = 0; b < points; b += m) ButterflyAt(s.re, s.im, b + j, b + j + half, w);
            w = NextTwiddle(w, step);
        }
    }
}

// ---- four butterflies side by side ----
//
// w·v in double as Butterfly forms it, each part rounded to float; then
// u ± w·v in float, which rounds as the double sum of two floats rounded to
// float does.

// Four float parts widened to double, two at a time.
inline __m128d Low(__m128 v) { return _mm_cvtps_pd(v); }
inline __m128d High(__m128 v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
// Two lanes of doubles each, rounded to float and packed into four.
inline __m128 FloatPack(__m128d low, __m128d high) { return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high)); }

// w·v of four entries as Butterfly forms it, each part rounded to float: the
// twiddle parts in double, two lanes per register (low and high entries).
struct Twiddles4 {
    __m128d reLow, reHigh, imLow, imHigh;
};
inline void TimesTwiddle(const Twiddles4& w, __m128 vre, __m128 vim, __m128& tr, __m128& ti) {
    const auto real = [](__m128d wr, __m128d wi, __m128d re, __m128d im) {
        return _mm_sub_pd(_mm_mul_pd(wr, re), _mm_mul_pd(wi, im));
    };
    const auto imaginary = [](__m128d wr, __m128d wi, __m128d re, __m128d im) {
        return _mm_add_pd(_mm_mul_pd(wi, re), _mm_mul_pd(wr, im));
    };
    tr = FloatPack(real(w.reLow, w.imLow, Low(vre), Low(vim)), real(w.reHigh, w.imHigh, High(vre), High(vim)));
    ti = FloatPack(imaginary(w.reLow, w.imLow, Low(vre), Low(vim)),
                   imaginary(w.reHigh, w.imHigh, High(vre), High(vim)));
}

// t reversed over log2(P/2) bits for every t < P/2, the reversed index
// stepped along with t (a carry running from the top bit down).
void FillHalfReversal(int points, int* reversed) {
    const int half = points / 2;
    for (int t = 0, j = 0; t < half; ++t) {
        reversed[t] = j;
        int bit = half / 2;
        for (; bit > 0 && (j & bit) != 0; bit /= 2) j ^= bit;
        j |= bit;
    }
}

// The bit-reversed copy of real values (point r is x[r·stride]) and the first
// stage at once, for P >= 8: entries 2t and 2t + 1 take the float sum and
// difference of the points j and j + P/2 the copy puts there (j = reversed[t],
// FillHalfReversal), and the imaginary values as FirstBinStage forms them;
// four values of t side by side.
void FirstStageOfRealValues(const float* x, int stride, int points, const int* reversed, Spectrum out) {
    const int half = points / 2;
    const __m128 zero = _mm_setzero_ps();
    const auto four = [&](int t, int offset) {
        return _mm_setr_ps(x[(reversed[t] + offset) * stride], x[(reversed[t + 1] + offset) * stride],
                           x[(reversed[t + 2] + offset) * stride], x[(reversed[t + 3] + offset) * stride]);
    };
    for (int t = 0; t < half; t += 4) {
        const __m128 u = four(t, 0), v = four(t, half);
        const __m128 ti = _mm_add_ps(_mm_mul_ps(zero, v), zero);
        const __m128 sumRe = _mm_add_ps(u, v), differenceRe = _mm_sub_ps(u, v);
        const __m128 sumIm = _mm_add_ps(zero, ti), differenceIm = _mm_sub_ps(zero, ti);
        _mm_storeu_ps(out.re + 2 * t, _mm_unpacklo_ps(sumRe, differenceRe));
        _mm_storeu_ps(out.re + 2 * t + 4, _mm_unpackhi_ps(sumRe, differenceRe));
        _mm_storeu_ps(out.im + 2 * t, _mm_unpacklo_ps(sumIm, differenceIm));
        _mm_storeu_ps(out.im + 2 * t + 4, _mm_unpackhi_ps(sumIm, differenceIm));
    }
}

// Stage 4 (blocks of four entries: two butterflies, twiddles w0 and w1), two
// blocks at a time: their lower halves side by side, then their upper halves.
void FourPointStage(Spectrum s, int points, const double* wr, const double* wi) {
    const __m128d pairRe = _mm_loadu_pd(wr), pairIm = _mm_loadu_pd(wi);
    const Twiddles4 w{pairRe, pairRe, pairIm, pairIm};
    constexpr int kLower = _MM_SHUFFLE(1, 0, 1, 0), kUpper = _MM_SHUFFLE(3, 2, 3, 2);
    for (int b = 0; b < points; b += 8) {
        const __m128 re0 = _mm_loadu_ps(s.re + b), re1 = _mm_loadu_ps(s.re + b + 4);
        const __m128 im0 = _mm_loadu_ps(s.im + b), im1 = _mm_loadu_ps(s.im + b + 4);
        __m128 tr, ti;
        TimesTwiddle(w, _mm_shuffle_ps(re0, re1, kUpper), _mm_shuffle_ps(im0, im1, kUpper), tr, ti);
        const __m128 ure = _mm_shuffle_ps(re0, re1, kLower), uim = _mm_shuffle_ps(im0, im1, kLower);
        const __m128 sumRe = _mm_add_ps(ure, tr), differenceRe = _mm_sub_ps(ure, tr);
        const __m128 sumIm = _mm_add_ps(uim, ti), differenceIm = _mm_sub_ps(uim, ti);
        _mm_storeu_ps(s.re + b, _mm_shuffle_ps(sumRe, differenceRe, kLower));
        _mm_storeu_ps(s.re + b + 4, _mm_shuffle_ps(sumRe, differenceRe, kUpper));
        _mm_storeu_ps(s.im + b, _mm_shuffle_ps(sumIm, differenceIm, kLower));
        _mm_storeu_ps(s.im + b + 4, _mm_shuffle_ps(sumIm, differenceIm, kUpper));
    }
}

// A stage of blocks of eight entries or more, block by block, four
// butterflies side by side with their twiddles wr[j], wi[j].
void LongStage(Spectrum s, int points, int half, const double* wr, const double* wi) {
    for (int b = 0; b < points; b += 2 * half) {
        for (int j = 0; j < half; j += 4) {
            const Twiddles4 w{_mm_loadu_pd(wr + j), _mm_loadu_pd(wr + j + 2), _mm_loadu_pd(wi + j),
                              _mm_loadu_pd(wi + j + 2)};
            float* ure = s.re + b + j;
            float* uim = s.im + b + j;
            __m128 tr, ti;
            TimesTwiddle(w, _mm_loadu_ps(ure + half), _mm_loadu_ps(uim + half), tr, ti);
            const __m128 u0 = _mm_loadu_ps(ure), u1 = _mm_loadu_ps(uim);
            _mm_storeu_ps(ure + half, _mm_sub_ps(u0, tr));
            _mm_storeu_ps(uim + half, _mm_sub_ps(u1, ti));
            _mm_storeu_ps(ure, _mm_add_ps(u0, tr));
            _mm_storeu_ps(uim, _mm_add_ps(u1, ti));
        }
    }
}

// The last stage's sums alone, butterflies first .. end - 1 (bins first ..
// end - 1, below P/2, whose differences nobody reads), four side by side.
void LastStageSums(Spectrum s, int half, int first, int end, const double* wr, const double* wi) {
    int j = first;
    for (; j + 4 <= end; j += 4) {
        const Twiddles4 w{_mm_loadu_pd(wr + j), _mm_loadu_pd(wr + j + 2), _mm_loadu_pd(wi + j),
                          _mm_loadu_pd(wi + j + 2)};
        __m128 tr, ti;
        TimesTwiddle(w, _mm_loadu_ps(s.re + j + half), _mm_loadu_ps(s.im + j + half), tr, ti);
        _mm_storeu_ps(s.re + j, _mm_add_ps(_mm_loadu_ps(s.re + j), tr));
        _mm_storeu_ps(s.im + j, _mm_add_ps(_mm_loadu_ps(s.im + j), ti));
    }
    for (; j < end; ++j) {
        const Point p = Butterfly({s.re[j], s.im[j]}, {s.re[j + half], s.im[j + half]}, {wr[j], wi[j]}, false);
        s.re[j] = p.re;
        s.im[j] = p.im;
    }
}

// ---- the constant plans of up to 64 points ----

// A forward transform's constant tables: the first stage's reversed indices
// (FillHalfReversal) and every stage's twiddles (FillStageTwiddles).
struct Plan {
    int points = 0;
    int reversed[kReducedPoints / 2] = {};
    double twiddleRe[kReducedPoints] = {};
    double twiddleIm[kReducedPoints] = {};

    Plan() = default;
    Plan(int bits, bool reduced) : points(1 << bits) {
        FillHalfReversal(points, reversed);
        FillStageTwiddles(points, reduced, twiddleRe, twiddleIm);
    }
};

// Every plan, built once on first use: the direct ones of 2 .. 64 points (by
// log2 of the count) and the reduced one.
const Plan& PlanOf(int points, bool reduced) {
    struct Plans {
        Plan direct[kReducedBits + 1];
        Plan reducedPlan{kReducedBits, true};
        Plans() {
            for (int bits = 1; bits <= kReducedBits; ++bits) direct[bits] = Plan(bits, false);
        }
    };
    static const Plans plans;
    return reduced ? plans.reducedPlan : plans.direct[FftBitCount(points)];
}

// Stages 4 .. 2·lastHalf of a transform of P >= 8 points whose first stage is
// done, from the twiddle tables wr, wi (FillStageTwiddles).
void StagesFromFour(Spectrum s, int points, int lastHalf, const double* wr, const double* wi) {
    FourPointStage(s, points, wr + 1, wi + 1);
    for (int half = 4; half <= lastHalf; half *= 2) LongStage(s, points, half, wr + half - 1, wi + half - 1);
}

// The whole planned transform of the points x[r·stride]; plans of 2 and 4
// points, too short for four butterflies side by side, stage by stage.
void AllBins(const Plan& plan, const float* x, int stride, Spectrum s) {
    if (plan.points < 8) {
        BitReversedCopy(x, nullptr, stride, plan.points, s);
        StagesAsTheyGo(s, plan.points, false, false);
        return;
    }
    FirstStageOfRealValues(x, stride, plan.points, plan.reversed, s);
    StagesFromFour(s, plan.points, plan.points / 2, plan.twiddleRe, plan.twiddleIm);
}

// Bins first .. last, all below P/2 (P >= 8): the last stage forms only their sums.
void LowBins(const Plan& plan, const float* x, int stride, Spectrum s, int first, int last) {
    const int half = plan.points / 2;
    FirstStageOfRealValues(x, stride, plan.points, plan.reversed, s);
    StagesFromFour(s, plan.points, half / 2, plan.twiddleRe, plan.twiddleIm);
    LastStageSums(s, half, first, last + 1, plan.twiddleRe + half - 1, plan.twiddleIm + half - 1);
}

// ---- bin h alone ----
//
// Entry r of the input holds the one-point transform of point r. Stage m
// pairs the transforms of the points r + k·P/m (k even) and (k odd) into
// that of the points r + k·P/m for every k, and only bin h mod m of it leads
// to bin h: after stage m, entry r (r < P/m) holds it. So every stage is one
// butterfly, with one twiddle (stage m's twiddle h mod m/2), run over the lower
// and upper halves of the entries, and the last stage leaves bin h in entry 0.

// The first stage: twiddle (1, 0) on real values, so the butterfly is the
// float sum or difference of two samples, and its imaginary part
// 0 ± (0·v + 0): +0, or NaN where v is not finite. Float arithmetic gives the
// same bits here, as each operation is exact.
// Point r is x[r·stride].
void FirstBinStage(const float* x, int stride, int n, bool difference, Spectrum s) {
    const __m128 zero = _mm_setzero_ps();
    const auto four = [&](int r) {
        const float* p = x + r * stride;
        if (stride == 1) return _mm_loadu_ps(p);
        return _mm_setr_ps(p[0], p[stride], p[2 * stride], p[3 * stride]);
    };
    int r = 0;
    for (; r + 4 <= n; r += 4) {
        const __m128 u = four(r), v = four(n + r);
        const __m128 ti = _mm_add_ps(_mm_mul_ps(zero, v), zero);
        _mm_storeu_ps(s.re + r, difference ? _mm_sub_ps(u, v) : _mm_add_ps(u, v));
        _mm_storeu_ps(s.im + r, difference ? _mm_sub_ps(zero, ti) : _mm_add_ps(zero, ti));
    }
    for (; r < n; ++r) {
        const Point p = Butterfly({x[r * stride], 0.0f}, {x[(n + r) * stride], 0.0f}, kOne, difference);
        s.re[r] = p.re;
        s.im[r] = p.im;
    }
}

// Entry r (r < n) becomes the butterfly of entries r and n + r with twiddle w,
// four entries side by side; u ± w·v in float rounds as the double sum of two
// floats rounded to float does.
void BinStage(Spectrum s, int n, Complex w, bool difference) {
    const __m128d wr = _mm_set1_pd(w.re), wi = _mm_set1_pd(w.im);
    const Twiddles4 w4{wr, wr, wi, wi};
    int r = 0;
    for (; r + 4 <= n; r += 4) {
        __m128 tr, ti;
        TimesTwiddle(w4, _mm_loadu_ps(s.re + n + r), _mm_loadu_ps(s.im + n + r), tr, ti);
        const __m128 ure = _mm_loadu_ps(s.re + r), uim = _mm_loadu_ps(s.im + r);
        _mm_storeu_ps(s.re + r, difference ? _mm_sub_ps(ure, tr) : _mm_add_ps(ure, tr));
        _mm_storeu_ps(s.im + r, difference ? _mm_sub_ps(uim, ti) : _mm_add_ps(uim, ti));
    }
    for (; r < n; ++r) {
        const Point p = Butterfly({s.re[r], s.im[r]}, {s.re[n + r], s.im[n + r]}, w, difference);
        s.re[r] = p.re;
        s.im[r] = p.im;
    }
}

// Whether bin h comes from the difference half of stage m's butterfly.
bool UpperHalf(int h, int m) { return h % m >= m / 2; }

// Bin h of the transform of the P points x[r·stride] into s.re[h], s.im[h]:
// stage 2·2^k takes the difference half where upper[k] is set, and (k >= 1)
// the twiddle twiddles[k - 1]; s's entries [0, P/2) are overwritten along the way.
void BinTree(const float* x, int stride, int points, int h, const Complex* twiddles, const bool* upper, Spectrum s) {
    FirstBinStage(x, stride, points / 2, upper[0], s);
    int stage = 0;
    for (int n = points / 4; n >= 1; n /= 2, ++stage) BinStage(s, n, twiddles[stage], upper[stage + 1]);
    s.re[h] = s.re[0];
    s.im[h] = s.im[0];
}

// ---- transforms longer than 64 points ----

// The forward transform of real values longer than 64 points, from tables
// formed once for the call as the plans' are. False, with nothing written,
// when they cannot be allocated.
bool LongForwardTransform(const float* x, int points, Spectrum out) {
    const std::unique_ptr<double[]> table(new (std::nothrow) double[2 * static_cast<std::size_t>(points)]);
    const std::unique_ptr<int[]> reversed(new (std::nothrow) int[static_cast<std::size_t>(points / 2)]);
    if (table == nullptr || reversed == nullptr) return false;
    double* const wr = table.get();
    double* const wi = wr + points;
    FillStageTwiddles(points, false, wr, wi);
    FillHalfReversal(points, reversed.get());
    FirstStageOfRealValues(x, 1, points, reversed.get(), out);
    StagesFromFour(out, points, points / 2, wr, wi);
    return true;
}

// The inverse divides every entry by the point count as a float. In the reduced
// mode that is 64, and dividing by it is multiplying by 1/64: both are exact
// before the rounding to float, so the results are the same.
void ScaleInverse(Spectrum s, int points) {
    const float divisor = static_cast<float>(points);
    for (int i = 0; i < points; ++i) {
        s.re[i] = static_cast<float>(s.re[i] / divisor);
        s.im[i] = static_cast<float>(s.im[i] / divisor);
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
    CheckFftSize(size, reduce);
    const bool reduced = reduce != 0 && size > kReducedPoints;
    const int points = reduced ? kReducedPoints : size;
    const int stride = reduced ? size / kReducedPoints : 1;
    const Spectrum out{reOut, imOut};
    if (inverse == 0 && imIn == nullptr && points <= kReducedPoints) {
        const Plan& plan = PlanOf(points, reduced);
        AllBins(plan, reIn, stride, out);
        return points;
    }
    if (inverse == 0 && imIn == nullptr && LongForwardTransform(reIn, points, out)) return points;
    BitReversedCopy(reIn, imIn, stride, points, out);
    StagesAsTheyGo(out, points, inverse != 0, reduced);
    if (inverse != 0) ScaleInverse(out, points);
    return points;
}

int TransformWindow(const float* window, int fftSize, Spectrum s, Transform transform) {
    return Fft(fftSize, 0, window, nullptr, s.re, s.im, static_cast<uint32_t>(transform));
}

int TransformBins(const float* window, int fftSize, Spectrum s, int first, int last) {
    if (first == last) return OneBin(fftSize, Transform::Reduced, first).Of(window, s);
    CheckFftSize(fftSize, static_cast<uint32_t>(Transform::Reduced));
    const bool reduced = fftSize > kReducedPoints;
    const Plan& plan = PlanOf(reduced ? kReducedPoints : fftSize, reduced);
    const int stride = reduced ? fftSize / kReducedPoints : 1;
    if (first > 0 && last < plan.points / 2 && plan.points >= 8) {
        LowBins(plan, window, stride, s, first, last);
    } else {
        AllBins(plan, window, stride, s);
    }
    return plan.points;
}

// The stage twiddles are formed here, once for every window of the call, by
// each stage's own recurrence (the one the plans' tables and the full-length
// tables are filled by). A length the transform refuses forms none; Of ends
// the process then, as the transform would.
OneBin::OneBin(int fftSize, Transform transform, int h) : fftSize_(fftSize), bin_(h) {
    const bool reduced = transform == Transform::Reduced && fftSize > kReducedPoints;
    usable_ = reduced || IsPowerOfTwo(fftSize);
    if (!usable_) return;
    points_ = reduced ? kReducedPoints : fftSize;
    stride_ = reduced ? fftSize / kReducedPoints : 1;
    upper_[0] = UpperHalf(h, 2);
    int stage = 0;
    for (int n = points_ / 4; n >= 1 && stage < kMostStages; n /= 2, ++stage) {
        const int m = points_ / n;   // stepped down from the top, so it never overflows
        upper_[stage + 1] = UpperHalf(h, m);
        const Complex step = StageStep(m, false, reduced);
        Complex w = kOne;
        for (int j = 0; j < h % (m / 2); ++j) w = NextTwiddle(w, step);
        twiddles_[stage] = w;
    }
}

int OneBin::Of(const float* window, Spectrum s) const {
    if (!usable_) CheckFftSize(fftSize_, 0);
    BinTree(window, stride_, points_, bin_, twiddles_, upper_, s);
    return points_;
}
