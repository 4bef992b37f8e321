#include "support/export_calls.h"

#include <cstring>
#include <functional>

#include "ampora.h"
#include "frame/resolve.h"

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

// What a call needs beyond its sources: CalcKind, whether it writes a source
// record, and a record field or two set before the call.
struct Setup {
    uint32_t kind = 1;
    bool writesSources = false;
    std::function<void(ChannelInfo*)> prepare = [](ChannelInfo*) {};
};

// A block export: the target as the recording's run makes it, one block call on
// it (with work buffers of its own), and the run over every block.
ExportCall BlockCall(const char* name, bool writesSources, std::function<ChannelInfo*(Recording&)> target,
                     std::function<void(Recording&, ChannelInfo*, int, int)> block, BlockRule rule) {
    auto run = [=](Recording& r, ChannelInfo** t) {
        *t = target(r);
        return InBlocks([&](int start, int count) { block(r, *t, start, count); });
    };
    return {name, writesSources, run, target, block, rule};
}

// call(list, target, start, count, buffers) for every block of the recording.
template <typename Call>
ExportCall Blocks(const char* name, const Ids& ids, const Setup& setup, BlockRule rule, Call call) {
    return BlockCall(
        name, setup.writesSources,
        [=](Recording& r) {
            ChannelInfo* t = r.Target(ids, setup.kind);
            setup.prepare(t);
            return t;
        },
        [=](Recording& r, ChannelInfo* t, int start, int count) {
            Spectra s;
            call(r.List(), t, start, count, s);
        },
        rule);
}

// call(list, target, buffers, recording) once over the whole recording; its result is kept.
template <typename Call>
ExportCall Whole(const char* name, const Ids& ids, const Setup& setup, Call call) {
    return {name, setup.writesSources, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target(ids, setup.kind);
                setup.prepare(*t);
                Spectra s;
                return static_cast<double>(call(r.List(), *t, s, r));
            }, nullptr, nullptr, {}};
}

// One entry per export: the call with l the list, t the target, b the work
// buffers, and for a block s and n its start and count; for a whole record r
// is the recording and the call's value is kept.
#define BLOCK(name, ids, setup, rule, ...) \
    Blocks(name, ids, setup, rule, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) { (void)b; __VA_ARGS__; })
#define WHOLE(name, ids, setup, ...)                                                           \
    Whole(name, ids, setup, [](CPtrList* l, ChannelInfo* t, Spectra& b, Recording& r) { \
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

std::vector<ExportCall> BuildCalls() {
    const Ids vi = {1, 4}, lineVi = {7, 4}, line = {7, 4, 8, 5, 9, 6}, phase = {1, 4, 2, 5, 3, 6};
    const Ids twoWattmeter = {7, 4, 8, 6, 9, 6}, phases = {1, 2, 3}, currents = {4, 5, 6};
    const Ids voltage = {1}, pair = {1, 2}, angles = {1, 4, 2, 5, 6}, measured = {1, 10, 11}, chain = {1, 4, 2};
    const Setup k1{1}, k2{2}, writesSources{1, true};
    const Setup fifth{1, false, [](ChannelInfo* t) { t->HarmonicOrder = 5.0f; }};
    const Setup useSource{1, false, [](ChannelInfo* t) { t->UseSource = 1; }};
    const Setup wheel{1, true, [](ChannelInfo* t) { t->PulsesPerRev = 60.0; }};
    // The status exports read the two records listed before the target's
    // position: 11 names current 5's summary record (position 9) and current 6.
    const Setup afterCurrents{1, false, [](ChannelInfo* t) { t->ListIndex = 11; }};
    std::vector<ExportCall> calls = {
        BLOCK("GetP", vi, k1, kLeading, GetP(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("GetPAll", vi, k2, kLeading, GetPAll(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1", vi, k1, kTrailing, Get3PBy1(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1All", vi, k2, kTrailing, Get3PBy1All(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1Line", lineVi, k1, kTrailing, Get3PBy1Line(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("Get3PBy1LineAll", lineVi, k2, kTrailing, Get3PBy1LineAll(l, t, s, n, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1Sum", vi, k1, Get3PBy1Sum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1AllSum", vi, k2, Get3PBy1AllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1LineSum", lineVi, k2, Get3PBy1LineSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("Get3PBy1LineAllSum", lineVi, k1, Get3PBy1LineAllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("GetPAllSum", vi, k1, GetPAllSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        WHOLE("GetPSum", vi, k1, GetPSum(l, t, 0, kEnd, kFft, b[0], b[1], b[2], b[3])),
        BLOCK("GetThreeLineP", line, k1, kTrailing, GetThreeLineP(l, t, s, n, kFft)),
        BLOCK("GetThreeLinePAll", line, k2, kTrailing, GetThreeLinePAll(l, t, s, n, kFft)),
        WHOLE("GetThreeLinePSum", line, k2, GetThreeLinePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetThreeLinePAllSum", line, k1, GetThreeLinePAllSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetThreeLineZX", line, k1, kTrailing, GetThreeLineZX(l, t, s, n, kFft)),
        BLOCK("GetThreeAngleZX", phase, k2, kTrailing, GetThreeAngleZX(l, t, s, n, kFft)),
        BLOCK("GetThreeAngleP", phase, k1, kTrailing, GetThreeAngleP(l, t, s, n, kFft)),
        BLOCK("GetThreeAnglePAll", phase, k2, kTrailing, GetThreeAnglePAll(l, t, s, n, kFft)),
        BLOCK("GetTwoAngleP", twoWattmeter, k1, kTrailing, GetTwoAngleP(l, t, s, n, kFft)),
        BLOCK("GetTwoAnglePAll", twoWattmeter, k2, kTrailing, GetTwoAnglePAll(l, t, s, n, kFft)),
        WHOLE("GetThreeAnglePSum", phase, k2, GetThreeAnglePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetThreeAnglePAllSum", phase, k1, GetThreeAnglePAllSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetTwoAnglePSum", twoWattmeter, k1, GetTwoAnglePSum(l, t, 0, kEnd, kFft)),
        WHOLE("GetTwoAnglePAllSum", twoWattmeter, k2, GetTwoAnglePAllSum(l, t, 0, kEnd, kFft)),
        // Per-sample power with a moving average of 8 (W = 8 / 6, 8 / 3 or 8 / 2), and record means.
        BLOCK("GetThreeLinePEx", line, k1, MovingAverage(8 / 6), GetThreeLinePEx(l, t, s, n, 8)),
        BLOCK("GetThreeLineQIEx", line, k1, MovingAverage(8 / 2), GetThreeLineQIEx(l, t, s, n, 8)),
        BLOCK("GetTwoLineQIEx", twoWattmeter, k1, MovingAverage(8 / 2), GetTwoLineQIEx(l, t, s, n, 8)),
        BLOCK("GetThreeAnglePEx", phase, k1, MovingAverage(8 / 3), GetThreeAnglePEx(l, t, s, n, 8)),
        BLOCK("GetTwoAnglePEx", twoWattmeter, k1, MovingAverage(8 / 3), GetTwoAnglePEx(l, t, s, n, 8)),
        BLOCK("GetThreeAngleQIEx", phase, k1, MovingAverage(8 / 2), GetThreeAngleQIEx(l, t, s, n, 8)),
        WHOLE("GetThreeLinePExSum", line, k1, GetThreeLinePExSum(l, t, 0, kEnd)),
        WHOLE("GetThreeAnglePExSum", phase, k1, GetThreeAnglePExSum(l, t, 0, kEnd)),
        WHOLE("GetTwoAnglePExSum", twoWattmeter, k1, GetTwoAnglePExSum(l, t, 0, kEnd)),
        // Calculation methods, averages, differences, status.
        BLOCK("GetCalculatMethod1", vi, k1, kPerPosition, GetCalculatMethod1(l, t, s, n)),
        BLOCK("GetCalculatMethod2", vi, k1, kPerPosition, GetCalculatMethod2(l, t, s, n)),
        BLOCK("GetCalculatMethod3", vi, k1, kPerPosition, GetCalculatMethod3(l, t, s, n)),
        WHOLE("GetCalculatMethod1Sum", vi, k1, GetCalculatMethod1Sum(l, t, 0, kEnd)),
        WHOLE("GetCalculatMethod2Sum", vi, k1, GetCalculatMethod2Sum(l, t, 0, kEnd)),
        WHOLE("GetCalculatMethod3Sum", vi, k1, GetCalculatMethod3Sum(l, t, 0, kEnd)),
        BLOCK("GetAvgValue", phases, k1, kPerPosition, GetAvgValue(l, t, s, n)),
        BLOCK("GetAvgValueExt", currents, k1, kPerPosition, GetAvgValueExt(l, t, s, n)),
        WHOLE("GetAvgValueSum", currents, k1, GetAvgValueSum(l, t)),
        WHOLE("GetAvgValueExtSum", currents, k1, GetAvgValueExtSum(l, t)),
        BLOCK("GetReduce", pair, k1, kPerPosition, GetReduce(l, t, s, n)),
        BLOCK("GetSubtraction", (Ids{7, 8}), k1, kPerPosition, GetSubtraction(l, t, s, n)),
        BLOCK("GetPWMAngle", (Ids{7, 1}), k1, kPerPosition, GetPWMAngle(l, t, s, n)),
        BLOCK("GetCosStatus", Ids{}, afterCurrents, kPerPosition, GetCosStatus(l, t, s, n, kEnd - 1)),
        BLOCK("GetPSumStatus", Ids{}, afterCurrents, kPerPosition, GetPSumStatus(l, t, s, n, kEnd - 1)),
        WHOLE("GetCosStatusSum", Ids{}, afterCurrents, GetCosStatusSum(l, t)),
        WHOLE("GetPSumStatusSum", Ids{}, afterCurrents, GetPSumStatusSum(l, t)),
        // Harmonic RMS, angles and line RMS, sequence components.
        BLOCK("GetHarmonicValue", Ids{4}, fifth, kTrailing, GetHarmonicValue(l, t, s, n, kFft, b[0], b[1], kEnd, kEnd)),
        WHOLE("GetHarmonicValueSum", Ids{4}, fifth, GetHarmonicValueSum(l, t, 0, kEnd, kFft, b[0], b[1])),
        WHOLE("GetAngleSum", (Ids{4, 6}), k1, GetAngleSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetAngleToLine", phases, k1, kLineOfTheBlock, GetAngleToLine(l, t, s, n, 1, kFft, b[0], b[1])),
        WHOLE("GetAngleToLineSum", phases, k1, GetAngleToLineSum(l, t, 0, kEnd, 2, kFft, b[0], b[1])),
        BLOCK("GetZHPart", currents, k1, kRampFromBlockStart, GetZHPart(l, t, s, n, kFft)),
        WHOLE("GetZXPartSum", currents, k1, GetZXPartSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetFXPart", currents, k1, kRampFromBlockStart, GetFXPart(l, t, s, n, kFft)),
        WHOLE("GetFXPartSum", currents, k1, GetFXPartSum(l, t, 0, kEnd, kFft)),
        BLOCK("GetLXPart", currents, k1, kRampFromBlockStart, GetLXPart(l, t, s, n, kFft)),
        WHOLE("GetLXPartSum", currents, k1, GetLXPartSum(l, t, 0, kEnd, kFft)),
        // Averaging, frequency and speed, their state carried in the target;
        // refreshing the extremes writes the source record.
        BLOCK("GetPowerAvg", voltage, k1, kLeading, GetPowerAvg(l, t, s, n, kFft, b[0], b[1], kEnd, kEnd)),
        WHOLE("GetPowerAvgSum", voltage, k1, GetPowerAvgSum(l, t, 0, kEnd, kFft, b[0], b[1])),
        BLOCK("GetPowerAvgExtra", (Ids{1, 1}), k1, kScanFromBlockStart, GetPowerAvgExtra(l, t, s, n, 0, kPerMs, 0)),
        WHOLE("GetPowerAvgSumExtra", (Ids{1, 1}), k1, GetPowerAvgSumExtra(l, t, 0, kEnd, 0, kPerMs, kEnd)),
        BLOCK("GetFrequenceStatus", voltage, writesSources, kTracker,
              GetFrequenceStatus(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        BLOCK("GetRPM", Ids{10}, writesSources, kTracker, GetRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        BLOCK("GetFrequenceStatus2", voltage, k1, kTracker, GetFrequenceStatus2(l, t, s, n, kPerMs, kEnd, 0)),
        WHOLE("GetFrequenceStatusSum", voltage, useSource, GetFrequenceStatusSum(l, t, 0, kEnd, kPerMs, 0, kEnd)),
        WHOLE("GetRPMSum", Ids{10}, k1, GetRPMSum(l, t, 0, kEnd, kPer20ms)),
        BLOCK("GetBSCLRPM", Ids{11}, wheel, kTracker, GetBSCLRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1)),
        // It reads the target's own samples: the first phase voltage's, unless
        // the caller gave the target samples of its own.
        BlockCall("GetPowerAvgSelf", false, [](Recording& r) {
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
        WHOLE("GetEqYJJ", Ids{}, k1,
              GetEqYJJ(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f)),
        WHOLE("GetEqTJJ", Ids{}, k1,
              GetEqTJJ(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f)),
        WHOLE("GetKmByEq", Ids{}, k1, GetKmByEq(FindChannelById(l, 4), 1.0371f)),
        WHOLE("GetGJ3Sum", angles, k1, GetGJ3Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJ4Sum", angles, k1, GetGJ4Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJ6Sum", angles, k1, GetGJ6Sum(l, t, 0, kEnd, 100)),
        WHOLE("GetGJSum", measured, writesSources, GetGJSum(l, t, 0, kEnd, kPerMs, kEnd)),
        WHOLE("GetGJ5Sum", measured, k1, GetGJ5Sum(l, t, 0, kEnd, kPerMs, 2000)),
        WHOLE("GetJXtmp", voltage, k1, GetJXtmp(l, t)),
        WHOLE("GetUTSum", vi, writesSources, GetUTSum(l, t, 0, kEnd, kFft, r.puParams)),
        WHOLE("GetUX2Sum", chain, writesSources, GetUX2Sum(l, t, 400, 0, kFft, r.puParams)),
        WHOLE("GetUXSum", chain, writesSources, GetUXSum(l, t, 0, 0, 0, r.puParams)),
        WHOLE("GetAngleTSum", pair, k1, GetAngleTSum(l, t)),
        WHOLE("GetAngleXSum", pair, k1, GetAngleXSum(l, t)),
        WHOLE("GetAngleX2Sum", pair, k1, GetAngleX2Sum(l, t)),
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
