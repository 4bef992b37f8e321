// The record layout as the host sees it, and how exports find their sources.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/resolve.h"
#include "host/host_channels.h"

namespace {

TEST(ChannelRecord, FieldsAtOddOffsetsReadThroughRawBytes) {
    unsigned char bytes[kHostRecordSize] = {};
    const uint32_t calcKind = 2, channelId = 0x01020304;
    const double summary = -12.625;
    std::memcpy(bytes + 986, &calcKind, 4);
    std::memcpy(bytes + 1002, &channelId, 4);
    std::memcpy(bytes + 1166, &summary, 8);
    auto* record = reinterpret_cast<ChannelInfo*>(bytes);
    EXPECT_EQ(record->CalcKind, 2u);
    EXPECT_EQ(record->ChannelId, 0x01020304u);
    EXPECT_EQ(record->SummaryValue, -12.625);
    record->KmTable[19] = 7.5;   // the last table entry ends where the host bytes begin
    double last;
    std::memcpy(&last, bytes + 471, 8);
    EXPECT_EQ(last, 7.5);
    EXPECT_EQ(bytes[479], 0);
}

TEST(ChannelRecord, PointerFieldsAreFourBytesOnEveryBuild) {
    EXPECT_EQ(sizeof(ChannelInfo::ResultData), 4u);
    EXPECT_EQ(offsetof(ChannelInfo, SampleData) - offsetof(ChannelInfo, ResultData), 4u);
    EXPECT_EQ(offsetof(ChannelInfo, CrossingQueue) + 44, kCrossingQueueCountOffset);
}

struct Listed {
    HostChannels host;
    ChannelInfo* a = host.Add(7);
    ChannelInfo* b = host.Add(9);
    ChannelInfo* c = host.Add(7);   // same id as a, further from the head
};

TEST(SourceResolution, ByIdTakesTheFirstMatchAndSkipsNullElements) {
    HostChannels host;
    host.AddNullElement();
    ChannelInfo* first = host.Add(7);
    host.Add(7);
    EXPECT_EQ(FindChannelById(host.List(), 7), first);
    EXPECT_EQ(FindChannelById(host.List(), 8), nullptr);
    EXPECT_EQ(FindChannelById(nullptr, 7), nullptr);
}

TEST(SourceResolution, ByIndexIsZeroBasedAndNullPastTheEnd) {
    Listed l;
    EXPECT_EQ(FindChannelByIndex(l.host.List(), 0), l.a);
    EXPECT_EQ(FindChannelByIndex(l.host.List(), 2), l.c);
    EXPECT_EQ(FindChannelByIndex(l.host.List(), 3), nullptr);
    HostChannels empty;
    EXPECT_EQ(FindChannelByIndex(empty.List(), 0), nullptr);
    EXPECT_EQ(FindChannelById(empty.List(), 0), nullptr);
    // At most count nodes are walked: a chain looping back ends, and the
    // nodes past the count are not in the list.
    CPtrList* list = l.host.List();
    list->tail->next = list->head;
    EXPECT_EQ(FindChannelById(list, 8), nullptr);
    EXPECT_EQ(FindChannelById(list, 9), l.b);
    list->count = 1;
    EXPECT_EQ(FindChannelById(list, 9), nullptr);
    EXPECT_EQ(FindChannelByIndex(list, 1), nullptr);
    list->count = -3;
    EXPECT_EQ(FindChannelById(list, 7), nullptr);
    list->tail->next = nullptr, list->count = 3;
}

TEST(SourceResolution, RecordSettingChoosesIdOrPosition) {
    Listed l;
    ChannelInfo* target = l.host.Add(50, false);
    ChannelInfo* found[2];
    l.host.SetSources(target, {2, 0}, /*byIndex=*/true);
    ASSERT_TRUE(ResolveSources(l.host.List(), target, SourceLookup::ByRecordSetting, found));
    EXPECT_EQ(found[0], l.c);
    EXPECT_EQ(found[1], l.a);
    l.host.SetSources(target, {9}, /*byIndex=*/true);
    EXPECT_FALSE(ResolveSources(l.host.List(), target, SourceLookup::ByRecordSetting, found, 1))
        << "position 9 is past the end of a three-element list";
    l.host.SetSources(target, {9, 7}, /*byIndex=*/false);
    ASSERT_TRUE(ResolveSources(l.host.List(), target, SourceLookup::ByRecordSetting, found));
    EXPECT_EQ(found[0], l.b);
    EXPECT_EQ(found[1], l.a);
    // The lookups that always go by id ignore SourceByIndex.
    l.host.SetSources(target, {9, 7}, /*byIndex=*/true);
    ASSERT_TRUE(ResolveSources(l.host.List(), target, LookupFor("GetRPM"), found));
    EXPECT_EQ(found[0], l.b);
}

TEST(SourceResolution, SummaryAndBeforeTargetLookups) {
    HostChannels host;
    ChannelInfo* p = host.Add(1);
    ChannelInfo* q = host.Add(2);
    ChannelInfo* summary = host.Add(3 + 36);
    ChannelInfo* target = host.Add(60);
    host.SetSources(target, {3}, /*byIndex=*/true);
    ChannelInfo* found[2];
    ASSERT_TRUE(ResolveSources(host.List(), target, LookupFor("GetAngleSum"), found, 1));
    EXPECT_EQ(found[0], summary);
    target->ListIndex = 2;
    ASSERT_TRUE(ResolveSources(host.List(), target, LookupFor("GetCosStatus"), found));
    EXPECT_EQ(found[0], p);
    EXPECT_EQ(found[1], q);
    for (uint32_t index : {0u, 1u}) {
        target->ListIndex = index;
        EXPECT_FALSE(ResolveSources(host.List(), target, LookupFor("GetCosStatus"), found)) << index;
    }
    EXPECT_FALSE(ResolveSources(nullptr, target, SourceLookup::ByRecordSetting, found));
}

}  // namespace
