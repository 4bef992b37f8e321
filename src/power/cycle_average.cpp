// Per-sample rms curves computed over whole signal periods, tracked from block
// to block in the target record: over a source's samples, and over the
// target's own samples.
#include <algorithm>
#include <cmath>
#include <limits>

#include "ampora.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "power/period_rms.h"
#include "tracking/crossing.h"
#include "tracking/presence.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kPresenceShare = 0.02;   // 2 % of the rated value or range

// Source cycles: about 800 scanned positions per second, a 20 ms sliding rms
// where no period is found, 22 ms of quiet samples before the tracker idles.
constexpr double kSourceScanRate = 800.0;
constexpr double kSourceStepPerMs = 1.25;
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

}  // namespace

void GetPowerAvgExtra(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t /*reserved*/,
                      double samplesPerMs, int32_t resetAtEnd) {
    if (channels == nullptr) return;
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetPowerAvgExtra"), sources)) return;
    if (!UsableRate(samplesPerMs)) return;
    const float* s = SampleArray(sources[0]);
    float* r = ResultArray(target);
    const double threshold = sources[0]->RatedValue * kPresenceShare;
    const double rate = samplesPerMs * kMsPerSecond;
    // The call knows the record up to its block's end: no position past it is
    // read or written, and a step reaching beyond it examines no pair.
    const int32_t end = EndOfBlock(start, count);
    const int32_t step =
        rate <= kSourceScanRate ? 1 : TruncWithin(samplesPerMs * kSourceStepPerMs, 1, std::max(end, 1));
    const int32_t window = TruncWithin(samplesPerMs * kSlidingWindowMs, 0, std::numeric_limits<int32_t>::max());
    const int32_t quietLimit = TruncWithin(samplesPerMs * kQuietLimitMs, 0, std::numeric_limits<int32_t>::max());

    // Crossings left from a longer recording (or not numbers) are empty, and
    // an end of the written curve past this block's end starts it afresh.
    double t0 = InRecordOrNone(target->TrackState[0], end), t1 = InRecordOrNone(target->TrackState[1], end);
    double f = target->PeriodFrequency;
    int32_t periodEnd = target->PeriodEndIndex <= static_cast<uint32_t>(end) ? static_cast<int32_t>(target->PeriodEndIndex) : 0;
    uint32_t quiet = target->QuietCount;

    // A pair reaches step positions back: the scan begins where it stays
    // inside the array (the record's first block, or any block starting
    // that early). In 64 bits: a resume position past a long step must not overflow.
    for (int64_t n = std::max(start, step); n < end;) {
        const double p = s[n - step], q = s[n];
        if (RisesThrough(p, q, 0.0)) {
            const double t = CrossingPosition(n, p, q, 0.0, step);
            if (t0 == 0.0) {
                t0 = t;
                n = int64_t{Trunc(t)} + 2 + step;
                continue;
            }
            t1 = t;
            if (!(t0 > 0.0 && t1 > 0.0)) {
                n += step;
                continue;
            }
            const double d = t1 - t0;
            if (d < samplesPerMs * kSpuriousPeriodMs) {
                t1 = 0.0, f = 0.0, quiet = 0;
                n = int64_t{Trunc(t)} + 2 + step;
                continue;
            }
            if (d > samplesPerMs * kLongestPeriodMs) {
                SlidingFill(s, r, periodEnd, Trunc(t1), window, end);
                periodEnd = Trunc(t1);
                t0 = t1, t1 = 0.0, f = 0.0;
                n = int64_t{Trunc(t0)} + step + 2;
                continue;
            }
            const float rms = CrossingPeriodRms(s, t0, t1);
            const bool present = rms > threshold;
            const double prev = r[std::max(periodEnd - 1, 0)];   // the last value written
            for (int32_t k = Trunc(t0); k < Trunc(t1); ++k) {
                const float stored =
                    present && f > 0.0 ? static_cast<float>((rms - prev) / (t1 - t0) * (k - t0) + prev) : rms;
                r[k] = stored;
            }
            f = present ? rate / (t1 - t0) : 0.0;
            periodEnd = Trunc(t1);
            t0 = t1, t1 = 0.0, quiet = 0;
            n = int64_t{Trunc(t0)} + 1 + 2 * int64_t{step};
            continue;
        }
        if (std::fabs(q) > threshold) {
            // The signal returns after quiet samples with no running period:
            // the tracker restarts at this sample.
            if (quiet > 0 && f == 0.0) {
                t0 = static_cast<double>(n), t1 = 0.0;
                SlidingFill(s, r, periodEnd, static_cast<int32_t>(n), window, end);
                f = 0.0;
                periodEnd = static_cast<int32_t>(n);
            }
            quiet = 0;
        } else if (n - std::max(Trunc(t0), periodEnd) > quietLimit) {
            SlidingFill(s, r, periodEnd, static_cast<int32_t>(n), window, end);
            periodEnd = static_cast<int32_t>(n);
            f = 0.0, t0 = t1 = 0.0, quiet = 0;
        } else {
            ++quiet;
        }
        n += step;
    }

    target->LastBlockEnd = static_cast<uint32_t>(periodEnd);
    if (periodEnd > 0)
        for (int32_t k = periodEnd; k < end; ++k) r[k] = r[periodEnd - 1];
    if (resetAtEnd != 0) periodEnd = 0, target->LastBlockEnd = 0;
    target->TrackState[0] = t0;
    target->TrackState[1] = t1;
    target->PeriodFrequency = f;
    target->PeriodEndIndex = static_cast<uint32_t>(periodEnd);
    target->QuietCount = quiet;
}

namespace {

// Own-sample cycles: about 3200 scanned positions per second; a presence
// window of 5 ms (200 ms for a DataKind-2 channel) below 0.2 % of the range
// is quiet.
constexpr double kSelfScanRate = 3200.0;
constexpr double kSelfStepPerMs = 0.3125;
constexpr double kPresenceWindowMs = 5.0;
constexpr double kSecondaryPresenceWindowMs = 200.0;
constexpr double kQuietShare = 0.002;
constexpr double kCycleSkipMs = 1.5;
constexpr double kFirstCrossingSkipMs = 4.0;
constexpr double kShortCycleMs = 4.0;
constexpr double kFlickerMs = 0.5;          // a short DataKind-2 cycle below this holds the last value
constexpr double kFrequencyJump = 5.0;
constexpr uint8_t kSecondaryKind = 2;

struct SelfCycle {
    const float* x;
    float* r;
    double range;
    double rate;
    int32_t blockEnd;

    // Small raw samples pass through a quiet stretch; larger ones read 0.
    void QuietCopy(int32_t from, int32_t to) const {
        for (int32_t k = from; k < to; ++k) r[k] = std::fabs(x[k]) <= range * kPresenceShare ? x[k] : 0.0f;
    }
    void Fill(int32_t from, int32_t to, double value) const {
        const float stored = static_cast<float>(value);
        for (int32_t k = from; k < to; ++k) r[k] = stored;
    }
    // The rms of a long cycle between crossings t1 and t2 over its whole
    // samples; false when they do not fit the record and the block.
    bool CycleRms(double t1, double t2, double* rms) const {
        const double f = rate / std::fabs(t1 - t2);
        const int32_t length = TruncWithin(rate / f, 0, std::numeric_limits<int32_t>::max());
        const int32_t first = PeriodFirstSample(Trunc(t1), Trunc(t2), length, blockEnd);
        if (first < 0 || length <= 0) return false;
        *rms = RmsOver(x, first, length);
        return true;
    }
};

}  // namespace

void GetPowerAvgSelf(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t /*reserved*/,
                     double samplesPerMs, int32_t totalSamples, int32_t fillEnd, int32_t holdMode) {
    if (channels == nullptr || !UsableRate(samplesPerMs)) return;
    const bool secondary = target->DataKind == kSecondaryKind;
    const int32_t total = RecordLength(totalSamples);
    const int32_t end = EndOfBlock(start, count);
    const SelfCycle c{secondary ? SecondaryArray(target) : SampleArray(target), ResultArray(target),
                      RangeOf(target), samplesPerMs * kMsPerSecond, end};
    const float* x = c.x;
    float* r = c.r;
    // Lengths from the rate reach at most across the record.
    const int32_t step = c.rate <= kSelfScanRate ? 1 : TruncWithin(samplesPerMs * kSelfStepPerMs, 1, std::max(total, 1));
    const int32_t win = TruncWithin(samplesPerMs * (secondary ? kSecondaryPresenceWindowMs : kPresenceWindowMs), 0, total);
    const int32_t skip = TruncWithin(samplesPerMs * kCycleSkipMs, 0, total);
    const int32_t firstSkip = TruncWithin(samplesPerMs * kFirstCrossingSkipMs, 1, std::max(total, 1));
    const double shortCycle = samplesPerMs * kShortCycleMs;
    const double quietLevel = c.range * kQuietShare;
    const double shortThreshold = target->RatedValue * kPresenceShare;

    // A cycle start left from a longer recording (or not a number) is none, and
    // a last final position past the record starts the curve afresh.
    double t1 = InRecordOrNone(target->CycleStart, total), t2 = 0.0, f = target->PeriodFrequency;
    int32_t lastEnd = target->LastBlockEnd <= static_cast<uint32_t>(total) ? static_cast<int32_t>(target->LastBlockEnd) : 0;
    // Every rule that sets the next position moves forward: a rule landing
    // at or before the current one (the block's last position) steps on.
    // Positions in 64 bits: a skip as long as the record must not overflow.
    auto next = [](int64_t position, int64_t n) { return std::max(position, n + 1); };

    int64_t n = std::max(start, step);
    while (n < end && n + 1 < total) {
        const int64_t span = std::min<int64_t>(win, end - n);
        float peak = 0.0f;
        int64_t k = n;
        for (; k < n + span && k < total; ++k) peak = std::max(peak, std::fabs(x[k]));
        if (k > n && peak < quietLevel) {
            c.QuietCopy(lastEnd, static_cast<int32_t>(k));
            f = 0.0, target->CycleStart = 0.0, t1 = t2 = 0.0;
            lastEnd = static_cast<int32_t>(k);
            n = next(k - 1, n);
            continue;
        }

        if (secondary) {
            // The coarse pair spans step + 1 positions but is interpolated as
            // one position apart, as the channel kind's rule has it.
            const double before = x[n - step], after = x[n + 1];
            if (!RisesThrough(before, after, 0.0)) {
                n += step;
                continue;
            }
            const double t = CrossingPosition(n + 1, before, after, 0.0);
            if (t1 == 0.0) {
                t1 = target->CycleStart = t;
                n += firstSkip;
                continue;
            }
            t2 = t;
            const double d = t2 - t1;
            if (d <= shortCycle) {
                const bool hold = f > 0.0 && d < samplesPerMs * kFlickerMs;
                const float held = r[std::max(lastEnd - 1, 0)];
                for (int32_t m = lastEnd; m < Trunc(t2); ++m) {
                    if (hold)
                        r[m] = held;
                    else
                        c.QuietCopy(m, m + 1);
                }
                f = 0.0, t1 = t2, t2 = 0.0;
                n = next(int64_t{Trunc(t1)} + skip + 1, n);
                continue;
            }
            const double cycleF = c.rate / std::fabs(t1 - t2);
            const int32_t b = Trunc(t2);
            double rms = 0.0;
            // A cycle whose samples do not fit writes nothing and leaves the
            // last final position where it was, as the fine search does: the
            // end-of-call hold covers the stretch until a cycle fits.
            const bool formed = c.CycleRms(t1, t2, &rms);
            if (f > 0.0 && (cycleF * kFrequencyJump < f || f * kFrequencyJump < cycleF)) {
                c.QuietCopy(lastEnd, b);
                lastEnd = b;
                target->CycleWriteEnd = b;
            } else if (formed && f <= 0.0) {
                c.Fill(lastEnd, b, rms);
                lastEnd = b;
            } else if (formed) {
                const double p = r[std::max(lastEnd - 1, 0)];
                const int32_t e = lastEnd;
                for (int32_t m = e; m < b; ++m) {
                    const float stored = static_cast<float>((rms - p) / (b - e + 1) * std::max(m - e + 1, 1) + p);
                    r[m] = stored;
                }
                lastEnd = b;
                target->CycleWriteEnd = b;
            }
            f = cycleF;
            target->CycleStart = t2;
            t1 = t2, t2 = 0.0;
            n = next(std::min<int64_t>(int64_t{b} + skip + 1, end - 1), n);
            continue;
        }

        // Fine search: a coarse crossing over the step, then the single pairs
        // inside it. Taking a first crossing moves the scan on by one, and
        // with it the pairs still to be examined.
        if (!RisesOffLevel(x[n - step], x[n + 1], 0.0)) {
            n += step;
            continue;
        }
        int64_t scan = n;
        for (int32_t i = 0; i < step; ++i) {
            const int64_t m = scan - step + i;
            if (!RisesOffLevel(x[m], x[m + 1], 0.0)) continue;
            const double t = CrossingPosition(m + 1, x[m], x[m + 1], 0.0);
            if (t1 == 0.0) {
                t1 = target->CycleStart = t;
                ++scan;
            } else {
                t2 = t;
                break;
            }
        }
        if (t2 == 0.0) {
            n = scan + step;
            continue;
        }
        const double d = t2 - t1;
        if (d > shortCycle) {
            double rms = 0.0;
            const int32_t b = Trunc(t2);
            if (c.CycleRms(t1, t2, &rms)) {
                c.QuietCopy(lastEnd, Trunc(t1));
                c.Fill(Trunc(t1), b, rms);
                lastEnd = b;
            }
            f = c.rate / std::fabs(t1 - t2);
            target->CycleStart = t2;
            t1 = t2, t2 = 0.0;
            n = next(std::min<int64_t>(int64_t{b} + skip + 1, end - 1), scan);
            continue;
        }
        // A short cycle is written up to its end without advancing the last
        // final position: the value it shows is provisional and the next
        // long cycle (or the hold at the end of the call) replaces it, so a
        // curve read block by block only ever keeps values of whole cycles.
        double squares = 0.0;
        for (int32_t m = Trunc(t1); m < Trunc(t2); ++m) squares += std::pow(static_cast<double>(x[m]), 2.0);
        const double rms = std::sqrt(squares / d);
        const bool flat = rms < shortThreshold || lastEnd <= 0 || r[lastEnd - 1] <= shortThreshold;
        const double p = lastEnd > 0 ? r[lastEnd - 1] : 0.0;
        for (int32_t m = lastEnd; m < Trunc(t2); ++m) {
            const float stored = static_cast<float>(flat ? rms : p + (m - lastEnd) * (rms - p) / (t2 - lastEnd));
            r[m] = stored;
        }
        f = 0.0, t1 = t2, t2 = 0.0;
        n = next(int64_t{Trunc(t1)} + skip + 1, scan);
    }

    if (holdMode == 0) {
        const float held = lastEnd > 0 ? r[lastEnd - 1] : total > 0 ? x[0] : 0.0f;
        for (int32_t m = lastEnd; m < end; ++m) r[m] = held;
    } else if (totalSamples == fillEnd) {
        const float held = r[std::max(lastEnd - 1, 0)];
        for (int32_t m = lastEnd; m < totalSamples; ++m) r[m] = held;
    }
    target->PeriodFrequency = f;
    target->LastBlockEnd = static_cast<uint32_t>(lastEnd);
}
