// The steps the pulse trackers share: the level and presence set-up of a
// source, the scan for the next rising crossing, the glitch rejection, and the
// three-slot tracker that turns every third period into a ramped value.
#pragma once

#include <cstdint>

#include "frame/channel_info.h"
#include "frame/host_list.h"
#include "tracking/crossing.h"

using RiseTest = bool (*)(double before, double after, double level);

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

// The first i in [from, limit) whose pair (i, i + 1) rises by the test, or limit.
template <RiseTest Rises>
inline int32_t NextRise(const float* s, float level, int32_t from, int32_t limit) {
    const double l = level;
    int32_t i = from;
    while (i < limit && !Rises(s[i], s[i + 1], l)) ++i;
    return i;
}

// What GetFrequenceStatus and GetRPM make of a span of three periods (they
// differ further in the rising test, the tracker's template argument).
struct ThreeSlotRule {
    double valueFactor;   // value = samplesPer20ms * valueFactor / span
    double slowLimitMs;   // a span longer than this many milliseconds is too slow
    int32_t lookBack;     // glitch rejection window, samples
};

struct ThreeSlotCall {
    int32_t start, count, samplesPer20ms, totalSamples;
    double samplesPerMs;
};

// Scans the block for rising crossings, keeps the last three in TrackState[2],
// [4] and [5], and writes the target's curve one period behind the newest
// crossing; the state is the target's TrackState[1..5], HeldValue and
// LastBlockEnd.
template <RiseTest Rises>
void RunThreeSlotTracker(const PulseSource& source, ChannelInfo* target, const ThreeSlotRule& rule,
                         const ThreeSlotCall& call);
extern template void RunThreeSlotTracker<RisesOntoLevel>(const PulseSource&, ChannelInfo*, const ThreeSlotRule&,
                                                         const ThreeSlotCall&);
extern template void RunThreeSlotTracker<RisesThrough>(const PulseSource&, ChannelInfo*, const ThreeSlotRule&,
                                                       const ThreeSlotCall&);

// A whole three-slot export: its one source resolved by the export's own rule
// and prepared, the glitch window set to half a millisecond, then the tracker.
// Nothing is written when the source is missing or flat.
template <RiseTest Rises>
void TrackThreeSlots(CPtrList* channels, ChannelInfo* target, const char* exportName, ThreeSlotRule rule,
                     int32_t refreshExtremes, const ThreeSlotCall& call);
extern template void TrackThreeSlots<RisesOntoLevel>(CPtrList*, ChannelInfo*, const char*, ThreeSlotRule, int32_t,
                                                     const ThreeSlotCall&);
extern template void TrackThreeSlots<RisesThrough>(CPtrList*, ChannelInfo*, const char*, ThreeSlotRule, int32_t,
                                                   const ThreeSlotCall&);

// The samples in the glitch window and the skip after a stored crossing.
constexpr int32_t kSkipAfterCrossing = 9;
