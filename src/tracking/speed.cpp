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
#include "tracking/pulse_tracker.h"

namespace {

constexpr double kRevPerMinPer20msSample = 3000.0;
// Speed over three periods; a span of three revolutions over 600 ms is too slow.
constexpr ThreeSlotRule kOnePulseRule = {3.0 * kRevPerMinPer20msSample, 600.0};
// A revolution longer than one second is too slow.
constexpr double kRevolutionLimitMs = 1000.0;
// A falling and a rising crossing of the mid level split a period in two halves.
constexpr double kHalfPeriod = 0.5;

// Several pulses per revolution: every crossing goes into the record's queue
// (the oldest leaves it), and the speed is measured over one revolution, from
// the queue's front q[0] to q[P], P the pulses per revolution.
struct RevolutionRules : PulseRules<RisesThrough> {
    CrossingQueueView q;
    uint32_t pulses;
    double slowRevolution;
    int32_t samplesPer20ms;
    double newest = 0.0;   // the crossing just queued: the ramp spans from q[0] to it

    RevolutionRules(const PulseSource& source, int32_t lookBack, const ChannelInfo* target, CrossingQueueView queue,
                    int32_t pulsesPerRev, double samplesPerMs, int32_t per20ms)
        : PulseRules<RisesThrough>(source, lookBack, target), q(queue),
          pulses(static_cast<uint32_t>(pulsesPerRev)), slowRevolution(samplesPerMs * kRevolutionLimitMs),
          samplesPer20ms(per20ms) {
        curve.held = static_cast<float>(target->HeldValue);   // this tracker holds its speed as a float
    }

    // The queue's entries of an earlier recording (or not numbers) are empty.
    double Entry(uint32_t k) const { return InRecordOrNone(q.At(k), source.total); }

    Period Take(double t) {
        q.PushBack(static_cast<float>(t));
        q.PopFront();
        newest = t;
        const double front = Entry(0), back = Entry(pulses);
        if (front <= 0.0 || back <= 0.0) return {};   // the initial zeros have not all left yet
        return {front, back, true};
    }

    int64_t Close(const Period& p, int64_t n) {
        const double revolution = p.Length();
        if (revolution > slowRevolution) return TooSlow(Trunc(p.opening), Trunc(Entry(1)), 0.0, n);
        const float v = Swings(Trunc(p.opening), Trunc(revolution))
                            ? static_cast<float>(samplesPer20ms * kRevPerMinPer20msSample / revolution)
                            : 0.0f;
        return Measured(v, {Trunc(p.opening), Trunc(p.opening), Trunc(p.closing), p.opening, newest - p.opening}, n);
    }

    // The block's tail holds the last speed; keeping it in HeldValue, as GetRPM
    // does, lets a following block that completes no revolution hold the same
    // speed instead of dropping to whatever HeldValue held before the record.
    void Finish(ChannelInfo* target, int32_t start, int32_t end) const {
        curve.Finish(target, Trunc(Entry(pulses)), start, end);
        q.Store(target);
    }
};

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
    const CrossingQueueView q = CrossingQueueView::Load(target);
    if (pulses < 1 || !q.Usable() || q.count < static_cast<uint32_t>(pulses) + 1) return;
    if (!UsableRate(samplesPerMs)) return;
    PulseSource source;
    if (!PreparePulseSource(sources[0], totalSamples, refreshExtremes, &source)) return;
    const int32_t lookBack = TruncWithin(samplesPerMs * kOnePercent, 0, source.total);
    RevolutionRules rules(source, lookBack, target, q, pulses, samplesPerMs, samplesPer20ms);
    const int32_t end = EndOfBlock(start, count);
    Track(rules, std::max(start, 1), std::min(end, source.total));
    rules.Finish(target, start, end);
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
