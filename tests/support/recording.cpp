#include "support/recording.h"

#include <cmath>

#include "frame/resolve.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrequency = 50.0;

std::vector<float> Phase(double rms, double phase, double fifth) {
    std::vector<float> x(Recording::kSamples);
    for (int i = 0; i < Recording::kSamples; ++i) {
        const double w = 2 * kPi * kFrequency * i / Recording::kRate;
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

}  // namespace

Recording::Recording(bool guardedArrays, GuardSide side) : host(0x00, guardedArrays, side) {
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
        if (id <= 3 || (id >= 7 && id <= 9)) host.Secondary(c, waves[id - 1]);   // for the plain-formula paths
        host.SetUnit(c, id <= 3 || id >= 7 ? "V" : "A");
        c->PhaseShift = 0.001 * id;
        c->SummaryValue = summaries[id - 1];   // for the exports that read their sources' own
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
        host.Results(s, waves[id - 1]);
        s->SummaryValue = summaries[id - 1];
        s->SummaryAux[0] = 0.1 * id;
        s->SummaryAux[1] = -0.05 * id;
        s->SummaryAux[2] = 0.02 * id;
    }
    const float pu[] = {230, 10, 230, 0, 0, 0, 1.0f, 0, 0.12f, 0, 0, 0.02f, 0.3f};
    puParams = host.Memory().Floats(std::size(pu), guardedArrays);
    std::copy(std::begin(pu), std::end(pu), puParams);
}

ChannelInfo* Recording::Target(const std::vector<uint8_t>& sources, uint32_t calcKind,
                               const std::function<void(ChannelInfo*)>& prepare, bool ownSamples) {
    std::lock_guard<std::mutex> lock(targetsMutex);
    ChannelInfo* t = host.Add(200, false);
    std::vector<uint8_t> ids = sources.empty() ? std::vector<uint8_t>{1} : sources;
    if (unresolvableSources) ids.assign(ids.size(), 99);
    host.SetSources(t, ids, sourcesByIndex);
    host.Results(t, kSamples + kMargin);
    const float* own = SampleArray(FindChannelById(host.List(), 1));
    if (ownSamples) host.Samples(t, std::vector<float>(own, own + kSamples));
    t->CalcKind = calcKind;
    t->Scale = 1.0;
    t->CalcCoefA = 2.0;
    t->CalcCoefB = -0.5;
    t->CalcCoefC = 3.0;
    t->ResultMax = -1e300;
    t->ResultMin = 1e300;
    if (prepare) prepare(t);
    if (onTarget) onTarget(t);
    return t;
}
