// Groups and items at run time: adding and removing items with their messages, writes through
// each access mode, the group state, and what a new group or item starts with.

#include <memory>
#include <string>
#include <vector>

#include "opcda/errors.h"
#include "opcda/ids.h"
#include "opcda/quality.h"
#include "runtime_fixture.h"

namespace {

using GroupItemTest = RuntimeTest;

TEST_F(GroupItemTest, NewGroupsAndItemsStartWithTheirDefaults) {
    COPCServer server(&host);
    COPCGroup group(server);
    EXPECT_EQ(group.name, "Group");
    EXPECT_EQ(group.updateRate, 1000u);
    EXPECT_EQ(group.active, 1);
    EXPECT_EQ(group.percentDeadband, 0.0f);
    EXPECT_EQ(group.accessMode, 1);
    EXPECT_FALSE(group.IsSubscribed());

    COPCItem item(group);
    EXPECT_EQ(item.quality, 0x40);
    EXPECT_EQ(item.Value().vt, VT_INT);
    EXPECT_EQ(item.Value().intVal, 0);
    EXPECT_EQ(item.timestamp.dwHighDateTime, 0x01BF53EBu);  // 2000-01-01 00:00:00.000 UTC
    EXPECT_EQ(item.timestamp.dwLowDateTime, 0x256D4000u);
    EXPECT_EQ(item.active, 1);
    EXPECT_EQ(item.requestedType, VT_EMPTY);
    EXPECT_NE(item.ClientHandle(), 0u);
    EXPECT_EQ(group.ItemOfHandle(item.ClientHandle()), &item);

    // The kinds a record reads the value as.
    item.canonicalType = VT_UI4;
    EXPECT_TRUE(item.IsNumeric());
    EXPECT_FALSE(item.IsBoolean());
    item.canonicalType = VT_BOOL;
    EXPECT_FALSE(item.IsNumeric());
    EXPECT_TRUE(item.IsBoolean());
    for (const VARTYPE vt :
         std::initializer_list<VARTYPE>{VT_BSTR, VT_CY, VT_DATE, VT_ARRAY | VT_R8}) {
        item.canonicalType = vt;
        EXPECT_FALSE(item.IsNumeric()) << vt;
        EXPECT_FALSE(item.IsBoolean()) << vt;
    }
}

TEST_F(GroupItemTest, AddItemTakesTheServersAnswersOrReportsTheItem) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);

    COPCItem* item = AddItem(*group, "Static.Int32", 7);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->canonicalType, VT_I4);
    EXPECT_EQ(item->accessRights, OPC_READABLE | OPC_WRITEABLE);
    EXPECT_NE(item->serverHandle, 0u);
    COPCItem* readOnly = AddItem(*group, "Access.ReadOnly", 8);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(readOnly->accessRights, OPC_READABLE);
    EXPECT_EQ(readOnly->canonicalType, VT_R8);

    // Rejected by the server while the call itself returns S_FALSE.
    EXPECT_EQ(AddItem(*group, "No.Such.Item", 9), nullptr);
    sim.Faults().itemErrors["Static.Double"] = OPC_E_BADTYPE;
    EXPECT_EQ(AddItem(*group, "Static.Double", 10), nullptr);
    // The call itself fails.
    sim.Faults().callResults["AddItems"] = E_FAIL;
    EXPECT_EQ(AddItem(*group, "Static.Int16", 11), nullptr);
    sim.Faults().callResults.clear();
    // Without IOPCItemMgt nothing is said.
    sim.Faults().missingInterfaces.insert(IID_IOPCItemMgt);
    EXPECT_EQ(AddItem(*group, "Static.Int16", 12), nullptr);
    sim.Faults().missingInterfaces.clear();

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     "Error from AddItems No.Such.Item (error 1)",
                                     "Error from AddItems Static.Double (error 1)",
                                     "Error from AddItems Static.Int16 (error 80004005)",
                                 }));
    ASSERT_EQ(group->Items().size(), 2u);
    EXPECT_EQ(group->Items()[0].get(), item);
    EXPECT_EQ(group->Items()[1].get(), readOnly);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);

    // An item made for another group is not taken.
    COPCGroup* other = AddGroup(*server, "Other");
    ASSERT_NE(other, nullptr);
    auto foreign = std::make_unique<COPCItem>(*other);
    foreign->itemId = "Static.Int32";
    EXPECT_EQ(group->AddItem(std::move(foreign)), nullptr);
    EXPECT_EQ(group->AddItem(nullptr), nullptr);
}

TEST_F(GroupItemTest, FindItemReturnsTheFirstAddedWithTheIdNumber) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* first = AddItem(*group, "Static.Int32", 5);
    COPCItem* second = AddItem(*group, "Static.Int16", 5);
    COPCItem* third = AddItem(*group, "Static.UInt8", 6);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(group->FindItem(5), first);
    EXPECT_EQ(group->FindItem(6), third);
    EXPECT_EQ(group->FindItem(99), nullptr);
}

TEST_F(GroupItemTest, RemoveItemKeepsTheItemOnlyWhenTheCallFails) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* a = AddItem(*group, "Static.Int32", 1);
    COPCItem* b = AddItem(*group, "Static.Int16", 2);
    COPCItem* c = AddItem(*group, "Static.UInt8", 3);
    ASSERT_NE(c, nullptr);

    sim.Faults().callResults["RemoveItems"] = E_FAIL;
    EXPECT_FALSE(group->RemoveItem(a));
    EXPECT_EQ(group->Items().size(), 3u);
    sim.Faults().callResults.clear();

    EXPECT_TRUE(group->RemoveItem(a));
    EXPECT_EQ(group->Items().size(), 2u);

    // The server no longer knows b: the per-item failure is shown, the item still goes.
    b->serverHandle = 0x7FFF0000;
    EXPECT_TRUE(group->RemoveItem(b));
    ASSERT_EQ(group->Items().size(), 1u);
    EXPECT_EQ(group->Items()[0].get(), c);

    EXPECT_FALSE(group->RemoveItem(nullptr));
    COPCItem stranger(*group);
    EXPECT_FALSE(group->RemoveItem(&stranger));

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from RemoveItems(80004005)\n",
                                                           "Error from RemoveItems"}));
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(GroupItemTest, WritesGoThroughTheAccessModeAndShowWhenDelivered) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* item = AddItem(*group, "Static.Int32", 1);
    ASSERT_NE(item, nullptr);
    sim.AdvanceTime(1000ms);  // the first update
    host.updates.clear();

    // Mode 1: an asynchronous 2.0 write with transaction id 4112, every time.
    item->Write("42");
    EXPECT_EQ(item->Value().intVal, 0);  // nothing changes until the server reports it
    item->Write("43");
    sim.AdvanceTime(0ms);
    EXPECT_EQ(ui.Traces(), (std::vector<std::string>{
                               "OnWriteComplete: Transid=4112 count=1 GrpHandle=0\n",
                               "OnWriteComplete: Transid=4112 count=1 GrpHandle=0\n",
                           }));
    sim.AdvanceTime(1000ms);
    ASSERT_EQ(host.updates.size(), 1u);
    EXPECT_EQ(host.updates[0].number, 43.0);

    // Mode 2: a synchronous write.
    group->accessMode = COPCGroup::accessCallbackSyncWrite;
    item->Write("-5");
    sim.AdvanceTime(1000ms);
    ASSERT_EQ(host.updates.size(), 2u);
    EXPECT_EQ(host.updates[1].number, -5.0);

    // Text that is not a number of the item's type is not written.
    item->Write("many");
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(host.updates.size(), 2u);

    // Without the mode's interface nothing is written, and nothing is said.
    group->accessMode = COPCGroup::accessCallback;
    sim.Faults().missingInterfaces.insert(IID_IOPCAsyncIO2);
    item->Write("9");
    sim.Faults().missingInterfaces.clear();
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(host.updates.size(), 2u);
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(GroupItemTest, SetStateChangesRateAndActivityOnTheServer) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    ASSERT_NE(AddItem(*group, "Signals.Ramp", 1), nullptr);
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(host.updates.size(), 1u);

    group->SetState(FALSE, 0.0f, 500);
    sim.AdvanceTime(3000ms);
    EXPECT_EQ(host.updates.size(), 1u);  // inactive groups deliver nothing

    group->SetState(TRUE, 0.0f, 500);
    sim.AdvanceTime(500ms);
    EXPECT_EQ(host.updates.size(), 2u);
    sim.AdvanceTime(500ms);
    EXPECT_EQ(host.updates.size(), 3u);  // now every 500 ms

    // State changes go nowhere once the group has let go of its server object.
    group->Unsubscribe();
    group->SetState(FALSE, 0.0f, 100);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(GroupItemTest, SubscriptionFailuresLeaveTheGroupListedWithoutData) {
    auto server = Connected();
    for (const char* fault : {"FindConnectionPoint", "Advise"}) {
        sim.Faults().callResults[fault] = E_FAIL;
        COPCGroup* group = AddGroup(*server, fault);
        sim.Faults().callResults.clear();
        ASSERT_NE(group, nullptr) << fault;
        EXPECT_FALSE(group->IsSubscribed()) << fault;
        ASSERT_NE(AddItem(*group, "Signals.Ramp", 1), nullptr);
    }
    sim.Faults().missingInterfaces.insert(IID_IOPCAsyncIO2);
    COPCGroup* noAsync = AddGroup(*server, "NoAsync");
    sim.Faults().missingInterfaces.clear();
    ASSERT_NE(noAsync, nullptr);
    EXPECT_FALSE(noAsync->IsSubscribed());
    ASSERT_NE(AddItem(*noAsync, "Signals.Ramp", 1), nullptr);

    sim.AdvanceTime(2000ms);
    EXPECT_TRUE(host.updates.empty());
    EXPECT_EQ(server->Groups().size(), 3u);
    EXPECT_EQ(ui.MessageCount(), 0u);
}

}  // namespace
