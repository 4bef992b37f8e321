// Source resolution: how an export finds the records its target names.
#pragma once

#include <cstdint>

#include "frame/channel_info.h"
#include "frame/export_registry.h"
#include "frame/host_list.h"

ChannelInfo* FindChannelById(const CPtrList* channels, uint32_t reference);
ChannelInfo* FindChannelByIndex(const CPtrList* channels, uint32_t reference);

// Resolves sources 0 .. n-1 into out[] by the export's lookup rule (LookupFor). Returns
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
