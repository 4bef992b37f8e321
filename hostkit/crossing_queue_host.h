// Host side of the record's crossing queue (tracking/crossing_queue.h): the
// host constructs it with a fixed number of 0.0 entries before the first block
// of a record and destroys it when the record goes. The array lies below
// 4 GiB, since the queue object holds a 32-bit address like the record's
// other array fields.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "frame/channel_info.h"
#include "tracking/crossing_queue.h"

#if defined(MAP_32BIT) && UINTPTR_MAX > 0xFFFFFFFFu
constexpr int kQueueLowFlag = MAP_32BIT;
#else
constexpr int kQueueLowFlag = 0;
#endif

inline std::size_t CrossingQueueBytes(uint32_t capacity) { return std::size_t{capacity} * sizeof(float); }

// Constructs the queue with length entries of 0.0 in the record's 48 bytes.
inline void ConstructCrossingQueue(ChannelInfo* record, uint32_t length) {
    const uint32_t capacity = length + 1;
    void* storage = mmap(nullptr, CrossingQueueBytes(capacity), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | kQueueLowFlag, -1, 0);
    if (storage == MAP_FAILED) throw std::bad_alloc();
    const auto address = reinterpret_cast<std::uintptr_t>(storage);
    if (address > 0xFFFFFFFFu - CrossingQueueBytes(capacity)) {
        munmap(storage, CrossingQueueBytes(capacity));
        throw std::bad_alloc();
    }
    std::memset(storage, 0, CrossingQueueBytes(capacity));  // mmap zeroes; stated for the reader
    std::memset(record->CrossingQueue, 0, sizeof record->CrossingQueue);
    CrossingQueueView::SetWord(record, kQueueStorageOffset, static_cast<uint32_t>(address));
    CrossingQueueView::SetWord(record, kQueueCapacityOffset, capacity);
    CrossingQueueView::SetWord(record, kQueueFrontOffset, 0);
    CrossingQueueView::SetWord(record, kQueueCountOffset, length);
}

// The host array behind a constructed queue, for hosts and checks that look at it.
inline float* CrossingQueueStorage(const ChannelInfo* record) {
    return CrossingQueueView::Load(record).storage;
}
inline uint32_t CrossingQueueCapacity(const ChannelInfo* record) {
    return CrossingQueueView::Load(record).capacity;
}

// Releases the array and leaves an empty object (no array, no entries).
inline void DestroyCrossingQueue(ChannelInfo* record) {
    const CrossingQueueView q = CrossingQueueView::Load(record);
    if (q.storage != nullptr) munmap(q.storage, CrossingQueueBytes(q.capacity));
    std::memset(record->CrossingQueue, 0, sizeof record->CrossingQueue);
}

// Owns a constructed queue for the lifetime of a scope.
class HostCrossingQueue {
public:
    HostCrossingQueue(ChannelInfo* record, uint32_t length) : record_(record) {
        ConstructCrossingQueue(record, length);
    }
    HostCrossingQueue(const HostCrossingQueue&) = delete;
    HostCrossingQueue& operator=(const HostCrossingQueue&) = delete;
    ~HostCrossingQueue() { DestroyCrossingQueue(record_); }
    float* Storage() const { return CrossingQueueStorage(record_); }
    std::size_t StorageBytes() const { return CrossingQueueBytes(CrossingQueueCapacity(record_)); }

private:
    ChannelInfo* record_;
};
