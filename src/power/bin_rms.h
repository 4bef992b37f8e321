// The RMS value of one bin over sliding windows of one channel, in the
// caller's work buffers: block by block (the window stepping and ramp, and the
// hold at the end of the recording) and over a whole record (quarter-window
// hops, one stored value per window start, their float mean). GetPowerAvg
// (bin 1 of the reduced transform) and GetHarmonicValue (bin h of the full
// length) and their whole-record forms differ only in their rule.
#pragma once

#include "power/phasor_step.h"
#include "power/window_walk.h"

// Where a block that reaches the end of the recorded data (recordEnd) holds
// its last value up to resultLength.
struct RecordEnd {
    int recordEnd;
    int resultLength;
};

struct BinRmsRule {
    Transform transform;
    // The bin the target asks for at this window length, or -1 when the call
    // is to write nothing.
    int (*binOf)(const ChannelInfo* target, int fftSize);
    BlockWalk walk;
    // The hold after the walk of the block [start, start + count): next is the
    // position the walk would have visited next.
    void (*hold)(float* result, WindowSpan block, int next, RecordEnd end);
};

void BinRmsBlock(const BinRmsRule& rule, CallRecords records, WindowSpan span, Spectrum buffers, RecordEnd end);

double BinRmsRecord(const BinRmsRule& rule, CallRecords records, WindowSpan span, Spectrum buffers);
