// The angle of re + j·im in radians, in (-pi/2, 3pi/2): the arc tangent of the
// ratio, moved by pi for a negative real part, and +-pi/2 on the imaginary axis.
#pragma once

#include "dsp/constants.h"
#include "dsp/elementary.h"

inline double PhaseAngle(double re, double im) {
    if (re == 0.0) return im > 0.0 ? kHalfPiFloat : -kHalfPiFloat;
    const double angle = Atan(im / re);
    return re < 0.0 ? angle + kPiFloat : angle;
}
