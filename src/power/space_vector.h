// Per-sample three-phase steps shared by the instantaneous line, delta and
// two-wattmeter exports: space-vector components of a sample triple, the
// quadrant-corrected angle, the reduction into one turn, the triples the
// four-source wirings close, and the per-sample values built from them.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/constants.h"
#include "dsp/elementary.h"

constexpr double kSqrtTwoThirds = 0.8164965816086519;

// One sample of each phase, as doubles.
struct Triple {
    double a, b, c;
};

// The voltage and current triples of one sample index.
struct TriplePair {
    Triple voltages;
    Triple currents;
};

// The two orthogonal components of a triple (3/2 times the amplitude-invariant
// Clarke components).
struct SpaceVector {
    double a, b;
};

inline SpaceVector SpaceVectorOf(const Triple& x) {
    return {x.a - kCos60 * x.b - kCos60 * x.c, kSin60Float * x.b - kSin60Float * x.c};
}

inline double ToFloat(double x) { return static_cast<float>(x); }

// Angle phi with y = m sin phi and x = m cos phi, in (-pi/2, 3pi/2); on the y
// axis pi/2 for positive y and 3pi/2 otherwise.
inline double QuadrantAngle(double x, double y) {
    if (x == 0.0) return y <= 0.0 ? kThreeHalfPiFloat : kHalfPiFloat;
    const double angle = Atan(y / x);
    return x < 0.0 ? angle + kPiFloat : angle;
}

// Brings an angle into [0, 2pi] by whole turns. The quadrant angles the
// exports form lie within a turn of that range, so the stepping loops below run
// at most once; anything beyond a few turns (only an infinity can get there) is
// folded first so the loops stay bounded. NaN passes through: every comparison
// with it is false, and the fold turns an infinity into NaN.
inline double ReduceToTurn(double angle) {
    constexpr double kFoldBeyond = 4.0 * kTwoPiFloat;
    if (!(std::fabs(angle) <= kFoldBeyond)) angle = std::fmod(angle, kTwoPiFloat);
    while (angle < 0.0) angle += kTwoPiFloat;
    while (angle > kTwoPiFloat) angle -= kTwoPiFloat;
    return angle;
}

// Six sources: entries 0, 2, 4 the voltages, 1, 3, 5 the currents.
struct SixSignals {
    const float* u[3];
    const float* i[3];
    TriplePair At(int k) const {
        return {{u[0][k], u[1][k], u[2][k]}, {i[0][k], i[1][k], i[2][k]}};
    }
};

// Four sources of a three-wire system: two voltages (first to second line,
// second to third) and the currents of the first and third line. The triangle
// of voltages and the star of currents each sum to zero, which gives the
// missing member; the missing current is always stored as a float, the missing
// voltage only where the export rounds it.
template <bool RoundClosingVoltage>
struct FourSignals {
    const float* u1;
    const float* i1;
    const float* u2;
    const float* i3;
    TriplePair At(int k) const {
        const double first = u1[k];
        const double second = u2[k];
        const double closing = -(first + second);
        const double closingVoltage = RoundClosingVoltage ? ToFloat(closing) : closing;
        const double firstCurrent = i1[k];
        const double lastCurrent = i3[k];
        const double closingCurrent = ToFloat(-(firstCurrent + lastCurrent));
        return {{first, second, closingVoltage}, {firstCurrent, closingCurrent, lastCurrent}};
    }
};

// Active (or reactive) three-phase power of a line-voltage triple with phase
// currents: the line-voltage space vector is turned by 30 deg and scaled by
// 1/sqrt3 into the phase-voltage frame. Returned before its rounding to a float.
inline double LineFramePower(const TriplePair& s, bool active) {
    const SpaceVector u = SpaceVectorOf(s.voltages);
    const SpaceVector i = SpaceVectorOf(s.currents);
    const double au = ToFloat(u.a), bu = ToFloat(u.b);
    const double ai = ToFloat(i.a), bi = ToFloat(i.b);
    const double p = (bi * bu + ai * au) * kTwoThirdsFloat;
    const double q = (ai * bu - bi * au) * kTwoThirdsFloat;
    const double qStored = ToFloat(q);
    const double magnitude = ToFloat(std::sqrt(p * p + q * qStored));
    const double angle = QuadrantAngle(qStored, p) + kThirtyDegreesFloat;
    return (active ? Sin(angle) : Cos(angle)) * magnitude * kOneOverSqrt3Float;
}

// Active or reactive power of three voltage/current pairs from their space
// vectors. Returned before its rounding to a float.
inline double DeltaFramePower(const TriplePair& s, bool active) {
    const SpaceVector u = SpaceVectorOf(s.voltages);
    const SpaceVector i = SpaceVectorOf(s.currents);
    return active ? (i.b * u.b + i.a * u.a) * kTwoThirdsFloat : (i.a * u.b - i.b * u.a) * kTwoThirdsFloat;
}

// Whether the voltages are line voltages (their angle turned back by 30 deg
// into the phase frame) or the voltages of the pairs themselves.
enum class VoltageFrame { Line, Pair };

// RMS current times the sine of the angle by which it lags its voltage. The
// two frames multiply the factors in different orders, kept as they are.
inline double ReactiveCurrent(const TriplePair& s, VoltageFrame frame) {
    const SpaceVector u = SpaceVectorOf(s.voltages);
    const SpaceVector i = SpaceVectorOf(s.currents);
    const double au = ToFloat(u.a);
    const double bu = u.b;
    const double ai = ToFloat(i.a), bi = ToFloat(i.b);
    const double currentAngle = ReduceToTurn(QuadrantAngle(ai, bi));
    const double currentMagnitude = std::sqrt(ai * ai + bi * bi);
    if (frame == VoltageFrame::Line) {
        const double voltageAngle = ReduceToTurn(QuadrantAngle(au, bu) - kThirtyDegreesFloat);
        return currentMagnitude * kSqrtTwoThirds * Sin(voltageAngle - currentAngle) * kOneOverSqrt3Float;
    }
    const double voltageAngle = ReduceToTurn(QuadrantAngle(au, bu));
    return Sin(voltageAngle - currentAngle) * currentMagnitude * kSqrtTwoThirds * kOneOverSqrt3Float;
}
