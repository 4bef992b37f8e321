// The host program: its plan parser's errors and positions, recordings in
// COMTRADE and CSV written and read back, the built-in recording's self-check
// and a run from files, all through the library loaded at run time by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/channel_info.h"
#include "generator.h"
#include "host_run.h"
#include "host_test_support.h"
#include "numbers.h"
#include "outputs.h"
#include "plan.h"
#include "plot.h"
#include "recording.h"
#include "report.h"

#ifdef AMPORA_PARSE_XML
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace {

namespace fs = std::filesystem;

constexpr double kTwoPi = 6.283185307179586;

// ---- Plan parser ----

const std::vector<std::string> kRecorded = {"Ua", "Ub", "Uc", "U12", "U23", "U31", "Ia", "Ib", "Ic", "Key",
                                            "LINE ULA", "LINE IA", "DI", "DI"};

// The error a plan text gives, "" when it parses.
std::string PlanError(const std::string& text) {
    return InputErrorOf([&] { ParsePlan(text, "t.plan", kRecorded); });
}

// Every error names the line and the column of the token at fault.
TEST(HostPlan, ErrorsNameLineAndColumn) {
    const std::string km21 = "set Ia KmTable=1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1";
    struct Case {
        std::string text, where, message;
    } cases[] = {
        {"P = GetQ(256) from Ua Ia", "t.plan:1:5: ", "unknown export \"GetQ\""},
        {"P = GetP(256, 4) from Ua Ia", "t.plan:1:15: ", "wrong argument count: GetP takes 1 (fftSize), given 2"},
        {"P = GetP() from Ua Ia", "t.plan:1:10: ", "wrong argument count: GetP takes 1 (fftSize), given 0"},
        // Above 64 the library takes every (fftSize/64)-th sample: 100 would transform 64 of its samples.
        {"P = GetP(100) from Ua Ia", "t.plan:1:10: ", "window length 100 is not a power of two"},
        {"P = GetP(2) from Ua Ia", "t.plan:1:10: ", "window length 2 is below 4"},
        {"P = GetP(25a) from Ua Ia", "t.plan:1:10: ", "malformed number for fftSize: \"25a\""},
        {"P = GetP(256) from Ua Ia expect=1e999", "t.plan:1:33: ", "malformed number for the expected value"},
        {"P = GetP(256) from Ua Ia colour=red", "t.plan:1:26: ", "unknown setting \"colour\" for GetP"},
        {"P = GetP(256) from Ua Ia tol=-1%", "t.plan:1:30: ", "the tolerance must not be negative"},
        {"P = GetP(256) from Ua Ia report=max", "t.plan:1:33: ", "expected mean, rms or last"},
        {"P = GetP(256) from Ua", "t.plan:1:5: ", "GetP takes 2 sources, given 1"},
        {"P = GetP(256", "t.plan:1:13: ", "unexpected end of line"},
        {"Ua = GetP(256) from Ua Ia", "t.plan:1:1: ", "channel \"Ua\" is defined twice"},
        {"# comment\n\r\nblock 0", "t.plan:3:7: ", "the block length must be at least 1"},
        {"block 100 200", "t.plan:1:11: ", "unexpected \"200\""},
        {"set Ua Phase=1", "t.plan:1:8: ", "unknown record field \"Phase\""},
        {km21, "t.plan:1:8: ", "KmTable holds 20 values, given 21"},
        // Names with spaces are quoted; channels go by their number too; unknown names get the nearest.
        {"P = GetP(256) from \"LINE ULA\" #99", "t.plan:1:31: ", "no channel #99: the recording has channels #1 to #14"},
        {"P = GetP(256) from \"LINE UlB\" #12", "t.plan:1:20: ",
         "unknown channel \"LINE UlB\"; closest: \"LINE ULA\" (#11), \"LINE IA\" (#12), "},
        {"P = GetP(256) from \"LINE ULA #12", "t.plan:1:20: ", "name without a closing quote"},
        {"P = GetCalculatMethod1() from DI", "t.plan:1:31: ", "\"DI\" names channels #13, #14: name one by its number"},
        {"N = GetGJ3Sum(cycle) from Ua Ia Ua Ia", "t.plan:1:15: ", "cycles stand for a window length (fftSize, windowSize), not for step"},
        {"W = GetPSum(256) from Ua Ia\nP = GetP(256) from W Ia", "t.plan:2:20: ",
         "\"W\" is a whole-record channel, computed after the block phase: the block export GetP cannot read it"},
        // A channel may use only the channels defined above it.
        {"A = GetReduce() from Ua B\nB = GetReduce() from Ua Ub", "t.plan:1:25: ", "channel \"B\" is computed on line 2, below its use"},
        // The status exports read the two channels listed just before them.
        {"P = GetP(256) from Ua Ia\nQ = GetP(256) from Ua Ia CalcKind=2\nF = GetCosStatus() from Q P",
         "t.plan:3:5: ", "reads the two channels listed just before it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string error = PlanError(c.text);
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // CRLF line ends are plain line ends.
    EXPECT_EQ(PlanError("P = GetP(256) from Ua Ia\r\nblock 10\r\n"), "");
}

// What a well-formed plan says arrives in the plan as written: here what the
// built-in plan, whose run checks the rest end to end, does not say.
TEST(HostPlan, SettingsArgumentsAndChecks) {
    const Plan plan = ParsePlan(
        "block 512   # positions per block\n"
        "rate 12800\n"
        "N = GetRPM(0) from Key samplesPerMs=12.8 expect=3000 tol=5\n"
        "U = GetUTSum(256) from Ua Ia puParams=230,10,0.5 report=last\n",
        "t.plan", kRecorded);
    EXPECT_EQ(plan.block, 512);
    EXPECT_EQ(plan.rate, 12800.0);
    ASSERT_EQ(plan.channels.size(), 2u);
    const PlanChannel& n = plan.channels[0];
    EXPECT_EQ(n.hostArgumentOverrides.at("samplesPerMs"), 12.8);
    EXPECT_FALSE(n.tolerance.relative);
    EXPECT_EQ(n.tolerance.value, 5.0);
    EXPECT_EQ(n.line, 3);
    EXPECT_EQ(plan.channels[1].puParams, (std::vector<float>{230.0f, 10.0f, 0.5f}));
    EXPECT_EQ(plan.channels[1].statistic, Statistic::Last);
}

// A field setting writes its own bytes at the record's offsets and no others.
TEST(HostPlan, FieldSettingsTouchOnlyTheirBytes) {
    struct Case {
        FieldSetting setting;
        std::size_t offset, width;
    } cases[] = {
        {{"CalcKind", {2}}, 986, 4},        {{"DataKind", {2}}, 804, 1},
        {{"HarmonicOrder", {5}}, 1930, 4},  {{"Scale", {0.001}}, 1446, 8},
        {{"KmTable", std::vector<double>(20, 1.02)}, 319, 160},
        {{"SummaryAux", {1, 2}}, 1174, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting.field);
        std::vector<unsigned char> bytes(2048, 0xA5);
        auto* record = reinterpret_cast<ChannelInfo*>(bytes.data());
        ASSERT_TRUE(ApplyField(record, c.setting));
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            if (k >= c.offset && k < c.offset + c.width) continue;
            ASSERT_EQ(bytes[k], 0xA5) << "byte " << k;
        }
    }
    // A table may be given in part.
    std::vector<unsigned char> bytes(2048, 0);
    auto* record = reinterpret_cast<ChannelInfo*>(bytes.data());
    ApplyField(record, {"KmTable", {0.9, 1.1}});
    EXPECT_EQ(record->KmTable[1], 1.1);
}

// ---- Recordings ----

// 0.1 s at 4 kS/s: a voltage, a current with an offset, a slow negative ramp.
Recording KnownRecording() {
    Recording r;
    r.sampleRate = 4000.0;
    r.channels = {{"Ua", "V", {}}, {"Ia", "A", {}}, {"Ramp", "", {}}};
    for (int i = 0; i < 400; ++i) {
        const double t = i / r.sampleRate;
        r.channels[0].samples.push_back(static_cast<float>(325.27 * std::sin(kTwoPi * 50.0 * t)));
        r.channels[1].samples.push_back(static_cast<float>(2.0 + 14.1 * std::sin(kTwoPi * 50.0 * t - 0.5)));
        r.channels[2].samples.push_back(static_cast<float>(-0.01 * i));
    }
    return r;
}

// Each data-file type, in both revisions, reads back the values written, to
// within half a step of its integer resolution (FLOAT32: exactly).
TEST(HostRecording, ComtradeRoundTripPerDataType) {
    const Recording r = KnownRecording();
    struct Case {
        ComtradeData type;
        const char* name;
        double levels;     // integer steps across a channel's peak
        std::size_t bytesPerSample;
    } cases[] = {
        {ComtradeData::Ascii, "ASCII", 99999.0, 0},
        {ComtradeData::Binary, "BINARY", 32767.0, 8 + 3 * 2},
        {ComtradeData::Binary32, "BINARY32", 2147483000.0, 8 + 3 * 4},
        {ComtradeData::Float32, "FLOAT32", 0.0, 8 + 3 * 4},
    };
    for (const Case& c : cases) {
        for (int revision : {1999, 2013}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(revision));
            TempDir dir;
            WriteComtrade(r, dir / "rec", c.type, revision);
            if (c.bytesPerSample != 0) {
                EXPECT_EQ(fs::file_size(dir / "rec.dat"), 400 * c.bytesPerSample);
            }
            const Recording back = ReadRecording(dir / (revision == 1999 ? "rec.cfg" : "rec.dat"));
            EXPECT_EQ(back.sampleRate, 4000.0);
            ASSERT_EQ(back.channels.size(), 3u);
            ASSERT_EQ(back.Length(), 400u);
            for (std::size_t k = 0; k < 3; ++k) {   // names and units: the default run's outputs
                double peak = 0.0, worst = 0.0;
                for (float v : r.channels[k].samples) peak = std::max(peak, std::fabs(static_cast<double>(v)));
                for (std::size_t i = 0; i < 400; ++i)
                    worst = std::max(worst, std::fabs(static_cast<double>(back.channels[k].samples[i]) -
                                                      r.channels[k].samples[i]));
                const double halfStep = c.levels > 0.0 ? 0.5 * peak / c.levels : 0.0;
                EXPECT_LE(worst, halfStep + 1e-6 * peak) << r.channels[k].name;
            }
        }
    }
}

// A recorder's file: multiplier and offset, a channel stored as secondary
// values turned into primary ones, and status channels packed in 16-bit words.
const char* const kRecorderCfg =
    "Substation,Relay 7,1999\r\n"
    "5,2A,3D\r\n"
    "1,Va,A,,V,0.5,1.0,0,-32767,32767,110,0.11,S\r\n"
    "2,Ib,B,,A,0.01,-0.5,0,-32767,32767,1000,1,P\r\n"
    "1,Trip,,,0\r\n"
    "2,Close,,,0\r\n"
    "3,Alarm,,,0\r\n"
    "50\r\n"
    "1\r\n"
    "1000,4\r\n"
    "01/01/2026,00:00:00.000000\r\n"
    "01/01/2026,00:00:00.000000\r\n"
    "BINARY\r\n"
    "1\r\n";

void WriteRecorderDat(const std::string& path) {
    const int16_t raw[4][2] = {{100, 250}, {-100, -250}, {0, 0}, {32767, -32767}};
    const uint16_t bits[4] = {0b101, 0b010, 0, 0b111};
    std::string bytes;
    for (uint32_t n = 0; n < 4; ++n) {
        const uint32_t stamp = n * 1000;
        const uint32_t number = n + 1;
        bytes.append(reinterpret_cast<const char*>(&number), 4);
        bytes.append(reinterpret_cast<const char*>(&stamp), 4);
        bytes.append(reinterpret_cast<const char*>(raw[n]), 4);
        bytes.append(reinterpret_cast<const char*>(&bits[n]), 2);
    }
    WriteText(path, bytes);
}

TEST(HostRecording, ComtradeScalingAndStatusChannels) {
    TempDir dir;
    WriteText(dir / "relay.cfg", kRecorderCfg);
    WriteRecorderDat(dir / "relay.dat");
    const Recording r = ReadRecording(dir / "relay.cfg");
    EXPECT_EQ(r.sampleRate, 1000.0);
    ASSERT_EQ(r.channels.size(), 5u);
    // Va: (0.5 raw + 1) V secondary, times 110 / 0.11; Ib: 0.01 raw - 0.5 A primary.
    EXPECT_EQ(r.channels[0].samples, (std::vector<float>{51000.0f, -49000.0f, 1000.0f, 16384500.0f}));
    EXPECT_EQ(r.channels[1].samples, (std::vector<float>{2.0f, -3.0f, -0.5f, -328.17f}));
    EXPECT_EQ(r.channels[2].name, "Trip");
    EXPECT_EQ(r.channels[2].samples, (std::vector<float>{1, 0, 0, 1}));
    EXPECT_EQ(r.channels[3].samples, (std::vector<float>{0, 1, 0, 1}));
    EXPECT_EQ(r.channels[4].samples, (std::vector<float>{1, 0, 0, 1}));
}

// A malformed configuration is refused with the line (and column) at fault.
TEST(HostRecording, MalformedCfgNamesItsLine) {
    struct Case {
        int line;
        std::string replacement, where, message;
    } cases[] = {
        {2, "5,2A,2D", ":2:1: ", "the channel counts do not add up: 5 is not 2 + 2"},
        {2, "5,2X,3D", ":2:3: ", "expected a channel count ending in A"},
        {3, "1,Va,A,,V,0.5x,1.0,0,-32767,32767,110,0.11,S", ":3:11: ", "malformed number for the multiplier a"},
        {4, "2,Ib,B,,A,0.01,-0.5,0,-32767,32767,1000,1,Q", ":4:43: ", "expected P or S"},
        {4, "2,Ib,B,,A", ":4:", "missing field: multiplier a"},
        {13, "BINARY64", ":13:1: ", "unknown data file type \"BINARY64\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replacement);
        std::istringstream in(kRecorderCfg);
        std::string text;
        int number = 0;
        for (std::string line; std::getline(in, line);) text += (++number == c.line ? c.replacement + "\r" : line) + "\n";
        TempDir dir;
        WriteText(dir / "bad.cfg", text);
        WriteRecorderDat(dir / "bad.dat");
        const std::string error = InputErrorOf([&] { ReadRecording(dir / "bad.cfg"); });
        EXPECT_EQ(error.rfind(dir / "bad.cfg" + c.where, 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    TempDir dir;
    WriteText(dir / "short.cfg", "Substation,Relay 7,1999\r\n5,2A,3D\r\n");
    EXPECT_NE(InputErrorOf([&] { ReadRecording(dir / "short.cfg"); }).find("short.cfg:3:1: missing line: analog channel"),
              std::string::npos);
    // A data file that is not whole samples is refused too.
    WriteText(dir / "cut.cfg", kRecorderCfg);
    WriteText(dir / "cut.dat", std::string(15, '\0'));
    EXPECT_THROW(ReadRecording(dir / "cut.cfg"), InputError);
}

TEST(HostRecording, CsvRoundTripAndRates) {
    TempDir dir;
    // Without a rate line the time column gives the rate; --rate overrides both.
    WriteText(dir / "timed.csv", "t,U [kV],I\n0,1,2\n0.0005,3,4\n0.001,5,6\n");
    const Recording timed = ReadCsv(dir / "timed.csv");
    EXPECT_DOUBLE_EQ(timed.sampleRate, 2000.0);
    EXPECT_EQ(timed.channels[0].unit, "kV");
    EXPECT_EQ(timed.channels[1].samples, (std::vector<float>{2, 4, 6}));
    EXPECT_EQ(ReadCsv(dir / "timed.csv", 500.0).sampleRate, 500.0);
    // The line frequency travels in a comment line; a .cfg states its own rate, so --rate is refused there.
    Recording nominal = KnownRecording();
    nominal.lineFrequency = 60.0;
    WriteCsv(nominal, dir / "sixty.csv");
    const Recording back = ReadCsv(dir / "sixty.csv");
    EXPECT_EQ(back.lineFrequency, 60.0);
    EXPECT_EQ(back.sampleRate, 4000.0);
    ASSERT_EQ(back.channels.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(back.channels[k].name, nominal.channels[k].name);
        EXPECT_EQ(back.channels[k].unit, nominal.channels[k].unit);
        EXPECT_EQ(back.channels[k].samples, nominal.channels[k].samples);  // nine digits keep every float
    }
    WriteComtrade(nominal, dir / "sixty", ComtradeData::Float32);
    EXPECT_EQ(OpenRecording(dir / "sixty.cfg").lineFrequency, 60.0);
    EXPECT_THROW(OpenRecording(dir / "sixty.cfg", 1000.0), InputError);

    struct Case {
        std::string text, where;
    } bad[] = {
        {"U,I\n1,2\n", ":1:1: no sample rate"},
        {"# rate 100\nU,I\n1,2\n3,4.5.6\n", ":4:3: malformed number for a sample: \"4.5.6\""},
        {"# rate 100\nU,I\n1,2\n3\n", ":4:1: expected 2 values, found 1"},
        {"# rate 100\nU,U\n1,2\n", ":2:3: channel \"U\" named twice"},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.text);
        WriteText(dir / "bad.csv", c.text);
        const std::string error = InputErrorOf([&] { ReadCsv(dir / "bad.csv"); });
        EXPECT_EQ(error.rfind(dir / "bad.csv" + c.where, 0), 0u) << error;
    }
}

// ---- What the reader sees: axes, envelope, numbers, the CSV ----

std::vector<float> Steady(float value, std::size_t n) { return std::vector<float>(n, value); }

// The y-axis of a panel: 1-2-5 steps, three or more ticks, a span no
// narrower than the tolerance band or 0.1 % of the magnitude, and only the
// positions the curve holds computed values at.
TEST(HostPlot, AxisTicksAndRanges) {
    std::vector<float> noisy = Steady(2060.858f, 1000), crossing(1000), tail = Steady(50.0f, 1000);
    for (std::size_t i = 0; i < 1000; ++i) {
        noisy[i] = std::nextafter(noisy[i], i % 3 ? 3000.0f : 0.0f);  // one float step either way
        crossing[i] = static_cast<float>(1.5 * std::sin(kTwoPi * static_cast<double>(i) / 250.0));
    }
    std::fill(tail.begin() + 940, tail.end(), 0.0f);  // the tracker's positions not yet written
    const std::vector<float> steady = Steady(2060.858f, 1000), zero = Steady(0.0f, 1000);
    struct Case {
        const char* what;
        const std::vector<float>& values;
        std::size_t to;
        double tolerance, low, high, step;
    } cases[] = {
        {"constant: 0.1 % of 2060.858", steady, 1000, 0.0, 2059.0, 2062.0, 1.0},
        {"float noise draws as the constant", noisy, 1000, 4.1177, 2055.0, 2065.0, 5.0},
        {"crossing zero", crossing, 1000, 0.0, -2.0, 2.0, 1.0},
        {"tail not yet written left out", tail, 940, 0.05, 49.95, 50.05, 0.05},
        {"the same tail drawn", tail, 1000, 0.05, 0.0, 60.0, 20.0},
        {"zero without a tolerance", zero, 1000, 0.0, -0.5, 0.5, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Axis axis = ValueAxis({"P", "W", &c.values, 0, c.to, c.tolerance});
        EXPECT_DOUBLE_EQ(axis.low, c.low);
        EXPECT_DOUBLE_EQ(axis.high, c.high);
        EXPECT_DOUBLE_EQ(axis.step, c.step);
        ASSERT_GE(axis.ticks.size(), 3u);
        for (std::size_t k = 0; k < axis.ticks.size(); ++k) EXPECT_NEAR(axis.ticks[k], c.low + c.step * k, 1e-12 * c.high);
    }
    // Decimal ticks are the doubles of their decimals, so labels read as such;
    // the time axis ends with the recording, its ticks within.
    EXPECT_EQ(NiceAxis(0.1, 0.5, 0.0).ticks, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
    const Axis time = TimeAxis(110.0);
    EXPECT_EQ(time.ticks, (std::vector<double>{0, 20, 40, 60, 80, 100}));
    EXPECT_EQ(time.high, 110.0);
}

// More points than pixel columns: each column keeps its lowest and highest
// value, so a one-sample spike stays; a column without values is marked.
TEST(HostPlot, EnvelopeKeepsSpikes) {
    std::vector<float> v(10000);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = 1.0f + 1e-3f * static_cast<float>(i % 7) - 3e-3f;
    v[4321] = 9.0f;
    std::fill(v.begin() + 9000, v.begin() + 9100, std::nanf(""));
    const std::vector<ColumnRange> e = Envelope(v, 0, v.size(), 100);
    ASSERT_EQ(e.size(), 100u);
    for (std::size_t c = 0; c < e.size(); ++c) {
        if (c == 90) {
            EXPECT_TRUE(std::isnan(e[c].low) && std::isnan(e[c].high));
            continue;
        }
        EXPECT_FLOAT_EQ(e[c].low, 0.997f) << c;
        EXPECT_FLOAT_EQ(e[c].high, c == 43 ? 9.0f : 1.003f) << c;
    }
    EXPECT_EQ(Envelope(v, 4000, 5000, 10)[3].high, 9.0f);  // columns over [from, to) only
}

// SI prefixes where the unit takes them, the digits the tolerance asks for,
// one prefix for a row's value and expectation.
TEST(HostReport, NumbersForTheTolerance) {
    struct Case {
        double value;
        const char* unit;
        double tolerance;
        const char* text;
    } cases[] = {
        {96582300.0, "W", 0.0, "96.5823 MW"},    {49.88812, "Hz", 0.05, "49.888 Hz"},
        {0.873242, "", 0.00175, "0.8732"},        {0.3000004, "A", 0.01, "0.300 A"},
        {0.0123, "A", 0.0, "12.3000 mA"},         {12345.0, "W", 100.0, "12.35 kW"},
        {-1e-9, "V", 0.01, "0 mV"},               {25000.4, "rpm", 0.0, "25000.4 rpm"},
        {2060.858, "W", 1e-9, "2060.85800 W"},    {std::nan(""), "V", 0.0, "nan V"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatQuantity(c.value, c.unit, LastDigit(c.value, c.tolerance)), c.text);

    RunResult result;
    result.rows = {{"U_negative-seq", "GetFXPart", "V", 0.0203, false, 0.0, {0.01, false}, {}, {}},
                   {"P", "GetP", "W", 96582300.0, false, 96000000.0, {0.002, true}, {}, {}}};
    const ReportTable table = BuildReportTable(result);
    EXPECT_EQ(table.rows[0].cells, (std::vector<std::string>{"U_negative-seq", "GetFXPart", "20", "mV", "0", "20.3",
                                                             "FAIL (> 10 mV)"}));
    EXPECT_EQ(table.rows[1].cells, (std::vector<std::string>{"P", "GetP", "96.58", "MW", "96.00", "0.607 %",
                                                             "FAIL (> 0.2 %)"}));
    EXPECT_EQ(table.failed, 2);
}

// --every and --curves keep the CSV small; a long recording writes none
// unless asked, and the report says how to ask.
TEST(HostOutputs, CsvEveryAndCurves) {
    RunResult result;
    result.sampleRate = 1000.0;
    result.curves = {{"Pa", "W", {}, true, "P_phase1", 0, 10, 0.0}, {"Fa", "Hz", {}, true, "f_Ua", 0, 10, 0.0}};
    for (int i = 0; i < 10; ++i) {
        result.curves[0].values.push_back(static_cast<float>(i));
        result.curves[1].values.push_back(50.0f + 1e-3f * static_cast<float>(i));
    }
    OutputOptions options;
    options.every = 3;
    options.curves = {"f_Ua", "Pa"};  // by label or name, in the order asked
    TempDir dir;
    WriteText(dir / "c.csv", CurvesCsv(result, options));
    const Recording back = ReadCsv(dir / "c.csv");
    EXPECT_NEAR(back.sampleRate, 1000.0 / 3.0, 1e-6);
    EXPECT_EQ(DescribeRecording(back).Names(), (std::vector<std::string>{"Fa", "Pa"}));
    EXPECT_EQ(back.channels[0].samples, (std::vector<float>{50.0f, 50.003f, 50.006f, 50.009f}));
    EXPECT_EQ(back.channels[1].samples, (std::vector<float>{0.0f, 3.0f, 6.0f, 9.0f}));
    options.curves = {"Qa"};
    EXPECT_THROW(CurvesCsv(result, options), InputError);

    for (Curve& c : result.curves) c.values.resize(kCsvPositionLimit + 1);
    EXPECT_FALSE(WritesCsv(result, {}));
    const std::vector<std::string> notes = OutputNotes(result, {});
    ASSERT_EQ(notes.size(), 2u);  // no CSV, and no start time in the source
    EXPECT_NE(notes[0].find("--csv"), std::string::npos) << notes[0];
    OutputOptions asked;
    asked.csv = true;
    EXPECT_TRUE(WritesCsv(result, asked));
    asked = {};
    asked.every = 10;
    EXPECT_TRUE(WritesCsv(result, asked));
}

// ---- Runs through the loaded library ----

// The built-in recording and its plan, run once for the tests that read the default run.
class HostRun : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        if (!library_.Open(AMPORA_SHARED_LIBRARY, error)) throw std::runtime_error(error);
        plan_ = ParsePlan(kGeneratorPlan, "generator.plan", DescribeRecording(generated_).Names());
        base_ = Run(generated_, plan_);
    }
    static RunResult Run(const Recording& r, const Plan& plan, int block = 0, int jobs = 1) {
        RunOptions options;
        options.block = block;
        options.jobs = jobs;
        return RunPlan(r, plan, library_, "generator.plan", options);
    }
    static const ReportRow* Row(const RunResult& result, const std::string& quantity) {
        for (const ReportRow& row : result.rows)
            if (row.quantity == quantity) return row.absent ? nullptr : &row;
        return nullptr;
    }
    static inline LoadedLibrary library_;
    static inline Recording generated_ = GenerateRecording();
    static inline Plan plan_;
    static inline RunResult base_;
};

// The default run: every value within its tolerance, and the trackers and the
// machine's measured angle at the numbers the signals are built with.
TEST_F(HostRun, BuiltInRecordingPassesItsSelfCheck) {
    const RunResult& result = base_;
    const std::string report = FormatReport(result, "built-in");
    EXPECT_TRUE(result.Passed()) << report;
    struct Expected {
        const char* quantity;
        double value, within;
    } expected[] = {
        {"f_Ua", 50.0, 1e-4},             // 256 samples per period at 12.8 kS/s
        {"speed_key", 3000.0, 1e-2},      // one key pulse per revolution
        {"speed_key_pulse_queue", 3000.0, 1e-2},  // the same through the record's crossing queue
        // The key's 0 to 5 V step crosses 2.5 V halfway between two samples,
        // 28.5 samples ahead of the voltage's zero crossing: 28.5 / 256 of 360°.
        {"power_angle_measured_key", 40.078125, 1e-3},
        // Three times phase 1's power, 3 x 230 V x (10 A cos 30° + 0.3 A).
        {"3xP_phase1", 6182.575, 1e-5 * 6182.575},
        // Three-phase status from the three-wire P and Q: cos 30° and 3 x 230 V x 10 A.
        {"PF_three-wire", 0.8660254, 1e-5},
        {"S_three-wire_record", 6900.0, 1e-2},
        {"phi_three-wire", 30.0, 1e-3},
        {"I_positive-seq", 10.0, 1e-4},
        {"I_negative-seq", 0.3, 1e-4},  // the 3 % unbalance
        {"control_angle", 30.0, 1e-3},  // 465.75 V = 1.35 x 398.37 V x cos 30°
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.quantity);
        const ReportRow* row = Row(result, e.quantity);
        ASSERT_NE(row, nullptr);
        EXPECT_NEAR(row->value, e.value, e.within);
    }
    // Curves end where their last complete window or tracked period ends, and
    // the report says so: the trailing-ramp windows at the last quarter-window
    // step of the last block (24 positions short), the three-period trackers
    // two periods and more before the end, the period-by-period tracker at the
    // last voltage crossing (25344 of 25600); GetP's leading ramp reaches the end.
    struct End {
        const char* quantity;
        const char* note;
    } ends[] = {{"f_Ua", "to 1.940 s"}, {"speed_key", "to 1.958 s"}, {"P_three-wire", "to 1.998 s"},
                {"3xP_phase1", "to 1.998 s"}, {"f_Ua_per_period", "to 1.980 s"},
                {"speed_key_pulse_queue", "to 1.958 s"}, {"P_phase1", ""},
                // A status curve ends where its P and Q curves end.
                {"3xS_phase1", "to 1.998 s"}, {"PF_phase1", ""}};
    for (const End& e : ends) {
        ASSERT_NE(Row(result, e.quantity), nullptr) << e.quantity;
        EXPECT_EQ(Row(result, e.quantity)->note, e.note) << e.quantity;
    }
    EXPECT_NE(report.find("\n  to 1.940 s: f_Ua\n"), std::string::npos) << report;
    // The plot draws a curve over the same stretch, from the end of a
    // tracker's run-in (it holds 0 until its first period completes).
    struct Drawn {
        const char* curve;
        std::size_t from, to;
    } drawn[] = {{"Fa", 0, 24833}, {"Fa2", 257, 25345}, {"IaP", 21, 25600}, {"Pa", 0, 25600}, {"Pline", 0, 25576}};
    for (const Drawn& d : drawn) {
        const auto c = std::find_if(result.curves.begin(), result.curves.end(), [&](const Curve& k) { return k.name == d.curve; });
        ASSERT_NE(c, result.curves.end());
        EXPECT_EQ(c->from, d.from) << d.curve;
        EXPECT_EQ(c->to, d.to) << d.curve;
    }
}

// The state carried in the records makes the block length immaterial: odd,
// long and whole-record blocks report what the default blocks report.
TEST_F(HostRun, BlockLengthDoesNotChangeTheReport) {
    const RunResult& base = base_;
    for (int block : {777, 4096, 30000}) {
        SCOPED_TRACE(block);
        const RunResult other = Run(generated_, plan_, block);
        ASSERT_EQ(other.rows.size(), base.rows.size());
        for (std::size_t k = 0; k < base.rows.size(); ++k)
            EXPECT_NEAR(other.rows[k].value, base.rows[k].value, 1e-5 * std::max(1.0, std::fabs(base.rows[k].value)))
                << base.rows[k].quantity;
        EXPECT_TRUE(other.Passed());
        // Block ends leave no gaps: the status curve reads its sources only
        // where their windows are complete, and the sequence components ramp
        // on from where their last whole quarter window ended.
        for (const auto& [curve, value] : {std::pair<std::string, double>{"S3", 7080.024}, {"Upos", 230.0}, {"Ipos", 10.0}}) {
            SCOPED_TRACE(curve);
            const auto c = std::find_if(other.curves.begin(), other.curves.end(),
                                        [&](const Curve& k) { return k.name == curve; });
            ASSERT_NE(c, other.curves.end());
            const std::size_t n = c->values.size();
            for (std::size_t i = n / 4; i < n - 64; ++i)
                ASSERT_NEAR(c->values[i], value, 2e-3 * value) << "at " << i;
        }
    }
}

// Channels computed side by side (computed sources and shared trackers'
// sources waited for) give the run in plan order bit for bit.
TEST_F(HostRun, JobsKeepEveryBit) {
    const RunResult one = Run(generated_, plan_, 4096, 1), three = Run(generated_, plan_, 4096, 3);
    ASSERT_EQ(three.rows.size(), one.rows.size());
    for (std::size_t k = 0; k < one.rows.size(); ++k)
        EXPECT_EQ(std::memcmp(&three.rows[k].value, &one.rows[k].value, sizeof(double)), 0) << one.rows[k].quantity;
    ASSERT_EQ(three.curves.size(), one.curves.size());
    for (std::size_t k = 0; k < one.curves.size(); ++k)
        EXPECT_TRUE(three.curves[k].values.size() == one.curves[k].values.size() &&
                    std::memcmp(three.curves[k].values.data(), one.curves[k].values.data(),
                                one.curves[k].values.size() * sizeof(float)) == 0)
            << one.curves[k].name;
}

#ifdef AMPORA_PARSE_XML
// The texts (or the attribute `read`) of the elements of this name (and
// attribute value, when given) in an XML document, in document order; fails
// the test when it does not parse.
std::vector<std::string> ElementTexts(const std::string& xml, const char* name, const char* attribute = nullptr,
                                      const char* value = nullptr, const char* read = nullptr) {
    std::vector<std::string> texts;
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "doc.xml", "UTF-8", XML_PARSE_NONET);
    EXPECT_NE(doc, nullptr) << "not well-formed";
    if (doc == nullptr) return texts;
    auto Walk = [&](auto& self, xmlNodePtr node) -> void {
        for (; node != nullptr; node = node->next) {
            if (node->type != XML_ELEMENT_NODE) continue;
            xmlChar* attr = attribute ? xmlGetProp(node, BAD_CAST attribute) : nullptr;
            const bool matches = std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0 &&
                                 (!attribute || (attr && std::strcmp(reinterpret_cast<char*>(attr), value) == 0));
            xmlFree(attr);
            if (matches) {
                xmlChar* text = read ? xmlGetProp(node, BAD_CAST read) : xmlNodeGetContent(node);
                texts.emplace_back(reinterpret_cast<char*>(text));
                xmlFree(text);
            }
            self(self, node->children);
        }
    };
    Walk(Walk, xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    return texts;
}
#endif

// What --out writes of the default run: the report as text and as a page, the
// plot, the curves as COMTRADE (with the source's start time) and as CSV, read
// back to the same floats.
TEST_F(HostRun, OutputsOfTheDefaultRun) {
    TempDir dir;
    RunResult result = base_;
    result.startTime = "07/12/2026,14:03:00.250000";   // as a recording's .cfg states it
    WriteOutputs(result, dir / "out", "title");
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir / "out")) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"curves.cfg", "curves.csv", "curves.dat", "plot.svg", "report.html",
                                               "report.json", "report.txt"}));  // no temporary left behind
    EXPECT_EQ(ReadText(dir / "out/report.txt"), FormatReport(result, "title"));
    const Recording comtrade = ReadRecording(dir / "out/curves.cfg");
    const Recording csv = ReadCsv(dir / "out/curves.csv");
    EXPECT_EQ(comtrade.startTime, result.startTime);
    for (const Recording* curves : {&comtrade, &csv}) {
        EXPECT_EQ(curves->sampleRate, 12800.0);
        ASSERT_EQ(curves->channels.size(), result.curves.size());
        for (std::size_t k = 0; k < curves->channels.size(); ++k) {
            EXPECT_EQ(curves->channels[k].name, result.curves[k].name);
            EXPECT_EQ(curves->channels[k].unit, result.curves[k].unit);
            EXPECT_EQ(curves->channels[k].samples, result.curves[k].values) << result.curves[k].name;
        }
    }
#ifdef AMPORA_PARSE_XML
    // The panels the plan marks, titled with label and unit; the page holds
    // every row, the same plot inline, and highlights a row out of tolerance.
    const std::vector<std::string> titles = {"P_phase1 [W]", "P_three-wire [W]", "Ua_fundamental [V]", "f_Ua [Hz]",
                                             "speed_key [rpm]"};
    const std::string svg = ReadText(dir / "out/plot.svg");
    RunResult failing = result;
    failing.rows[1].expect = failing.rows[1].value * 1.01;
    const std::string html = ReportHtml(failing, "title", svg);
    EXPECT_EQ(ElementTexts(ReadText(dir / "out/report.html"), "tr").size(), result.rows.size() + 1);
    EXPECT_EQ(ElementTexts(html, "tr", "class", "fail"),
              std::vector<std::string>{"Q_phase1GetP1150.0var1161.5-0.990 %FAIL (> 0.2 %)"});
    EXPECT_EQ(ElementTexts(svg, "text", "font-weight", "bold"), titles);
    EXPECT_EQ(ElementTexts(html, "text", "font-weight", "bold"), titles);
    // Each curve is drawn across the stretch it holds computed values over:
    // the panels run from x 84 to 880 over the recording's 2 s.
    std::vector<std::string> drawn = ElementTexts(svg, "polygon", nullptr, nullptr, "points");
    ASSERT_EQ(drawn.size(), titles.size());
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        std::istringstream points(drawn[k]);
        double x, y, left = 1e9, right = -1e9;
        for (char comma; points >> x >> comma >> y;) left = std::min(left, x), right = std::max(right, x);
        const Curve& c = *std::find_if(result.curves.begin(), result.curves.end(),
                                       [&](const Curve& k2) { return titles[k].rfind(k2.label + " [", 0) == 0; });
        EXPECT_NEAR(left, 84.0 + 796.0 * c.from / 25600.0, 1.0) << titles[k];
        EXPECT_NEAR(right, 84.0 + 796.0 * c.to / 25600.0, 1.0) << titles[k];
    }
    // --plot chooses the panels and their order; the span is marked on each.
    OutputOptions chosen;
    chosen.plot = {"f_Ua", "Pa"};
    chosen.span = TimeSpan{0.5, 1.5};
    const std::string marked = CurvesSvg(result, chosen);
    EXPECT_EQ(ElementTexts(marked, "text", "font-weight", "bold"), (std::vector<std::string>{"f_Ua [Hz]", "P_phase1 [W]"}));
    EXPECT_EQ(ElementTexts(marked, "title"), (std::vector<std::string>{"span", "span"}));
#endif

    // An output folder that cannot be made is an input error, and nothing appears.
    EXPECT_THROW(WriteOutputs(result, dir / "missing/out", "title"), InputError);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
