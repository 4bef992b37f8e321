// Hostile and broken input. Every export runs on a recording whose arrays each
// end at an inaccessible page (a read or write past an array faults; a second
// pass puts the page before each array instead), first on
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

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
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

// The first changed byte and how many more there are.
std::string Condensed(const std::string& violations) {
    if (violations.empty()) return violations;
    const std::size_t lines = static_cast<std::size_t>(std::count(violations.begin(), violations.end(), '\n'));
    return violations.substr(0, violations.find('\n')) + " (" + std::to_string(lines) + " bytes changed)\n";
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
#define FIELD(F) std::pair<std::size_t, std::size_t>(offsetof(ChannelInfo, F), sizeof(ChannelInfo::F))
const std::pair<std::size_t, std::size_t> kStateFields[] = {
    FIELD(ResultMax),      FIELD(ResultMin),     FIELD(SummaryValue),   FIELD(SummaryAux),     FIELD(TrackState),
    FIELD(RunningSum),     FIELD(HeldValue),     FIELD(CycleStart),     FIELD(CycleWriteEnd),  FIELD(PeriodFrequency),
    FIELD(PeriodEndIndex), FIELD(LastBlockEnd),  FIELD(QuietCount),     FIELD(CrossingQueue),  FIELD(SampleMax),
    FIELD(SampleMin),      FIELD(KeyLevel)};
void AllowState(ByteWatch& w, const ChannelInfo* c) {
    for (const auto& [offset, size] : kStateFields) w.AllowField(c, offset, size);
}

enum class May { Nothing, Target, Records };   // what a call may write

// Watches the whole host from the moment a target exists. The fields the call
// shapes set on a target after making it are inputs, not writes of the export.
struct Guard {
    std::unique_ptr<ByteWatch> watch;
    May may = May::Target;

    void Start(Recording& r, ChannelInfo* t) {
        watch = std::make_unique<ByteWatch>(r.host);
        watch->Watch(r.puParams, 13 * sizeof(float));   // read, never written
        AMPORA_ALLOW_FIELD(*watch, t, HarmonicOrder);
        AMPORA_ALLOW_FIELD(*watch, t, ListIndex);
        AMPORA_ALLOW_FIELD(*watch, t, UseSource);
        AMPORA_ALLOW_FIELD(*watch, t, PulsesPerRev);
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
const std::set<std::string> kWritesSummaries = {"GetEqYJJ", "GetEqTJJ", "GetKmByEq", "GetGJ3Sum", "GetGJ4Sum",
                                                 "GetGJ6Sum", "GetJXtmp", "GetAngleTSum", "GetAngleXSum", "GetAngleX2Sum"};
bool WritesRecords(const ExportCall& call) { return call.writesSources || kWritesSummaries.count(call.name) != 0; }

// One export under one kind of input, in a child.
std::string RunCase(const ExportCall& call, unsigned seed, May may, GuardSide side,
                    const std::function<void(Recording&)>& spoil) {
    return InChild([&] {
        std::mt19937 rng(seed);
        Recording r(true, side);
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

// Hostile samples, and a list holding only the first voltage and current
// (exports with more sources find some missing, the rest compute on what is
// there), may write what the export writes; a null or empty list and sources
// the list lacks write nothing and return no value.
TEST(HostileInput, EveryExportOnHostileSamplesAndBrokenLists) {
    static CPtrList empty, shortList;
    ListInit(&empty);
    ListInit(&shortList);
    struct ListCase {
        const char* name;
        bool broken;
        bool ofSources;   // breaks only the target's sources
        std::function<void(Recording&)> spoil;
        GuardSide side = GuardSide::AfterEnd;
    };
    const ListCase cases[] = {
        {"hostile samples", false, false, [](Recording&) {}},
        {"hostile samples, guard pages before the arrays", false, false, [](Recording&) {}, GuardSide::BeforeStart},
        {"short list", false, false, [](Recording& r) {
             ListFree(&shortList);
             ListInit(&shortList);
             ListAddTail(&shortList, FindChannelById(r.host.List(), 1));
             ListAddTail(&shortList, FindChannelById(r.host.List(), 4));
             r.list = &shortList;
         }},
        {"null list", true, false, [](Recording& r) { r.list = nullptr; }},
        {"empty list", true, false, [](Recording& r) { r.list = &empty; }},
        {"unresolvable sources", true, true, [](Recording& r) { r.unresolvableSources = true; }},
        {"sources past the list's end", true, true, [](Recording& r) { r.unresolvableSources = r.sourcesByIndex = true; }},
    };
    const auto& calls = AllExportCalls();
    for (std::size_t i = 0; i < calls.size(); ++i)
        for (const ListCase& c : cases) {
            const std::string& name = calls[i].name;
            if ((c.ofSources && kNoSources.count(name) != 0) || (std::string(c.name) == "empty list" && name == kOwnSamples))
                continue;
            const May may = c.broken ? May::Nothing : WritesRecords(calls[i]) ? May::Records : May::Target;
            EXPECT_EQ("", RunCase(calls[i], kSeed + static_cast<unsigned>(i), may, c.side, c.spoil)) << name << ", " << c.name;
        }
}

// Broken arguments. Where the call leaves the outcome to the library (a window
// too short to hop, a start inside the first hop, a harmonic order past the
// spectrum, a moving average of no samples) it may write its target but must
// return and stay inside its arrays; a null buffer, a count of zero or less
// and a list position with nothing before it write nothing at all.
struct Broken {
    const char* name;
    May may;
    std::vector<uint8_t> ids;
    uint32_t kind;
    double (*call)(CPtrList*, ChannelInfo*, float* const* b, float* pu);
};
#define BLOCK(name, may, ids, kind, ...) \
    Broken{name, may, ids, kind, [](CPtrList* l, ChannelInfo* t, float* const* b, float* pu) { \
               (void)b, (void)pu, (void)l, (void)t; __VA_ARGS__; return 0.0; }}
#define WHOLE(name, may, ids, kind, ...) \
    Broken{name, may, ids, kind, [](CPtrList* l, ChannelInfo* t, float* const* b, float* pu) { \
               (void)b, (void)pu; return static_cast<double>(__VA_ARGS__); }}

using Ids = std::vector<uint8_t>;
const Ids kVI = {1, 4}, kLine = {7, 4, 8, 5, 9, 6}, kPhase = {1, 4, 2, 5, 3, 6}, kTwo = {7, 4, 8, 6, 9, 6};
const Ids kPhases = {1, 2, 3}, kCurrents = {4, 5, 6};
constexpr May kMay = May::Target, kNone = May::Nothing;

const Broken kBroken[] = {
    // Windows of 2: a hop of 0 would never advance.
    BLOCK("GetP fft 2", kMay, kVI, 1, GetP(l, t, 0, 1000, 2, b[0], b[1], b[2], b[3])),
    BLOCK("GetThreeLineP fft 2", kMay, kLine, 1, GetThreeLineP(l, t, 0, 1000, 2)),
    BLOCK("GetThreeLinePAll fft 2", kMay, kLine, 2, GetThreeLinePAll(l, t, 0, 1000, 2)),
    WHOLE("GetThreeLinePSum fft 2", kMay, kLine, 1, GetThreeLinePSum(l, t, 0, kEnd, 2)),
    BLOCK("GetThreeAngleZX fft 2", kMay, kPhase, 2, GetThreeAngleZX(l, t, 0, 1000, 2)),
    BLOCK("GetZHPart fft 2", kMay, kCurrents, 1, GetZHPart(l, t, 0, 1000, 2)),
    WHOLE("GetFXPartSum fft 2", kMay, kCurrents, 1, GetFXPartSum(l, t, 0, kEnd, 2)),
    BLOCK("GetHarmonicValue fft 2", kMay, (Ids{4}), 1, GetHarmonicValue(l, t, 0, 1000, 2, b[0], b[1], kEnd, kEnd)),
    WHOLE("GetHarmonicValueSum fft 2", kMay, (Ids{4}), 1, GetHarmonicValueSum(l, t, 0, kEnd, 2, b[0], b[1])),
    BLOCK("GetAngleToLine fft 2", kMay, kPhases, 1, GetAngleToLine(l, t, 0, 1000, 1, 2, b[0], b[1])),
    BLOCK("GetPowerAvg fft 2", kMay, (Ids{1}), 1, GetPowerAvg(l, t, 0, 1000, 2, b[0], b[1], kEnd, kEnd)),
    WHOLE("GetPowerAvgSum fft 2", kMay, (Ids{1}), 1, GetPowerAvgSum(l, t, 0, kEnd, 2, b[0], b[1])),
    WHOLE("GetUTSum fft 2", May::Records, kVI, 1, GetUTSum(l, t, 0, kEnd, 2, pu)),
    WHOLE("GetAngleSum step 0", kMay, (Ids{4, 6}), 1, GetAngleSum(l, t, 0, kEnd, 0)),
    // All-harmonic sums over 16 points: bin 21 lies past the spectrum.
    BLOCK("GetThreeLinePAll fft 16", kMay, kLine, 2, GetThreeLinePAll(l, t, 0, 1000, 16)),
    WHOLE("GetTwoAnglePAllSum fft 16", kMay, kTwo, 1, GetTwoAnglePAllSum(l, t, 0, kEnd, 16)),
    // A start inside the first hop of 64.
    BLOCK("GetP start 10", kMay, kVI, 1, GetP(l, t, 10, 1000, 256, b[0], b[1], b[2], b[3])),
    BLOCK("GetThreeLineP start 1", kMay, kLine, 1, GetThreeLineP(l, t, 1, 1000, 256)),
    BLOCK("GetThreeAngleZX start 30", kMay, kPhase, 4, GetThreeAngleZX(l, t, 30, 1000, 256)),
    BLOCK("GetLXPart start 5", kMay, kCurrents, 1, GetLXPart(l, t, 5, 1000, 256)),
    BLOCK("GetHarmonicValue start 7", kMay, (Ids{4}), 1, GetHarmonicValue(l, t, 7, 1000, 256, b[0], b[1], kEnd, kEnd)),
    BLOCK("GetAngleToLine start 9", kMay, kPhases, 1, GetAngleToLine(l, t, 9, 1000, 1, 256, b[0], b[1])),
    BLOCK("GetPowerAvg start 40", kMay, (Ids{1}), 1, GetPowerAvg(l, t, 40, 1000, 256, b[0], b[1], kEnd, kEnd)),
    // Harmonic orders past the spectrum, negative and NaN.
    BLOCK("GetHarmonicValue order 300", kMay, (Ids{4}), 1, t->HarmonicOrder = 300.0f,
          GetHarmonicValue(l, t, 0, 1000, 256, b[0], b[1], kEnd, kEnd)),
    BLOCK("GetHarmonicValue order NaN", kMay, (Ids{4}), 1, t->HarmonicOrder = std::nanf(""),
          GetHarmonicValue(l, t, 0, 1000, 256, b[0], b[1], kEnd, kEnd)),
    WHOLE("GetHarmonicValueSum order 1e9", kMay, (Ids{4}), 1, (t->HarmonicOrder = 1e9f, GetHarmonicValueSum(l, t, 0, kEnd, 256, b[0], b[1]))),
    WHOLE("GetHarmonicValueSum order -3", kMay, (Ids{4}), 1, (t->HarmonicOrder = -3.0f, GetHarmonicValueSum(l, t, 0, kEnd, 256, b[0], b[1]))),
    // Moving averages of no samples.
    BLOCK("GetThreeLinePEx window 0", kMay, kLine, 1, GetThreeLinePEx(l, t, 0, 1000, 0)),
    BLOCK("GetThreeLineQIEx window 1", kMay, kLine, 1, GetThreeLineQIEx(l, t, 0, 1000, 1)),
    BLOCK("GetTwoLineQIEx window -8", kMay, kTwo, 1, GetTwoLineQIEx(l, t, 0, 1000, -8)),
    BLOCK("GetThreeAnglePEx window 0", kMay, kPhase, 1, GetThreeAnglePEx(l, t, 0, 1000, 0)),
    BLOCK("GetTwoAnglePEx window 2", kMay, kTwo, 1, GetTwoAnglePEx(l, t, 0, 1000, 2)),
    BLOCK("GetThreeAngleQIEx window 1", kMay, kPhase, 1, GetThreeAngleQIEx(l, t, 0, 1000, 1)),
    // Null work buffers and voltage summaries.
    BLOCK("GetP null buffer", kNone, kVI, 1, GetP(l, t, 0, 1000, 256, b[0], nullptr, b[2], b[3])),
    WHOLE("Get3PBy1AllSum null buffer", kNone, kVI, 2, Get3PBy1AllSum(l, t, 0, kEnd, 256, b[0], b[1], b[2], nullptr)),
    BLOCK("GetHarmonicValue null buffer", kNone, (Ids{4}), 1, GetHarmonicValue(l, t, 0, 1000, 256, nullptr, b[1], kEnd, kEnd)),
    WHOLE("GetHarmonicValueSum null buffer", kNone, (Ids{4}), 1, GetHarmonicValueSum(l, t, 0, kEnd, 256, b[0], nullptr)),
    BLOCK("GetAngleToLine null buffer", kNone, kPhases, 1, GetAngleToLine(l, t, 0, 1000, 1, 256, nullptr, b[1])),
    WHOLE("GetAngleToLineSum null buffer", kNone, kPhases, 1, GetAngleToLineSum(l, t, 0, kEnd, 2, 256, b[0], nullptr)),
    BLOCK("GetPowerAvg null buffer", kNone, (Ids{1}), 1, GetPowerAvg(l, t, 0, 1000, 256, nullptr, nullptr, kEnd, kEnd)),
    WHOLE("GetPowerAvgSum null buffer", kNone, (Ids{1}), 1, GetPowerAvgSum(l, t, 0, kEnd, 256, b[0], nullptr)),
    WHOLE("GetUTSum null summaries", kNone, kVI, 1, GetUTSum(l, t, 0, kEnd, 256, nullptr)),
    WHOLE("GetUX2Sum null summaries", kNone, (Ids{1, 4, 2}), 1, GetUX2Sum(l, t, 400, 0, 256, nullptr)),
    WHOLE("GetUXSum null summaries", kNone, (Ids{1, 4, 2}), 1, GetUXSum(l, t, 0, 0, 0, nullptr)),
    // Counts of zero and below, later in a recording.
    BLOCK("GetP count 0", kNone, kVI, 1, GetP(l, t, 1000, 0, 256, b[0], b[1], b[2], b[3])),
    BLOCK("GetThreeLineP count -5", kNone, kLine, 1, GetThreeLineP(l, t, 1000, -5, 256)),
    BLOCK("GetThreeLinePEx count -5", kNone, kLine, 1, GetThreeLinePEx(l, t, 1000, -5, 8)),
    BLOCK("GetCalculatMethod2 count -5", kNone, kVI, 1, GetCalculatMethod2(l, t, 1000, -5)),
    BLOCK("GetAvgValue count 0", kNone, kPhases, 1, GetAvgValue(l, t, 1000, 0)),
    BLOCK("GetReduce count -5", kNone, (Ids{1, 2}), 1, GetReduce(l, t, 1000, -5)),
    BLOCK("GetPWMAngle count -5", kNone, (Ids{7, 1}), 1, GetPWMAngle(l, t, 1000, -5)),
    BLOCK("GetHarmonicValue count 0", kNone, (Ids{4}), 1, GetHarmonicValue(l, t, 1000, 0, 256, b[0], b[1], kEnd, kEnd)),
    BLOCK("GetPowerAvg count -5", kNone, (Ids{1}), 1, GetPowerAvg(l, t, 1000, -5, 256, b[0], b[1], kEnd, kEnd)),
    // The trackers record the block's end (start + count) even for an empty block.
    BLOCK("GetFrequenceStatus2 count 0", kMay, (Ids{1}), 1, GetFrequenceStatus2(l, t, 1000, 0, 10.0, kEnd, 0)),
    BLOCK("GetRPM count -5", kMay, (Ids{10}), 1, GetRPM(l, t, 1000, -5, 200, 10.0, kEnd, 0)),
    WHOLE("Get3PBy1Sum length 0", kNone, kVI, 1, Get3PBy1Sum(l, t, 0, 0, 256, b[0], b[1], b[2], b[3])),
    WHOLE("GetThreeLinePSum length -5", kNone, kLine, 1, GetThreeLinePSum(l, t, 0, -5, 256)),
    WHOLE("GetTwoAnglePExSum length 0", kNone, kTwo, 1, GetTwoAnglePExSum(l, t, 0, 0)),
    WHOLE("GetCalculatMethod1Sum length -5", kNone, kVI, 1, GetCalculatMethod1Sum(l, t, 0, -5)),
    WHOLE("GetHarmonicValueSum length 100", kNone, (Ids{4}), 1, GetHarmonicValueSum(l, t, 0, 100, 256, b[0], b[1])),
    WHOLE("GetZXPartSum length -5", kNone, kCurrents, 1, GetZXPartSum(l, t, 0, -5, 256)),
    WHOLE("GetUTSum length 100", kNone, kVI, 1, GetUTSum(l, t, 0, 100, 256, pu)),
    WHOLE("GetGJSum count -5", kNone, (Ids{1, 10, 11}), 1, GetGJSum(l, t, 0, -5, 10.0, kEnd)),
    // The status exports read the two records listed before position ListIndex.
    BLOCK("GetCosStatus ListIndex 0", kNone, (Ids{}), 1, t->ListIndex = 0, GetCosStatus(l, t, 0, 1000, kEnd - 1)),
    BLOCK("GetPSumStatus ListIndex 1", kNone, (Ids{}), 1, t->ListIndex = 1, GetPSumStatus(l, t, 0, 1000, kEnd - 1)),
    WHOLE("GetCosStatusSum ListIndex 1", kNone, (Ids{}), 1, (t->ListIndex = 1, GetCosStatusSum(l, t))),
    WHOLE("GetPSumStatusSum ListIndex 0", kNone, (Ids{}), 1, (t->ListIndex = 0, GetPSumStatusSum(l, t))),
};

TEST(HostileInput, BrokenArgumentsReturnInsideTheirArrays) {
    for (const Broken& c : kBroken)
        EXPECT_EQ("", InChild([&] {
                      Recording r(true);
                      float* b[4];
                      for (float*& buffer : b) buffer = r.host.Memory().Floats(256, true);
                      Guard guard;
                      guard.may = c.may;
                      r.onTarget = [&](ChannelInfo* t) { guard.Start(r, t); };
                      ChannelInfo* t = r.Target(c.ids, c.kind);
                      const double result = c.call(r.List(), t, b, r.puParams);
                      std::string report = guard.Report();
                      if (c.may == May::Nothing && result != 0.0) report += "returned " + std::to_string(result) + "\n";
                      return report;
                  }))
            << c.name;
}

// Windowed block exports over a hostile recording in blocks of random length,
// with a random window (a power of two from 4, or 32 where bin 21 is summed):
// the target's result array is exactly as long as a call may need, so the last
// block's windows and ramps meet the guard pages of sources and target alike.
struct WindowedExport {
    const char* name;
    Ids ids;
    uint32_t kind;
    int minLog2;
    int extra;   // result entries past the block's end as a fraction 1/extra of the window (0: none)
    void (*call)(CPtrList*, ChannelInfo*, int, int, int, float* const*);
};
#define WINDOWED(name, ids, kind, minLog2, extra, ...) \
    WindowedExport{name, ids, kind, minLog2, extra, [](CPtrList* l, ChannelInfo* t, int s, int n, int fft, float* const* b) { \
                       (void)b, (void)fft; __VA_ARGS__; }}
const WindowedExport kWindowed[] = {
    WINDOWED("GetP", kVI, 1, 2, 4, GetP(l, t, s, n, fft, b[0], b[1], b[2], b[3])),
    WINDOWED("GetPAll", kVI, 2, 5, 4, GetPAll(l, t, s, n, fft, b[0], b[1], b[2], b[3])),
    WINDOWED("Get3PBy1Line", (Ids{7, 4}), 1, 2, 0, Get3PBy1Line(l, t, s, n, fft, b[0], b[1], b[2], b[3])),
    WINDOWED("GetThreeLineP", kLine, 1, 2, 0, GetThreeLineP(l, t, s, n, fft)),
    WINDOWED("GetThreeLinePAll", kLine, 2, 5, 0, GetThreeLinePAll(l, t, s, n, fft)),
    WINDOWED("GetThreeAngleZX", kPhase, 3, 2, 0, GetThreeAngleZX(l, t, s, n, fft)),
    WINDOWED("GetThreeAnglePAll", kPhase, 1, 5, 0, GetThreeAnglePAll(l, t, s, n, fft)),
    WINDOWED("GetTwoAngleP", kTwo, 2, 2, 0, GetTwoAngleP(l, t, s, n, fft)),
    WINDOWED("GetFXPart", kCurrents, 1, 2, 0, GetFXPart(l, t, s, n, fft)),
    WINDOWED("GetThreeLinePEx", kLine, 1, 3, 0, GetThreeLinePEx(l, t, s, n, fft)),
    WINDOWED("GetThreeAngleQIEx", kPhase, 1, 1, 0, GetThreeAngleQIEx(l, t, s, n, fft)),
    WINDOWED("GetHarmonicValue", (Ids{4}), 1, 2, 4, t->HarmonicOrder = 3.0f,
             GetHarmonicValue(l, t, s, n, fft, b[0], b[1], kEnd, kEnd + fft / 4)),
    WINDOWED("GetPowerAvg", (Ids{1}), 1, 2, 4, GetPowerAvg(l, t, s, n, fft, b[0], b[1], kEnd, kEnd + fft / 4)),
};

TEST(HostileInput, RandomBlocksAndWindowsStayInsideTheirArrays) {
    for (std::size_t i = 0; i < std::size(kWindowed); ++i)
        for (const GuardSide side : {GuardSide::AfterEnd, GuardSide::BeforeStart}) {
        const WindowedExport& e = kWindowed[i];
        EXPECT_EQ("", InChild([&] {
                      std::mt19937 rng(kSeed + 1000 + static_cast<unsigned>(i));
                      Recording r(true, side);
                      Poison(r, rng);
                      const int fft = 1 << std::uniform_int_distribution<int>(e.minLog2, 10)(rng);
                      float* b[4];
                      for (float*& buffer : b) buffer = r.host.Memory().Floats(1024, true);
                      Guard guard;
                      r.onTarget = [&](ChannelInfo* t) {
                          r.host.Results(t, std::max(fft, kEnd + (e.extra ? fft / e.extra : 0)));
                          guard.Start(r, t);
                      };
                      ChannelInfo* t = r.Target(e.ids, e.kind);
                      for (int s = 0; s < kEnd;) {
                          const int n = std::min(std::uniform_int_distribution<int>(1, 1500)(rng), kEnd - s);
                          if (s > 0 && s <= fft / 4) { s += n; continue; }   // starts inside the first hop: covered above
                          e.call(r.List(), t, s, n, fft, b);
                          s += n;
                      }
                      return guard.Report();
                  }))
            << e.name << (side == GuardSide::BeforeStart ? ", guard pages before the arrays" : "");
        }
}

// A window length the transform refuses ends the process with its message as
// soon as the call's sources resolve: 64 or less and no power of two (0, 3 and
// negative lengths too, whose hop could never advance), or for the harmonic
// magnitude any length that is no power of two. Block forms from the table
// above (the Ex exports take a moving-average length instead), then
// whole-record forms.
using WholeCall = void (*)(CPtrList*, ChannelInfo*, int fft, float* const* b, float* pu);
struct WholeRecord {
    const char* name;
    Ids ids;
    WholeCall call;
};
#define WHOLE_FFT(name, ids, ...) \
    WholeRecord{name, ids, [](CPtrList* l, ChannelInfo* t, int fft, float* const* b, float* pu) { \
                    (void)b, (void)pu; (void)(__VA_ARGS__); }}
const WholeRecord kWholeRecord[] = {
    WHOLE_FFT("Get3PBy1Sum", kVI, Get3PBy1Sum(l, t, 0, kEnd, fft, b[0], b[1], b[2], b[3])),
    WHOLE_FFT("GetThreeLinePSum", kLine, GetThreeLinePSum(l, t, 0, kEnd, fft)),
    WHOLE_FFT("GetTwoAnglePAllSum", kTwo, GetTwoAnglePAllSum(l, t, 0, kEnd, fft)),
    WHOLE_FFT("GetZXPartSum", kCurrents, GetZXPartSum(l, t, 0, kEnd, fft)),
    WHOLE_FFT("GetAngleToLineSum", kPhases, GetAngleToLineSum(l, t, 0, kEnd, 1, fft, b[0], b[1])),
    WHOLE_FFT("GetPSum", kVI, GetPSum(l, t, 0, kEnd, fft, b[0], b[1], b[2], b[3])),
    WHOLE_FFT("GetUTSum", kVI, GetUTSum(l, t, 0, kEnd, fft, pu)),
    WHOLE_FFT("GetHarmonicValueSum", (Ids{4}), (t->HarmonicOrder = 3.0f, GetHarmonicValueSum(l, t, 0, kEnd, fft, b[0], b[1]))),
};

TEST(HostileInputDeathTest, WindowsTheTransformRefusesEndTheProcess) {
    const int refused[] = {-8, 0, 3, 12, 63};
    int k = 0;
    const auto expectEnd = [&](const char* name, const std::function<void(Recording&, int, float* const*)>& call) {
        const int fft = refused[k++ % std::size(refused)];
        EXPECT_EXIT(
            {
                Recording r(true);
                float* b[4];
                for (float*& buffer : b) buffer = r.host.Memory().Floats(256, true);
                call(r, fft, b);
            },
            testing::ExitedWithCode(1), "^" + std::to_string(fft) + " is not a power of two\n$")
            << name << ", window " << fft;
    };
    for (const WindowedExport& e : kWindowed)
        if (std::string(e.name).find("Ex") == std::string::npos)
            expectEnd(e.name, [&](Recording& r, int fft, float* const* b) {
                e.call(r.List(), r.Target(e.ids, e.kind), 0, 1000, fft, b);
            });
    for (const WholeRecord& e : kWholeRecord)
        expectEnd(e.name, [&](Recording& r, int fft, float* const* b) {
            e.call(r.List(), r.Target(e.ids), fft, b, r.puParams);
        });
    EXPECT_EXIT(
        {
            Recording r(true);
            float* spectrum = r.host.Memory().Floats(200, true);
            GetHarmonicValueSum(r.List(), r.Target(Ids{4}), 0, kEnd, 100, spectrum, spectrum + 100);
        },
        testing::ExitedWithCode(1), "100 is not a power of two");
}

}  // namespace
