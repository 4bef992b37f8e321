// Three-phase windowed power: three-wire, delta, two-wattmeter and the
// positive-sequence kinds, block by block and for a whole record, on balanced
// systems with known answers, and the entries the whole-record forms write.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ampora.h"
#include "support/power_signals.h"

namespace {

using BlockFn = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using RecordFn = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);

enum class Wiring { ThreeWire, Delta, TwoWattmeter };

struct ThreePhaseExport {
    const char* name;
    BlockFn block;
    RecordFn record;
    Wiring wiring;
    bool all;
};

const ThreePhaseExport kExports[] = {
    {"GetThreeLineP", GetThreeLineP, GetThreeLinePSum, Wiring::ThreeWire, false},
    {"GetThreeLinePAll", GetThreeLinePAll, GetThreeLinePAllSum, Wiring::ThreeWire, true},
    {"GetThreeAngleP", GetThreeAngleP, GetThreeAnglePSum, Wiring::Delta, false},
    {"GetThreeAnglePAll", GetThreeAnglePAll, GetThreeAnglePAllSum, Wiring::Delta, true},
    {"GetTwoAngleP", GetTwoAngleP, GetTwoAnglePSum, Wiring::TwoWattmeter, false},
    {"GetTwoAnglePAll", GetTwoAnglePAll, GetTwoAnglePAllSum, Wiring::TwoWattmeter, true},
};

constexpr double kU = 230.0, kI = 5.0;

// The sources each wiring reads from a balanced positive-sequence system:
// three-wire U12/I1, U23/I2, U31/I3; delta the phase voltages with their
// currents; two-wattmeter U12/I1 and U23/I3.
std::vector<std::vector<float>> Sources(Wiring w, int n, int period, double phi) {
    auto s = BalancedSystem(n, period, kU, kI, phi, w != Wiring::Delta);
    if (w == Wiring::TwoWattmeter) return {s[0], s[1], s[2], s[5]};
    return s;
}

// Active for the kinds the family reads as active, reactive otherwise.
bool ActiveKind(Wiring w, uint32_t kind) { return w == Wiring::ThreeWire ? kind != 2 : kind == 1; }

TEST(ThreePhasePower, BalancedSystemThroughEveryForm) {
    for (const ThreePhaseExport& e : kExports) {
        for (int fft : {16, 128, 1024}) {
            if (e.all && fft < 32) continue;
            for (double phi : {0.0, Degrees(30), Degrees(90), Degrees(-45)}) {
                for (uint32_t kind : {0u, 1u, 2u, 3u}) {
                    SCOPED_TRACE(std::string(e.name) + " fftSize " + std::to_string(fft) + " phi " +
                                 std::to_string(phi) + " CalcKind " + std::to_string(kind));
                    const int n = 6 * fft;
                    PowerHost h(Sources(e.wiring, n, fft, phi), n, kind, 1.0);
                    const double want = 3 * kU * kI * (ActiveKind(e.wiring, kind) ? std::cos(phi) : std::sin(phi));
                    const double tolerance = 3e-5 * 3 * kU * kI;
                    e.block(h.List(), h.target, 0, n, fft);
                    for (int i = 0; i < n; i += 5) ASSERT_NEAR(h.result[i], want, tolerance) << "position " << i;
                    const double mean = e.record(h.List(), h.target, 0, n, fft);
                    EXPECT_NEAR(mean, want, tolerance);
                }
            }
        }
    }
}

// A 5th harmonic in pair 1 only, and a phase correction phi on its current:
// the harmonic sums turn the 5th by -5·phi, the fundamental forms see nothing
// (the currents carry no fundamental).
TEST(ThreePhasePower, FifthHarmonicTurnedByTheCurrentsPhaseShift) {
    const int fft = 256, n = 4 * fft;
    const double u5 = 20.0, i5 = 3.0, phi = 0.1;
    for (const ThreePhaseExport& e : kExports) {
        for (uint32_t kind : {1u, 2u}) {
            SCOPED_TRACE(std::string(e.name) + " CalcKind " + std::to_string(kind));
            auto s = Sources(e.wiring, n, fft, 0.0);
            const bool line = e.wiring != Wiring::Delta;
            // A line voltage leads by 30° with sqrt(3) the RMS of the pair's
            // own phase voltage; the three-wire form divides that back out.
            const double gain = e.wiring == Wiring::ThreeWire ? std::sqrt(3.0) : 1.0;
            s[0] = Signal(n, fft, {{kU * (line ? std::sqrt(3.0) : 1.0), line ? Degrees(30) : 0.0},
                                   {u5 * gain, e.wiring == Wiring::ThreeWire ? Degrees(30) : 0.0, 5}});
            for (size_t k = 1; k < s.size(); k += 2) s[k] = std::vector<float>(n, 0.0f);
            s[1] = Signal(n, fft, {{i5, 0.0, 5}});
            PowerHost h(s, n, kind);
            h.sources[1]->PhaseShift = phi;
            const double want = e.all ? u5 * i5 * (kind == 1 ? std::cos(5 * phi) : std::sin(5 * phi)) : 0.0;
            e.block(h.List(), h.target, 0, n, fft);
            for (int i = 0; i < n; i += 11) ASSERT_NEAR(h.result[i], want, 1e-3) << "position " << i;
            EXPECT_NEAR(e.record(h.List(), h.target, 0, n, fft), want, 1e-3);
        }
    }
}

// ---- positive-sequence kinds ----

// Kinds 1..5 for RMS U and I lagging by phi: P, Q, the line voltage and the
// current's two parts (per phase current over sqrt(3) for the delta form).
struct ZxCase {
    const char* name;
    BlockFn fn;
    bool line;
    double currentDivisor;
    bool scaled[6];   // whether Scale applies to each kind
};

double ZxExpected(const ZxCase& c, int kind, double phi) {
    const double values[] = {0.0, 3 * kU * kI * std::cos(phi), 3 * kU * kI * std::sin(phi), std::sqrt(3.0) * kU,
                             kI * std::cos(phi) / c.currentDivisor, kI * std::sin(phi) / c.currentDivisor};
    return kind >= 1 && kind <= 5 ? values[kind] : 0.0;
}

const ZxCase kZxCases[] = {
    {"GetThreeLineZX", GetThreeLineZX, true, 1.0, {false, true, true, false, false, false}},
    {"GetThreeAngleZX", GetThreeAngleZX, false, std::sqrt(3.0), {true, true, true, true, true, true}},
};

TEST(PositiveSequence, KindsOfBalancedSystemsAndTheirScale) {
    const int fft = 256, n = 5 * fft;
    for (const ZxCase& c : kZxCases) {
        for (double phi : {0.0, Degrees(25), Degrees(-60)}) {
            for (int kind = 0; kind <= 6; ++kind) {
                for (double scale : {1.0, 2.0}) {
                    SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(kind) + " scale " +
                                 std::to_string(scale) + " phi " + std::to_string(phi));
                    PowerHost h(BalancedSystem(n, fft, kU, kI, phi, c.line), n, static_cast<uint32_t>(kind), scale);
                    c.fn(h.List(), h.target, 0, n, fft);
                    const double want = ZxExpected(c, kind, phi) * (c.scaled[std::min(kind, 5)] ? scale : 1.0);
                    const double size = kind == 1 || kind == 2 ? 3 * kU * kI * scale : std::fabs(want);
                    const double tolerance = 2e-5 * std::max(1.0, size);
                    for (int i = 0; i < n; i += 13) ASSERT_NEAR(h.result[i], want, tolerance) << "position " << i;
                }
            }
        }
        // A pure negative-sequence voltage set has no positive-sequence voltage.
        auto negative = BalancedSystem(n, fft, kU, kI, 0.0, false);
        std::swap(negative[2], negative[4]);
        PowerHost h(negative, n, 3);
        c.fn(h.List(), h.target, 0, n, fft);
        EXPECT_NEAR(h.result[n / 2], 0.0, 1e-3) << c.name << " negative sequence";
    }
}

}  // namespace
