// Test signals and hosts for the windowed power exports: sums of cosines with a
// known RMS, phase and harmonic order, fed to N source records (samples and
// results alike) and a target that lists them.
#pragma once

#include <cmath>
#include <initializer_list>
#include <numeric>
#include <vector>

#include "frame/channel_info.h"
#include "hostkit/host_channels.h"

constexpr double kPi = 3.14159265358979323846;

struct Wave {
    double rms;
    double phase;   // radians at position 0
    int harmonic = 1;
};

// n samples of sum of rms·sqrt(2)·cos(2·pi·h·i/period + phase).
inline std::vector<float> Signal(int n, double period, std::initializer_list<Wave> waves) {
    std::vector<float> x(n);
    const double pi = std::acos(-1.0);
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (const Wave& w : waves) v += w.rms * std::sqrt(2.0) * std::cos(2.0 * pi * w.harmonic * i / period + w.phase);
        x[i] = static_cast<float>(v);
    }
    return x;
}

// n samples of amplitude·sin(2·pi·(i + 0.3)/period): rising through zero 0.3
// samples before position 0, so no sample lies on a crossing.
inline std::vector<float> Sine(int n, double period, double amplitude = 1.0) {
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) x[i] = static_cast<float>(amplitude * std::sin(2.0 * std::acos(-1.0) * (i + 0.3) / period));
    return x;
}

inline double Degrees(double d) { return d * std::acos(-1.0) / 180.0; }

// Sources 1..N (ChannelId k+1) holding the signals as samples and as results,
// and an unlisted target whose SourceIds name them; its results start at initial.
struct PowerHost {
    HostChannels host;
    std::vector<ChannelInfo*> sources;
    ChannelInfo* target = nullptr;
    float* result = nullptr;

    PowerHost(const std::vector<std::vector<float>>& signals, int resultLength, uint32_t calcKind = 1,
              double scale = 1.0, float initial = -7.0f)
        : host(0xA5) {
        for (size_t k = 0; k < signals.size(); ++k) {
            ChannelInfo* s = host.Add(static_cast<uint32_t>(k + 1));
            host.Samples(s, signals[k]);
            host.Results(s, signals[k]);
            s->PhaseShift = 0.0;
            sources.push_back(s);
        }
        target = host.Add(100, false);
        std::vector<uint8_t> ids(signals.size());
        std::iota(ids.begin(), ids.end(), 1);
        host.SetSources(target, ids);
        result = host.Results(target, resultLength, initial);
        target->CalcKind = calcKind;
        target->Scale = scale;
    }
    CPtrList* List() { return host.List(); }
};

// A balanced positive-sequence system: phase RMS u, currents of RMS i lagging
// by phi, period samples per cycle. Sources in pair order: line voltages U12,
// U23, U31 with I1, I2, I3 (line = true), or phase voltages with the currents.
inline std::vector<std::vector<float>> BalancedSystem(int n, int period, double u, double i, double phi,
                                                      bool line) {
    std::vector<std::vector<float>> s;
    for (int k = 0; k < 3; ++k) {
        const double phase = -Degrees(120.0 * k);
        if (line) s.push_back(Signal(n, period, {{std::sqrt(3.0) * u, phase + Degrees(30.0)}}));
        else s.push_back(Signal(n, period, {{u, phase}}));
        s.push_back(Signal(n, period, {{i, phase - phi}}));
    }
    return s;
}
