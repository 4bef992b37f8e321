// The measured power angle: the delay from the once-per-revolution key pulse to
// the voltage's rising zero crossings, in electrical degrees.
#include <algorithm>
#include <cmath>

#include "ampora.h"
#include "dsp/window_extremes.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "machine/angle_fold.h"
#include "dsp/crossing.h"

namespace {

constexpr double kSamplesPerMsToPerSecond = 1000.0;
constexpr double kStepwiseRateLimit = 6400.0;     // above it the voltage scan strides
constexpr double kStrideFactor = 0.15625;         // stride = samplesPerMs · 0.15625
constexpr double kLowestFrequency = 45.0;         // an accepted voltage period lies
constexpr double kHighestFrequency = 55.0;        // between 45 and 55 Hz
constexpr double kOnePeriodPerRevolutionSpeed = 3000.0;   // rev/min of a 50 Hz machine with one period per revolution
constexpr int kResumeAfterCrossing = 3;

struct MeasureRecords {
    ChannelInfo* voltage;      // ResultData v; carries KeyLevel and AngleOffset
    const float* v;
    const float* k;            // key pulse ResultData
    double frequency;          // whole-record frequency in Hz
};

bool Resolve(CPtrList* channels, ChannelInfo* target, const char* name, MeasureRecords& out) {
    ChannelInfo* sources[2];
    if (!ResolveSources(channels, target, LookupFor(name), sources)) return false;
    const ChannelInfo* f = FindSummaryRecord(channels, target, 2);
    if (f == nullptr) return false;
    out = {sources[0], ResultArray(sources[0]), ResultArray(sources[1]), f->SummaryValue};
    return true;
}

// The voltage scan's stride: every sample up to 6.4 kS/s, fewer above; a
// stride past the scanned positions (end) finds no pair, as any longer one.
int VoltageStride(double samplesPerMs, int end) {
    const double rate = samplesPerMs * kSamplesPerMsToPerSecond;
    return rate <= kStepwiseRateLimit ? 1 : TruncWithin(samplesPerMs * kStrideFactor, 1, std::max(end, 1));
}

// How the key pulses of one call are measured.
struct KeyScan {
    double level;
    int end;                 // positions [0, end) are scanned
    double rate;             // samples per second
    int stride;
    int crossingsPerPulse;   // the measurement is taken at this accepted crossing
    bool interpolateKey;     // key position interpolated, or the sample index itself
    bool restartPerPulse;    // the previous accepted crossing is forgotten at each key pulse
};

// Walks the key pulses and returns the mean delay in degrees (acc / M), or NaN
// when nothing was measured.
double MeanDelay(const MeasureRecords& r, const KeyScan& scan) {
    double acc = 0.0, lastCrossing = 0.0;
    int measured = 0;
    for (int i = 1; i < scan.end;) {
        const double before = r.k[i - 1], after = r.k[i];
        if (!RisesThrough(before, after, scan.level)) {
            ++i;
            continue;
        }
        const double key = scan.interpolateKey
                               ? static_cast<double>(static_cast<float>(CrossingPosition(i, before, after, scan.level)))
                               : static_cast<double>(i);
        if (scan.restartPerPulse) lastCrossing = 0.0;
        int accepted = 0;
        int resume = -1;
        for (int m = i + 1; scan.stride < scan.end - m; m += scan.stride) {
            const double v0 = r.v[m], v1 = r.v[m + scan.stride];
            if (!RisesThrough(v0, v1, 0.0)) continue;
            const double crossing = CrossingPosition(m + scan.stride, v0, v1, 0.0, scan.stride);
            const double frequency = scan.rate / std::fabs(crossing - lastCrossing);
            if (lastCrossing != 0.0 && !(kLowestFrequency < frequency && frequency < kHighestFrequency)) continue;
            lastCrossing = crossing;
            if (++accepted < scan.crossingsPerPulse) continue;
            acc += (crossing - key) / scan.rate * r.frequency * kFullTurnDegrees / scan.crossingsPerPulse;
            ++measured;
            // A crossing position beyond the scanned range cannot occur; clamp for safety.
            resume = static_cast<int>(std::min<double>(crossing, scan.end)) + kResumeAfterCrossing;
            break;
        }
        if (resume < 0) break;   // the voltage scan reached the end of the record
        i = resume;
    }
    return measured == 0 ? NAN : acc / measured;
}

double FoldedAngle(double meanDelay, const ChannelInfo* voltage) {
    if (std::isnan(meanDelay)) return 0.0;
    return FoldMeasuredAngle(meanDelay - voltage->AngleOffset);
}

}  // namespace

double GetGJSum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t count, double samplesPerMs,
                int32_t totalSamples) {
    MeasureRecords r;
    if (!Resolve(channels, target, "GetGJSum", r)) return 0.0;
    // Scans stay inside the arrays: at most count positions, none at or past totalSamples.
    const int end = std::min(count, totalSamples);
    if (end < 1 || !UsableRate(samplesPerMs)) return 0.0;
    if (r.voltage->KeyLevel == 0.0) {
        const double high = WindowMax(r.k, count, 0, 1, totalSamples);
        const double low = WindowMin(r.k, count, 0, 1, totalSamples);
        r.voltage->KeyLevel = (high + low) * 0.5;
    }
    // One voltage period per revolution: the crossing measured at the previous
    // key pulse lies one period back, so keeping it lets the 45-55 Hz test check
    // the period between two measurements (a 60 Hz voltage is measured once only).
    const KeyScan scan{r.voltage->KeyLevel, end, samplesPerMs * kSamplesPerMsToPerSecond,
                       VoltageStride(samplesPerMs, end), 1, true, false};
    return FoldedAngle(MeanDelay(r, scan), r.voltage);
}

double GetGJ5Sum(CPtrList* channels, ChannelInfo* target, int32_t, int32_t count, double samplesPerMs,
                 int32_t levelSamples) {
    MeasureRecords r;
    if (!Resolve(channels, target, "GetGJ5Sum", r)) return 0.0;
    if (count < 1 || !UsableRate(samplesPerMs)) return 0.0;
    const double periods = kOnePeriodPerRevolutionSpeed / r.voltage->RatedSpeed;
    if (!(periods >= 1.0 && periods < 1.0e6)) return 0.0;   // no whole period per revolution to count
    // The key level is the mean over the first levelSamples positions, read
    // only within the count positions the call names.
    const int levelEnd = std::min(levelSamples, count);
    if (levelEnd < 1) return 0.0;
    double sum = 0.0;
    for (int i = 0; i < levelEnd; ++i) sum += r.k[i];
    // Several voltage periods per revolution: the crossing measured at the
    // previous key pulse is a whole revolution back and would always fail the
    // 45-55 Hz test, so each key pulse starts its count afresh; every key pulse
    // of a steady machine is then measured.
    const KeyScan scan{sum / levelEnd, count, samplesPerMs * kSamplesPerMsToPerSecond, VoltageStride(samplesPerMs, count),
                       static_cast<int>(periods), false, true};
    return FoldedAngle(MeanDelay(r, scan), r.voltage);
}
