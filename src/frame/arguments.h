// The numbers a host passes, checked before they become indices, lengths or
// loop bounds: a rate is used only when it is a positive finite number, a
// length derived from it is truncated within a range the arrays can take, and
// a block end is formed without overflowing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

// A sampling rate (samples per millisecond) the rate-driven exports can measure
// with: a finite number above zero. Any other rate measures nothing, and the
// export returns as it does on a missing source.
inline bool UsableRate(double samplesPerMs) {
    return samplesPerMs > 0.0 && samplesPerMs <= std::numeric_limits<double>::max();
}

// x truncated toward zero to a 32-bit integer and held within [low, high]; not
// a number gives low. A length derived from a rate (a scan step, a window, a
// dead time) goes through here, so a huge rate gives a long stretch rather than
// a conversion that overflows.
inline int32_t TruncWithin(double x, int32_t low, int32_t high) {
    if (!(x > low)) return low;
    if (!(x < high)) return high;
    return static_cast<int32_t>(x);
}

// a + b for a position and a length, formed in 64 bits and held within the
// 32-bit range: a resume position that would overflow stays the largest one.
inline int32_t ClampedSum(int64_t a, int64_t b) {
    constexpr int64_t kLow = std::numeric_limits<int32_t>::min(), kHigh = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(a + b, kLow, kHigh));
}

// The end start + count of a block, held within [0, largest position]: a block
// that ends before position 0 holds no position of the record, and one whose
// end would overflow ends at the largest position.
inline int32_t EndOfBlock(int32_t start, int32_t count) { return std::max(ClampedSum(start, count), 0); }

// The first position of a block that lies in the record: there is nothing
// before a recording's first sample, so positions before 0 are neither read
// nor written (and a record mean still divides by the count it was given).
inline int32_t FirstInRecord(int32_t start) { return std::max(start, 0); }

// A record length below zero is an empty record.
inline int32_t RecordLength(int32_t totalSamples) { return std::max(totalSamples, 0); }
