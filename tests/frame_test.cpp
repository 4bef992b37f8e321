// How exports find their sources in the host's list: by ChannelId (the first
// match, skipping null elements) or by zero-based list position, as the
// target's SourceByIndex says.
#include <gtest/gtest.h>

#include "frame/resolve.h"
#include "hostkit/host_channels.h"

namespace {

TEST(SourceResolution, ByIdOrByPositionAsTheRecordSays) {
    HostChannels host;
    host.AddNullElement();
    ChannelInfo* a = host.Add(7);
    ChannelInfo* b = host.Add(9);
    ChannelInfo* c = host.Add(7);   // same id as a, further from the head
    EXPECT_EQ(FindChannelById(host.List(), 7), a);
    EXPECT_EQ(FindChannelById(host.List(), 8), nullptr);
    EXPECT_EQ(FindChannelById(nullptr, 7), nullptr);
    EXPECT_EQ(FindChannelByIndex(host.List(), 3), c);
    EXPECT_EQ(FindChannelByIndex(host.List(), 4), nullptr);

    ChannelInfo* target = host.Add(50, false);
    ChannelInfo* found[2];
    host.SetSources(target, {3, 1}, /*byIndex=*/true);
    ASSERT_TRUE(ResolveSources(host.List(), target, SourceLookup::ByRecordSetting, found));
    EXPECT_EQ(found[0], c);
    EXPECT_EQ(found[1], a);
    host.SetSources(target, {9, 7}, /*byIndex=*/false);
    ASSERT_TRUE(ResolveSources(host.List(), target, SourceLookup::ByRecordSetting, found));
    EXPECT_EQ(found[0], b);
    EXPECT_EQ(found[1], a);
    host.SetSources(target, {4}, /*byIndex=*/true);
    EXPECT_FALSE(ResolveSources(host.List(), target, SourceLookup::ByRecordSetting, found, 1)) << "past the end";

    // At most count nodes are walked: the nodes past the count are not in the list.
    CPtrList* list = host.List();
    list->count = 2;
    EXPECT_EQ(FindChannelById(list, 9), nullptr);
    EXPECT_EQ(FindChannelByIndex(list, 2), nullptr);
    list->count = 5;
}

}  // namespace
