// Frequency from rising crossings of a level: over three periods with glitch
// rejection (the three-slot tracker), period by period with a dead time, and
// per position over a whole record.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "ampora.h"
#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "tracking/presence.h"
#include "tracking/pulse_scan.h"

namespace {

// Three periods make samplesPer20ms * 150 / span hertz; a span of three
// periods over 1500 ms is too slow.
constexpr ThreeSlotRule kThreePeriodRule = {150.0, 1500.0, 0};

constexpr double kMsPerSecond = 1000.0;
constexpr double kPresenceShare = 0.02;     // 2 % of the rated value or range
constexpr double kPeriodLimitMs = 50.0;     // one period longer than this: too slow
constexpr double kShortestPeriodMs = 2.0;   // whole-record scan: shorter periods are not accepted
constexpr double kDecimatedRate = 6400.0;   // whole-record scan: about this many samples per second
constexpr double kDecimationPerMs = 0.15625;

void Fill(float* r, int32_t from, int32_t to, float value) {
    for (int32_t n = from; n < to; ++n) r[n] = value;
}

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

// The next accepted period after position n of the whole-record scan: the
// first rising crossing t1 of the pairs (m - step, m), m = n + step, n + 2 step,
// ... below bound, and the first later crossing t2 more than minPeriod after it.
struct PeriodFound {
    int crossings;  // 0: none, 1: only t1, 2: an accepted pair
    double t1, t2;
};

// A scan from n that finds no accepted pair finds none from any later start
// of the same step phase either (its crossings are a tail of the same list,
// all within minPeriod of the first one). Remembering that keeps a record
// with a long flat end from being scanned once per position to its end.
template <RiseTest Rises>
class PeriodFinder {
public:
    PeriodFinder(const float* a, float level, int32_t step, int32_t bound, double minPeriod)
        : a_(a), level_(level), step_(step), bound_(bound), minPeriod_(minPeriod),
          failedFrom_(static_cast<std::size_t>(step), -1), lastCross_(static_cast<std::size_t>(step), -1) {}

    PeriodFound Find(int32_t n) {
        const std::size_t phase = static_cast<std::size_t>(n % step_);
        if (failedFrom_[phase] >= 0 && n >= failedFrom_[phase])
            return {lastCross_[phase] >= int64_t{n} + step_ ? 1 : 0, 0.0, 0.0};
        PeriodFound found = {0, 0.0, 0.0};
        int32_t lastCross = -1;
        // In 64 bits: a step as long as the record must not overflow the index.
        for (int64_t m = int64_t{n} + step_; m < bound_; m += step_) {
            const double before = a_[m - step_], after = a_[m];
            if (!Rises(before, after, level_)) continue;
            lastCross = static_cast<int32_t>(m);
            const double t = CrossingPosition(m, before, after, level_, step_);
            if (found.crossings == 0) {
                found = {1, t, 0.0};
            } else if (t - found.t1 > minPeriod_) {
                found.crossings = 2;
                found.t2 = t;
                return found;
            }
        }
        failedFrom_[phase] = n;
        lastCross_[phase] = lastCross;
        return found;
    }

private:
    const float* a_;
    double level_;
    int32_t step_, bound_;
    double minPeriod_;
    std::vector<int32_t> failedFrom_, lastCross_;
};

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
    ChannelInfo* src = sources[0];
    const int32_t total = RecordLength(totalSamples);
    if (singleShot != 0 && total > 0) {
        float high = 0.0f, low = 0.0f;
        WindowMinMax(SampleArray(src), total, 0, 1, total, &high, &low);
        src->SampleMax = high;
        src->SampleMin = low;
    }
    const float* s = SampleArray(src);
    float* r = ResultArray(target);
    const float level = MidLevel(src->SampleMin, src->SampleMax);
    const double threshold = src->RatedValue * kPresenceShare;
    double* slot = target->TrackState;
    // Crossings and pending sample positions left from a longer recording (or
    // not numbers) are empty.
    double t0 = InRecordOrNone(slot[0], total), t1 = InRecordOrNone(slot[1], total), f = slot[2];
    double before = InRecordOrNone(slot[4], total), after = InRecordOrNone(slot[5], total);
    // After each crossing the scan resumes half a millisecond on: a dead time
    // against ringing around the level (one longer than the record skips its rest).
    const int32_t deadTime = TruncWithin(samplesPerMs * 0.5, 0, total) + 2;
    const double rate = samplesPerMs * kMsPerSecond;
    const int32_t blockEnd = EndOfBlock(start, count);
    const int32_t end = std::min(blockEnd, total);  // no read at or beyond the record
    bool periodCompleted = false;

    for (int32_t n = std::max(start, 1); n < end;) {
        // The scan never steps back: an interpolated position far before its
        // pair (a signal with an offset) must not bring a crossing round again.
        auto resumeAt = [n](int64_t position) { return std::max(ClampedSum(position, 0), n + 1); };
        if (s[n - 1] <= level && level < s[n]) before = n - 1, after = n;
        if (!(before > 0.0 && after > 0.0)) {
            ++n;
            continue;
        }
        // The interpolation aims at zero, not at the level: with an offset it
        // may land far from its pair, and outside the record it is no crossing.
        const int32_t lo = Trunc(before), hi = Trunc(after);
        const double t = InRecordOrNone(CrossingPosition(after, s[lo], s[hi], 0.0, after - before), total);
        before = after = 0.0;
        if (t == 0.0) {
            ++n;
            continue;
        }
        if (t0 == 0.0) {
            t0 = t;
            n = resumeAt(int64_t{Trunc(t)} + deadTime);
            continue;
        }
        t1 = t;
        if (t - t0 > samplesPerMs * kPeriodLimitMs) {
            Fill(r, Trunc(t0) + 1, Trunc(t1) + 1, 0.0f);
            const int32_t resume = Trunc(t1) + 4;
            t0 = t1, t1 = 0.0, f = 0.0;
            n = resumeAt(resume);
            continue;
        }
        const float period = static_cast<float>(rate / (t - t0));
        const int32_t from = Trunc(t0);
        const float peak = WindowMax(s, Trunc(t) - from, from, 1, total);
        if (threshold < peak) {
            if (f <= 0.0) {
                Fill(r, Trunc(t0) + 1, Trunc(t1) + 1, period);
            } else {
                const float p = static_cast<float>(f);
                for (int32_t k = Trunc(t0) + 1; k <= Trunc(t1); ++k) {
                    const float stored = static_cast<float>((period - p) / (t1 - t0) * (k - t0) + p);
                    r[k] = stored;
                }
            }
            f = period;
        } else {
            Fill(r, Trunc(t0) + 1, Trunc(t1) + 1, 0.0f);
            f = 0.0;
        }
        t0 = t1, t1 = 0.0;
        periodCompleted = true;
        n = resumeAt(int64_t{Trunc(t0)} + deadTime);
    }

    // The positions after the last crossing hold the value at it (0 in a
    // record's first block); with no crossing they hold from position 0.
    const int32_t last = Trunc(t0);
    Fill(r, last + 1, blockEnd, start == 0 ? 0.0f : r[last]);
    if (periodCompleted) target->QuietCount = 0;
    if (singleShot != 0) {
        slot[0] = slot[1] = slot[2] = 0.0;
        target->LastBlockEnd = target->PeriodEndIndex = 0;
    } else {
        slot[0] = t0, slot[1] = t1, slot[2] = f;
        target->LastBlockEnd = target->PeriodEndIndex = static_cast<uint32_t>(blockEnd);
    }
    slot[4] = before, slot[5] = after;
}

double GetFrequenceStatusSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count,
                             double samplesPerMs, int32_t tailMargin, int32_t totalSamples) {
    if (channels == nullptr || count <= 0 || !UsableRate(samplesPerMs)) return 0.0;
    const double rate = samplesPerMs * kMsPerSecond;
    const double minPeriod = kShortestPeriodMs * samplesPerMs;
    const int32_t total = RecordLength(totalSamples);
    const int32_t blockEnd = EndOfBlock(start, count);
    const int64_t tail = int64_t{count} - tailMargin;   // positions from here on hold the last value
    float sum = 0.0f;
    int32_t last = 0;  // the last position already filled
    // Positions before 0 are not in the record: neither read nor written, they
    // add nothing to the sum (which is still divided by count). A scratch
    // array that cannot be had ends the call as a missing source does.
    try {
        if (target->UseSource != 0) {
            ChannelInfo* sources[1];
            if (!ResolveSources(channels, target, LookupFor("GetFrequenceStatusSum"), sources)) return 0.0;
            const ChannelInfo* src = sources[0];
            const float* s = ResultArray(src);
            float* r = ResultArray(target);
            const float level = MidLevel(src->SampleMax, src->SampleMin);  // the stored extremes, not refreshed
            // A step at or beyond the record's length finds no pair, as any longer one.
            const int32_t step =
                rate <= kDecimatedRate ? 1 : TruncWithin(samplesPerMs * kDecimationPerMs, 1, std::max(total, 1));
            const double threshold = RangeOf(src) * kPresenceShare;
            PeriodFinder<RisesThrough> finder(s, level, step, total, minPeriod);
            for (int32_t n = std::max(start, 0); n < blockEnd;) {
                const PeriodFound p = n >= tail || n >= total ? PeriodFound{0, 0.0, 0.0} : finder.Find(n);
                if (p.crossings < 2) {
                    r[n] = r[last];
                    sum = sum + r[n];
                    ++n;
                    continue;
                }
                const float peak = WindowMax(s, Trunc(p.t2 - p.t1), Trunc(p.t1), 1, total);
                const float value = threshold <= peak ? static_cast<float>(rate / std::fabs(p.t1 - p.t2)) : 0.0f;
                last = SpreadPeriod(r, n, p.t2, last, value, &sum);
                n = std::max(Trunc(p.t2), n + 1);
            }
            return static_cast<double>(sum) / count;
        }

        // Own data: the target's finished curve is measured, through a copy of
        // its positions [0, count) inside the record that is never written
        // back; the positions of the copy past the record read 0 (or the last
        // value in the tail) and are not kept. The presence test takes unit
        // text, full scale and Scale from the target, the only record this mode has.
        const int32_t bound = std::min(total, count);
        std::vector<float> w(ResultArray(target), ResultArray(target) + bound);
        const double threshold = RangeOf(target) * kPresenceShare;
        PeriodFinder<RisesOffLevel> finder(w.data(), 0.0f, 1, bound, minPeriod);
        for (int32_t n = std::max(start, 0); n < std::min(blockEnd, count);) {
            float value = 0.0f;
            if (n >= tail) {
                value = last < bound ? w[last] : 0.0f;
            } else if (n < bound) {
                const PeriodFound p = finder.Find(n);
                if (p.crossings == 2) {
                    const float peak = WindowMax(w.data(), Trunc(p.t2 - p.t1), Trunc(p.t1), 1, bound);
                    const float v = threshold <= peak ? static_cast<float>(rate / std::fabs(p.t1 - p.t2)) : 0.0f;
                    last = SpreadPeriod(w.data(), n, p.t2, last, v, &sum);
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
        return static_cast<double>(sum) / count;
    } catch (const std::bad_alloc&) {
        return 0.0;
    }
}
