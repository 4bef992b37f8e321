// The built-in recording: a synchronous-generator test whose every quantity is
// known from the way the signals are built.
#pragma once

#include <complex>

#include "recording.h"

// Construction of the built-in recording.
struct GeneratorTest {
    double sampleRate = 12800.0;  // a 50 Hz period is 256 samples, a power-of-two window
    double seconds = 2.0;
    double frequency = 50.0;
    double phaseVoltage = 230.0;     // V RMS
    double current = 10.0;           // A RMS, positive sequence
    double lagDegrees = 30.0;        // current behind voltage
    double fifthHarmonic = 0.05;     // of the current
    double negativeSequence = 0.03;  // of the current, in phase with the phase-1 voltage
    double keyLeadDegrees = 40.0;    // key pulse rising edge ahead of the phase-1 voltage zero crossing
    double speed = 3000.0;           // rev/min
    int wheelTeeth = 60;
};

// Channels: Ua Ub Uc (phase voltages), U12 U23 U31 (line voltages), Ia Ib Ic,
// Key (once per revolution, 0..5 V), Wheel (speed pickup, ±2 V per tooth).
Recording GenerateRecording(const GeneratorTest& test = GeneratorTest());

// The plan for the built-in recording, as shipped in tools/generator.plan.
extern const char* const kGeneratorPlan;

// A three-phase feeder as a field recorder sees it: phase voltages and
// currents named as recorders name them ("LINE ULA", ...), positive sequence
// with a negative-sequence share in both, harmonics 3 to 13 (those the
// recorder's anti-alias filter passes), a little noise,
// and optionally a fault, spare analog channels and status channels.
struct FeederTest {
    double sampleRate = 1000.0;
    double frequency = 50.0;        // nominal, as the configuration states it
    double actualFrequency = 0.0;   // the signals' own; 0: the nominal one
    double seconds = 2.0;
    double phaseVoltage = 230.0;    // V RMS
    double current = 10.0;          // A RMS, lagging
    double lagDegrees = 30.0;
    double unbalance = 0.02;        // negative sequence, of the positive
    double noise = 1e-4;            // RMS, of each channel's peak
    double faultAt = 0.0;           // s: from here the currents are five times larger and lag 80° (0: none)
    bool reversed = false;          // phases B and C swapped
    int spareAnalogs = 0;           // "SPARE n" channels of noise after the six
    int statusChannels = 0;         // digital "DI n" channels after the analog ones
    // Fundamental RMS phasors of phase k (0, 1, 2) before any fault, cosine reference.
    std::complex<double> U(int k) const;
    std::complex<double> I(int k) const;
};

Recording GenerateFeeder(const FeederTest& test = FeederTest());
