#include <gtest/gtest.h>

#include <QByteArrayList>

#include "mqtt/relay_commands.h"
#include "mqtt/retained_store.h"

namespace corvelle {
namespace {

QByteArrayList Drain(RetainedStore& store, std::vector<RetainedStore::Send>* sent = nullptr) {
    QByteArrayList topics;
    while (const auto next = store.Next()) {
        topics.append(next->topic + "=" + next->payload);
        if (sent != nullptr) {
            sent->push_back(*next);
        }
    }
    return topics;
}

TEST(RetainedStore, KeepsTheLatestPayloadAndForgetsARemovalOnceTaken) {
    RetainedStore store;
    store.Set("A/status", "online");
    store.Set("A/status", "offline");
    store.Set("A/alarm/ch1", "{}");
    store.Set("never/status", "");
    std::vector<RetainedStore::Send> sent;
    EXPECT_EQ(Drain(store, &sent), (QByteArrayList{"A/status=offline", "A/alarm/ch1={}"}));
    EXPECT_EQ(store.Unsent(), 2U);
    store.Acknowledged(sent[0]);
    store.Acknowledged(sent[1]);
    EXPECT_EQ(store.Unsent(), 0U);

    // A change while the old value is on its way: the old acknowledgement does not count.
    store.Set("A/alarm/ch1", "");
    const auto removal = store.Next();
    store.Set("A/alarm/ch1", "{\"on\":1}");
    store.Acknowledged(*removal);
    EXPECT_TRUE(store.Holds("A/alarm/ch1"));
    EXPECT_EQ(Drain(store, &sent), QByteArrayList{"A/alarm/ch1={\"on\":1}"});
    store.Set("A/alarm/ch1", "");
    store.Acknowledged(*store.Next());
    EXPECT_FALSE(store.Holds("A/alarm/ch1"));
    store.ResendAll();
    EXPECT_EQ(Drain(store), QByteArrayList{"A/status=offline"});
}

TEST(RetainedStore, WhatTheBrokerHadIsCorrectedAndOnlyWhatDiffersGoesAgain) {
    RetainedStore store;
    store.Set("A/status", "online");
    store.Set("B/status", "offline");
    store.ResendAll();
    store.Found("A/status", "online");
    store.Found("B/status", "online");
    store.Found("gone/status", "online");
    store.Found("left/status", "offline");
    store.Found("gone/meta", "{}");
    store.Found("A/relay/1/set", "on");
    EXPECT_EQ(Drain(store), (QByteArrayList{"B/status=offline", "gone/status=offline",
                                            "gone/meta=", "A/relay/1/set="}));
    // A terminal that identified in an earlier run has a status from now on.
    EXPECT_TRUE(store.Holds("left/status"));
    EXPECT_FALSE(store.Holds("gone/meta"));
}

TEST(RetainedStore, GivenUpOnAfterThreeFailuresUntilItChanges) {
    RetainedStore store;
    store.Set("A/meta", "huge");
    for (int attempt = 1; attempt <= RetainedStore::kMostFailures; ++attempt) {
        store.ResendAll();
        EXPECT_EQ(store.Failed(*store.Next()), attempt);
    }
    store.ResendAll();
    EXPECT_FALSE(store.Next());
    EXPECT_EQ(store.Unsent(), 0U);
    store.Set("A/meta", "small");
    EXPECT_EQ(Drain(store), QByteArrayList{"A/meta=small"});
}

TEST(RelayCommands, EachCommandEndsWithOneResult) {
    RelayCommands commands;
    commands.Add("P", 3, true, 1000);
    commands.Add("P", 3, false, 1000);
    commands.Add("Q", 1, true, 2000);
    commands.Add("Q", 2, true, 500);
    // The echo of "on" does not end the "off" behind it.
    EXPECT_EQ(commands.Echo("P", 3, true)->words, "done on");
    EXPECT_FALSE(commands.Echo("P", 4, false));
    EXPECT_EQ(commands.Echo("P", 3, false)->words, "done off");
    const auto expired = commands.Expire(999);
    ASSERT_EQ(expired.size(), 1U);
    EXPECT_EQ(expired[0].relay, 2);
    EXPECT_EQ(expired[0].words, "timed out");
    const auto detached = commands.Detached("Q");
    ASSERT_EQ(detached.size(), 1U);
    EXPECT_EQ(detached[0].words, "not linked");
    EXPECT_TRUE(commands.Empty());
}

}  // namespace
}  // namespace corvelle
