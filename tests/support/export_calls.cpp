#include "support/export_calls.h"

#include <cmath>
#include <cstring>
#include <functional>

#include "ampora.h"
#include "frame/resolve.h"

namespace {

constexpr int kFftSize = 256;

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
    std::vector<float> b[4] = {std::vector<float>(kFftSize), std::vector<float>(kFftSize),
                               std::vector<float>(kFftSize), std::vector<float>(kFftSize)};
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
ExportCall Blocks(const char* name, Ids ids, Call call, Setup setup = {}, BlockRule rule = {}) {
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

// call(list, target, buffers) once over the whole recording; its result is kept.
template <typename Call>
ExportCall Whole(const char* name, Ids ids, Call call, Setup setup = {}) {
    return {name, setup.writesSources, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target(ids, setup.kind);
                setup.prepare(*t);
                Spectra s;
                return static_cast<double>(call(r.List(), *t, s));
            }, nullptr, nullptr, {}};
}

constexpr int kEnd = Recording::kSamples;
constexpr double kPerMs = Recording::kRate / 1000.0;
constexpr int kPer20ms = 200;

// The block rules (see BlockRule) for the recording's window and its 50 Hz.
constexpr int kHop = kFftSize / 4;
constexpr int kPeriod = kPer20ms;
// Window walks: ramps that end at the window position (from a hop before the
// block) or start there (up to a hop past it).
constexpr BlockRule kTrailing{Split::QuarterGrid, kHop, 0, kFftSize};
constexpr BlockRule kLeading{Split::QuarterGrid, 0, kHop - 1, kFftSize + kHop};
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

// The forms of the windowed and per-sample exports, each called with the
// recording's window and its own buffers.
using Pair = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using PairSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using Windowed = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using WindowedSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using Plain = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
using PlainSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
using Summary = double (*)(CPtrList*, ChannelInfo*);

ExportCall PairBlocks(const char* name, Pair f, Ids ids, uint32_t kind, BlockRule rule) {
    return Blocks(name, ids, [f](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
        f(l, t, s, n, kFftSize, b[0], b[1], b[2], b[3]);
    }, {kind}, rule);
}
ExportCall PairWhole(const char* name, PairSum f, Ids ids, uint32_t kind) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra& b) {
        return f(l, t, 0, kEnd, kFftSize, b[0], b[1], b[2], b[3]);
    }, {kind});
}
// Window-length exports: fftSize for the windowed ones, W = 8 for the per-sample ones.
ExportCall WindowedBlocks(const char* name, Windowed f, Ids ids, int window, BlockRule rule, uint32_t kind = 1) {
    return Blocks(name, ids, [f, window](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) { f(l, t, s, n, window); },
                  {kind}, rule);
}
ExportCall WindowedWhole(const char* name, WindowedSum f, Ids ids, uint32_t kind = 1) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd, kFftSize); }, {kind});
}
ExportCall PlainBlocks(const char* name, Plain f, Ids ids, Setup setup = {}) {
    return Blocks(name, ids, [f](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) { f(l, t, s, n); }, setup);
}
ExportCall PlainWhole(const char* name, PlainSum f, Ids ids) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd); });
}
ExportCall SummaryOf(const char* name, Summary f, Ids ids, Setup setup = {}) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t); }, setup);
}

std::vector<ExportCall> BuildCalls() {
    const Ids line = {7, 4, 8, 5, 9, 6};
    const Ids phase = {1, 4, 2, 5, 3, 6};
    const Ids twoWattmeter = {7, 4, 8, 6, 9, 6};
    const Ids phases = {1, 2, 3}, currents = {4, 5, 6};
    const Setup writesSources{1, true};
    const Setup fifth{1, false, [](ChannelInfo* t) { t->HarmonicOrder = 5.0f; }};
    // The status exports read the two records listed before the target's
    // position: 11 names current 5's summary record (position 9) and current 6.
    const Setup afterCurrents{1, false, [](ChannelInfo* t) { t->ListIndex = 11; }};
    auto machine = [](const char* name, double (*f)(ChannelInfo*, ChannelInfo*, double, double, double, double, float)) {
        return Whole(name, {}, [f](CPtrList* l, ChannelInfo*, Spectra&) {
            return f(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f);
        });
    };
    using Angle = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
    using Measured = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, double, int32_t);
    using Voltage = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*);
    auto angle = [](const char* name, Angle f) {
        return Whole(name, {1, 4, 2, 5, 6}, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd, 100); });
    };
    auto measured = [&](const char* name, Measured f, int last, bool writes) {
        return Whole(name, {1, 10, 11}, [f, last](CPtrList* l, ChannelInfo* t, Spectra&) {
            return f(l, t, 0, kEnd, kPerMs, last);
        }, {1, writes});
    };
    auto voltage = [](const char* name, Voltage f, Ids ids, int a, int b, int c) {
        return ExportCall{name, true, [=](Recording& rec, ChannelInfo** t) {
                              *t = rec.Target(ids);
                              return f(rec.List(), *t, a, b, c, rec.puParams);
                          }, nullptr, nullptr, {}};
    };
    std::vector<ExportCall> calls = {
        PairBlocks("GetP", GetP, {1, 4}, 1, kLeading),
        PairBlocks("GetPAll", GetPAll, {1, 4}, 2, kLeading),
        PairBlocks("Get3PBy1", Get3PBy1, {1, 4}, 1, kTrailing),
        PairBlocks("Get3PBy1All", Get3PBy1All, {1, 4}, 2, kTrailing),
        PairBlocks("Get3PBy1Line", Get3PBy1Line, {7, 4}, 1, kTrailing),
        PairBlocks("Get3PBy1LineAll", Get3PBy1LineAll, {7, 4}, 2, kTrailing),
        PairWhole("Get3PBy1Sum", Get3PBy1Sum, {1, 4}, 1),
        PairWhole("Get3PBy1AllSum", Get3PBy1AllSum, {1, 4}, 2),
        PairWhole("Get3PBy1LineSum", Get3PBy1LineSum, {7, 4}, 2),
        PairWhole("Get3PBy1LineAllSum", Get3PBy1LineAllSum, {7, 4}, 1),
        PairWhole("GetPAllSum", GetPAllSum, {1, 4}, 1),
        PairWhole("GetPSum", GetPSum, {1, 4}, 1),
        WindowedBlocks("GetThreeLineP", GetThreeLineP, line, kFftSize, kTrailing, 1),
        WindowedBlocks("GetThreeLinePAll", GetThreeLinePAll, line, kFftSize, kTrailing, 2),
        WindowedWhole("GetThreeLinePSum", GetThreeLinePSum, line, 2),
        WindowedWhole("GetThreeLinePAllSum", GetThreeLinePAllSum, line, 1),
        WindowedBlocks("GetThreeLineZX", GetThreeLineZX, line, kFftSize, kTrailing, 1),
        WindowedBlocks("GetThreeAngleZX", GetThreeAngleZX, phase, kFftSize, kTrailing, 2),
        WindowedBlocks("GetThreeAngleP", GetThreeAngleP, phase, kFftSize, kTrailing, 1),
        WindowedBlocks("GetThreeAnglePAll", GetThreeAnglePAll, phase, kFftSize, kTrailing, 2),
        WindowedBlocks("GetTwoAngleP", GetTwoAngleP, twoWattmeter, kFftSize, kTrailing, 1),
        WindowedBlocks("GetTwoAnglePAll", GetTwoAnglePAll, twoWattmeter, kFftSize, kTrailing, 2),
        WindowedWhole("GetThreeAnglePSum", GetThreeAnglePSum, phase, 2),
        WindowedWhole("GetThreeAnglePAllSum", GetThreeAnglePAllSum, phase, 1),
        WindowedWhole("GetTwoAnglePSum", GetTwoAnglePSum, twoWattmeter, 1),
        WindowedWhole("GetTwoAnglePAllSum", GetTwoAnglePAllSum, twoWattmeter, 2),
        // Per-sample power with a moving average of 8, and record means.
        WindowedBlocks("GetThreeLinePEx", GetThreeLinePEx, line, 8, MovingAverage(8 / 6)),
        WindowedBlocks("GetThreeLineQIEx", GetThreeLineQIEx, line, 8, MovingAverage(8 / 2)),
        WindowedBlocks("GetTwoLineQIEx", GetTwoLineQIEx, twoWattmeter, 8, MovingAverage(8 / 2)),
        WindowedBlocks("GetThreeAnglePEx", GetThreeAnglePEx, phase, 8, MovingAverage(8 / 3)),
        WindowedBlocks("GetTwoAnglePEx", GetTwoAnglePEx, twoWattmeter, 8, MovingAverage(8 / 3)),
        WindowedBlocks("GetThreeAngleQIEx", GetThreeAngleQIEx, phase, 8, MovingAverage(8 / 2)),
        PlainWhole("GetThreeLinePExSum", GetThreeLinePExSum, line),
        PlainWhole("GetThreeAnglePExSum", GetThreeAnglePExSum, phase),
        PlainWhole("GetTwoAnglePExSum", GetTwoAnglePExSum, twoWattmeter),
        // Calculation methods, averages, differences, status.
        PlainBlocks("GetCalculatMethod1", GetCalculatMethod1, {1, 4}),
        PlainBlocks("GetCalculatMethod2", GetCalculatMethod2, {1, 4}),
        PlainBlocks("GetCalculatMethod3", GetCalculatMethod3, {1, 4}),
        PlainWhole("GetCalculatMethod1Sum", GetCalculatMethod1Sum, {1, 4}),
        PlainWhole("GetCalculatMethod2Sum", GetCalculatMethod2Sum, {1, 4}),
        PlainWhole("GetCalculatMethod3Sum", GetCalculatMethod3Sum, {1, 4}),
        PlainBlocks("GetAvgValue", GetAvgValue, phases),
        PlainBlocks("GetAvgValueExt", GetAvgValueExt, currents),
        SummaryOf("GetAvgValueSum", GetAvgValueSum, currents),
        SummaryOf("GetAvgValueExtSum", GetAvgValueExtSum, currents),
        PlainBlocks("GetReduce", GetReduce, {1, 2}),
        PlainBlocks("GetSubtraction", GetSubtraction, {7, 8}),
        PlainBlocks("GetPWMAngle", GetPWMAngle, {7, 1}),
        Blocks("GetCosStatus", {}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetCosStatus(l, t, s, n, kEnd - 1);
        }, afterCurrents),
        Blocks("GetPSumStatus", {}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetPSumStatus(l, t, s, n, kEnd - 1);
        }, afterCurrents),
        SummaryOf("GetCosStatusSum", GetCosStatusSum, {}, afterCurrents),
        SummaryOf("GetPSumStatusSum", GetPSumStatusSum, {}, afterCurrents),
        // Harmonic RMS, angles and line RMS, sequence components.
        Blocks("GetHarmonicValue", {4}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
            GetHarmonicValue(l, t, s, n, kFftSize, b[0], b[1], kEnd, kEnd);
        }, fifth, kTrailing),
        Whole("GetHarmonicValueSum", {4}, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetHarmonicValueSum(l, t, 0, kEnd, kFftSize, b[0], b[1]);
        }, fifth),
        Whole("GetAngleSum", {4, 6}, [](CPtrList* l, ChannelInfo* t, Spectra&) { return GetAngleSum(l, t, 0, kEnd, kFftSize); }),
        Blocks("GetAngleToLine", phases, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
            GetAngleToLine(l, t, s, n, 1, kFftSize, b[0], b[1]);
        }, {}, kLineOfTheBlock),
        Whole("GetAngleToLineSum", phases, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetAngleToLineSum(l, t, 0, kEnd, 2, kFftSize, b[0], b[1]);
        }),
        WindowedBlocks("GetZHPart", GetZHPart, currents, kFftSize, kRampFromBlockStart),
        WindowedBlocks("GetFXPart", GetFXPart, currents, kFftSize, kRampFromBlockStart),
        WindowedBlocks("GetLXPart", GetLXPart, currents, kFftSize, kRampFromBlockStart),
        WindowedWhole("GetZXPartSum", GetZXPartSum, currents),
        WindowedWhole("GetFXPartSum", GetFXPartSum, currents),
        WindowedWhole("GetLXPartSum", GetLXPartSum, currents),
        // Averaging, frequency and speed, their state carried in the target;
        // refreshing the extremes writes the source record.
        Blocks("GetPowerAvg", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
            GetPowerAvg(l, t, s, n, kFftSize, b[0], b[1], kEnd, kEnd);
        }, {}, kLeading),
        Whole("GetPowerAvgSum", {1}, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetPowerAvgSum(l, t, 0, kEnd, kFftSize, b[0], b[1]);
        }),
        Blocks("GetPowerAvgExtra", {1, 1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetPowerAvgExtra(l, t, s, n, 0, kPerMs, 0);
        }, {}, kScanFromBlockStart),
        Whole("GetPowerAvgSumExtra", {1, 1}, [](CPtrList* l, ChannelInfo* t, Spectra&) {
            return GetPowerAvgSumExtra(l, t, 0, kEnd, 0, kPerMs, kEnd);
        }),
        Blocks("GetFrequenceStatus", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetFrequenceStatus(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, writesSources, kTracker),
        Blocks("GetRPM", {10}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, writesSources, kTracker),
        Blocks("GetFrequenceStatus2", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetFrequenceStatus2(l, t, s, n, kPerMs, kEnd, 0);
        }, {}, kTracker),
        Whole("GetFrequenceStatusSum", {1}, [](CPtrList* l, ChannelInfo* t, Spectra&) {
            return GetFrequenceStatusSum(l, t, 0, kEnd, kPerMs, 0, kEnd);
        }, {1, false, [](ChannelInfo* t) { t->UseSource = 1; }}),
        Whole("GetRPMSum", {10}, [](CPtrList* l, ChannelInfo* t, Spectra&) { return GetRPMSum(l, t, 0, kEnd, kPer20ms); }),
        Blocks("GetBSCLRPM", {11}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetBSCLRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, {1, true, [](ChannelInfo* t) { t->PulsesPerRev = 60.0; }}, kTracker),
        // It reads the target's own samples: the first phase voltage's, unless
        // the caller gave the target samples of its own.
        BlockCall("GetPowerAvgSelf", false, [](Recording& r) {
            ChannelInfo* t = r.Target({1});
            if (t->SampleData == 0) {
                const float* own = SampleArray(FindChannelById(r.host.List(), 1));
                r.host.Samples(t, std::vector<float>(own, own + kEnd));
            }
            return t;
        }, [](Recording& r, ChannelInfo* t, int s, int n) { GetPowerAvgSelf(r.List(), t, s, n, 0, kPerMs, kEnd, kEnd, 0); },
        kWholeCycles),
        // The machine: the recording's summaries stand for finished whole-record results.
        machine("GetEqYJJ", GetEqYJJ),
        machine("GetEqTJJ", GetEqTJJ),
        Whole("GetKmByEq", {}, [](CPtrList* l, ChannelInfo*, Spectra&) { return GetKmByEq(FindChannelById(l, 4), 1.0371f); }),
        angle("GetGJ3Sum", GetGJ3Sum),
        angle("GetGJ4Sum", GetGJ4Sum),
        angle("GetGJ6Sum", GetGJ6Sum),
        measured("GetGJSum", GetGJSum, kEnd, true),
        measured("GetGJ5Sum", GetGJ5Sum, 2000, false),
        SummaryOf("GetJXtmp", GetJXtmp, {1}),
        voltage("GetUTSum", GetUTSum, {1, 4}, 0, kEnd, kFftSize),
        voltage("GetUX2Sum", GetUX2Sum, {1, 4, 2}, 400, 0, kFftSize),
        voltage("GetUXSum", GetUXSum, {1, 4, 2}, 0, 0, 0),
        SummaryOf("GetAngleTSum", GetAngleTSum, {1, 2}),
        SummaryOf("GetAngleXSum", GetAngleXSum, {1, 2}),
        SummaryOf("GetAngleX2Sum", GetAngleX2Sum, {1, 2}),
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
