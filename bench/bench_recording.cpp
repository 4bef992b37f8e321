// The synchronous-machine summaries, the angle to the line, and the power
// averages, on the fixed generator recording the tests use (8192 positions at
// 10 kS/s; see tests/support/recording.h). Targets are made once, outside
// the timed runs; block exports run in host blocks of 1000 positions.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ampora.h"
#include "bench.h"
#include "frame/resolve.h"
#include "hostkit/host_channels.h"
#include "support/recording.h"

namespace {

constexpr int kEnd = Recording::kSamples;
constexpr int kFftSize = 256;
constexpr double kPerMs = 10.0;
const std::string kWhole = "fftSize 256, 8192 positions at 10 kS/s";

struct Rig {
    Recording rec;
    std::vector<float> b[4] = {std::vector<float>(kEnd), std::vector<float>(kEnd), std::vector<float>(kEnd),
                               std::vector<float>(kEnd)};
};

std::vector<BenchCase> Cases() {
    auto g = std::make_shared<Rig>();
    Recording& r = g->rec;
    CPtrList* l = r.List();
    float* b0 = g->b[0].data();
    float* b1 = g->b[1].data();
    float* b2 = g->b[2].data();
    float* b3 = g->b[3].data();
    float* pu = r.puParams;
    std::vector<BenchCase> cases;
    auto whole = [&](const char* name, const std::string& parameters, long long positions, std::function<void()> f) {
        cases.push_back({name, parameters, positions, [g, f] { f(); }});
    };
    ChannelInfo* ut = r.Target({1, 4});
    whole("GetUTSum", kWhole, kEnd, [=] { GetUTSum(l, ut, 0, kEnd, kFftSize, pu); });
    ChannelInfo* ux2 = r.Target({1, 4, 2});
    // One window at the start position: a single value, timed per call.
    whole("GetUX2Sum", "one window of 256 at 400, one call", 1,
          [=] { GetUX2Sum(l, ux2, 400, 0, kFftSize, pu); });
    ChannelInfo* ux = r.Target({1, 4, 2});
    whole("GetUXSum", "whole-record values, one call", 1, [=] { GetUXSum(l, ux, 0, 0, 0, pu); });
    ChannelInfo* u = FindChannelById(l, 1);
    ChannelInfo* i = FindChannelById(l, 4);
    whole("GetEqTJJ", "one call", 1, [=] { GetEqTJJ(u, i, 230.0, 10.0, 0.01, 1.1, 0.5f); });
    ChannelInfo* gj4 = r.Target({1, 4, 2, 5, 6});
    // The summaries' angle, its mean repeated count / step times: timed per call.
    whole("GetGJ4Sum", "count 8192, step 100, one call", 1, [=] { GetGJ4Sum(l, gj4, 0, kEnd, 100); });
    ChannelInfo* gj = r.Target({1, 10, 11});
    whole("GetGJSum", "key pulse and wheel, 8192 positions at 10 kS/s", kEnd,
          [=] { GetGJSum(l, gj, 0, kEnd, kPerMs, kEnd); });
    ChannelInfo* toLine = r.Target({1, 2, 3});
    whole("GetAngleToLine", kWhole + ", blocks of 1000", kEnd, [=] {
        for (int s = 0; s < kEnd; s += Recording::kBlock)
            GetAngleToLine(l, toLine, s, std::min(Recording::kBlock, kEnd - s), 1, kFftSize, b0, b1);
    });
    ChannelInfo* avg = r.Target({1});
    whole("GetPowerAvg", kWhole + ", blocks of 1000", kEnd, [=] {
        ZeroTrackingState(avg);
        for (int s = 0; s < kEnd; s += Recording::kBlock)
            GetPowerAvg(l, avg, s, std::min(Recording::kBlock, kEnd - s), kFftSize, b0, b1, kEnd, kEnd);
    });
    ChannelInfo* avgSum = r.Target({1});
    whole("GetPowerAvgSum", kWhole, kEnd, [=] { GetPowerAvgSum(l, avgSum, 0, kEnd, kFftSize, b0, b1); });
    ChannelInfo* pSum = r.Target({1, 4});
    whole("GetPSum", kWhole, kEnd, [=] { GetPSum(l, pSum, 0, kEnd, kFftSize, b0, b1, b2, b3); });
    return cases;
}

AMPORA_BENCH("recording", Cases);

}  // namespace
