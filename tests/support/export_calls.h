// A fixed recording and one call per export over it, for the checks that run
// every export the same way: the same numbers on every build, when several
// threads compute at once, whatever blocks the host splits a record into, and
// on hostile input, where every byte outside the call's contract is watched.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/recording.h"

// A record field an export's contract lets it write: in its target (record
// kTargetRecord) or in its source k.
constexpr int kTargetRecord = -1;
struct FieldWrite {
    int record;
    std::size_t offset, size;
};

// The target's result positions an export's contract lets it write as it is run
// here: none; the blocks [0, 8000); those and the quarter window after them
// (leading ramps); the first position of every whole window (or of every
// quarter-window hop) of the record; the whole record [0, 8192).
enum class ResultSpan { None, Blocks, BlocksAndHop, Windows, Hops, Record };

// How a block export's curve depends on the blocks a host splits a record into.
enum class Split {
    Any,           // the same bits for blocks of any length
    QuarterGrid,   // the same bits while blocks start on the walk's grid: 0, then fftSize + k·fftSize/4, k ≥ 1
    HeldTail,      // the same bits up to the newest crossings; each block holds the tail after them
    PerBlock,      // each block computes from its own start: only where it writes is checked
};

// A block [start, end) writes result entries from start - before up to end + after;
// a block starting before position first writes from 0 and up to first (the
// record's first window, or first value, stands for the positions before it).
struct BlockRule {
    Split split = Split::Any;
    int before = 0, after = 0, first = 0;
};

// Argument values by registry name, in place of the fixed recording's.
using Arguments = std::vector<std::pair<std::string_view, double>>;

// The value of a numeric argument as the checks over the fixed recording pass
// it, by its registry name (frame/export_registry.h): a block's start and
// count (or the record's), the recording's window, rate and length; 0 for
// reserved, ignored, margins and flags.
double FixedValue(std::string_view name, int start, int count);

struct ExportCall {
    std::string name;
    bool block;   // a block export, run block by block; else once over the whole recording
    ResultSpan span;
    std::vector<FieldWrite> fields;
    // The target the run makes, with the fields the call reads set.
    std::function<ChannelInfo*(Recording&)> target;
    BlockRule rule;
    std::vector<uint8_t> ids;   // its sources in the recording (the records it takes, where it takes records)
    Arguments arguments;        // argument values of its own (a line's pair, a window's start)
    // Calls it on t over [start, start + count) with the fixed recording's
    // values, its own and then the given ones in their place, and four work
    // buffers (its own when none are given).
    double Call(Recording& r, ChannelInfo* t, int start, int count, const Arguments& given = {},
                float* const* buffers = nullptr) const;
    // Runs the export on a new target as a host runs it over the recording;
    // returns the result (block exports: 0.0) and leaves the target in *t.
    double Run(Recording& r, ChannelInfo** t) const;
    // A call that writes a source record cannot share one.
    bool WritesSources() const {
        for (const FieldWrite& f : fields)
            if (f.record != kTargetRecord) return true;
        return false;
    }
};

// Whether position k of the target's results lies in the span.
bool InSpan(ResultSpan span, int k);

const std::vector<ExportCall>& AllExportCalls();

// A digest of everything a call produced: its result, the target's result
// array and record fields, and every record of the recording (addresses left out).
uint64_t DigestOf(Recording& r, const ChannelInfo* target, double result);
