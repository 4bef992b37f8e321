// Host side: the channel list and records as a host builds them — records
// larger than the part the library knows, arrays below 4 GiB, a framework list.
#pragma once

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ampora.h"
#include "hostkit/low_memory.h"

// A framework list as a host makes it: empty, appended at the tail, its nodes released.
inline void ListInit(CPtrList* list) { *list = CPtrList{nullptr, nullptr, nullptr, 0, nullptr, nullptr, 10}; }

inline void ListAddTail(CPtrList* list, void* data) {
    CNode* node = new CNode{nullptr, list->tail, data};
    if (list->tail != nullptr) list->tail->next = node; else list->head = node;
    list->tail = node;
    ++list->count;
}

inline void ListFree(CPtrList* list) {
    for (CNode* node = list->head; node != nullptr;) {
        CNode* next = node->next;
        delete node;
        node = next;
    }
    ListInit(list);
}

// A host record carries host-owned bytes past the fields the library knows.
constexpr std::size_t kHostRecordSize = 2048;

class HostChannels {
public:
    // fill: the byte every new record starts with (a sentinel shows stray writes).
    explicit HostChannels(unsigned char fill = 0, bool guardedArrays = false, GuardSide side = GuardSide::AfterEnd)
        : fill_(fill), guarded_(guardedArrays), memory_(side) {
        ListInit(&list_);
    }
    HostChannels(const HostChannels&) = delete;
    HostChannels& operator=(const HostChannels&) = delete;
    ~HostChannels() { ListFree(&list_); }

    CPtrList* List() { return &list_; }
    LowMemory& Memory() { return memory_; }

    // A new record with the given ChannelId, appended to the list unless listed is false.
    ChannelInfo* Add(uint32_t channelId, bool listed = true) {
        auto storage = std::make_unique<unsigned char[]>(kHostRecordSize);
        std::memset(storage.get(), fill_, kHostRecordSize);
        auto* record = reinterpret_cast<ChannelInfo*>(storage.get());
        record->ChannelId = channelId;
        std::lock_guard<std::mutex> lock(recordsMutex_);
        records_.push_back({std::move(storage), {}});
        if (listed) ListAddTail(&list_, record);
        return record;
    }

    // Appends a null element, as a host list may hold one.
    void AddNullElement() { ListAddTail(&list_, nullptr); }

    float* Samples(ChannelInfo* c, const std::vector<float>& values) {
        float* data = Array(c, values.size());
        std::memcpy(data, values.data(), values.size() * sizeof(float));
        c->SampleData = LowMemory::Address(data);
        return data;
    }
    float* Samples(ChannelInfo* c, std::size_t n) { return Samples(c, std::vector<float>(n, 0.0f)); }

    float* Results(ChannelInfo* c, std::size_t n, float initial = 0.0f) {
        float* data = Array(c, n);
        for (std::size_t i = 0; i < n; ++i) data[i] = initial;
        c->ResultData = LowMemory::Address(data);
        return data;
    }
    float* Results(ChannelInfo* c, const std::vector<float>& values) {
        float* data = Results(c, values.size());
        std::memcpy(data, values.data(), values.size() * sizeof(float));
        return data;
    }

    float* Secondary(ChannelInfo* c, const std::vector<float>& values) {
        float* data = Array(c, values.size());
        std::memcpy(data, values.data(), values.size() * sizeof(float));
        c->SecondaryData = LowMemory::Address(data);
        return data;
    }

    void SetSources(ChannelInfo* target, const std::vector<uint8_t>& ids, bool byIndex = false) {
        auto* data = static_cast<uint8_t*>(Allocate(target, ids.size()));
        std::copy(ids.begin(), ids.end(), data);
        target->SourceIds = LowMemory::Address(data);
        target->SourceByIndex = byIndex ? 1 : 0;
    }

    void SetUnit(ChannelInfo* c, const std::string& unit) {
        auto* text = static_cast<char*>(Allocate(c, unit.size() + 1));
        std::memcpy(text, unit.c_str(), unit.size() + 1);
        c->UnitText = LowMemory::Address(text);
    }

    // Every record and every array, for checks of what a call changed.
    struct Block {
        const void* data;
        std::size_t size;
    };
    std::vector<Block> AllBytes() const {
        std::vector<Block> blocks;
        for (const auto& r : records_) {
            blocks.push_back({r.storage.get(), kHostRecordSize});
            for (const Block& a : r.arrays) blocks.push_back(a);
        }
        return blocks;
    }

private:
    struct Record {
        std::unique_ptr<unsigned char[]> storage;
        std::vector<Block> arrays;
    };

    void* Allocate(ChannelInfo* owner, std::size_t bytes) {
        void* data = memory_.Bytes(bytes, guarded_);
        // Arrays may be made for different records from several threads.
        std::lock_guard<std::mutex> lock(recordsMutex_);
        for (auto& r : records_)
            if (r.storage.get() == reinterpret_cast<unsigned char*>(owner)) r.arrays.push_back({data, bytes});
        return data;
    }
    float* Array(ChannelInfo* owner, std::size_t n) {
        return static_cast<float*>(Allocate(owner, n * sizeof(float)));
    }

    unsigned char fill_;
    bool guarded_;
    LowMemory memory_;
    CPtrList list_;
    std::mutex recordsMutex_;
    std::vector<Record> records_;
};

// The running state the trackers and cycle averages keep in their target,
// zeroed as a host zeroes it before a record starts.
inline void ZeroTrackingState(ChannelInfo* t) {
    for (double& slot : t->TrackState) slot = 0.0;
    t->HeldValue = t->CycleStart = t->PeriodFrequency = 0.0;
    t->LastBlockEnd = t->PeriodEndIndex = t->QuietCount = 0;
}
