#pragma once

#include "dsp/lanes.h"

// The library's own sine, cosine, arc tangent and arc cosine. The C libraries of the
// builds differ in the last bit of these functions (the 32-bit Linux library
// is not the 64-bit one, nor the Windows run-time), and a host comparing a
// DLL result with a Linux one expects the same bits. These use double
// arithmetic only (argument reduction in three parts of pi/2, fixed
// polynomials), so every build gives the same value, within one unit in the
// last place of the exact one.
double Sin(double x);
double Cos(double x);
double Atan(double x);
// The same three on two values at once, each lane the bits of the function
// above for that value: lanes that take the same branch of it run side by
// side, others one after the other.
Lanes Sin(Lanes x);
Lanes Cos(Lanes x);
Lanes Atan(Lanes x);
// The arc cosine in [0, pi] by half-angle reduction and a rational
// approximation; NaN outside [-1, 1].
double Acos(double x);
