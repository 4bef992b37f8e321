// The window stepping and ramp of the block exports, and the window walk of the
// whole-record exports.
//
// Block exports visit window positions start, start + q, ... (q = fftSize/4),
// compute one value per window and spread it over the target's ResultData:
//   - the first window of a recording (position 0) fills [0, fftSize) with its
//     value and the walk continues at fftSize + q;
//   - every later window ramps from an anchor entry towards its value:
//     entry = anchor + (v - anchor) / fftSize · 4.0 · k, k = 0 .. q-1, so the
//     ramp starts at the anchor and stops one step short of v.
// Trailing placement (most exports): the ramp covers the q positions just
// before the window position, anchored at the entry before them, and the end
// position start + count is visited. Leading placement: the ramp covers the q
// positions from the window position on, anchored at the entry before it, and
// the end position is not visited.
//
// Sequence components and line RMS use another ramp: 1/fftSize of the distance
// per element with a first window that writes element 0 only (GeometricRamp).
//
// Whole-record exports step through the record in windows (usually whole and
// non-overlapping: step fftSize) and average one stored float per window
// (WalkRecord, FloatMean).
#pragma once

#include <algorithm>

#include "dsp/fft.h"
#include "dsp/ramp.h"
#include "frame/resolve.h"

// The records a windowed export works on: the host's list, the target, and how
// the target's sources resolve.
struct CallRecords {
    CPtrList* channels;
    ChannelInfo* target;
    SourceLookup lookup;
};

// The positions a windowed export walks in windows of fftSize samples: the
// block [start, start + count), or the count positions of a record from start.
struct WindowSpan {
    int start;
    int count;
    int fftSize;
};

constexpr double kRampFactor = 4.0;   // a quarter window covers the whole way

enum class RampPlacement { Trailing, Leading };

// Whether the end position start + count is itself a window position.
enum class BlockEnd { Inclusive, Exclusive };

// Which samples the window of position pos covers.
enum class WindowPlacement {
    EndsAtPosition,    // [pos - fftSize, pos) once pos > fftSize, else [0, fftSize)
    ThroughPosition,   // [pos - fftSize + 1, pos] once pos >= fftSize, else [0, fftSize)
};

// What a leading walk writes in the gap [fftSize, fftSize + q) between the
// first window and the next window position.
enum class FirstGap {
    Filled,             // the first window's value, as far as the block reaches (end + q)
    FilledWhenWalkGoesOn,   // the same, only when the call goes on to the next window
};

struct BlockWalk {
    RampPlacement ramp;
    BlockEnd end;
    WindowPlacement window;
    FirstGap gap = FirstGap::Filled;
};
constexpr BlockWalk kTrailingWalk{RampPlacement::Trailing, BlockEnd::Inclusive, WindowPlacement::EndsAtPosition};
constexpr BlockWalk kLeadingWalk{RampPlacement::Leading, BlockEnd::Exclusive, WindowPlacement::EndsAtPosition};

constexpr int kMinimumBlockWindow = 4;        // below it the hop fftSize/4 is 0
constexpr int kMinimumAllHarmonicsWindow = 32;   // bin 21 inside every spectrum

inline int WindowOffset(WindowPlacement placement, int pos, int fftSize) {
    if (placement == WindowPlacement::EndsAtPosition) return pos > fftSize ? pos - fftSize : 0;
    return pos < fftSize ? 0 : pos - fftSize + 1;
}

// Writes anchor + (v - anchor) / fftSize · 4.0 · k into result[first + k],
// k = 0 .. q-1. Positions before 0 are skipped: a block that starts within the
// first quarter window has nothing there to write.
inline void RampFrom(float* result, int first, int q, int fftSize, double anchor, double v) {
    const double step = (v - anchor) / fftSize * kRampFactor;
    const int skipped = std::max(0, -first);
    StoreRamp(result + first + skipped, q - skipped, anchor, step, skipped);
}

// The entry a ramp starts from. A block starting between 1 and q would anchor
// before position 0; it takes its anchor from position 0 instead.
inline double AnchorAt(const float* result, int index) { return result[std::max(index, 0)]; }

inline void TrailingRamp(float* result, int pos, int q, int fftSize, double v) {
    RampFrom(result, pos - q, q, fftSize, AnchorAt(result, pos - q - 1), v);
}

inline void LeadingRamp(float* result, int pos, int q, int fftSize, double v) {
    RampFrom(result, pos, q, fftSize, AnchorAt(result, pos - 1), v);
}

// The first window of a recording: [0, fftSize) takes its value. With the
// leading placement the next ramp starts at fftSize + q and anchors on entry
// fftSize + q - 1, so the gap [fftSize, fftSize + q) holds the first window's
// value too: as far as the target is sized (max(fftSize, end + q)), or, where
// a call ending with its first window writes exactly [0, fftSize), only when
// the walk goes on to the next window (fftSize + q < end).
inline void FillFirstWindow(float* result, int fftSize, int q, int end, const BlockWalk& walk, double v) {
    const float stored = static_cast<float>(v);
    int fillEnd = fftSize;
    if (walk.ramp == RampPlacement::Leading && walk.gap == FirstGap::Filled)
        fillEnd = std::max(fftSize, std::min(fftSize + q, end + q));
    if (walk.ramp == RampPlacement::Leading && walk.gap == FirstGap::FilledWhenWalkGoesOn && fftSize + q < end)
        fillEnd = fftSize + q;
    std::fill(result, result + fillEnd, stored);
}

// Walks the block [start, start + count): valueAt(offset) gives the value of the
// window that begins at offset in the sources' arrays. Returns the position
// after the last window (the next position the walk would have visited).
template <typename WindowValue>
int WalkBlock(float* result, int start, int count, int fftSize, const BlockWalk& walk, WindowValue&& valueAt) {
    if (count <= 0) return start;   // an empty block writes nothing, not even the ramp up to its end
    const int end = start + count;
    const int q = fftSize / 4;
    int pos = start;
    while (walk.end == BlockEnd::Inclusive ? pos <= end : pos < end) {
        const double v = valueAt(WindowOffset(walk.window, pos, fftSize));
        if (q < 1) return pos;   // only reached if the transform accepted such a window
        if (pos == 0) {
            FillFirstWindow(result, fftSize, q, end, walk, v);
            pos = fftSize;
        } else if (walk.ramp == RampPlacement::Trailing) {
            TrailingRamp(result, pos, q, fftSize, v);
        } else {
            LeadingRamp(result, pos, q, fftSize, v);
        }
        pos += q;
    }
    return pos;
}

// The ramp of the sequence-component and line-RMS exports: next is the next
// element to write. The first window (next 0) writes element 0 only; every later
// window writes q elements (q - 1 right after element 0), element by element
// entry = anchor + (v - anchor) / fftSize · i, i = 1, 2, ..., anchored at the
// element before the first one written.
struct GeometricRamp {
    int next;

    void Write(float* result, int q, int fftSize, double v) {
        const int anchorIndex = next >= 1 ? next - 1 : 0;
        if (next == 0) {
            const float stored = static_cast<float>(v);
            result[0] = stored;
            next = 1;
            return;
        }
        const int n = next == 1 ? q - 1 : q;
        const double anchor = result[anchorIndex];
        const int skipped = std::max(0, std::min(n, -next));   // a block from before 0 writes from 0 on
        StoreRamp(result + next + skipped, n - skipped, anchor, (v - anchor) / fftSize, 1 + skipped);
        next += n;
    }
};

// Which stretch of the record the window of position p covers.
enum class RecordWindow {
    BeginsAtPosition,   // [p, p + fftSize)
    EndsAtPosition,     // [p - fftSize, p) once p > fftSize, else [0, fftSize)
};

// Visits the windows of a whole record: for k = 0, step, 2·step, ... while
// k <= length - fftSize, visit(position, offset) with position start + k and
// offset the first index of its window. Nothing when length < fftSize; a
// position before 0 is not in the record and is not visited.
template <typename Visit>
void WalkRecord(int start, int length, int fftSize, int step, RecordWindow placement, Visit&& visit) {
    if (length < fftSize) return;
    for (int k = 0; k <= length - fftSize; k += step) {
        const int position = start + k;
        if (position < 0) {
            if (step < 1) return;
            continue;
        }
        const int offset = placement == RecordWindow::BeginsAtPosition
                               ? position
                               : WindowOffset(WindowPlacement::EndsAtPosition, position, fftSize);
        visit(position, offset);
        if (step < 1) return;   // only reached if the transform accepted such a window
    }
}

// The mean of the stored window values: a float sum rounded after every
// addition, divided in double; 0.0 with nothing to average.
struct FloatMean {
    float sum = 0.0f;
    int count = 0;

    void Add(float stored) {
        sum = static_cast<float>(static_cast<double>(sum) + stored);
        ++count;
    }
    double Value() const { return count == 0 ? 0.0 : static_cast<double>(sum) / count; }
};

// The mean of a value that does not change from window to window, taken once
// per window position j = 0, step, 2·step, ... <= count - step, summed in Sum
// precision and divided by the number of terms: the value up to the rounding of
// the sum. No terms (count < step, or a step below 1 that would never advance)
// gives 0.0.
template <typename Sum>
double RepeatedMean(double value, int count, int step) {
    if (step < 1 || count < step) return 0.0;
    const int terms = (count - step) / step + 1;
    Sum sum = 0;
    for (int j = 0; j < terms; ++j) {
        const Sum next = static_cast<Sum>(sum + value);
        // Once an addition leaves the sum as it is (or not a number), every
        // later one does too: the sum is final, whatever the count.
        if (next == sum || next != next) {
            sum = next;
            break;
        }
        sum = next;
    }
    return static_cast<double>(sum) / terms;
}
