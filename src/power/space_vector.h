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

// The per-sample steps below are written once for one position (T = double)
// and for two neighbouring positions side by side (T = Lanes); every lane runs
// the operations of the one-position step.

// One sample of each phase as doubles (or two neighbouring samples, one per lane).
template <typename T>
struct TripleOf {
    T a, b, c;
};
using Triple = TripleOf<double>;

// The voltage and current triples of one sample index (or of two).
template <typename T>
struct TriplePairOf {
    TripleOf<T> voltages;
    TripleOf<T> currents;
};
using TriplePair = TriplePairOf<double>;

// The two orthogonal components of a triple (3/2 times the amplitude-invariant
// Clarke components).
template <typename T>
struct SpaceVectorOf {
    T a, b;
};

template <typename T>
SpaceVectorOf<T> SpaceVector(const TripleOf<T>& x) {
    return {x.a - kCos60 * x.b - kCos60 * x.c, kSin60Float * x.b - kSin60Float * x.c};
}

inline double ToFloat(double x) { return static_cast<float>(x); }
inline double Sqrt(double x) { return std::sqrt(x); }

// Where the samples of a step come from: position k alone, or k and k + 1.
struct PositionPair {
    int k;
};
inline double SampleAt(const float* x, int k) { return x[k]; }
inline Lanes SampleAt(const float* x, PositionPair p) { return TwoFloats(x + p.k); }

// Angle phi with y = m sin phi and x = m cos phi, in (-pi/2, 3pi/2); on the y
// axis pi/2 for positive y and 3pi/2 otherwise.
inline double QuadrantAngle(double x, double y) {
    if (x == 0.0) return y <= 0.0 ? kThreeHalfPiFloat : kHalfPiFloat;
    const double angle = Atan(y / x);
    return x < 0.0 ? angle + kPiFloat : angle;
}
inline Lanes QuadrantAngle(Lanes x, Lanes y) {
    if (Any(x == 0.0)) return PerLane(x, y, [](double a, double b) { return QuadrantAngle(a, b); });
    const Lanes angle = Atan(y / x);
    return Select(x < 0.0, angle + kPiFloat, angle);
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
// Each lane steps while it is out of range; a lane to be folded goes alone.
inline Lanes ReduceToTurn(Lanes angle) {
    constexpr double kFoldBeyond = 4.0 * kTwoPiFloat;
    if (Any(NotAtMost(Abs(angle), kFoldBeyond))) return PerLane(angle, [](double a) { return ReduceToTurn(a); });
    for (LaneMask below = angle < 0.0; Any(below); below = angle < 0.0)
        angle = Select(below, angle + kTwoPiFloat, angle);
    for (LaneMask above = angle > kTwoPiFloat; Any(above); above = angle > kTwoPiFloat)
        angle = Select(above, angle - kTwoPiFloat, angle);
    return angle;
}

// Six sources: entries 0, 2, 4 the voltages, 1, 3, 5 the currents.
struct SixSignals {
    const float* u[3];
    const float* i[3];
    template <typename Position>
    auto At(Position k) const {
        using T = decltype(SampleAt(u[0], k));
        return TriplePairOf<T>{{SampleAt(u[0], k), SampleAt(u[1], k), SampleAt(u[2], k)},
                               {SampleAt(i[0], k), SampleAt(i[1], k), SampleAt(i[2], k)}};
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
    template <typename Position>
    auto At(Position k) const {
        using T = decltype(SampleAt(u1, k));
        const T first = SampleAt(u1, k);
        const T second = SampleAt(u2, k);
        const T closing = -(first + second);
        const T closingVoltage = RoundClosingVoltage ? ToFloat(closing) : closing;
        const T firstCurrent = SampleAt(i1, k);
        const T lastCurrent = SampleAt(i3, k);
        const T closingCurrent = ToFloat(-(firstCurrent + lastCurrent));
        return TriplePairOf<T>{{first, second, closingVoltage}, {firstCurrent, closingCurrent, lastCurrent}};
    }
};

// Active (or reactive) three-phase power of a line-voltage triple with phase
// currents: the line-voltage space vector is turned by 30 deg and scaled by
// 1/sqrt3 into the phase-voltage frame. Returned before its rounding to a float.
template <typename T>
T LineFramePower(const TriplePairOf<T>& s, bool active) {
    const SpaceVectorOf<T> u = SpaceVector(s.voltages);
    const SpaceVectorOf<T> i = SpaceVector(s.currents);
    const T au = ToFloat(u.a), bu = ToFloat(u.b);
    const T ai = ToFloat(i.a), bi = ToFloat(i.b);
    const T p = (bi * bu + ai * au) * kTwoThirdsFloat;
    const T q = (ai * bu - bi * au) * kTwoThirdsFloat;
    const T qStored = ToFloat(q);
    const T magnitude = ToFloat(Sqrt(p * p + q * qStored));
    const T angle = QuadrantAngle(qStored, p) + kThirtyDegreesFloat;
    return (active ? Sin(angle) : Cos(angle)) * magnitude * kOneOverSqrt3Float;
}

// Active or reactive power of three voltage/current pairs from their space
// vectors. Returned before its rounding to a float.
template <typename T>
T DeltaFramePower(const TriplePairOf<T>& s, bool active) {
    const SpaceVectorOf<T> u = SpaceVector(s.voltages);
    const SpaceVectorOf<T> i = SpaceVector(s.currents);
    return active ? (i.b * u.b + i.a * u.a) * kTwoThirdsFloat : (i.a * u.b - i.b * u.a) * kTwoThirdsFloat;
}

// Whether the voltages are line voltages (their angle turned back by 30 deg
// into the phase frame) or the voltages of the pairs themselves.
enum class VoltageFrame { Line, Pair };

// RMS current times the sine of the angle by which it lags its voltage. The
// two frames multiply the factors in different orders, kept as they are.
template <typename T>
T ReactiveCurrent(const TriplePairOf<T>& s, VoltageFrame frame) {
    const SpaceVectorOf<T> u = SpaceVector(s.voltages);
    const SpaceVectorOf<T> i = SpaceVector(s.currents);
    const T au = ToFloat(u.a);
    const T bu = u.b;
    const T ai = ToFloat(i.a), bi = ToFloat(i.b);
    const T currentAngle = ReduceToTurn(QuadrantAngle(ai, bi));
    const T currentMagnitude = Sqrt(ai * ai + bi * bi);
    if (frame == VoltageFrame::Line) {
        const T voltageAngle = ReduceToTurn(QuadrantAngle(au, bu) - kThirtyDegreesFloat);
        return currentMagnitude * kSqrtTwoThirds * Sin(voltageAngle - currentAngle) * kOneOverSqrt3Float;
    }
    const T voltageAngle = ReduceToTurn(QuadrantAngle(au, bu));
    return Sin(voltageAngle - currentAngle) * currentMagnitude * kSqrtTwoThirds * kOneOverSqrt3Float;
}

// The two power steps as arguments of the averaged block.
constexpr auto kLineFramePower = [](const auto& s, bool active) { return LineFramePower(s, active); };
constexpr auto kDeltaFramePower = [](const auto& s, bool active) { return DeltaFramePower(s, active); };
