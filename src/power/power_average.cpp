// Averages of a channel's fundamental content: the bin-1 rms over sliding
// windows (block by block and over a whole record), the fundamental power of a
// voltage/current pair over whole windows, and the rms over detected periods.
#include <algorithm>
#include <cmath>
#include <limits>

#include "ampora.h"
#include "frame/arguments.h"
#include "power/bin_rms.h"
#include "power/pair_power.h"
#include "power/period_rms.h"
#include "tracking/crossing.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kShortestPeriodMs = 2.0;   // periods above 500 Hz are not measured

// Bin 1, whatever the window: a length the reduced transform refuses ends the
// process at the first window.
int FundamentalBin(const ChannelInfo*, int) { return 1; }

// The record's last block holds its last value up to the end of the curve,
// from the last position written: a first window that ended the walk left its
// gap [fftSize, fftSize + q) open, so the hold starts at fftSize.
void HoldAfterLeadingRamps(float* result, WindowSpan block, int next, RecordEnd end) {
    const int blockEnd = EndOfBlock(block.start, block.count);
    if (blockEnd != end.recordEnd || next <= 0) return;
    const bool gapOpen = block.start == 0 && blockEnd <= block.fftSize + block.fftSize / 4;
    const int held = gapOpen ? block.fftSize : next;
    for (int k = held; k < end.resultLength; ++k) result[k] = result[held - 1];
}

// The bin-1 rms of the reduced transform: each window ends at its position and
// the ramp leads from it, as in the block power exports; a first call that ends
// with its first window writes exactly that window's positions.
constexpr BinRmsRule kPowerAvg{Transform::Reduced, FundamentalBin,
                               {RampPlacement::Leading, BlockEnd::Exclusive, WindowPlacement::ThroughPosition,
                                FirstGap::FilledWhenWalkGoesOn},
                               HoldAfterLeadingRamps};

// GetPSum: the fundamental power of a voltage/current pair over whole windows
// beginning at each position; each bin 1 becomes the RMS phasor turned by
// -PhaseShift in double and is stored once, and CalcKind 1 is active power, 2
// reactive, anything else 0.0.
constexpr PairFamily kFundamentalPower{KindOneActiveTwoReactive, 1.0, 1.0, UnroundedSum, TurnedRmsPhasor};
constexpr PairRule kPairPower{kFundamentalPower, Wiring::PhasePair, kFundamentalOnly, 1.0, kLeadingBeginningAt};

}  // namespace

void GetPowerAvg(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                 float* spec0Re, float* spec0Im, int32_t recordEnd, int32_t resultLength) {
    BinRmsBlock(kPowerAvg, {channels, target, LookupFor("GetPowerAvg")}, {start, count, fftSize}, {spec0Re, spec0Im},
                {recordEnd, resultLength});
}

double GetPowerAvgSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                      float* spec0Re, float* spec0Im) {
    return BinRmsRecord(kPowerAvg, {channels, target, LookupFor("GetPowerAvgSum")}, {start, count, fftSize},
                        {spec0Re, spec0Im});
}

double GetPSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
               float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    return PairPowerRecord(kPairPower, {channels, target, LookupFor("GetPSum")}, {start, count, fftSize},
                           {{spec0Re, spec0Im}, {spec1Re, spec1Im}});
}

double GetPowerAvgSumExtra(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t margin,
                           double samplesPerMs, int32_t totalSamples) {
    if (channels == nullptr) return 0.0;
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetPowerAvgSumExtra"), sources)) return 0.0;
    if (!UsableRate(samplesPerMs)) return 0.0;
    const float* s = ResultArray(sources[0]);
    const double rate = samplesPerMs * kMsPerSecond;
    const double shortest = kShortestPeriodMs * samplesPerMs;
    const int32_t total = RecordLength(totalSamples);
    const int32_t end = EndOfBlock(start, count);
    // The last position a period may start from, in 64 bits: a margin of any size.
    const int64_t lastStart = int64_t{count} - 2 * int64_t{margin} - 1;
    float sum = 0.0f;
    int periods = 0;
    // Positions before 0 are not in the record: the scan starts at 0 at the earliest.
    for (int32_t n = std::max(start, 0); n < end;) {
        if (n > lastStart) break;
        // Past the recorded samples no later position scans anything either.
        if (n >= total) break;
        // The first rising zero crossing after n, then the first one more
        // than the shortest period after it.
        double a = 0.0, b = 0.0;
        bool haveA = false, havePair = false;
        for (int32_t m = n + 1; m < total && !havePair; ++m) {
            const double before = s[m - 1], after = s[m];
            if (!RisesThrough(before, after, 0.0)) continue;
            const double t = CrossingPosition(m, before, after, 0.0);
            if (!haveA) {
                a = t, haveA = true;
            } else if (t - a > shortest) {
                b = t, havePair = true;
            }
        }
        // A scan from a later position sees a subset of these crossings, each no
        // further than the shortest period from its own first one: it finds no
        // pair either, so the record holds no more periods (a long flat or
        // single-crossing tail costs one scan, not one per position).
        if (!havePair) break;
        const double f = rate / std::fabs(a - b);
        // The period in whole samples (none when the rate per second overflows to infinity).
        const int32_t length = TruncWithin(rate / f, 0, std::numeric_limits<int32_t>::max());
        const int32_t last = Trunc(b);
        const int32_t first = PeriodFirstSample(Trunc(a), last, length, end);
        if (first >= 0 && length > 0) {
            sum = static_cast<float>(sum + RmsOver(s, first, length));
            ++periods;
        }
        n = std::max(last, n + 1);
    }
    if (periods == 0) return 0.0;
    const float mean = static_cast<float>(static_cast<double>(sum) / periods);
    return mean;
}
