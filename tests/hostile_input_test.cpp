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
#include <climits>
#include <cmath>
#include <csignal>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

#include "ampora.h"
#include "frame/resolve.h"
#include "support/export_calls.h"
#include "hostkit/crossing_queue_host.h"
#include "support/integrity.h"

namespace {

constexpr unsigned kSeed = 20261207;
constexpr unsigned kSecondsPerCase = 30;   // far above any case's run time, even under emulation
constexpr int kEnd = Recording::kSamples;

// Runs body in a child process; returns what it reported plus how it ended.
std::string InChild(const std::function<std::string()>& body, unsigned seconds = kSecondsPerCase) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe\n";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);
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

// One 50 Hz wave over the record, formed once before any child is forked.
const std::vector<float> kWave = [] {
    std::vector<float> w(kEnd);
    for (int i = 0; i < kEnd; ++i) w[i] = static_cast<float>(std::sin(0.0314159 * i));
    return w;
}();

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
                default: x[i] = a * kWave[i]; break;
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

// The export of that name (a case name may add words after it).
const ExportCall& CallNamed(const std::string& name) {
    for (const ExportCall& c : AllExportCalls())
        if (c.name == name.substr(0, name.find(' '))) return c;
    throw std::invalid_argument(name);
}

// Watches the whole host from the moment a target exists and allows what the
// export's contract lets it write: its fields, in the target and its sources, and
// its result positions: those of its span as the table runs it, any position
// of the record where the blocks differ, or any of the target's array where
// broken arguments move them. The fields the broken calls set on a target after
// making it are inputs, not writes of the export.
enum class Positions { OfItsSpan, InTheRecord, AnyOfTheArray };
struct Guard {
    std::unique_ptr<ByteWatch> watch;
    const ExportCall* writes = nullptr;   // null: the call may write nothing
    Positions positions = Positions::OfItsSpan;

    void Start(Recording& r, ChannelInfo* t) {
        watch = std::make_unique<ByteWatch>(r.host);
        watch->Watch(r.puParams, 13 * sizeof(float));   // read, never written
        AMPORA_ALLOW_FIELD(*watch, t, HarmonicOrder);
        AMPORA_ALLOW_FIELD(*watch, t, ListIndex);
        AMPORA_ALLOW_FIELD(*watch, t, UseSource);
        if (writes == nullptr) return;
        const float* result = ResultArray(t);
        const bool any = writes->span != ResultSpan::None && positions != Positions::OfItsSpan;
        const int end = positions == Positions::InTheRecord ? kEnd : kEnd + Recording::kMargin;
        for (int k = 0, run = 0; k <= kEnd + Recording::kMargin; ++k) {   // allowed positions as runs
            const bool allowed = k < end && (InSpan(writes->span, k) || any);
            if (allowed) ++run;
            else if (run > 0) watch->AllowFloats(result, k - run, run), run = 0;
        }
        for (const FieldWrite& f : writes->fields) {
            const ChannelInfo* record =
                f.record == kTargetRecord ? t : FindChannelById(r.host.List(), SourceIdArray(t)[f.record]);
            if (record != nullptr) watch->AllowField(record, f.offset, f.size);
        }
    }
    std::string Report() const { return watch ? Condensed(watch->Violations()) : std::string(); }
};

// The exports whose lookup rule reads no SourceIds (the records listed before
// the target, records taken as arguments, or the target's own samples): a
// list without their sources is no broken call for them.
bool ReadsNoSources(const std::string& name) {
    const SourceLookup lookup = LookupFor(name);
    return lookup == SourceLookup::BeforeTarget || lookup == SourceLookup::None;
}
// The block export that resolves nothing reads its target's own samples.
bool ReadsOwnSamples(const std::string& name) {
    return LookupFor(name) == SourceLookup::None && FindExportEntry(name)->curve != BlockCurve::None;
}

// One export under one kind of input, in a child.
std::string RunCase(const ExportCall& call, unsigned seed, bool broken, GuardSide side,
                    const std::function<void(Recording&)>& spoil) {
    return InChild([&] {
        std::mt19937 rng(seed);
        Recording r(true, side);
        if (!broken) Poison(r, rng);   // a broken call computes nothing: its samples do not matter
        spoil(r);
        Guard guard;
        guard.writes = broken ? nullptr : &call;
        r.onTarget = [&](ChannelInfo* t) {
            if (ReadsOwnSamples(call.name)) {
                std::vector<float> own(kEnd);
                FillHostile(own.data(), kEnd, rng);
                r.host.Samples(t, own);
                t->CycleStart = 0.0;   // the host zeroes the state a recording starts from
            }
            guard.Start(r, t);
        };
        ChannelInfo* target = nullptr;
        const double result = call.Run(r, &target);
        std::string report = guard.Report();
        const double none = call.name == "GetKmByEq" ? 1.0 : 0.0;
        if (broken && result != none) report += "returned " + std::to_string(result) + "\n";
        return report;
    });
}

// A copy of the recording's list whose count says more (or less) than its
// chain holds, or whose tail leads back to its head.
CPtrList* CopyOfList(Recording& r, int countChange, bool looped) {
    static CPtrList copy;
    ListInit(&copy);
    WalkList(r.host.List(), [](const CNode* n, int) { return ListAddTail(&copy, n->data), false; });
    copy.count += countChange;
    if (looped) copy.tail->next = copy.head;   // never freed: the child exits
    return &copy;
}

// Hostile samples, a list holding only the first voltage and current
// (exports with more sources find some missing, the rest compute on what is
// there), and a list whose count runs past its chain write exactly what the
// export's contract lets it write; a null or empty list, a negative count and
// sources the list lacks (its chain looping back too) write nothing and
// return no value. Two tests, so each stays within the emulated run's limit.
struct ListCase {
    const char* name;
    bool broken;
    bool ofSources;   // breaks only the target's sources
    std::function<void(Recording&)> spoil;
    GuardSide side = GuardSide::AfterEnd;
};

void RunEveryExport(const std::vector<ListCase>& cases) {
    const auto& calls = AllExportCalls();
    for (std::size_t i = 0; i < calls.size(); ++i)
        for (const ListCase& c : cases) {
            const std::string& name = calls[i].name;
            if ((c.ofSources && ReadsNoSources(name)) || (std::string(c.name) == "empty list" && ReadsOwnSamples(name)))
                continue;
            EXPECT_EQ("", RunCase(calls[i], kSeed + static_cast<unsigned>(i), c.broken, c.side, c.spoil)) << name << ", " << c.name;
        }
}

TEST(HostileInput, EveryExportOnHostileSamplesAndListsItCanUse) {
    static CPtrList shortList;
    ListInit(&shortList);
    RunEveryExport({
        {"hostile samples", false, false, [](Recording&) {}},
        {"hostile samples, guard pages before the arrays", false, false, [](Recording&) {}, GuardSide::BeforeStart},
        {"short list", false, false, [](Recording& r) {
             ListFree(&shortList);
             ListInit(&shortList);
             ListAddTail(&shortList, FindChannelById(r.host.List(), 1));
             ListAddTail(&shortList, FindChannelById(r.host.List(), 4));
             r.list = &shortList;
         }},
        {"count past the chain", false, false, [](Recording& r) { r.list = CopyOfList(r, 1000, false); }},
    });
}

TEST(HostileInput, EveryExportOnBrokenListsWritesNothing) {
    static CPtrList empty;
    ListInit(&empty);
    RunEveryExport({
        {"null list", true, false, [](Recording& r) { r.list = nullptr; }},
        {"empty list", true, false, [](Recording& r) { r.list = &empty; }},
        {"unresolvable sources", true, true, [](Recording& r) { r.unresolvableSources = true; }},
        {"sources past the list's end", true, true, [](Recording& r) { r.unresolvableSources = r.sourcesByIndex = true; }},
        {"negative count", true, true, [](Recording& r) { r.list = CopyOfList(r, -1000, false); }},
        {"chain looping back, sources it lacks", true, true, [](Recording& r) {
             r.list = CopyOfList(r, 0, true);
             r.unresolvableSources = true;
         }},
    });
}

// Broken arguments. Where the call leaves the outcome to the library (a window
// too short to hop, a start inside the first hop or before 0, a harmonic
// order past the spectrum, a moving average of no samples, margins and counts
// at the ends of the integers) it may write what its export writes, at any
// result position, but must return soon and stay inside its arrays; a null
// buffer, a count of zero or less and a list position with nothing before it
// write nothing at all.
enum class May { Nothing, Target };
struct Broken {
    const char* name;
    May may;
    std::vector<uint8_t> ids;
    uint32_t kind;
    double (*call)(CPtrList*, ChannelInfo*, float* const* b, float* pu);
    bool plain = false;   // source 0 on its plain-formula path: DataKind 2, voltages in SecondaryData
    unsigned seconds = kSecondsPerCase;
};
#define BLOCK(name, may, ids, kind, ...) \
    Broken{name, may, ids, kind, [](CPtrList* l, ChannelInfo* t, float* const* b, float* pu) { \
               (void)b, (void)pu, (void)l, (void)t; __VA_ARGS__; return 0.0; }}
#define WHOLE(name, may, ids, kind, ...) \
    Broken{name, may, ids, kind, [](CPtrList* l, ChannelInfo* t, float* const* b, float* pu) { \
               (void)b, (void)pu; return static_cast<double>(__VA_ARGS__); }}
// Within 10 s, emulated too (a call that adds all INT_MAX terms takes minutes there).
Broken Soon(Broken b) { return b.seconds = 10, b; }
#define SOON(...) Soon(__VA_ARGS__)
#define PLAIN(name, ids, ...) \
    Broken{name, May::Target, ids, 1, [](CPtrList* l, ChannelInfo* t, float* const*, float*) { \
               return static_cast<double>((__VA_ARGS__, 0.0)); }, true}

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
    WHOLE("GetUTSum fft 2", kMay, kVI, 1, GetUTSum(l, t, 0, kEnd, 2, pu)),
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
    // Starts before 0: nothing before position 0 is read or written.
    BLOCK("GetP start -5", kMay, kVI, 1, GetP(l, t, -5, 1000, 256, b[0], b[1], b[2], b[3])),
    BLOCK("GetThreeLineP start -5", kMay, kLine, 1, GetThreeLineP(l, t, -5, 1000, 256)),
    BLOCK("GetZHPart start -5", kMay, kCurrents, 1, GetZHPart(l, t, -5, 1000, 256)),
    BLOCK("GetAngleToLine start -5", kMay, kPhases, 1, GetAngleToLine(l, t, -5, 1000, 1, 256, b[0], b[1])),
    BLOCK("GetCalculatMethod2 start -5", kMay, kVI, 1, GetCalculatMethod2(l, t, -5, 1000)),
    BLOCK("GetAvgValue start -5", kMay, kPhases, 1, GetAvgValue(l, t, -5, 1000)),
    BLOCK("GetCosStatus start -5", kMay, (Ids{}), 1, t->ListIndex = 11, GetCosStatus(l, t, -5, 1000, kEnd - 1)),
    BLOCK("GetReduce start -5", kMay, (Ids{1, 2}), 1, GetReduce(l, t, -5, 1000)),
    WHOLE("Get3PBy1Sum start -5", kMay, kVI, 1, Get3PBy1Sum(l, t, -5, kEnd, 256, b[0], b[1], b[2], b[3])),
    WHOLE("GetFXPartSum start -5", kMay, kCurrents, 1, GetFXPartSum(l, t, -5, kEnd, 256)),
    WHOLE("GetAngleToLineSum start -5", kMay, kPhases, 1, GetAngleToLineSum(l, t, -5, kEnd, 1, 256, b[0], b[1])),
    WHOLE("GetCalculatMethod1Sum start -5", kMay, kVI, 1, GetCalculatMethod1Sum(l, t, -5, kEnd)),
    WHOLE("GetUX2Sum start -5", kNone, (Ids{1, 4, 2}), 1, GetUX2Sum(l, t, -5, 0, 256, pu)),
    WHOLE("GetUTSum start -5", kMay, kVI, 1, GetUTSum(l, t, -5, kEnd, 256, pu)),
    // On the plain-formula path and in the record means.
    PLAIN("GetThreeLinePEx start -5", kLine, GetThreeLinePEx(l, t, -5, 1000, 600)),
    PLAIN("GetThreeAnglePEx start -5", kPhase, GetThreeAnglePEx(l, t, -5, 1000, 600)),
    PLAIN("GetTwoAnglePEx start -5", kTwo, GetTwoAnglePEx(l, t, -5, 1000, 600)),
    PLAIN("GetThreeLinePExSum start -5", kLine, GetThreeLinePExSum(l, t, -5, 1000)),
    PLAIN("GetThreeAnglePExSum start -5", kPhase, GetThreeAnglePExSum(l, t, -5, 1000)),
    PLAIN("GetTwoAnglePExSum start -5", kTwo, GetTwoAnglePExSum(l, t, -5, 1000)),
    WHOLE("GetRPMSum start -5", kMay, (Ids{10}), 1, GetRPMSum(l, t, -5, 1000, 200)),
    // Margins and counts at the ends of the integers; the calculated angles'
    // float mean stops changing long before INT_MAX terms.
    WHOLE("GetPowerAvgSumExtra margin INT_MAX", kMay, (Ids{1}), 1, GetPowerAvgSumExtra(l, t, 0, kEnd, INT_MAX, 10.0, kEnd)),
    WHOLE("GetFrequenceStatusSum tailMargin INT_MIN", kMay, (Ids{1}), 1,
          (t->UseSource = 1, GetFrequenceStatusSum(l, t, 0, kEnd, 10.0, INT_MIN, kEnd))),
    WHOLE("GetFrequenceStatusSum tailMargin INT_MAX", kMay, (Ids{1}), 1, GetFrequenceStatusSum(l, t, 0, kEnd, 10.0, INT_MAX, kEnd)),
    SOON(WHOLE("GetGJ3Sum count INT_MAX", kMay, (Ids{1, 4, 2, 5}), 1, GetGJ3Sum(l, t, 0, INT_MAX, 1))),
    SOON(WHOLE("GetGJ4Sum count INT_MAX", kMay, (Ids{1, 4, 2, 5, 6}), 1, GetGJ4Sum(l, t, 0, INT_MAX, 1))),
};

TEST(HostileInput, BrokenArgumentsReturnInsideTheirArrays) {
    for (const Broken& c : kBroken)
        for (const GuardSide side : {GuardSide::AfterEnd, GuardSide::BeforeStart})
        EXPECT_EQ("", InChild([&] {
                      Recording r(true, side);
                      float* b[4];
                      for (float*& buffer : b) buffer = r.host.Memory().Floats(256, true);
                      if (c.plain) FindChannelById(r.List(), c.ids[0])->DataKind = 2;
                      Guard guard;
                      guard.writes = c.may == May::Target ? &CallNamed(c.name) : nullptr;
                      guard.positions = Positions::AnyOfTheArray;
                      r.onTarget = [&](ChannelInfo* t) { guard.Start(r, t); };
                      ChannelInfo* t = r.Target(c.ids, c.kind);
                      const double result = c.call(r.List(), t, b, r.puParams);
                      std::string report = guard.Report();
                      if (c.may == May::Nothing && result != 0.0) report += "returned " + std::to_string(result) + "\n";
                      return report;
                  }, c.seconds))
            << c.name << (side == GuardSide::BeforeStart ? ", guard pages before the arrays" : "");
}

// The exports that take a rate (the trackers and their whole-record kin), called as a
// host calls them on what a host may feed them: a 50 Hz sine with a DC
// offset (the interpolation that aims at zero lands far from its pair), state
// left from a longer recording or not a number, blocks out of order, and
// rates of every kind. Each writes only record positions and the fields its
// contract names.
enum class Blocks { InOrder, WholeRecord, Shuffled };
struct TrackerCase {
    const char* name;
    double amplitude, offset;   // of the 50 Hz sine
    double state;    // every slot, position and queue entry of the target (0: zeroed by the host)
    double perMs;
    Blocks blocks;
};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
const TrackerCase kTrackerCases[] = {
    {"offset -10", 0.1, -10.0, 0.0, 10.0, Blocks::InOrder},
    {"offset -100", 0.1, -100.0, 0.0, 10.0, Blocks::InOrder},
    {"offset -100, one call", 0.1, -100.0, 0.0, 10.0, Blocks::WholeRecord},
    {"offset +60", 1.0, 60.0, 0.0, 10.0, Blocks::InOrder},
    {"state of a longer recording", 230.0, -10.0, 32013.6, 10.0, Blocks::InOrder},
    {"state -3.5", 230.0, 0.0, -3.5, 10.0, Blocks::InOrder},
    {"state NaN", 230.0, 0.0, kNaN, 10.0, Blocks::InOrder},
    {"state 1e30", 230.0, 0.0, 1e30, 10.0, Blocks::InOrder},
    {"blocks out of order", 1.0, -10.0, 0.0, 10.0, Blocks::Shuffled},
    {"rate 0", 230.0, 0.0, 0.0, 0.0, Blocks::InOrder},
    {"rate -10", 230.0, 0.0, 0.0, -10.0, Blocks::InOrder},
    {"rate NaN", 230.0, 0.0, 0.0, kNaN, Blocks::InOrder},
    {"rate inf", 230.0, 0.0, 0.0, kInf, Blocks::InOrder},
    {"rate -inf", 230.0, 0.0, 0.0, -kInf, Blocks::InOrder},
    {"rate 1e-300", 230.0, 0.0, 0.0, 1e-300, Blocks::InOrder},
    {"rate 1e300", 230.0, 0.0, 0.0, 1e300, Blocks::InOrder},
    {"rate 1e9", 230.0, 0.0, 0.0, 1e9, Blocks::WholeRecord},
    {"rate 1.4e10", 230.0, 0.0, 0.0, 1.4e10, Blocks::InOrder},
};

// The blocks a host would call, in the case's order.
std::vector<std::pair<int, int>> BlocksOf(Blocks order, std::mt19937& rng) {
    std::vector<std::pair<int, int>> blocks;
    if (order == Blocks::WholeRecord) return {{0, kEnd}};
    for (int s = 0; s < kEnd;) {
        const int n = std::min(order == Blocks::Shuffled ? 1 + static_cast<int>(rng() % 1500) : 1000, kEnd - s);
        blocks.emplace_back(s, n);
        s += n;
    }
    if (order == Blocks::Shuffled) std::shuffle(blocks.begin(), blocks.end(), rng);
    return blocks;
}

// The source (and the self average's target) carries the offset sine; the
// target's state is the case's.
void Prepare(Recording& r, ChannelInfo* t, const TrackerCase& c) {
    std::vector<float> x(kEnd);
    for (int i = 0; i < kEnd; ++i) x[i] = static_cast<float>(c.amplitude * kWave[i] + c.offset);
    ChannelInfo* source = FindChannelById(r.host.List(), 1);
    std::copy(x.begin(), x.end(), SampleArray(source));
    std::copy(x.begin(), x.end(), ResultArray(source));
    // The stored extremes are the samples' own: a refresh writes the same bytes.
    source->SampleMax = *std::max_element(x.begin(), x.end());
    source->SampleMin = *std::min_element(x.begin(), x.end());
    source->RatedValue = source->FullScale = 230.0;
    r.host.Samples(t, x);
    t->UseSource = 1;
    t->PulsesPerRev = 2.0;
    ConstructCrossingQueue(t, 7);
    for (double& slot : t->TrackState) slot = c.state;
    t->HeldValue = t->CycleStart = t->PeriodFrequency = c.state;
    const uint32_t index = std::isfinite(c.state) ? static_cast<uint32_t>(std::fabs(std::fmin(c.state, 4e9))) : 0xFFFFFFFFu;
    t->LastBlockEnd = t->PeriodEndIndex = t->QuietCount = index;
    CrossingQueueView q = CrossingQueueView::Load(t);
    for (uint32_t k = 0; k < q.capacity; ++k) q.storage[k] = static_cast<float>(c.state);
}

TEST(HostileInput, TrackersOnOffsetsStaleStateShuffledBlocksAndAnyRate) {
    for (const ExportCall& tracker : AllExportCalls()) {
        if (FindExportEntry(tracker.name)->arguments.find("samplesPerMs") == std::string_view::npos) continue;
        std::vector<uint8_t> ids = tracker.ids;
        ids[0] = 1;   // the channel the case's sine goes into
        for (const TrackerCase& c : kTrackerCases)
            EXPECT_EQ("", InChild([&] {
                          std::mt19937 rng(kSeed);
                          Recording r(true);
                          Guard guard;
                          guard.writes = &tracker;
                          guard.positions = Positions::InTheRecord;
                          r.onTarget = [&](ChannelInfo* t) {
                              Prepare(r, t, c);
                              guard.Start(r, t);
                          };
                          ChannelInfo* t = r.Target(ids);
                          for (const auto& [start, count] : BlocksOf(c.blocks, rng))
                              tracker.Call(r, t, start, count, {{"samplesPerMs", c.perMs}, {"singleShot", count == kEnd}});
                          return guard.Report();
                      }))
                << tracker.name << ", " << c.name;
    }
}

// Windowed block exports over a hostile recording in blocks of random length,
// with a random window (a power of two from 4, or 32 where bin 21 is summed,
// or any length above 64):
// the target's result array is exactly as long as a call may need, so the last
// block's windows and ramps meet the guard pages of sources and target alike.
// The windowed block exports, with the least window each takes: a power of
// two from 4 (32 where harmonics 1 to 21 are summed), or a moving average of
// at least one sample.
int LeastWindowLog2(Window window) {
    switch (window) {
        case Window::Transform: case Window::FullTransform: return 2;
        case Window::HarmonicSum: return 5;
        case Window::Average2: return 1;
        case Window::Average3: return 2;
        case Window::Average6: return 3;
        default: return 0;
    }
}
std::vector<const ExportCall*> WindowedBlockExports(bool transformsOnly) {
    std::vector<const ExportCall*> calls;
    for (const ExportCall& call : AllExportCalls()) {
        const Window window = FindExportEntry(call.name)->window;
        const bool transform = window == Window::Transform || window == Window::HarmonicSum || window == Window::FullTransform;
        if (call.block && LeastWindowLog2(window) > 0 && (transform || !transformsOnly)) calls.push_back(&call);
    }
    return calls;
}

TEST(HostileInput, RandomBlocksAndWindowsStayInsideTheirArrays) {
    const std::vector<const ExportCall*> calls = WindowedBlockExports(false);
    for (std::size_t i = 0; i < calls.size(); ++i)
        for (const GuardSide side : {GuardSide::AfterEnd, GuardSide::BeforeStart}) {
        const ExportCall& e = *calls[i];
        const ExportEntry& entry = *FindExportEntry(e.name);
        // Leading ramps, and the held tail of an export told the result array is longer, write a hop past the block.
        const bool pastTheEnd = e.rule.after > 0 || entry.arguments.find("resultLength") != std::string_view::npos;
        EXPECT_EQ("", InChild([&] {
                      std::mt19937 rng(kSeed + 1000 + static_cast<unsigned>(i));
                      Recording r(true, side);
                      Poison(r, rng);
                      // Half the runs take a window above 64 that is no power of two: the reduced
                      // transform takes any such length (the harmonic magnitude's full one does not).
                      const bool odd = entry.window != Window::FullTransform && rng() % 2 == 0;
                      const int fft = odd ? std::uniform_int_distribution<int>(65, 1024)(rng)
                                          : 1 << std::uniform_int_distribution<int>(LeastWindowLog2(entry.window), 10)(rng);
                      float* b[4];
                      for (float*& buffer : b) buffer = r.host.Memory().Floats(1024, true);
                      Guard guard;
                      guard.writes = &e;
                      guard.positions = Positions::AnyOfTheArray;
                      r.onTarget = [&](ChannelInfo* t) {
                          r.host.Results(t, std::max(fft, kEnd + (pastTheEnd ? fft / 4 : 0)));
                          guard.Start(r, t);
                      };
                      ChannelInfo* t = e.target(r);
                      const Arguments window = {{"fftSize", fft}, {"windowSize", fft}, {"resultLength", kEnd + fft / 4}};
                      for (int s = 0; s < kEnd;) {
                          const int n = std::min(std::uniform_int_distribution<int>(1, 1500)(rng), kEnd - s);
                          if (s > 0 && s <= fft / 4) { s += n; continue; }   // starts inside the first hop: covered above
                          e.Call(r, t, s, n, window, b);
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
// magnitude any length that is no power of two. Block forms, then
// whole-record forms: those that transform windows of the count or length
// they are given (a window is checked against it).
std::vector<const ExportCall*> WindowedWholeRecordExports() {
    std::vector<const ExportCall*> calls;
    for (const ExportCall& call : AllExportCalls()) {
        const ExportEntry& entry = *FindExportEntry(call.name);
        const bool transform = entry.window == Window::Transform || entry.window == Window::HarmonicSum ||
                               entry.window == Window::FullTransform;
        const bool counted = entry.arguments.find("count") != std::string_view::npos ||
                             entry.arguments.find("length") != std::string_view::npos;
        if (!call.block && transform && counted) calls.push_back(&call);
    }
    return calls;
}

// The whole-record exports with windows above 64 that are no power of two,
// and with windows the record cannot hold (2^20 to 2^30 over its 8192
// positions): nothing to average, so nothing allocated, 0.0 returned.
TEST(HostileInput, OddAndLongWindowsOverTheWholeRecord) {
    for (const ExportCall* e : WindowedWholeRecordExports())
        for (const int fft : {100, 1000, 1 << 20, 1 << 26, 1 << 30}) {
            if (fft < kEnd && FindExportEntry(e->name)->window == Window::FullTransform) continue;   // powers of two only
            EXPECT_EQ("", InChild([&] {
                          Recording r(true);
                          float* b[4];
                          for (float*& buffer : b) buffer = r.host.Memory().Floats(1024, true);
                          Guard guard;
                          guard.writes = e;
                          guard.positions = Positions::AnyOfTheArray;
                          r.onTarget = [&](ChannelInfo* t) { guard.Start(r, t); };
                          const double result = e->Call(r, e->target(r), 0, kEnd, {{"fftSize", fft}}, b);
                          std::string report = guard.Report();
                          if (fft > kEnd && result != 0.0) report += "returned " + std::to_string(result) + "\n";
                          return report;
                      }))
                << e->name << ", window " << fft;
        }
}

TEST(HostileInputDeathTest, WindowsTheTransformRefusesEndTheProcess) {
    const int refused[] = {-8, 0, 3, 12, 63};
    int k = 0;
    std::vector<const ExportCall*> calls = WindowedBlockExports(true);
    for (const ExportCall* e : WindowedWholeRecordExports()) calls.push_back(e);
    for (const ExportCall* e : calls) {
        const int fft = refused[k++ % std::size(refused)];
        EXPECT_EXIT(
            {
                Recording r(true);
                float* b[4];
                for (float*& buffer : b) buffer = r.host.Memory().Floats(256, true);
                e->Call(r, e->target(r), 0, e->block ? 1000 : kEnd, {{"fftSize", fft}}, b);
            },
            testing::ExitedWithCode(1), "^" + std::to_string(fft) + " is not a power of two\n$")
            << e->name << ", window " << fft;
    }
    EXPECT_EXIT(
        {
            Recording r(true);
            float* spectrum = r.host.Memory().Floats(200, true);
            GetHarmonicValueSum(r.List(), r.Target(Ids{4}), 0, kEnd, 100, spectrum, spectrum + 100);
        },
        testing::ExitedWithCode(1), "100 is not a power of two");
}

}  // namespace
