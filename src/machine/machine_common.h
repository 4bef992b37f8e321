// What the synchronous-machine exports share: unit conversions and the mean of
// a value repeated once per window position.
#pragma once

#include "power/window_walk.h"

constexpr double kDegreesPerRadian = 57.29577791868204;
constexpr double kRadiansPerDegree = 0.017453293005625408;

// The calculated angles are accumulated once per window position as float
// sums (RepeatedMean<float>, see power/window_walk.h).
