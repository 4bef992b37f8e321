#include "support/export_calls.h"

#include <cmath>
#include <cstring>
#include <functional>

#include "ampora.h"
#include "frame/resolve.h"
#include "host/crossing_queue_host.h"

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

// What a call needs beyond its sources: CalcKind, the record fields its contract
// lets it write, and a record field or two set before the call.
struct Setup {
    uint32_t kind = 1;
    std::vector<FieldWrite> fields = {};
    std::function<void(ChannelInfo*)> prepare = [](ChannelInfo*) {};
};

#define WRITES(record, Field) FieldWrite{record, offsetof(ChannelInfo, Field), sizeof(ChannelInfo::Field)}
FieldWrite Slot(int k) { return {kTargetRecord, offsetof(ChannelInfo, TrackState) + 8 * k, 8}; }
FieldWrite Aux(int record, int k) { return {record, offsetof(ChannelInfo, SummaryAux) + 8 * k, 8}; }
FieldWrite QueueWord(std::size_t word) { return {kTargetRecord, offsetof(ChannelInfo, CrossingQueue) + word, 4}; }

// call(list, target, start, count, buffers) for every block of the recording.
template <typename Call>
ExportCall Blocks(const char* name, Ids ids, Call call, Setup setup = {}, ResultSpan span = ResultSpan::Blocks) {
    return {name, span, setup.fields, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target(ids, setup.kind, setup.prepare);
                Spectra s;
                return InBlocks([&](int start, int count) { call(r.List(), *t, start, count, s); });
            }};
}

// call(list, target, buffers) once over the whole recording; its result is kept.
template <typename Call>
ExportCall Whole(const char* name, Ids ids, Call call, Setup setup = {}, ResultSpan span = ResultSpan::None) {
    return {name, span, setup.fields, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target(ids, setup.kind, setup.prepare);
                Spectra s;
                return static_cast<double>(call(r.List(), *t, s));
            }};
}

constexpr int kEnd = Recording::kSamples;
constexpr double kPerMs = Recording::kRate / 1000.0;
constexpr int kPer20ms = 200;

// The forms of the windowed and per-sample exports, each called with the
// recording's window and its own buffers.
using Pair = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using PairSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using Windowed = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using WindowedSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using Plain = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
using PlainSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
using Summary = double (*)(CPtrList*, ChannelInfo*);

ExportCall PairBlocks(const char* name, Pair f, Ids ids, uint32_t kind, ResultSpan span = ResultSpan::Blocks) {
    return Blocks(name, ids, [f](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
        f(l, t, s, n, kFftSize, b[0], b[1], b[2], b[3]);
    }, {kind}, span);
}
ExportCall PairWhole(const char* name, PairSum f, Ids ids, uint32_t kind) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra& b) {
        return f(l, t, 0, kEnd, kFftSize, b[0], b[1], b[2], b[3]);
    }, {kind}, ResultSpan::Windows);
}
// Window-length exports: fftSize for the windowed ones, W = 8 for the
// per-sample ones (whose moving average lives in RunningSum).
ExportCall WindowedBlocks(const char* name, Windowed f, Ids ids, int window, uint32_t kind = 1) {
    const std::vector<FieldWrite> sum = {WRITES(kTargetRecord, RunningSum)};
    return Blocks(name, ids, [f, window](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) { f(l, t, s, n, window); },
                  {kind, window == kFftSize ? std::vector<FieldWrite>{} : sum});
}
ExportCall WindowedWhole(const char* name, WindowedSum f, Ids ids, uint32_t kind = 1) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd, kFftSize); }, {kind},
                 ResultSpan::Windows);
}
ExportCall PlainBlocks(const char* name, Plain f, Ids ids, Setup setup = {}) {
    return Blocks(name, ids, [f](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) { f(l, t, s, n); }, setup);
}
ExportCall PlainWhole(const char* name, PlainSum f, Ids ids, Setup setup = {}, ResultSpan span = ResultSpan::None) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd); }, setup, span);
}
ExportCall SummaryOf(const char* name, Summary f, Ids ids, Setup setup = {}) {
    return Whole(name, ids, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t); }, setup);
}

std::vector<ExportCall> BuildCalls() {
    const Ids line = {7, 4, 8, 5, 9, 6};
    const Ids phase = {1, 4, 2, 5, 3, 6};
    const Ids twoWattmeter = {7, 4, 8, 6, 9, 6};
    const Ids phases = {1, 2, 3}, currents = {4, 5, 6};
    const Setup fifth{1, {}, [](ChannelInfo* t) { t->HarmonicOrder = 5.0f; }};
    // The status exports read the two records listed before the target's
    // position: 11 names current 5's summary record (position 9) and current 6.
    const Setup afterCurrents{1, {}, [](ChannelInfo* t) { t->ListIndex = 11; }};
    // The calculation methods keep running extremes; the three-slot trackers
    // their slots, the value they hold and the block's end, and refreshing the
    // extremes writes them into the source.
    const Setup extremes{1, {WRITES(kTargetRecord, ResultMax), WRITES(kTargetRecord, ResultMin)}};
    const std::vector<FieldWrite> sourceExtremes = {WRITES(0, SampleMax), WRITES(0, SampleMin)};
    std::vector<FieldWrite> threeSlots = {Slot(1), Slot(2), Slot(3), Slot(4), Slot(5),
                                          WRITES(kTargetRecord, HeldValue), WRITES(kTargetRecord, LastBlockEnd)};
    threeSlots.insert(threeSlots.end(), sourceExtremes.begin(), sourceExtremes.end());
    auto machine = [](const char* name, double (*f)(ChannelInfo*, ChannelInfo*, double, double, double, double, float)) {
        return Whole(name, {}, [f](CPtrList* l, ChannelInfo*, Spectra&) {
            return f(FindChannelById(l, 1), FindChannelById(l, 4), 230.0, 10.0, 0.01, 1.1, 0.5f);
        });
    };
    using Angle = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
    using Measured = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, double, int32_t);
    using Voltage = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*);
    auto angle = [](const char* name, Angle f, std::vector<FieldWrite> fields) {
        return Whole(name, {1, 4, 2, 5, 6}, [f](CPtrList* l, ChannelInfo* t, Spectra&) { return f(l, t, 0, kEnd, 100); },
                     {1, fields});
    };
    auto measured = [&](const char* name, Measured f, int last, std::vector<FieldWrite> fields) {
        return Whole(name, {1, 10, 11}, [f, last](CPtrList* l, ChannelInfo* t, Spectra&) {
            return f(l, t, 0, kEnd, kPerMs, last);
        }, {1, fields});
    };
    auto voltage = [](const char* name, Voltage f, Ids ids, int a, int b, int c, std::vector<FieldWrite> fields) {
        return ExportCall{name, ResultSpan::None, fields, [=](Recording& rec, ChannelInfo** t) {
                              *t = rec.Target(ids);
                              return f(rec.List(), *t, a, b, c, rec.puParams);
                          }};
    };
    std::vector<ExportCall> calls = {
        PairBlocks("GetP", GetP, {1, 4}, 1, ResultSpan::BlocksAndHop),
        PairBlocks("GetPAll", GetPAll, {1, 4}, 2, ResultSpan::BlocksAndHop),
        PairBlocks("Get3PBy1", Get3PBy1, {1, 4}, 1),
        PairBlocks("Get3PBy1All", Get3PBy1All, {1, 4}, 2),
        PairBlocks("Get3PBy1Line", Get3PBy1Line, {7, 4}, 1),
        PairBlocks("Get3PBy1LineAll", Get3PBy1LineAll, {7, 4}, 2),
        PairWhole("Get3PBy1Sum", Get3PBy1Sum, {1, 4}, 1),
        PairWhole("Get3PBy1AllSum", Get3PBy1AllSum, {1, 4}, 2),
        PairWhole("Get3PBy1LineSum", Get3PBy1LineSum, {7, 4}, 2),
        PairWhole("Get3PBy1LineAllSum", Get3PBy1LineAllSum, {7, 4}, 1),
        PairWhole("GetPAllSum", GetPAllSum, {1, 4}, 1),
        PairWhole("GetPSum", GetPSum, {1, 4}, 1),
        WindowedBlocks("GetThreeLineP", GetThreeLineP, line, kFftSize, 1),
        WindowedBlocks("GetThreeLinePAll", GetThreeLinePAll, line, kFftSize, 2),
        WindowedWhole("GetThreeLinePSum", GetThreeLinePSum, line, 2),
        WindowedWhole("GetThreeLinePAllSum", GetThreeLinePAllSum, line, 1),
        WindowedBlocks("GetThreeLineZX", GetThreeLineZX, line, kFftSize, 1),
        WindowedBlocks("GetThreeAngleZX", GetThreeAngleZX, phase, kFftSize, 2),
        WindowedBlocks("GetThreeAngleP", GetThreeAngleP, phase, kFftSize, 1),
        WindowedBlocks("GetThreeAnglePAll", GetThreeAnglePAll, phase, kFftSize, 2),
        WindowedBlocks("GetTwoAngleP", GetTwoAngleP, twoWattmeter, kFftSize, 1),
        WindowedBlocks("GetTwoAnglePAll", GetTwoAnglePAll, twoWattmeter, kFftSize, 2),
        WindowedWhole("GetThreeAnglePSum", GetThreeAnglePSum, phase, 2),
        WindowedWhole("GetThreeAnglePAllSum", GetThreeAnglePAllSum, phase, 1),
        WindowedWhole("GetTwoAnglePSum", GetTwoAnglePSum, twoWattmeter, 1),
        WindowedWhole("GetTwoAnglePAllSum", GetTwoAnglePAllSum, twoWattmeter, 2),
        // Per-sample power with a moving average of 8, and record means.
        WindowedBlocks("GetThreeLinePEx", GetThreeLinePEx, line, 8),
        WindowedBlocks("GetThreeLineQIEx", GetThreeLineQIEx, line, 8),
        WindowedBlocks("GetTwoLineQIEx", GetTwoLineQIEx, twoWattmeter, 8),
        WindowedBlocks("GetThreeAnglePEx", GetThreeAnglePEx, phase, 8),
        WindowedBlocks("GetTwoAnglePEx", GetTwoAnglePEx, twoWattmeter, 8),
        WindowedBlocks("GetThreeAngleQIEx", GetThreeAngleQIEx, phase, 8),
        PlainWhole("GetThreeLinePExSum", GetThreeLinePExSum, line),
        PlainWhole("GetThreeAnglePExSum", GetThreeAnglePExSum, phase),
        PlainWhole("GetTwoAnglePExSum", GetTwoAnglePExSum, twoWattmeter),
        // Calculation methods, averages, differences, status.
        PlainBlocks("GetCalculatMethod1", GetCalculatMethod1, {1, 4}, extremes),
        PlainBlocks("GetCalculatMethod2", GetCalculatMethod2, {1, 4}, extremes),
        PlainBlocks("GetCalculatMethod3", GetCalculatMethod3, {1, 4}, extremes),
        PlainWhole("GetCalculatMethod1Sum", GetCalculatMethod1Sum, {1, 4}, extremes, ResultSpan::Record),
        PlainWhole("GetCalculatMethod2Sum", GetCalculatMethod2Sum, {1, 4}, extremes, ResultSpan::Record),
        PlainWhole("GetCalculatMethod3Sum", GetCalculatMethod3Sum, {1, 4}, extremes, ResultSpan::Record),
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
        }, fifth),
        Whole("GetHarmonicValueSum", {4}, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetHarmonicValueSum(l, t, 0, kEnd, kFftSize, b[0], b[1]);
        }, fifth, ResultSpan::Hops),
        Whole("GetAngleSum", {4, 6}, [](CPtrList* l, ChannelInfo* t, Spectra&) { return GetAngleSum(l, t, 0, kEnd, kFftSize); },
              {1, {WRITES(kTargetRecord, SummaryValue)}}),
        Blocks("GetAngleToLine", phases, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
            GetAngleToLine(l, t, s, n, 1, kFftSize, b[0], b[1]);
        }, {}, ResultSpan::BlocksAndHop),
        Whole("GetAngleToLineSum", phases, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetAngleToLineSum(l, t, 0, kEnd, 2, kFftSize, b[0], b[1]);
        }, {}, ResultSpan::Record),
        WindowedBlocks("GetZHPart", GetZHPart, currents, kFftSize),
        WindowedBlocks("GetFXPart", GetFXPart, currents, kFftSize),
        WindowedBlocks("GetLXPart", GetLXPart, currents, kFftSize),
        WindowedWhole("GetZXPartSum", GetZXPartSum, currents),
        WindowedWhole("GetFXPartSum", GetFXPartSum, currents),
        WindowedWhole("GetLXPartSum", GetLXPartSum, currents),
        // Averaging, frequency and speed, their state carried in the target;
        // refreshing the extremes writes the source record.
        Blocks("GetPowerAvg", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra& b) {
            GetPowerAvg(l, t, s, n, kFftSize, b[0], b[1], kEnd, kEnd);
        }, {}, ResultSpan::BlocksAndHop),
        Whole("GetPowerAvgSum", {1}, [](CPtrList* l, ChannelInfo* t, Spectra& b) {
            return GetPowerAvgSum(l, t, 0, kEnd, kFftSize, b[0], b[1]);
        }, {}, ResultSpan::Hops),
        Blocks("GetPowerAvgExtra", {1, 1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetPowerAvgExtra(l, t, s, n, 0, kPerMs, 0);
        }, {1, {Slot(0), Slot(1), WRITES(kTargetRecord, PeriodFrequency), WRITES(kTargetRecord, PeriodEndIndex),
                WRITES(kTargetRecord, QuietCount), WRITES(kTargetRecord, LastBlockEnd)}}),
        Whole("GetPowerAvgSumExtra", {1, 1}, [](CPtrList* l, ChannelInfo* t, Spectra&) {
            return GetPowerAvgSumExtra(l, t, 0, kEnd, 0, kPerMs, kEnd);
        }),
        Blocks("GetFrequenceStatus", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetFrequenceStatus(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, {1, threeSlots}),
        Blocks("GetRPM", {10}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, {1, threeSlots}),
        Blocks("GetFrequenceStatus2", {1}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetFrequenceStatus2(l, t, s, n, kPerMs, kEnd, 0);
        }, {1, {Slot(0), Slot(1), Slot(2), Slot(4), Slot(5), WRITES(kTargetRecord, LastBlockEnd),
                WRITES(kTargetRecord, PeriodEndIndex), WRITES(kTargetRecord, QuietCount)}}),
        Whole("GetFrequenceStatusSum", {1}, [](CPtrList* l, ChannelInfo* t, Spectra&) {
            return GetFrequenceStatusSum(l, t, 0, kEnd, kPerMs, 0, kEnd);
        }, {1, {}, [](ChannelInfo* t) { t->UseSource = 1; }}, ResultSpan::Record),
        Whole("GetRPMSum", {10}, [](CPtrList* l, ChannelInfo* t, Spectra&) { return GetRPMSum(l, t, 0, kEnd, kPer20ms); }),
        // Sixty pulses per revolution, a queue of 3·60 + 1 crossings (the host's
        // mapping outlives the call, as a host's queue outlives a record).
        Blocks("GetBSCLRPM", {11}, [](CPtrList* l, ChannelInfo* t, int s, int n, Spectra&) {
            GetBSCLRPM(l, t, s, n, kPer20ms, kPerMs, kEnd, 1);
        }, {1, {Slot(1), Slot(3), WRITES(kTargetRecord, HeldValue), WRITES(kTargetRecord, LastBlockEnd),
                QueueWord(kQueueFrontOffset), QueueWord(kQueueCountOffset), sourceExtremes[0], sourceExtremes[1]},
            [](ChannelInfo* t) {
                t->PulsesPerRev = 60.0;
                ConstructCrossingQueue(t, 181);
            }}),
        // It reads the target's own samples: the first phase voltage's, unless
        // the caller gave the target samples of its own.
        ExportCall{"GetPowerAvgSelf", ResultSpan::Blocks,
                   {WRITES(kTargetRecord, CycleStart), WRITES(kTargetRecord, CycleWriteEnd),
                    WRITES(kTargetRecord, PeriodFrequency), WRITES(kTargetRecord, LastBlockEnd)},
                   [](Recording& r, ChannelInfo** t) {
                       *t = r.Target({1});
                       if ((*t)->SampleData == 0) {
                           const float* own = SampleArray(FindChannelById(r.host.List(), 1));
                           r.host.Samples(*t, std::vector<float>(own, own + kEnd));
                       }
                       return InBlocks([&](int s, int n) { GetPowerAvgSelf(r.List(), *t, s, n, 0, kPerMs, kEnd, kEnd, 0); });
                   }},
        // The machine: the recording's summaries stand for finished whole-record results.
        machine("GetEqYJJ", GetEqYJJ),
        machine("GetEqTJJ", GetEqTJJ),
        Whole("GetKmByEq", {}, [](CPtrList* l, ChannelInfo*, Spectra&) { return GetKmByEq(FindChannelById(l, 4), 1.0371f); }),
        angle("GetGJ3Sum", GetGJ3Sum, {WRITES(kTargetRecord, SummaryValue), Aux(kTargetRecord, 1)}),
        angle("GetGJ4Sum", GetGJ4Sum, {WRITES(kTargetRecord, SummaryValue)}),
        angle("GetGJ6Sum", GetGJ6Sum, {WRITES(kTargetRecord, SummaryValue)}),
        measured("GetGJSum", GetGJSum, kEnd, {WRITES(0, KeyLevel)}),
        measured("GetGJ5Sum", GetGJ5Sum, 2000, {}),
        SummaryOf("GetJXtmp", GetJXtmp, {1}),
        // The voltage summaries hand their phasors and angles on in SummaryAux.
        voltage("GetUTSum", GetUTSum, {1, 4}, 0, kEnd, kFftSize,
                {Aux(kTargetRecord, 0), Aux(kTargetRecord, 1), Aux(0, 0), Aux(0, 1), Aux(1, 0), Aux(1, 1)}),
        voltage("GetUX2Sum", GetUX2Sum, {1, 4, 2}, 400, 0, kFftSize,
                {Aux(0, 0), Aux(0, 1), Aux(1, 0), Aux(1, 1), Aux(2, 0), Aux(2, 1), Aux(2, 2)}),
        voltage("GetUXSum", GetUXSum, {1, 4, 2}, 0, 0, 0, {Aux(2, 2)}),
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

bool InSpan(ResultSpan span, int k) {
    const int lastBlockEnd = (kEnd - Recording::kBlock - 1) / Recording::kBlock * Recording::kBlock + Recording::kBlock;
    const bool windowStart = k <= kEnd - kFftSize;
    switch (span) {
        case ResultSpan::None: return false;
        case ResultSpan::Blocks: return k >= 0 && k < lastBlockEnd;
        case ResultSpan::BlocksAndHop: return k >= 0 && k < lastBlockEnd + kFftSize / 4;
        case ResultSpan::Windows: return windowStart && k % kFftSize == 0;
        case ResultSpan::Hops: return windowStart && k % (kFftSize / 4) == 0;
        case ResultSpan::Record: return k >= 0 && k < kEnd;
    }
    return false;
}

const std::vector<ExportCall>& AllExportCalls() {
    static const std::vector<ExportCall> calls = BuildCalls();
    return calls;
}
