// Positive-sequence quantities of three voltages and three currents, block by
// block: the three voltage phasors and the three current phasors are reduced to
// their positive-sequence components, from which CalcKind selects active or
// reactive power, the voltage magnitude, or the active or reactive current.
// GetThreeLineZX takes line voltages and turns their component back by 30°;
// GetThreeAngleZX takes voltages that need no turn and uses the factor 3.
#include <cmath>

#include "ampora.h"
#include "dsp/complex.h"
#include "dsp/constants.h"
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

constexpr double kThreePhases = 3.0;
constexpr float kComponentDivisor = 3.0f;

constexpr Complex kRotation{-kCos60, -kSin60Float};   // the 120° operator a
constexpr Complex kBackThirty{kSin60Float, -kCos60};  // turn by -30° (cos 30° = sin 60°)

enum class PositiveSequenceKind { Active = 1, Reactive = 2, Voltage = 3, ActiveCurrent = 4, ReactiveCurrent = 5 };

Complex AsComplex(Phasor p) { return {p.re, p.im}; }

// ((a²·x1 + x0) + a·x2) / 3: the positive-sequence component of three phasors
// taken in phase order 1, 2, 3.
Complex PositiveSequence(Complex x0, Complex x1, Complex x2, Complex a, Complex a2) {
    return ((a2 * x1 + x0) + a * x2) / kComponentDivisor;
}

struct Components {
    Complex u;
    Complex i;
};

Components ComponentsOfWindow(const PhasorSources& s, Complex a, Complex a2) {
    auto v = [&s](int k) { return AsComplex(PhasorAt(s.spectra[k], 1)); };
    return {PositiveSequence(v(0), v(2), v(4), a, a2), PositiveSequence(v(1), v(3), v(5), a, a2)};
}

double Magnitude(Complex z) { return std::sqrt(z.re * z.re + z.im * z.im); }

// Line voltages: the voltage component turned back by 30° into the phase frame;
// Scale applies to the two powers only.
double LineWindowValue(Components c, uint32_t calcKind, double scale) {
    const Complex w = c.u * kBackThirty;
    const float p = static_cast<float>((w.re * c.i.re + w.im * c.i.im) * kSqrt3Float);
    const float q = static_cast<float>((w.im * c.i.re - w.re * c.i.im) * kSqrt3Float);
    const float magnitude = static_cast<float>(Magnitude(c.u));
    const double lineCurrentBase = static_cast<double>(magnitude) * kSqrt3Float;
    switch (static_cast<PositiveSequenceKind>(calcKind)) {
        case PositiveSequenceKind::Active: return p * scale;
        case PositiveSequenceKind::Reactive: return q * scale;
        case PositiveSequenceKind::Voltage: return magnitude;
        case PositiveSequenceKind::ActiveCurrent: return p / lineCurrentBase;
        case PositiveSequenceKind::ReactiveCurrent: return q / lineCurrentBase;
    }
    return 0.0;
}

// Phase voltages: no turn, the factor 3, and Scale on every kind, rounded
// before the value is written or ramped.
double PhaseWindowValue(Components c, uint32_t calcKind, double scale) {
    const float lineVoltage = static_cast<float>(Magnitude(c.u) * kSqrt3Float);
    const float p = static_cast<float>((c.u.re * c.i.re + c.u.im * c.i.im) * kThreePhases);
    const float q = static_cast<float>((c.u.im * c.i.re - c.u.re * c.i.im) * kThreePhases);
    const double currentBase = static_cast<double>(lineVoltage) * kThreePhases;
    double v = 0.0;
    switch (static_cast<PositiveSequenceKind>(calcKind)) {
        case PositiveSequenceKind::Active: v = p; break;
        case PositiveSequenceKind::Reactive: v = q; break;
        case PositiveSequenceKind::Voltage: v = lineVoltage; break;
        case PositiveSequenceKind::ActiveCurrent: v = p / currentBase; break;
        case PositiveSequenceKind::ReactiveCurrent: v = q / currentBase; break;
    }
    const float scaled = static_cast<float>(v * scale);
    return scaled;
}

void RunPositiveSequence(CPtrList* channels, ChannelInfo* target, SourceLookup lookup, int start, int count,
                         int fftSize, double (*windowValue)(Components, uint32_t, double)) {
    ChannelInfo* records[6];
    if (!ResolveSources(channels, target, lookup, records)) return;
    if (!UsableWindow(fftSize, kMinimumBlockWindow, Transform::Reduced)) return;
    ScratchSources own(records, 6, Reads::Samples, fftSize, kFundamentalOnly);
    if (!own.Held()) return;
    const Complex a = kRotation;
    const Complex a2 = a * a;   // formed at run time, close to (-0.5, +sqrt(3)/2)
    const uint32_t calcKind = target->CalcKind;
    const double scale = target->Scale;
    WalkBlock(ResultArray(target), start, count, fftSize, kTrailingWalk, [&](int offset) {
        PhasorsOfWindow(own.sources, offset, fftSize, kFundamentalOnly);
        return windowValue(ComponentsOfWindow(own.sources, a, a2), calcKind, scale);
    });
}

}  // namespace

void GetThreeLineZX(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunPositiveSequence(channels, target, LookupFor("GetThreeLineZX"), start, count, fftSize, LineWindowValue);
}
void GetThreeAngleZX(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize) {
    RunPositiveSequence(channels, target, LookupFor("GetThreeAngleZX"), start, count, fftSize, PhaseWindowValue);
}
