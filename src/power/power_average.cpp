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
#include "power/phasor_step.h"
#include "power/window_walk.h"

namespace {

// The block walk of the bin-1 rms: each window ends at its position and the
// ramp leads from it, as in the block power exports; a first call that ends
// with its first window writes exactly that window's positions.
constexpr BlockWalk kAverageWalk{RampPlacement::Leading, BlockEnd::Exclusive, WindowPlacement::ThroughPosition,
                                 FirstGap::FilledWhenWalkGoesOn};

constexpr double kMsPerSecond = 1000.0;
constexpr double kShortestPeriodMs = 2.0;   // periods above 500 Hz are not measured
constexpr double kBinScale = 2.0;           // a bin holds half the amplitude of its cosine

// Bin 1 of a transform of P points as the rms magnitude of the fundamental.
double FundamentalRms(double re, double im) { return std::sqrt(std::pow(re, 2.0) + std::pow(im, 2.0)) * kRmsScale; }

}  // namespace

void GetPowerAvg(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                 float* spec0Re, float* spec0Im, int32_t recordEnd, int32_t resultLength) {
    if (channels == nullptr || spec0Re == nullptr || spec0Im == nullptr) return;
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetPowerAvg"), sources)) return;
    const float* s = SampleArray(sources[0]);
    float* r = ResultArray(target);
    const Spectrum spectrum{spec0Re, spec0Im};
    const int pos = WalkBlock(r, start, count, fftSize, kAverageWalk, [&](int offset) {
        const int points = TransformWindow(s + offset, fftSize, spectrum, Transform::Reduced);
        const float stored = static_cast<float>(
            FundamentalRms(kBinScale * spectrum.re[1] / points, kBinScale * spectrum.im[1] / points));
        return static_cast<double>(stored);
    });
    // The record's last block holds its last value up to the end of the
    // curve, from the last position written: a first window that ended the
    // walk left its gap [fftSize, fftSize + q) open, so the hold starts at fftSize.
    const int end = EndOfBlock(start, count);
    const bool gapOpen = start == 0 && pos > 0 && end <= fftSize + fftSize / 4;
    const int held = gapOpen ? fftSize : pos;
    if (end == recordEnd && pos > 0)
        for (int k = held; k < resultLength; ++k) r[k] = r[held - 1];
}

double GetPowerAvgSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
                      float* spec0Re, float* spec0Im) {
    // Without work buffers there is no transform to scale: nothing to average.
    if (channels == nullptr || spec0Re == nullptr || spec0Im == nullptr) return 0.0;
    ChannelInfo* sources[1];
    if (!ResolveSources(channels, target, LookupFor("GetPowerAvgSum"), sources)) return 0.0;
    const float* s = ResultArray(sources[0]);
    float* r = ResultArray(target);
    const Spectrum spectrum{spec0Re, spec0Im};
    FloatMean mean;
    WalkRecord(start, count, fftSize, fftSize / 4, RecordWindow::BeginsAtPosition, [&](int position, int offset) {
        const int points = TransformWindow(s + offset, fftSize, spectrum, Transform::Reduced);
        // The scaled bin stays in the work buffers, where the host reads it.
        const float re = static_cast<float>(kBinScale * spectrum.re[1] / points);
        const float im = static_cast<float>(kBinScale * spectrum.im[1] / points);
        spectrum.re[1] = re;
        spectrum.im[1] = im;
        const float stored = static_cast<float>(FundamentalRms(re, im));
        r[position] = stored;
        mean.Add(stored);
    });
    return mean.Value();
}

double GetPSum(CPtrList* channels, ChannelInfo* target, int32_t start, int32_t count, int32_t fftSize,
               float* spec0Re, float* spec0Im, float* spec1Re, float* spec1Im) {
    if (channels == nullptr || spec0Re == nullptr || spec0Im == nullptr || spec1Re == nullptr ||
        spec1Im == nullptr)
        return 0.0;
    ChannelInfo* records[2];  // voltage, current
    if (!ResolveSources(channels, target, LookupFor("GetPSum"), records)) return 0.0;
    const Spectrum spectra[2] = {{spec0Re, spec0Im}, {spec1Re, spec1Im}};
    const float* values[2] = {ResultArray(records[0]), ResultArray(records[1])};
    const PhaseTurn turns[2] = {TurnAt(records[0]->PhaseShift, 1), TurnAt(records[1]->PhaseShift, 1)};
    float* r = ResultArray(target);
    const uint32_t kind = target->CalcKind;
    const double scale = target->Scale;
    FloatMean mean;
    WalkRecord(start, count, fftSize, fftSize, RecordWindow::BeginsAtPosition, [&](int position, int offset) {
        // Each source's bin 1 is scaled and turned in double; the turned phasor
        // is stored in the work buffers, and the product takes the stored floats.
        Phasor p[2];
        for (int k = 0; k < 2; ++k) {
            const int points = TransformWindow(values[k] + offset, fftSize, spectra[k], Transform::Reduced);
            p[k] = StoreTurnedRmsPhasor(spectra[k], 1, points, turns[k]);
        }
        const Phasor u = p[0], i = p[1];
        float value = 0.0f;   // a kind other than active or reactive power has none
        if (kind == 1 || kind == 2) {
            const double product = kind == 1 ? static_cast<double>(u.re) * i.re + static_cast<double>(u.im) * i.im
                                             : static_cast<double>(u.im) * i.re - static_cast<double>(u.re) * i.im;
            const float stored = static_cast<float>(product);
            value = static_cast<float>(stored * scale);
        }
        r[position] = value;
        mean.Add(value);
    });
    return mean.Value();
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
