#include "tracking/pulse_scan.h"

#include <algorithm>

#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "tracking/presence.h"

bool PreparePulseSource(ChannelInfo* source, int32_t totalSamples, int32_t refreshExtremes, PulseSource* out) {
    const float* s = SampleArray(source);
    if (refreshExtremes != 0 && totalSamples > 0) {
        float high = 0.0f, low = 0.0f;
        WindowMinMax(s, totalSamples, 0, 1, totalSamples, &high, &low);
        source->SampleMax = high;
        source->SampleMin = low;
    }
    const double threshold = source->FullScale * kOnePercent;
    if (BothBelow(source->SampleMax, source->SampleMin, threshold)) return false;
    *out = {s, MidLevel(source->SampleMax, source->SampleMin), threshold, totalSamples};
    return true;
}

bool IsGlitch(const float* s, float level, float t, int32_t lookBack) {
    const int32_t k = Trunc(t);
    for (int32_t m = k; m > k - lookBack && m - 1 >= 0; --m)
        if (FallsThrough(s[m - 1], s[m], level)) return true;
    return false;
}

namespace {

void Fill(float* r, int32_t from, int32_t to, float value) {
    for (int32_t n = from; n < to; ++n) r[n] = value;
}

}  // namespace

template <RiseTest Rises>
void RunThreeSlotTracker(const PulseSource& source, ChannelInfo* target, const ThreeSlotRule& rule,
                         const ThreeSlotCall& call) {
    const float* s = source.s;
    float* r = ResultArray(target);
    double* slot = target->TrackState;
    const int32_t total = RecordLength(call.totalSamples);
    // Slots left from a longer recording (or not numbers) are empty.
    double x1 = InRecordOrNone(slot[2], total), x2 = InRecordOrNone(slot[4], total),
           x3 = InRecordOrNone(slot[5], total);
    double started = slot[1], lastValue = slot[3];
    double held = target->HeldValue;
    float lastF = 0.0f;  // the call's last value, what a too-slow span carries on

    const int32_t i0 = call.start > 0 ? call.start - 1 : 0;
    const int32_t end = EndOfBlock(call.start, call.count);
    // The pair (i, i + 1) must lie inside the record.
    const int32_t limit = std::min(end - 1, total - 1);
    const double slowSpan = call.samplesPerMs * rule.slowLimitMs;

    for (int32_t i = i0; i < limit;) {
        i = NextRise<Rises>(s, source.level, i, limit);
        if (i >= limit) break;
        // Rounded to a float, a position past 2^24 may leave its pair and the record.
        const float t = static_cast<float>(
            InRecordOrNone(static_cast<float>(CrossingPosition(i + 1, s[i], s[i + 1], source.level)), total));
        if (t == 0.0f || (rule.lookBack > 0 && IsGlitch(s, source.level, t, rule.lookBack))) {
            ++i;
            continue;
        }
        if (x1 == 0.0 || x2 == 0.0 || x3 == 0.0) {
            if (x1 == 0.0) {
                x1 = t;
                started = 0.0;
            } else if (x2 == 0.0) {
                x2 = t;
            } else {
                x3 = t;
            }
            i += kSkipAfterCrossing;
            continue;
        }
        const double span = t - x1;
        if (span > slowSpan) {
            Fill(r, Trunc(x1) + 1, Trunc(x2) + 1, 0.0f);
            lastValue = lastF;
            held = lastF;
            x1 = x2, x2 = x3, x3 = t;
            ++i;
            continue;
        }
        float high = 0.0f, low = 0.0f;
        // Slots of an earlier recording may be out of order: the swing is
        // measured from a sample inside the record whatever they hold.
        WindowMinMax(s, Trunc(span), std::min(Trunc(x1) + 1, total - 1), 1, total, &high, &low);
        const double f = BothBelow(high, low, source.threshold) ? 0.0 : call.samplesPer20ms * rule.valueFactor / span;
        lastF = static_cast<float>(f);
        if (started == 0.0) {
            // The first value of a record stands for everything before it.
            Fill(r, 0, Trunc(t) + 1, static_cast<float>(f));
            started = 1.0;
        } else {
            const double prev = lastValue;
            for (int32_t n = Trunc(x1) + 1; n <= Trunc(x2); ++n) {
                const float stored = f == 0.0 ? 0.0f : static_cast<float>(prev + (f - prev) * 3.0 / span * (n - x1));
                r[n] = stored;
            }
        }
        lastValue = f;
        held = f;
        x1 = x2, x2 = x3, x3 = t;
        i += kSkipAfterCrossing;
    }

    // Until the next call ramps over it, the curve after the crossing before
    // the newest one holds the last value (0 in the record's first block).
    Fill(r, Trunc(x2) + 1, end, i0 != 0 ? static_cast<float>(held) : 0.0f);
    slot[1] = started, slot[2] = x1, slot[3] = lastValue, slot[4] = x2, slot[5] = x3;
    target->HeldValue = held;
    target->LastBlockEnd = static_cast<uint32_t>(end);
}

template void RunThreeSlotTracker<RisesOntoLevel>(const PulseSource&, ChannelInfo*, const ThreeSlotRule&,
                                                  const ThreeSlotCall&);
template void RunThreeSlotTracker<RisesThrough>(const PulseSource&, ChannelInfo*, const ThreeSlotRule&,
                                                const ThreeSlotCall&);

template <RiseTest Rises>
void TrackThreeSlots(CPtrList* channels, ChannelInfo* target, const char* exportName, ThreeSlotRule rule,
                     int32_t refreshExtremes, const ThreeSlotCall& call) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor(exportName), sources)) return;
    if (!UsableRate(call.samplesPerMs)) return;
    PulseSource source;
    if (!PreparePulseSource(sources[0], call.totalSamples, refreshExtremes, &source)) return;
    rule.lookBack = TruncWithin(call.samplesPerMs * 0.5, 0, RecordLength(call.totalSamples));
    RunThreeSlotTracker<Rises>(source, target, rule, call);
}
template void TrackThreeSlots<RisesOntoLevel>(CPtrList*, ChannelInfo*, const char*, ThreeSlotRule, int32_t,
                                              const ThreeSlotCall&);
template void TrackThreeSlots<RisesThrough>(CPtrList*, ChannelInfo*, const char*, ThreeSlotRule, int32_t,
                                            const ThreeSlotCall&);
