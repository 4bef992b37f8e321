// Frequency and speed tracking: crossings, the record's crossing queue, the
// trackers block after block, and the whole-record means.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ampora.h"
#include "host/crossing_queue_host.h"
#include "support/integrity.h"
#include "tracking/crossing.h"
#include "tracking/crossing_queue.h"

namespace {

// Which tests accept a sample lying exactly on the level, rising and falling.
TEST(Crossing, LevelTouchRulesAndPosition) {
    struct Case {
        double before, after;
        bool onto, off, through, fallsOff, falls;
    } cases[] = {
        {-1.0, 1.0, true, true, true, false, false},
        {0.0, 1.0, false, true, true, false, false},   // starts on the level
        {-1.0, 0.0, true, false, true, false, false},  // ends on the level
        {1.0, -1.0, false, false, false, true, true},
        {0.0, -1.0, false, false, false, true, true},
        {1.0, 0.0, false, false, false, false, true},
        {0.0, 0.0, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " -> " << c.after);
        EXPECT_EQ(RisesOntoLevel(c.before, c.after, 0.0), c.onto);
        EXPECT_EQ(RisesOffLevel(c.before, c.after, 0.0), c.off);
        EXPECT_EQ(RisesThrough(c.before, c.after, 0.0), c.through);
        EXPECT_EQ(FallsOffLevel(c.before, c.after, 0.0), c.fallsOff);
        EXPECT_EQ(FallsThrough(c.before, c.after, 0.0), c.falls);
    }
    // 1 -> 3 reaches 2 halfway: from the later sample at 11, 10.5; over a
    // pair four positions apart, 9.0.
    EXPECT_DOUBLE_EQ(CrossingPosition(11.0, 1.0, 3.0, 2.0), 10.5);
    EXPECT_DOUBLE_EQ(CrossingPosition(11.0, 1.0, 3.0, 2.0, 4.0), 9.0);
    EXPECT_DOUBLE_EQ(CrossingPositionFromBefore(10.0, 3.0, 0.0, 2.0), 10.0 + 1.0 / 3.0);
}

// The queue keeps its length through append-and-remove, reads from the front,
// wraps around its array, and stays inside its 48 bytes and its array.
TEST(CrossingQueue, FixedLengthFifoInsideItsBytes) {
    HostChannels host(0x5A);
    ChannelInfo* t = host.Add(1, false);
    HostCrossingQueue queue(t, 4);
    EXPECT_EQ(CrossingQueueLength(t), 4u);
    uint32_t countAtOffset;
    std::memcpy(&countAtOffset, reinterpret_cast<unsigned char*>(t) + 1926, 4);
    EXPECT_EQ(countAtOffset, 4u);
    for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(CrossingQueueAt(t, k), 0.0f);

    ByteWatch watch(host);
    watch.Watch(queue.Storage(), queue.StorageBytes());
    watch.Allow(queue.Storage(), queue.StorageBytes());
    AMPORA_ALLOW_FIELD(watch, t, CrossingQueue);
    for (int i = 1; i <= 11; ++i) {
        CrossingQueueAppend(t, static_cast<float>(i));
        CrossingQueueRemoveFront(t);
        ASSERT_EQ(CrossingQueueLength(t), 4u);
    }
    EXPECT_EQ(watch.Violations(), "");
    for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(CrossingQueueAt(t, k), static_cast<float>(8 + k));
}

}  // namespace
