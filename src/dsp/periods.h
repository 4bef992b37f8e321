// Whole signal periods between rising crossings, for the exports that measure
// a finished record: the scan for the next period after a position, and the
// rms over a period's whole samples.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/crossing.h"

// The sum of the squares of s over [from, to), each formed as a power of 2.0
// and summed in double.
inline double SquaresOver(const float* s, int32_t from, int32_t to) {
    double squares = 0.0;
    for (int32_t k = from; k < to; ++k) squares += std::pow(static_cast<double>(s[k]), 2.0);
    return squares;
}

inline double RmsOver(const float* s, int32_t first, int32_t length) {
    return std::sqrt(SquaresOver(s, first, first + length) / length);
}

// Where a period of length whole samples closing at crossing position closing
// lies: the samples up to the closing crossing when the record holds them,
// else those from the opening crossing on while they stay inside the block
// (blockEnd); -1 when neither fits.
inline int32_t PeriodFirstSample(int32_t opening, int32_t closing, int32_t length, int32_t blockEnd) {
    if (closing >= length) return closing - length + 1;
    if (blockEnd - opening >= length) return opening;
    return -1;
}

// The whole samples of the period between crossing positions a and b:
// rate / (rate / |a - b|), truncated (the period goes through its frequency,
// as the exports measure it); 0 when that is no positive count of positions
// (a rate per second that overflows to infinity gives none).
inline int32_t WholePeriodSamples(double rate, double a, double b) {
    const double samples = rate / (rate / std::fabs(a - b));
    return samples > 0.0 && samples < std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(samples) : 0;
}

// The rms over the whole samples of the period between crossing positions a
// and b, placed by PeriodFirstSample; false, and nothing read, when they do
// not fit.
inline bool WholePeriodRms(const float* s, double a, double b, double rate, int32_t blockEnd, double* rms) {
    const int32_t length = WholePeriodSamples(rate, a, b);
    const int32_t first = PeriodFirstSample(Trunc(a), Trunc(b), length, blockEnd);
    if (first < 0 || length <= 0) return false;
    *rms = RmsOver(s, first, length);
    return true;
}

// The next accepted period after position n of a whole-record scan: the
// first rising crossing t1 of the pairs (m - step, m), m = n + step, n + 2 step,
// ... below bound, and the first later crossing t2 more than minPeriod after it.
struct PeriodFound {
    int crossings;  // 0: none, 1: only t1, 2: an accepted pair
    double t1, t2;
};

// A scan from n that finds no accepted pair finds none from any later start
// of the same step phase either (its crossings are a tail of the same list,
// all within minPeriod of the first one). Remembering that keeps a record
// with a long flat end from being scanned once per position to its end.
// (Its memory may throw std::bad_alloc.)
template <RiseTest Rises>
class PeriodFinder {
public:
    PeriodFinder(const float* a, float level, int32_t step, int32_t bound, double minPeriod)
        : a_(a), level_(level), step_(step), bound_(bound), minPeriod_(minPeriod),
          failedFrom_(static_cast<std::size_t>(step), -1), lastCross_(static_cast<std::size_t>(step), -1) {}

    PeriodFound Find(int32_t n) {
        const std::size_t phase = static_cast<std::size_t>(n % step_);
        if (failedFrom_[phase] >= 0 && n >= failedFrom_[phase])
            return {lastCross_[phase] >= int64_t{n} + step_ ? 1 : 0, 0.0, 0.0};
        PeriodFound found = {0, 0.0, 0.0};
        int32_t lastCross = -1;
        // In 64 bits: a step as long as the record must not overflow the index.
        for (int64_t m = int64_t{n} + step_; m < bound_; m += step_) {
            const double before = a_[m - step_], after = a_[m];
            if (!Rises(before, after, level_)) continue;
            lastCross = static_cast<int32_t>(m);
            const double t = CrossingPosition(m, before, after, level_, step_);
            if (found.crossings == 0) {
                found = {1, t, 0.0};
            } else if (t - found.t1 > minPeriod_) {
                found.crossings = 2;
                found.t2 = t;
                return found;
            }
        }
        failedFrom_[phase] = n;
        lastCross_[phase] = lastCross;
        return found;
    }

private:
    const float* a_;
    double level_;
    int32_t step_, bound_;
    double minPeriod_;
    std::vector<int32_t> failedFrom_, lastCross_;
};
