#include "dsp/window_extremes.h"

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
    *outMax = data[index];
    *outMin = data[index];
    ForEachBeyondIndex(data, width, index, forward, total, [&](float x) {
        if (*outMax < x || *outMax != *outMax || x != x) *outMax = x;
        if (*outMin > x) *outMin = x;
    });
}
