#include "frame/resolve.h"

namespace {
constexpr uint32_t kSummaryIdOffset = 36;
}

ChannelInfo* FindChannelById(const CPtrList* channels, uint32_t reference) {
    if (channels == nullptr || channels->count == 0) return nullptr;
    const CNode* node = WalkList(channels, [reference](const CNode* n, int) {
        const auto* record = static_cast<const ChannelInfo*>(n->data);
        return record != nullptr && record->ChannelId == reference;
    });
    return node != nullptr ? static_cast<ChannelInfo*>(node->data) : nullptr;
}

ChannelInfo* FindChannelByIndex(const CPtrList* channels, uint32_t reference) {
    if (channels == nullptr || channels->count == 0) return nullptr;
    if (reference >= static_cast<uint32_t>(channels->count)) return nullptr;
    const CNode* node = ListFindIndex(channels, static_cast<int>(reference));
    return node != nullptr ? static_cast<ChannelInfo*>(node->data) : nullptr;
}

bool ResolveSources(const CPtrList* channels, const ChannelInfo* target, SourceLookup lookup,
                    ChannelInfo** out, int n) {
    if (channels == nullptr) return false;
    for (int k = 0; k < n; ++k) {
        ChannelInfo* source = nullptr;
        switch (lookup) {
            case SourceLookup::ByRecordSetting: {
                const uint32_t reference = SourceIdArray(target)[k];
                source = target->SourceByIndex != 0 ? FindChannelByIndex(channels, reference)
                                                    : FindChannelById(channels, reference);
                break;
            }
            case SourceLookup::ById:
                source = FindChannelById(channels, SourceIdArray(target)[k]);
                break;
            case SourceLookup::SummaryById:
                source = FindSummaryRecord(channels, target, k);
                break;
            case SourceLookup::BeforeTarget:
                // Positions ListIndex - 2 + k; a target at position 0 or 1 wraps to a
                // huge position, which is outside every list.
                source = FindChannelByIndex(channels, target->ListIndex - 2u + static_cast<uint32_t>(k));
                break;
            case SourceLookup::None:
                break;
        }
        if (source == nullptr) return false;
        out[k] = source;
    }
    return true;
}

ChannelInfo* FindSummaryRecord(const CPtrList* channels, const ChannelInfo* target, int k) {
    return FindChannelById(channels, uint32_t{SourceIdArray(target)[k]} + kSummaryIdOffset);
}
