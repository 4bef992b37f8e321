#include "dsp/window_extremes.h"

#include <emmintrin.h>

#include <algorithm>

namespace {

constexpr float kNoDataMax = -65535.0f;
constexpr float kNoDataMin = 65535.0f;

// Visits the stretch after data[index]: width - 1 further elements, stopping at
// the array's start (backward) or at total - 1 (forward).
template <typename Visit>
void ForEachBeyondIndex(const float* data, int width, int index, int forward, int total, Visit visit) {
    if (width < 2) return;
    if (forward == 0) {
        for (int i = index - 1, n = 0; i >= 0 && n < width - 1; --i, ++n) visit(data[i]);
    } else {
        for (int i = index + 1, n = 0; i <= total - 1 && n < width - 1; ++i, ++n) visit(data[i]);
    }
}

// The largest and smallest of n values, four side by side; false (nothing
// written) when a value is not a number or an extreme is zero, where the order
// of the values decides what the one-by-one fold keeps (which NaN or which
// signed zero).
bool OrderFreeMinMax(const float* x, int n, float& high, float& low) {
    constexpr int kLanes = 4;
    if (n < kLanes) return false;
    __m128 most = _mm_loadu_ps(x), least = most, unordered = _mm_cmpunord_ps(most, most);
    for (int i = n % kLanes == 0 ? kLanes : n % kLanes; i < n; i += kLanes) {
        const __m128 v = _mm_loadu_ps(x + i);
        most = _mm_max_ps(most, v);
        least = _mm_min_ps(least, v);
        unordered = _mm_or_ps(unordered, _mm_cmpunord_ps(v, v));
    }
    if (_mm_movemask_ps(unordered) != 0) return false;
    float lanesHigh[kLanes], lanesLow[kLanes];
    _mm_storeu_ps(lanesHigh, most);
    _mm_storeu_ps(lanesLow, least);
    high = lanesHigh[0];
    low = lanesLow[0];
    for (int k = 1; k < kLanes; ++k) {
        if (high < lanesHigh[k]) high = lanesHigh[k];
        if (low > lanesLow[k]) low = lanesLow[k];
    }
    return high != 0.0f && low != 0.0f;
}

}  // namespace

float WindowMax(const float* data, int width, int index, int forward, int total) {
    if (data == nullptr) return kNoDataMax;
    float m = data[index];
    // An equal or unordered value replaces the current one.
    ForEachBeyondIndex(data, width, index, forward, total, [&](float x) { if (!(m > x)) m = x; });
    return m;
}

float WindowMin(const float* data, int width, int index, int forward, int total) {
    if (data == nullptr) return kNoDataMin;
    float m = data[index];
    // An equal value replaces the current one; an unordered one keeps it.
    ForEachBeyondIndex(data, width, index, forward, total, [&](float x) { if (m >= x) m = x; });
    return m;
}

void WindowMinMax(const float* data, int width, int index, int forward, int total, float* outMax,
                  float* outMin) {
    if (data == nullptr) return;
    // Forward, the stretch with data[index] is [index, index + width) cut at
    // total; without a NaN or a zero extreme, any order gives the same values.
    const int forwardCount = width < 2 ? 1 : std::min(width, total - index);
    if (forward != 0 && OrderFreeMinMax(data + index, forwardCount, *outMax, *outMin)) return;
    *outMax = data[index];
    *outMin = data[index];
    ForEachBeyondIndex(data, width, index, forward, total, [&](float x) {
        if (*outMax < x || *outMax != *outMax || x != x) *outMax = x;
        if (*outMin > x) *outMin = x;
    });
}
