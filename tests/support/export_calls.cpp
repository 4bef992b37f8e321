#include "support/export_calls.h"

#include <cstring>
#include <functional>
#include <map>
#include <sstream>

#include "ampora.h"
#include "frame/resolve.h"
#include "hostkit/crossing_queue_host.h"
#include "hostkit/export_caller.h"

namespace {

constexpr int kFft = 256;

void Fnv(uint64_t& h, const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
}

void DigestRecord(uint64_t& h, const ChannelInfo* record) {
    ChannelInfo copy;
    std::memcpy(&copy, record, sizeof copy);
    copy.SourceIds = copy.UnitText = copy.ResultData = copy.SampleData = copy.SecondaryData = 0;
    std::memset(copy.CrossingQueue, 0, sizeof copy.CrossingQueue);   // holds addresses
    Fnv(h, &copy, sizeof copy);
}

// Four work buffers of one call.
struct Spectra {
    std::vector<float> b[4] = {std::vector<float>(kFft), std::vector<float>(kFft),
                               std::vector<float>(kFft), std::vector<float>(kFft)};
    float* pointers[4] = {b[0].data(), b[1].data(), b[2].data(), b[3].data()};
};

using Ids = std::vector<uint8_t>;

// What a call needs beyond its sources: CalcKind, the record fields its contract
// lets it write, and a record field or two set before the call.
struct Setup {
    uint32_t kind = 1;
    std::vector<FieldWrite> fields = {};
    std::function<void(ChannelInfo*)> prepare = nullptr;
    // The target reads its own samples: the first phase voltage's, unless the
    // caller gave it samples of its own.
    bool ownSamples = false;
};

#define WRITES(record, Field) FieldWrite{record, offsetof(ChannelInfo, Field), sizeof(ChannelInfo::Field)}
FieldWrite Slot(int k) { return {kTargetRecord, offsetof(ChannelInfo, TrackState) + 8 * k, 8}; }
FieldWrite Aux(int record, int k) { return {record, offsetof(ChannelInfo, SummaryAux) + 8 * k, 8}; }
FieldWrite QueueWord(std::size_t word) { return {kTargetRecord, offsetof(ChannelInfo, CrossingQueue) + word, 4}; }

constexpr int kEnd = Recording::kSamples;
constexpr double kPerMs = Recording::kRate / 1000.0;
constexpr int kPer20ms = 200;
}  // namespace

double FixedValue(std::string_view name, int start, int count) {
    static const std::map<std::string_view, double> values = {
        {"fftSize", kFft},          {"windowSize", 8},     {"recordEnd", kEnd},    {"resultLength", kEnd},
        {"totalSamples", kEnd},     {"lastPosition", kEnd - 1}, {"samplesPer20ms", kPer20ms}, {"samplesPerMs", kPerMs},
        {"refreshExtremes", 1},     {"fillEnd", kEnd},     {"step", 100},          {"levelSamples", 2000},
        {"uBase", 230.0},           {"iBase", 10.0},       {"r", 0.01},            {"x", 1.1},
        {"phi", 0.5},               {"eq", 1.0371},
    };
    if (name == "start") return start;
    if (name == "count" || name == "length") return count;
    const auto value = values.find(name);
    return value != values.end() ? value->second : 0.0;
}

namespace {

// A block export writes the blocks' positions, and a quarter window past them
// where its rule lets it ramp on; a whole-record export the positions of span.
ExportCall Make(const char* name, bool block, const Ids& ids, const Setup& setup, BlockRule rule, ResultSpan span,
                const Arguments& arguments) {
    const auto target = [=](Recording& r) { return r.Target(ids, setup.kind, setup.prepare, setup.ownSamples); };
    return {name, block, span, setup.fields, target, rule, ids, arguments};
}
ExportCall Block(const char* name, const Ids& ids, const Setup& setup, BlockRule rule, const Arguments& arguments = {}) {
    return Make(name, true, ids, setup, rule, rule.after > 0 ? ResultSpan::BlocksAndHop : ResultSpan::Blocks, arguments);
}
ExportCall Whole(const char* name, const Ids& ids, const Setup& setup, ResultSpan span, const Arguments& arguments = {}) {
    return Make(name, false, ids, setup, {}, span, arguments);
}

// The block rules (see BlockRule) for the recording's window and its 50 Hz.
constexpr int kHop = kFft / 4;
constexpr int kPeriod = kPer20ms;
// Window walks: ramps that end at the window position (from a hop before the
// block) or start there (up to a hop past it).
constexpr BlockRule kTrailing{Split::QuarterGrid, kHop, 0, kFft};
constexpr BlockRule kLeading{Split::QuarterGrid, 0, kHop - 1, kFft + kHop};
constexpr BlockRule kPerPosition{};
// Moving averages over w per-sample values: the first full window fills [0, w).
constexpr BlockRule MovingAverage(int w) { return {Split::Any, 0, 0, w}; }
// Sequence components ramp per quarter window from the block's start; the line
// RMS forms its line and windows inside the block, its last ramp a hop past it.
constexpr BlockRule kRampFromBlockStart{Split::PerBlock, 0, 0, 0};
constexpr BlockRule kLineOfTheBlock{Split::PerBlock, 0, kHop, 0};
// Trackers rewrite the periods since their oldest kept crossing (three periods
// at most), and the first value covers everything before it.
constexpr BlockRule kTracker{Split::HeldTail, 3 * kPeriod, 0, 4 * kPeriod};
constexpr BlockRule kScanFromBlockStart{Split::PerBlock, 3 * kPeriod, 0, 0};   // its scan strides from the start
constexpr BlockRule kWholeCycles{Split::Any, 3 * kPeriod, 0, 0};
// Sixty pulses of 3.3 positions per revolution, of which the scan's skip after
// each crossing keeps one in three and which it finds anew from each block's
// start: a revolution spans about 600 positions, the queue of 181 crossings
// about 1800, and the first value (from 0) comes once the queue is full.
constexpr BlockRule kWheel{Split::PerBlock, 1900, 0, 1900};

std::vector<ExportCall> BuildCalls() {
    const Ids vi = {1, 4}, lineVi = {7, 4}, line = {7, 4, 8, 5, 9, 6}, phase = {1, 4, 2, 5, 3, 6};
    const Ids twoWattmeter = {7, 4, 8, 6, 9, 6}, phases = {1, 2, 3}, currents = {4, 5, 6};
    const Ids voltage = {1}, pair = {1, 2}, angles = {1, 4, 2, 5, 6}, measured = {1, 10, 11}, chain = {1, 4, 2};
    const Setup k1{1}, k2{2};
    const Setup fifth{1, {}, [](ChannelInfo* t) { t->HarmonicOrder = 5.0f; }};
    const Setup useSource{1, {}, [](ChannelInfo* t) { t->UseSource = 1; }};
    // The status exports read the two records listed before the target's
    // position: 11 names current 5's summary record (position 9) and current 6.
    const Setup afterCurrents{1, {}, [](ChannelInfo* t) { t->ListIndex = 11; }};
    // The per-sample exports keep their moving average in RunningSum; the
    // calculation methods their running extremes.
    const Setup movingSum{1, {WRITES(kTargetRecord, RunningSum)}};
    const Setup extremes{1, {WRITES(kTargetRecord, ResultMax), WRITES(kTargetRecord, ResultMin)}};
    // The trackers keep their slots, the value they hold and the block's end;
    // refreshing the extremes writes them into the source.
    const FieldWrite sourceMax = WRITES(0, SampleMax), sourceMin = WRITES(0, SampleMin);
    const Setup threeSlots{1, {Slot(1), Slot(2), Slot(3), Slot(4), Slot(5), WRITES(kTargetRecord, HeldValue),
                               WRITES(kTargetRecord, LastBlockEnd), sourceMax, sourceMin}};
    const Setup onePeriod{1, {Slot(0), Slot(1), Slot(2), Slot(4), Slot(5), WRITES(kTargetRecord, LastBlockEnd),
                              WRITES(kTargetRecord, PeriodEndIndex), WRITES(kTargetRecord, QuietCount)}};
    const Setup periods{1, {Slot(0), Slot(1), WRITES(kTargetRecord, PeriodFrequency),
                            WRITES(kTargetRecord, PeriodEndIndex), WRITES(kTargetRecord, QuietCount),
                            WRITES(kTargetRecord, LastBlockEnd)}};
    // Sixty pulses per revolution, a queue of 3·60 + 1 crossings (the host's
    // mapping outlives the call, as a host's queue outlives a record).
    const Setup wheel{1,
                      {Slot(1), Slot(3), WRITES(kTargetRecord, HeldValue), WRITES(kTargetRecord, LastBlockEnd),
                       QueueWord(kQueueFrontOffset), QueueWord(kQueueCountOffset), sourceMax, sourceMin},
                      [](ChannelInfo* t) {
                          t->PulsesPerRev = 60.0;
                          ConstructCrossingQueue(t, 181);
                      }};
    // The machine's summaries hand their values, phasors and angles on in
    // SummaryValue and SummaryAux, of the target or of a source.
    const Setup summary{1, {WRITES(kTargetRecord, SummaryValue)}};
    const Setup angleAndAux{1, {WRITES(kTargetRecord, SummaryValue), Aux(kTargetRecord, 1)}};
    const Setup keyLevel{1, {WRITES(0, KeyLevel)}};
    const Setup transformer{1, {Aux(kTargetRecord, 0), Aux(kTargetRecord, 1), Aux(0, 0), Aux(0, 1), Aux(1, 0),
                                Aux(1, 1)}};
    const Setup chainOfThree{1, {Aux(0, 0), Aux(0, 1), Aux(1, 0), Aux(1, 1), Aux(2, 0), Aux(2, 1), Aux(2, 2)}};
    const Setup lineAux{1, {Aux(2, 2)}};
    const Setup ownCycles{1,
                          {WRITES(kTargetRecord, CycleStart), WRITES(kTargetRecord, CycleWriteEnd),
                           WRITES(kTargetRecord, PeriodFrequency), WRITES(kTargetRecord, LastBlockEnd)},
                          nullptr, true};
    constexpr ResultSpan kNone = ResultSpan::None, kWindows = ResultSpan::Windows, kHops = ResultSpan::Hops;
    constexpr ResultSpan kRecord = ResultSpan::Record;
    std::vector<ExportCall> calls = {
        Block("GetP", vi, k1, kLeading),
        Block("GetPAll", vi, k2, kLeading),
        Block("Get3PBy1", vi, k1, kTrailing),
        Block("Get3PBy1All", vi, k2, kTrailing),
        Block("Get3PBy1Line", lineVi, k1, kTrailing),
        Block("Get3PBy1LineAll", lineVi, k2, kTrailing),
        Whole("Get3PBy1Sum", vi, k1, kWindows),
        Whole("Get3PBy1AllSum", vi, k2, kWindows),
        Whole("Get3PBy1LineSum", lineVi, k2, kWindows),
        Whole("Get3PBy1LineAllSum", lineVi, k1, kWindows),
        Whole("GetPAllSum", vi, k1, kWindows),
        Whole("GetPSum", vi, k1, kWindows),
        Block("GetThreeLineP", line, k1, kTrailing),
        Block("GetThreeLinePAll", line, k2, kTrailing),
        Whole("GetThreeLinePSum", line, k2, kWindows),
        Whole("GetThreeLinePAllSum", line, k1, kWindows),
        Block("GetThreeLineZX", line, k1, kTrailing),
        Block("GetThreeAngleZX", phase, k2, kTrailing),
        Block("GetThreeAngleP", phase, k1, kTrailing),
        Block("GetThreeAnglePAll", phase, k2, kTrailing),
        Block("GetTwoAngleP", twoWattmeter, k1, kTrailing),
        Block("GetTwoAnglePAll", twoWattmeter, k2, kTrailing),
        Whole("GetThreeAnglePSum", phase, k2, kWindows),
        Whole("GetThreeAnglePAllSum", phase, k1, kWindows),
        Whole("GetTwoAnglePSum", twoWattmeter, k1, kWindows),
        Whole("GetTwoAnglePAllSum", twoWattmeter, k2, kWindows),
        // Per-sample power with a moving average of 8 (W = 8 / 6, 8 / 3 or 8 / 2), and record means.
        Block("GetThreeLinePEx", line, movingSum, MovingAverage(8 / 6)),
        Block("GetThreeLineQIEx", line, movingSum, MovingAverage(8 / 2)),
        Block("GetTwoLineQIEx", twoWattmeter, movingSum, MovingAverage(8 / 2)),
        Block("GetThreeAnglePEx", phase, movingSum, MovingAverage(8 / 3)),
        Block("GetTwoAnglePEx", twoWattmeter, movingSum, MovingAverage(8 / 3)),
        Block("GetThreeAngleQIEx", phase, movingSum, MovingAverage(8 / 2)),
        Whole("GetThreeLinePExSum", line, k1, kNone),
        Whole("GetThreeAnglePExSum", phase, k1, kNone),
        Whole("GetTwoAnglePExSum", twoWattmeter, k1, kNone),
        // Calculation methods, averages, differences, status.
        Block("GetCalculatMethod1", vi, extremes, kPerPosition),
        Block("GetCalculatMethod2", vi, extremes, kPerPosition),
        Block("GetCalculatMethod3", vi, extremes, kPerPosition),
        Whole("GetCalculatMethod1Sum", vi, extremes, kRecord),
        Whole("GetCalculatMethod2Sum", vi, extremes, kRecord),
        Whole("GetCalculatMethod3Sum", vi, extremes, kRecord),
        Block("GetAvgValue", phases, k1, kPerPosition),
        Block("GetAvgValueExt", currents, k1, kPerPosition),
        Whole("GetAvgValueSum", currents, k1, kNone),
        Whole("GetAvgValueExtSum", currents, k1, kNone),
        Block("GetReduce", pair, k1, kPerPosition),
        Block("GetSubtraction", Ids{7, 8}, k1, kPerPosition),
        Block("GetPWMAngle", Ids{7, 1}, k1, kPerPosition),
        Block("GetCosStatus", Ids{}, afterCurrents, kPerPosition),
        Block("GetPSumStatus", Ids{}, afterCurrents, kPerPosition),
        Whole("GetCosStatusSum", Ids{}, afterCurrents, kNone),
        Whole("GetPSumStatusSum", Ids{}, afterCurrents, kWindows),
        // Harmonic RMS, angles and line RMS, sequence components.
        Block("GetHarmonicValue", Ids{4}, fifth, kTrailing),
        Whole("GetHarmonicValueSum", Ids{4}, fifth, kHops),
        Whole("GetAngleSum", Ids{4, 6}, summary, kNone),
        Block("GetAngleToLine", phases, k1, kLineOfTheBlock, {{"pair", 1}}),
        Whole("GetAngleToLineSum", phases, k1, kRecord, {{"pair", 2}}),
        Block("GetZHPart", currents, k1, kRampFromBlockStart),
        Whole("GetZXPartSum", currents, k1, kWindows),
        Block("GetFXPart", currents, k1, kRampFromBlockStart),
        Whole("GetFXPartSum", currents, k1, kWindows),
        Block("GetLXPart", currents, k1, kRampFromBlockStart),
        Whole("GetLXPartSum", currents, k1, kWindows),
        // Averaging, frequency and speed, their state carried in the target;
        // refreshing the extremes writes the source record.
        Block("GetPowerAvg", voltage, k1, kLeading),
        Whole("GetPowerAvgSum", voltage, k1, kHops),
        Block("GetPowerAvgExtra", Ids{1, 1}, periods, kScanFromBlockStart),
        Whole("GetPowerAvgSumExtra", Ids{1, 1}, k1, kNone),
        Block("GetFrequenceStatus", voltage, threeSlots, kTracker),
        Block("GetRPM", Ids{10}, threeSlots, kTracker),
        Block("GetFrequenceStatus2", voltage, onePeriod, kTracker),
        Whole("GetFrequenceStatusSum", voltage, useSource, kRecord),
        Whole("GetRPMSum", Ids{10}, k1, kNone),
        Block("GetBSCLRPM", Ids{11}, wheel, kWheel),
        Block("GetPowerAvgSelf", voltage, ownCycles, kWholeCycles),
        // The machine: the recording's summaries stand for finished whole-record results.
        Whole("GetEqYJJ", Ids{1, 4}, k1, kNone),
        Whole("GetEqTJJ", Ids{1, 4}, k1, kNone),
        Whole("GetKmByEq", Ids{4}, k1, kNone),
        Whole("GetGJ3Sum", angles, angleAndAux, kNone),
        Whole("GetGJ4Sum", angles, summary, kNone),
        Whole("GetGJ6Sum", angles, summary, kNone),
        Whole("GetGJSum", measured, keyLevel, kNone),
        Whole("GetGJ5Sum", measured, k1, kNone),
        Whole("GetJXtmp", voltage, k1, kNone),
        Whole("GetUTSum", vi, transformer, kNone),
        Whole("GetUX2Sum", chain, chainOfThree, kNone, {{"start", 400}}),
        Whole("GetUXSum", chain, lineAux, kNone),
        Whole("GetAngleTSum", pair, k1, kNone),
        Whole("GetAngleXSum", pair, k1, kNone),
        Whole("GetAngleX2Sum", pair, k1, kNone),
    };
    return calls;
}

}  // namespace

uint64_t DigestOf(Recording& r, const ChannelInfo* target, double result) {
    uint64_t h = 1469598103934665603ull;
    Fnv(h, &result, sizeof result);
    Fnv(h, ResultArray(target), (Recording::kSamples + Recording::kMargin) * sizeof(float));
    DigestRecord(h, target);
    for (const CNode* n = r.host.List()->head; n != nullptr; n = n->next)
        DigestRecord(h, static_cast<const ChannelInfo*>(n->data));
    return h;
}

const std::vector<ExportCall>& AllExportCalls() {
    static const std::vector<ExportCall> calls = BuildCalls();
    return calls;
}

bool InSpan(ResultSpan span, int k) {
    const int lastBlockEnd = (kEnd - Recording::kBlock - 1) / Recording::kBlock * Recording::kBlock + Recording::kBlock;
    const bool windowStart = k <= kEnd - kFft;
    switch (span) {
        case ResultSpan::None: return false;
        case ResultSpan::Blocks: return k >= 0 && k < lastBlockEnd;
        case ResultSpan::BlocksAndHop: return k >= 0 && k < lastBlockEnd + kFft / 4;
        case ResultSpan::Windows: return windowStart && k % kFft == 0;
        case ResultSpan::Hops: return windowStart && k % (kFft / 4) == 0;
        case ResultSpan::Record: return k >= 0 && k < kEnd;
    }
    return false;
}

// ---- Calling an export by its registry name ----

namespace {

// Every export's address in the library the tests link, by ordinal.
void* const kAddresses[] = {
#define AMPORA_TEST_ADDRESS(Name, ...) reinterpret_cast<void*>(&::Name),
    AMPORA_EXPORTS(AMPORA_TEST_ADDRESS)
#undef AMPORA_TEST_ADDRESS
};

}  // namespace

double ExportCall::Call(Recording& r, ChannelInfo* t, int start, int count, const Arguments& given,
                        float* const* buffers) const {
    const ExportEntry& entry = *FindExportEntry(name);
    const ExportCalling& calling = CallingOf(entry);
    auto number = [&](const std::string& argument) {
        for (const Arguments* list : {&given, &arguments})
            for (const auto& [named, value] : *list)
                if (named == argument) return value;
        return FixedValue(argument, start, count);
    };
    Spectra own;
    std::vector<ArgumentValue> all;
    std::istringstream names{std::string(entry.arguments)};
    std::size_t record = 0, buffer = 0;
    for (const char* type = calling.types; *type != '\0'; ++type) {
        ArgumentValue v;
        v.type = *type;
        std::string argument;
        if (*type == 'L') v.p = r.List();
        else if (*type == 'C') v.p = calling.types[0] == 'L' ? t : FindChannelById(r.List(), ids.at(record++));
        else names >> argument;
        if (*type == 'b') v.p = argument == "puParams" ? r.puParams : (buffers ? buffers : own.pointers)[buffer++];
        if (*type == 'i') v.i = static_cast<int32_t>(number(argument));
        if (*type == 'd') v.d = number(argument);
        if (*type == 'f') v.f = static_cast<float>(number(argument));
        all.push_back(v);
    }
    return calling.call(kAddresses[entry.ordinal - 1], all);
}

double ExportCall::Run(Recording& r, ChannelInfo** t) const {
    *t = target(r);
    if (!block) return Call(r, *t, 0, kEnd);
    for (int start = 0; start < Recording::kSamples - Recording::kBlock; start += Recording::kBlock)
        Call(r, *t, start, Recording::kBlock);   // block by block, as the host calls them
    return 0.0;
}
