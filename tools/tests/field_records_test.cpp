// Field records through the host program: recordings at the rates recorders
// use, with harmonics, unbalance and noise, whose fundamental quantities are
// known from their construction; channel names with spaces; computed channels
// as sources; spans; report.json; the memory check.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host_run.h"
#include "input_error.h"
#include "plan.h"
#include "recording.h"

namespace {

namespace fs = std::filesystem;
using Phasor = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// A three-phase feeder as a recorder sees it: 230 V and 10 A (lagging 30°)
// positive sequence with 2 % negative sequence in both, harmonics 3 to 13,
// and noise of 1e-4 of the peak.
struct Feeder {
    double rate, frequency, seconds = 1.0;
    Phasor u[3], i[3];  // fundamental RMS phasors of the three phases
};

Feeder MakeFeeder(double rate, double frequency) {
    Feeder f{rate, frequency};
    const Phasor a = std::polar(1.0, -2.0 * kPi / 3.0);  // one phase later
    for (int k = 0; k < 3; ++k) {
        const Phasor forward = std::pow(a, k), backward = std::pow(a, -k);
        f.u[k] = 230.0 * (forward + 0.02 * backward * std::polar(1.0, 0.4));
        f.i[k] = 10.0 * std::polar(1.0, -kPi / 6.0) * (forward + 0.02 * backward * std::polar(1.0, -0.7));
    }
    return f;
}

Recording FeederRecording(const Feeder& f) {
    const char* names[] = {"LINE ULA", "LINE ULB", "LINE ULC", "LINE IA", "LINE IB", "LINE IC"};
    const double harmonics[][2] = {{3, 0.03}, {5, 0.05}, {7, 0.03}, {9, 0.01}, {11, 0.02}, {13, 0.01}};
    Recording r;
    r.sampleRate = f.rate;
    r.lineFrequency = f.frequency;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1e-4);
    const auto n = static_cast<std::size_t>(f.seconds * f.rate);
    for (int c = 0; c < 6; ++c) {
        RecordedChannel channel(names[c], c < 3 ? "V" : "A");
        const Phasor x = c < 3 ? f.u[c] : f.i[c - 3];
        const double peak = std::abs(x) * std::sqrt(2.0);
        for (std::size_t s = 0; s < n; ++s) {
            const double w = 2.0 * kPi * f.frequency * static_cast<double>(s) / f.rate;
            double v = std::sqrt(2.0) * std::abs(x) * std::cos(w + std::arg(x));
            for (const auto& h : harmonics) v += peak * h[1] * std::cos(h[0] * (w + std::arg(x)) + 0.3 * h[0]);
            channel.samples.push_back(static_cast<float>(v + peak * noise(random)));
        }
        r.channels.push_back(channel);
    }
    return r;
}

const char* const kFeederPlan = R"(
U12  = GetSubtraction() from "LINE ULA" "LINE ULB" unit=V
U23  = GetSubtraction() from "LINE ULB" "LINE ULC" unit=V
U31  = GetSubtraction() from "LINE ULC" "LINE ULA" unit=V
Pa   = GetP(cycle) from "LINE ULA" #4 CalcKind=1
Qa   = GetP(cycle) from "LINE ULA" #4 CalcKind=2
Pb   = GetP(cycle) from "LINE ULB" #5 CalcKind=1
Qb   = GetP(cycle) from "LINE ULB" #5 CalcKind=2
Pc   = GetP(cycle) from "LINE ULC" #6 CalcKind=1
Qc   = GetP(cycle) from "LINE ULC" #6 CalcKind=2
Ua   = GetPowerAvg(cycle) from "LINE ULA"
Ub   = GetPowerAvg(cycle) from "LINE ULB"
Uc   = GetPowerAvg(cycle) from "LINE ULC"
Ia   = GetPowerAvg(cycle) from "LINE IA"
P3   = GetThreeAngleP(cycle) from #1 #4 #2 #5 #3 #6 CalcKind=1
Q3   = GetThreeAngleP(cycle) from #1 #4 #2 #5 #3 #6 CalcKind=2
Pw   = GetThreeLineP(cycle) from U12 #4 U23 #5 U31 #6 CalcKind=1
Qw   = GetThreeLineP(cycle) from U12 #4 U23 #5 U31 #6 CalcKind=2
)";

class FieldRecords : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library_.Open(AMPORA_SHARED_LIBRARY, error)) << error;
    }
    RunResult Run(const Recording& r, const std::string& plan, RunOptions options = {}) {
        return RunPlan(r, ParsePlan(plan, "feeder.plan", DescribeRecording(r).Names()), library_, "feeder.plan", options);
    }
    LoadedLibrary library_;
};

const Curve& CurveOf(const RunResult& r, const std::string& name) {
    for (const Curve& c : r.curves)
        if (c.name == name) return c;
    throw std::runtime_error("no curve " + name);
}

// Every resampled window from the first cycle on gives the construction's
// fundamental RMS, P and Q per phase within 0.1 % (Q of S) and the
// three-phase totals within 0.02 %, at the rates field recorders use.
TEST_F(FieldRecords, ResampledWindowsGiveTheFundamentalFromTheFirstCycle) {
    struct Case {
        double rate, frequency, perCycle;
    } cases[] = {{1000, 50, 32}, {1200, 60, 32}, {1200, 50, 32}, {7678.48, 50, 256}, {7678.48, 60, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " S/s, " + std::to_string(c.frequency) + " Hz");
        const Feeder f = MakeFeeder(c.rate, c.frequency);
        const RunResult result = Run(FeederRecording(f), kFeederPlan);
        EXPECT_EQ(result.sampleRate, c.perCycle * c.frequency);
        const auto cycle = static_cast<std::size_t>(c.perCycle);
        Phasor total = 0.0, line = 0.0;
        double worstPhase = 0.0, worstTotal = 0.0;
        for (int k = 0; k < 3; ++k) {
            const Phasor s = f.u[k] * std::conj(f.i[k]);
            total += s;
            line += (f.u[k] - f.u[(k + 1) % 3]) * std::conj(f.i[k]);
            const std::string p = std::string(1, "abc"[k]);
            const std::pair<std::string, double> expected[] = {
                {"P" + p, s.real()}, {"Q" + p, s.imag()}, {"U" + p, std::abs(f.u[k])}};
            for (const auto& [name, value] : expected) {
                const double scale = name[0] == 'U' ? value : std::abs(s);
                const Curve& curve = CurveOf(result, name);
                for (std::size_t i = 0; i + 2 * cycle < curve.values.size(); ++i)
                    worstPhase = std::max(worstPhase, std::fabs(curve.values[i] - value) / scale);
            }
        }
        line *= std::polar(1.0, -kPi / 6.0) / std::sqrt(3.0);
        const std::pair<std::string, double> totals[] = {
            {"P3", total.real()}, {"Q3", total.imag()}, {"Pw", line.real()}, {"Qw", line.imag()}};
        for (const auto& [name, value] : totals) {
            const Curve& curve = CurveOf(result, name);
            for (std::size_t i = 0; i + 2 * cycle < curve.values.size(); ++i)
                worstTotal = std::max(worstTotal, std::fabs(curve.values[i] - value) / std::abs(total));
        }
        std::printf("%g S/s %g Hz: worst per phase %.5f %%, totals %.5f %%\n", c.rate, c.frequency, worstPhase * 100, worstTotal * 100);
        EXPECT_LT(worstPhase, 1e-3);
        EXPECT_LT(worstTotal, 2e-4);
    }
}

}  // namespace
