// The pulse trackers' rules (GetFrequenceStatus, GetRPM, GetBSCLRPM): rising
// crossings of the level halfway between the source's extremes, between
// neighbouring samples, with the position rounded to a float; a crossing with
// a fall through the level in the glitch window before it is noise; the nine
// samples after a crossing that is kept are not examined. A value is measured
// over a span of several crossings and written as a ramp over the span's
// first period; the first value of a record stands for everything before it.
#pragma once

#include <cstdint>

#include "dsp/crossing.h"
#include "frame/channel_info.h"
#include "frame/host_list.h"
#include "tracking/presence.h"
#include "tracking/tracker.h"

// A source ready for scanning: its samples, the level halfway between its
// extremes and the presence threshold (1 % of its full scale).
struct PulseSource {
    const float* s;
    float level;
    double threshold;
    int32_t total;
};

// Refreshes the source's stored extremes over [0, totalSamples) when asked,
// then sets up the scan. False when the source is flat (both extremes inside
// the threshold): the tracker then writes nothing at all.
bool PreparePulseSource(ChannelInfo* source, int32_t totalSamples, int32_t refreshExtremes, PulseSource* out);

// A rising crossing at t counts only if no pair of samples in the lookBack
// samples before it fell through the level: a short dip and return is noise.
bool IsGlitch(const float* s, float level, float t, int32_t lookBack);

// Where a value measured over a span goes: the first value of a record over
// [0, firstEnd), later ones as a ramp over [rampFrom, rampTo) that reaches the
// value a third of span after origin.
struct SpanWrite {
    int32_t firstEnd, rampFrom, rampTo;
    double origin, span;
};

// The curve of a pulse tracker and its state in the target record:
// TrackState[1] (0.0 until the first value is written, then 1.0),
// TrackState[3] (the last value, where the next ramp starts) and HeldValue
// (the value the block's tail holds).
struct PulseCurve {
    float* r;
    double started, lastValue, held;

    static PulseCurve Load(const ChannelInfo* target) {
        return {ResultArray(target), target->TrackState[1], target->TrackState[3], target->HeldValue};
    }
    void Write(double value, const SpanWrite& w) {
        if (started == 0.0) {
            Fill(r, 0, w.firstEnd, static_cast<float>(value));
            started = 1.0;
        } else {
            RampOverFirstThird(r, w.rampFrom, w.rampTo, lastValue, value, w.origin, w.span);
        }
        lastValue = value;
        held = value;
    }
    // Until the next call ramps over it, the curve from tailFrom holds the last
    // value (0 in the record's first block, one that starts at 0 or 1).
    void Finish(ChannelInfo* target, int32_t tailFrom, int32_t start, int32_t end) const {
        Fill(r, tailFrom, end, start > 1 ? static_cast<float>(held) : 0.0f);
        target->TrackState[1] = started;
        target->TrackState[3] = lastValue;
        target->HeldValue = held;
        target->LastBlockEnd = static_cast<uint32_t>(end);
    }
};

// The samples in the glitch window and the skip after a stored crossing.
constexpr int32_t kSkipAfterCrossing = 9;

// What the pulse trackers share of the tracker's rules; a tracker adds how it
// keeps its crossings (Take) and what it makes of a span (Close).
template <RiseTest Rises>
struct PulseRules : NoQuietStretch {
    PulseSource source;
    int32_t lookBack;   // the glitch window, samples
    PulseCurve curve;

    PulseRules(const PulseSource& pulseSource, int32_t glitchWindow, const ChannelInfo* target)
        : source(pulseSource), lookBack(glitchWindow), curve(PulseCurve::Load(target)) {}

    // The pair (n - 1, n) rises; its position, rounded to a float, lies in the
    // record (past 2^24 the rounding may carry it outside) and is no glitch.
    bool CrossingAt(int64_t n, double* t) const {
        const float* s = source.s;
        if (!Rises(s[n - 1], s[n], source.level)) return false;
        const float position = static_cast<float>(InRecordOrNone(
            static_cast<float>(CrossingPosition(static_cast<double>(n), s[n - 1], s[n], source.level)), source.total));
        if (position == 0.0f || (lookBack > 0 && IsGlitch(s, source.level, position, lookBack))) return false;
        *t = position;
        return true;
    }
    int64_t Between(int64_t n, int64_t end) const { return NextRiseCandidate(source.s, n + 1, end, source.level); }
    int64_t AfterOpening(double, int64_t n) const { return n + kSkipAfterCrossing; }

    // Whether the samples of a span swing beyond the presence threshold.
    bool Swings(int32_t from, int32_t length) const {
        float high = 0.0f, low = 0.0f;
        WindowMinMax(source.s, length, from, 1, source.total, &high, &low);
        return !BothBelow(high, low, source.threshold);
    }

    // A span too long to measure: its first period reads 0, and the ramp after
    // it starts from carried. The scan goes on at the next pair.
    int64_t TooSlow(int32_t from, int32_t to, double carried, int64_t n) {
        Fill(curve.r, from, to, 0.0f);
        curve.lastValue = carried;
        curve.held = carried;
        return n + 1;
    }
    int64_t Measured(double value, const SpanWrite& w, int64_t n) {
        curve.Write(value, w);
        return n + kSkipAfterCrossing;
    }
};

// GetFrequenceStatus and GetRPM: a value over three periods, from the last
// three crossings kept in TrackState[2], [4] and [5].
struct ThreeSlotRule {
    double valueFactor;   // value = samplesPer20ms * valueFactor / span
    double slowLimitMs;   // a span longer than this many milliseconds is too slow
};

struct ThreeSlotCall {
    int32_t start, count, samplesPer20ms, totalSamples;
    double samplesPerMs;
};

// A whole three-slot export: its one source resolved by the export's own rule
// and prepared, the glitch window set to half a millisecond, then the tracker.
// Nothing is written when the source is missing or flat.
template <RiseTest Rises>
void TrackThreeSlots(CPtrList* channels, ChannelInfo* target, const char* exportName, const ThreeSlotRule& rule,
                     int32_t refreshExtremes, const ThreeSlotCall& call);
extern template void TrackThreeSlots<RisesOntoLevel>(CPtrList*, ChannelInfo*, const char*, const ThreeSlotRule&,
                                                     int32_t, const ThreeSlotCall&);
extern template void TrackThreeSlots<RisesThrough>(CPtrList*, ChannelInfo*, const char*, const ThreeSlotRule&,
                                                   int32_t, const ThreeSlotCall&);
