// Whether a channel carries a signal worth measuring: the channel's range and
// the tests of its extremes or of a stretch's swing against a share of it.
#pragma once

#include <cmath>
#include <cstring>

#include "frame/channel_info.h"

// 1 % as the float the trackers hold it.
constexpr double kOnePercent = 0.009999999776482582;

// The range the presence tests take a share of: a channel in "kV" states its
// full scale in volts per Scale, so the full scale is divided by Scale.
inline double RangeOf(const ChannelInfo* channel) {
    const char* unit = UnitTextOf(channel);
    if (unit != nullptr && std::strcmp(unit, "kV") == 0) return channel->FullScale / channel->Scale;
    return channel->FullScale;
}

// A stretch (or a channel) whose largest and smallest values both stay inside
// the threshold carries no signal.
inline bool BothBelow(double high, double low, double threshold) {
    return std::fabs(high) < threshold && std::fabs(low) < threshold;
}
