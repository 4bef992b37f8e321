// Power of voltage/current phasor pairs: one rule type for every windowed power
// export (single-phase, three-wire, delta, two-wattmeter, and the fundamental
// power of the averaging family), one block walk and one record walk.
//
// A rule says what is particular to an export: which sources pair up and how
// their products combine (Wiring), the harmonics it adds, its family (how
// CalcKind selects the quantity, the share after Scale, where a block value is
// rounded, how a phasor is rounded) and the factor before Scale, and where its
// windows lie (Placement). Per harmonic h the term is
//     quantity(h) · factor · Scale · share
// (a factor or share of 1.0 is exact); a block form ramps to the family's
// rounding of the terms' sum, a record form stores its window values as
// StoredWindowValue says.
#pragma once

#include <cstdint>

#include "dsp/constants.h"
#include "dsp/elementary.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

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

// cos and sin of the 30° by which a line voltage leads its phase voltage in a
// positive-sequence system, evaluated at run time, once per call.
struct LineTurn {
    double cosine;
    double sine;
};
inline LineTurn LineTurnOf() { return {Cos(kThirtyDegreesFloat), Sin(kThirtyDegreesFloat)}; }

// A line product turned back by 30°: x' = cos·x + sin·y, y' = cos·y - sin·x.
inline PairProducts TurnedBack(PairProducts z, LineTurn t) {
    return {t.cosine * z.x + t.sine * z.y, t.cosine * z.y - t.sine * z.x};
}

// The quantity a target asks for.
enum class PowerKind { Active, Reactive, Zero };

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

// Which sources pair up (voltage at the even entry, current at the odd one) and
// how their products make one harmonic's quantity.
enum class Wiring {
    PhasePair,        // (0, 1)
    LinePair,         // (0, 1) with a line voltage: turned back by 30°
    ThreeLinePairs,   // (0, 1) + (2, 3) + (4, 5), turned back by 30°: three-wire
    ThreePairs,       // (0, 1) + (2, 3) + (4, 5): delta
    TwoWattmeter,     // (0, 1) - (2, 3)
};

struct PairCall;

// How a block form turns its harmonic terms into the value it ramps to.
using WindowValue = double (*)(const PairCall& call);
double UnroundedSum(const PairCall& call);         // the double sum as it is
double RoundedFundamental(const PairCall& call);   // a fundamental rounded to float, a sum as it is
double FloatRoundedSum(const PairCall& call);      // a float sum rounded after every addition

// What a family of exports shares.
struct PairFamily {
    PowerKind (*kindOf)(uint32_t calcKind);
    double blockShare;    // each term's share after Scale in the block forms
    double recordShare;   // the same in the whole-record forms
    WindowValue windowValue;
    PhasorRounding phasorRounding;
};

// Where a block form's windows and ramps lie, and where a record form's windows
// lie relative to the position that takes their value.
struct Placement {
    BlockWalk walk;
    RecordWindow recordWindow;
};
constexpr Placement kTrailingEndingAt{kTrailingWalk, RecordWindow::EndsAtPosition};
constexpr Placement kTrailingBeginningAt{kTrailingWalk, RecordWindow::BeginsAtPosition};
constexpr Placement kLeadingBeginningAt{kLeadingWalk, RecordWindow::BeginsAtPosition};

struct PairRule {
    PairFamily family;
    Wiring wiring;
    HarmonicSet harmonics;
    double factor;   // each harmonic's quantity times it, before Scale
    Placement placement;
};

// One call of a pair-power export: the rule, the sources' phasors and the
// pairs' combined products of the current window, and what the target asks for.
struct PairCall {
    const PairRule& rule;
    PhasorSources sources;
    PowerKind kind;
    double scale;
    LineTurn turn;
    PairProducts products[kHighestHarmonic + 1] = {};

    // The phasors of the windows that begin at offset, and their products.
    void Window(int offset, int fftSize);
    // The selected part of the pairs' combined product at harmonic h.
    double Quantity(int h) const;
    // quantity(h) · factor · Scale · share; 0.0 for a kind that selects nothing.
    double Term(int h, double share) const;
};

// A caller's work buffers: the voltage's spectrum, then the current's. The
// whole transform stays in them, where the host may read it.
struct PairBuffers {
    Spectrum voltage;
    Spectrum current;
};

// The block [start, start + count) of the target's ResultData, in the call's
// own spectra or in the caller's buffers (a null one: nothing is written).
void PairPowerBlock(const PairRule& rule, CallRecords records, WindowSpan span);
void PairPowerBlock(const PairRule& rule, CallRecords records, WindowSpan span, PairBuffers buffers);

// One stored value per whole window of the sources' results, their mean returned.
double PairPowerRecord(const PairRule& rule, CallRecords records, WindowSpan span);
double PairPowerRecord(const PairRule& rule, CallRecords records, WindowSpan span, PairBuffers buffers);
