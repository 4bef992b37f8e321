// Power of voltage/current phasor pairs: the products of one pair, the turn of
// a line-voltage product back into the phase frame, and how each family reads
// CalcKind.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/elementary.h"
#include "power/phasor_step.h"

// Real and imaginary part of u · conj(i): the pair's active and reactive product.
// Float components multiply exactly in double; only the sums round. The values
// are bit for bit those of the Complex product of u with (i.re, -i.im).
struct PairProducts {
    double x;   // Re: u.re·i.re + u.im·i.im
    double y;   // Im: u.im·i.re - u.re·i.im
};

inline PairProducts PairOf(Phasor u, Phasor i) {
    const double ure = u.re, uim = u.im, ire = i.re, iim = i.im;
    return {ure * ire + uim * iim, uim * ire - ure * iim};
}

inline PairProducts operator+(PairProducts a, PairProducts b) { return {a.x + b.x, a.y + b.y}; }
inline PairProducts operator-(PairProducts a, PairProducts b) { return {a.x - b.x, a.y - b.y}; }

// The pair products of sources (0, 1), (2, 3), ... at harmonic h.
template <int N>
PairProducts PairAt(const PhasorSources<N>& s, int pair, int h) {
    return PairOf(PhasorAt(s.spectra[2 * pair], h), PhasorAt(s.spectra[2 * pair + 1], h));
}

// The 30° by which a line voltage leads its phase voltage in a positive-sequence
// system; its cosine and sine are evaluated at run time, once per call.
constexpr double kLineAngle = 0.5235987901687622;

struct LineTurn {
    double cosine;
    double sine;
};
inline LineTurn LineTurnOf() { return {Cos(kLineAngle), Sin(kLineAngle)}; }

// A line product turned back by 30°: x' = cos·x + sin·y, y' = cos·y - sin·x.
inline PairProducts TurnedBack(PairProducts z, LineTurn t) {
    return {t.cosine * z.x + t.sine * z.y, t.cosine * z.y - t.sine * z.x};
}

// The quantity a target asks for.
enum class PowerKind { Active, Reactive, Zero };

inline double Select(PairProducts z, PowerKind kind) {
    if (kind == PowerKind::Active) return z.x;
    if (kind == PowerKind::Reactive) return z.y;
    return 0.0;
}

// Single-phase family: 1 active, 2 reactive, anything else a zero value.
inline PowerKind KindOneActiveTwoReactive(uint32_t calcKind) {
    return calcKind == 1 ? PowerKind::Active : calcKind == 2 ? PowerKind::Reactive : PowerKind::Zero;
}
// Three-wire family: 2 reactive, anything else active.
inline PowerKind KindReactiveAtTwo(uint32_t calcKind) {
    return calcKind == 2 ? PowerKind::Reactive : PowerKind::Active;
}
// Delta and two-wattmeter family: 1 active, anything else reactive.
inline PowerKind KindActiveAtOne(uint32_t calcKind) {
    return calcKind == 1 ? PowerKind::Active : PowerKind::Reactive;
}
