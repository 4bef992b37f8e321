#include "report_json.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

// A figure, or null where there is none (an absent export, a span without a complete value).
Json Value(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json RecordingJson(const RecordingSummary& r) {
    const TimeBase& t = r.timeBase;
    Json j = {{"file", r.file},
              {"recordedRate", r.recordedRate},
              {"rate", t.rate},
              {"lineFrequency", Value(t.lineFrequency > 0.0 ? t.lineFrequency : NAN)},
              {"measuredFrequency", Value(r.measuredFrequency > 0.0 ? r.measuredFrequency : NAN)},
              {"resampled", t.resampled},
              {"samplesPerCycle", Value(t.SamplesPerCycle() > 0.0 ? t.SamplesPerCycle() : NAN)},
              {"resampling", t.reason},
              {"loaded", {{"from", r.loadedFrom}, {"to", r.loadedTo}}},
              {"positions", r.positions},
              {"channelsLoaded", r.channelsLoaded},
              {"channelsInFile", r.channelsInFile}};
    j["span"] = r.span ? Json{{"from", r.spanFrom}, {"to", r.spanTo}} : Json(nullptr);
    return j;
}

}  // namespace

std::string ReportJson(const RunResult& result) {
    Json channels = Json::array();
    for (const ReportRow& row : result.rows) {
        Json c = {{"name", row.name},
                  {"label", row.quantity},
                  {"export", row.exportName},
                  {"unit", row.unit},
                  {"value", row.absent ? Json(nullptr) : Value(row.value)}};
        if (!row.note.empty()) c["note"] = row.note;
        if (row.expect) {
            c["expect"] = *row.expect;
            c["tolerance"] = {{"value", row.tolerance.value}, {"relative", row.tolerance.relative}};
            c["deviation"] = row.absent ? Json(nullptr) : Value(row.Deviation());
            c["status"] = row.absent ? "absent" : row.Failed() ? "fail" : "ok";
        }
        channels.push_back(c);
    }
    const Json report = {{"recording", RecordingJson(result.recording)},
                         {"warnings", result.warnings},
                         {"channels", channels}};
    return report.dump(2) + "\n";
}
