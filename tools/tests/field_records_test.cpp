// Field records through the host program: feeders recorded at the rates field
// recorders use, with harmonics, unbalance and noise, whose fundamental
// quantities are known from their construction; names with spaces and
// channels by number; computed channels as sources; spans; warnings;
// report.json; the memory check.
#include <gtest/gtest.h>


#include <cmath>
#include <complex>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "generator.h"
#include "hostkit/low_memory.h"
#include "host_run.h"
#include "host_test_support.h"
#include "outputs.h"
#include "plan.h"
#include "recording.h"
#include "report.h"
#include "resample.h"

namespace {

namespace fs = std::filesystem;
using Phasor = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// Per phase: fundamental RMS, P and Q over one cycle; three-phase: the
// three-pair sums, the three-wire form from computed line voltages, and the
// negative-sequence voltage.
const char* const kFeederPlan = R"(
"U AB" = GetSubtraction() from "LINE ULA" "LINE ULB" unit=V
"U BC" = GetSubtraction() from "LINE ULB" "LINE ULC" unit=V
"U CA" = GetSubtraction() from "LINE ULC" "LINE ULA" unit=V
Pa = GetP(cycle) from "LINE ULA" #4 CalcKind=1
Qa = GetP(cycle) from "LINE ULA" #4 CalcKind=2
Pb = GetP(cycle) from "LINE ULB" #5 CalcKind=1
Qb = GetP(cycle) from "LINE ULB" #5 CalcKind=2
Pc = GetP(cycle) from "LINE ULC" #6 CalcKind=1
Qc = GetP(cycle) from "LINE ULC" #6 CalcKind=2
Ua = GetPowerAvg(cycle) from "LINE ULA"
Ub = GetPowerAvg(cycle) from "LINE ULB"
Uc = GetPowerAvg(cycle) from "LINE ULC"
P3 = GetThreeAngleP(cycle) from #1 #4 #2 #5 #3 #6 CalcKind=1
Q3 = GetThreeAngleP(cycle) from #1 #4 #2 #5 #3 #6 CalcKind=2
Pw = GetThreeLineP(cycle) from "U AB" #4 "U BC" #5 "U CA" #6 CalcKind=1
Qw = GetThreeLineP(cycle) from "U AB" #4 "U BC" #5 "U CA" #6 CalcKind=2
Un = GetFXPart(cycle) from #1 #2 #3
PwR = GetThreeLinePSum(cycle) from "U AB" #4 "U BC" #5 "U CA" #6 CalcKind=1
)";

// The figures of the feeder's construction, by curve name, with the scale
// each deviation is taken against (S for P and Q) and the target.
struct Known {
    std::string name;
    double value, scale, target;
};

std::vector<Known> FeederFigures(const FeederTest& f) {
    std::vector<Known> known;
    Phasor total = 0.0, line = 0.0;
    for (int k = 0; k < 3; ++k) {
        const Phasor s = f.U(k) * std::conj(f.I(k));
        const std::string p(1, "abc"[k]);
        known.push_back({"P" + p, s.real(), std::abs(s), 1e-3});
        known.push_back({"Q" + p, s.imag(), std::abs(s), 1e-3});
        known.push_back({"U" + p, std::abs(f.U(k)), std::abs(f.U(k)), 1e-3});
        total += s;
        line += (f.U(k) - f.U((k + 1) % 3)) * std::conj(f.I(k));
    }
    // The three-wire form turns the products back by 30° and divides by √3.
    line *= std::polar(1.0, -kPi / 6.0) / std::sqrt(3.0);
    const Phasor negative = (f.U(0) + std::polar(1.0, -2.0 * kPi / 3.0) * f.U(1) + std::polar(1.0, 2.0 * kPi / 3.0) * f.U(2)) / 3.0;
    known.push_back({"P3", total.real(), std::abs(total), 2e-4});
    known.push_back({"Q3", total.imag(), std::abs(total), 2e-4});
    known.push_back({"Pw", line.real(), std::abs(total), 2e-4});
    known.push_back({"Qw", line.imag(), std::abs(total), 2e-4});
    known.push_back({"Un", std::abs(negative), std::abs(f.U(0)), 1e-3});
    return known;
}

class FieldRecords : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library_.Open(AMPORA_SHARED_LIBRARY, error)) << error;
    }
    RunResult Run(const Recording& r, const std::string& plan, const RunOptions& options = {}) {
        return RunPlan(r, ParsePlan(plan, "feeder.plan", DescribeRecording(r).Names()), library_, "feeder.plan", options);
    }
    // The largest deviation of any curve position from the first on, up to the last two cycles.
    static double Worst(const RunResult& result, const Known& k, std::size_t tail) {
        for (const Curve& c : result.curves) {
            if (c.name != k.name) continue;
            double worst = 0.0;
            for (std::size_t i = 0; i + tail < c.values.size(); ++i)
                worst = std::max(worst, std::fabs(c.values[i] - k.value) / k.scale);
            return worst;
        }
        return HUGE_VAL;
    }
    static void ExpectFigures(const RunResult& result, const FeederTest& f, double perCycle) {
        for (const Known& k : FeederFigures(f)) EXPECT_LT(Worst(result, k, 2 * perCycle), k.target) << k.name;
    }
    LoadedLibrary library_;
};

// Every window from the record's first cycle on gives the construction's
// figures: per phase within 0.1 % (Q of S), the totals within 0.02 %.
TEST_F(FieldRecords, ResampledWindowsGiveTheFundamentalFromTheFirstCycle) {
    struct Case {
        double rate, frequency, perCycle;
    } cases[] = {{1000, 50, 32}, {1200, 60, 32}, {1200, 50, 32}, {7678.48, 50, 256}, {7678.48, 60, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " S/s, " + std::to_string(c.frequency) + " Hz");
        FeederTest f;
        f.sampleRate = c.rate;
        f.frequency = c.frequency;
        f.seconds = 1.0;
        const RunResult result = Run(GenerateFeeder(f), kFeederPlan);
        EXPECT_EQ(result.sampleRate, c.perCycle * c.frequency);   // resampled
        EXPECT_TRUE(result.warnings.empty()) << result.warnings[0];
        ExpectFigures(result, f, c.perCycle);
    }
}

// A record 0.4 % off its nominal frequency: windows of nominal cycles are
// flagged, and --resample track measures the frequency and resamples to it.
TEST_F(FieldRecords, TrackingFollowsAnOffNominalRecord) {
    FeederTest f;
    f.actualFrequency = 49.8;
    const Recording r = GenerateFeeder(f);
    const RunResult nominal = Run(r, kFeederPlan);
    ASSERT_EQ(nominal.warnings.size(), 1u);
    EXPECT_NE(nominal.warnings[0].find("runs at 49.8 Hz (LINE ULA), 0.4 % below its nominal 50 Hz"), std::string::npos)
        << nominal.warnings[0];
    RunOptions options;
    options.resample = ParseResample("track");
    const RunResult tracked = Run(r, kFeederPlan, options);
    EXPECT_NEAR(tracked.recording.measuredFrequency, 49.8, 1e-5);
    EXPECT_NEAR(tracked.sampleRate, 32 * 49.8, 1e-3);
    EXPECT_TRUE(tracked.warnings.empty());
    ExpectFigures(tracked, f, 32);
}

// Windows in cycles become samples at the library's rate, or a clear error;
// warnings name what reads wrong and by how much.
TEST_F(FieldRecords, WindowsInCyclesErrorsAndWarnings) {
    struct Case {
        double rate, frequency;
        const char* resample;
        std::string line, message;
        bool reversed = false;
    } cases[] = {
        {1000, 50, "off", "P = GetP(2cycles) from #1 #4 CalcKind=1", "t:1:10: 2 cycles is 40 samples at 1000 S/s, not a power of two"},
        {7678.48, 50, "off", "P = GetP(cycle) from #1 #4 CalcKind=1", "a cycle is 153.5696 samples at 7678.48 S/s, not a whole number"},
        {1000, 0, "auto", "P = GetP(cycle) from #1 #4 CalcKind=1", "cycles need the line frequency: give --line-frequency HZ"},
        {1000, 50, "off", "P = GetP(32) from #1 #4 CalcKind=1",
         "t:1: the window of GetP (32 samples) holds 1.6 cycles at 1000 S/s"},
        {1000, 50, "auto", "P = GetP(64) from #1 #4 CalcKind=1", "t:1: the window of GetP holds 2 cycles: its bin 1 is 25 Hz"},
        {1000, 50, "auto", "P = GetThreeLinePEx(100) from #1 #4 #2 #5 #3 #6 CalcKind=1",
         "the moving average of GetThreeLinePEx (16 samples) holds 0.5 cycles"},
        {1200, 60, "auto", "F = GetFrequenceStatus(1) from #1",
         "samplesPer20ms as a whole number: 38.4 at 1920 S/s is passed as 38, so its values read 1.04 % low"},
        {1000, 50, "auto", "P = GetP(cycle) from #1 #4", "GetP reads CalcKind, which the plan does not set"},
        {1000, 50, "auto", "N = GetFXPart(cycle) from #1 #2 #3",
         "negative-sequence fundamental of LINE ULA, LINE ULB, LINE ULC (230) exceeds the positive-sequence one (4.598)",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        FeederTest f;
        f.sampleRate = c.rate;
        f.frequency = c.frequency;
        f.seconds = 0.5;
        f.reversed = c.reversed;
        const Recording r = GenerateFeeder(f);
        RunOptions options;
        options.resample = ParseResample(c.resample);
        try {
            const RunResult result = RunPlan(r, ParsePlan(c.line, "t", DescribeRecording(r).Names()), library_, "t", options);
            ASSERT_EQ(result.warnings.size(), 1u) << (result.warnings.empty() ? "" : result.warnings[0]);
            EXPECT_NE(result.warnings[0].find(c.message), std::string::npos) << result.warnings[0];
            EXPECT_NE(FormatReport(result, "").find("Warnings:\n  - " + result.warnings[0]), std::string::npos);
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

// A recorder's 160-channel file (20 analog, 140 status channels): only the
// channels the plan names are loaded, a status channel is held, not smoothed,
// and the listing shows every channel.
TEST_F(FieldRecords, ManyChannelsOnlyTheUsedOnesLoad) {
    const TempDir dir;
    FeederTest f;
    f.seconds = 1.0;
    f.spareAnalogs = 14;
    f.statusChannels = 140;
    WriteComtrade(GenerateFeeder(f), dir / "relay", ComtradeData::Binary);
    const RecordingFile file = OpenRecording(dir / "relay.cfg");
    const std::string listing = FormatChannelList(file);
    EXPECT_NE(listing.find("160 channels, 1000 samples at 1000 S/s"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\n#4    \"LINE IA\"   A     A      analog"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\n#160  \"DI 140\"    -     -      digital  0/1"), std::string::npos) << listing;
    const std::string plan = std::string(kFeederPlan) + "D = GetCalculatMethod1() from \"DI 1\" CalcCoefA=1 CalcCoefB=0\n";
    const RunResult result = RunPlan(file, ParsePlan(plan, "feeder.plan", file.Names()), library_, {});
    EXPECT_EQ(result.recording.channelsLoaded, 7u);
    for (const Curve& c : result.curves) {  // closed for every second cycle, as recorded
        if (c.name != "D") continue;
        for (std::size_t i = 0; i < c.values.size(); ++i) ASSERT_EQ(c.values[i], (i / 32) % 2 == 0 ? 1.0f : 0.0f) << i;
    }
}

// A fault record: the span before the fault gives the pre-fault figures, the
// block phase runs over the whole recording, and report.json says so.
TEST_F(FieldRecords, SpanBeforeAFaultAndReportJson) {
    FeederTest f;
    f.seconds = 6.0;
    f.faultAt = 5.0;
    const Recording r = GenerateFeeder(f);
    RunOptions options;
    options.spanFrom = 3.0;
    options.spanTo = 4.5;
    const RunResult result = Run(r, kFeederPlan, options);
    EXPECT_DOUBLE_EQ(result.recording.loadedFrom, 0.0);   // and report.json's 9599 positions
    const std::vector<Known> known = FeederFigures(f);
    const TempDir dir;
    WriteOutputs(result, dir / "out", "span");
    const nlohmann::json report = nlohmann::json::parse(ReadText(dir / "out/report.json"));
    EXPECT_EQ(report["recording"]["rate"], 1600.0);
    EXPECT_EQ(report["recording"]["span"]["from"], 3.0);
    EXPECT_EQ(report["recording"]["positions"], 9599);  // 0 to 5.999 s at 1600 S/s
    EXPECT_EQ(report["warnings"].size(), 0u);
    for (const auto& channel : report["channels"]) {
        const std::string name = channel["name"];
        const std::string figure = name == "PwR" ? "Pw" : name;  // the record form reads the span alone
        for (const Known& k : known) {
            if (k.name != figure) continue;
            EXPECT_NEAR(channel["value"].get<double>(), k.value, k.target * k.scale) << name;
        }
    }
    // Without the span the fault takes its share of the means.
    const RunResult whole = Run(r, kFeederPlan);
    EXPECT_EQ(whole.rows[4].name, "Qa");
    EXPECT_GT(std::fabs(whole.rows[4].value / known[1].value - 1.0), 0.5);
    // A span past the end holds nothing.
    options.spanFrom = 7.0;
    options.spanTo.reset();
    EXPECT_NE(InputErrorOf([&] { Run(r, kFeederPlan, options); }).find("--span 7: holds none of the recording, which runs from 0 to 6 s"), std::string::npos);
}

// A whole-record frequency over 1.1 M positions: the library's float sum
// drifts from the 50 Hz its curve holds, and the warning gives the curve's mean.
TEST_F(FieldRecords, LongFloatSumIsReportedWithItsCurvesMean) {
    Recording r;
    r.sampleRate = 3200.0;  // 64 samples per 50 Hz cycle
    r.lineFrequency = 50.0;
    r.channels = {{"U", "V", {}}};
    for (int i = 0; i < 1100000; ++i) r.channels[0].samples.push_back(static_cast<float>(std::sin(2.0 * kPi * i / 64.0)));
    const RunResult result = Run(r, "F = GetFrequenceStatusSum(0) from U UseSource=1 unit=Hz\n");
    ASSERT_EQ(result.warnings.size(), 1u);
    const std::string& w = result.warnings[0];
    EXPECT_NE(w.find("GetFrequenceStatusSum returns "), std::string::npos) << w;
    const std::size_t at = w.find(" Hz, its float sum over 1100000 positions; the curve it wrote averages ");
    ASSERT_NE(at, std::string::npos) << w;
    EXPECT_NEAR(std::stod(w.substr(at + 71)), 50.0, 1e-3) << w;
    EXPECT_GT(std::fabs(result.rows[0].value - 50.0), 0.01);
}

// A plan that cannot fit below 4 GiB is refused before any sample is read,
// with what it needs and what is free: a 600 M-sample record announced in its
// configuration, its data file sparse.
TEST_F(FieldRecords, MemoryCheckRefusesAPlanThatCannotFit) {
    const TempDir dir;
    WriteText(dir / "huge.cfg", "Big,1,1999\n2,2A,0D\n1,U A,A,,V,1,0,0,-1,1,1,1,P\n2,I A,A,,A,1,0,0,-1,1,1,1,P\n"
                                "50\n1\n12800,600000000\n01/01/2026,00:00:00\n01/01/2026,00:00:00\nFLOAT32\n1\n");
    WriteText(dir / "huge.dat", "");
    fs::resize_file(dir / "huge.dat", 600000000ull * 16);
    const RecordingFile file = OpenRecording(dir / "huge.cfg");
    const std::string message = InputErrorOf([&] {
        RunPlan(file, ParsePlan("P = GetP(cycle) from \"U A\" \"I A\" CalcKind=1", "p", file.Names()), library_, {});
    });
    EXPECT_EQ(message.find("the plan needs 8.9 GiB for 3 channels of 600.0 M positions; "), dir.Path().size() + 11) << message;
    EXPECT_NE(message.find(" GiB are free below 4 GiB: run a stretch with --span FROM:TO, or use fewer channels"),
              std::string::npos) << message;
}

}  // namespace

// Arrays for records go anywhere below 4 GiB, past the one GiB that
// MAP_32BIT serves: three arrays of together two thirds of the free room
// (under the address sanitizer about 2 GiB), never touched, so never resident.
TEST(HostLowMemory, ArraysFillTheLowFourGiBByAddressHints) {
    if (sizeof(void*) == 4) GTEST_SKIP() << "every address of a 32-bit process is low";
    const std::size_t each = static_cast<std::size_t>(std::min(600ull << 20, LowMemory::FreeBelow4GiB() * 2 / 9));
    ASSERT_GT(3 * each, 1ull << 30);
    LowMemory memory;
    std::vector<const void*> arrays;
    for (int k = 0; k < 3; ++k) arrays.push_back(memory.Bytes(each));
    for (const void* a : arrays) EXPECT_LT(reinterpret_cast<std::uintptr_t>(a) + each, 1ull << 32);
    EXPECT_NO_THROW(LowMemory::Address(arrays.back()));
}

// The resampler's output does not depend on how the samples arrive, and a
// tone comes out as the same tone at the new rate, up to its first and last
// sample: up, up at a ratio of no small fraction, and down.
TEST(HostResampler, ChunksDoNotMatterAndAToneKeepsItsShape) {
    struct Case {
        double in, out;
        std::size_t chunk;
    } cases[] = {{1000, 1600, 1}, {7678.48, 12800, 7}, {12800, 3200, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const auto n = static_cast<std::size_t>(c.in);
        auto Tone = [](double t) { return std::cos(2.0 * kPi * 50.0 * t + 0.3) + 0.2 * std::cos(2.0 * kPi * 350.0 * t); };
        std::vector<float> x(n);
        for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<float>(Tone(i / c.in));
        const std::size_t m = Resampler::OutputLength(c.in, c.out, n);
        std::vector<float> whole(m), pieces(m);
        Resampler once(c.in, c.out, 50.0, n, false, whole.data());
        once.Push(x.data(), n);
        once.Finish();
        Resampler stream(c.in, c.out, 50.0, n, false, pieces.data());
        for (std::size_t i = 0; i < n; i += c.chunk) stream.Push(x.data() + i, std::min(c.chunk, n - i));
        stream.Finish();
        EXPECT_EQ(whole, pieces);
        double worst = 0.0;
        for (std::size_t j = 0; j < m; ++j) worst = std::max(worst, std::fabs(whole[j] - Tone(j / c.out)));
        EXPECT_LT(worst, 1e-4);  // the kernel is flat within 1e-4 up to 0.46 of the lower rate
    }
}
