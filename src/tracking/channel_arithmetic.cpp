// Position-by-position combinations of two channels: their differences, and the
// control angle of a six-pulse converter from its DC and AC line voltages.
#include <algorithm>
#include <cmath>

#include "ampora.h"
#include "dsp/elementary.h"
#include "frame/resolve.h"

namespace {

// DC output of a six-pulse bridge at zero control angle per volt of AC line
// voltage is 1.35; its inverse turns a DC voltage into a cosine of the angle.
constexpr double kInverseBridgeRatio = 0.7407407276587887;
constexpr float kThirdTurn = 1.0471975803375244f;    // 60° in radians
constexpr float kFullTurn = 6.2831854820251465f;
constexpr float kDegreesPerRadian = 57.2957763671875f;

// Runs value(a, b, n) over [start, start + count) with A = source 0 and B =
// source 1, both found by ChannelId. Negative positions are skipped: there is
// nothing before a recording's first sample.
template <typename Value>
void Combine(CPtrList* channels, ChannelInfo* target, int start, int count, Reads reads, const char* exportName,
             Value value) {
    ChannelInfo* ab[2];
    if (!ResolveSources(channels, target, LookupFor(exportName), ab)) return;
    const float* a = ValuesOf(ab[0], reads);
    const float* b = ValuesOf(ab[1], reads);
    float* result = ResultArray(target);
    for (int i = std::max(0, -start); i < count; ++i) {
        const int n = start + i;
        const float stored = value(a[n], b[n]);
        result[n] = stored;
    }
}

// 0° to 60° while the DC voltage is between half and all of 1.35 times the AC
// voltage (arccos r), 60° to 120° below half (arccos(r - 1) - 60°); a ratio
// outside the bridge's range gives 0.
float ControlAngle(float ac, float dc) {
    if (ac == 0.0f) return 0.0f;
    const double r = std::fabs(static_cast<double>(dc)) * kInverseBridgeRatio / ac;
    float angle = 0.0f;
    if (r >= 0.5) {
        if (r <= 1.0) angle = static_cast<float>(Acos(static_cast<float>(r)));
    } else {
        const float shifted = static_cast<float>(r - 1.0);
        if (shifted >= -1.0f) {
            angle = static_cast<float>(Acos(shifted)) - kThirdTurn;
            if (angle < 0.0f) angle += kFullTurn;
        }
    }
    return angle * kDegreesPerRadian;
}

}  // namespace

void GetReduce(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    Combine(channels, target, start, count, Reads::Samples, "GetReduce",
            [](float a, float b) { return static_cast<float>(static_cast<double>(b) - a); });
}

void GetSubtraction(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    Combine(channels, target, start, count, Reads::Samples, "GetSubtraction",
            [](float a, float b) { return static_cast<float>(static_cast<double>(a) - b); });
}

void GetPWMAngle(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count) {
    if (target == nullptr) return;
    Combine(channels, target, start, count, Reads::Results, "GetPWMAngle", ControlAngle);
}
