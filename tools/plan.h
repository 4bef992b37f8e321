// The plan: the computed channels a host defines over a recording, in a small
// line-based text format (see the README and tools/generator.plan).
//
//   block 1000                          positions per block (default 1000)
//   rate 12800                          sample rate, for a CSV file without one
//   set Ua PhaseShift=0.01 RatedValue=325
//   P = GetThreeLineP(cycle) from U12 Ia U23 Ib U31 Ic CalcKind=1 unit=W expect=5975.6 tol=0.2% plot
//   "U 12" = GetSubtraction() from "LINE ULA" #10     quoted names, channels by number
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

// A channel a plan line names: a recorded channel or one computed on an earlier line.
struct ChannelRef {
    std::string name;   // as the report shows it
    int recorded = -1;  // position in the recording (its number - 1), or -1
    int computed = -1;  // position in Plan::channels, or -1
    bool operator==(const ChannelRef& o) const { return recorded == o.recorded && computed == o.computed; }
};

// A window argument written in cycles (`cycle`, `4cycles`), made samples once
// the rate the library sees is known.
struct CycleArgument {
    std::size_t argument;  // index into planArguments
    int cycles;
    int column;
};

struct PlanChannel {
    std::string name;
    const ExportShape* shape = nullptr;
    std::vector<ChannelRef> sources;
    std::vector<ArgumentValue> planArguments;            // in the order of the export's plan arguments
    std::vector<CycleArgument> cycleArguments;
    std::vector<std::string> fieldsSet;                  // record fields the line sets
    std::map<std::string, double> hostArgumentOverrides;  // e.g. samplesPerMs=12.8
    std::vector<FieldSetting> fields;
    std::vector<float> puParams;
    std::string unit;
    std::optional<ChannelRef> summaryOf;  // this record is that channel's summary record (ChannelId + 36)
    std::string label;      // the quantity column of the report
    std::optional<double> expect;
    Tolerance tolerance{0.01, true};
    Statistic statistic = Statistic::Mean;
    bool plot = false;
    int line = 0;
};

struct RecordSettings {
    ChannelRef channel;
    std::vector<FieldSetting> fields;
    int line = 0;
};

struct Plan {
    std::string file;
    int block = 1000;
    double rate = 0.0;
    std::vector<PlanChannel> channels;
    std::vector<RecordSettings> settings;
    // The recorded channels the plan names, in the recording's order: only these are loaded.
    std::vector<int> UsedRecorded() const;
};

// Parses a plan. recorded: the recording's channel names in order (#1 is the
// first), which sources may name besides earlier plan channels. Throws
// InputError naming file, line, column.
Plan ParsePlan(const std::string& text, const std::string& file, const std::vector<std::string>& recorded);
Plan ReadPlanFile(const std::string& path, const std::vector<std::string>& recorded);

// Turns window arguments written in cycles into samples at samplesPerCycle
// (0: no line frequency known). Throws InputError at the argument when the
// length is not a whole number of samples, or not the power of two the export
// needs.
void ResolveCycles(Plan& plan, double samplesPerCycle, double rate);

// Writes a field setting into a record; false when the name is not a field.
bool ApplyField(ChannelInfo* record, const FieldSetting& setting);
bool IsFieldName(const std::string& name);
