// Per-sample power exports: the space-vector paths with their moving average,
// the plain product formulas, and the record means, on a balanced 50 Hz set.
#include <cmath>
#include <memory>

#include "ampora.h"
#include "bench.h"
#include "hostkit/host_channels.h"

namespace {

constexpr int kPositions = 1'000'000;
constexpr int kPerPeriod = 200;     // 10 kS/s at 50 Hz
constexpr int kWindowSize = 1200;   // W 200 (line power), 400 (delta power), 600 (reactive current)

struct Setup {
    std::shared_ptr<HostChannels> host = std::make_shared<HostChannels>();
    ChannelInfo* vectors;  // target reading six sources through SampleData
    ChannelInfo* plain;    // target whose source 0 selects the plain formulas
    ChannelInfo* four;     // four-source target on the vector path
    ChannelInfo* fourPlain;
};

Setup Build() {
    Setup s;
    HostChannels& h = *s.host;
    const double pi = 3.14159265358979323846;
    ChannelInfo* first = nullptr;
    for (uint32_t id = 1; id <= 6; ++id) {
        ChannelInfo* c = h.Add(id);
        if (id == 1) first = c;
        const bool voltage = id % 2 == 1;
        const double shift = -2 * pi / 3 * ((id - 1) / 2) - (voltage ? 0.0 : 0.5);
        std::vector<float> x(kPositions);
        for (int k = 0; k < kPositions; ++k)
            x[k] = static_cast<float>((voltage ? 325.0 : 14.0) * std::cos(2 * pi * k / kPerPeriod + shift));
        h.Samples(c, x);
        if (voltage) h.Secondary(c, x);
        c->DataKind = 0;
    }
    // Source 0 of the plain targets is a copy of channel 1 with DataKind 2.
    ChannelInfo* plainU = h.Add(7);
    plainU->SampleData = first->SampleData;
    plainU->SecondaryData = first->SecondaryData;
    plainU->DataKind = 2;
    auto target = [&](std::initializer_list<uint8_t> ids) {
        ChannelInfo* t = h.Add(100, false);
        h.Results(t, kPositions);
        h.SetSources(t, ids);
        t->CalcKind = 1;
        t->Scale = 1.0;
        t->RunningSum = 0.0;
        return t;
    };
    s.vectors = target({1, 2, 3, 4, 5, 6});
    s.plain = target({7, 2, 3, 4, 5, 6});
    s.four = target({1, 2, 3, 6});
    s.fourPlain = target({7, 2, 3, 6});
    return s;
}

std::vector<BenchCase> Cases() {
    const Setup s = Build();
    CPtrList* list = s.host->List();
    auto block = [&](const char* name, const char* what, void (*call)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t),
                     ChannelInfo* t) {
        auto host = s.host;
        return BenchCase{name, what, kPositions, [host, list, call, t] { call(list, t, 0, kPositions, kWindowSize); }};
    };
    auto whole = [&](const char* name, double (*call)(CPtrList*, ChannelInfo*, int32_t, int32_t), ChannelInfo* t) {
        auto host = s.host;
        return BenchCase{name, "record mean, 1 M positions", kPositions, [host, list, call, t] {
                             volatile double keep = call(list, t, 0, kPositions);
                             (void)keep;
                         }};
    };
    return {
        block("GetThreeLinePEx", "space vectors, W 200, 1 M positions", GetThreeLinePEx, s.vectors),
        block("GetThreeLinePEx/plain", "plain formula, 1 M positions", GetThreeLinePEx, s.plain),
        block("GetThreeLineQIEx", "W 600, 1 M positions", GetThreeLineQIEx, s.vectors),
        block("GetTwoLineQIEx", "four sources, W 600, 1 M positions", GetTwoLineQIEx, s.four),
        block("GetThreeAnglePEx", "space vectors, W 400, 1 M positions", GetThreeAnglePEx, s.vectors),
        block("GetThreeAnglePEx/plain", "plain formula, 1 M positions", GetThreeAnglePEx, s.plain),
        block("GetTwoAnglePEx", "space vectors, W 400, 1 M positions", GetTwoAnglePEx, s.four),
        block("GetTwoAnglePEx/plain", "plain formula, 1 M positions", GetTwoAnglePEx, s.fourPlain),
        block("GetThreeAngleQIEx", "W 600, 1 M positions", GetThreeAngleQIEx, s.vectors),
        whole("GetThreeLinePExSum", GetThreeLinePExSum, s.vectors),
        whole("GetThreeAnglePExSum", GetThreeAnglePExSum, s.vectors),
        whole("GetTwoAnglePExSum", GetTwoAnglePExSum, s.four),
    };
}

AMPORA_BENCH("instantaneous", Cases);

}  // namespace
