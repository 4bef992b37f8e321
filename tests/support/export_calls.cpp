#include "support/export_calls.h"

#include <cmath>
#include <cstring>

#include "ampora.h"
#include "frame/resolve.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 10000.0;
constexpr double kFrequency = 50.0;
constexpr int kFftSize = 256;

std::vector<float> Phase(double rms, double phase, double fifth) {
    std::vector<float> x(Recording::kSamples);
    for (int i = 0; i < Recording::kSamples; ++i) {
        const double w = 2 * kPi * kFrequency * i / kRate;
        x[i] = static_cast<float>(std::sqrt(2.0) * rms * (std::cos(w + phase) + fifth * std::cos(5 * (w + phase))));
    }
    return x;
}

std::vector<float> Pulses(double periodSamples, double width, double offset) {
    std::vector<float> x(Recording::kSamples);
    for (int i = 0; i < Recording::kSamples; ++i)
        x[i] = std::fmod(i + periodSamples - offset, periodSamples) < width ? 5.0f : 0.0f;
    return x;
}

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

struct Spectra {
    std::vector<float> b[4] = {std::vector<float>(kFftSize), std::vector<float>(kFftSize),
                               std::vector<float>(kFftSize), std::vector<float>(kFftSize)};
};

using Pair = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using PairSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using Six = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using SixSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);

ExportCall PairBlock(const char* name, Pair f, uint8_t u, uint8_t i, uint32_t kind) {
    return {name, false, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target({u, i}, kind);
                auto s = std::make_shared<Spectra>();
                return InBlocks([&](int start, int count) {
                    f(r.List(), *t, start, count, kFftSize, s->b[0].data(), s->b[1].data(), s->b[2].data(),
                      s->b[3].data());
                });
            }};
}
ExportCall PairRecord(const char* name, PairSum f, uint8_t u, uint8_t i, uint32_t kind) {
    return {name, false, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target({u, i}, kind);
                Spectra s;
                return f(r.List(), *t, 0, Recording::kSamples, kFftSize, s.b[0].data(), s.b[1].data(),
                         s.b[2].data(), s.b[3].data());
            }};
}
ExportCall SixBlock(const char* name, Six f, std::initializer_list<uint8_t> ids, uint32_t kind) {
    std::vector<uint8_t> v(ids);
    return {name, false, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target({v[0], v[1], v[2], v[3], v[4], v[5]}, kind);
                return InBlocks([&](int start, int count) { f(r.List(), *t, start, count, kFftSize); });
            }};
}
ExportCall SixRecord(const char* name, SixSum f, std::initializer_list<uint8_t> ids, uint32_t kind) {
    std::vector<uint8_t> v(ids);
    return {name, false, [=](Recording& r, ChannelInfo** t) {
                *t = r.Target({v[0], v[1], v[2], v[3], v[4], v[5]}, kind);
                return f(r.List(), *t, 0, Recording::kSamples, kFftSize);
            }};
}

std::vector<ExportCall> BuildCalls() {
    const std::initializer_list<uint8_t> line = {7, 4, 8, 5, 9, 6};
    const std::initializer_list<uint8_t> phase = {1, 4, 2, 5, 3, 6};
    const std::initializer_list<uint8_t> twoWattmeter = {7, 4, 8, 6, 9, 6};
    std::vector<ExportCall> calls = {
        PairBlock("GetP", GetP, 1, 4, 1),
        PairBlock("GetPAll", GetPAll, 1, 4, 2),
        PairBlock("Get3PBy1", Get3PBy1, 1, 4, 1),
        PairBlock("Get3PBy1All", Get3PBy1All, 1, 4, 2),
        PairBlock("Get3PBy1Line", Get3PBy1Line, 7, 4, 1),
        PairBlock("Get3PBy1LineAll", Get3PBy1LineAll, 7, 4, 2),
        PairRecord("Get3PBy1Sum", Get3PBy1Sum, 1, 4, 1),
        PairRecord("Get3PBy1AllSum", Get3PBy1AllSum, 1, 4, 2),
        PairRecord("Get3PBy1LineSum", Get3PBy1LineSum, 7, 4, 2),
        PairRecord("Get3PBy1LineAllSum", Get3PBy1LineAllSum, 7, 4, 1),
        PairRecord("GetPAllSum", GetPAllSum, 1, 4, 1),
        SixBlock("GetThreeLineP", GetThreeLineP, line, 1),
        SixBlock("GetThreeLinePAll", GetThreeLinePAll, line, 2),
        SixRecord("GetThreeLinePSum", GetThreeLinePSum, line, 2),
        SixRecord("GetThreeLinePAllSum", GetThreeLinePAllSum, line, 1),
        SixBlock("GetThreeLineZX", GetThreeLineZX, line, 1),
        SixBlock("GetThreeAngleZX", GetThreeAngleZX, phase, 2),
        SixBlock("GetThreeAngleP", GetThreeAngleP, phase, 1),
        SixBlock("GetThreeAnglePAll", GetThreeAnglePAll, phase, 2),
        SixBlock("GetTwoAngleP", GetTwoAngleP, twoWattmeter, 1),
        SixBlock("GetTwoAnglePAll", GetTwoAnglePAll, twoWattmeter, 2),
        SixRecord("GetThreeAnglePSum", GetThreeAnglePSum, phase, 2),
        SixRecord("GetThreeAnglePAllSum", GetThreeAnglePAllSum, phase, 1),
        SixRecord("GetTwoAnglePSum", GetTwoAnglePSum, twoWattmeter, 1),
        SixRecord("GetTwoAnglePAllSum", GetTwoAnglePAllSum, twoWattmeter, 2),
    };
    using Method = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
    using MethodSum = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t);
    const std::pair<const char*, Method> methods[] = {
        {"GetCalculatMethod1", GetCalculatMethod1}, {"GetCalculatMethod2", GetCalculatMethod2},
        {"GetCalculatMethod3", GetCalculatMethod3}};
    for (auto [name, f] : methods)
        calls.push_back({name, false, [f = f](Recording& r, ChannelInfo** t) {
                             *t = r.Target({1, 4});
                             return InBlocks([&](int start, int count) { f(r.List(), *t, start, count); });
                         }});
    const std::pair<const char*, MethodSum> methodSums[] = {
        {"GetCalculatMethod1Sum", GetCalculatMethod1Sum}, {"GetCalculatMethod2Sum", GetCalculatMethod2Sum},
        {"GetCalculatMethod3Sum", GetCalculatMethod3Sum}};
    for (auto [name, f] : methodSums)
        calls.push_back({name, false, [f = f](Recording& r, ChannelInfo** t) {
                             *t = r.Target({1, 4});
                             return f(r.List(), *t, 0, Recording::kSamples);
                         }});

    // The machine: the recording's summaries stand for finished whole-record results.
    calls.push_back({"GetEqYJJ", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({});
                         return GetEqYJJ(FindChannelById(r.List(), 1), FindChannelById(r.List(), 4), 230.0, 10.0,
                                         0.01, 1.1, 0.5f);
                     }});
    calls.push_back({"GetEqTJJ", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({});
                         return GetEqTJJ(FindChannelById(r.List(), 1), FindChannelById(r.List(), 4), 230.0, 10.0,
                                         0.01, 1.1, 0.5f);
                     }});
    calls.push_back({"GetKmByEq", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({});
                         return GetKmByEq(FindChannelById(r.List(), 4), 1.0371f);
                     }});
    using Angle = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
    const std::pair<const char*, Angle> angles[] = {
        {"GetGJ3Sum", GetGJ3Sum}, {"GetGJ4Sum", GetGJ4Sum}, {"GetGJ6Sum", GetGJ6Sum}};
    for (auto [name, f] : angles)
        calls.push_back({name, false, [f = f](Recording& r, ChannelInfo** t) {
                             *t = r.Target({1, 4, 2, 5, 6});
                             return f(r.List(), *t, 0, Recording::kSamples, 100);
                         }});
    calls.push_back({"GetGJSum", true, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1, 10, 11});
                         return GetGJSum(r.List(), *t, 0, Recording::kSamples, kRate / 1000.0, Recording::kSamples);
                     }});
    calls.push_back({"GetGJ5Sum", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1, 10, 11});
                         return GetGJ5Sum(r.List(), *t, 0, Recording::kSamples, kRate / 1000.0, 2000);
                     }});
    calls.push_back({"GetJXtmp", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1});
                         return GetJXtmp(r.List(), *t);
                     }});
    calls.push_back({"GetUTSum", true, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1, 4});
                         return GetUTSum(r.List(), *t, 0, Recording::kSamples, kFftSize, r.puParams.data());
                     }});
    calls.push_back({"GetUX2Sum", true, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1, 4, 2});
                         return GetUX2Sum(r.List(), *t, 400, 0, kFftSize, r.puParams.data());
                     }});
    calls.push_back({"GetUXSum", true, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1, 4, 2});
                         return GetUXSum(r.List(), *t, 0, 0, 0, r.puParams.data());
                     }});
    using Summary = double (*)(CPtrList*, ChannelInfo*);
    const std::pair<const char*, Summary> summaries[] = {
        {"GetAngleTSum", GetAngleTSum}, {"GetAngleXSum", GetAngleXSum}, {"GetAngleX2Sum", GetAngleX2Sum}};
    for (auto [name, f] : summaries)
        calls.push_back({name, false, [f = f](Recording& r, ChannelInfo** t) {
                             *t = r.Target({1, 2});
                             return f(r.List(), *t);
                         }});
    return calls;
}

}  // namespace

Recording::Recording() {
    const double lag = -kPi / 6, turn = 2 * kPi / 3;
    const std::vector<float> waves[] = {
        Phase(230, 0, 0),           Phase(230, -turn, 0),         Phase(230, turn, 0),
        Phase(10, lag, 0.05),       Phase(10.4, lag - turn, 0.05), Phase(9.7, lag + turn, 0.05),
        Phase(230 * std::sqrt(3.0), kPi / 6, 0), Phase(230 * std::sqrt(3.0), kPi / 6 - turn, 0),
        Phase(230 * std::sqrt(3.0), kPi / 6 + turn, 0),
        Pulses(200.0, 20, 180.3),   Pulses(200.0 / 60, 1.5, 0.4)};
    const double summaries[] = {230, 230, 230, 10, 10.4, 9.7, 398, 398, 398, 50, 50};
    for (uint32_t id = 1; id <= 11; ++id) {
        ChannelInfo* c = host.Add(id);
        host.Samples(c, waves[id - 1]);
        host.Results(c, waves[id - 1]);
        host.SetUnit(c, id <= 3 || id >= 7 ? "V" : "A");
        c->PhaseShift = 0.001 * id;
        c->VoltageBase = 230.0;
        c->CurrentBase = 10.0;
        c->MachineKind = 1.0;
        c->AngleReactanceYJJ = 1.1;
        c->EmfReactanceYJJ = 1.1;
        c->SaturationOn = 1.0;
        c->RatedSpeed = 3000.0;
        c->AngleOffset = 2.0;
        for (int k = 0; k < 20; ++k) c->KmTable[k] = 1.0 - 0.01 * k;
        ChannelInfo* s = host.Add(id + 36);
        s->SummaryValue = summaries[id - 1];
        s->SummaryAux[0] = 0.1 * id;
        s->SummaryAux[1] = -0.05 * id;
        s->SummaryAux[2] = 0.02 * id;
    }
    const float pu[] = {230, 10, 230, 0, 0, 0, 1.0f, 0, 0.12f, 0, 0, 0.02f, 0.3f};
    std::copy(std::begin(pu), std::end(pu), puParams.begin());
}

ChannelInfo* Recording::Target(std::initializer_list<uint8_t> sources, uint32_t calcKind) {
    std::lock_guard<std::mutex> lock(targetsMutex);
    ChannelInfo* t = host.Add(200, false);
    host.SetSources(t, sources.size() == 0 ? std::initializer_list<uint8_t>{1} : sources);
    host.Results(t, kSamples + kMargin);
    t->CalcKind = calcKind;
    t->Scale = 1.0;
    t->CalcCoefA = 2.0;
    t->CalcCoefB = -0.5;
    t->CalcCoefC = 3.0;
    t->ResultMax = -1e300;
    t->ResultMin = 1e300;
    return t;
}

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
