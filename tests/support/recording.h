// The fixed recording the export-wide checks and the benchmark run on.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "frame/channel_info.h"
#include "hostkit/host_channels.h"

// A synchronous-generator recording at 10 kS/s: phase voltages 1-3, currents
// 4-6 (lagging 30°, 5 % fifth harmonic), line voltages 7-9, key pulse 10,
// speed wheel 11; each channel's ResultData holds its samples too, and each has
// a summary record (id + 36) with whole-record values.
struct Recording {
    static constexpr int kSamples = 8192;
    static constexpr int kMargin = 1024;   // result entries past the end that leading ramps may write
    static constexpr int kBlock = 1000;
    static constexpr double kRate = 10000.0;   // samples per second

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
    // A fresh target record, not in the list, with sources by id and a result
    // array (and, with ownSamples, the first phase voltage's samples as its
    // own); prepare sets what else the call needs before onTarget sees it.
    ChannelInfo* Target(const std::vector<uint8_t>& sources, uint32_t calcKind = 1,
                        const std::function<void(ChannelInfo*)>& prepare = nullptr, bool ownSamples = false);
    CPtrList* List() { return list; }
};
