// The host's run: records and list built as a host builds them, the block
// phase block by block, then the whole-record phase, and the report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host_exports.h"
#include "plan.h"
#include "recording.h"

struct RunOptions {
    int block = 0;          // 0: the plan's block length
    bool progress = false;  // draw a progress bar on stderr
};

struct ReportRow {
    std::string quantity;
    std::string exportName;
    std::string unit;
    double value = 0.0;
    bool absent = false;  // the loaded library does not have the export
    std::optional<double> expect;
    Tolerance tolerance;
    std::string note;  // where the reported stretch ends, when before the recording's end
    bool Failed() const;
    double Deviation() const;
    double AbsoluteTolerance() const;  // the half-width of the tolerance band; 0 when nothing is expected
};

struct Curve {
    std::string name, unit;
    std::vector<float> values;
    bool plot = false;
    std::string label;
    // The positions holding computed values: a tracker's leading run-in before
    // its first period, and the tail its last window or period would need
    // samples past the recording's end for, lie outside.
    std::size_t from = 0, to = 0;
    double tolerance = 0.0;  // the half-width of the plan's tolerance band, 0 when it checks none
};

struct RunResult {
    double sampleRate = 0.0;
    std::vector<ReportRow> rows;
    std::vector<Curve> curves;  // the block channels' results over the recording
    std::string startTime, triggerTime;  // the source's, as its .cfg states them; empty when it states none
    std::vector<std::string> notes;      // lines the report adds after its summary
    bool Passed() const;
};

// Runs the plan over the recording through the library's exports. Throws
// InputError for a plan that does not fit the recording.
RunResult RunPlan(const Recording& recording, const Plan& plan, const LoadedLibrary& library,
                  const std::string& planFile, const RunOptions& options);
