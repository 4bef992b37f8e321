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
#include <sstream>
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

// What a call that computes nothing returned, when it returned a value (GetKmByEq's none is 1.0).
std::string ReturnedValue(const ExportCall& call, double result) {
    return result == (call.name == "GetKmByEq" ? 1.0 : 0.0) ? "" : "returned " + std::to_string(result) + "\n";
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
        return guard.Report() + (broken ? ReturnedValue(call, result) : "");
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

// Broken arguments. Where the call leaves the outcome to the library (a start
// before 0 or inside the first hop, a whole-record window too short to hop, a
// harmonic order past the spectrum, a moving average of no samples, margins
// and counts at the ends of the integers) it may write what its export writes,
// at any result position, but must return soon and stay inside its arrays; a
// null work buffer or null per-unit parameters, a count of zero or less, a
// block window below the least and a list position with nothing before it
// write nothing and return no value (the trackers still record the block's
// end). Starts run with the guard pages before the arrays, the rest after them.
bool Transforms(Window w) { return w == Window::Transform || w == Window::HarmonicSum || w == Window::FullTransform; }
bool Counted(const ExportEntry& entry) {
    const std::string arguments = " " + std::string(entry.arguments) + " ";
    return arguments.find(" count ") != std::string::npos || arguments.find(" length ") != std::string::npos;
}

enum class May { Nothing, Target };
struct Variant {
    std::string what;
    May may;
    int start, count;
    Arguments given = {};
    void (*set)(ChannelInfo*) = nullptr;   // a target field set after the guard starts: an input
    int nullBuffer = -1;                    // the work buffer passed as null (4: the per-unit parameters)
    bool plain = false;   // source 0 on its plain-formula path: DataKind 2, voltages in SecondaryData
    unsigned seconds = kSecondsPerCase;
    GuardSide side = start < 0 || (start > 0 && start < 64) ? GuardSide::BeforeStart : GuardSide::AfterEnd;
    bool noValue = may == May::Nothing;   // returns 0.0 (GetKmByEq 1.0)
};

// The variants every export that takes the argument gets, from the registry's argument names.
std::vector<Variant> VariantsOf(const ExportCall& call) {
    const ExportEntry& entry = *FindExportEntry(call.name);
    const std::string arguments(entry.arguments);
    auto Takes = [&](const char* name) { return (" " + arguments + " ").find(std::string(" ") + name + " ") != std::string::npos; };
    const int count = call.block ? 1000 : kEnd;
    const bool transform = Transforms(entry.window);
    std::vector<Variant> variants;
    if (Takes("start")) variants.push_back({"start -5", May::Target, -5, count + 5});
    const int inside = 1 + static_cast<int>(call.name.size() * 7 % 63);   // inside the first hop of 64
    if (Takes("start") && call.block && transform) variants.push_back({"start " + std::to_string(inside), May::Target, inside, count});
    // The whole-record forms take windows of 2 (and of 16 where bin 21 is summed) as they come.
    const May small = call.block ? May::Nothing : May::Target;
    if (transform) variants.push_back({"fftSize 2", small, 0, count, {{"fftSize", 2}}});
    if (entry.window == Window::HarmonicSum) {
        variants.push_back({"fftSize 16", small, 0, count, {{"fftSize", 16}}});
        variants.back().noValue = true;   // a window without bin 21: the whole-record forms have no mean
    }
    if (Takes("windowSize"))
        for (const int w : {-8, 0, 1, 2}) variants.push_back({"windowSize " + std::to_string(w), May::Target, 0, count, {{"windowSize", w}}});
    // Whole-record windows above 64 that are no power of two (the full transform
    // takes none), and windows the record cannot hold: nothing to average, and
    // nothing written but the line signal an export leaves over the record.
    for (const int fft : {100, 1000, 1 << 20, 1 << 26, 1 << 30})
        if (transform && !call.block && Counted(entry) && (fft > kEnd || entry.window != Window::FullTransform)) {
            const bool none = fft > kEnd && call.span != ResultSpan::Record;
            variants.push_back({"window " + std::to_string(fft), none ? May::Nothing : May::Target, 0, kEnd, {{"fftSize", fft}}});
            variants.back().noValue = fft > kEnd;
        }
    const May counted = Takes("samplesPerMs") && call.block ? May::Target : May::Nothing;
    for (const int n : {0, -5})
        if (Counted(entry)) variants.push_back({"count " + std::to_string(n), counted, 1000, n});
    std::istringstream names(arguments);
    for (auto [name, k] = std::pair{std::string(), 0}; names >> name;)
        if (name == "buf" || name == "puParams")
            variants.push_back({"null " + name, May::Nothing, 0, count, {}, nullptr, name == "buf" ? k++ : 4});
    return variants;
}

// The broken arguments particular to some exports.
constexpr May kMay = May::Target, kNone = May::Nothing;
const std::pair<const char*, Variant> kParticular[] = {
    {"GetAngleSum", {"step 0", kMay, 0, kEnd, {{"fftSize", 0}}}},
    // Harmonic orders past the spectrum, negative and NaN.
    {"GetHarmonicValue", {"order 300", kMay, 0, 1000, {}, [](ChannelInfo* t) { t->HarmonicOrder = 300.0f; }}},
    {"GetHarmonicValue", {"order NaN", kMay, 0, 1000, {}, [](ChannelInfo* t) { t->HarmonicOrder = std::nanf(""); }}},
    {"GetHarmonicValueSum", {"order -3", kMay, 0, kEnd, {}, [](ChannelInfo* t) { t->HarmonicOrder = -3.0f; }}},
    // Records shorter than a window; a start before 0 with nothing to average.
    {"GetHarmonicValueSum", {"length 100", kNone, 0, 100}},
    {"GetUTSum", {"length 100", kNone, 0, 100}},
    {"GetUX2Sum", {"start -5, nothing to average", kNone, -5, 0}},
    // The status exports read the two records listed before position ListIndex.
    {"GetCosStatus", {"ListIndex 0", kNone, 0, 1000, {}, [](ChannelInfo* t) { t->ListIndex = 0; }}},
    {"GetPSumStatus", {"ListIndex 1", kNone, 0, 1000, {}, [](ChannelInfo* t) { t->ListIndex = 1; }}},
    // Starts before 0 on the plain-formula path and in its record means.
    {"GetThreeLinePEx", {"plain, start -5", kMay, -5, 1000, {{"windowSize", 600}}, nullptr, -1, true}},
    {"GetTwoAnglePExSum", {"plain, start -5", kMay, -5, 1000, {}, nullptr, -1, true}},
    // Margins and counts at the ends of the integers; the calculated angles'
    // float mean stops changing long before INT_MAX terms (within 10 s, emulated too).
    {"GetPowerAvgSumExtra", {"margin INT_MAX", kMay, 0, kEnd, {{"margin", INT_MAX}}}},
    {"GetFrequenceStatusSum", {"tailMargin INT_MIN", kMay, 0, kEnd, {{"tailMargin", INT_MIN}}}},
    {"GetFrequenceStatusSum", {"own data, tailMargin INT_MAX", kMay, 0, kEnd, {{"tailMargin", INT_MAX}},
                               [](ChannelInfo* t) { t->UseSource = 0; }}},
    {"GetGJ3Sum", {"count INT_MAX", kMay, 0, INT_MAX, {{"step", 1}}, nullptr, -1, false, 10}},
};

std::string RunVariant(const ExportCall& call, const Variant& v) {
    return InChild([&] {
        Recording r(true, v.side);
        float* b[4];
        for (float*& buffer : b) buffer = r.host.Memory().Floats(1024, true);
        if (v.nullBuffer >= 0 && v.nullBuffer < 4) b[v.nullBuffer] = nullptr;
        if (v.plain) FindChannelById(r.List(), call.ids[0])->DataKind = 2;
        Guard guard;
        guard.writes = v.may == May::Target ? &call : nullptr;
        guard.positions = Positions::AnyOfTheArray;
        r.onTarget = [&](ChannelInfo* t) { guard.Start(r, t); };
        ChannelInfo* t = call.target(r);
        if (v.set) v.set(t);
        if (v.nullBuffer == 4) r.puParams = nullptr;   // after the guard has watched them
        Arguments given = v.given;
        given.insert(given.end(), {{"start", v.start}, {"count", v.count}, {"length", v.count}});
        const double result = call.Call(r, t, v.start, v.count, given, b);
        return guard.Report() + (v.noValue ? ReturnedValue(call, result) : "");
    }, v.seconds);
}

// Two tests, so each stays within the emulated run's limit.
void RunVariantsOfEveryExport(May may) {
    for (const ExportCall& call : AllExportCalls())
        for (const Variant& v : VariantsOf(call)) {
            if (v.may == may) {
                EXPECT_EQ("", RunVariant(call, v)) << call.name << ", " << v.what;
            }
        }
}

TEST(HostileInput, BrokenArgumentsReturnInsideTheirArrays) {
    for (const auto& [name, v] : kParticular) EXPECT_EQ("", RunVariant(CallNamed(name), v)) << name << ", " << v.what;
    RunVariantsOfEveryExport(May::Target);
}

TEST(HostileInput, BrokenArgumentsThatWriteNothing) { RunVariantsOfEveryExport(May::Nothing); }

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
    {"offset -100", 0.1, -100.0, 0.0, 10.0, Blocks::InOrder},
    {"offset -100, one call", 0.1, -100.0, 0.0, 10.0, Blocks::WholeRecord},
    {"offset +60", 1.0, 60.0, 0.0, 10.0, Blocks::InOrder},
    {"state of a longer recording", 230.0, -10.0, 32013.6, 10.0, Blocks::InOrder},
    {"state NaN", 230.0, 0.0, kNaN, 10.0, Blocks::InOrder},
    {"state 1e30", 230.0, 0.0, 1e30, 10.0, Blocks::InOrder},
    {"blocks out of order", 1.0, -10.0, 0.0, 10.0, Blocks::Shuffled},
    {"rate 0", 230.0, 0.0, 0.0, 0.0, Blocks::InOrder},
    {"rate inf", 230.0, 0.0, 0.0, kInf, Blocks::InOrder},
    {"rate 1e-300", 230.0, 0.0, 0.0, 1e-300, Blocks::InOrder},
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
TEST(HostileInput, RandomBlocksAndWindowsStayInsideTheirArrays) {
    std::vector<const ExportCall*> calls;
    for (const ExportCall& call : AllExportCalls())
        if (call.block && LeastWindowLog2(FindExportEntry(call.name)->window) > 0) calls.push_back(&call);
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
// magnitude any length that is no power of two. Block forms, and whole-record
// forms that transform windows of the count or length they are given.
TEST(HostileInputDeathTest, WindowsTheTransformRefusesEndTheProcess) {
    const int refused[] = {-8, 0, 3, 12, 63};
    int k = 0;
    for (const ExportCall& call : AllExportCalls()) {
        const ExportEntry& entry = *FindExportEntry(call.name);
        if (!Transforms(entry.window) || !(call.block || Counted(entry))) continue;
        const int fft = entry.window == Window::FullTransform && !call.block ? 100 : refused[k++ % std::size(refused)];
        EXPECT_EXIT(
            {
                Recording r(true);
                float* b[4];
                for (float*& buffer : b) buffer = r.host.Memory().Floats(256, true);
                call.Call(r, call.target(r), 0, call.block ? 1000 : kEnd, {{"fftSize", fft}}, b);
            },
            testing::ExitedWithCode(1), "^" + std::to_string(fft) + " is not a power of two\n$")
            << call.name << ", window " << fft;
    }
}

}  // namespace
