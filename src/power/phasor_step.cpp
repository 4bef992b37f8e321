#include "power/phasor_step.h"

#include <cmath>

#include "dsp/fft.h"

PhaseTurn TurnAt(double phaseShift, int harmonic) {
    const double phi = -(phaseShift * harmonic);
    return {std::cos(phi), std::sin(phi)};
}

SourceTurns TurnsOf(double phaseShift, HarmonicSet set) {
    SourceTurns turns{};
    for (int h = set.first; h <= set.last; ++h) turns.at[h] = TurnAt(phaseShift, h);
    return turns;
}

int TransformWindow(const float* window, int fftSize, Spectrum s, Transform transform) {
    return Fft(fftSize, 0, window, nullptr, s.re, s.im, static_cast<uint32_t>(transform));
}

Phasor StoreRmsPhasor(Spectrum s, int h, int points) {
    const float a = static_cast<float>(static_cast<double>(s.re[h]) * 2.0 / points * kRmsScale);
    const float b = static_cast<float>(static_cast<double>(s.im[h]) * 2.0 / points * kRmsScale);
    s.re[h] = a;
    s.im[h] = b;
    return {a, b};
}

Phasor StoreTurnedPhasor(Spectrum s, int h, PhaseTurn turn) {
    const double a = s.re[h];
    const double b = s.im[h];
    const float re = static_cast<float>(turn.cosine * a - turn.sine * b);
    const float im = static_cast<float>(turn.sine * a + turn.cosine * b);
    s.re[h] = re;
    s.im[h] = im;
    return {re, im};
}

void HarmonicPhasorStep(const float* window, int fftSize, Spectrum s, HarmonicSet set,
                        const SourceTurns& turns) {
    const int points = TransformWindow(window, fftSize, s, Transform::Reduced);
    for (int h = set.first; h <= set.last; ++h) {
        StoreRmsPhasor(s, h, points);
        StoreTurnedPhasor(s, h, turns.at[h]);
    }
}
