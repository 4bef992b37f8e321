// Shaft speed in revolutions per minute from a pulse or waveform channel: one
// pulse per revolution (the three-slot tracker), several pulses per revolution
// (crossings kept in the record's queue), and the whole-block half-period mean.
// A period of N samples is 3000 * samplesPer20ms / N rev/min.
#include <algorithm>
#include <limits>

#include "ampora.h"
#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "tracking/crossing_queue.h"
#include "tracking/presence.h"
#include "tracking/pulse_scan.h"

namespace {

constexpr double kRevPerMinPer20msSample = 3000.0;
// Speed over three periods; a span of three revolutions over 600 ms is too slow.
constexpr ThreeSlotRule kOnePulseRule = {3.0 * kRevPerMinPer20msSample, 600.0, 0};
// A revolution longer than one second is too slow.
constexpr double kRevolutionLimitMs = 1000.0;
// A falling and a rising crossing of the mid level split a period in two halves.
constexpr double kHalfPeriod = 0.5;

void Fill(float* r, int32_t from, int32_t to, float value) {
    for (int32_t n = from; n < to; ++n) r[n] = value;
}

}  // namespace

void GetRPM(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t samplesPer20ms,
            double samplesPerMs, int32_t totalSamples, int32_t refreshExtremes) {
    TrackThreeSlots<RisesThrough>(channels, target, "GetRPM", kOnePulseRule, refreshExtremes,
                                {start, count, samplesPer20ms, totalSamples, samplesPerMs});
}

void GetBSCLRPM(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t samplesPer20ms,
                double samplesPerMs, int32_t totalSamples, int32_t refreshExtremes) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetBSCLRPM"), sources)) return;
    // A revolution is measured from q[0] to q[P]: the host's queue must hold
    // P + 1 entries or more, else there is nothing to measure with.
    const int32_t pulses = TruncWithin(target->PulsesPerRev, 0, std::numeric_limits<int32_t>::max() - 1);
    CrossingQueueView q = CrossingQueueView::Load(target);
    if (pulses < 1 || !q.Usable() || q.count < static_cast<uint32_t>(pulses) + 1) return;
    if (!UsableRate(samplesPerMs)) return;
    PulseSource source;
    if (!PreparePulseSource(sources[0], totalSamples, refreshExtremes, &source)) return;

    const float* s = source.s;
    float* r = ResultArray(target);
    double started = target->TrackState[1], lastValue = target->TrackState[3];
    float held = static_cast<float>(target->HeldValue);
    const int32_t total = RecordLength(totalSamples);
    const int32_t lookBack = TruncWithin(samplesPerMs * kOnePercent, 0, total);
    const int32_t i0 = start > 0 ? start - 1 : 0;
    const int32_t end = EndOfBlock(start, count);
    const int32_t limit = std::min(end - 1, total - 1);
    // The queue's entries of an earlier recording (or not numbers) are empty.
    auto entry = [&q, total](uint32_t k) { return InRecordOrNone(q.At(k), total); };
    const double slowRevolution = samplesPerMs * kRevolutionLimitMs;

    for (int32_t i = i0; i < limit;) {
        i = NextRise<RisesThrough>(s, source.level, i, limit);
        if (i >= limit) break;
        const float t = static_cast<float>(
            InRecordOrNone(static_cast<float>(CrossingPosition(i + 1, s[i], s[i + 1], source.level)), total));
        if (t == 0.0f || (lookBack > 0 && IsGlitch(s, source.level, t, lookBack))) {
            ++i;
            continue;
        }
        q.PushBack(t);
        q.PopFront();
        const double front = entry(0);
        const double back = entry(static_cast<uint32_t>(pulses));
        if (front <= 0.0 || back <= 0.0) {  // the initial zeros have not all left yet
            i += kSkipAfterCrossing;
            continue;
        }
        const double revolution = back - front;
        if (revolution > slowRevolution) {
            Fill(r, Trunc(front), Trunc(entry(1)), 0.0f);
            lastValue = 0.0;
            held = 0.0f;
            ++i;
            continue;
        }
        float high = 0.0f, low = 0.0f;
        WindowMinMax(s, Trunc(revolution), Trunc(front), 1, total, &high, &low);
        const float v = BothBelow(high, low, source.threshold)
                            ? 0.0f
                            : static_cast<float>(samplesPer20ms * kRevPerMinPer20msSample / revolution);
        if (started == 0.0) {
            Fill(r, 0, Trunc(front), v);
            started = 1.0;
        } else {
            const double prev = lastValue;
            for (int32_t n = Trunc(front); n < Trunc(back); ++n) {
                const float stored = v == 0.0f ? 0.0f : static_cast<float>(prev + (v - prev) * 3.0 / (t - front) * (n - front));
                r[n] = stored;
            }
        }
        lastValue = v;
        held = v;
        i += kSkipAfterCrossing;
    }

    Fill(r, Trunc(entry(static_cast<uint32_t>(pulses))), end, i0 != 0 ? held : 0.0f);
    q.Store(target);
    target->TrackState[1] = started;
    target->TrackState[3] = lastValue;
    // The block's tail holds the last speed; keeping it in HeldValue, as GetRPM
    // does, lets a following block that completes no revolution hold the same
    // speed instead of dropping to whatever HeldValue held before the record.
    target->HeldValue = held;
    target->LastBlockEnd = static_cast<uint32_t>(end);
}

double GetRPMSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t samplesPer20ms) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetRPMSum"), sources)) return 0.0;
    const int32_t first = std::max(start, 0);   // no position before 0 is read
    const int32_t end = EndOfBlock(start, count);
    if (end - first < 2) return 0.0;  // no pair of samples, no crossing
    const float* s = ResultArray(sources[0]);
    float high = 0.0f, low = 0.0f;
    WindowMinMax(s, end - first, first, 1, end, &high, &low);
    const float level = MidLevel(high, low);

    float prev = -1.0f;  // no crossing yet
    double sum = 0.0;
    int32_t intervals = 0;
    for (int32_t n = first; n < end - 1; ++n) {
        double t;
        if (RisesOntoLevel(s[n], s[n + 1], level)) t = CrossingPosition(n + 1, s[n], s[n + 1], level);
        else if (FallsOffLevel(s[n], s[n + 1], level)) t = CrossingPositionFromBefore(n, s[n], s[n + 1], level);
        else continue;
        if (prev >= 0.0f) {
            ++intervals;
            sum += samplesPer20ms * kRevPerMinPer20msSample / (t - prev) * kHalfPeriod;
        }
        prev = static_cast<float>(t);
    }
    return intervals > 0 ? sum / intervals : sum;
}
