// ampora-compare: the library's side of bench/compare_numpy.py. It loads six
// recorded channels (U12, I1, U23, I2, U31, I3) from a file of float32 values,
// builds the records and the list as a host does, and calls one export over
// the whole recording in host blocks. Only the export calls are timed; Python
// never runs inside the timed loop.
//
//   ampora-compare --signals FILE --rate R [--phase-shift p0,..,p5] [--block B] [--positions N]
//       serves commands on standard input, one per line, answers on standard output:
//         time RUNS LABEL         RUNS passes over the recording; prints the seconds they took
//         write FILL PATH LABEL   one pass on a target prefilled with FILL (a number or nan);
//                                 writes its ResultData [0, N) as float32 to PATH; prints "ok"
//   ampora-compare ... --list          each case label and its positions, tab-separated
//   ampora-compare ... --once LABEL    a warm-up and one pass of a case, for callgrind
//                                      (bench/callgrind.sh counts RunCaseOnce only)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ampora.h"
#include "hostkit/host_channels.h"

namespace {

constexpr int kChannels = 6;              // U12, I1, U23, I2, U31, I3
constexpr int kDefaultHostBlock = 8192;   // a multiple of every hop below (fftSize/4 up to 2048)
constexpr int kResultSlack = 8192;        // leading ramps write up to a hop past the block end
constexpr double kMainsHz = 50.0;
constexpr int kWindowSizeW200 = 1200;     // GetThreeLinePEx averages windowSize/6 = 200 samples
constexpr double kFrequencyFullScale = 1000.0;   // presence threshold 1 % of it: 10 V
constexpr int kSpectrumLength = 8192;     // the caller's work buffers: the longest window
constexpr int kReadBoundStride = 16;      // GetThreeLineP at fftSize 1024 reads every 16th sample

struct Options {
    std::string signals;
    double rate = 0.0;
    std::vector<double> phaseShift = std::vector<double>(kChannels, 0.0);
    int block = kDefaultHostBlock;
    int positions = 0;   // 0: the whole recording
    std::string mode = "serve";
    std::string label;
};

std::vector<double> ParseList(const std::string& text) {
    std::vector<double> values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) values.push_back(std::stod(item));
    return values;
}

[[noreturn]] void Usage(const std::string& why) {
    std::fprintf(stderr, "ampora-compare: %s\n", why.c_str());
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        auto value = [&]() -> std::string {
            if (k + 1 >= argc) Usage(a + " needs a value");
            return argv[++k];
        };
        if (a == "--signals") o.signals = value();
        else if (a == "--rate") o.rate = std::stod(value());
        else if (a == "--phase-shift") o.phaseShift = ParseList(value());
        else if (a == "--block") o.block = std::stoi(value());
        else if (a == "--positions") o.positions = std::stoi(value());
        else if (a == "--list") o.mode = "list";
        else if (a == "--once") { o.mode = "once"; o.label = value(); }
        else Usage("unknown argument " + a);
    }
    if (o.signals.empty() || o.rate <= 0.0) Usage("--signals FILE and --rate R are needed");
    if (o.phaseShift.size() != kChannels) Usage("--phase-shift takes six values");
    return o;
}

// The file holds the six channels one after the other, N float32 values each.
std::vector<std::vector<float>> ReadSignals(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) Usage("cannot read " + path);
    const std::streamoff bytes = in.tellg();
    const std::size_t n = static_cast<std::size_t>(bytes) / (kChannels * sizeof(float));
    in.seekg(0);
    std::vector<std::vector<float>> channels(kChannels, std::vector<float>(n));
    for (auto& c : channels) in.read(reinterpret_cast<char*>(c.data()), static_cast<std::streamsize>(n * sizeof(float)));
    return channels;
}

// The host: six source records (ChannelId 1 to 6) and one target per export family.
struct Rig {
    HostChannels host;
    int positions = 0;
    int block = 0;
    double rate = 0.0;
    const float* samples[kChannels] = {};
    ChannelInfo* threeLine = nullptr;   // GetThreeLineP, GetThreeLinePAll, GetThreeLinePEx
    ChannelInfo* pair = nullptr;        // GetP: U12 with I1
    ChannelInfo* single = nullptr;      // GetHarmonicValue, GetPowerAvg, GetFrequenceStatus: U12
    ChannelInfo* currents = nullptr;    // GetZHPart: I1, I2, I3
    std::vector<float> specRe = std::vector<float>(kSpectrumLength);
    std::vector<float> specIm = std::vector<float>(kSpectrumLength);
    std::vector<float> spec1Re = std::vector<float>(kSpectrumLength);
    std::vector<float> spec1Im = std::vector<float>(kSpectrumLength);
    std::vector<float> readBoundOut;

    Rig(const Options& o, const std::vector<std::vector<float>>& signals) : block(o.block), rate(o.rate) {
        const int recorded = static_cast<int>(signals[0].size());
        positions = o.positions > 0 && o.positions < recorded ? o.positions : recorded;
        ChannelInfo* sources[kChannels];
        for (int k = 0; k < kChannels; ++k) {
            sources[k] = host.Add(static_cast<uint32_t>(k + 1));
            samples[k] = host.Samples(sources[k], signals[k]);
            sources[k]->PhaseShift = o.phaseShift[k];
            sources[k]->DataKind = 0;   // the space-vector path of GetThreeLinePEx
        }
        ChannelInfo* u12 = sources[0];
        float highest = samples[0][0];
        float lowest = samples[0][0];
        for (int i = 0; i < recorded; ++i) {
            highest = std::max(highest, samples[0][i]);
            lowest = std::min(lowest, samples[0][i]);
        }
        // The frequency tracker's level lies halfway between these; the host keeps
        // them up to date, so the export is called without refreshing them.
        u12->SampleMax = highest;
        u12->SampleMin = lowest;
        u12->FullScale = kFrequencyFullScale;
        threeLine = Target(100, {1, 2, 3, 4, 5, 6});
        pair = Target(101, {1, 2});
        single = Target(102, {1});
        currents = Target(103, {2, 4, 6});
        readBoundOut.assign(static_cast<std::size_t>(recorded), 0.0f);
    }

    ChannelInfo* Target(uint32_t id, const std::vector<uint8_t>& sources) {
        ChannelInfo* t = host.Add(id, false);
        host.Results(t, static_cast<std::size_t>(positions) + kResultSlack);
        host.SetSources(t, sources);
        t->CalcKind = 1;   // active power
        t->Scale = 1.0;
        return t;
    }

    // Calls block(start, count) over the recording in host blocks.
    template <typename Block>
    void InHostBlocks(Block&& call) const {
        for (int start = 0; start < positions; start += block) call(start, std::min(block, positions - start));
    }
};

struct Case {
    std::string label;
    ChannelInfo* Rig::*target;   // null for the reference loop
    std::function<void(Rig&)> pass;
};

void ThreeLinePass(Rig& r, void (*exportCall)(CPtrList*, ChannelInfo*, int32_t, int32_t, int32_t), int fftSize) {
    r.InHostBlocks([&](int s, int c) { exportCall(r.host.List(), r.threeLine, s, c, fftSize); });
}

// The physical bound of GetThreeLineP at fftSize 1024: its 64-point subsample
// at a stride of 16 floats touches every cache line of all six sources, so a
// pass must read 24 bytes and write 4 per position. This loop does only that:
// one sample of each source per cache line, its sum written over the 16
// positions of the line.
__attribute__((noinline)) void ReadBoundPass(Rig& r) {
    const float* const* s = r.samples;
    float* out = r.readBoundOut.data();
    const int lines = r.positions / kReadBoundStride;
    for (int m = 0; m < lines; ++m) {
        const int i = m * kReadBoundStride;
        const float v = ((s[0][i] + s[1][i]) + (s[2][i] + s[3][i])) + (s[4][i] + s[5][i]);
        for (int k = 0; k < kReadBoundStride; ++k) out[i + k] = v;
    }
}

std::vector<Case> Cases(const Rig& rig) {
    std::vector<Case> cases;
    for (int fft : {1024, 256})
        cases.push_back({"GetThreeLineP fftSize " + std::to_string(fft), &Rig::threeLine,
                         [fft](Rig& r) { ThreeLinePass(r, GetThreeLineP, fft); }});
    for (int fft : {1024, 256, 64})
        cases.push_back({"GetThreeLinePAll fftSize " + std::to_string(fft), &Rig::threeLine,
                         [fft](Rig& r) { ThreeLinePass(r, GetThreeLinePAll, fft); }});
    cases.push_back({"GetThreeLinePEx W 200", &Rig::threeLine, [](Rig& r) {
                         // RunningSum restarts at position 0 by itself.
                         r.InHostBlocks([&](int s, int c) { GetThreeLinePEx(r.host.List(), r.threeLine, s, c, kWindowSizeW200); });
                     }});
    cases.push_back({"GetFrequenceStatus", &Rig::single, [](Rig& r) {
                         const int per20ms = static_cast<int>(r.rate / kMainsHz);
                         const double perMs = r.rate / 1000.0;
                         ZeroTrackingState(r.single);   // as the host does before a record
                         r.InHostBlocks([&](int s, int c) {
                             GetFrequenceStatus(r.host.List(), r.single, s, c, per20ms, perMs, r.positions, 0);
                         });
                     }});
    for (int fft : {1024, 8192}) {
        // The order of the bin nearest 50 Hz: 1 at fftSize 1024, 8 at 8192 (at 50 kS/s).
        const int order = static_cast<int>(std::lround(kMainsHz * fft / rig.rate));
        cases.push_back({"GetHarmonicValue fftSize " + std::to_string(fft) + " order " + std::to_string(order),
                         &Rig::single, [fft, order](Rig& r) {
                             r.single->HarmonicOrder = static_cast<float>(order);
                             r.InHostBlocks([&](int s, int c) {
                                 GetHarmonicValue(r.host.List(), r.single, s, c, fft, r.specRe.data(), r.specIm.data(),
                                                  r.positions, r.positions);
                             });
                         }});
    }
    cases.push_back({"GetP fftSize 1024", &Rig::pair, [](Rig& r) {
                         r.InHostBlocks([&](int s, int c) {
                             GetP(r.host.List(), r.pair, s, c, 1024, r.specRe.data(), r.specIm.data(), r.spec1Re.data(),
                                  r.spec1Im.data());
                         });
                     }});
    cases.push_back({"GetZHPart fftSize 1024", &Rig::currents, [](Rig& r) {
                         r.InHostBlocks([&](int s, int c) { GetZHPart(r.host.List(), r.currents, s, c, 1024); });
                     }});
    cases.push_back({"GetPowerAvg fftSize 1024", &Rig::single, [](Rig& r) {
                         r.InHostBlocks([&](int s, int c) {
                             GetPowerAvg(r.host.List(), r.single, s, c, 1024, r.specRe.data(), r.specIm.data(),
                                         r.positions, r.positions);
                         });
                     }});
    cases.push_back({"read bound: 24 bytes in, 4 out per position", nullptr, ReadBoundPass});
    return cases;
}

const Case* Find(const std::vector<Case>& cases, const std::string& label) {
    for (const Case& c : cases)
        if (c.label == label) return &c;
    return nullptr;
}

double TimePasses(Rig& rig, const Case& c, int runs) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < runs; ++k) c.pass(rig);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One pass on a target whose ResultData starts as fill everywhere, so the
// positions a pass leaves alone are visible; the result is written as float32.
bool WriteCurve(Rig& rig, const Case& c, float fill, const std::string& path) {
    if (c.target == nullptr) return false;
    ChannelInfo* t = rig.*(c.target);
    float* result = reinterpret_cast<float*>(static_cast<std::uintptr_t>(t->ResultData));
    std::fill(result, result + rig.positions + kResultSlack, fill);
    c.pass(rig);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(result), static_cast<std::streamsize>(rig.positions * sizeof(float)));
    return static_cast<bool>(out);
}

// Lines "time RUNS LABEL" and "write FILL PATH LABEL" until standard input ends.
int Serve(Rig& rig, const std::vector<Case>& cases) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        std::string first;
        std::string second;
        if (command == "time") in >> first;
        else if (command == "write") in >> first >> second;
        std::string label;
        std::getline(in >> std::ws, label);
        const Case* c = Find(cases, label);
        if (c == nullptr) {
            std::printf("error no case '%s'\n", label.c_str());
        } else if (command == "time") {
            std::printf("%.9f\n", TimePasses(rig, *c, std::stoi(first)));
        } else if (command == "write") {
            std::printf(WriteCurve(rig, *c, std::stof(first), second) ? "ok\n" : "error cannot write\n");
        } else {
            std::printf("error unknown command '%s'\n", command.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

// One pass of one case: callgrind counts the instructions inside this call only.
__attribute__((noinline)) void RunCaseOnce(Rig& rig, const Case& c) { c.pass(rig); }

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    Rig rig(options, ReadSignals(options.signals));
    const std::vector<Case> cases = Cases(rig);
    if (options.mode == "list") {
        for (const Case& c : cases) std::printf("%s\t%d\n", c.label.c_str(), rig.positions);
        return 0;
    }
    if (options.mode == "once") {
        const Case* c = Find(cases, options.label);
        if (c == nullptr) Usage("no case '" + options.label + "'");
        c->pass(rig);   // warm-up: tables built on first use stay out of the count
        RunCaseOnce(rig, *c);
        std::printf("%d positions\n", rig.positions);
        return 0;
    }
    return Serve(rig, cases);
}
