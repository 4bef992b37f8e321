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
};

struct Curve {
    std::string name, unit;
    std::vector<float> values;
    bool plot = false;
};

struct RunResult {
    double sampleRate = 0.0;
    std::vector<ReportRow> rows;
    std::vector<Curve> curves;  // the block channels' results over the recording
    bool Passed() const;
};

// Runs the plan over the recording through the library's exports. Throws
// InputError for a plan that does not fit the recording.
RunResult RunPlan(const Recording& recording, const Plan& plan, const LoadedLibrary& library,
                  const std::string& planFile, const RunOptions& options);

std::string FormatReport(const RunResult& result, const std::string& title);
std::string CurvesCsv(const RunResult& result);
std::string CurvesSvg(const RunResult& result);

// Writes curves.csv and plot.svg into dir (created when missing).
void WriteOutputs(const RunResult& result, const std::string& dir);
