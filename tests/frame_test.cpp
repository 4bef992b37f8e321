// How exports find their sources in the host's list.
#include <gtest/gtest.h>

#include "frame/resolve.h"
#include "host/host_channels.h"

namespace {

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
