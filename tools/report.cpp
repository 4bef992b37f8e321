#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "numbers.h"
#include "plot.h"

namespace {

constexpr double kDeviationDigits = 100.0;  // deviations are shown to a hundredth of the tolerance
constexpr std::size_t kNoteWidth = 100;     // characters per line of the curve-end notes
enum Column { kQuantity, kExport, kValue, kUnit, kExpected, kDeviation, kStatus };

// A limit as the plan wrote it: "0.2", "0.05", "10".
std::string Shortest(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", v);
    return text;
}

int DeviationDigit(double deviation, double limit) {
    return limit > 0.0 ? static_cast<int>(std::floor(std::log10(limit / kDeviationDigits))) : LastDigit(deviation, 0.0);
}

ReportTable::Row TableRow(const ReportRow& r) {
    ReportTable::Row row;
    row.cells = {r.quantity, r.exportName, "absent", r.unit, "-", "-", "absent"};
    if (r.absent) return row;
    const int digit = LastDigit(r.expect ? *r.expect : r.value, r.AbsoluteTolerance());
    const double magnitude =
        std::max({std::fabs(r.value), r.expect ? std::fabs(*r.expect) : 0.0, std::pow(10.0, digit)});
    const int prefix = PrefixExponent(magnitude, r.unit, digit);
    row.cells[kValue] = ScaledNumber(r.value, prefix, digit);
    row.cells[kUnit] = r.unit.empty() ? "" : PrefixedUnit(prefix, r.unit);
    row.cells[kStatus] = "-";
    if (!r.expect) return row;
    row.cells[kExpected] = ScaledNumber(*r.expect, prefix, digit);
    const double d = r.Deviation();
    std::string limit;
    if (r.tolerance.relative) {
        row.cells[kDeviation] = ScaledNumber(d * 100.0, 0, DeviationDigit(d * 100.0, r.tolerance.value * 100.0)) + " %";
        limit = Shortest(r.tolerance.value * 100.0) + " %";
    } else {
        row.cells[kDeviation] = ScaledNumber(d, prefix, DeviationDigit(d, r.tolerance.value));
        limit = Shortest(r.tolerance.value / std::pow(10.0, prefix)) + (r.unit.empty() ? "" : " " + row.cells[kUnit]);
    }
    row.failed = r.Failed();
    row.cells[kStatus] = row.failed ? "FAIL (> " + limit + ")" : "ok (" + limit + ")";
    return row;
}

std::string Plain(double v, int precision = 6) {
    std::ostringstream s;
    s << std::setprecision(precision) << v;
    return s.str();
}

// The report's lines on the rates, the resampling and the span.
std::string RecordingLines(const RecordingSummary& r) {
    if (r.file.empty()) return "";
    const TimeBase& t = r.timeBase;
    std::ostringstream out;
    out << "recorded at " << Plain(r.recordedRate, 9) << " S/s, the library saw " << Plain(t.rate, 9) << " S/s: "
        << t.reason << "\n";
    if (r.measuredFrequency > 0.0)
        out << "measured frequency " << Plain(r.measuredFrequency, 8) << " Hz (" << r.measuredOn << ")\n";
    out << r.channelsLoaded << " of " << r.channelsInFile << " recorded channels loaded; block phase over "
        << Plain(r.loadedFrom) << " to " << Plain(r.loadedTo) << " s";
    if (r.span) out << "; span " << Plain(r.spanFrom) << " to " << Plain(r.spanTo) << " s";
    out << "\n\n";
    return out.str();
}

// Where the block curves are reported over, the summary and the notes:
// paragraphs separated by blank lines.
std::string Footer(const RunResult& result, const ReportTable& table) {
    std::ostringstream out;
    std::vector<std::string> ends;
    for (const ReportRow& r : result.rows)
        if (!r.note.empty() && std::find(ends.begin(), ends.end(), r.note) == ends.end()) ends.push_back(r.note);
    out << (result.recording.span ? "Block curves: mean (rms where the plan says so) over the span, to its end"
                                  : "Block curves: mean (rms where the plan says so) from a quarter into the recording, "
                                    "where ramps and\ntrackers have settled, to its end")
        << (ends.empty() ? ".\n"
                         : "; the curves below end earlier, at their last complete window or\n"
                           "tracked period (the values after it wait for samples after the recording's end):\n");
    for (const std::string& end : ends) {
        std::string line = "  " + end + ":";
        for (const ReportRow& r : result.rows) {
            if (r.note != end) continue;
            if (line.size() + r.quantity.size() > kNoteWidth) {
                out << line << "\n";
                line = "   ";
            }
            line += " " + r.quantity;
        }
        out << line << "\n";
    }
    if (!result.warnings.empty()) out << "\nWarnings:\n";
    for (const std::string& w : result.warnings) out << "  - " << w << "\n";
    out << "\n" << table.checked - table.failed << " of " << table.checked << " checked values within tolerance";
    if (table.absent) out << ", " << table.absent << " export" << (table.absent == 1 ? "" : "s") << " absent from the library";
    out << (table.failed ? " - SELF-CHECK FAILED\n" : "\n");
    if (!result.notes.empty()) out << "\n";
    for (const std::string& note : result.notes) out << note << "\n";
    return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const char* const kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;font-size:90%}"
    "th,td{padding:2px 10px;border-bottom:1px solid #ddd;text-align:left}"
    "td.number{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.fail td{background:#fde0e0;color:#a00000;font-weight:bold}";

}  // namespace

ReportTable BuildReportTable(const RunResult& result) {
    ReportTable table;
    table.header = {"quantity", "export", "value", "unit", "expected", "deviation", "status"};
    for (const ReportRow& r : result.rows) {
        table.rows.push_back(TableRow(r));
        table.absent += r.absent;
        table.checked += !r.absent && r.expect.has_value();
        table.failed += table.rows.back().failed;
    }
    return table;
}

std::string FormatReport(const RunResult& result, const std::string& title) {
    const ReportTable table = BuildReportTable(result);
    std::vector<std::size_t> widths(table.header.size(), 0);
    auto Widen = [&](const std::vector<std::string>& cells) {
        for (std::size_t k = 0; k < cells.size(); ++k) widths[k] = std::max(widths[k], cells[k].size());
    };
    Widen(table.header);
    for (const ReportTable::Row& row : table.rows) Widen(row.cells);
    std::ostringstream out;
    auto Print = [&](const std::vector<std::string>& cells) {
        for (std::size_t k = 0; k < cells.size(); ++k) {
            const bool right = k == kValue || k == kExpected || k == kDeviation;
            const bool last = k + 1 == cells.size();
            // Widths in characters: "µ" is two bytes of one character.
            const std::size_t extra = cells[k].find("µ") != std::string::npos ? 1 : 0;
            out << (k ? "  " : "") << (right ? std::right : std::left)
                << std::setw(last ? 0 : static_cast<int>(widths[k] + extra)) << cells[k];
        }
        out << "\n";
    };
    out << title << "\n\n" << RecordingLines(result.recording);
    Print(table.header);
    std::size_t total = 0;
    for (std::size_t w : widths) total += w + 2;
    out << std::string(total - 2, '-') << "\n";
    for (const ReportTable::Row& row : table.rows) Print(row.cells);
    out << "\n" << Footer(result, table);
    return out.str();
}

std::string ReportHtml(const RunResult& result, const std::string& title, const std::string& svg) {
    const ReportTable table = BuildReportTable(result);
    const std::vector<std::string> titleLines = Lines(title + "\n" + RecordingLines(result.recording));
    const std::string heading = titleLines.empty() ? "Ampora report" : titleLines[0];
    std::ostringstream html;
    html << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
            "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"UTF-8\"/>\n<title>"
         << EscapeXml(heading) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>" << EscapeXml(heading)
         << "</h1>\n<p>";
    for (std::size_t k = 1; k < titleLines.size(); ++k)
        if (!titleLines[k].empty()) html << (k > 1 ? "<br/>" : "") << EscapeXml(titleLines[k]);
    html << "</p>\n<table>\n<thead><tr>";
    for (const std::string& h : table.header) html << "<th>" << EscapeXml(h) << "</th>";
    html << "</tr></thead>\n<tbody>\n";
    for (const ReportTable::Row& row : table.rows) {
        html << (row.failed ? "<tr class=\"fail\">" : "<tr>");
        for (std::size_t k = 0; k < row.cells.size(); ++k) {
            const bool number = k == kValue || k == kExpected || k == kDeviation;
            html << (number ? "<td class=\"number\">" : "<td>") << EscapeXml(row.cells[k]) << "</td>";
        }
        html << "</tr>\n";
    }
    html << "</tbody>\n</table>\n";
    // The footer's paragraphs, line by line.
    html << "<p>";
    bool first = true;
    for (const std::string& line : Lines(Footer(result, table))) {
        if (line.empty()) html << "</p>\n<p>";
        else html << (first ? "" : "<br/>") << EscapeXml(line);
        first = line.empty();
    }
    html << "</p>\n<div>\n" << svg << "</div>\n</body>\n</html>\n";
    return html.str();
}
