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

struct ExportCall {
    std::string name;
    bool writesSources;   // the export writes a source record, so it cannot share one
    // Runs the export on a target of the recording; returns the result (block
    // exports: 0.0) and leaves the target in *target.
    std::function<double(Recording&, ChannelInfo** target)> run;
};

const std::vector<ExportCall>& AllExportCalls();

// A digest of everything a call produced: its result, the target's result
// array and record fields, and every record of the recording (addresses left out).
uint64_t DigestOf(Recording& r, const ChannelInfo* target, double result);
