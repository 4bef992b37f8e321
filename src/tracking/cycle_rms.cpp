// Per-sample rms curves computed over whole signal periods, tracked from block
// to block in the target record: over a source's samples, and over the
// target's own samples.
#include <algorithm>
#include <cmath>
#include <limits>

#include "ampora.h"
#include "dsp/crossing.h"
#include "dsp/periods.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "tracking/presence.h"
#include "tracking/tracker.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kPresenceShare = 0.02;   // 2 % of the rated value or range

// Source cycles: about 800 scanned positions per second, a 20 ms sliding rms
// where no period is found, 22 ms of quiet samples before the tracker idles.
constexpr double kSourceScanRate = 800.0;
constexpr double kSlidingWindowMs = 20.0;
constexpr double kQuietLimitMs = 22.0;
constexpr double kSpuriousPeriodMs = 0.5;
constexpr double kLongestPeriodMs = 50.0;

double Squared(float x) { return std::pow(static_cast<double>(x), 2.0); }

// The 20 ms sliding rms of the curve over [from, to): the float sum of squares
// of the W samples before each position, kept by adding the newest square and
// dropping the oldest. Before the first full window the positions take the
// rms of the first window, of its samples before the block's end (blockEnd):
// no sample past the block is read.
void SlidingFill(const float* s, float* r, int32_t from, int32_t to, int32_t window, int32_t blockEnd) {
    if (from >= to || window <= 0) return;
    float squares = 0.0f;
    const int32_t first = from >= window ? from - window : 0;
    const int32_t firstEnd = ClampedSum(first, window) < blockEnd ? first + window : blockEnd;
    for (int32_t k = first; k < firstEnd; ++k) squares = static_cast<float>(squares + Squared(s[k]));
    for (int32_t k = from; k < to; ++k) {
        if (k >= window) squares = static_cast<float>(squares + Squared(s[k]) - Squared(s[k - window]));
        const float stored = static_cast<float>(std::sqrt(squares / static_cast<double>(window)));
        r[k] = stored;
    }
}

// The rms over a period between two crossing positions, its float sum of
// squares divided by the period's length.
float CrossingPeriodRms(const float* s, double t0, double t1) {
    float squares = 0.0f;
    for (int32_t k = Trunc(t0); k < Trunc(t1); ++k) squares = static_cast<float>(squares + Squared(s[k]));
    const float stored = static_cast<float>(std::sqrt(squares / (t1 - t0)));
    return stored;
}

// GetPowerAvgExtra: rising zero crossings of the source's pairs (n - step, n),
// one period at a time from T0 (TrackState[0]) to T1 ([1]). A period's rms is
// written over it, ramped from the last value while a frequency runs
// (PeriodFrequency); too short a period is a spurious crossing, too long a
// one and quiet stretches get the sliding rms. The curve is final up to
// PeriodEndIndex; QuietCount counts quiet samples. The call knows the record
// up to its block's end: no position past it is read or written.
struct SourceCycleRules : NoQuietStretch {
    const float* s;
    float* r;
    double threshold, rate, spurious, longest;
    int32_t end, step, window, quietLimit;
    OpenPeriod t;
    double f;
    int32_t periodEnd;
    uint32_t quiet;

    SourceCycleRules(const ChannelInfo* src, const ChannelInfo* target, double samplesPerMs, int32_t blockEnd)
        : s(SampleArray(src)), r(ResultArray(target)), threshold(src->RatedValue * kPresenceShare),
          rate(samplesPerMs * kMsPerSecond), spurious(samplesPerMs * kSpuriousPeriodMs),
          longest(samplesPerMs * kLongestPeriodMs), end(blockEnd),
          step(ScanStride(samplesPerMs, kSourceScanRate, blockEnd)),
          window(TruncWithin(samplesPerMs * kSlidingWindowMs, 0, std::numeric_limits<int32_t>::max())),
          quietLimit(TruncWithin(samplesPerMs * kQuietLimitMs, 0, std::numeric_limits<int32_t>::max())),
          // Crossings left from a longer recording (or not numbers) are empty,
          // and an end of the written curve past this block's end starts it afresh.
          t{InRecordOrNone(target->TrackState[0], blockEnd), InRecordOrNone(target->TrackState[1], blockEnd)},
          f(target->PeriodFrequency), periodEnd(WrittenEndOrStart(target->PeriodEndIndex, blockEnd)),
          quiet(target->QuietCount) {}

    bool CrossingAt(int64_t n, double* position) const {
        const double p = s[n - step], q = s[n];
        if (!RisesThrough(p, q, 0.0)) return false;
        *position = CrossingPosition(static_cast<double>(n), p, q, 0.0, step);
        return true;
    }
    Period Take(double position) { return t.Take(position); }
    int64_t AfterOpening(double position, int64_t) const { return int64_t{Trunc(position)} + 2 + step; }

    // A loud sample after quiet ones with no running period restarts the
    // tracker at it; a quiet stretch past the limit idles it, the curve
    // brought up to n by the sliding rms.
    int64_t Between(int64_t n, int64_t) {
        const int32_t at = static_cast<int32_t>(n);
        if (std::fabs(s[n]) > threshold) {
            if (quiet > 0 && f == 0.0) {
                t = {static_cast<double>(n), 0.0};
                SlideTo(at);
            }
            quiet = 0;
        } else if (n - std::max(Trunc(t.opening), periodEnd) > quietLimit) {
            SlideTo(at);
            t = {};
            quiet = 0;
        } else {
            ++quiet;
        }
        return n + step;
    }
    void SlideTo(int32_t to) {
        SlidingFill(s, r, periodEnd, to, window, end);
        periodEnd = to;
        f = 0.0;
    }

    int64_t Close(const Period& p, int64_t n) {
        if (!(p.opening > 0.0 && p.closing > 0.0)) return n + step;
        const int32_t opening = Trunc(p.opening), closing = Trunc(p.closing);
        if (p.Length() < spurious) {   // the closing crossing is dropped
            t.closing = 0.0, f = 0.0, quiet = 0;
            return int64_t{closing} + 2 + step;
        }
        if (p.Length() > longest) {
            SlideTo(closing);
            t.Advance();
            return int64_t{closing} + step + 2;
        }
        const float rms = CrossingPeriodRms(s, p.opening, p.closing);
        const bool present = rms > threshold;
        const double prev = r[std::max(periodEnd - 1, 0)];   // the last value written
        if (present && f > 0.0)
            RampAcross(r, opening, closing, rms - prev, prev, p.opening, p.closing);
        else
            Fill(r, opening, closing, rms);
        f = present ? rate / p.Length() : 0.0;
        periodEnd = closing;
        t.Advance();
        quiet = 0;
        return int64_t{closing} + 1 + 2 * int64_t{step};
    }

    // The positions after the final curve hold its last value until the next call.
    void Finish(ChannelInfo* target, bool resetAtEnd) {
        target->LastBlockEnd = static_cast<uint32_t>(periodEnd);
        if (periodEnd > 0) Fill(r, periodEnd, end, r[periodEnd - 1]);
        if (resetAtEnd) periodEnd = 0, target->LastBlockEnd = 0;
        target->TrackState[0] = t.opening;
        target->TrackState[1] = t.closing;
        target->PeriodFrequency = f;
        target->PeriodEndIndex = static_cast<uint32_t>(periodEnd);
        target->QuietCount = quiet;
    }
};

// Own-sample cycles: about 3200 scanned positions per second; a presence
// window of 5 ms (200 ms for a DataKind-2 channel) below 0.2 % of the range
// is quiet.
constexpr double kSelfScanRate = 3200.0;
constexpr double kPresenceWindowMs = 5.0;
constexpr double kSecondaryPresenceWindowMs = 200.0;
constexpr double kQuietShare = 0.002;
constexpr double kCycleSkipMs = 1.5;
constexpr double kFirstCrossingSkipMs = 4.0;
constexpr double kShortCycleMs = 4.0;
constexpr double kFlickerMs = 0.5;          // a short DataKind-2 cycle below this holds the last value
constexpr double kFrequencyJump = 5.0;
constexpr uint8_t kSecondaryKind = 2;

// GetPowerAvgSelf: the target's own samples, one cycle at a time from t1
// (CycleStart) to t2. Cycles longer than 4 ms write their rms up to their end
// and advance the final curve (LastBlockEnd); shorter ones write up to their
// end without advancing it. A quiet presence window resets the tracking and
// copies small samples through. The two channel kinds differ in the crossing
// search and in what their cycles write (CoarseCycleRules, FineCycleRules).
struct OwnCycleRules {
    ChannelInfo* target;
    const float* x;
    float* r;
    double range, rate, samplesPerMs, shortCycle;
    int32_t total, end, step, win, skip, firstSkip;
    OpenPeriod t;
    double f;
    int32_t lastEnd;
    int64_t scan = 0;   // the search's position: the fine search moves it on

    OwnCycleRules(ChannelInfo* record, const float* samples, double perMs, int32_t start, int32_t count,
                  int32_t totalSamples, double presenceWindowMs)
        : target(record), x(samples), r(ResultArray(record)), range(RangeOf(record)), rate(perMs * kMsPerSecond),
          samplesPerMs(perMs), shortCycle(perMs * kShortCycleMs), total(RecordLength(totalSamples)),
          end(EndOfBlock(start, count)),
          // Lengths from the rate reach at most across the record.
          step(ScanStride(perMs, kSelfScanRate, total)), win(TruncWithin(perMs * presenceWindowMs, 0, total)),
          skip(TruncWithin(perMs * kCycleSkipMs, 0, total)),
          firstSkip(TruncWithin(perMs * kFirstCrossingSkipMs, 1, std::max(total, 1))),
          // A cycle start left from a longer recording (or not a number) is
          // none, and a final end past the record starts the curve afresh.
          t{InRecordOrNone(record->CycleStart, total), 0.0}, f(record->PeriodFrequency),
          lastEnd(WrittenEndOrStart(record->LastBlockEnd, total)) {}

    // A presence window from n whose peak stays below 0.2 % of the range.
    bool Quiet(int64_t n, int64_t* next) {
        const int64_t span = std::min<int64_t>(win, end - n);
        float peak = 0.0f;
        int64_t k = n;
        for (; k < n + span && k < total; ++k) peak = std::max(peak, std::fabs(x[k]));
        if (!(k > n && peak < range * kQuietShare)) return false;
        QuietCopy(lastEnd, static_cast<int32_t>(k));
        f = 0.0, target->CycleStart = 0.0, t = {};
        lastEnd = static_cast<int32_t>(k);
        *next = k - 1;
        return true;
    }
    int64_t Between(int64_t, int64_t) const { return scan + step; }
    Period Take(double position) {
        const Period p = t.Take(position);
        if (!p.closed) target->CycleStart = position;
        return p;
    }
    int64_t AfterOpening(double, int64_t n) const { return n + firstSkip; }

    // Small raw samples pass through a quiet stretch; larger ones read 0.
    void QuietCopy(int32_t from, int32_t to) const {
        for (int32_t k = from; k < to; ++k) r[k] = std::fabs(x[k]) <= range * kPresenceShare ? x[k] : 0.0f;
    }
    // The rms of a long cycle over its whole samples; false when they do not
    // fit the record and the block.
    bool CycleRms(const Period& p, double* rms) const { return WholePeriodRms(x, p.opening, p.closing, rate, end, rms); }
    double LastWritten() const { return r[std::max(lastEnd - 1, 0)]; }

    // After a cycle the scan resumes past the skip, never before the search's
    // next position; a long cycle's resume stays inside the block.
    int64_t LongCycleEnds(const Period& p) {
        f = rate / std::fabs(p.opening - p.closing);
        target->CycleStart = p.closing;
        t.Advance();
        return std::max<int64_t>(std::min<int64_t>(int64_t{Trunc(p.closing)} + skip + 1, end - 1), scan + 1);
    }
    int64_t ShortCycleEnds(const Period& p) {
        f = 0.0;
        t.Advance();
        return std::max<int64_t>(int64_t{Trunc(p.closing)} + skip + 1, scan + 1);
    }

    void Finish(int32_t totalSamples, int32_t fillEnd, int32_t holdMode) {
        if (holdMode == 0) {
            Fill(r, lastEnd, end, lastEnd > 0 ? r[lastEnd - 1] : total > 0 ? x[0] : 0.0f);
        } else if (totalSamples == fillEnd) {
            Fill(r, lastEnd, totalSamples, r[std::max(lastEnd - 1, 0)]);
        }
        target->PeriodFrequency = f;
        target->LastBlockEnd = static_cast<uint32_t>(lastEnd);
    }
};

// DataKind 2 (SecondaryData): a coarse search over the pair (n - step, n + 1),
// interpolated as if its samples were one position apart, as the channel
// kind's rule has it. A short cycle holds the last value while a frequency
// runs and the cycle is a flicker, else copies through; a long one writes its
// rms flat (no running frequency) or ramped, and quiet copies when the
// frequency jumped by more than a factor of 5.
struct CoarseCycleRules : OwnCycleRules {
    using OwnCycleRules::OwnCycleRules;

    bool CrossingAt(int64_t n, double* position) {
        scan = n;
        const double before = x[n - step], after = x[n + 1];
        if (!RisesThrough(before, after, 0.0)) return false;
        *position = CrossingPosition(static_cast<double>(n + 1), before, after, 0.0);
        return true;
    }

    int64_t Close(const Period& p, int64_t) {
        const double d = p.Length();
        const int32_t b = Trunc(p.closing);
        if (d <= shortCycle) {
            if (f > 0.0 && d < samplesPerMs * kFlickerMs)
                Fill(r, lastEnd, b, r[std::max(lastEnd - 1, 0)]);
            else
                QuietCopy(lastEnd, b);
            return ShortCycleEnds(p);
        }
        const double cycleF = rate / std::fabs(p.opening - p.closing);
        double rms = 0.0;
        // A cycle whose samples do not fit writes nothing and leaves the final
        // end where it was, as the fine search does: the end-of-call hold
        // covers the stretch until a cycle fits.
        const bool formed = CycleRms(p, &rms);
        if (f > 0.0 && (cycleF * kFrequencyJump < f || f * kFrequencyJump < cycleF)) {
            QuietCopy(lastEnd, b);
            target->CycleWriteEnd = b;
            lastEnd = b;
        } else if (formed) {
            if (f <= 0.0) {
                Fill(r, lastEnd, b, static_cast<float>(rms));
            } else {
                // Reaches the rms at b, one step after the ramp's last position.
                const double base = LastWritten();
                RampAcross(r, lastEnd, b, rms - base, base, lastEnd - 1, b);
                target->CycleWriteEnd = b;
            }
            lastEnd = b;
        }
        return LongCycleEnds(p);
    }
};

// Other kinds (SampleData): a coarse crossing over the step, then the single
// pairs inside it; opening a cycle there moves the search on by one, and with
// it the pairs still to be examined. A long cycle copies through up to its
// opening crossing and writes its rms flat over itself; a short one is written
// provisionally (the next long cycle or the end-of-call hold replaces it).
struct FineCycleRules : OwnCycleRules {
    double shortThreshold;

    FineCycleRules(ChannelInfo* record, double perMs, int32_t start, int32_t count, int32_t totalSamples)
        : OwnCycleRules(record, SampleArray(record), perMs, start, count, totalSamples, kPresenceWindowMs),
          shortThreshold(record->RatedValue * kPresenceShare) {}

    bool CrossingAt(int64_t n, double* closing) {
        scan = n;
        if (!RisesOffLevel(x[n - step], x[n + 1], 0.0)) return false;
        double found = 0.0;
        for (int32_t i = 0; i < step; ++i) {
            const int64_t m = scan - step + i;
            if (!RisesOffLevel(x[m], x[m + 1], 0.0)) continue;
            const double position = CrossingPosition(static_cast<double>(m + 1), x[m], x[m + 1], 0.0);
            if (t.opening == 0.0) {
                t.opening = target->CycleStart = position;
                ++scan;
            } else {
                found = position;
                break;
            }
        }
        *closing = found;
        return found != 0.0;
    }

    int64_t Close(const Period& p, int64_t) {
        if (p.Length() > shortCycle) {
            double rms = 0.0;
            if (CycleRms(p, &rms)) {
                QuietCopy(lastEnd, Trunc(p.opening));
                Fill(r, Trunc(p.opening), Trunc(p.closing), static_cast<float>(rms));
                lastEnd = Trunc(p.closing);
            }
            return LongCycleEnds(p);
        }
        WriteShortCycle(p);
        return ShortCycleEnds(p);
    }

    // A short cycle's rms up to its end, flat when it or the last value is
    // below 2 % of the rated value, else ramped from the last value.
    void WriteShortCycle(const Period& p) const {
        const double rms = std::sqrt(SquaresOver(x, Trunc(p.opening), Trunc(p.closing)) / p.Length());
        const bool flat = rms < shortThreshold || lastEnd <= 0 || r[lastEnd - 1] <= shortThreshold;
        const double base = lastEnd > 0 ? r[lastEnd - 1] : 0.0;
        for (int32_t m = lastEnd; m < Trunc(p.closing); ++m) {
            const float stored =
                static_cast<float>(flat ? rms : base + (m - lastEnd) * (rms - base) / (p.closing - lastEnd));
            r[m] = stored;
        }
    }
};

}  // namespace

void GetPowerAvgExtra(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t /*reserved*/,
                      double samplesPerMs, int32_t resetAtEnd) {
    if (channels == nullptr) return;
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetPowerAvgExtra"), sources)) return;
    if (!UsableRate(samplesPerMs)) return;
    const int32_t end = EndOfBlock(start, count);
    SourceCycleRules rules(sources[0], target, samplesPerMs, end);
    // A pair reaches step positions back: the scan begins where it stays inside the array.
    Track(rules, std::max(start, rules.step), end);
    rules.Finish(target, resetAtEnd != 0);
}

void GetPowerAvgSelf(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t /*reserved*/,
                     double samplesPerMs, int32_t totalSamples, int32_t fillEnd, int32_t holdMode) {
    if (channels == nullptr || !UsableRate(samplesPerMs)) return;
    auto run = [&](auto rules) {
        // A pair reaches step positions back and one on.
        Track(rules, std::max(start, rules.step), std::min<int64_t>(rules.end, int64_t{rules.total} - 1));
        rules.Finish(totalSamples, fillEnd, holdMode);
    };
    if (target->DataKind == kSecondaryKind)
        run(CoarseCycleRules(target, SecondaryArray(target), samplesPerMs, start, count, totalSamples,
                             kSecondaryPresenceWindowMs));
    else
        run(FineCycleRules(target, samplesPerMs, start, count, totalSamples));
}
