#include "host_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <sstream>
#include <thread>

#include "hostkit/crossing_queue_host.h"
#include "hostkit/host_channels.h"
#include "input_error.h"
#include "report_json.h"

namespace {

// Summary records sit at ChannelId + 36. Ordinary channels take ids from the
// bands 1..36, 73..108, 145..180, so every summary id (the band above) stays free.
constexpr uint32_t kSummaryOffset = 36;
constexpr uint32_t kLastSourceId = 255;  // SourceIds entries are 8 bits wide

uint32_t NextOrdinaryId(uint32_t id) {
    ++id;
    if (((id - 1) / kSummaryOffset) % 2 == 1) id += kSummaryOffset;
    return id;
}

// Extra result entries past the recording: the leading-ramp exports write a
// quarter window beyond the block, and windows read up to a window ahead.
std::size_t Padding(const PlanChannel& c) {
    std::size_t window = 64;
    for (const ArgumentValue& v : c.planArguments)
        if (v.type == 'i') window = std::max<std::size_t>(window, static_cast<std::size_t>(std::max(0, v.i)));
    return 2 * window;
}

int WindowOf(const PlanChannel& c) {
    int window = 64;
    for (std::size_t k = 0, plan = 0; k < c.shape->arguments.size(); ++k) {
        if (!c.shape->arguments[k].fromPlan) continue;
        if (c.shape->arguments[k].name == "fftSize") window = std::max(window, c.planArguments[plan].i);
        ++plan;
    }
    return window;
}

// A bit pattern no export computes: a quiet NaN with a payload of its own.
constexpr uint32_t kUnwritten = 0x7FC0A3B5u;

bool IsUnwritten(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == kUnwritten;
}

// Calls an export for the recording's last block and returns the end of the
// stretch it wrote: positions after it wait for windows or periods that
// samples after the recording's end would complete. The block's positions are
// marked beforehand and given back their earlier values afterwards where the
// export left them, so later readers never see the marks; the export itself
// reads only entries before the positions it writes (its ramps' anchors).
template <class CallOnce>
std::size_t WrittenEnd(float* results, std::size_t start, std::size_t n, CallOnce call) {
    const std::vector<float> before(results + start, results + n);
    float mark;
    std::memcpy(&mark, &kUnwritten, sizeof mark);
    std::fill(results + start, results + n, mark);
    call();
    std::size_t end = start;
    for (std::size_t i = start; i < n; ++i) {
        if (IsUnwritten(results[i])) results[i] = before[i - start];
        else end = i + 1;
    }
    return end;
}

// The end of the stretch a block export's curve is final over. The crossing
// trackers fill the positions after their last crossing with a held value (0
// in a recording's first block) until a later crossing gives the period: the
// three-slot trackers write each value about two periods late, so after the
// last block positions up to the oldest crossing they hold (TrackState[2])
// carry their values; the period-by-period tracker's are final up to its last
// crossing (TrackState[0]); the pulse-queue tracker's up to the crossing one
// revolution after its oldest (q[P], exclusive). Other exports are final up
// to what their last block wrote.
std::size_t CompletedEnd(const ExportShape& shape, const ChannelInfo& record, std::size_t written, std::size_t n) {
    written = std::min(written, n);
    double crossing;
    switch (shape.curve) {
        case BlockCurve::ThreeSlots: crossing = record.TrackState[2]; break;
        case BlockCurve::PeriodByPeriod: crossing = record.TrackState[0]; break;
        case BlockCurve::PulseQueue:
            crossing = CrossingQueueAt(&record, static_cast<uint32_t>(std::max(1.0, std::floor(record.PulsesPerRev)))) - 1.0;
            break;
        default: return written;
    }
    if (!(crossing > 0.0)) return written;  // the tracker never started: report the curve as it is
    const std::size_t end = static_cast<std::size_t>(crossing) + 1;
    return end < written ? end : written;
}

// The start of the stretch a curve holds computed values over: the trackers
// hold 0 until their first period (or revolution) completes; the other
// exports compute from position 0.
std::size_t TrackedStart(const ExportShape& shape, const float* values, std::size_t end) {
    if (!shape.Tracker()) return 0;
    std::size_t start = 0;
    while (start < end && values[start] == 0.0f) ++start;
    return start;
}

}  // namespace

namespace {

// Seconds loaded on each side of a span: the trackers run in over them (the
// longest period a tracker measures is 1.5 s for three periods) and curves
// complete their windows past the span's end.
constexpr double kSpanRunIn = 2.0;
// A record this far off its nominal frequency reads windows of nominal cycles
// noticeably off (about half this in the fundamental), so the report says so.
constexpr double kOffNominal = 2e-4;
// Whole cycles the host's own phasors take for the rotation check.
constexpr int kRotationCycles = 10;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
constexpr double kPi = 3.14159265358979323846;

std::string Format(double v, int precision = 6) {
    std::ostringstream s;
    s << std::setprecision(precision) << v;
    return s.str();
}

std::string Where(const Plan& plan, const PlanChannel& c) { return plan.file + ":" + std::to_string(c.line) + ": "; }

// Bytes the system can still give: available memory and free swap.
double MemoryAvailable() {
    std::FILE* info = std::fopen("/proc/meminfo", "r");
    if (info == nullptr) return HUGE_VAL;
    double total = 0.0;
    char key[64];
    double kib;
    while (std::fscanf(info, "%63s %lf kB", key, &kib) == 2)
        if (std::strcmp(key, "MemAvailable:") == 0 || std::strcmp(key, "SwapFree:") == 0) total += kib * 1024.0;
    std::fclose(info);
    return total > 0.0 ? total : HUGE_VAL;
}

// The window arguments of a line: their value in samples and what they span.
struct WindowArgument {
    const char* name;
    int samples;  // the samples the window covers (windowSize: the moving average)
};

std::vector<WindowArgument> WindowArguments(const PlanChannel& c) {
    std::vector<WindowArgument> windows;
    for (std::size_t k = 0, plan = 0; k < c.shape->arguments.size(); ++k) {
        const ExportArgument& a = c.shape->arguments[k];
        if (!a.fromPlan) continue;
        const int value = c.planArguments[plan++].i;
        if (a.name == "fftSize" && c.shape->window != Window::Step) windows.push_back({"window", value});
        if (a.name == "windowSize" && c.shape->AverageDivisor() > 0)
            windows.push_back({"moving average", value / c.shape->AverageDivisor()});
    }
    return windows;
}

// Windows that do not hold whole cycles, and transforms whose bin 1 is not the fundamental.
void WarnWindows(const Plan& plan, const TimeBase& time, std::vector<std::string>& warnings) {
    const double perCycle = time.SamplesPerCycle();
    if (perCycle <= 0.0) return;
    for (const PlanChannel& c : plan.channels) {
        for (const WindowArgument& w : WindowArguments(c)) {
            const double cycles = w.samples / perCycle;
            const bool harmonic = c.shape->window == Window::FullTransform;  // reads the bin of its HarmonicOrder
            if (std::fabs(cycles - std::round(cycles)) > 1e-6 * cycles || std::round(cycles) < 1.0)
                warnings.push_back(Where(plan, c) + "the " + w.name + " of " + c.shape->name + " (" +
                                   std::to_string(w.samples) + " samples) holds " + Format(cycles, 4) + " cycles at " +
                                   Format(time.rate) + " S/s: the fundamental is right only over whole cycles (write `cycle`)");
            else if (!harmonic && std::string(w.name) == "window" && std::round(cycles) >= 2.0)
                warnings.push_back(Where(plan, c) + "the window of " + c.shape->name + " holds " + Format(cycles) +
                                   " cycles: its bin 1 is " + Format(time.cycleFrequency / cycles) +
                                   " Hz, not the fundamental (write `cycle`)");
        }
    }
}

// Integer rate arguments the rate does not give exactly: the exports' values scale with them.
void WarnRateArguments(const Plan& plan, double rate, std::vector<std::string>& warnings) {
    const double exact = rate * 0.02;
    const double passed = std::round(exact);
    if (std::fabs(passed - exact) < 1e-9 * exact) return;
    for (const PlanChannel& c : plan.channels) {
        const bool uses = std::any_of(c.shape->arguments.begin(), c.shape->arguments.end(), [](const ExportArgument& a) {
            return a.name == "samplesPer20ms";
        });
        if (!uses || c.hostArgumentOverrides.count("samplesPer20ms")) continue;
        const double off = (passed / exact - 1.0) * 100.0;
        warnings.push_back(Where(plan, c) + c.shape->name + " takes samplesPer20ms as a whole number: " + Format(exact) +
                           " at " + Format(rate) + " S/s is passed as " + Format(passed) + ", so its values read " +
                           Format(std::fabs(off), 3) + " % " + (off > 0 ? "high" : "low"));
    }
}

// Whether the plan line gives the export's integer argument of this name a value other than 0.
bool PlanSetsNonZero(const PlanChannel& c, const std::string& name) {
    for (std::size_t k = 0, planIndex = 0; k < c.shape->arguments.size(); ++k) {
        if (!c.shape->arguments[k].fromPlan) continue;
        if (c.shape->arguments[k].name == name) return c.planArguments[planIndex].i != 0;
        ++planIndex;
    }
    return false;
}

// Rescans of the whole record at every block, past this many positions read, get a warning.
constexpr double kRescanWarning = 1e10;

// Tracker arguments that do not suit a host's blocks: refreshExtremes = 1
// rescans all positions for their extremes at every block (the host has set
// them from the same array already), singleShot = 1 forgets the tracking.
void WarnTrackerArguments(const Plan& plan, std::size_t n, int block, std::vector<std::string>& warnings) {
    const double blocks = std::ceil(static_cast<double>(n) / block);
    for (const PlanChannel& c : plan.channels) {
        if (PlanSetsNonZero(c, "refreshExtremes") && blocks * static_cast<double>(n) >= kRescanWarning)
            warnings.push_back(Where(plan, c) + c.shape->name + " with refreshExtremes=1 rescans all " +
                               std::to_string(n) + " positions at each of its " + Format(blocks) +
                               " blocks; the host has set the extremes from the record, so 0 gives the same values at once");
        // A single-shot call is the whole record in one call: in blocks
        // the tracker forgets its last crossing after every block.
        if (PlanSetsNonZero(c, "singleShot") && blocks > 1)
            warnings.push_back(Where(plan, c) + c.shape->name + " with singleShot=1 clears its tracking after every "
                               "block, so periods across block ends are lost; in blocks use 0");
    }
}

// Record fields an export reads that the plan left at zero, with what zero does.
struct FieldNeed {
    const char* field;
    const char* consequence;
};

std::vector<FieldNeed> FieldsNeeded(Setting setting) {
    switch (setting) {
        case Setting::UseSource:
            return {{"UseSource", "0 measures the record's own, empty result array; UseSource=1 measures the source"}};
        case Setting::HarmonicOrder: return {{"HarmonicOrder", "0 reads no harmonic; HarmonicOrder=5 reads the fifth"}};
        case Setting::CalcKind:
            return {{"CalcKind", "CalcKind=1 selects active power, 2 reactive; 0 gives zeros or reactive power"}};
        case Setting::None: break;
    }
    return {};
}

void WarnFieldsNotSet(const Plan& plan, std::vector<std::string>& warnings) {
    for (std::size_t k = 0; k < plan.channels.size(); ++k) {
        const PlanChannel& c = plan.channels[k];
        for (const FieldNeed& need : FieldsNeeded(c.shape->setting)) {
            bool set = std::find(c.fieldsSet.begin(), c.fieldsSet.end(), need.field) != c.fieldsSet.end();
            for (const RecordSettings& s : plan.settings)
                if (s.channel.computed == static_cast<int>(k))
                    for (const FieldSetting& f : s.fields) set = set || f.field == need.field;
            if (!set)
                warnings.push_back(Where(plan, c) + c.shape->name + " reads " + need.field +
                                   ", which the plan does not set: " + need.consequence);
        }
    }
}

// The fundamental phasor of a stretch of whole cycles.
std::complex<double> Phasor(const float* x, std::size_t n, double perCycle) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * std::polar(1.0, -2.0 * kPi * i / perCycle);
    return sum;
}

double Rms(const float* v, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

bool IsVoltageUnit(const std::string& unit) { return !unit.empty() && (unit.back() == 'V' || unit.back() == 'v'); }

// One computed channel while the run goes on.
struct Computed {
    const PlanChannel* plan;
    ChannelInfo* record;
    float* results;
    void* address;
    std::vector<float*> buffers;
    std::size_t writtenEnd = SIZE_MAX;  // the end of what the last block wrote
    float* puParams = nullptr;
    std::size_t carried = 0;  // where the next call begins, for exports not called over the block alone
};

int QuarterWindow(const PlanChannel& c) {
    for (std::size_t k = 0, plan = 0; k < c.shape->arguments.size(); ++k) {
        if (!c.shape->arguments[k].fromPlan) continue;
        if (c.shape->arguments[k].name == "fftSize") return std::max(1, c.planArguments[plan].i / 4);
        ++plan;
    }
    return 1;
}

struct Stretch {
    std::size_t start;
    int count;
};

// The positions an export is called over for the block [start, start + count)
// of a recording of n samples; count 0 when it waits for the next block.
Stretch StretchFor(Computed& k, std::size_t start, int count, std::size_t n) {
    const std::size_t end = start + static_cast<std::size_t>(count);
    const std::size_t from = k.carried;
    switch (k.plan->shape->curve) {
        case BlockCurve::QuarterWindows: {
            const std::size_t q = static_cast<std::size_t>(QuarterWindow(*k.plan));
            const std::size_t whole = end == n ? n : from + (end - from) / q * q;
            k.carried = whole;
            // From position 0 each window writes the quarter window below it,
            // so the last one is left for the next call, which writes from its start on.
            if (from == 0 && whole != n && whole > q) k.carried = whole - q;
            return {from, static_cast<int>(whole - from)};
        }
        case BlockCurve::FromPreviousBlock:
            k.carried = start;
            return {from, static_cast<int>(end - from)};
        default:
            break;
    }
    return {start, count};
}

// Runs task(i, shared) for each i of order on up to `jobs` threads, the
// calling one among them. A task starts once every task in waitsFor[i] has
// finished, the ready ones in the order given; `shared` is a mutex the tasks
// may take for what they share. After a task throws, no new task starts, and
// the first exception is thrown here once the running ones have ended.
template <class Task>
void RunInOrder(const std::vector<std::size_t>& order, const std::vector<std::vector<std::size_t>>& waitsFor, int jobs,
                Task task) {
    std::mutex shared;
    std::condition_variable changed;
    std::vector<char> started(waitsFor.size(), 0), finished(waitsFor.size(), 0);
    std::size_t remaining = order.size();
    std::exception_ptr error;
    auto ready = [&](std::size_t i) {
        return !started[i] && std::all_of(waitsFor[i].begin(), waitsFor[i].end(), [&](std::size_t d) { return finished[d] != 0; });
    };
    auto work = [&] {
        std::unique_lock<std::mutex> lock(shared);
        for (;;) {
            auto next = order.end();
            changed.wait(lock, [&] {
                next = std::find_if(order.begin(), order.end(), ready);
                return error || remaining == 0 || next != order.end();
            });
            if (error || remaining == 0) return;
            const std::size_t i = *next;
            started[i] = 1;
            lock.unlock();
            try {
                task(i, shared);
                lock.lock();
                finished[i] = 1;
                --remaining;
            } catch (...) {
                lock.lock();
                if (!error) error = std::current_exception();
            }
            changed.notify_all();
        }
    };
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), order.size());
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& h : helpers) h.join();
    if (error) std::rethrow_exception(error);
}

// Runs task(i) for every i below n on up to `jobs` threads, in no set order.
template <typename Task>
void ForEachOnThreads(std::size_t n, int jobs, Task task) {
    std::vector<std::size_t> all(n);
    std::iota(all.begin(), all.end(), std::size_t{0});
    RunInOrder(all, std::vector<std::vector<std::size_t>>(n), jobs, [&](std::size_t i, std::mutex&) { task(i); });
}

class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled), begin_(std::chrono::steady_clock::now()) {}
    void Show(double fraction) {
        if (!enabled_) return;
        // Only recordings that take a while get a bar.
        if (std::chrono::steady_clock::now() - begin_ < std::chrono::seconds(1)) return;
        const int width = 40, done = static_cast<int>(fraction * width);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(done, '#').c_str(), std::string(width - done, ' ').c_str(),
                     static_cast<int>(fraction * 100.0));
        shown_ = true;
    }
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 48, "");
    }

private:
    bool enabled_, shown_ = false;
    std::chrono::steady_clock::time_point begin_;
};

// One run of a plan over a recording, phase by phase.
class PlanRun {
public:
    PlanRun(const RecordingFile& file, const Plan& plan, const LoadedLibrary& library, const RunOptions& options)
        : file_(file), plan_(plan), library_(library), options_(options) {}

    RunResult Run() {
        Prepare();
        Load();
        BuildRecords();
        BlockPhase();
        WholeRecordPhase();
        Statistics();
        return std::move(result_);
    }

private:
    // ---- Prepare: the rate the library sees, the stretch to load, the memory it takes ----
    void Prepare() {
        summary_.file = file_.path;
        summary_.recordedRate = file_.sampleRate;
        summary_.channelsInFile = file_.channels.size();
        used_ = plan_.UsedRecorded();
        summary_.channelsLoaded = used_.size();
        if (file_.length == 0) throw InputError(file_.path, 0, 0, "the recording has no samples");
        ChooseStretch();
        const double lineFrequency = options_.lineFrequency > 0.0 ? options_.lineFrequency : file_.lineFrequency;
        ResampleRequest nominal = options_.resample;
        const bool track = nominal.mode == ResampleRequest::Mode::Track;
        if (track) nominal.mode = ResampleRequest::Mode::Auto;
        time_ = ChooseTimeBase(file_.sampleRate, lineFrequency, nominal, 0.0);
        CheckMemory();
        reference_ = ReferenceChannel();
        if (track) {
            summary_.measuredFrequency = MeasureReference();
            time_ = ChooseTimeBase(file_.sampleRate, lineFrequency, options_.resample, summary_.measuredFrequency);
        }
        n_ = time_.resampled ? Resampler::OutputLength(file_.sampleRate, time_.rate, loadTo_ - loadFrom_) : loadTo_ - loadFrom_;
        if (time_.resampled && loadTo_ - loadFrom_ < Resampler::ShortestInput(file_.sampleRate, time_.rate, time_.cycleFrequency))
            throw InputError(file_.path, 0, 0, "the recording is too short to resample (" + std::to_string(loadTo_ - loadFrom_) +
                                                   " samples): use --resample off");
        ResolveCycles(plan_, time_.SamplesPerCycle(), time_.rate);
        SpanPositions();
        if (time_.lineFrequency <= 0.0)
            result_.warnings.push_back("the recording states no line frequency: windows are not checked against cycles "
                                       "and nothing is resampled (--line-frequency HZ)");
        WarnWindows(plan_, time_, result_.warnings);
        WarnRateArguments(plan_, time_.rate, result_.warnings);
        WarnFieldsNotSet(plan_, result_.warnings);
        WarnTrackerArguments(plan_, n_, options_.block > 0 ? options_.block : plan_.block, result_.warnings);
    }

    // The recorded samples to load: all of them, so the block phase runs over
    // the whole recording and trackers run in as they would without a span.
    void ChooseStretch() {
        const double rate = file_.sampleRate, duration = static_cast<double>(file_.length) / rate;
        loadFrom_ = 0;
        loadTo_ = file_.length;
        summary_.span = options_.spanFrom || options_.spanTo;
        if (!summary_.span) return;
        const double from = options_.spanFrom.value_or(0.0), to = std::min(options_.spanTo.value_or(duration), duration);
        if (!(from >= 0.0 && from < to))
            throw InputError("command line", 0, 0, "--span " + (options_.spanFrom ? Format(from) : "") + ":" +
                                                       (options_.spanTo ? Format(*options_.spanTo) : "") +
                                                       " holds none of the recording, which runs from 0 to " +
                                                       Format(duration) + " s");
        summary_.spanFrom = from;
        summary_.spanTo = to;
    }

    // A recording too long for memory with a span: only the span and the
    // run-in on either side are loaded, and the report says so.
    void NarrowToSpan() {
        const double rate = file_.sampleRate;
        loadFrom_ = static_cast<std::size_t>(std::max(0.0, std::floor((summary_.spanFrom - kSpanRunIn) * rate)));
        loadTo_ = std::min(file_.length, static_cast<std::size_t>(std::ceil((summary_.spanTo + kSpanRunIn) * rate)) + 1);
        result_.warnings.push_back("the whole recording does not fit below 4 GiB: the block phase ran over the span and " +
                                   Format(kSpanRunIn) + " s on either side only, and curve times count from " +
                                   Format(static_cast<double>(loadFrom_) / rate) + " s");
    }

    // Span positions at the library's rate, relative to the loaded stretch.
    void SpanPositions() {
        const double start = static_cast<double>(loadFrom_) / file_.sampleRate;
        summary_.loadedFrom = start;
        summary_.loadedTo = start + static_cast<double>(n_) / time_.rate;
        spanStart_ = summary_.span ? static_cast<std::size_t>(std::ceil((summary_.spanFrom - start) * time_.rate - 1e-9)) : 0;
        spanEnd_ = summary_.span ? std::min(n_, static_cast<std::size_t>(std::floor((summary_.spanTo - start) * time_.rate + 1e-9)))
                                 : n_;
        if (spanEnd_ <= spanStart_) throw InputError("command line", 0, 0, "--span holds no sample at the library's rate");
        if (n_ > static_cast<std::size_t>(INT32_MAX))
            throw InputError(file_.path, 0, 0, std::to_string(n_) + " positions exceed the library's 32-bit positions: "
                                                                    "run a stretch with --span FROM:TO");
        summary_.positions = n_;
    }

    // Everything the run keeps below 4 GiB, added up before anything is read.
    void CheckMemory() {
        double needed = 0.0, available = 0.0;
        if (Fits(needed, available)) return;
        if (summary_.span) {
            NarrowToSpan();
            if (Fits(needed, available)) return;
        }
        std::ostringstream message;
        message << std::fixed << std::setprecision(1) << "the plan needs " << needed / kGiB << " GiB for "
                << used_.size() + plan_.channels.size() << " channels of " << StretchPositions() / 1e6
                << " M positions; " << available / kGiB
                << " GiB are free below 4 GiB: run a stretch with --span FROM:TO, or use fewer channels";
        throw InputError(file_.path, 0, 0, message.str());
    }

    double StretchPositions() const {
        return static_cast<double>(time_.resampled ? Resampler::OutputLength(file_.sampleRate, time_.rate, loadTo_ - loadFrom_)
                                                   : loadTo_ - loadFrom_);
    }

    // Whether the loaded stretch fits: one array per used and computed channel,
    // and one more at the peak (curves are copied out one by one as their
    // arrays are released).
    bool Fits(double& needed, double& available) const {
        const double positions = StretchPositions();
        needed = positions * sizeof(float) * static_cast<double>(used_.size() + 1);
        for (const PlanChannel& c : plan_.channels) needed += (positions + static_cast<double>(Padding(c))) * sizeof(float);
        available = std::min(static_cast<double>(LowMemory::FreeBelow4GiB()), MemoryAvailable());
        return needed <= available;
    }

    // The channel the frequency is measured on: the first voltage the plan loads, else its first analog channel.
    int ReferenceChannel() const {
        int first = -1;
        for (int k : used_) {
            const RecordedChannel& c = file_.channels[static_cast<std::size_t>(k)];
            if (c.digital) continue;
            if (IsVoltageUnit(c.unit)) return k;
            if (first < 0) first = k;
        }
        return first;
    }

    double MeasureReference() {
        if (reference_ < 0 || time_.lineFrequency <= 0.0) return 0.0;
        FrequencyMeter meter(file_.sampleRate, time_.lineFrequency);
        StreamSamples(file_, {static_cast<std::size_t>(reference_)}, loadFrom_, loadTo_,
                      [&](const std::vector<const float*>& values, std::size_t, std::size_t count) { meter.Push(values[0], count); });
        summary_.measuredOn = file_.channels[static_cast<std::size_t>(reference_)].name;
        return meter.Frequency();
    }

    // ---- Load: one array per used channel, filled as the data file streams by ----
    void Load() {
        std::vector<std::size_t> chosen;
        std::vector<std::unique_ptr<Resampler>> resamplers;
        for (int k : used_) {
            float* array = host_.Memory().Floats(n_);
            arrays_[k] = array;
            chosen.push_back(static_cast<std::size_t>(k));
            if (time_.resampled)
                resamplers.push_back(std::make_unique<Resampler>(file_.sampleRate, time_.rate, time_.cycleFrequency,
                                                                 loadTo_ - loadFrom_, file_.channels[chosen.back()].digital, array));
        }
        std::optional<FrequencyMeter> meter;
        if (summary_.measuredFrequency == 0.0 && reference_ >= 0 && time_.lineFrequency > 0.0)
            meter.emplace(file_.sampleRate, time_.lineFrequency);
        const std::size_t referenceSlot = static_cast<std::size_t>(
            std::find(used_.begin(), used_.end(), reference_) - used_.begin());
        StreamSamples(file_, chosen, loadFrom_, loadTo_,
                      [&](const std::vector<const float*>& values, std::size_t first, std::size_t count) {
                          for (std::size_t k = 0; k < values.size(); ++k) {
                              if (time_.resampled) resamplers[k]->Push(values[k], count);
                              else std::memcpy(arrays_[used_[k]] + (first - loadFrom_), values[k], count * sizeof(float));
                          }
                          if (meter) meter->Push(values[referenceSlot], count);
                      });
        for (auto& r : resamplers) r->Finish();
        if (!meter) return;
        summary_.measuredFrequency = meter->Frequency();
        summary_.measuredOn = file_.channels[static_cast<std::size_t>(reference_)].name;
        const double off = summary_.measuredFrequency / time_.cycleFrequency - 1.0;
        if (summary_.measuredFrequency > 0.0 && std::fabs(off) > kOffNominal)
            result_.warnings.push_back("the recording runs at " + Format(summary_.measuredFrequency) + " Hz (" +
                                       summary_.measuredOn + "), " + Format(std::fabs(off) * 100.0, 2) + " % " +
                                       (off > 0 ? "above" : "below") + " its nominal " + Format(time_.cycleFrequency) +
                                       " Hz: windows of nominal cycles do not hold whole cycles; --resample track "
                                       "synchronises them to the measured frequency");
    }

    // ---- Build records: the used recorded channels, then the computed ones, in plan order ----
    ChannelInfo* RecordOf(const ChannelRef& ref) const {
        return ref.recorded >= 0 ? recordedRecords_.at(ref.recorded) : computed_[static_cast<std::size_t>(ref.computed)].record;
    }

    uint32_t NewId(const PlanChannel* c) {
        uint32_t id;
        if (c != nullptr && c->summaryOf) {
            id = RecordOf(*c->summaryOf)->ChannelId + kSummaryOffset;
        } else {
            lastId_ = NextOrdinaryId(lastId_);
            id = lastId_;
        }
        const std::string name = c != nullptr ? c->name : "";
        if (id > kLastSourceId + kSummaryOffset || ((c == nullptr || !c->summaryOf) && id > kLastSourceId))
            throw InputError(plan_.file, c != nullptr ? c->line : 0, 1,
                             "too many channels: the plan uses " + std::to_string(used_.size() + plan_.channels.size()) +
                                 ", and record ids are 8 bits wide (144 channels with room for their summary records)");
        if (usedIds_.count(id))
            throw InputError(plan_.file, c->line, 1, "\"" + usedIds_[id] + "\" already has a summary record");
        usedIds_[id] = name;
        return id;
    }

    // A channel's array as its samples, results and secondary data alike
    // (the library only reads a source's arrays), with its extremes and RMS
    // where later exports read them, as a recorder fills them.
    void ShareArray(ChannelInfo* r, float* data, std::size_t n) {
        r->SampleData = r->ResultData = r->SecondaryData = LowMemory::Address(data);
        float peak = 0.0f, top = n ? data[0] : 0.0f, bottom = top;
        for (std::size_t i = 0; i < n; ++i) {
            if (!std::isfinite(data[i])) continue;
            peak = std::max(peak, std::fabs(data[i]));
            top = std::max(top, data[i]);
            bottom = std::min(bottom, data[i]);
        }
        r->FullScale = peak;
        r->RatedValue = peak;
        r->SampleMax = top;
        r->SampleMin = bottom;
        r->SummaryValue = Rms(data, 0, n);  // a recorded channel's whole-record value
    }

    // A computed channel's record: its result array (shared as its samples), sources, buffers, fields.
    Computed BuildComputed(const PlanChannel& c, uint32_t listPosition) {
        ChannelInfo* r = host_.Add(NewId(&c));
        r->ListIndex = listPosition;
        Computed k{&c, r, host_.Memory().Floats(n_ + Padding(c)), library_.Resolve(c.shape->name), {}};
        r->SampleData = r->ResultData = r->SecondaryData = LowMemory::Address(k.results);
        // The self-averaging export reads its own samples: the source's array, shared.
        if (c.shape->ReadsOwnSamples()) r->SampleData = r->SecondaryData = RecordOf(c.sources[0])->SampleData;
        host_.SetUnit(r, c.unit);
        r->Scale = 1.0;
        r->ResultMax = -HUGE_VAL;  // the running extremes start empty
        r->ResultMin = HUGE_VAL;
        for (const FieldSetting& f : c.fields) ApplyField(r, f);
        if (!c.shape->ReadsOwnSamples() && !c.sources.empty()) {
            std::vector<uint8_t> ids;
            for (const ChannelRef& s : c.sources) ids.push_back(static_cast<uint8_t>(RecordOf(s)->ChannelId));
            host_.SetSources(r, ids);
        }
        const std::size_t bufferLength = static_cast<std::size_t>(std::max(WindowOf(c), 64));
        for (const ExportArgument& a : c.shape->arguments)
            if (a.type == 'b') k.buffers.push_back(host_.Memory().Floats(bufferLength));
        if (!c.puParams.empty() || std::any_of(c.shape->arguments.begin(), c.shape->arguments.end(),
                                               [](const ExportArgument& a) { return a.type == 'p'; })) {
            k.puParams = host_.Memory().Floats(std::max<std::size_t>(16, c.puParams.size()));
            std::copy(c.puParams.begin(), c.puParams.end(), k.puParams);
        }
        // The pulse-queue speed tracker keeps its crossings in a queue the host
        // constructs: 3 P + 1 entries, so each ramp reaches its value one
        // revolution after the oldest crossing.
        if (c.shape->curve == BlockCurve::PulseQueue) {
            const double pulses = std::max(1.0, std::floor(r->PulsesPerRev));
            if (!(pulses <= 100000.0))
                throw InputError(plan_.file, c.line, 1, "PulsesPerRev must be between 1 and 100000");
            queues_.push_back(std::make_unique<HostCrossingQueue>(r, static_cast<uint32_t>(3.0 * pulses + 1.0)));
        }
        return k;
    }

    void BuildRecords() {
        uint32_t listPosition = 0;
        for (int k : used_) {
            const RecordedChannel& c = file_.channels[static_cast<std::size_t>(k)];
            ChannelInfo* r = host_.Add(NewId(nullptr));
            usedIds_[r->ChannelId] = c.name;
            r->ListIndex = listPosition++;
            host_.SetUnit(r, c.unit);
            r->Scale = 1.0;
            ShareArray(r, arrays_[k], n_);
            recordedRecords_[k] = r;
        }
        computed_.reserve(plan_.channels.size());
        for (const PlanChannel& c : plan_.channels) computed_.push_back(BuildComputed(c, listPosition++));
        for (const RecordSettings& s : plan_.settings)
            for (const FieldSetting& f : s.fields) ApplyField(RecordOf(s.channel), f);
    }

    // ---- Calls ----
    std::vector<ArgumentValue> Arguments(const Computed& k, int start, int count) const {
        std::vector<ArgumentValue> values;
        std::size_t plan = 0, buffer = 0;
        const auto n = static_cast<int32_t>(n_);
        for (const ExportArgument& a : k.plan->shape->arguments) {
            if (a.fromPlan) {
                values.push_back(k.plan->planArguments[plan++]);
                continue;
            }
            ArgumentValue v;
            v.type = a.type;
            if (a.name == "start") v.i = start;
            else if (a.name == "count" || a.name == "length") v.i = count;
            else if (a.name == "recordEnd" || a.name == "resultLength" || a.name == "totalSamples") v.i = n;
            else if (a.name == "lastPosition") v.i = n - 1;
            else if (a.name == "samplesPer20ms") v.i = static_cast<int32_t>(std::lround(time_.rate * 0.02));
            else if (a.name == "samplesPerMs") v.d = time_.rate / 1000.0;
            else if (a.name == "buf") v.p = k.buffers[buffer++];
            else if (a.name == "puParams") v.p = k.puParams;
            if (auto o = k.plan->hostArgumentOverrides.find(a.name); o != k.plan->hostArgumentOverrides.end()) {
                if (a.type == 'd') v.d = o->second;
                else v.i = static_cast<int32_t>(o->second);
            }
            values.push_back(v);
        }
        return values;
    }

    double Call(Computed& k, std::size_t start, std::size_t count) {
        void* first = host_.List();
        void* second = k.record;
        if (k.plan->shape->records > 0) {
            first = RecordOf(k.plan->sources[0]);
            second = k.plan->sources.size() > 1 ? RecordOf(k.plan->sources[1]) : nullptr;
        }
        return CallExport(k.address, *k.plan->shape, first, second,
                          Arguments(k, static_cast<int>(start), static_cast<int>(count)));
    }

    bool UsedAsSource(std::size_t index) const {
        for (const PlanChannel& c : plan_.channels)
            for (const ChannelRef& s : c.sources)
                if (s.computed == static_cast<int>(index)) return true;
        return false;
    }

    // ---- Block phase: each block channel over the whole loaded stretch, block by block ----
    // Channels run side by side on up to options_.jobs threads. A channel
    // waits for every channel before it in the plan that it must follow (see
    // MustFollow), so each call finds the records as a run in plan order leaves them.
    void BlockPhase() {
        std::vector<std::size_t> order;
        for (std::size_t index = 0; index < computed_.size(); ++index)
            if (computed_[index].plan->shape->kind == ExportKind::Block) order.push_back(index);
        std::vector<std::vector<std::size_t>> waitsFor(computed_.size());
        for (std::size_t j : order)
            for (std::size_t i : order)
                if (i < j && MustFollow(j, i)) waitsFor[j].push_back(i);
        Progress progress(options_.progress);
        std::vector<double> share(computed_.size(), 0.0);  // of each channel's blocks done
        RunInOrder(order, waitsFor, options_.jobs, [&](std::size_t index, std::mutex& shared) {
            RunBlockChannel(index, [&](double fraction) {
                std::lock_guard<std::mutex> lock(shared);
                share[index] = fraction;
                double done = 0.0;
                for (double f : share) done += f;
                progress.Show(done / static_cast<double>(order.size()));
            });
        });
    }

    // Channel `later` waits for channel `earlier` when it reads its curve, or
    // when the two share a source record and one of them may write that
    // record's fields (the trackers refresh a source's extremes in place).
    bool MustFollow(std::size_t later, std::size_t earlier) const {
        const PlanChannel& a = *computed_[later].plan;
        const PlanChannel& b = *computed_[earlier].plan;
        for (const ChannelRef& s : a.sources)
            if (s.computed == static_cast<int>(earlier)) return true;
        if (!WritesSources(a) && !WritesSources(b)) return false;
        for (const ChannelRef& s : a.sources)
            for (const ChannelRef& t : b.sources)
                if (RecordOf(s) == RecordOf(t)) return true;
        return false;
    }
    // Only a tracker told to refresh its source's extremes (refreshExtremes or
    // singleShot not 0) writes into a source record.
    static bool WritesSources(const PlanChannel& c) {
        return PlanSetsNonZero(c, "refreshExtremes") || PlanSetsNonZero(c, "singleShot");
    }

    void RunBlockChannel(std::size_t index, const std::function<void(double)>& progress) {
        Computed& k = computed_[index];
        const int block = options_.block > 0 ? options_.block : plan_.block;
        if (k.address != nullptr) {
            for (std::size_t start = 0; start < n_; start += static_cast<std::size_t>(block)) {
                const int count = static_cast<int>(std::min<std::size_t>(block, n_ - start));
                CallBlock(k, start, count);
                progress(static_cast<double>(start + count) / static_cast<double>(n_));
            }
        }
        // A computed channel read by later lines reads like a recorded one, unless the plan set these fields.
        if (UsedAsSource(index)) {
            const double resultMax = k.record->ResultMax, resultMin = k.record->ResultMin;
            ShareArray(k.record, k.results, n_);
            for (const FieldSetting& f : k.plan->fields) ApplyField(k.record, f);
            k.record->ResultMax = resultMax;
            k.record->ResultMin = resultMin;
        }
    }

    void CallBlock(Computed& k, std::size_t start, int count) {
        const Stretch s = StretchFor(k, start, count, n_);
        if (s.count <= 0) return;
        // A call from position 0 is never marked: a first window may leave
        // gaps its next ramp starts from, which must keep the array's
        // initial zeros. The quarter-window ramps start from element 0,
        // which their first window writes, so theirs can be.
        const bool last = s.start + static_cast<std::size_t>(s.count) == n_ &&
                          (s.start > 0 || k.plan->shape->curve == BlockCurve::QuarterWindows);
        if (last) k.writtenEnd = WrittenEnd(k.results, s.start, n_, [&] { Call(k, s.start, static_cast<std::size_t>(s.count)); });
        else Call(k, s.start, static_cast<std::size_t>(s.count));
    }

    // ---- Whole-record phase, in plan order (the machine summaries pass results on through the records) ----
    void WholeRecordPhase() {
        for (Computed& k : computed_) {
            if (k.plan->shape->kind != ExportKind::WholeRecord || k.address == nullptr) continue;
            const double before = k.record->SummaryValue;
            const double value = Call(k, spanStart_, spanEnd_ - spanStart_);
            wholeValues_[k.plan] = value;
            // The host keeps a whole-record value in the record unless the export stored its own.
            if (std::memcmp(&before, &k.record->SummaryValue, sizeof before) == 0) k.record->SummaryValue = value;
        }
    }

    // Some whole-record exports add their curve's values in a float sum,
    // which over millions of positions drifts from the curve it wrote (a 50 Hz
    // curve over 7.68 M positions sums to 52.6 Hz). The report keeps the
    // library's value; a warning gives the curve's own mean, taken in double.
    std::string FloatSumWarning(const Computed& k, double value) const {
        const std::size_t count = spanEnd_ - spanStart_;
        if (count < kLongSum) return "";
        // Only a curve of one sign at (nearly) every position is what was
        // summed: the windowed exports leave one value per window, and a
        // waveform's mean is not its figure.
        double sum = 0.0;
        std::size_t positive = 0, negative = 0;
        for (std::size_t i = spanStart_; i < spanEnd_; ++i) {
            sum += k.results[i];
            positive += k.results[i] > 0.0f;
            negative += k.results[i] < 0.0f;
        }
        const double mean = sum / static_cast<double>(count);
        if (std::max(positive, negative) < count - count / 100 || !(std::fabs(value - mean) > kFloatSumDrift * std::fabs(mean)))
            return "";
        const PlanChannel& c = *k.plan;
        return Where(plan_, c) + c.shape->name + " returns " + Format(value) + " " + c.unit + ", its float sum over " +
               std::to_string(count) + " positions; the curve it wrote averages " + Format(mean) + " " + c.unit + " (" +
               Format(100.0 * (value - mean) / mean, 3) + " %): a shorter --span keeps the sum closer";
    }
    static constexpr std::size_t kLongSum = std::size_t{1} << 20;
    static constexpr double kFloatSumDrift = 1e-4;

    // ---- Statistics: the reported figure of every channel, the curves, the warnings ----
    void Statistics() {
        result_.sampleRate = time_.rate;
        std::map<const PlanChannel*, std::size_t> completedEnds;  // of the block channels reported so far
        for (Computed& k : computed_) {
            const PlanChannel& c = *k.plan;
            ReportRow row{c.label, c.shape->name, c.unit, 0.0, k.address == nullptr, c.expect, c.tolerance, {}, c.name};
            if (c.shape->kind == ExportKind::WholeRecord) {
                row.value = wholeValues_[k.plan];
            } else {
                std::size_t to = std::min(spanEnd_, CompletedEnd(*c.shape, *k.record, k.writtenEnd, n_));
                // A curve computed from other curves is final only as far as they are.
                for (const ChannelRef& source : c.sources)
                    if (source.computed >= 0)
                        if (auto e = completedEnds.find(&plan_.channels[static_cast<std::size_t>(source.computed)]);
                            e != completedEnds.end())
                            to = std::min(to, e->second);
                completedEnds[k.plan] = to;
            }
            result_.rows.push_back(row);
        }
        // The curves' figures and the whole-record values' checks, side by side.
        std::vector<std::string> floatSums(computed_.size());
        ForEachOnThreads(computed_.size(), options_.jobs, [&](std::size_t i) {
            const Computed& k = computed_[i];
            ReportRow& row = result_.rows[i];
            if (row.absent) return;
            if (k.plan->shape->kind == ExportKind::Block)
                row.value = CurveFigure(*k.plan, k.results, completedEnds.at(k.plan), row.note);
            else
                floatSums[i] = FloatSumWarning(k, row.value);
        });
        for (std::string& w : floatSums)
            if (!w.empty()) result_.warnings.push_back(std::move(w));
        CheckRotation();
        // Nothing reads the arrays any more: each curve's copy takes the place
        // of the arrays released before it. The copies (most of this phase on
        // a long record: the pages are new) run on the block phase's threads.
        for (const auto& [k, array] : arrays_) host_.Memory().Release(array);
        std::vector<std::optional<Curve>> curves(computed_.size());
        ForEachOnThreads(computed_.size(), options_.jobs, [&](std::size_t i) {
            const Computed& k = computed_[i];
            const PlanChannel& c = *k.plan;
            if (c.shape->kind == ExportKind::Block) {
                const std::size_t to = completedEnds.at(k.plan);
                curves[i] = Curve{c.name, c.unit, std::vector<float>(k.results, k.results + n_), c.plot, c.label,
                                  TrackedStart(*c.shape, k.results, to), to, result_.rows[i].AbsoluteTolerance()};
            }
            host_.Memory().Release(k.results);
        });
        for (std::optional<Curve>& c : curves)
            if (c) result_.curves.push_back(std::move(*c));
        summary_.timeBase = time_;
        result_.recording = summary_;
        result_.startTime = file_.startTime;
        result_.triggerTime = file_.triggerTime;
        for (const std::string& w : result_.warnings) std::fprintf(stderr, "ampora-host: warning: %s\n", w.c_str());
    }

    // The mean (rms, last) of a block curve over the span, or from a quarter
    // into the recording when no span is given, up to where it is final.
    double CurveFigure(const PlanChannel& c, const float* values, std::size_t to, std::string& note) const {
        std::size_t from = summary_.span ? spanStart_ : n_ / 4;
        if (to <= from) {
            if (summary_.span) {
                note = "no complete value in the span";
                return std::nan("");
            }
            to = n_;  // nothing final past the settling quarter: report the curve as it is
        }
        if (to < spanEnd_) note = "to " + Seconds(to) + " s";
        if (c.statistic == Statistic::Rms) return Rms(values, from, to);
        if (c.statistic == Statistic::Last) return values[to - 1];
        double sum = 0.0;
        for (std::size_t i = from; i < to; ++i) sum += values[i];
        return sum / static_cast<double>(to - from);
    }

    std::string Seconds(std::size_t position) const {
        std::ostringstream s;
        s << std::fixed << std::setprecision(3) << summary_.loadedFrom + static_cast<double>(position) / time_.rate;
        return s.str();
    }

    // A three-phase set turning the other way (or two phases swapped): its
    // negative-sequence fundamental exceeds the positive one.
    void CheckRotation() {
        const double perCycle = time_.SamplesPerCycle();
        if (perCycle <= 0.0) return;
        const std::size_t length = std::min(spanEnd_ - spanStart_, static_cast<std::size_t>(kRotationCycles * perCycle));
        const std::size_t whole = static_cast<std::size_t>(std::floor(length / perCycle)) ;
        if (whole == 0) return;
        const std::size_t n = static_cast<std::size_t>(std::llround(whole * perCycle));
        std::vector<std::string> checked;
        for (const PlanChannel& c : plan_.channels) {
            // The three-phase sets: the three phases a transform over three sources reads (the sequence
            // and line exports), the six-source exports' voltages and currents.
            std::vector<std::vector<std::size_t>> sets;
            if (c.sources.size() == 3 && c.shape->window == Window::Transform) sets.push_back({0, 1, 2});
            if (c.sources.size() == 6) sets = {{0, 2, 4}, {1, 3, 5}};
            for (const auto& set : sets) {
                std::complex<double> x[3];
                std::string names;
                for (int p = 0; p < 3; ++p) {
                    const ChannelRef& ref = c.sources[set[p]];
                    const float* data = ref.recorded >= 0 ? arrays_.at(ref.recorded) : computed_[static_cast<std::size_t>(ref.computed)].results;
                    x[p] = Phasor(data + spanStart_, n, perCycle);
                    names += (p ? ", " : "") + ref.name;
                }
                if (std::find(checked.begin(), checked.end(), names) != checked.end()) continue;
                checked.push_back(names);
                const std::complex<double> a = std::polar(1.0, 2.0 * kPi / 3.0);
                const double positive = std::abs(x[0] + a * x[1] + a * a * x[2]);
                const double negative = std::abs(x[0] + a * a * x[1] + a * x[2]);
                if (negative > positive)
                    result_.warnings.push_back(Where(plan_, c) + "the negative-sequence fundamental of " + names + " (" +
                                               Format(negative / 3.0 / n * std::sqrt(2.0), 4) +
                                               ") exceeds the positive-sequence one (" +
                                               Format(positive / 3.0 / n * std::sqrt(2.0), 4) +
                                               "): reversed rotation or swapped phases; sequence components and "
                                               "three-wire power read wrong");
            }
        }
    }

    const RecordingFile& file_;
    Plan plan_;
    const LoadedLibrary& library_;
    RunOptions options_;
    TimeBase time_;
    RecordingSummary summary_;
    RunResult result_;
    std::vector<int> used_;
    int reference_ = -1;
    std::size_t loadFrom_ = 0, loadTo_ = 0, n_ = 0, spanStart_ = 0, spanEnd_ = 0;
    HostChannels host_{0};
    std::map<int, float*> arrays_;
    std::map<int, ChannelInfo*> recordedRecords_;
    std::vector<Computed> computed_;
    std::vector<std::unique_ptr<HostCrossingQueue>> queues_;  // released before the records
    std::map<const PlanChannel*, double> wholeValues_;
    uint32_t lastId_ = 0;
    std::map<uint32_t, std::string> usedIds_;
};

}  // namespace

double ReportRow::Deviation() const {
    if (!expect) return 0.0;
    const double d = value - *expect;
    return tolerance.relative && *expect != 0.0 ? d / std::fabs(*expect) : d;
}

bool ReportRow::Failed() const {
    if (absent || !expect) return false;
    return !(std::fabs(Deviation()) <= tolerance.value);
}

double ReportRow::AbsoluteTolerance() const {
    if (!expect) return 0.0;
    return tolerance.relative ? tolerance.value * std::fabs(*expect) : tolerance.value;
}

bool RunResult::Passed() const {
    return std::none_of(rows.begin(), rows.end(), [](const ReportRow& r) { return r.Failed(); });
}

RunResult RunPlan(const RecordingFile& file, const Plan& plan, const LoadedLibrary& library, const RunOptions& options) {
    return PlanRun(file, plan, library, options).Run();
}

RunResult RunPlan(const Recording& recording, const Plan& plan, const LoadedLibrary& library,
                  const std::string& planFile, const RunOptions& options) {
    Plan named = plan;
    if (named.file.empty()) named.file = planFile;
    return RunPlan(DescribeRecording(recording), named, library, options);
}
