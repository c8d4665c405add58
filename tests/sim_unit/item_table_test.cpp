#include "sim/item_table.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

GroupItem ItemFor(OPCHANDLE client) {
    GroupItem item;
    item.clientHandle = client;
    return item;
}

TEST(ItemTable, HandlesFindTheirItemsAndOutliveReuse) {
    ItemTable table;
    const OPCHANDLE a = table.Add(ItemFor(10));
    const OPCHANDLE b = table.Add(ItemFor(20));
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_NE(a, b);
    EXPECT_EQ(table.Find(a)->clientHandle, 10u);
    EXPECT_EQ(table.Find(b)->clientHandle, 20u);
    EXPECT_EQ(table.Count(), 2u);

    ASSERT_TRUE(table.Remove(a));
    EXPECT_FALSE(table.Remove(a));
    EXPECT_EQ(table.Find(a), nullptr);
    // The freed slot is taken again, under a handle of its own: the old one stays dead.
    const OPCHANDLE c = table.Add(ItemFor(30));
    EXPECT_NE(c, a);
    EXPECT_EQ(table.Find(a), nullptr);
    EXPECT_EQ(table.Find(c)->clientHandle, 30u);
    EXPECT_EQ(table.Count(), 2u);

    EXPECT_EQ(table.Find(0), nullptr);
    EXPECT_EQ(table.Find(0xFFFFFFFF), nullptr);
    EXPECT_EQ(table.Find(b + 1000), nullptr);

    std::vector<OPCHANDLE> clients;
    table.ForEach([&](OPCHANDLE handle, const GroupItem& item) {
        EXPECT_EQ(table.Find(handle), &item);
        clients.push_back(item.clientHandle);
    });
    EXPECT_EQ(clients, (std::vector<OPCHANDLE>{30, 20}));
}

TEST(ItemTable, ManyRemovalsNeverAliasALiveHandle) {
    ItemTable table;
    std::set<OPCHANDLE> dead;
    OPCHANDLE live = table.Add(ItemFor(0));
    for (int i = 1; i < 3000; ++i) {
        dead.insert(live);
        ASSERT_TRUE(table.Remove(live));
        live = table.Add(ItemFor(static_cast<OPCHANDLE>(i)));
        ASSERT_NE(live, 0u);
        ASSERT_EQ(dead.count(live), 0u) << "handle reused after " << i << " removals";
    }
    for (const OPCHANDLE h : dead) {
        ASSERT_EQ(table.Find(h), nullptr);
    }
}

}  // namespace
