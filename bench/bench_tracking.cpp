// The trackers on a steady 50 Hz signal at 10 kS/s and 100 kS/s: one record of
// 1 M positions processed block by block, the tracking state zeroed first as
// the host does before a record.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ampora.h"
#include "bench.h"
#include "hostkit/crossing_queue_host.h"
#include "hostkit/host_channels.h"

namespace {

constexpr int kPositions = 1'000'000;
constexpr int kBlock = 10'000;
constexpr uint32_t kPulsesPerRev = 4;   // each rising crossing one pulse: 750 rev/min
constexpr uint32_t kQueueLength = 3 * kPulsesPerRev + 1;
constexpr double kPi = 3.14159265358979323846;

// One rig per sampling rate: a source with the signal as samples and results,
// and one target per tracker (the trackers share state slots).
// A 50 Hz sine of amplitude 100 over the first `live` positions, zero after.
std::vector<float> Sine50(double rate, int live = kPositions) {
    std::vector<float> s(kPositions, 0.0f);
    for (int i = 0; i < live; ++i) s[i] = static_cast<float>(100.0 * std::sin(2 * kPi * 50.0 * i / rate));
    return s;
}

struct Rig {
    HostChannels host;
    ChannelInfo* src;
    ChannelInfo* freq;
    ChannelInfo* freq2;
    ChannelInfo* rpm;
    ChannelInfo* pulses;
    ChannelInfo* extra;
    ChannelInfo* self;
    std::unique_ptr<HostCrossingQueue> queue;

    explicit Rig(double rate) {
        const std::vector<float> s = Sine50(rate);
        src = host.Add(1);
        host.Samples(src, s);
        host.Results(src, s);
        host.SetUnit(src, "V");
        src->FullScale = src->RatedValue = 100.0;
        src->Scale = 1.0;
        src->SampleMax = 100.0f;
        src->SampleMin = -100.0f;
        ChannelInfo** targets[] = {&freq, &freq2, &rpm, &pulses, &extra, &self};
        uint32_t id = 2;
        for (ChannelInfo** t : targets) {
            *t = host.Add(id++, false);
            host.Results(*t, kPositions);
            host.SetSources(*t, {1});
            host.SetUnit(*t, "V");
        }
        host.Samples(self, s);
        self->FullScale = self->RatedValue = 100.0;
        self->Scale = 1.0;
        self->DataKind = 0;
        pulses->PulsesPerRev = kPulsesPerRev;
        queue = std::make_unique<HostCrossingQueue>(pulses, kQueueLength);
    }
};

template <typename Call>
std::function<void()> Blocks(std::shared_ptr<Rig> g, ChannelInfo* t, Call call) {
    return [g, t, call] {
        ZeroTrackingState(t);
        for (int start = 0; start < kPositions; start += kBlock) call(g->host.List(), t, start);
    };
}

std::vector<BenchCase> Cases() {
    std::vector<BenchCase> cases;
    for (double perMs : {10.0, 100.0}) {
        auto g = std::make_shared<Rig>(perMs * 1000.0);
        const int per20 = static_cast<int>(perMs * 20.0);
        const std::string at = perMs == 10.0 ? "10 kS/s" : "100 kS/s";
        const std::string what = "50 Hz, 1 M positions in blocks of 10000, " + at;
        auto add = [&](const char* name, std::function<void()> run) {
            cases.push_back({std::string(name) + "@" + at.substr(0, at.find(' ')) + "k", what, kPositions, run});
        };
        add("GetFrequenceStatus", Blocks(g, g->freq, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetFrequenceStatus(l, t, s, kBlock, per20, perMs, kPositions, 0);
            }));
        add("GetFrequenceStatus2", Blocks(g, g->freq2, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetFrequenceStatus2(l, t, s, kBlock, perMs, kPositions, 0);
            }));
        add("GetRPM", Blocks(g, g->rpm, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetRPM(l, t, s, kBlock, per20, perMs, kPositions, 0);
            }));
        add("GetBSCLRPM", Blocks(g, g->pulses, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetBSCLRPM(l, t, s, kBlock, per20, perMs, kPositions, 0);
            }));
        add("GetPowerAvgExtra", Blocks(g, g->extra, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetPowerAvgExtra(l, t, s, kBlock, 0, perMs, 0);
            }));
        add("GetPowerAvgSelf", Blocks(g, g->self, [=](CPtrList* l, ChannelInfo* t, int s) {
                GetPowerAvgSelf(l, t, s, kBlock, 0, perMs, kPositions, kPositions, 0);
            }));
    }
    return cases;
}

AMPORA_BENCH("tracking", Cases);

// GetPowerAvgSumExtra over a record whose tail is flat: 50 Hz at 10 kS/s for
// the first 0.2 M positions, then zero (the scan of the flat tail finds no period).
std::vector<BenchCase> FlatTailCases() {
    auto host = std::make_shared<HostChannels>();
    const std::vector<float> x = Sine50(10'000.0, 200'000);
    ChannelInfo* src = host->Add(1);
    host->Samples(src, x);
    host->Results(src, x);
    ChannelInfo* t = host->Add(2, false);
    host->Results(t, kPositions);
    host->SetSources(t, {1, 1});
    return {{"GetPowerAvgSumExtra", "50 Hz then flat, 1 M positions at 10 kS/s", kPositions,
             [host, t] { GetPowerAvgSumExtra(host->List(), t, 0, kPositions, 0, 10.0, kPositions); }}};
}

AMPORA_BENCH("averages", FlatTailCases);

}  // namespace
