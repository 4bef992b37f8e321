// A fixed recording and one call per export over it, for the checks that run
// every export the same way: the same numbers on every build, and the same
// numbers when several threads compute at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

struct ExportCall {
    std::string name;
    ResultSpan span;
    std::vector<FieldWrite> fields;
    // Runs the export on a target of the recording; returns the result (block
    // exports: 0.0) and leaves the target in *target.
    std::function<double(Recording&, ChannelInfo** target)> run;
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
