// The built-in recording: a synchronous-generator test whose every quantity is
// known from the way the signals are built.
#pragma once

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
