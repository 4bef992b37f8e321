// What --out DIR receives: report.txt (the report as printed), report.html
// (the report and the plot on one page), plot.svg, the computed curves as a
// COMTRADE record (curves.cfg + curves.dat, FLOAT32) and, unless the
// recording is long, as curves.csv.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host_run.h"
#include "plan.h"
#include "plot.h"

// A recording longer than this writes no CSV unless asked to: the text of
// every curve would run to gigabytes (the COMTRADE record holds them all).
constexpr std::size_t kCsvPositionLimit = 1000000;

struct OutputOptions {
    std::vector<std::string> plot;    // panels by name or label, in this order; empty: those the plan marks `plot`
    std::vector<std::string> curves;  // the CSV's columns; empty: every curve
    int every = 1;                    // the CSV keeps every N-th position
    bool csv = false;                 // the CSV even past kCsvPositionLimit
    std::optional<TimeSpan> span;     // marked on the plot
};

// Throws InputError when a name matches no block curve of the plan by name
// or label, listing the names there are.
void CheckCurveNames(const Plan& plan, const std::vector<std::string>& names, const std::string& option);

bool WritesCsv(const RunResult& result, const OutputOptions& options);

// The report's lines about the outputs: a CSV left out and how to ask for it,
// the start time the curves' record uses when the source states none.
std::vector<std::string> OutputNotes(const RunResult& result, const OutputOptions& options);

std::string CurvesCsv(const RunResult& result, const OutputOptions& options = {});
std::string CurvesSvg(const RunResult& result, const OutputOptions& options = {});
// The computed curves as a recording at the rate the library saw, starting
// when the source started: one channel per curve, named as in the plan.
Recording CurvesRecording(const RunResult& result);

// Writes every output into dir (created when missing); the texts are complete
// before the first file appears.
void WriteOutputs(const RunResult& result, const std::string& dir, const std::string& title,
                  const OutputOptions& options = {});
