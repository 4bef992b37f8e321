#include "generator.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
constexpr double kKeyHigh = 5.0;          // V
constexpr double kKeyWidth = 0.1;         // of a revolution
constexpr double kWheelAmplitude = 2.0;   // V

}  // namespace

Recording GenerateRecording(const GeneratorTest& t) {
    Recording r;
    r.sampleRate = t.sampleRate;
    r.lineFrequency = t.frequency;
    const std::size_t n = static_cast<std::size_t>(std::llround(t.sampleRate * t.seconds));
    const char* const names[] = {"Ua", "Ub", "Uc", "U12", "U23", "U31", "Ia", "Ib", "Ic", "Key", "Wheel"};
    const char* const units[] = {"V", "V", "V", "V", "V", "V", "A", "A", "A", "V", "V"};
    for (int k = 0; k < 11; ++k) r.channels.push_back({names[k], units[k], std::vector<float>(n)});

    const double w = 2.0 * kPi * t.frequency;
    const double peakU = t.phaseVoltage * std::sqrt(2.0);
    const double peakI = t.current * std::sqrt(2.0);
    const double revolutionsPerSecond = t.speed / 60.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double time = static_cast<double>(i) / t.sampleRate;
        double u[3], current[3];
        for (int k = 0; k < 3; ++k) {
            const double shift = -2.0 * kPi / 3.0 * k;  // phase k lags phase 1 by 120° per step
            u[k] = peakU * std::sin(w * time + shift);
            const double fundamental = std::sin(w * time + shift - t.lagDegrees * kDegree);
            const double negative = t.negativeSequence * std::sin(w * time - shift);
            const double fifth = t.fifthHarmonic * std::sin(5.0 * (w * time + shift - t.lagDegrees * kDegree));
            current[k] = peakI * (fundamental + negative + fifth);
        }
        for (int k = 0; k < 3; ++k) {
            r.channels[k].samples[i] = static_cast<float>(u[k]);
            r.channels[3 + k].samples[i] = static_cast<float>(u[k] - u[(k + 1) % 3]);
            r.channels[6 + k].samples[i] = static_cast<float>(current[k]);
        }
        // The key pulse rises keyLeadDegrees (electrical, one period per revolution
        // at 3000 rev/min) before the phase-1 voltage's rising zero crossing.
        const double turn = revolutionsPerSecond * time + t.keyLeadDegrees / 360.0;
        const double inTurn = turn - std::floor(turn);
        r.channels[9].samples[i] = static_cast<float>(inTurn < kKeyWidth ? kKeyHigh : 0.0);
        r.channels[10].samples[i] =
            static_cast<float>(kWheelAmplitude * std::sin(2.0 * kPi * revolutionsPerSecond * t.wheelTeeth * time));
    }
    return r;
}
