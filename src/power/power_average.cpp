// Averages of a channel's fundamental content: the bin-1 rms over sliding
// windows (block by block and over a whole record), the fundamental power of a
// voltage/current pair over whole windows, and the rms over detected periods.
#include <algorithm>
#include <cmath>
#include <new>

#include "ampora.h"
#include "dsp/periods.h"
#include "frame/arguments.h"
#include "frame/resolve.h"
#include "power/bin_rms.h"
#include "power/pair_power.h"

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
    const int32_t total = RecordLength(totalSamples);
    const int32_t end = EndOfBlock(start, count);
    // The last position a period may start from, in 64 bits: a margin of any size.
    const int64_t lastStart = int64_t{count} - 2 * int64_t{margin} - 1;
    float sum = 0.0f;
    int periods = 0;
    try {   // the finder's memory that cannot be had ends the call as a missing source does
        PeriodFinder<RisesThrough> finder(s, 0.0f, 1, total, kShortestPeriodMs * samplesPerMs);
        // Positions before 0 are not in the record: the scan starts at 0 at the
        // earliest; past the recorded samples no later position scans anything.
        for (int32_t n = std::max(start, 0); n < end && n <= lastStart && n < total;) {
            // A scan that finds no pair finds none from a later position: the
            // record holds no more periods.
            const PeriodFound p = finder.Find(n);
            if (p.crossings < 2) break;
            double rms = 0.0;
            if (WholePeriodRms(s, p.t1, p.t2, rate, end, &rms)) {
                sum = static_cast<float>(sum + rms);
                ++periods;
            }
            n = std::max(Trunc(p.t2), n + 1);
        }
    } catch (const std::bad_alloc&) {
        return 0.0;
    }
    if (periods == 0) return 0.0;
    const float mean = static_cast<float>(static_cast<double>(sum) / periods);
    return mean;
}
