#include "generator.h"

#include <cmath>
#include <random>
#include <string>

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

namespace {

// Harmonic orders and their share of the fundamental's peak.
constexpr double kFeederHarmonics[][2] = {{3, 0.03}, {5, 0.05}, {7, 0.03}, {9, 0.01}, {11, 0.02}, {13, 0.01}};
constexpr double kFaultCurrent = 5.0;
constexpr double kFaultLagDegrees = 80.0;
constexpr unsigned kNoiseSeed = 7;
// A recorder's anti-alias filter leaves only harmonics below this share of its rate.
constexpr double kRecorderBand = 0.46;

std::complex<double> Sequences(const FeederTest& t, int k, double magnitude, double shift) {
    const int phase = t.reversed && k > 0 ? 3 - k : k;
    const std::complex<double> later = std::polar(1.0, -2.0 * kPi / 3.0 * phase);
    return magnitude * std::polar(1.0, shift) * (later + t.unbalance * std::conj(later) * std::polar(1.0, 0.4));
}

}  // namespace

std::complex<double> FeederTest::U(int k) const { return Sequences(*this, k, phaseVoltage, 0.0); }
std::complex<double> FeederTest::I(int k) const { return Sequences(*this, k, current, -lagDegrees * kDegree); }

Recording GenerateFeeder(const FeederTest& t) {
    Recording r;
    r.sampleRate = t.sampleRate;
    r.lineFrequency = t.frequency;
    const auto n = static_cast<std::size_t>(std::llround(t.seconds * t.sampleRate));
    const double f = t.actualFrequency > 0.0 ? t.actualFrequency : t.frequency;
    std::mt19937 random(kNoiseSeed);
    std::normal_distribution<double> noise(0.0, t.noise);
    const char* const names[] = {"LINE ULA", "LINE ULB", "LINE ULC", "LINE IA", "LINE IB", "LINE IC"};
    for (int c = 0; c < 6; ++c) {
        RecordedChannel channel(names[c], c < 3 ? "V" : "A");
        channel.phase = std::string(1, "ABC"[c % 3]);
        const std::complex<double> x = c < 3 ? t.U(c) : t.I(c - 3);
        const std::complex<double> fault = kFaultCurrent * std::abs(x) * std::polar(1.0, std::arg(t.U(c % 3)) - kFaultLagDegrees * kDegree);
        for (std::size_t s = 0; s < n; ++s) {
            const double time = static_cast<double>(s) / t.sampleRate;
            const std::complex<double> now = c >= 3 && t.faultAt > 0.0 && time >= t.faultAt ? fault : x;
            const double w = 2.0 * kPi * f * time + std::arg(now), peak = std::abs(now) * std::sqrt(2.0);
            double v = peak * std::cos(w);
            for (const auto& h : kFeederHarmonics)
                if (h[0] * f < kRecorderBand * t.sampleRate) v += peak * h[1] * std::cos(h[0] * w + 0.3 * h[0]);
            channel.samples.push_back(static_cast<float>(v + peak * noise(random)));
        }
        r.channels.push_back(channel);
    }
    for (int k = 0; k < t.spareAnalogs; ++k) {
        RecordedChannel spare("SPARE " + std::to_string(k + 7), "V");
        for (std::size_t s = 0; s < n; ++s) spare.samples.push_back(static_cast<float>(noise(random)));
        r.channels.push_back(spare);
    }
    // Status k is closed for every (k + 2)-th cycle.
    for (int k = 0; k < t.statusChannels; ++k) {
        RecordedChannel status("DI " + std::to_string(k + 1), "");
        status.digital = true;
        for (std::size_t s = 0; s < n; ++s)
            status.samples.push_back(static_cast<long long>(std::floor(f * static_cast<double>(s) / t.sampleRate)) % (k + 2) == 0 ? 1.0f : 0.0f);
        r.channels.push_back(status);
    }
    return r;
}
