#include "support/export_calls.h"

#include <cstring>
#include <functional>

#include "ampora.h"
#include "frame/resolve.h"
#include "hostkit/crossing_queue_host.h"

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

// Block exports run block by block, as the host calls them.
template <typename Call>
double InBlocks(Call call) {
    for (int start = 0; start < Recording::kSamples - Recording::kBlock; start += Recording::kBlock)
        call(start, Recording::kBlock);
    return 0.0;
}

// Four work buffers of one call (or of every block of one recording).
struct Spectra {
    std::vector<float> b[4] = {std::vector<float>(kFft), std::vector<float>(kFft),
                               std::vector<float>(kFft), std::vector<float>(kFft)};
    float* operator[](int k) { return b[k].data(); }
};

using Ids = std::vector<uint8_t>;

// What a call needs beyond its sources: CalcKind, the record fields its contract
// lets it write, and a record field or two set before the call.
struct Setup {
    uint32_t kind = 1;
    std::vector<FieldWrite> fields = {};
    std::function<void(ChannelInfo*)> prepare = nullptr;
};

#define WRITES(record, Field) FieldWrite{record, offsetof(ChannelInfo, Field), sizeof(ChannelInfo::Field)}
FieldWrite Slot(int k) { return {kTargetRecord, offsetof(ChannelInfo, TrackState) + 8 * k, 8}; }
FieldWrite Aux(int record, int k) { return {record, offsetof(ChannelInfo, SummaryAux) + 8 * k, 8}; }
FieldWrite QueueWord(std::size_t word) { return {kTargetRecord, offsetof(ChannelInfo, CrossingQueue) + word, 4}; }

// A block export: the target as the recording's run makes it, one block call on
// it (with work buffers of its own), and the run over every block. A block
// writes the blocks' positions, and a quarter window past them where its rule
// lets it ramp on.
ExportCall BlockCall(const char* name, std::vector<FieldWrite> fields, std::function<ChannelInfo*(Recording&)> target,
                     std::function<void(Recording&, ChannelInfo*, int, int)> block, BlockRule rule) {
    auto run = [=](Recording& r, ChannelInfo** t) {
        *t = target(r);
        return InBlocks([&](int start, int count) { block(r, *t, start, count); });
    };
    const ResultSpan span = rule.after > 0 ? ResultSpan::BlocksAndHop : ResultSpan::Blocks;
    return {name, span, std::move(fields), run, target, block, rule};
}

// call(list, target, start, count, buffers) for every block of the recording.
template <typename Call>
ExportCall Blocks(const char* name, const Ids& ids, const Setup& setup, BlockRule rule, Call call) {
    return BlockCall(
        name, setup.fields, [=](Recording& r) { return r.Target(ids, setup.kind, setup.prepare); },
        [=](Recording& r, ChannelInfo* t, int start, int count) {
            Spectra s;
            call(r.List(), t, start, count, s);
        },
        rule);
}

// call(list, target, buffers, recording) once over the whole recording; its
// result is kept, and it writes the result positions of span.
template <typename Call>
ExportCall Whole(const char* name, const Ids& ids, const Setup& setup, ResultSpan span, Call call) {
    return {name, span, setup.fields, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target(ids, setup.kind, setup.prepare);
                Spectra s;
                return static_cast<double>(call(r.List(), *t, s, r));
            }, nullptr, nullptr, {}};
}

// One entry per export: the call with l the list, t the target, b the work
// buffers, and for a block s and n its start and count; for a whole record r
// is the recording and the call's value is kept.
#define BLOCK(name, ids, setup, rule, ...) \
    Blocks(name, ids, setup, rule, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) { (void)b; __VA_ARGS__; })
#define WHOLE(name, ids, setup, span, ...)                                                     \
    Whole(name, ids, setup, span, [](CPtrList* l, ChannelInfo* t, Spectra& b, Recording& r) { \
        (void)l, (void)t, (void)b, (void)r;                                                    \
        return static_cast<double>(__VA_ARGS__);                                               \
    })

constexpr int kEnd = Recording::kSamples;
constexpr double kPerMs = Recording::kRate / 1000.0;
constexpr int kPer20ms = 200;

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
    constexpr ResultSpan kNone = ResultSpan::None, kWindows = ResultSpan::Windows, kHops = ResultSpan::Hops;
    constexpr ResultSpan kRecord = ResultSpan::Record;
    std::vector<ExportCall> calls = {
        BLOCK("GetP", vi, k1, kLeading, GetP(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("GetPAll", vi, k2, kLeading, GetPAll(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1", vi, k1, kTrailing, Get3PBy1(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1All", vi, k2, kTrailing, Get3PBy1All(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1Line", lineVi, k1, kTrailing, Get3PBy1Line(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1LineAll", lineVi, k2, kTrailing, Get3PBy1LineAll(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1Sum", vi, k1, kWindows, Get3PBy1Sum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1AllSum", vi, k2, kWindows, Get3PBy1AllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1LineSum", lineVi, k2, kWindows, Get3PBy1LineSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1LineAllSum", lineVi, k1, kWindows,
              Get3PBy1LineAllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("GetPAllSum", vi, k1, kWindows, GetPAllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("GetPSum", vi, k1, kWindows, GetPSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("GetThreeLineP", line, k1, kTrailing, GetThreeLineP(l, t, s, n, kFft)),
        BLOCK("GetThreeLinePAll", line, k2, kTrailing, GetThreeLinePAll(l, t, s, n, kFft)),
        WHOLE("GetThreeLinePSum", line, k2, kWindows, GetThreeLinePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetThreeLinePAllSum", line, k1, kWindows, GetThreeLinePAllSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetThreeLineZX", line, k1, kTrailing, GetThreeLineZX(l, t, s, n, kFft)),
        BLOCK("GetThreeAngleZX", phase, k2, kTrailing, GetThreeAngleZX(l, t, s, n, kFft)),
        BLOCK("GetThreeAngleP", phase, k1, kTrailing, GetThreeAngleP(l, t, s, n, kFft)),
        BLOCK("GetThreeAnglePAll", phase, k2, kTrailing, GetThreeAnglePAll(l, t, s, n, kFft)),
        BLOCK("GetTwoAngleP", twoWattmeter, k1, kTrailing, GetTwoAngleP(l, t, s, n, kFft)),
        BLOCK("GetTwoAnglePAll", twoWattmeter, k2, kTrailing, GetTwoAnglePAll(l, t, s, n, kFft)),
        WHOLE("GetThreeAnglePSum", phase, k2, kWindows, GetThreeAnglePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetThreeAnglePAllSum", phase, k1, kWindows, GetThreeAnglePAllSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetTwoAnglePSum", twoWattmeter, k1, kWindows, GetTwoAnglePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetTwoAnglePAllSum", twoWattmeter, k2, kWindows, GetTwoAnglePAllSum(l, t, 0, kEnd, kFft)),
        // Per-sample power with a moving average of 8 (W = 8 / 6, 8 / 3 or 8 / 2), and record means.
        BLOCK("GetThreeLinePEx", line, movingSum, MovingAverage(8 / 6), GetThreeLinePEx(l, t, s, n, 8)),
        BLOCK("GetThreeLineQIEx", line, movingSum, MovingAverage(8 / 2), GetThreeLineQIEx(l, t, s, n, 8)),
        BLOCK("GetTwoLineQIEx", twoWattmeter, movingSum, MovingAverage(8 / 2), GetTwoLineQIEx(l, t, s, n, 8)),
        BLOCK("GetThreeAnglePEx", phase, movingSum, MovingAverage(8 / 3), GetThreeAnglePEx(l, t, s, n, 8)),
        BLOCK("GetTwoAnglePEx", twoWattmeter, movingSum, MovingAverage(8 / 3), GetTwoAnglePEx(l, t, s, n, 8)),
        BLOCK("GetThreeAngleQIEx", phase, movingSum, MovingAverage(8 / 2), GetThreeAngleQIEx(l, t, s, n, 8)),
        WHOLE("GetThreeLinePExSum", line, k1, kNone, GetThreeLinePExSum(l, t, 0, kEnd)),
        WHOLE("GetThreeAnglePExSum", phase, k1, kNone, GetThreeAnglePExSum(l, t, 0, kEnd)),
        WHOLE("GetTwoAnglePExSum", twoWattmeter, k1, kNone, GetTwoAnglePExSum(l, t, 0, kEnd)),
        // Calculation methods, averages, differences, status.
        BLOCK("GetCalculatMethod1", vi, extremes, kPerPosition, GetCalculatMethod1(l, t, s, n)),
        BLOCK("GetCalculatMethod2", vi, extremes, kPerPosition, GetCalculatMethod2(l, t, s, n)),
        BLOCK("GetCalculatMethod3", vi, extremes, kPerPosition, GetCalculatMethod3(l, t, s, n)),
        WHOLE("GetCalculatMethod1Sum", vi, extremes, kRecord, GetCalculatMethod1Sum(l, t, 0, kEnd)),
        WHOLE("GetCalculatMethod2Sum", vi, extremes, kRecord, GetCalculatMethod2Sum(l, t, 0, kEnd)),
        WHOLE("GetCalculatMethod3Sum", vi, extremes, kRecord, GetCalculatMethod3Sum(l, t, 0, kEnd)),
        BLOCK("GetAvgValue", phases, k1, kPerPosition, GetAvgValue(l, t, s, n)),
        BLOCK("GetAvgValueExt", currents, k1, kPerPosition, GetAvgValueExt(l, t, s, n)),
        WHOLE("GetAvgValueSum", currents, k1, kNone, GetAvgValueSum(l, t)),
        WHOLE("GetAvgValueExtSum", currents, k1, kNone, GetAvgValueExtSum(l, t)),
        BLOCK("GetReduce", pair, k1, kPerPosition, GetReduce(l, t, s, n)),
        BLOCK("GetSubtraction", (Ids{7, 8}), k1, kPerPosition, GetSubtraction(l, t, s, n)),
        BLOCK("GetPWMAngle", (Ids{7, 1}), k1, kPerPosition, GetPWMAngle(l, t, s, n)),
        BLOCK("GetCosStatus", Ids{}, afterCurrents, kPerPosition, GetCosStatus(l, t, s, n, kEnd - 1)),
        BLOCK("GetPSumStatus", Ids{}, afterCurrents, kPerPosition, GetPSumStatus(l, t, s, n, kEnd - 1)),
        WHOLE("GetCosStatusSum", Ids{}, afterCurrents, kNone, GetCosStatusSum(l, t)),
        WHOLE("GetPSumStatusSum", Ids{}, afterCurrents, kWindows, GetPSumStatusSum(l, t)),
        // Harmonic RMS, angles and line RMS, sequence components.
        BLOCK("GetHarmonicValue", Ids{4}, fifth, kTrailing, GetHarmonicValue(l, t, s, n, kFft, b[0], b[1], kEnd, kEnd)),
        WHOLE("GetHarmonicValueSum", Ids{4}, fifth, kHops, GetHarmonicValueSum(l, t, 0, kEnd, kFft, b[0], b[1])),
        WHOLE("GetAngleSum", (Ids{4, 6}), summary, kNone, GetAngleSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetAngleToLine", phases, k1, kLineOfTheBlock, GetAngleToLine(l, t, s, n, 1, kFft, b[0], b[1])),
        WHOLE("GetAngleToLineSum", phases, k1, kRecord, GetAngleToLineSum(l, t, 0, kEnd, 2, kFft, b[0], b[1])),
        BLOCK("GetZHPart", currents, k1, kRampFromBlockStart, GetZHPart(l, t, s, n, kFft)),
        WHOLE("GetZXPartSum", currents, k1, kWindows, GetZXPartSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetFXPart", currents, k1, kRampFromBlockStart, GetFXPart(l, t, s, n, kFft)),
        WHOLE("GetFXPartSum", currents, k1, kWindows, GetFXPartSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetLXPart", currents, k1, kRampFromBlockStart, GetLXPart(l, t, s, n, kFft)),
        WHOLE("GetLXPartSum", currents, k1, kWindows, GetLXPartSum(l, t, 0, kEnd, kFft)),
        // Averaging, frequency and speed, their state carried in the target;
        // refreshing the extremes writes the source record.
        BLOCK("GetPowerAvg", voltage, k1, kLeading, GetPowerAvg(l, t, s, n, kFft, b[0], b[1], kEnd, kEnd)),
        WHOLE("GetPowerAvgSum", voltage, k1, kHops, GetPowerAvgSum(l, t, 0, kEnd, kFft, b[0], b[1])),
        BLOCK("GetPowerAvgExtra", (Ids{1, 1}), periods, kScanFromBlockStart,
              GetPowerAvgExtra(l, t, s, n, 0, kPerMs, 0)),
        WHOLE("GetPowerAvgSumExtra", (Ids{1, 1}), k1, kNone, GetPowerAvgSumExtra(l, t, 0, kEnd, 0, kPerMs, kEnd)),
        BLOCK("GetFrequenceStatus", voltage, threeSlots, kTracker,
              GetFrequenceStatus(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        BLOCK("GetRPM", Ids{10}, threeSlots, kTracker, GetRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        BLOCK("GetFrequenceStatus2", voltage, onePeriod, kTracker, GetFrequenceStatus2(l, t, s, n, kPerMs, kEnd, 0)),
        WHOLE("GetFrequenceStatusSum", voltage, useSource, kRecord,
              GetFrequenceStatusSum(l, t, 0, kEnd, kPerMs, 0, kEnd)),
        WHOLE("GetRPMSum", Ids{10}, k1, kNone, GetRPMSum(l, t, 0, kEnd, kPer20ms)),
        BLOCK("GetBSCLRPM", Ids{11}, wheel, kWheel, GetBSCLRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        // It reads the target's own samples: the first phase voltage's, unless
        // the caller gave the target samples of its own.
        BlockCall("GetPowerAvgSelf",
                  {WRITES(kTargetRecord, CycleStart), WRITES(kTargetRecord, CycleWriteEnd),
                   WRITES(kTargetRecord, PeriodFrequency), WRITES(kTargetRecord, LastBlockEnd)}, [](Recording& r) {
            ChannelInfo* t = r.Target({1});
            if (t->SampleData == 0) {
                const float* own = SampleArray(FindChannelById(r.host.List(), 1));
                r.host.Samples(t, std::vector<float>(own, own + kEnd));
            }
            return t;
        }, [](Recording& r, ChannelInfo* t, int s, int n) {
            GetPowerAvgSelf(r.List(), t, s, n, 0, kPerMs, kEnd, kEnd, 0);
        }, kWholeCycles),
        // The machine: the recording's summaries stand for finished whole-record results.
        WHOLE("GetEqYJJ", Ids{}, k1, kNone,
              GetEqYJJ(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f)),
        WHOLE("GetEqTJJ", Ids{}, k1, kNone,
              GetEqTJJ(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f)),
        WHOLE("GetKmByEq", Ids{}, k1, kNone, GetKmByEq(FindChannelById(l, 4), 1.0371f)),
        WHOLE("GetGJ3Sum", angles, angleAndAux, kNone, GetGJ3Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJ4Sum", angles, summary, kNone, GetGJ4Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJ6Sum", angles, summary, kNone, GetGJ6Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJSum", measured, keyLevel, kNone, GetGJSum(l, t, 0, kEnd, kPerMs, kEnd)),
        WHOLE("GetGJ5Sum", measured, k1, kNone, GetGJ5Sum(l, t, 0, kEnd, kPerMs, 2000)),
        WHOLE("GetJXtmp", voltage, k1, kNone, GetJXtmp(l, t)),
        WHOLE("GetUTSum", vi, transformer, kNone, GetUTSum(l, t, 0, kEnd, kFft, r.puParams)),
        WHOLE("GetUX2Sum", chain, chainOfThree, kNone, GetUX2Sum(l, t, 400, 0, kFft, r.puParams)),
        WHOLE("GetUXSum", chain, lineAux, kNone, GetUXSum(l, t, 0, 0, 0, r.puParams)),
        WHOLE("GetAngleTSum", pair, k1, kNone, GetAngleTSum(l, t)),
        WHOLE("GetAngleXSum", pair, k1, kNone, GetAngleXSum(l, t)),
        WHOLE("GetAngleX2Sum", pair, k1, kNone, GetAngleX2Sum(l, t)),
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
