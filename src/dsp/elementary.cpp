#include "dsp/elementary.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The upper 32 bits of a double: sign, exponent and the top of the mantissa.
uint32_t HighWord(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return static_cast<uint32_t>(bits >> 32);
}

int Exponent(double x) { return static_cast<int>((HighWord(x) >> 20) & 0x7ff); }

constexpr uint32_t kQuarterPiHigh = 0x3fe921fb;      // |x| <= pi/4: no reduction
constexpr uint32_t kReducibleHigh = 0x413921fb;      // |x| <= 2^19 pi/2: three-part reduction
constexpr uint32_t kNonFiniteHigh = 0x7ff00000;

// sin(x + y) for |x + y| <= pi/4, y the tail of a reduced argument.
double KernelSin(double x, double y) {
    constexpr double s1 = -1.66666666666666324348e-01, s2 = 8.33333333332248946124e-03,
                     s3 = -1.98412698298579493134e-04, s4 = 2.75573137070700676789e-06,
                     s5 = -2.50507602534068634195e-08, s6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double v = z * x;
    const double r = s2 + z * (s3 + z * (s4 + z * (s5 + z * s6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * s1);
}

// cos(x + y) for |x + y| <= pi/4.
double KernelCos(double x, double y) {
    constexpr double c1 = 4.16666666666666019037e-02, c2 = -1.38888888888741095749e-03,
                     c3 = 2.48015872894767294178e-05, c4 = -2.75573143513906633035e-07,
                     c5 = 2.08757232129817482790e-09, c6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double w = z * z;
    const double r = z * (c1 + z * (c2 + z * c3)) + w * w * (c4 + z * (c5 + z * c6));
    const double hz = 0.5 * z;
    const double one = 1.0 - hz;
    return one + (((1.0 - one) - hz) + (z * r - x * y));
}

// x = n pi/2 + (head + tail), |head + tail| <= pi/4, for |x| <= 2^19 pi/2:
// pi/2 in three parts of 33 bits, the later parts used only when the earlier
// ones cancel too many bits of x.
int ReduceByHalfPi(double x, double& head, double& tail) {
    constexpr double invHalfPi = 6.36619772367581382433e-01;
    constexpr double part1 = 1.57079632673412561417e+00, part1Tail = 6.07710050650619224932e-11;
    constexpr double part2 = 6.07710050630396597660e-11, part2Tail = 2.02226624879595063154e-21;
    constexpr double part3 = 2.02226624871116645580e-21, part3Tail = 8.47842766036889956997e-32;
    const double t = std::fabs(x);
    const int n = static_cast<int>(t * invHalfPi + 0.5);
    const double fn = n;
    double r = t - fn * part1;
    double w = fn * part1Tail;
    head = r - w;
    const int exponent = Exponent(t);
    if (exponent - Exponent(head) > 16) {
        double u = r;
        w = fn * part2;
        r = u - w;
        w = fn * part2Tail - ((u - r) - w);
        head = r - w;
        if (exponent - Exponent(head) > 49) {
            u = r;
            w = fn * part3;
            r = u - w;
            w = fn * part3Tail - ((u - r) - w);
            head = r - w;
        }
    }
    tail = (r - head) - w;
    if (x < 0) {
        head = -head;
        tail = -tail;
        return -n;
    }
    return n;
}

// Beyond 2^19 pi/2 radians (far outside the angles of a recording) the angle
// is first folded by the double nearest 2 pi; fmod is exact on every build,
// so the result stays the same everywhere and tracks the argument to about
// |x| * 1e-16 radians.
double FoldLarge(double x) {
    constexpr double kTwoPi = 6.28318530717958647692;
    return std::fmod(x, kTwoPi);
}

// The quadrant n of a reduced argument picks the kernel and the sign.
double SinOfReduced(int n, double head, double tail) {
    switch (n & 3) {
        case 0: return KernelSin(head, tail);
        case 1: return KernelCos(head, tail);
        case 2: return -KernelSin(head, tail);
        default: return -KernelCos(head, tail);
    }
}

// sin(x + quarterTurns pi/2): sine and cosine share the reduction and the kernels.
double ShiftedSin(double x, int quarterTurns) {
    const uint32_t high = HighWord(x) & 0x7fffffff;
    if (high <= kQuarterPiHigh) return quarterTurns ? KernelCos(x, 0.0) : KernelSin(x, 0.0);
    if (high >= kNonFiniteHigh) return x - x;
    if (high > kReducibleHigh) x = FoldLarge(x);
    double head, tail;
    const int n = ReduceByHalfPi(x, head, tail);
    return SinOfReduced(n + quarterTurns, head, tail);
}

}  // namespace

double Sin(double x) { return ShiftedSin(x, 0); }

double Cos(double x) { return ShiftedSin(x, 1); }

double Atan(double x) {
    static constexpr double kAtanHigh[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01,
                                           9.82793723247329054082e-01, 1.57079632679489655800e+00};
    static constexpr double kAtanLow[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17,
                                          1.39033110312309984516e-17, 6.12323399573676603587e-17};
    static constexpr double kCoefficients[] = {
        3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
        -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
        6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
        -3.65315727442169155270e-02, 1.62858201153657823623e-02};
    const double* aT = kCoefficients;
    const uint32_t high = HighWord(x) & 0x7fffffff;
    const bool negative = std::signbit(x);
    if (std::isnan(x)) return x + x;
    if (high >= 0x44100000) return negative ? -(kAtanHigh[3] + kAtanLow[3]) : kAtanHigh[3] + kAtanLow[3];
    int id;
    if (high < 0x3fdc0000) {            // |x| < 7/16: the series directly
        if (high < 0x3e400000) return x;
        id = -1;
    } else {                            // shift to one of four centres
        x = std::fabs(x);
        if (high < 0x3fe60000) {
            id = 0;
            x = (2.0 * x - 1.0) / (2.0 + x);
        } else if (high < 0x3ff30000) {
            id = 1;
            x = (x - 1.0) / (x + 1.0);
        } else if (high < 0x40038000) {
            id = 2;
            x = (x - 1.5) / (1.0 + 1.5 * x);
        } else {
            id = 3;
            x = -1.0 / x;
        }
    }
    const double z = x * x;
    const double w = z * z;
    const double s1 = z * (aT[0] + w * (aT[2] + w * (aT[4] + w * (aT[6] + w * (aT[8] + w * aT[10])))));
    const double s2 = w * (aT[1] + w * (aT[3] + w * (aT[5] + w * (aT[7] + w * aT[9]))));
    if (id < 0) return x - x * (s1 + s2);
    const double result = kAtanHigh[id] - ((x * (s1 + s2) - kAtanLow[id]) - x);
    return negative ? -result : result;
}

// The arc cosine by the half-angle identities, each branch a rational
// approximation R(z) of (asin(sqrt z) - sqrt z) / sqrt z on z <= 1/4:
//   |x| < 1/2:  acos x = pi/2 - asin x, asin x = x + x R(x²)
//   x > 1/2:    acos x = 2 asin(s), s = sqrt((1 - x)/2), with s split into a
//               head of 26 bits (its square exact) and a correction
//   x < -1/2:   acos x = pi - 2 asin(s), s = sqrt((1 + x)/2)
// pi/2 is carried in two parts so the sums keep its last bits. (The arc
// tangent of sqrt(1 - x²)/x loses up to two units near |x| = 1.)
double Acos(double x) {
    constexpr double kPi = 3.14159265358979311600e+00;
    constexpr double kHalfPiHigh = 1.57079632679489655800e+00;
    constexpr double kHalfPiLow = 6.12323399573676603587e-17;
    constexpr uint32_t kTinyHigh = 0x3c600000;   // |x| below 2^-57: acos x rounds to pi/2
    const double absolute = std::fabs(x);
    if (!(absolute <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
    if (absolute == 1.0) return x > 0.0 ? 0.0 : kPi + 2.0 * kHalfPiLow;
    // R(z) = p(z) / q(z), with p carrying the factor z.
    const auto ratio = [](double z) {
        constexpr double p0 = 1.66666666666666657415e-01, p1 = -3.25565818622400915405e-01,
                         p2 = 2.01212532134862925881e-01, p3 = -4.00555345006794114027e-02,
                         p4 = 7.91534994289814532176e-04, p5 = 3.47933107596021167570e-05;
        constexpr double q1 = -2.40339491173441421878e+00, q2 = 2.02094576023350569471e+00,
                         q3 = -6.88283971605453293030e-01, q4 = 7.70381505559019352791e-02;
        const double p = z * (p0 + z * (p1 + z * (p2 + z * (p3 + z * (p4 + z * p5)))));
        const double q = 1.0 + z * (q1 + z * (q2 + z * (q3 + z * q4)));
        return p / q;
    };
    if (absolute < 0.5) {
        if (HighWord(absolute) <= kTinyHigh) return kHalfPiHigh + kHalfPiLow;
        return kHalfPiHigh - (x - (kHalfPiLow - x * ratio(x * x)));
    }
    if (x < 0.0) {
        const double z = (1.0 + x) * 0.5;
        const double s = std::sqrt(z);
        const double w = ratio(z) * s - kHalfPiLow;
        return kPi - 2.0 * (s + w);
    }
    const double z = (1.0 - x) * 0.5;
    const double s = std::sqrt(z);
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    bits &= 0xffffffff00000000ull;   // the head: s with its low 32 bits cleared
    double head;
    std::memcpy(&head, &bits, sizeof head);
    const double correction = (z - head * head) / (s + head);
    return 2.0 * (head + (ratio(z) * s + correction));
}
