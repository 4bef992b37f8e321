// The block and whole-record frames of the per-sample power exports: the
// moving average carried in the target's RunningSum, the plain product-formula
// block, and the record mean of a per-sample formula.
#pragma once

#include <algorithm>
#include <cstdint>

#include "frame/channel_info.h"
#include "power/space_vector.h"

constexpr uint32_t kActivePower = 1;    // CalcKind
constexpr uint32_t kReactivePower = 2;  // CalcKind
constexpr uint8_t kPlainFormulas = 2;   // DataKind of source 0: voltages in SecondaryData

inline bool IsPowerKind(uint32_t kind) { return kind == kActivePower || kind == kReactivePower; }

// What one position adds to the moving average; a position that counts for
// nothing (a CalcKind other than active or reactive) is neither stored nor summed.
struct SampleValue {
    bool counts;
    double value;
};

// Writes value(k) for positions start .. start + count - 1 and averages them over
// the last w positions, the sum living in RunningSum from one call to the next
// (reset at position 0). Once position w - 1 is in, the first w entries all get
// the first window's mean; from then on each position gets the mean of the w
// values ending there, the value leaving the window formed anew from its samples.
// Positions before 0 are not processed, so no position before 0 is ever read,
// and w < 1 writes nothing: both lie outside what a host may ask.
template <typename Value>
void MovingAverageBlock(ChannelInfo* target, int start, int count, int w, Value value) {
    if (w < 1 || count <= 0) return;
    const int first = std::max(start, 0);
    const int end = start + count;
    if (first >= end) return;
    float* out = ResultArray(target);
    double sum = target->RunningSum;
    for (int k = first; k < end; ++k) {
        if (k == 0) sum = 0.0;
        const SampleValue entering = value(k, Pass::Stored);
        if (entering.counts) {
            out[k] = static_cast<float>(entering.value);
            sum += entering.value;
        }
        if (k < w - 1) continue;
        if (k == w - 1) {
            const float firstMean = static_cast<float>(sum / w);
            std::fill(out, out + w, firstMean);
            continue;
        }
        const SampleValue leaving = value(k - w, Pass::Recomputed);
        if (leaving.counts) sum -= leaving.value;
        const float mean = static_cast<float>(sum / w);
        out[k] = mean;
    }
    target->RunningSum = sum;
}

// A power value per position from a plain product formula; active(k) is the
// unscaled active power, reactive(k) the reactive power before its rounding to
// a float. Other CalcKind values write nothing.
template <typename Active, typename Reactive>
void PlainPowerBlock(ChannelInfo* target, int start, int count, Active active, Reactive reactive) {
    float* out = ResultArray(target);
    const double scale = target->Scale;
    const int end = start + count;
    if (target->CalcKind == kActivePower) {
        for (int k = start; k < end; ++k) out[k] = static_cast<float>(active(k) * scale);
    } else if (target->CalcKind == kReactivePower) {
        for (int k = start; k < end; ++k) {
            const float q = static_cast<float>(reactive(k));
            out[k] = static_cast<float>(q * scale);
        }
    }
}

// Mean of a per-sample formula over start .. start + count - 1, times Scale;
// 0.0 for an empty stretch. Other CalcKind values add nothing.
template <typename Active, typename Reactive>
double PerSampleMean(const ChannelInfo* target, int start, int count, Active active, Reactive reactive) {
    if (count <= 0) return 0.0;
    double sum = 0.0;
    const int end = start + count;
    if (target->CalcKind == kActivePower) {
        for (int k = start; k < end; ++k) sum += active(k);
    } else if (target->CalcKind == kReactivePower) {
        for (int k = start; k < end; ++k) sum += reactive(k);
    }
    return sum / count * target->Scale;
}

// The averaged power of a space-vector path: power(pair, active, pass) times
// Scale for the two power kinds, nothing for any other.
template <typename Signals, typename Power>
void AveragedPowerBlock(ChannelInfo* target, int start, int count, int w, const Signals& signals,
                        Power power) {
    const uint32_t kind = target->CalcKind;
    const bool active = kind == kActivePower;
    const double scale = target->Scale;
    MovingAverageBlock(target, start, count, w, [&](int k, Pass pass) {
        if (!IsPowerKind(kind)) return SampleValue{false, 0.0};
        return SampleValue{true, power(signals.At(k), active, pass) * scale};
    });
}

// The averaged reactive current: every position counts, with no scale.
template <typename Signals>
void AveragedReactiveCurrentBlock(ChannelInfo* target, int start, int count, int w, const Signals& signals,
                                  VoltageFrame frame) {
    MovingAverageBlock(target, start, count, w, [&](int k, Pass) {
        return SampleValue{true, ReactiveCurrent(signals.At(k), frame)};
    });
}
