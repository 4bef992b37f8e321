// A fixed recording and one call per export over it, for the checks that run
// every export the same way: the same numbers on every build, and the same
// numbers when several threads compute at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_channels.h"

// A synchronous-generator recording at 10 kS/s: phase voltages 1-3, currents
// 4-6 (lagging 30°, 5 % fifth harmonic), line voltages 7-9, key pulse 10,
// speed wheel 11; each channel's ResultData holds its samples too, and each has
// a summary record (id + 36) with whole-record values.
struct Recording {
    static constexpr int kSamples = 8192;
    static constexpr int kMargin = 1024;   // result entries past the end that leading ramps may write
    static constexpr int kBlock = 1000;

    HostChannels host{0x00};
    std::mutex targetsMutex;   // targets may be made from several threads
    float* puParams;   // the 13 per-unit parameters the voltage summaries read

    // The list the calls are given: the recording's own unless a test swaps in
    // a null, empty or short one.
    CPtrList* list = host.List();
    bool unresolvableSources = false;   // targets name channels the list lacks
    bool sourcesByIndex = false;        // targets name their sources by list position
    std::function<void(ChannelInfo*)> onTarget;   // called with each new target

    // guardedArrays: every array (the per-unit parameters too) ends at an
    // inaccessible page, or begins after one.
    explicit Recording(bool guardedArrays = false, GuardSide side = GuardSide::AfterEnd);
    // A fresh target record, not in the list, with sources by id and a result array.
    ChannelInfo* Target(const std::vector<uint8_t>& sources, uint32_t calcKind = 1);
    CPtrList* List() { return list; }
};

struct ExportCall {
    std::string name;
    bool writesSources;   // the export writes a source record, so it cannot share one
    // Runs the export on a target of the recording; returns the result (block
    // exports: 0.0) and leaves the target in *target.
    std::function<double(Recording&, ChannelInfo** target)> run;
};

const std::vector<ExportCall>& AllExportCalls();

// A digest of everything a call produced: its result, the target's result
// array and record fields, and every record of the recording (addresses left out).
uint64_t DigestOf(Recording& r, const ChannelInfo* target, double result);
