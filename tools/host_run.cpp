#include "host_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>

#include "host/crossing_queue_host.h"
#include "host/host_channels.h"
#include "input_error.h"

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

double Rms(const std::vector<float>& v, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
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
    if (shape.name == "GetFrequenceStatus" || shape.name == "GetRPM") {
        crossing = record.TrackState[2];
    } else if (shape.name == "GetFrequenceStatus2") {
        crossing = record.TrackState[0];
    } else if (shape.name == "GetBSCLRPM") {
        crossing = CrossingQueueAt(&record, static_cast<uint32_t>(std::max(1.0, std::floor(record.PulsesPerRev)))) - 1.0;
    } else {
        return written;
    }
    if (!(crossing > 0.0)) return written;  // the tracker never started: report the curve as it is
    const std::size_t end = static_cast<std::size_t>(crossing) + 1;
    return end < written ? end : written;
}

// The start of the stretch a curve holds computed values over: the trackers
// hold 0 until their first period (or revolution) completes; the other
// exports compute from position 0.
std::size_t TrackedStart(const ExportShape& shape, const std::vector<float>& values, std::size_t end) {
    static const char* const kTrackers[] = {"GetFrequenceStatus", "GetFrequenceStatus2", "GetRPM",
                                            "GetBSCLRPM",         "GetPowerAvgExtra",    "GetPowerAvgSelf"};
    if (std::none_of(std::begin(kTrackers), std::end(kTrackers), [&](const char* t) { return shape.name == t; }))
        return 0;
    std::size_t start = 0;
    while (start < end && values[start] == 0.0f) ++start;
    return start;
}

std::string Seconds(std::size_t position, double rate) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << static_cast<double>(position) / rate;
    return s.str();
}

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
    switch (k.plan->shape->stretch) {
        case BlockStretch::QuarterWindows: {
            const std::size_t q = static_cast<std::size_t>(QuarterWindow(*k.plan));
            k.carried = end == n ? n : from + (end - from) / q * q;
            return {from, static_cast<int>(k.carried - from)};
        }
        case BlockStretch::FromPreviousBlock:
            k.carried = start;
            return {from, static_cast<int>(end - from)};
        case BlockStretch::Block:
            break;
    }
    return {start, count};
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

}  // namespace

double ReportRow::Deviation() const {
    if (!expect) return 0.0;
    const double d = value - *expect;
    return tolerance.relative && *expect != 0.0 ? d / std::fabs(*expect) : d;
}

double ReportRow::AbsoluteTolerance() const {
    if (!expect) return 0.0;
    return tolerance.relative ? tolerance.value * std::fabs(*expect) : tolerance.value;
}

bool ReportRow::Failed() const {
    if (absent || !expect) return false;
    return !(std::fabs(Deviation()) <= tolerance.value);
}

bool RunResult::Passed() const {
    return std::none_of(rows.begin(), rows.end(), [](const ReportRow& r) { return r.Failed(); });
}

RunResult RunPlan(const Recording& recording, const Plan& plan, const LoadedLibrary& library,
                  const std::string& planFile, const RunOptions& options) {
    const std::size_t n = recording.Length();
    if (n == 0) throw InputError(planFile, 0, 0, "the recording has no samples");
    const double rate = recording.sampleRate > 0.0 ? recording.sampleRate : plan.rate;
    HostChannels host(0);
    std::map<std::string, ChannelInfo*> byName;
    uint32_t lastId = 0;
    uint32_t listPosition = 0;
    std::map<uint32_t, std::string> usedIds;

    // Recorded channels: samples as acquired, and as finished result arrays for the whole-record exports.
    for (const RecordedChannel& c : recording.channels) {
        lastId = NextOrdinaryId(lastId);
        ChannelInfo* r = host.Add(lastId);
        usedIds[lastId] = c.name;
        r->ListIndex = listPosition++;
        host.Samples(r, c.samples);
        host.Results(r, c.samples);
        host.Secondary(r, c.samples);
        host.SetUnit(r, c.unit);
        float peak = 0.0f, top = c.samples.empty() ? 0.0f : c.samples[0], bottom = top;
        for (float v : c.samples) {
            peak = std::max(peak, std::fabs(v));
            top = std::max(top, v);
            bottom = std::min(bottom, v);
        }
        r->FullScale = peak;
        r->RatedValue = peak;
        r->Scale = 1.0;
        r->SampleMax = top;
        r->SampleMin = bottom;
        r->SummaryValue = Rms(c.samples, 0, c.samples.size());  // a recorded channel's whole-record value
        byName[c.name] = r;
    }

    std::vector<Computed> computed;
    std::vector<std::unique_ptr<HostCrossingQueue>> queues;  // released before the records
    for (const PlanChannel& c : plan.channels) {
        uint32_t id;
        if (!c.summaryOf.empty()) {
            id = byName.at(c.summaryOf)->ChannelId + kSummaryOffset;
        } else {
            lastId = NextOrdinaryId(lastId);
            id = lastId;
        }
        if (id > kLastSourceId + kSummaryOffset || (c.summaryOf.empty() && id > kLastSourceId))
            throw InputError(planFile, c.line, 1, "too many channels: channel numbers would pass 255");
        if (usedIds.count(id))
            throw InputError(planFile, c.line, 1, "\"" + usedIds[id] + "\" already has a summary record");
        usedIds[id] = c.name;
        ChannelInfo* r = host.Add(id);
        r->ListIndex = listPosition++;
        const std::size_t length = n + Padding(c);
        Computed k{&c, r, host.Results(r, length), library.Resolve(c.shape->name), {}};
        const RecordedChannel* own =
            c.shape->name == "GetPowerAvgSelf" && !c.sources.empty() ? recording.Find(c.sources[0]) : nullptr;
        std::vector<float> samples(length, 0.0f);
        if (own != nullptr) std::copy(own->samples.begin(), own->samples.end(), samples.begin());
        host.Samples(r, samples);
        host.Secondary(r, samples);
        host.SetUnit(r, c.unit);
        r->Scale = 1.0;
        r->ResultMax = -HUGE_VAL;  // the running extremes start empty
        r->ResultMin = HUGE_VAL;
        for (const FieldSetting& f : c.fields) ApplyField(r, f);
        if (own == nullptr && !c.sources.empty()) {
            auto* ids = static_cast<uint8_t*>(host.Memory().Bytes(c.sources.size()));
            for (std::size_t s = 0; s < c.sources.size(); ++s) ids[s] = static_cast<uint8_t>(byName.at(c.sources[s])->ChannelId);
            r->SourceIds = LowMemory::Address(ids);
            r->SourceByIndex = 0;
        }
        const std::size_t bufferLength = static_cast<std::size_t>(std::max(WindowOf(c), 64));
        for (const ExportArgument& a : c.shape->arguments)
            if (a.type == 'b') k.buffers.push_back(host.Memory().Floats(bufferLength));
        if (!c.puParams.empty() || std::any_of(c.shape->arguments.begin(), c.shape->arguments.end(),
                                               [](const ExportArgument& a) { return a.type == 'p'; })) {
            k.puParams = host.Memory().Floats(std::max<std::size_t>(16, c.puParams.size()));
            std::copy(c.puParams.begin(), c.puParams.end(), k.puParams);
        }
        // The pulse-queue speed tracker keeps its crossings in a queue the host
        // constructs: 3 P + 1 entries, so each ramp reaches its value one
        // revolution after the oldest crossing.
        if (c.shape->name == "GetBSCLRPM") {
            const double pulses = std::max(1.0, std::floor(r->PulsesPerRev));
            if (!(pulses <= 100000.0))
                throw InputError(planFile, c.line, 1, "PulsesPerRev must be between 1 and 100000");
            queues.push_back(std::make_unique<HostCrossingQueue>(r, static_cast<uint32_t>(3.0 * pulses + 1.0)));
        }
        byName[c.name] = r;
        computed.push_back(std::move(k));
    }
    for (const RecordSettings& s : plan.settings)
        for (const FieldSetting& f : s.fields) ApplyField(byName.at(s.channel), f);

    auto Arguments = [&](const Computed& k, int start, int count) {
        std::vector<ArgumentValue> values;
        std::size_t plan = 0, buffer = 0;
        for (const ExportArgument& a : k.plan->shape->arguments) {
            if (a.fromPlan) {
                values.push_back(k.plan->planArguments[plan++]);
                continue;
            }
            ArgumentValue v;
            v.type = a.type;
            if (a.name == "start") v.i = start;
            else if (a.name == "count" || a.name == "length") v.i = count;
            else if (a.name == "recordEnd" || a.name == "resultLength" || a.name == "totalSamples") v.i = static_cast<int32_t>(n);
            else if (a.name == "lastPosition") v.i = static_cast<int32_t>(n) - 1;
            else if (a.name == "samplesPer20ms") v.i = static_cast<int32_t>(std::lround(rate * 0.02));
            else if (a.name == "samplesPerMs") v.d = rate / 1000.0;
            else if (a.name == "buf") v.p = k.buffers[buffer++];
            else if (a.name == "puParams") v.p = k.puParams;
            if (auto o = k.plan->hostArgumentOverrides.find(a.name); o != k.plan->hostArgumentOverrides.end()) {
                if (a.type == 'd') v.d = o->second;
                else v.i = static_cast<int32_t>(o->second);
            }
            values.push_back(v);
        }
        return values;
    };
    auto Call = [&](Computed& k, int start, int count) {
        void* first = host.List();
        void* second = k.record;
        if (k.plan->shape->recordArguments) {
            first = byName.at(k.plan->sources[0]);
            second = k.plan->sources.size() > 1 ? byName.at(k.plan->sources[1]) : nullptr;
        }
        return CallExport(k.address, *k.plan->shape, first, second, Arguments(k, start, count));
    };

    // Block phase: every block channel for each block, start 0 first.
    const int block = options.block > 0 ? options.block : plan.block;
    Progress progress(options.progress);
    for (std::size_t start = 0; start < n; start += static_cast<std::size_t>(block)) {
        const int count = static_cast<int>(std::min<std::size_t>(block, n - start));
        for (Computed& k : computed) {
            if (k.address == nullptr || k.plan->shape->kind != ExportKind::Block) continue;
            const Stretch s = StretchFor(k, start, count, n);
            if (s.count <= 0) continue;
            // A call from position 0 is never marked: a first window may leave
            // gaps its next ramp starts from, which must keep the array's
            // initial zeros. The quarter-window ramps start from element 0,
            // which their first window writes, so theirs can be.
            const bool last = s.start + static_cast<std::size_t>(s.count) == n &&
                              (s.start > 0 || k.plan->shape->stretch == BlockStretch::QuarterWindows);
            if (last) k.writtenEnd = WrittenEnd(k.results, s.start, n, [&] { Call(k, static_cast<int>(s.start), s.count); });
            else Call(k, static_cast<int>(s.start), s.count);
        }
        progress.Show(static_cast<double>(start + count) / static_cast<double>(n));
    }

    // Whole-record phase, in plan order (the machine summaries pass results on through the records).
    RunResult result;
    result.sampleRate = rate;
    result.startTime = recording.startTime;
    result.triggerTime = recording.triggerTime;
    std::map<std::string, std::size_t> completedEnds;  // of the block channels reported so far
    for (Computed& k : computed) {
        const PlanChannel& c = *k.plan;
        ReportRow row{c.label, c.shape->name, c.unit, 0.0, k.address == nullptr, c.expect, c.tolerance, {}};
        if (c.shape->kind == ExportKind::WholeRecord) {
            if (k.address != nullptr) {
                const double before = k.record->SummaryValue;
                row.value = Call(k, 0, static_cast<int>(n));
                // The host keeps a whole-record value in the record unless the export stored its own.
                if (std::memcmp(&before, &k.record->SummaryValue, sizeof before) == 0) k.record->SummaryValue = row.value;
            }
        } else {
            std::vector<float> values(k.results, k.results + n);
            // The first quarter of the record is left out: ramps and trackers settle there.
            const std::size_t from = n / 4;
            std::size_t to = CompletedEnd(*k.plan->shape, *k.record, k.writtenEnd, n);
            // A curve computed from other curves is final only as far as they are.
            for (const std::string& source : c.sources)
                if (auto e = completedEnds.find(source); e != completedEnds.end()) to = std::min(to, e->second);
            completedEnds[c.name] = to;
            Curve curve{c.name, c.unit, {}, c.plot, c.label, TrackedStart(*c.shape, values, to), to,
                        row.AbsoluteTolerance()};
            if (to <= from) to = n;  // nothing final past the settling quarter: report the curve as it is
            if (!row.absent) {
                if (c.statistic == Statistic::Rms) row.value = Rms(values, from, to);
                else if (c.statistic == Statistic::Last) row.value = values[to - 1];
                else {
                    double sum = 0.0;
                    for (std::size_t i = from; i < to; ++i) sum += values[i];
                    row.value = sum / static_cast<double>(to - from);
                }
                if (to < n)
                    row.note = "to " + Seconds(to, rate) + " s";
            }
            curve.values = std::move(values);
            result.curves.push_back(std::move(curve));
        }
        result.rows.push_back(row);
    }
    return result;
}
