// The host's run: records and list built as a host builds them, the block
// phase block by block, then the whole-record phase, and the report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host_exports.h"
#include "plan.h"
#include "recording.h"
#include "resample.h"

struct RunOptions {
    int block = 0;          // 0: the plan's block length
    bool progress = false;  // draw a progress bar on stderr
    int jobs = 1;           // block channels computed side by side (their calls in parallel)
    ResampleRequest resample;
    double lineFrequency = 0.0;  // Hz; overrides the recording's (a CSV file states none)
    // --span FROM:TO in seconds: the whole-record exports and the statistics cover it
    std::optional<double> spanFrom, spanTo;
};

// What the report says about the recording and the rate the library saw.
struct RecordingSummary {
    std::string file;
    double recordedRate = 0.0;
    TimeBase timeBase;
    double measuredFrequency = 0.0;  // 0 when not measured
    std::string measuredOn;          // the channel it was measured on
    double loadedFrom = 0.0, loadedTo = 0.0;  // seconds of the recording the block phase ran over
    bool span = false;
    double spanFrom = 0.0, spanTo = 0.0;      // seconds the whole-record exports and statistics cover
    std::size_t positions = 0;                // at the library's rate
    std::size_t channelsLoaded = 0, channelsInFile = 0;
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
    std::string name;  // the computed channel's name in the plan
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
    RecordingSummary recording;
    std::vector<std::string> warnings;
    std::vector<ReportRow> rows;
    std::vector<Curve> curves;  // the block channels' results over the recording
    std::string startTime, triggerTime;  // the source's, as its .cfg states them; empty when it states none
    std::vector<std::string> notes;      // lines the report adds after its summary
    bool Passed() const;
};

// Runs the plan over the recording through the library's exports: loads the
// channels the plan uses (resampled where cycles need it), builds the records,
// runs the block phase and the whole-record phase, and reports. Throws
// InputError for a plan that does not fit the recording or the memory.
RunResult RunPlan(const RecordingFile& file, const Plan& plan, const LoadedLibrary& library, const RunOptions& options);
RunResult RunPlan(const Recording& recording, const Plan& plan, const LoadedLibrary& library,
                  const std::string& planFile, const RunOptions& options);
