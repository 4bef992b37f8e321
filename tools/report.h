// The report of a run, as text (stdout and report.txt) and as one
// self-contained page (report.html): the title's lines, the table of values
// against their expectations, where block curves end, the summary and notes.
#pragma once

#include <string>
#include <vector>

#include "host_run.h"

// The table as the reader sees it: values with SI prefixes and the digits
// their tolerance asks for, one prefix for a row's value and expectation.
struct ReportTable {
    struct Row {
        std::vector<std::string> cells;
        bool failed = false;
    };
    std::vector<std::string> header;
    std::vector<Row> rows;
    int checked = 0, failed = 0, absent = 0;
};
ReportTable BuildReportTable(const RunResult& result);

std::string FormatReport(const RunResult& result, const std::string& title);

// An XHTML page (no scripts, nothing fetched) holding the report, the rows
// out of tolerance highlighted, and the plot's SVG inline.
std::string ReportHtml(const RunResult& result, const std::string& title, const std::string& svg);
