// What the synchronous-machine exports share: unit conversions and the mean of
// a value repeated once per window position.
#pragma once

#include "dsp/constants.h"
#include "power/window_walk.h"

// The calculated angles are accumulated once per window position as float
// sums (RepeatedMean<float>, see power/window_walk.h).
