// Two doubles side by side in one SSE2 register, for the per-sample formulas
// that run on two positions at once. Every operator is the one double
// operation of the scalar formula on both lanes (no fused or reordered
// arithmetic), so a formula written once for double and for Lanes gives each
// lane the bits the double formula gives that value alone.
#pragma once

#include <emmintrin.h>

struct Lanes {
    __m128d v;
    Lanes() = default;
    Lanes(__m128d value) : v(value) {}
    // Implicit, so the constants of a formula serve both lanes.
    Lanes(double both) : v(_mm_set1_pd(both)) {}
    static Lanes Of(double low, double high) { return _mm_setr_pd(low, high); }
    double Low() const { return _mm_cvtsd_f64(v); }
    double High() const { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
};

// Entries k and k + 1 of a float array, widened.
inline Lanes TwoFloats(const float* x) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))));
}

inline Lanes operator+(Lanes a, Lanes b) { return _mm_add_pd(a.v, b.v); }
inline Lanes operator-(Lanes a, Lanes b) { return _mm_sub_pd(a.v, b.v); }
inline Lanes operator*(Lanes a, Lanes b) { return _mm_mul_pd(a.v, b.v); }
inline Lanes operator/(Lanes a, Lanes b) { return _mm_div_pd(a.v, b.v); }
// Negation flips the sign bit, as the scalar negation does (0 - x would turn +0 into +0).
inline Lanes operator-(Lanes a) { return _mm_xor_pd(a.v, _mm_set1_pd(-0.0)); }
inline Lanes Sqrt(Lanes a) { return _mm_sqrt_pd(a.v); }
// Each lane rounded to a float and widened back.
inline Lanes ToFloat(Lanes a) { return _mm_cvtps_pd(_mm_cvtpd_ps(a.v)); }
inline Lanes Abs(Lanes a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a.v); }
// The sign bits of the lanes, and a value with its sign bits flipped by them.
inline Lanes SignBits(Lanes a) { return _mm_and_pd(a.v, _mm_set1_pd(-0.0)); }
inline Lanes FlipSigns(Lanes a, Lanes signs) { return _mm_xor_pd(a.v, signs.v); }

// A comparison per lane: all ones where it holds.
struct LaneMask {
    __m128d m;
};
inline LaneMask operator<(Lanes a, Lanes b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline LaneMask operator>(Lanes a, Lanes b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline LaneMask operator==(Lanes a, Lanes b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
// Lanes where a <= b fails, NaN included.
inline LaneMask NotAtMost(Lanes a, Lanes b) { return {_mm_cmpnle_pd(a.v, b.v)}; }
inline bool Any(LaneMask mask) { return _mm_movemask_pd(mask.m) != 0; }
inline Lanes Select(LaneMask mask, Lanes yes, Lanes no) {
    return _mm_or_pd(_mm_and_pd(mask.m, yes.v), _mm_andnot_pd(mask.m, no.v));
}

// f of each lane alone: the way out where the lanes would take different branches.
template <typename F>
Lanes PerLane(Lanes x, F f) {
    return Lanes::Of(f(x.Low()), f(x.High()));
}
template <typename F>
Lanes PerLane(Lanes x, Lanes y, F f) {
    return Lanes::Of(f(x.Low(), y.Low()), f(x.High(), y.High()));
}
