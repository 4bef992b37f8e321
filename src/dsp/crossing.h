// Crossings of a level by the straight line between two samples: the tests
// that decide whether a pair of samples crosses, and the fractional position
// at which it does. Positions are absolute indices into the record's arrays,
// so a crossing found in one block is still valid in the next; 0.0 in a state
// slot means "no crossing". Every family may use them: the trackers, the cycle
// averages and the measured power angle.
#pragma once

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

// Rising tests for the pair (before, after) against a level. They differ only
// in which side may touch the level, which decides whether a sample lying
// exactly on the level starts a crossing.

// before < level <= after: a sample on the level counts as having risen.
inline bool RisesOntoLevel(double before, double after, double level) {
    return before < level && level <= after;
}

// before <= level < after: a sample on the level counts as not yet risen.
inline bool RisesOffLevel(double before, double after, double level) {
    return before <= level && level < after;
}

// Either of the two forms.
inline bool RisesThrough(double before, double after, double level) {
    return RisesOntoLevel(before, after, level) || RisesOffLevel(before, after, level);
}

// One of the rising tests, as a scan's template argument.
using RiseTest = bool (*)(double before, double after, double level);

// The first n in [from, end) (from >= 1) whose pair (s[n - 1], s[n]) holds
// s[n - 1] <= level <= s[n], or end when none does. Every rising test above
// holds only at such a pair (none where a sample is not a number), so a scan
// for rises may pass over the others; four pairs are compared at a time.
inline int64_t NextRiseCandidate(const float* s, int64_t from, int64_t end, float level) {
    const __m128 l = _mm_set1_ps(level);
    int64_t n = from;
    for (; n + 4 <= end; n += 4) {
        const __m128 before = _mm_loadu_ps(s + n - 1), after = _mm_loadu_ps(s + n);
        const int hits = _mm_movemask_ps(_mm_and_ps(_mm_cmple_ps(before, l), _mm_cmple_ps(l, after)));
        if (hits != 0) return n + __builtin_ctz(static_cast<unsigned>(hits));
    }
    for (; n < end; ++n)
        if (s[n - 1] <= level && level <= s[n]) return n;
    return end;
}

// before >= level > after: the falling crossing of the half-period speed mean.
inline bool FallsOffLevel(double before, double after, double level) {
    return before >= level && level > after;
}

// Falling in either form: what the glitch rejection looks for behind a rise.
inline bool FallsThrough(double before, double after, double level) {
    return (before >= level && after < level) || (before > level && after <= level);
}

// Position of a crossing interpolated back from the later sample: the pair's
// later sample sits at afterIndex, the earlier one span positions before it.
//   afterIndex - (after - level) / (after - before) * span
// A crossing found by one of the tests above always has before != after. An
// infinite later sample (inf / inf) takes the limit of a steep rise: the
// crossing sits at the earlier sample, so the position is always an index
// between the two samples.
inline double CrossingPosition(double afterIndex, double before, double after, double level,
                               double span = 1.0) {
    const double share = (after - level) / (after - before);
    return afterIndex - (std::isnan(share) ? 1.0 : share) * span;
}

// Position of a crossing interpolated forward from the earlier sample at
// beforeIndex (the falling crossings of the speed mean are measured this way).
// An infinite earlier sample puts the crossing at the later one, as above.
inline double CrossingPositionFromBefore(double beforeIndex, double before, double after, double level) {
    const double share = (before - level) / (before - after);
    return beforeIndex + (std::isnan(share) ? 1.0 : share);
}

// The level halfway between a channel's stored extremes, as the float the
// trackers compare against.
inline float MidLevel(float high, float low) {
    const float stored = static_cast<float>((static_cast<double>(high) + low) * 0.5);
    return stored;
}

// Truncation toward zero of a crossing position or a span, as the trackers
// index arrays with it (every position they give it lies in the record).
inline int32_t Trunc(double x) { return static_cast<int32_t>(x); }
