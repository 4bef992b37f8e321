// Straight-line curves: out[i] = anchor + slope · x, rounded to float where it
// is stored, with x the index first + i (StoreRamp) or that index less an
// origin (StoreRampFrom). Eight entries per pass, two per SSE2 register, each
// entry formed by the same double operations in the same order as the scalar
// expression (the index is exact in a double), so the bits are those of a
// plain loop. A count of 0 or less writes nothing.
#pragma once

#include <emmintrin.h>

namespace ramp_detail {

template <bool LessOrigin>
inline void Store(float* out, int count, double anchor, double slope, int first, double origin) {
    const __m128d a = _mm_set1_pd(anchor), s = _mm_set1_pd(slope), o = _mm_set1_pd(origin);
    const __m128d eight = _mm_set1_pd(8.0);
    __m128d index[4];
    for (int j = 0; j < 4; ++j) index[j] = _mm_setr_pd(first + 2.0 * j, first + 2.0 * j + 1.0);
    const auto two = [&](__m128d k) {
        const __m128d x = LessOrigin ? _mm_sub_pd(k, o) : k;
        return _mm_cvtpd_ps(_mm_add_pd(a, _mm_mul_pd(s, x)));
    };
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_ps(out + i, _mm_movelh_ps(two(index[0]), two(index[1])));
        _mm_storeu_ps(out + i + 4, _mm_movelh_ps(two(index[2]), two(index[3])));
        for (__m128d& k : index) k = _mm_add_pd(k, eight);
    }
    for (; i < count; ++i) {
        const double k = first + i;
        out[i] = static_cast<float>(anchor + slope * (LessOrigin ? k - origin : k));
    }
}

}  // namespace ramp_detail

inline void StoreRamp(float* out, int count, double anchor, double slope, int first) {
    ramp_detail::Store<false>(out, count, anchor, slope, first, 0.0);
}

inline void StoreRampFrom(float* out, int count, double anchor, double slope, int first, double origin) {
    ramp_detail::Store<true>(out, count, anchor, slope, first, origin);
}
