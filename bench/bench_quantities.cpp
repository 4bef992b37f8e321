// Per-position exports measured beside a plain copy of the bytes they move.
#include <cstring>
#include <memory>

#include "ampora.h"
#include "bench.h"
#include "host/host_channels.h"

namespace {

constexpr int kPositions = 1'000'000;

std::vector<BenchCase> Cases() {
    auto host = std::make_shared<HostChannels>();
    ChannelInfo* s0 = host->Add(1);
    ChannelInfo* s1 = host->Add(2);
    ChannelInfo* t = host->Add(3, false);
    host->Samples(s0, kPositions);
    host->Samples(s1, kPositions);
    host->Results(t, kPositions);
    host->SetSources(t, {1, 2});
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
    };
}

AMPORA_BENCH("quantities", Cases);

}  // namespace
