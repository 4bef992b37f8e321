// Folding of angles in degrees into a reporting range, by whole turns.
#pragma once

#include <cmath>

constexpr double kFullTurnDegrees = 360.0;

// Beyond this size a subtraction of 360 no longer changes a double reliably, so
// whole turns are first removed with an exact remainder; below it the turns are
// taken off one at a time, as a host reading the curve would count them.
constexpr double kStepwiseFoldLimit = 1.0e6;

inline double RemoveWholeTurns(double degrees) {
    return std::fabs(degrees) > kStepwiseFoldLimit ? std::fmod(degrees, kFullTurnDegrees) : degrees;
}

// While above upper subtract a turn, then while below lower add one. Non-finite
// values pass through unchanged (no number of turns moves them).
inline double FoldDownThenUp(double degrees, double upper, double lower) {
    if (!std::isfinite(degrees)) return degrees;
    degrees = RemoveWholeTurns(degrees);
    while (degrees > upper) degrees -= kFullTurnDegrees;
    while (degrees < lower) degrees += kFullTurnDegrees;
    return degrees;
}

// While below lower add a turn, then while above upper subtract one.
inline double FoldUpThenDown(double degrees, double lower, double upper) {
    if (!std::isfinite(degrees)) return degrees;
    degrees = RemoveWholeTurns(degrees);
    while (degrees < lower) degrees += kFullTurnDegrees;
    while (degrees > upper) degrees -= kFullTurnDegrees;
    return degrees;
}

// Power angles are reported in [-90, 270): above 90 a turn back, below -90 a turn on.
inline double FoldPowerAngle(double degrees) { return FoldDownThenUp(degrees, 90.0, -90.0); }

// Measured angles are reported in [0, 360].
inline double FoldMeasuredAngle(double degrees) { return FoldUpThenDown(degrees, 0.0, kFullTurnDegrees); }
