#include "tracking/pulse_tracker.h"

#include <algorithm>

#include "frame/arguments.h"
#include "frame/resolve.h"

bool PreparePulseSource(ChannelInfo* source, int32_t totalSamples, int32_t refreshExtremes, PulseSource* out) {
    if (refreshExtremes != 0) RefreshExtremes(source, totalSamples);
    const double threshold = source->FullScale * kOnePercent;
    if (BothBelow(source->SampleMax, source->SampleMin, threshold)) return false;
    *out = {SampleArray(source), MidLevel(source->SampleMax, source->SampleMin), threshold, RecordLength(totalSamples)};
    return true;
}

bool IsGlitch(const float* s, float level, float t, int32_t lookBack) {
    const int32_t k = Trunc(t);
    for (int32_t m = k; m > k - lookBack && m - 1 >= 0; --m)
        if (FallsThrough(s[m - 1], s[m], level)) return true;
    return false;
}

namespace {

// The last three crossings, oldest first, kept in TrackState[2], [4] and [5]:
// a value is measured over the span from the oldest to a new crossing (three
// periods) and written over the oldest period, one period behind the newest.
template <RiseTest Rises>
struct ThreeSlotRules : PulseRules<Rises> {
    double x1, x2, x3;
    double slowSpan, valueFactor;
    int32_t samplesPer20ms;
    float lastValueOfCall = 0.0f;   // what a too-slow span carries on

    ThreeSlotRules(const PulseSource& source, int32_t lookBack, const ChannelInfo* target, const ThreeSlotRule& rule,
                   const ThreeSlotCall& call)
        : PulseRules<Rises>(source, lookBack, target),
          // Slots left from a longer recording (or not numbers) are empty.
          x1(InRecordOrNone(target->TrackState[2], source.total)),
          x2(InRecordOrNone(target->TrackState[4], source.total)),
          x3(InRecordOrNone(target->TrackState[5], source.total)),
          slowSpan(call.samplesPerMs * rule.slowLimitMs), valueFactor(rule.valueFactor),
          samplesPer20ms(call.samplesPer20ms) {}

    Period Take(double t) {
        if (x1 == 0.0) {
            x1 = t;
            this->curve.started = 0.0;
            return {};
        }
        if (x2 == 0.0) {
            x2 = t;
            return {};
        }
        if (x3 == 0.0) {
            x3 = t;
            return {};
        }
        return {x1, t, true};
    }

    int64_t Close(const Period& p, int64_t n) {
        const double span = p.Length();
        int64_t next;
        if (span > slowSpan) {
            next = this->TooSlow(Trunc(x1) + 1, Trunc(x2) + 1, lastValueOfCall, n);
        } else {
            // Slots of an earlier recording may be out of order: the swing is
            // measured from a sample inside the record whatever they hold.
            const int32_t from = std::min(Trunc(x1) + 1, this->source.total - 1);
            const double f = this->Swings(from, Trunc(span)) ? samplesPer20ms * valueFactor / span : 0.0;
            lastValueOfCall = static_cast<float>(f);
            next = this->Measured(f, {Trunc(p.closing) + 1, Trunc(x1) + 1, Trunc(x2) + 1, x1, span}, n);
        }
        x1 = x2, x2 = x3, x3 = p.closing;
        return next;
    }
};

}  // namespace

template <RiseTest Rises>
void TrackThreeSlots(CPtrList* channels, ChannelInfo* target, const char* exportName, const ThreeSlotRule& rule,
                     int32_t refreshExtremes, const ThreeSlotCall& call) {
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor(exportName), sources)) return;
    if (!UsableRate(call.samplesPerMs)) return;
    PulseSource source;
    if (!PreparePulseSource(sources[0], call.totalSamples, refreshExtremes, &source)) return;
    const int32_t lookBack = TruncWithin(call.samplesPerMs * 0.5, 0, source.total);
    ThreeSlotRules<Rises> rules(source, lookBack, target, rule, call);
    const int32_t end = EndOfBlock(call.start, call.count);
    Track(rules, std::max(call.start, 1), std::min(end, source.total));
    // The tail holds from the crossing before the newest one.
    rules.curve.Finish(target, Trunc(rules.x2) + 1, call.start, end);
    target->TrackState[2] = rules.x1, target->TrackState[4] = rules.x2, target->TrackState[5] = rules.x3;
}
template void TrackThreeSlots<RisesOntoLevel>(CPtrList*, ChannelInfo*, const char*, const ThreeSlotRule&, int32_t,
                                              const ThreeSlotCall&);
template void TrackThreeSlots<RisesThrough>(CPtrList*, ChannelInfo*, const char*, const ThreeSlotRule&, int32_t,
                                            const ThreeSlotCall&);
