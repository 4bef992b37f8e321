// The block and whole-record frames of the per-sample power exports: the
// moving average carried in the target's RunningSum, the plain product-formula
// block, and the record mean of a per-sample formula.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "frame/arguments.h"
#include "frame/channel_info.h"
#include "power/space_vector.h"
#include "power/window_walk.h"

constexpr uint32_t kActivePower = 1;    // CalcKind
constexpr uint32_t kReactivePower = 2;  // CalcKind
constexpr uint8_t kPlainFormulas = 2;   // DataKind of source 0: voltages in SecondaryData

inline bool IsPowerKind(uint32_t kind) { return kind == kActivePower || kind == kReactivePower; }

// What one position (or two side by side) adds to the moving average: the
// value as stored for its own position and the value formed anew when it leaves
// the window (the second skips the final rounding to a float where the export
// has one).
template <typename T>
struct SampleValueOf {
    T stored;
    T leaving;
};
template <typename T>
SampleValueOf<T> SampleValues(T stored, T leaving) {
    return {stored, leaving};
}

// value(k) of the positions from .. to - 1 into stored[] and leaving[] from
// their index 0, two positions side by side (value(PositionPair{k})) while two remain.
template <typename Value>
void FormValues(const Value& value, int from, int to, double* stored, double* leaving) {
    int k = from;
    for (; to - k >= 2; k += 2) {
        const SampleValueOf<Lanes> two = value(PositionPair{k});
        _mm_storeu_pd(stored + (k - from), two.stored.v);
        _mm_storeu_pd(leaving + (k - from), two.leaving.v);
    }
    if (k < to) {
        const SampleValueOf<double> one = value(k);
        stored[k - from] = one.stored;
        leaving[k - from] = one.leaving;
    }
}

// The moving average over w positions within one call: the running sum, the
// ring of the leaving values this call has formed (null where the block is not
// longer than w) and the ring's next slot.
struct MovingAverage {
    float* out;
    int w;
    int first;
    double* ring;
    double sum;
    int slot;
    // Positions from .. to - 1 in order, entry k - from of each array for
    // position k: its stored value, the value it leaves with later, and the
    // leaving value of position k - w where the ring does not hold it. Where
    // counts is false nothing is stored or summed.
    void Add(int from, int to, bool counts, const double* stored, const double* entering, const double* leavingAnew) {
        double total = sum;
        // Position k's value into the sum; returns the leaving value of position k - w.
        const auto enter = [&](int k) {
            const int i = k - from;
            if (k == 0) total = 0.0;
            double leaving = leavingAnew[i];
            if (ring) {
                // Read the leaving value before the entering one overwrites its slot.
                if (k - w >= first) leaving = ring[slot];
                ring[slot] = entering[i];
                slot = slot + 1 == w ? 0 : slot + 1;
            }
            if (counts) {
                out[k] = static_cast<float>(stored[i]);
                total += stored[i];
            }
            return leaving;
        };
        const double width = w;
        int k = from;
        // Until the first window is full; then its mean goes to all of its positions.
        for (; k < to && k < w; ++k) {
            enter(k);
            if (k == w - 1) std::fill(out, out + w, static_cast<float>(total / width));
        }
        for (; k < to; ++k) {
            const double leaving = enter(k);
            if (counts) total -= leaving;
            out[k] = static_cast<float>(total / width);
        }
        sum = total;
    }
};

// Writes value(k).stored for positions start .. start + count - 1 and averages
// them over the last w positions, the sum living in RunningSum from one call to
// the next (reset at position 0). Once position w - 1 is in, the first w entries
// all get the first window's mean; from then on each position gets the mean of
// the w values ending there, minus the leaving value of the position w back.
// Where counts is false no value is formed, stored or summed. Positions before
// 0 are not processed, so no position before 0 is ever read, and w < 1 writes
// nothing: both lie outside what a host may ask.
template <typename Value>
void MovingAverageBlock(ChannelInfo* target, int start, int count, int w, bool counts, Value value) {
    if (w < 1 || count <= 0) return;
    const int first = FirstInRecord(start);
    const int end = EndOfBlock(start, count);
    if (first >= end) return;
    // The leaving value of a position this call has formed is the same number
    // formed again from the same samples, so the last w of them are kept
    // instead of being formed twice; positions of earlier calls are formed anew.
    // The ring is only worth its memory when the block is longer than w.
    std::unique_ptr<double[]> ring;
    if (w < end - first) ring.reset(new (std::nothrow) double[static_cast<std::size_t>(w)]);
    MovingAverage average{ResultArray(target), w, first, ring.get(), target->RunningSum, 0};
    // The values of a stretch of positions are formed first, two side by
    // side, then added position by position (zeros where nothing counts).
    constexpr int kStretch = 64;
    double stored[kStretch] = {}, entering[kStretch] = {}, leaving[kStretch] = {}, unused[kStretch];
    for (int from = first; from < end;) {
        const int to = end - from > kStretch ? from + kStretch : end;
        if (counts) {
            FormValues(value, from, to, stored, entering);
            // The leaving values the ring does not hold (positions w back of from .. to - 1).
            const int back = from - w;
            const int anewFrom = std::max(back, 0), anewTo = ring ? std::min(to - w, first) : to - w;
            FormValues(value, anewFrom, anewTo, unused, leaving + (anewFrom - back));
        }
        average.Add(from, to, counts, stored, entering, leaving);
        from = to;
    }
    target->RunningSum = average.sum;
}

// The six sources of the three-pair exports: voltages (entries 0, 2, 4) and
// currents (1, 3, 5) from their samples, or for the plain product formulas the
// voltages from SecondaryData.
inline SixSignals SixSamples(ChannelInfo* const (&s)[6]) {
    return {{SampleArray(s[0]), SampleArray(s[2]), SampleArray(s[4])},
            {SampleArray(s[1]), SampleArray(s[3]), SampleArray(s[5])}};
}
inline SixSignals SixWithSecondaryVoltages(ChannelInfo* const (&s)[6]) {
    return {{SecondaryArray(s[0]), SecondaryArray(s[2]), SecondaryArray(s[4])},
            {SampleArray(s[1]), SampleArray(s[3]), SampleArray(s[5])}};
}

// A power value per position from a plain product formula; active(x, k) is the
// unscaled active power of the signals x at k, reactive(x, k) the reactive
// power before its rounding to a float. Other CalcKind values write nothing.
template <typename Signals, typename Active, typename Reactive>
void PlainPowerBlock(ChannelInfo* target, int start, int count, const Signals& x, Active active, Reactive reactive) {
    float* out = ResultArray(target);
    const double scale = target->Scale;
    const int end = EndOfBlock(start, count);
    if (target->CalcKind == kActivePower) {
        for (int k = FirstInRecord(start); k < end; ++k) out[k] = static_cast<float>(active(x, k) * scale);
    } else if (target->CalcKind == kReactivePower) {
        for (int k = FirstInRecord(start); k < end; ++k) {
            const float q = static_cast<float>(reactive(x, k));
            out[k] = static_cast<float>(q * scale);
        }
    }
}

// Mean of a per-sample formula over start .. start + count - 1, times Scale;
// 0.0 for an empty stretch. Other CalcKind values add nothing, and so do
// positions before 0 (the sum is still divided by count).
template <typename Signals, typename Active, typename Reactive>
double PerSampleMean(const ChannelInfo* target, int start, int count, const Signals& x, Active active,
                     Reactive reactive) {
    if (count <= 0) return 0.0;
    double sum = 0.0;
    const int end = EndOfBlock(start, count);
    if (target->CalcKind == kActivePower) {
        for (int k = FirstInRecord(start); k < end; ++k) sum += active(x, k);
    } else if (target->CalcKind == kReactivePower) {
        for (int k = FirstInRecord(start); k < end; ++k) sum += reactive(x, k);
    }
    return sum / count * target->Scale;
}

// The averaged power of a space-vector path: power(pair, active) times Scale
// for the two power kinds, nothing for any other; storedAsFloat says whether
// the value is rounded to a float before it is scaled and stored.
template <typename Signals, typename Power>
void AveragedPowerBlock(ChannelInfo* target, int start, int count, int w, const Signals& signals,
                        Power power, bool storedAsFloat) {
    const uint32_t kind = target->CalcKind;
    const bool active = kind == kActivePower;
    const double scale = target->Scale;
    MovingAverageBlock(target, start, count, w, IsPowerKind(kind), [&](auto k) {
        const auto v = power(signals.At(k), active);
        const auto stored = storedAsFloat ? ToFloat(v) : v;
        return SampleValues(stored * scale, v * scale);
    });
}

// The power of three voltage/current pairs sample by sample: where source 0's
// DataKind asks for the plain formulas, active(x, k) and reactive(x, k) of the
// voltages in SecondaryData with no moving average (RunningSum is not used);
// otherwise power(pair, active) of the samples, averaged over w.
template <typename Active, typename Reactive, typename Power>
void SixSourcePowerBlock(CallRecords records, int start, int count, int w, Active active, Reactive reactive,
                         Power power) {
    ChannelInfo* s[6];
    if (!ResolveSources(records.channels, records.target, records.lookup, s)) return;
    if (s[0]->DataKind == kPlainFormulas) {
        PlainPowerBlock(records.target, start, count, SixWithSecondaryVoltages(s), active, reactive);
        return;
    }
    AveragedPowerBlock(records.target, start, count, w, SixSamples(s), power, true);
}

// The averaged reactive current: every position counts, with no scale, and
// the leaving value is the stored one.
template <typename Signals>
void AveragedReactiveCurrentBlock(ChannelInfo* target, int start, int count, int w, const Signals& signals,
                                  VoltageFrame frame) {
    MovingAverageBlock(target, start, count, w, true, [&](auto k) {
        const auto v = ReactiveCurrent(signals.At(k), frame);
        return SampleValues(v, v);
    });
}
