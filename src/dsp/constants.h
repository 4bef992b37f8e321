// The library's numeric constants that more than one place uses, one name
// each. Most are held as doubles whose value is a float (the library computes
// with them as the float-rounded values the host's own arithmetic used); the
// few derived in double from such a float say so. Exact small numbers with a
// meaning of their own in one family (a phase count, a ramp factor) stay with
// that family.
#pragma once

// ---- angles, as floats ----
constexpr double kThirtyDegreesFloat = 0.5235987901687622;   // pi/6: a line voltage leads its phase voltage by it
constexpr double kHalfPiFloat = 1.5707963705062866;          // pi/2
constexpr double kPiFloat = 3.1415927410125732;              // pi
constexpr double kThreeHalfPiFloat = 4.71238899230957;       // 3pi/2
constexpr double kTwoPiFloat = 6.2831854820251465;           // 2pi: the transform's stages divide it

// Degrees and radians, from the float pi in double: pi/180 and its reciprocal.
constexpr double kRadiansPerDegree = 0.017453293005625408;
constexpr double kDegreesPerRadian = 57.29577791868204;
static_assert(kRadiansPerDegree == kPiFloat / 180.0 && kDegreesPerRadian == 1.0 / kRadiansPerDegree);
// 180/pi as a float, where an angle is turned into degrees in float arithmetic.
constexpr float kDegreesPerRadianFloat = 57.2957763671875f;

// ---- the three-phase operator and sqrt(3), as floats ----
constexpr double kCos60 = 0.5;                         // exact
constexpr double kSin60Float = 0.8660253882408142;     // sqrt(3)/2
constexpr double kSqrt3Float = 1.7320507764816284;     // sqrt(3), twice kSin60Float
constexpr double kInvSqrt3Float = 0.5773502588272095;  // 1/sqrt(3)
// The reciprocals of those two floats, formed in double: the forms that divide
// by the float rather than multiply by the float of the quotient.
constexpr double kOneOverSqrt3Float = 0.5773502795520422;
constexpr double kOneOverInvSqrt3Float = 1.7320508386561266;
static_assert(kSqrt3Float == 2.0 * kSin60Float && kOneOverSqrt3Float == 1.0 / kSqrt3Float &&
              kOneOverInvSqrt3Float == 1.0 / kInvSqrt3Float);

// ---- thirds ----
constexpr double kThird = 0.3333333333333333;          // 1/3 in double
constexpr double kThirdFloat = 0.3333333432674408;     // 1/3 as a float
constexpr double kTwoThirdsFloat = 0.6666666865348816; // 2/3 as a float

// The RMS value of a sinusoid per unit of amplitude: 1/sqrt(2) as the
// reciprocal, in double, of the float sqrt(2) (1.4142135381698608).
constexpr double kRmsScale = 0.7071067932881648;
