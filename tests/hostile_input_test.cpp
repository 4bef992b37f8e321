// Hostile and broken input. Every export runs on a recording whose arrays each
// end at an inaccessible page (a read or write past an array faults), first on
// samples full of NaN, infinities, subnormals, ±1e30 and long runs of zeros,
// then with the broken calls a host can make: null, empty and short lists,
// unresolvable sources, null buffers, zero and negative counts, windows too
// short to hop, starts inside the first hop, harmonic orders past the spectrum,
// list positions with nothing before them.
//
// Each case runs in a forked child under alarm(): a fault or a hang ends only
// the child, and the parent reports it as that case's failure, so CI never
// blocks. The child compares every byte of every record and array (the new
// target's included) before and after the call and reports what changed
// outside what the export may write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <cstdio>
#include <string>

#include "ampora.h"
#include "frame/resolve.h"
#include "support/export_calls.h"
#include "support/integrity.h"

namespace {

constexpr unsigned kSeed = 20261207;
constexpr unsigned kSecondsPerCase = 30;   // far above any case's run time, even under emulation
constexpr int kEnd = Recording::kSamples;

// Runs body in a child process; returns what it reported plus how it ended.
std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe\n";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(kSecondsPerCase);
        std::string report = body().substr(0, 2000);
        if (!report.empty() && write(fds[1], report.data(), report.size()) < 0) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        out += WTERMSIG(status) == SIGALRM ? "did not return within the time limit\n"
                                           : "ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
    else if (WEXITSTATUS(status) != 0)
        out += "exited with status " + std::to_string(WEXITSTATUS(status)) + "\n";
    return out;
}

// The changed bytes as runs per block: "block 0x... bytes 1538-1545 1586-1593".
std::string Condensed(const std::string& violations) {
    std::istringstream in(violations);
    std::string out, line, block;
    long first = -2, last = -2;
    auto flush = [&] { if (first >= 0) out += " " + std::to_string(first) + "-" + std::to_string(last); };
    while (std::getline(in, line)) {
        char at[64] = {};
        long byte = 0;
        if (std::sscanf(line.c_str(), "byte %ld of a block at %63s", &byte, at) != 2) continue;
        if (at != block || byte != last + 1) {
            flush();
            if (at != block) out += std::string(out.empty() ? "" : "\n") + "block " + at + " bytes";
            block = at, first = byte;
        }
        last = byte;
    }
    flush();
    return out.empty() ? out : out + "\n";
}

// Runs of zeros, of special values, of ordinary 50 Hz waves and of huge noise.
void FillHostile(float* x, int n, std::mt19937& rng) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float specials[] = {nan, inf, -inf, 1e-40f, -3e-42f, 1e30f, -1e30f, 0.0f, -0.0f, 1.0f};
    std::uniform_real_distribution<float> amplitude(0.0f, 400.0f), noise(-1e30f, 1e30f);
    for (int i = 0; i < n;) {
        const int run = 1 + static_cast<int>(rng() % 900), kind = static_cast<int>(rng() % 5);
        const float a = amplitude(rng);
        for (int j = 0; j < run && i < n; ++j, ++i) {
            switch (kind) {
                case 0: x[i] = 0.0f; break;
                case 1: x[i] = specials[rng() % 10]; break;
                case 2: x[i] = noise(rng); break;
                default: x[i] = a * static_cast<float>(std::sin(0.0314159 * i)); break;
            }
        }
    }
}

// Hostile samples, result arrays and whole-record values in every listed record.
void Poison(Recording& r, std::mt19937& rng) {
    const double values[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e-310, 1e30, 0.0, 230.0, -1.0};
    for (const CNode* node = r.host.List()->head; node != nullptr; node = node->next) {
        auto* c = static_cast<ChannelInfo*>(node->data);
        if (c->SampleData != 0) FillHostile(SampleArray(c), kEnd, rng);
        if (c->ResultData != 0) FillHostile(ResultArray(c), kEnd, rng);
        if (rng() % 3 == 0) c->SummaryValue = values[rng() % 8];
        if (rng() % 3 == 0) c->SummaryAux[rng() % 3] = values[rng() % 8];
        if (rng() % 4 == 0) c->PhaseShift = values[rng() % 8];
    }
}

// The fields in which an export keeps its running state or its results.
void AllowState(ByteWatch& w, const ChannelInfo* c) {
    AMPORA_ALLOW_FIELD(w, c, ResultMax);
    AMPORA_ALLOW_FIELD(w, c, ResultMin);
    AMPORA_ALLOW_FIELD(w, c, SummaryValue);
    AMPORA_ALLOW_FIELD(w, c, SummaryAux);
    AMPORA_ALLOW_FIELD(w, c, TrackState);
    AMPORA_ALLOW_FIELD(w, c, RunningSum);
    AMPORA_ALLOW_FIELD(w, c, HeldValue);
    AMPORA_ALLOW_FIELD(w, c, CycleStart);
    AMPORA_ALLOW_FIELD(w, c, CycleWriteEnd);
    AMPORA_ALLOW_FIELD(w, c, PeriodFrequency);
    AMPORA_ALLOW_FIELD(w, c, PeriodEndIndex);
    AMPORA_ALLOW_FIELD(w, c, LastBlockEnd);
    AMPORA_ALLOW_FIELD(w, c, QuietCount);
    AMPORA_ALLOW_FIELD(w, c, CrossingQueue);
    AMPORA_ALLOW_FIELD(w, c, SampleMax);
    AMPORA_ALLOW_FIELD(w, c, SampleMin);
    AMPORA_ALLOW_FIELD(w, c, KeyLevel);
}

enum class May { Nothing, Target, Records };   // what a call may write

// Watches the whole host from the moment a target exists. The fields the call
// shapes set on a target after making it are inputs, not writes of the export.
struct Guard {
    std::unique_ptr<ByteWatch> watch;
    May may = May::Target;

    void Start(Recording& r, ChannelInfo* t) {
        watch = std::make_unique<ByteWatch>(r.host);
        AMPORA_ALLOW_FIELD(*watch, t, HarmonicOrder);
        AMPORA_ALLOW_FIELD(*watch, t, ListIndex);
        AMPORA_ALLOW_FIELD(*watch, t, UseSource);
        if (may == May::Nothing) return;
        watch->AllowFloats(ResultArray(t), 0, kEnd + Recording::kMargin);
        AllowState(*watch, t);
        if (may == May::Records)
            for (const CNode* n = r.host.List()->head; n != nullptr; n = n->next)
                AllowState(*watch, static_cast<const ChannelInfo*>(n->data));
    }
    std::string Report() const { return watch ? Condensed(watch->Violations()) : std::string(); }
};

// Exports that read records through the list or by id rather than through the
// target's sources, the one that reads only the target's own samples (a list
// without its sources is no broken call for it), and those that write records
// other than the target.
const std::set<std::string> kNoSources = {"GetCosStatus", "GetPSumStatus", "GetCosStatusSum", "GetPSumStatusSum",
                                          "GetEqYJJ",     "GetEqTJJ",      "GetKmByEq",       "GetPowerAvgSelf"};
const std::string kOwnSamples = "GetPowerAvgSelf";
bool WritesRecords(const ExportCall& call) {
    return call.writesSources || call.name.rfind("GetEq", 0) == 0 || call.name.rfind("GetGJ", 0) == 0 ||
           call.name.rfind("GetAngle", 0) == 0 || call.name == "GetJXtmp" || call.name == "GetKmByEq";
}

// The two block exports that the shared call table leaves out.
std::vector<ExportCall> CallsToRun() {
    std::vector<ExportCall> calls = AllExportCalls();
    calls.push_back({"GetBSCLRPM", true, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({11});
                         for (int s = 0; s + 1000 <= kEnd; s += 1000) GetBSCLRPM(r.List(), *t, s, 1000, 200, 10.0, kEnd, 1);
                         return 0.0;
                     }});
    calls.push_back({"GetPowerAvgSelf", false, [](Recording& r, ChannelInfo** t) {
                         *t = r.Target({1});
                         for (int s = 0; s + 1000 <= kEnd; s += 1000)
                             GetPowerAvgSelf(r.List(), *t, s, 1000, 0, 10.0, kEnd, kEnd, 0);
                         return 0.0;
                     }});
    return calls;
}

// One export under one kind of input, in a child.
std::string RunCase(const ExportCall& call, unsigned seed, May may, const std::function<void(Recording&)>& spoil) {
    return InChild([&] {
        std::mt19937 rng(seed);
        Recording r(true);
        Poison(r, rng);
        spoil(r);
        Guard guard;
        guard.may = may;
        r.onTarget = [&](ChannelInfo* t) {
            if (call.name == kOwnSamples) {   // it reads the target's own samples
                std::vector<float> own(kEnd);
                FillHostile(own.data(), kEnd, rng);
                r.host.Samples(t, own);
                t->CycleStart = 0.0;   // the host zeroes the state a recording starts from
            }
            if (call.name == "GetBSCLRPM") t->PulsesPerRev = 60.0;
            guard.Start(r, t);
        };
        ChannelInfo* target = nullptr;
        const double result = call.run(r, &target);
        std::string report = guard.Report();
        const double none = call.name == "GetKmByEq" ? 1.0 : 0.0;
        if (may == May::Nothing && result != none) report += "returned " + std::to_string(result) + "\n";
        return report;
    });
}

TEST(HostileInput, EveryExportSurvivesHostileSamples) {
    const auto calls = CallsToRun();
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ("", RunCase(calls[i], kSeed + i, WritesRecords(calls[i]) ? May::Records : May::Target,
                              [](Recording&) {}))
            << calls[i].name;
}

TEST(HostileInput, BrokenListsAndSourcesWriteNothing) {
    const auto calls = CallsToRun();
    CPtrList empty;
    ListInit(&empty);
    const std::function<void(Recording&)> spoils[] = {
        [](Recording& r) { r.list = nullptr; },
        [&](Recording& r) { r.list = &empty; },
        [](Recording& r) { r.unresolvableSources = true; },
    };
    const char* names[] = {"null list", "empty list", "unresolvable sources"};
    for (std::size_t i = 0; i < calls.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            if ((k == 2 && kNoSources.count(calls[i].name) != 0) || (k == 1 && calls[i].name == kOwnSamples)) continue;
            EXPECT_EQ("", RunCase(calls[i], kSeed + i, May::Nothing, spoils[k])) << calls[i].name << ", " << names[k];
        }
}

// A list holding only the first voltage and current: exports with more sources
// find some missing; the rest compute on what is there.
TEST(HostileInput, ShortListIsSurvived) {
    const auto calls = CallsToRun();
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ("", RunCase(calls[i], kSeed + i, WritesRecords(calls[i]) ? May::Records : May::Target, [](Recording& r) {
                      static CPtrList shortList;
                      ListInit(&shortList);
                      ListAddTail(&shortList, FindChannelById(r.host.List(), 1));
                      ListAddTail(&shortList, FindChannelById(r.host.List(), 4));
                      r.list = &shortList;
                  }))
            << calls[i].name;
}

}  // namespace
