// ampora-export-table FILE: writes the export table and the record layout as
// JSON, for hosts in other languages (the Python module in python/ loads it
// beside the library). Every entry comes from the export registry, the typed
// signatures of ampora.h and the host's own argument rules (host_exports.h),
// so a binding built from this file calls each export exactly as ampora-host does.
#include <cstddef>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "frame/channel_info.h"
#include "hostkit/host_channels.h"
#include "hostkit/record_fields.h"
#include "host_exports.h"
#include "tracking/crossing_queue.h"

namespace {

using Json = nlohmann::ordered_json;

// The registry's words for lookup, window, curve and setting, as it writes them.
Json RegistryWords() {
    Json words = Json::array();
#define AMPORA_WORDS(Name, Ordinal, Lookup, Sources, Arguments, Window_, Curve_, Setting_) \
    words.push_back({{"lookup", #Lookup}, {"window", #Window_}, {"curve", #Curve_}, {"setting", #Setting_}});
    AMPORA_EXPORTS(AMPORA_WORDS)
#undef AMPORA_WORDS
    return words;
}

Json Exports() {
    const Json words = RegistryWords();
    Json exports = Json::array();
    for (std::size_t k = 0; k < ExportTable().size(); ++k) {
        const ExportShape& shape = ExportTable()[k];
        Json arguments = Json::array();
        for (const ExportArgument& a : shape.arguments)
            arguments.push_back({{"name", a.name}, {"type", std::string(1, a.type)}, {"fromPlan", a.fromPlan}});
        Json entry = {{"name", shape.name},
                      {"ordinal", kExports[k].ordinal},
                      {"block", shape.kind == ExportKind::Block},
                      {"sources", shape.sources},
                      {"records", shape.records},
                      {"readsOwnSamples", shape.ReadsOwnSamples()},
                      {"averageDivisor", shape.AverageDivisor()},
                      {"arguments", arguments}};
        entry.update(words[k]);
        exports.push_back(entry);
    }
    return exports;
}

// The fields a host fills when it builds a record, besides those set by name.
Json HostFields() {
#define AMPORA_AT(name, type) {#name, {{"offset", offsetof(ChannelInfo, name)}, {"type", type}}}
    return Json{AMPORA_AT(SourceIds, "u"),   AMPORA_AT(UnitText, "u"),     AMPORA_AT(ListIndex, "u"),
                AMPORA_AT(ChannelId, "u"),   AMPORA_AT(SourceByIndex, "u"), AMPORA_AT(ResultMax, "d"),
                AMPORA_AT(ResultMin, "d"),   AMPORA_AT(SummaryValue, "d"), AMPORA_AT(FullScale, "d"),
                AMPORA_AT(RatedValue, "d"),  AMPORA_AT(Scale, "d"),        AMPORA_AT(ResultData, "u"),
                AMPORA_AT(SampleData, "u"),  AMPORA_AT(SecondaryData, "u"), AMPORA_AT(PulsesPerRev, "d"),
                AMPORA_AT(SampleMax, "f"),   AMPORA_AT(SampleMin, "f"),    AMPORA_AT(CrossingQueue, "u"),
                AMPORA_AT(TrackState, "d")};
#undef AMPORA_AT
}

Json Layout() {
    Json fields = Json::object();
    for (const FieldLayout& f : kRecordFields)
        fields[f.name] = {{"offset", f.offset}, {"type", std::string(1, f.type)}, {"slots", f.slots}};
    return {{"recordSize", kChannelInfoKnownSize},
            {"hostRecordSize", kHostRecordSize},
            {"namedFields", fields},
            {"hostFields", HostFields()},
            {"crossingQueue",
             {{"storage", kQueueStorageOffset}, {"capacity", kQueueCapacityOffset}, {"front", kQueueFrontOffset},
              {"count", kQueueCountOffset}}}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: ampora-export-table FILE\n";
        return 2;
    }
    try {
        const std::string path = argv[1], temporary = path + ".tmp";
        {
            std::ofstream out(temporary);
            out << Json{{"exports", Exports()}, {"record", Layout()}}.dump(1) << "\n";
            if (!out) throw std::runtime_error("cannot write " + temporary);
        }
        if (std::rename(temporary.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot write " + path);
    } catch (const std::exception& e) {
        std::cerr << "ampora-export-table: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
