// The angle of re + j·im in radians, in (-pi/2, 3pi/2): the arc tangent of the
// ratio, moved by pi for a negative real part, and +-pi/2 on the imaginary axis.
#pragma once

#include "dsp/elementary.h"
#include <cmath>

constexpr double kHalfPiFloat = 1.5707963705062866;   // pi/2 as rounded to float
constexpr double kPiFloat = 3.1415927410125732;       // pi as rounded to float

inline double PhaseAngle(double re, double im) {
    if (re == 0.0) return im > 0.0 ? kHalfPiFloat : -kHalfPiFloat;
    const double angle = Atan(im / re);
    return re < 0.0 ? angle + kPiFloat : angle;
}
