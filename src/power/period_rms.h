// The rms over a signal period, shared by the whole-record and the block
// cycle averages: squares formed as powers of 2.0 and summed in double over
// the period's whole samples.
#pragma once

#include <cmath>
#include <cstdint>

inline double RmsOver(const float* s, int32_t first, int32_t length) {
    double squares = 0.0;
    for (int32_t k = first; k < first + length; ++k) squares += std::pow(static_cast<double>(s[k]), 2.0);
    return std::sqrt(squares / length);
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
