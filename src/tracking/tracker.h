// The crossing tracker every block export that follows a signal's periods
// shares: frequency, speed and the cycle rms curves.
//
// A call scans the block's positions. At each one the export's rules say
// whether the position is part of a quiet stretch, whether a crossing that
// counts lies there (and where), and otherwise how far the scan strides. A
// crossing either opens a period (the scan resumes after the rules' dead
// time) or closes one: the rules then classify the period by their limits,
// measure its value, write the curve and say where the scan resumes. The
// scan never steps back. State lives in the target record: the rules load it
// when the call starts and store it when it ends.
//
// The rules are a type with these members (n a scan position, in 64 bits so a
// resume as long as the record cannot overflow):
//   bool Quiet(int64_t n, int64_t* next)       a quiet stretch from n, handled;
//                                                 *next is where the scan resumes
//   bool CrossingAt(int64_t n, double* t)      a crossing that counts at n, at *t
//   int64_t Between(int64_t n, int64_t end)    no crossing at n: the next position
//                                                 that may hold one (end: none before it)
//   Period Take(double t)                      the crossing opens or closes a period
//   int64_t AfterOpening(double t, int64_t n)  the dead time after an opening crossing
//   int64_t Close(const Period& p, int64_t n)  limits, value and curve of a period
#pragma once

#include <algorithm>
#include <cstdint>

#include "dsp/ramp.h"
#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/channel_info.h"

// A period between two crossing positions; closed is false while only its
// opening crossing is known.
struct Period {
    double opening = 0.0, closing = 0.0;
    bool closed = false;
    double Length() const { return closing - opening; }
};

// One position of the scan; returns where the scan goes on.
template <class Rules>
int64_t TrackStep(Rules& rules, int64_t n, int64_t end) {
    int64_t next = n;
    if (rules.Quiet(n, &next)) return next;
    double t = 0.0;
    if (!rules.CrossingAt(n, &t)) return rules.Between(n, end);
    const Period period = rules.Take(t);
    return period.closed ? rules.Close(period, n) : rules.AfterOpening(t, n);
}

// Scans [first, end). A rule that lands at or before the current position
// (a crossing interpolated far back, a resume clipped to the block) steps on.
template <class Rules>
void Track(Rules& rules, int64_t first, int64_t end) {
    for (int64_t n = first; n < end;) n = std::max(TrackStep(rules, n, end), n + 1);
}

// The crossing memory of the trackers that measure one period at a time: the
// crossing that opened the current period, and the one that closes it.
struct OpenPeriod {
    double opening = 0.0, closing = 0.0;

    Period Take(double t) {
        if (opening == 0.0) {
            opening = t;
            return {};
        }
        closing = t;
        return {opening, closing, true};
    }
    // The closing crossing opens the next period.
    void Advance() {
        opening = closing;
        closing = 0.0;
    }
};

// Rules without a quiet-stretch test derive from this.
struct NoQuietStretch {
    bool Quiet(int64_t, int64_t*) { return false; }
};

// ---- Bounds: what the trackers accept from the host and from the record ----

// A crossing position, fresh or from a state slot, that is not finite or lies
// outside the record (after sample 0, at or before sample totalSamples - 1) is
// none: 0.0, the empty slot. So a slot left from a longer recording, or an
// interpolation that aims far past its pair, never indexes an array.
inline double InRecordOrNone(double position, int64_t totalSamples) {
    return position > 0.0 && position <= static_cast<double>(totalSamples - 1) ? position : 0.0;
}

// The end of the curve written so far, from its state field: an end past
// bound (left from a longer recording) starts the curve afresh at 0.
inline int32_t WrittenEndOrStart(uint32_t stored, int32_t bound) {
    return stored <= static_cast<uint32_t>(bound) ? static_cast<int32_t>(stored) : 0;
}

// The scan's stride for about scanRate examined positions per second: every
// position up to that rate, else samplesPerMs * 1000 / scanRate positions,
// truncated. A stride at or beyond bound (the positions there are) finds no
// pair, as any longer one would.
inline int32_t ScanStride(double samplesPerMs, double scanRate, int32_t bound) {
    constexpr double kMsPerSecond = 1000.0;
    if (samplesPerMs * kMsPerSecond <= scanRate) return 1;
    return TruncWithin(samplesPerMs * (kMsPerSecond / scanRate), 1, std::max(bound, 1));
}

// Recomputes a source's stored extremes over its samples [0, total).
inline void RefreshExtremes(ChannelInfo* source, int32_t total) {
    if (total <= 0) return;
    float high = 0.0f, low = 0.0f;
    WindowMinMax(SampleArray(source), total, 0, 1, total, &high, &low);
    source->SampleMax = high;
    source->SampleMin = low;
}

// ---- How the curve is written ----

inline void Fill(float* r, int32_t from, int32_t to, float value) {
    for (int32_t n = from; n < to; ++n) r[n] = value;
}

// r over [from, to) rises from base by rise across the stretch (t0, t1]:
// position k holds rise / (t1 - t0) * (k - t0) + base, in that order.
inline void RampAcross(float* r, int32_t from, int32_t to, double rise, double base, double t0, double t1) {
    StoreRampFrom(r + from, to - from, base, rise / (t1 - t0), from, t0);
}

// The pulse trackers' ramp over [from, to): from prev toward value, reaching
// it a third of the way through span from origin (the span covers three
// periods, and the ramp runs over the first of them); a value of 0 is written
// as 0 throughout.
inline void RampOverFirstThird(float* r, int32_t from, int32_t to, double prev, double value, double origin,
                               double span) {
    if (value == 0.0) return Fill(r, from, to, 0.0f);
    StoreRampFrom(r + from, to - from, prev, (value - prev) * 3.0 / span, from, origin);
}
