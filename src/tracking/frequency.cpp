// Frequency from rising crossings of a level: over three periods with glitch
// rejection (the three-slot tracker), period by period with a dead time, and
// per position over a whole record.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "ampora.h"
#include "dsp/periods.h"
#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "tracking/presence.h"
#include "tracking/pulse_tracker.h"

namespace {

// Three periods make samplesPer20ms * 150 / span hertz; a span of three
// periods over 1500 ms is too slow.
constexpr ThreeSlotRule kThreePeriodRule = {150.0, 1500.0};

constexpr double kMsPerSecond = 1000.0;
constexpr double kPresenceShare = 0.02;     // 2 % of the rated value or range
constexpr double kPeriodLimitMs = 50.0;     // one period longer than this: too slow
constexpr double kDeadTimeMs = 0.5;         // after a crossing, against ringing around the level
constexpr int32_t kResumeAfterSlowPeriod = 4;
constexpr double kShortestPeriodMs = 2.0;   // whole-record scan: shorter periods are not accepted
constexpr double kDecimatedRate = 6400.0;   // whole-record scan: about this many samples per second

// GetFrequenceStatus2: one period at a time between rising crossings of the
// mid level, from T0 (TrackState[0]) to T1 ([1]); the last frequency written
// in [2], a detected pair of samples pending in [4] and [5]. A frequency ramps
// from the last one over its period while the peak passes the presence test.
struct PerPeriodRules : NoQuietStretch {
    const float* s;
    float* r;
    float level;
    double threshold, rate, longest;
    int32_t total, deadTime;
    OpenPeriod t;     // T0, T1
    double f;         // the last frequency written, 0.0 for none
    double before, after;   // the pending pair
    bool periodCompleted = false;

    PerPeriodRules(const ChannelInfo* src, const ChannelInfo* target, double samplesPerMs, int32_t totalSamples)
        : s(SampleArray(src)), r(ResultArray(target)), level(MidLevel(src->SampleMin, src->SampleMax)),
          threshold(src->RatedValue * kPresenceShare), rate(samplesPerMs * kMsPerSecond),
          longest(samplesPerMs * kPeriodLimitMs), total(totalSamples),
          // The dead time: one longer than the record skips its rest.
          deadTime(TruncWithin(samplesPerMs * kDeadTimeMs, 0, totalSamples) + 2),
          // Crossings and pending positions left from a longer recording (or
          // not numbers) are empty.
          t{InRecordOrNone(target->TrackState[0], totalSamples), InRecordOrNone(target->TrackState[1], totalSamples)},
          f(target->TrackState[2]), before(InRecordOrNone(target->TrackState[4], totalSamples)),
          after(InRecordOrNone(target->TrackState[5], totalSamples)) {}

    // A rise off the level at (n - 1, n) is detected and kept pending; a
    // pending pair is interpolated toward zero, not toward the level: with an
    // offset it may land far from its pair, and outside the record it is no
    // crossing.
    bool CrossingAt(int64_t n, double* position) {
        if (RisesOffLevel(s[n - 1], s[n], level)) before = static_cast<double>(n - 1), after = static_cast<double>(n);
        if (!(before > 0.0 && after > 0.0)) return false;
        const int32_t lo = Trunc(before), hi = Trunc(after);
        *position = InRecordOrNone(CrossingPosition(after, s[lo], s[hi], 0.0, after - before), total);
        before = after = 0.0;
        return *position != 0.0;
    }
    int64_t Between(int64_t n, int64_t) const { return n + 1; }
    Period Take(double position) { return t.Take(position); }
    int64_t AfterOpening(double position, int64_t) const { return int64_t{Trunc(position)} + deadTime; }

    int64_t Close(const Period& p, int64_t) {
        const int32_t from = Trunc(p.opening) + 1, to = Trunc(p.closing) + 1;
        if (p.Length() > longest) {
            Fill(r, from, to, 0.0f);
            t.Advance();
            f = 0.0;
            return int64_t{Trunc(p.closing)} + kResumeAfterSlowPeriod;
        }
        const float period = static_cast<float>(rate / p.Length());
        const float peak = WindowMax(s, Trunc(p.closing) - Trunc(p.opening), Trunc(p.opening), 1, total);
        if (!(threshold < peak)) {
            Fill(r, from, to, 0.0f);
            f = 0.0;
        } else if (f <= 0.0) {
            Fill(r, from, to, period);
            f = period;
        } else {
            const float p0 = static_cast<float>(f);
            const float rise = period - p0;   // in float
            RampAcross(r, from, to, rise, p0, p.opening, p.closing);
            f = period;
        }
        t.Advance();
        periodCompleted = true;
        return int64_t{Trunc(p.closing)} + deadTime;
    }

    // The positions after the last crossing hold the value at it (0 in a
    // record's first block); with no crossing they hold from position 0.
    void Finish(ChannelInfo* target, int32_t start, int32_t blockEnd, bool singleShot) const {
        const int32_t last = Trunc(t.opening);
        Fill(r, last + 1, blockEnd, start == 0 ? 0.0f : r[last]);
        if (periodCompleted) target->QuietCount = 0;
        double* slot = target->TrackState;
        if (singleShot) {
            slot[0] = slot[1] = slot[2] = 0.0;
            target->LastBlockEnd = target->PeriodEndIndex = 0;
        } else {
            slot[0] = t.opening, slot[1] = t.closing, slot[2] = f;
            target->LastBlockEnd = target->PeriodEndIndex = static_cast<uint32_t>(blockEnd);
        }
        slot[4] = before, slot[5] = after;
    }
};

// Writes a period's value at n and over the positions after n up to its
// closing crossing t2 that are not filled yet, adding each to the running
// float sum (the positions first, then n); returns the last position filled.
int32_t SpreadPeriod(float* a, int32_t n, double t2, int32_t last, float value, float* sum) {
    a[n] = value;
    int32_t filled = n;
    for (int32_t idx = std::max(n, last) + 1; idx < Trunc(t2); ++idx) {
        a[idx] = value;
        *sum = *sum + value;
        filled = idx;
    }
    *sum = *sum + value;
    return filled;
}

// The whole-record scan of GetFrequenceStatusSum.
struct RecordScan {
    double rate, minPeriod;
    int64_t tail;   // positions from here on hold the last value
    int32_t total, first, blockEnd, count;
};

// The frequency of an accepted pair of crossings, or 0 when the peak over it
// stays below the presence threshold.
float PairFrequency(const float* a, const PeriodFound& p, int32_t bound, double threshold, double rate) {
    const float peak = WindowMax(a, Trunc(p.t2 - p.t1), Trunc(p.t1), 1, bound);
    return threshold <= peak ? static_cast<float>(rate / std::fabs(p.t1 - p.t2)) : 0.0f;
}

// Source mode: the source's finished curve is measured (at the level of its
// stored extremes, not refreshed), every step-th pair, and the frequencies
// are written into the target's curve. Returns their float sum.
float SourceSum(ChannelInfo* target, const ChannelInfo* src, int32_t step, const RecordScan& scan) {
    const float* s = ResultArray(src);
    float* r = ResultArray(target);
    const double threshold = RangeOf(src) * kPresenceShare;
    PeriodFinder<RisesThrough> finder(s, MidLevel(src->SampleMax, src->SampleMin), step, scan.total, scan.minPeriod);
    float sum = 0.0f;
    int32_t last = 0;  // the last position already filled
    for (int32_t n = scan.first; n < scan.blockEnd;) {
        const PeriodFound p = n >= scan.tail || n >= scan.total ? PeriodFound{0, 0.0, 0.0} : finder.Find(n);
        if (p.crossings < 2) {
            r[n] = r[last];
            sum = sum + r[n];
            ++n;
            continue;
        }
        last = SpreadPeriod(r, n, p.t2, last, PairFrequency(s, p, scan.total, threshold, scan.rate), &sum);
        n = std::max(Trunc(p.t2), n + 1);
    }
    return sum;
}

// Own data: the target's finished curve is measured, through a copy of its
// positions [0, count) inside the record that is never written back; the
// positions of the copy past the record read 0 (or the last value in the
// tail) and are not kept. The presence test takes unit text, full scale and
// Scale from the target, the only record this mode has. Returns the float sum.
float OwnDataSum(const ChannelInfo* target, const RecordScan& scan) {
    const int32_t bound = std::min(scan.total, scan.count);
    std::vector<float> w(ResultArray(target), ResultArray(target) + bound);
    const double threshold = RangeOf(target) * kPresenceShare;
    PeriodFinder<RisesOffLevel> finder(w.data(), 0.0f, 1, bound, scan.minPeriod);
    float sum = 0.0f;
    int32_t last = 0;
    for (int32_t n = scan.first; n < std::min(scan.blockEnd, scan.count);) {
        float value = 0.0f;
        if (n >= scan.tail) {
            value = last < bound ? w[last] : 0.0f;
        } else if (n < bound) {
            const PeriodFound p = finder.Find(n);
            if (p.crossings == 2) {
                last = SpreadPeriod(w.data(), n, p.t2, last, PairFrequency(w.data(), p, bound, threshold, scan.rate), &sum);
                n = std::max(Trunc(p.t2), n + 1);
                continue;
            }
            // Only a first crossing: the value carries on (0 at position 0).
            value = p.crossings == 1 && n > 0 ? w[n - 1] : 0.0f;
        }
        if (n < bound) w[n] = value;
        sum = sum + value;
        ++n;
    }
    return sum;
}

}  // namespace

void GetFrequenceStatus(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                        int32_t samplesPer20ms, double samplesPerMs, int32_t totalSamples, int32_t refreshExtremes) {
    TrackThreeSlots<RisesOntoLevel>(channels, target, "GetFrequenceStatus", kThreePeriodRule, refreshExtremes,
                                    {start, count, samplesPer20ms, totalSamples, samplesPerMs});
}

void GetFrequenceStatus2(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, double samplesPerMs,
                         int32_t totalSamples, int32_t singleShot) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetFrequenceStatus2"), sources)) return;
    if (!UsableRate(samplesPerMs)) return;
    const int32_t total = RecordLength(totalSamples);
    if (singleShot != 0) RefreshExtremes(sources[0], total);
    PerPeriodRules rules(sources[0], target, samplesPerMs, total);
    const int32_t blockEnd = EndOfBlock(start, count);
    // No pair reaches before position 0 or at or beyond the record's end.
    Track(rules, std::max(start, 1), std::min(blockEnd, total));
    rules.Finish(target, start, blockEnd, singleShot != 0);
}

double GetFrequenceStatusSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                             double samplesPerMs, int32_t tailMargin, int32_t totalSamples) {
    if (channels == nullptr || count <= 0 || !UsableRate(samplesPerMs)) return 0.0;
    // Positions before 0 are not in the record: neither read nor written, they
    // add nothing to the sum (which is still divided by count).
    const RecordScan scan{samplesPerMs * kMsPerSecond, kShortestPeriodMs * samplesPerMs,
                          int64_t{count} - tailMargin, RecordLength(totalSamples), std::max(start, 0),
                          EndOfBlock(start, count), count};
    // A scratch array that cannot be had ends the call as a missing source does.
    try {
        if (target->UseSource == 0) return static_cast<double>(OwnDataSum(target, scan)) / count;
        ChannelInfo* sources[1];
        if (!ResolveSources(channels, target, LookupFor("GetFrequenceStatusSum"), sources)) return 0.0;
        const int32_t step = ScanStride(samplesPerMs, kDecimatedRate, scan.total);
        return static_cast<double>(SourceSum(target, sources[0], step, scan)) / count;
    } catch (const std::bad_alloc&) {
        return 0.0;
    }
}
