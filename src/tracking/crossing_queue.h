// The record's crossing queue: a first-in first-out sequence of float crossing
// positions that the host constructs inside the target record (48 bytes from
// offset 1882) over an array it allocates. The object is a ring over that
// array:
//
//   +0   u32  address of the host's float array (32 bits, like every array field)
//   +4   u32  capacity of the array, one more than the queue's length, so an
//             append may come before the matching removal
//   +8   u32  ring index of the front entry
//   +12  ..   unused, zero
//   +44  u32  element count (record offset 1926)
//
// The library appends at the back, removes at the front and reads the k-th
// entry from the front; construction and destruction are the host's
// (host/crossing_queue_host.h).
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/channel_info.h"

constexpr std::size_t kQueueStorageOffset = 0;
constexpr std::size_t kQueueCapacityOffset = 4;
constexpr std::size_t kQueueFrontOffset = 8;
constexpr std::size_t kQueueCountOffset = kCrossingQueueCountOffset - offsetof(ChannelInfo, CrossingQueue);
static_assert(kQueueCountOffset == 44, "the element count is the queue object's last word");

// A working view of the queue object: the fields are read once and written
// back with Store, so a scan over many crossings does not go through the
// record's unaligned bytes at every step.
struct CrossingQueueView {
    float* storage;
    uint32_t capacity;
    uint32_t front;
    uint32_t count;

    static uint32_t Word(const ChannelInfo* record, std::size_t at) {
        uint32_t value;
        std::memcpy(&value, record->CrossingQueue + at, sizeof value);
        return value;
    }
    static void SetWord(ChannelInfo* record, std::size_t at, uint32_t value) {
        std::memcpy(record->CrossingQueue + at, &value, sizeof value);
    }

    static CrossingQueueView Load(const ChannelInfo* record) {
        return {ArrayAt<float>(Word(record, kQueueStorageOffset)), Word(record, kQueueCapacityOffset),
                Word(record, kQueueFrontOffset), Word(record, kQueueCountOffset)};
    }
    // Writes back the two words the operations change.
    void Store(ChannelInfo* record) const {
        SetWord(record, kQueueFrontOffset, front);
        SetWord(record, kQueueCountOffset, count);
    }

    // A queue the host has not constructed (no array) or cannot grow by one.
    bool Usable() const { return storage != nullptr && capacity > count && count > 0; }

    void PushBack(float position) {
        storage[(front + count) % capacity] = position;
        ++count;
    }
    void PopFront() {
        front = (front + 1) % capacity;
        --count;
    }
    // Entry k from the front (k = 0 the oldest); k must be below count.
    float At(uint32_t k) const { return storage[(front + k) % capacity]; }
};

// The same operations directly on the record, for callers that touch the
// queue once or twice per call.
inline uint32_t CrossingQueueLength(const ChannelInfo* record) {
    return CrossingQueueView::Word(record, kQueueCountOffset);
}
inline void CrossingQueueAppend(ChannelInfo* record, float position) {
    CrossingQueueView q = CrossingQueueView::Load(record);
    q.PushBack(position);
    q.Store(record);
}
inline void CrossingQueueRemoveFront(ChannelInfo* record) {
    CrossingQueueView q = CrossingQueueView::Load(record);
    q.PopFront();
    q.Store(record);
}
inline float CrossingQueueAt(const ChannelInfo* record, uint32_t k) {
    return CrossingQueueView::Load(record).At(k);
}
