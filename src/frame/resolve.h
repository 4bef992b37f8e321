// Source resolution: how an export finds the records its target names.
#pragma once

#include <cstdint>
#include <string_view>

#include "frame/channel_info.h"
#include "frame/host_list.h"

ChannelInfo* FindChannelById(const CPtrList* channels, uint32_t reference);
ChannelInfo* FindChannelByIndex(const CPtrList* channels, uint32_t reference);

// How an export turns its target's SourceIds into records.
enum class SourceLookup {
    ByRecordSetting,   // by list position when SourceByIndex is nonzero, else by ChannelId
    ById,              // always by ChannelId, SourceByIndex not read
    SummaryById,       // always by ChannelId, with reference SourceIds[k] + 36
    BeforeTarget,      // positions ListIndex - 2, ListIndex - 1; no SourceIds
    None,              // the export takes records, not the list
};

struct LookupRule {
    std::string_view exportName;
    SourceLookup lookup;
};

// The exports that do not follow the general rule; every other export resolves
// by its record's setting.
inline constexpr LookupRule kLookupExceptions[] = {
    {"GetCosStatus", SourceLookup::BeforeTarget},
    {"GetPSumStatus", SourceLookup::BeforeTarget},
    {"GetCosStatusSum", SourceLookup::BeforeTarget},
    {"GetPSumStatusSum", SourceLookup::BeforeTarget},
    {"GetAngleSum", SourceLookup::SummaryById},
    {"GetFrequenceStatus", SourceLookup::ById},
    {"GetReduce", SourceLookup::ById},
    {"GetRPM", SourceLookup::ById},
    {"GetBSCLRPM", SourceLookup::ById},
    {"GetPWMAngle", SourceLookup::ById},
    {"GetRPMSum", SourceLookup::ById},
    {"GetSubtraction", SourceLookup::ById},
    {"GetGJ3Sum", SourceLookup::ById},
    {"GetGJ5Sum", SourceLookup::ById},
    {"GetGJ4Sum", SourceLookup::ById},
    {"GetGJSum", SourceLookup::ById},
    {"GetJXtmp", SourceLookup::ById},
    {"GetUTSum", SourceLookup::ById},
    {"GetAngleTSum", SourceLookup::ById},
    {"GetUXSum", SourceLookup::ById},
    {"GetUX2Sum", SourceLookup::ById},
    {"GetAngleXSum", SourceLookup::ById},
    {"GetAngleX2Sum", SourceLookup::ById},
    {"GetEqTJJ", SourceLookup::None},
    {"GetEqYJJ", SourceLookup::None},
    {"GetKmByEq", SourceLookup::None},
    {"GetPowerAvgSelf", SourceLookup::None},
};

constexpr SourceLookup LookupFor(std::string_view exportName) {
    for (const LookupRule& rule : kLookupExceptions)
        if (rule.exportName == exportName) return rule.lookup;
    return SourceLookup::ByRecordSetting;
}

// Resolves sources 0 .. n-1 of the export named exportName into out[]. Returns
// false (and the export must return without writing) when channels is null or
// any source is not found.
bool ResolveSources(const CPtrList* channels, const ChannelInfo* target, SourceLookup lookup,
                    ChannelInfo** out, int n);

template <int N>
bool ResolveSources(const CPtrList* channels, const ChannelInfo* target, SourceLookup lookup,
                    ChannelInfo* (&out)[N]) {
    return ResolveSources(channels, target, lookup, out, N);
}

// The record holding the whole-record results of source k: ChannelId SourceIds[k] + 36.
ChannelInfo* FindSummaryRecord(const CPtrList* channels, const ChannelInfo* target, int k);
