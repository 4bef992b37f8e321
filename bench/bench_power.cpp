// Windowed FFT power over a synthetic six-channel recording of a 50 Hz
// three-phase system: every block export called in host blocks of 1000
// positions over the whole recording, every whole-record export once over it.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ampora.h"
#include "bench.h"
#include "hostkit/host_channels.h"

namespace {

constexpr int kHostBlock = 1000;
constexpr double kMains = 50.0;

struct Recording {
    const char* label;
    int rate;      // samples per second
    int seconds;
};
constexpr Recording kRecordings[] = {{"1 s at 10 kS/s", 10'000, 1}, {"10 s at 50 kS/s", 50'000, 10}};
constexpr int kFftSizes[] = {256, 1024, 4096};

// Six sources U12, I1, U23, I2, U31, I3 holding one signal as samples and as
// results; targets for two, four and six sources; the caller's work buffers.
struct PowerRecording {
    HostChannels host;
    int length = 0;
    ChannelInfo* pair = nullptr;
    ChannelInfo* twoPairs = nullptr;
    ChannelInfo* threePairs = nullptr;
    std::vector<float> buffers[4];

    explicit PowerRecording(const Recording& r) : length(r.rate * r.seconds) {
        const int period = static_cast<int>(r.rate / kMains);
        const double pi = std::acos(-1.0);
        for (int k = 0; k < 6; ++k) {
            const double amplitude = k % 2 == 0 ? 400.0 : 20.0;
            const double phase = -2.0 * pi * (k / 2) / 3.0 + (k % 2 == 0 ? pi / 6 : -0.4);
            std::vector<float> cycle(period);
            for (int i = 0; i < period; ++i)
                cycle[i] = static_cast<float>(amplitude * std::cos(2.0 * pi * i / period + phase));
            std::vector<float> x(length);
            for (int i = 0; i < length; ++i) x[i] = cycle[i % period];
            ChannelInfo* s = host.Add(static_cast<uint32_t>(k + 1));
            host.Samples(s, x);
            host.Results(s, x);
            s->PhaseShift = 0.01 * k;
        }
        pair = Target(100);
        host.SetSources(pair, {1, 2});
        twoPairs = Target(101);
        host.SetSources(twoPairs, {1, 2, 3, 6});
        threePairs = Target(102);
        host.SetSources(threePairs, {1, 2, 3, 4, 5, 6});
        for (auto& b : buffers) b.assign(64, 0.0f);
    }

    ChannelInfo* Target(uint32_t id) {
        ChannelInfo* t = host.Add(id, false);
        host.Results(t, length);
        t->CalcKind = 1;
        t->Scale = 1.0;
        return t;
    }
};

using PairBlock = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using PairRecord = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t, float*, float*, float*, float*);
using OwnBlock = void (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);
using OwnRecord = double (*)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t);

struct PairExport {
    const char* name;
    PairBlock block;
    PairRecord record;
};
const PairExport kPairExports[] = {
    {"GetP", GetP, nullptr},
    {"GetPAll", GetPAll, nullptr},
    {"Get3PBy1", Get3PBy1, nullptr},
    {"Get3PBy1All", Get3PBy1All, nullptr},
    {"Get3PBy1Line", Get3PBy1Line, nullptr},
    {"Get3PBy1LineAll", Get3PBy1LineAll, nullptr},
    {"Get3PBy1Sum", nullptr, Get3PBy1Sum},
    {"Get3PBy1LineSum", nullptr, Get3PBy1LineSum},
    {"Get3PBy1AllSum", nullptr, Get3PBy1AllSum},
    {"Get3PBy1LineAllSum", nullptr, Get3PBy1LineAllSum},
    {"GetPAllSum", nullptr, GetPAllSum},
};

struct OwnExport {
    const char* name;
    int sources;
    OwnBlock block;
    OwnRecord record;
};
const OwnExport kOwnExports[] = {
    {"GetThreeLineP", 6, GetThreeLineP, nullptr},
    {"GetThreeLinePAll", 6, GetThreeLinePAll, nullptr},
    {"GetThreeLinePSum", 6, nullptr, GetThreeLinePSum},
    {"GetThreeLinePAllSum", 6, nullptr, GetThreeLinePAllSum},
    {"GetThreeLineZX", 6, GetThreeLineZX, nullptr},
    {"GetThreeAngleZX", 6, GetThreeAngleZX, nullptr},
    {"GetThreeAngleP", 6, GetThreeAngleP, nullptr},
    {"GetThreeAnglePAll", 6, GetThreeAnglePAll, nullptr},
    {"GetThreeAnglePSum", 6, nullptr, GetThreeAnglePSum},
    {"GetThreeAnglePAllSum", 6, nullptr, GetThreeAnglePAllSum},
    {"GetTwoAngleP", 4, GetTwoAngleP, nullptr},
    {"GetTwoAnglePAll", 4, GetTwoAnglePAll, nullptr},
    {"GetTwoAnglePSum", 4, nullptr, GetTwoAnglePSum},
    {"GetTwoAnglePAllSum", 4, nullptr, GetTwoAnglePAllSum},
};

// Calls block(start, count) over the recording in host blocks.
template <typename Block>
void InHostBlocks(int length, Block&& block) {
    for (int start = 0; start < length; start += kHostBlock) block(start, std::min(kHostBlock, length - start));
}

std::vector<BenchCase> Cases() {
    std::vector<BenchCase> cases;
    for (const Recording& r : kRecordings) {
        auto rec = std::make_shared<PowerRecording>(r);
        CPtrList* list = rec->host.List();
        const int n = rec->length;
        for (int fft : kFftSizes) {
            const std::string parameters = "fftSize " + std::to_string(fft) + ", " + r.label;
            for (const PairExport& e : kPairExports) {
                float* b[4] = {rec->buffers[0].data(), rec->buffers[1].data(), rec->buffers[2].data(),
                               rec->buffers[3].data()};
                ChannelInfo* t = rec->pair;
                if (e.block != nullptr) {
                    cases.push_back({e.name, parameters, n, [rec, list, t, b, fft, n, f = e.block] {
                                         InHostBlocks(n, [&](int s, int c) { f(list, t, s, c, fft, b[0], b[1], b[2], b[3]); });
                                     }});
                } else {
                    cases.push_back({e.name, parameters, n, [rec, list, t, b, fft, n, f = e.record] {
                                         f(list, t, 0, n, fft, b[0], b[1], b[2], b[3]);
                                     }});
                }
            }
            for (const OwnExport& e : kOwnExports) {
                ChannelInfo* t = e.sources == 4 ? rec->twoPairs : rec->threePairs;
                if (e.block != nullptr) {
                    cases.push_back({e.name, parameters, n, [rec, list, t, fft, n, f = e.block] {
                                         InHostBlocks(n, [&](int s, int c) { f(list, t, s, c, fft); });
                                     }});
                } else {
                    cases.push_back({e.name, parameters, n, [rec, list, t, fft, n, f = e.record] {
                                         f(list, t, 0, n, fft);
                                     }});
                }
            }
        }
    }
    return cases;
}

AMPORA_BENCH("power", Cases);

}  // namespace
