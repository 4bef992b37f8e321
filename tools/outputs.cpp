#include "outputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iomanip>
#include <sstream>

#include "input_error.h"
#include "report.h"
#include "report_json.h"

namespace {

std::size_t Length(const RunResult& result) { return result.curves.empty() ? 0 : result.curves[0].values.size(); }

bool IsNamed(const Curve& c, const std::string& name) { return c.name == name || c.label == name; }

// The curves the names ask for, in the order asked; all of them for no names.
std::vector<const Curve*> Select(const RunResult& result, const std::vector<std::string>& names,
                                 const std::string& option) {
    std::vector<const Curve*> chosen;
    if (names.empty())
        for (const Curve& c : result.curves) chosen.push_back(&c);
    for (const std::string& name : names) {
        const auto c = std::find_if(result.curves.begin(), result.curves.end(), [&](const Curve& k) { return IsNamed(k, name); });
        if (c == result.curves.end()) throw InputError("command line", 0, 0, option + ": no curve \"" + name + "\"");
        chosen.push_back(&*c);
    }
    return chosen;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

}  // namespace

void CheckCurveNames(const Plan& plan, const std::vector<std::string>& names, const std::string& option) {
    std::vector<std::string> curves;
    for (const PlanChannel& c : plan.channels)
        if (c.shape->kind == ExportKind::Block) curves.push_back(c.name);
    for (const std::string& name : names) {
        const bool found = std::any_of(plan.channels.begin(), plan.channels.end(), [&](const PlanChannel& c) {
            return c.shape->kind == ExportKind::Block && (c.name == name || c.label == name);
        });
        if (!found)
            throw InputError("command line", 0, 0,
                             option + ": no curve \"" + name + "\" in the plan; its curves are " + Joined(curves));
    }
}

bool WritesCsv(const RunResult& result, const OutputOptions& options) {
    return options.csv || options.every > 1 || !options.curves.empty() || Length(result) <= kCsvPositionLimit;
}

std::vector<std::string> OutputNotes(const RunResult& result, const OutputOptions& options) {
    std::vector<std::string> notes;
    if (!WritesCsv(result, options))
        notes.push_back("curves.csv not written: the recording has " + std::to_string(Length(result)) +
                        " positions, more than " + std::to_string(kCsvPositionLimit) +
                        "; ask for it with --csv, or a smaller one with --every N or --curves NAME,... "
                        "(curves.cfg/.dat hold every curve)");
    if (result.startTime.empty() && !result.curves.empty())
    {
        std::string time = kNoStartTime;
        std::replace(time.begin(), time.end(), ',', ' ');
        notes.push_back("curves.cfg: the recording states no start time; the curves start at " + time);
    }
    return notes;
}

std::string CurvesCsv(const RunResult& result, const OutputOptions& options) {
    const std::vector<const Curve*> columns = Select(result, options.curves, "--curves");
    const std::size_t every = static_cast<std::size_t>(std::max(1, options.every));
    std::ostringstream out;
    out << std::setprecision(9) << "# rate " << result.sampleRate / static_cast<double>(every) << "\ntime [s]";
    for (const Curve* c : columns) out << "," << c->name << (c->unit.empty() ? "" : " [" + c->unit + "]");
    out << "\n";
    for (std::size_t i = 0; i < Length(result); i += every) {
        out << result.recording.loadedFrom + static_cast<double>(i) / result.sampleRate;
        for (const Curve* c : columns) out << "," << c->values[i];
        out << "\n";
    }
    return out.str();
}

std::string CurvesSvg(const RunResult& result, const OutputOptions& options) {
    std::vector<const Curve*> shown;
    if (options.plot.empty()) {
        for (const Curve& c : result.curves)
            if (c.plot) shown.push_back(&c);
    } else {
        shown = Select(result, options.plot, "--plot");
    }
    std::vector<PlotPanel> panels;
    for (const Curve* c : shown) panels.push_back({c->label, c->unit, &c->values, c->from, c->to, c->tolerance});
    return PlotSvg(panels, result.sampleRate, Length(result), options.span);
}

Recording CurvesRecording(const RunResult& result) {
    Recording r;
    r.sampleRate = result.sampleRate;
    r.lineFrequency = result.recording.timeBase.lineFrequency;
    r.startTime = result.startTime;
    r.triggerTime = result.triggerTime;
    for (const Curve& c : result.curves) r.channels.push_back({c.name, c.unit, c.values});
    return r;
}

void WriteOutputs(const RunResult& result, const std::string& dir, const std::string& title,
                  const OutputOptions& options) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw InputError(dir, 0, 0, "cannot create the folder");
    const std::string svg = CurvesSvg(result, options);
    const std::string report = FormatReport(result, title), html = ReportHtml(result, title, svg);
    const std::string csv = WritesCsv(result, options) ? CurvesCsv(result, options) : "";
    const std::string json = ReportJson(result);
    if (!result.curves.empty()) WriteComtrade(CurvesRecording(result), dir + "/curves", ComtradeData::Float32, 2013);
    if (WritesCsv(result, options)) WriteFileAtomically(dir + "/curves.csv", csv);
    WriteFileAtomically(dir + "/plot.svg", svg);
    WriteFileAtomically(dir + "/report.txt", report);
    WriteFileAtomically(dir + "/report.html", html);
    WriteFileAtomically(dir + "/report.json", json);
}
