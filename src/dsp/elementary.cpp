#include "dsp/elementary.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The upper 32 bits of a double: sign, exponent and the top of the mantissa.
uint32_t HighWord(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return static_cast<uint32_t>(bits >> 32);
}

int Exponent(double x) { return static_cast<int>((HighWord(x) >> 20) & 0x7ff); }

// The upper words of two lanes with the sign cleared, as 32-bit integers in the
// order low, high, low, high.
__m128i HighWords(Lanes x) {
    return _mm_and_si128(_mm_shuffle_epi32(_mm_castpd_si128(x.v), _MM_SHUFFLE(3, 1, 3, 1)),
                         _mm_set1_epi32(0x7fffffff));
}

// Bit i set where word i of `highs` is at or above `from[i]` (words below 2^31: a signed compare serves).
int AtOrAbove(__m128i highs, const __m128i& from) {
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(highs, _mm_sub_epi32(from, _mm_set1_epi32(1)))));
}

constexpr uint32_t kQuarterPiHigh = 0x3fe921fb;      // |x| <= pi/4: no reduction
constexpr uint32_t kReducibleHigh = 0x413921fb;      // |x| <= 2^19 pi/2: three-part reduction
constexpr uint32_t kNonFiniteHigh = 0x7ff00000;

// The kernels, the first step of the reduction and the arc tangent's series
// are written once for a double and for two lanes (Lanes), so each lane runs
// exactly the operations of the scalar function. Their constants are held as
// T: for two lanes as pairs formed when the library loads, which the
// arithmetic reads from memory as operands (GCC builds a pair from a constant
// double with two instructions at each use).

template <typename T>
struct SinConstants {
    T s1, s2, s3, s4, s5, s6, half;
};
template <typename T>
const SinConstants<T> kSinConstants = {-1.66666666666666324348e-01, 8.33333333332248946124e-03,
                                       -1.98412698298579493134e-04, 2.75573137070700676789e-06,
                                       -2.50507602534068634195e-08, 1.58969099521155010221e-10, 0.5};

// sin(x + y) for |x + y| <= pi/4, y the tail of a reduced argument.
template <typename T>
T KernelSin(T x, T y) {
    const SinConstants<T>& k = kSinConstants<T>;
    const T z = x * x;
    const T v = z * x;
    const T r = k.s2 + z * (k.s3 + z * (k.s4 + z * (k.s5 + z * k.s6)));
    return x - ((z * (k.half * y - v * r) - y) - v * k.s1);
}

template <typename T>
struct CosConstants {
    T c1, c2, c3, c4, c5, c6, half, one;
};
template <typename T>
const CosConstants<T> kCosConstants = {4.16666666666666019037e-02,  -1.38888888888741095749e-03,
                                       2.48015872894767294178e-05,  -2.75573143513906633035e-07,
                                       2.08757232129817482790e-09,  -1.13596475577881948265e-11,
                                       0.5,
                                       1.0};

// cos(x + y) for |x + y| <= pi/4.
template <typename T>
T KernelCos(T x, T y) {
    const CosConstants<T>& k = kCosConstants<T>;
    const T z = x * x;
    const T w = z * z;
    const T r = z * (k.c1 + z * (k.c2 + z * k.c3)) + w * w * (k.c4 + z * (k.c5 + z * k.c6));
    const T hz = k.half * z;
    const T one = k.one - hz;
    return one + (((k.one - one) - hz) + (z * r - x * y));
}

// The whole number of a non-negative double below 2^31, as static_cast<int> truncates it.
double Truncated(double x) { return static_cast<int>(x); }
Lanes Truncated(Lanes x) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(x.v)); }

// t = fn pi/2 + (r - w) for 0 <= t <= 2^19 pi/2, pi/2 taken to its first 33
// bits (head = r - w); the later bits are needed only when these cancel too
// many bits of t.
template <typename T>
struct FirstReduction {
    T fn, r, w, head;
};
template <typename T>
struct ReductionConstants {
    T invHalfPi, half, part1, part1Tail;
};
template <typename T>
const ReductionConstants<T> kReductionConstants = {6.36619772367581382433e-01, 0.5, 1.57079632673412561417e+00,
                                                   6.07710050650619224932e-11};
template <typename T>
FirstReduction<T> FirstReductionOf(T t) {
    const ReductionConstants<T>& k = kReductionConstants<T>;
    const T fn = Truncated(t * k.invHalfPi + k.half);
    const T r = t - fn * k.part1;
    const T w = fn * k.part1Tail;
    return {fn, r, w, r - w};
}

// x = n pi/2 + (head + tail), |head + tail| <= pi/4, for |x| <= 2^19 pi/2:
// pi/2 in three parts of 33 bits, the later parts used only when the earlier
// ones cancel too many bits of x.
int ReduceByHalfPi(double x, double& head, double& tail) {
    constexpr double part2 = 6.07710050630396597660e-11, part2Tail = 2.02226624879595063154e-21;
    constexpr double part3 = 2.02226624871116645580e-21, part3Tail = 8.47842766036889956997e-32;
    const double t = std::fabs(x);
    const FirstReduction<double> first = FirstReductionOf(t);
    const int n = static_cast<int>(first.fn);
    const double fn = first.fn;
    double r = first.r;
    double w = first.w;
    head = first.head;
    const int exponent = Exponent(t);
    if (exponent - Exponent(head) > 16) {
        double u = r;
        w = fn * part2;
        r = u - w;
        w = fn * part2Tail - ((u - r) - w);
        head = r - w;
        if (exponent - Exponent(head) > 49) {
            u = r;
            w = fn * part3;
            r = u - w;
            w = fn * part3Tail - ((u - r) - w);
            head = r - w;
        }
    }
    tail = (r - head) - w;
    if (x < 0) {
        head = -head;
        tail = -tail;
        return -n;
    }
    return n;
}

// Whether the exponent of some lane of `to` lies more than `bits` below that of `from`.
bool AnyExponentDrop(Lanes from, Lanes to, int bits) {
    const auto exponents = [](Lanes x) { return _mm_srli_epi64(_mm_slli_epi64(_mm_castpd_si128(x.v), 1), 53); };
    const __m128i drop = _mm_sub_epi32(exponents(from), exponents(to));
    return _mm_movemask_epi8(_mm_cmpgt_epi32(drop, _mm_set1_epi32(bits))) != 0;
}

// Two nonzero arguments within 2^19 pi/2 reduced side by side as the scalar
// reduction does, n[] their quadrants; false where a lane needs the later
// values of pi/2.
bool ReduceByHalfPi(Lanes x, Lanes& head, Lanes& tail, int (&n)[2]) {
    const Lanes t = Abs(x);
    const FirstReduction<Lanes> first = FirstReductionOf(t);
    if (AnyExponentDrop(t, first.head, 16)) return false;
    const Lanes signs = SignBits(x);   // x < 0 where the sign is set, x being nonzero
    head = FlipSigns(first.head, signs);
    tail = FlipSigns((first.r - first.head) - first.w, signs);
    const __m128i whole = _mm_cvttpd_epi32(first.fn.v);
    const int negative = _mm_movemask_pd(signs.v);
    n[0] = negative & 1 ? -_mm_cvtsi128_si32(whole) : _mm_cvtsi128_si32(whole);
    n[1] = negative & 2 ? -_mm_cvtsi128_si32(_mm_srli_si128(whole, 4)) : _mm_cvtsi128_si32(_mm_srli_si128(whole, 4));
    return true;
}

// Beyond 2^19 pi/2 radians (far outside the angles of a recording) the angle
// is first folded by the double nearest 2 pi; fmod is exact on every build,
// so the result stays the same everywhere and tracks the argument to about
// |x| * 1e-16 radians.
double FoldLarge(double x) {
    constexpr double kTwoPi = 6.28318530717958647692;
    return std::fmod(x, kTwoPi);
}

// The quadrant n of a reduced argument picks the kernel and the sign.
double SinOfReduced(int n, double head, double tail) {
    switch (n & 3) {
        case 0: return KernelSin(head, tail);
        case 1: return KernelCos(head, tail);
        case 2: return -KernelSin(head, tail);
        default: return -KernelCos(head, tail);
    }
}

// sin(x + quarterTurns pi/2): sine and cosine share the reduction and the kernels.
double ShiftedSin(double x, int quarterTurns) {
    const uint32_t high = HighWord(x) & 0x7fffffff;
    if (high <= kQuarterPiHigh) return quarterTurns ? KernelCos(x, 0.0) : KernelSin(x, 0.0);
    if (high >= kNonFiniteHigh) return x - x;
    if (high > kReducibleHigh) x = FoldLarge(x);
    double head, tail;
    const int n = ReduceByHalfPi(x, head, tail);
    return SinOfReduced(n + quarterTurns, head, tail);
}

// Two lanes side by side where both are within pi/4, or both reduce by the
// first value of pi/2 alone into quadrants that pick the same kernel (the
// sign may differ: negation flips a sign bit); otherwise lane by lane.
Lanes ShiftedSin(Lanes x, int quarterTurns) {
    const __m128i highs = HighWords(x);
    const int beyondQuarterPi = AtOrAbove(highs, _mm_set1_epi32(kQuarterPiHigh + 1)) & 3;
    if (beyondQuarterPi == 0) return quarterTurns ? KernelCos(x, Lanes(0.0)) : KernelSin(x, Lanes(0.0));
    const auto alone = [quarterTurns](double v) { return ShiftedSin(v, quarterTurns); };
    Lanes head, tail;
    int n[2];
    if (beyondQuarterPi != 3 || (AtOrAbove(highs, _mm_set1_epi32(kReducibleHigh + 1)) & 3) != 0 ||
        !ReduceByHalfPi(x, head, tail, n))
        return PerLane(x, alone);
    const int q0 = n[0] + quarterTurns, q1 = n[1] + quarterTurns;
    if ((q0 ^ q1) & 1) return PerLane(x, alone);
    const Lanes value = q0 & 1 ? KernelCos(head, tail) : KernelSin(head, tail);
    return FlipSigns(value, Lanes::Of(q0 & 2 ? -0.0 : 0.0, q1 & 2 ? -0.0 : 0.0));
}

// The series' coefficients, atan of the centres 1/2, 1, 3/2 and infinity each
// as a double and the rest, and the constants of the shifts to the centres.
template <typename T>
struct AtanConstants {
    T aT[11];
    T high[4];
    T low[4];
    T one, oneAndHalf, two;
};
template <typename T>
const AtanConstants<T> kAtanConstants = {
    {3.33333333333329318027e-01, -1.99999999998764832476e-01, 1.42857142725034663711e-01,
     -1.11111104054623557880e-01, 9.09088713343650656196e-02, -7.69187620504482999495e-02,
     6.66107313738753120669e-02, -5.83357013379057348645e-02, 4.97687799461593236017e-02,
     -3.65315727442169155270e-02, 1.62858201153657823623e-02},
    {4.63647609000806093515e-01, 7.85398163397448278999e-01, 9.82793723247329054082e-01,
     1.57079632679489655800e+00},
    {2.26987774529616870924e-17, 3.06161699786838301793e-17, 1.39033110312309984516e-17,
     6.12323399573676603587e-17},
    1.0,
    1.5,
    2.0};

// The argument reduction Atan takes, from |x|'s upper word: the argument
// itself (tiny), the series directly (below 7/16), a shift to one of four
// centres (0 to 3), or the rounded pi/2 (huge, infinities too). kAtanFrom[id + 2]
// is the upper word at which range id starts.
constexpr int kAtanTiny = -2, kAtanSeries = -1, kAtanHuge = 4;
constexpr uint32_t kAtanFrom[] = {0, 0x3e400000, 0x3fdc0000, 0x3fe60000, 0x3ff30000, 0x40038000, 0x44100000};
int AtanRange(uint32_t high) {
    int id = kAtanHuge;
    while (high < kAtanFrom[id + 2]) --id;
    return id;
}

// The range both lanes share, or kAtanMixed: each word of the upper words
// (low, high, low, high) is compared with the starts of two ranges at once;
// the ranges agree where both lanes pass the same starts, and the count of
// starts passed gives the range.
constexpr int kAtanMixed = -3;
int SharedAtanRange(Lanes x) {
    const __m128i highs = HighWords(x);
    const auto passed = [&highs](int range) {
        const int a = static_cast<int>(kAtanFrom[range]), b = static_cast<int>(kAtanFrom[range + 1]);
        return AtOrAbove(highs, _mm_setr_epi32(a, a, b, b));
    };
    const int mask = passed(1) | passed(3) << 4 | passed(5) << 8;
    if ((mask ^ (mask >> 1)) & 0x555) return kAtanMixed;
    return __builtin_ctz(~mask) / 2 + kAtanTiny;
}

// |x| moved to the centre c of range id: atan |x| = atan c + atan(shifted).
template <typename T>
T ShiftToCentre(T x, int id) {
    const AtanConstants<T>& k = kAtanConstants<T>;
    switch (id) {
        case 0: return (k.two * x - k.one) / (k.two + x);
        case 1: return (x - k.one) / (x + k.one);
        case 2: return (x - k.oneAndHalf) / (k.one + k.oneAndHalf * x);
        default: return -k.one / x;
    }
}

// The odd series of a reduced argument x, added to the centre's angle for id >= 0.
template <typename T>
T AtanOfReduced(T x, int id) {
    const T* aT = kAtanConstants<T>.aT;
    const T z = x * x;
    const T w = z * z;
    const T s1 = z * (aT[0] + w * (aT[2] + w * (aT[4] + w * (aT[6] + w * (aT[8] + w * aT[10])))));
    const T s2 = w * (aT[1] + w * (aT[3] + w * (aT[5] + w * (aT[7] + w * aT[9]))));
    if (id < 0) return x - x * (s1 + s2);
    return kAtanConstants<T>.high[id] - ((x * (s1 + s2) - kAtanConstants<T>.low[id]) - x);
}

}  // namespace

double Sin(double x) { return ShiftedSin(x, 0); }

double Cos(double x) { return ShiftedSin(x, 1); }

Lanes Sin(Lanes x) { return ShiftedSin(x, 0); }

Lanes Cos(Lanes x) { return ShiftedSin(x, 1); }

double Atan(double x) {
    if (std::isnan(x)) return x + x;
    const bool negative = std::signbit(x);
    const int id = AtanRange(HighWord(x) & 0x7fffffff);
    const double halfPi = kAtanConstants<double>.high[3] + kAtanConstants<double>.low[3];
    if (id == kAtanHuge) return negative ? -halfPi : halfPi;
    if (id == kAtanTiny) return x;
    if (id == kAtanSeries) return AtanOfReduced(x, id);
    const double result = AtanOfReduced(ShiftToCentre(std::fabs(x), id), id);
    return negative ? -result : result;
}

// Side by side where both lanes take the same reduction (NaN and the huge and
// tiny ranges lane by lane); the sign of each lane restored by flipping its bit.
Lanes Atan(Lanes x) {
    const int id = SharedAtanRange(x);
    if (id == kAtanMixed || id == kAtanHuge || id == kAtanTiny)
        return PerLane(x, [](double v) { return Atan(v); });
    if (id == kAtanSeries) return AtanOfReduced(x, id);
    return FlipSigns(AtanOfReduced(ShiftToCentre(Abs(x), id), id), SignBits(x));
}

// The arc cosine by the half-angle identities, each branch a rational
// approximation R(z) of (asin(sqrt z) - sqrt z) / sqrt z on z <= 1/4:
//   |x| < 1/2:  acos x = pi/2 - asin x, asin x = x + x R(x²)
//   x > 1/2:    acos x = 2 asin(s), s = sqrt((1 - x)/2), with s split into a
//               head of 26 bits (its square exact) and a correction
//   x < -1/2:   acos x = pi - 2 asin(s), s = sqrt((1 + x)/2)
// pi/2 is carried in two parts so the sums keep its last bits. (The arc
// tangent of sqrt(1 - x²)/x loses up to two units near |x| = 1.)
double Acos(double x) {
    constexpr double kPi = 3.14159265358979311600e+00;
    constexpr double kHalfPiHigh = 1.57079632679489655800e+00;
    constexpr double kHalfPiLow = 6.12323399573676603587e-17;
    constexpr uint32_t kTinyHigh = 0x3c600000;   // |x| below 2^-57: acos x rounds to pi/2
    const double absolute = std::fabs(x);
    if (!(absolute <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
    if (absolute == 1.0) return x > 0.0 ? 0.0 : kPi + 2.0 * kHalfPiLow;
    // R(z) = p(z) / q(z), with p carrying the factor z.
    const auto ratio = [](double z) {
        constexpr double p0 = 1.66666666666666657415e-01, p1 = -3.25565818622400915405e-01,
                         p2 = 2.01212532134862925881e-01, p3 = -4.00555345006794114027e-02,
                         p4 = 7.91534994289814532176e-04, p5 = 3.47933107596021167570e-05;
        constexpr double q1 = -2.40339491173441421878e+00, q2 = 2.02094576023350569471e+00,
                         q3 = -6.88283971605453293030e-01, q4 = 7.70381505559019352791e-02;
        const double p = z * (p0 + z * (p1 + z * (p2 + z * (p3 + z * (p4 + z * p5)))));
        const double q = 1.0 + z * (q1 + z * (q2 + z * (q3 + z * q4)));
        return p / q;
    };
    if (absolute < 0.5) {
        if (HighWord(absolute) <= kTinyHigh) return kHalfPiHigh + kHalfPiLow;
        return kHalfPiHigh - (x - (kHalfPiLow - x * ratio(x * x)));
    }
    if (x < 0.0) {
        const double z = (1.0 + x) * 0.5;
        const double s = std::sqrt(z);
        const double w = ratio(z) * s - kHalfPiLow;
        return kPi - 2.0 * (s + w);
    }
    const double z = (1.0 - x) * 0.5;
    const double s = std::sqrt(z);
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    bits &= 0xffffffff00000000ull;   // the head: s with its low 32 bits cleared
    double head;
    std::memcpy(&head, &bits, sizeof head);
    const double correction = (z - head * head) / (s + head);
    return 2.0 * (head + (ratio(z) * s + correction));
}
