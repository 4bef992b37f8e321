// The plan: the computed channels a host defines over a recording, in a small
// line-based text format (see the README and tools/generator.plan).
//
//   block 1000                          positions per block (default 1000)
//   rate 12800                          sample rate, for a CSV file without one
//   set Ua PhaseShift=0.01 RatedValue=325
//   P = GetThreeLineP(256) from U12 Ia U23 Ib U31 Ic CalcKind=1 unit=W expect=5975.6 tol=0.2% plot
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host_exports.h"

struct ChannelInfo;

// A record field the plan may set, by its name.
struct FieldSetting {
    std::string field;
    std::vector<double> values;  // one value, or a list for KmTable
};

struct Tolerance {
    double value = 0.0;
    bool relative = false;  // value is a fraction of the expected value
};

enum class Statistic { Mean, Rms, Last };

struct PlanChannel {
    std::string name;
    const ExportShape* shape = nullptr;
    std::vector<std::string> sources;
    std::vector<ArgumentValue> planArguments;            // in the order of the export's plan arguments
    std::map<std::string, double> hostArgumentOverrides;  // e.g. samplesPerMs=12.8
    std::vector<FieldSetting> fields;
    std::vector<float> puParams;
    std::string unit;
    std::string summaryOf;  // this record is the summary record of that channel (ChannelId + 36)
    std::string label;      // the quantity column of the report
    std::optional<double> expect;
    Tolerance tolerance{0.01, true};
    Statistic statistic = Statistic::Mean;
    bool plot = false;
    int line = 0;
};

struct RecordSettings {
    std::string channel;
    std::vector<FieldSetting> fields;
    int line = 0;
};

struct Plan {
    int block = 1000;
    double rate = 0.0;
    std::vector<PlanChannel> channels;
    std::vector<RecordSettings> settings;
};

// Parses a plan. recorded: the recording's channel names, which sources may
// name besides earlier plan channels. Throws InputError naming file, line, column.
Plan ParsePlan(const std::string& text, const std::string& file, const std::vector<std::string>& recorded);
Plan ReadPlanFile(const std::string& path, const std::vector<std::string>& recorded);

// Writes a field setting into a record; false when the name is not a field.
bool ApplyField(ChannelInfo* record, const FieldSetting& setting);
bool IsFieldName(const std::string& name);
