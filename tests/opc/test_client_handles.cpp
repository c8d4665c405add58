// The client handle table: every live item has its own handle, and a handle of a removed item
// never names the item that takes its place.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "opc/client_handle_table.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"

namespace {

COPCItem* Fake(std::uintptr_t n) {
    return reinterpret_cast<COPCItem*>(n * 16);
}

TEST(ClientHandleTable, StaleHandlesNeverNameANewItem) {
    ClientHandleTable table;
    const OPCHANDLE a = table.Add(Fake(1));
    const OPCHANDLE b = table.Add(Fake(2));
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(table.Find(a), Fake(1));
    EXPECT_EQ(table.Find(b), Fake(2));
    EXPECT_EQ(table.Find(0), nullptr);
    EXPECT_EQ(table.Find(0xFFFFFFFF), nullptr);

    table.Remove(a);
    table.Remove(a);  // twice is harmless
    EXPECT_EQ(table.Find(a), nullptr);
    const OPCHANDLE c = table.Add(Fake(3));  // takes a's slot
    EXPECT_EQ(c & ClientHandleTable::kIndexMask, a & ClientHandleTable::kIndexMask);
    EXPECT_NE(c, a);
    EXPECT_EQ(table.Find(a), nullptr);
    EXPECT_EQ(table.Find(c), Fake(3));
    EXPECT_EQ(table.Size(), 2u);

    // A slot used over and over never hands out a handle twice in a row, nor handle 0.
    std::set<OPCHANDLE> seen;
    OPCHANDLE last = c;
    for (int i = 0; i < 5000; ++i) {
        table.Remove(last);
        last = table.Add(Fake(4));
        EXPECT_NE(last, 0u);
        seen.insert(last);
    }
    EXPECT_EQ(seen.size(), ClientHandleTable::kGenerationLimit - 1);
}

TEST(ClientHandleTable, AFullTableGivesTheHandleThatNamesNothing) {
    ClientHandleTable table;
    for (std::uint32_t i = 0; i < ClientHandleTable::kMaxItems; ++i) {
        ASSERT_NE(table.Add(Fake(i + 1)), 0u);
    }
    EXPECT_EQ(table.Add(Fake(1)), 0u);
    EXPECT_EQ(table.Size(), ClientHandleTable::kMaxItems);
}

TEST(ClientHandleTable, ItemsTakeAndGiveBackTheirGroupsHandles) {
    COPCServer server;
    COPCGroup group(server);
    std::vector<OPCHANDLE> handles;
    {
        COPCItem first(group);
        COPCItem second(group);
        EXPECT_EQ(group.ItemOfHandle(first.ClientHandle()), &first);
        EXPECT_EQ(group.ItemOfHandle(second.ClientHandle()), &second);
        handles = {first.ClientHandle(), second.ClientHandle()};
    }
    EXPECT_EQ(group.ItemOfHandle(handles[0]), nullptr);
    EXPECT_EQ(group.ItemOfHandle(handles[1]), nullptr);
}

}  // namespace
