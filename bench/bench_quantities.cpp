// Per-position exports measured beside a plain copy of the bytes they move.
#include <cmath>
#include <cstring>
#include <string>
#include <memory>

#include "ampora.h"
#include "bench.h"
#include "frame/channel_info.h"
#include "hostkit/host_channels.h"

namespace {

constexpr int kPositions = 1'000'000;

std::vector<BenchCase> Cases() {
    auto host = std::make_shared<HostChannels>();
    ChannelInfo* s0 = host->Add(1);
    ChannelInfo* s1 = host->Add(2);
    ChannelInfo* t = host->Add(3, false);
    ChannelInfo* s2 = host->Add(4);
    host->Samples(s0, kPositions);
    host->Samples(s1, kPositions);
    host->Samples(s2, kPositions);
    host->Results(s0, kPositions);
    host->Results(s1, kPositions);
    host->Results(t, kPositions);
    host->SetSources(t, {1, 2, 4});
    t->ListIndex = 2;   // status: source 1 and 2 are the two records before position 2
    t->CalcCoefA = 2.0;
    t->CalcCoefB = 1.0;
    CPtrList* list = host->List();
    const float* from = SampleArray(s0);
    float* to = ResultArray(t);
    return {
        {"memcpy", "baseline: 4 bytes in, 4 out per position", kPositions,
         [host, from, to] { std::memcpy(to, from, kPositions * sizeof(float)); }},
        {"GetCalculatMethod1", "1 source, 1 M positions", kPositions,
         [host, list, t] { GetCalculatMethod1(list, t, 0, kPositions); }},
        {"GetCalculatMethod2", "2 sources, 1 M positions", kPositions,
         [host, list, t] { GetCalculatMethod2(list, t, 0, kPositions); }},
        {"GetAvgValue", "3 sources, 1 M positions", kPositions,
         [host, list, t] { GetAvgValue(list, t, 0, kPositions); }},
        {"GetSubtraction", "2 sources, 1 M positions", kPositions,
         [host, list, t] { GetSubtraction(list, t, 0, kPositions); }},
        {"GetCosStatus", "2 records before the target, 1 M positions", kPositions,
         [host, list, t] { GetCosStatus(list, t, 0, kPositions, kPositions); }},
    };
}

AMPORA_BENCH("quantities", Cases);

// Windowed magnitudes: full-length harmonic transforms and sequence components.
std::vector<BenchCase> WindowedCases() {
    constexpr int kSamples = 1 << 20;
    auto host = std::make_shared<HostChannels>();
    std::vector<float> x(kSamples);
    for (int i = 0; i < kSamples; ++i) x[i] = static_cast<float>(std::cos(i * 0.0314159) + 0.1 * std::cos(i * 0.157));
    for (uint32_t id = 1; id <= 3; ++id) {
        ChannelInfo* phase = host->Add(id);
        host->Samples(phase, x);
        host->Results(phase, x);
    }
    ChannelInfo* t = host->Add(9, false);
    host->Results(t, kSamples);
    host->SetSources(t, {1, 2, 3});
    t->HarmonicOrder = 5.0f;
    auto spectrum = std::make_shared<std::vector<float>>(2 * 8192);
    CPtrList* list = host->List();
    std::vector<BenchCase> cases;
    for (int fftSize : {1024, 8192})
        cases.push_back({"GetHarmonicValue@" + std::to_string(fftSize), "fftSize " + std::to_string(fftSize) + ", 1 M positions", kSamples,
                         [host, list, t, spectrum, fftSize] {
                             GetHarmonicValue(list, t, 0, kSamples, fftSize, spectrum->data(),
                                              spectrum->data() + 8192, -1, 0);
                         }});
    cases.push_back({"GetZHPart", "fftSize 1024, 1 M positions", kSamples,
                     [host, list, t] { GetZHPart(list, t, 0, kSamples, 1024); }});
    cases.push_back({"GetZXPartSum", "fftSize 1024, 1 M positions", kSamples,
                     [host, list, t] { GetZXPartSum(list, t, 0, kSamples, 1024); }});
    return cases;
}

AMPORA_BENCH("windowed magnitudes", WindowedCases);

}  // namespace
