// Data change delivery over the 2.0 callback: from the server's call to the item and the
// document, one view notification per batch, client handles that name no live item, and the
// callback objects' COM manners.

#include <memory>
#include <vector>

#include "com/bstr.h"
#include "com/data_object.h"
#include "opc/advise_sink.h"
#include "opc/data_callback.h"
#include "opcda/errors.h"
#include "opcda/ids.h"
#include "opcda/quality.h"
#include "runtime_fixture.h"

namespace {

using DeliveryTest = RuntimeTest;

// 2026-01-01 00:00:00 UTC plus the simulated seconds, as a FILETIME.
FILETIME SimulatedTime(std::uint64_t seconds) {
    const std::uint64_t ticks = 134116992000000000ull + seconds * 10000000ull;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool operator==(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST_F(DeliveryTest, EachDeliveryUpdatesItsItemsAndNotifiesOnceWhileAGroupIsSelected) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* ramp = AddItem(*group, "Signals.Ramp", 1);
    COPCItem* text = AddItem(*group, "Signals.Text", 2);
    COPCItem* fixed = AddItem(*group, "Static.Int32", 3);
    ASSERT_NE(fixed, nullptr);

    host.groupSelected = true;
    sim.AdvanceTime(1000ms);  // the first update delivers every item
    ASSERT_EQ(host.updates.size(), 3u);
    EXPECT_EQ(host.notifications, 1);
    EXPECT_EQ(host.updates[0].item, ramp);
    EXPECT_EQ(host.updates[0].number, 1.0);
    EXPECT_EQ(host.updates[0].quality, OPC_QUALITY_GOOD);
    EXPECT_TRUE(host.updates[0].timestamp == SimulatedTime(1));
    EXPECT_EQ(host.updates[1].item, text);
    EXPECT_EQ(host.updates[1].text, "Alpha");
    EXPECT_EQ(host.updates[2].item, fixed);
    EXPECT_EQ(host.updates[2].number, 0.0);
    // The item keeps its own copies.
    EXPECT_EQ(ramp->Value().vt, VT_R8);
    EXPECT_EQ(ramp->Value().dblVal, 1.0);
    EXPECT_EQ(ramp->quality, OPC_QUALITY_GOOD);
    EXPECT_TRUE(ramp->timestamp == SimulatedTime(1));

    // Later updates carry only what changed; the string outlives the server's call.
    host.updates.clear();
    sim.AdvanceTime(1000ms);
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(host.notifications, 3);
    ASSERT_EQ(text->Value().vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(text->Value().bstrVal), "Beta");
    EXPECT_EQ(ramp->Value().dblVal, 3.0);

    // With no group selected the records are still updated, the views are not told.
    host.groupSelected = false;
    host.updates.clear();
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(host.updates.size(), 2u);  // the ramp, and the text at its 2 s step
    EXPECT_EQ(host.notifications, 3);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(DeliveryTest, BatchesAreTakenInOrderAndSkipHandlesOfNoLiveItem) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* a = AddItem(*group, "Static.Int32", 1);
    COPCItem* b = AddItem(*group, "Static.String", 2);
    ASSERT_NE(b, nullptr);
    host.groupSelected = true;

    // An empty batch changes nothing and tells no one.
    group->OnDataChange(0, 0, 0, nullptr, nullptr, S_OK, nullptr, nullptr);
    EXPECT_EQ(host.notifications, 0);

    // The same item twice: the second entry wins, both reach the document.
    VARIANT values[3];
    for (VARIANT& v : values) {
        VariantInit(&v);
    }
    values[0].vt = VT_I4;
    values[0].lVal = 10;
    values[1].vt = VT_BSTR;
    values[1].bstrVal = SysAllocStringUtf8("caller's text");
    values[2].vt = VT_I4;
    values[2].lVal = 20;
    const OPCHANDLE handles[3] = {a->ClientHandle(), b->ClientHandle(), a->ClientHandle()};
    const WORD qualities[3] = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD, OPC_QUALITY_LAST_KNOWN};
    const FILETIME times[3] = {SimulatedTime(5), SimulatedTime(6), SimulatedTime(7)};
    group->OnDataChange(0, 0, 3, handles, values, S_FALSE, qualities, times);
    for (VARIANT& v : values) {
        VariantClear(&v);  // the caller's arrays go away after the call
    }
    ASSERT_EQ(host.updates.size(), 3u);
    EXPECT_EQ(host.notifications, 1);
    EXPECT_EQ(a->Value().lVal, 20);
    EXPECT_EQ(a->quality, OPC_QUALITY_LAST_KNOWN);
    EXPECT_TRUE(a->timestamp == SimulatedTime(7));
    EXPECT_EQ(BstrToUtf8(b->Value().bstrVal), "caller's text");

    // Without timestamps the items keep theirs. Handles of removed items and made-up handles
    // are skipped; the rest of the batch still arrives.
    const OPCHANDLE removedHandle = a->ClientHandle();
    ASSERT_TRUE(group->RemoveItem(a));
    COPCItem* c = AddItem(*group, "Static.Int16", 3);  // may reuse a's slot
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->ClientHandle(), removedHandle);
    VARIANT more[3];
    for (VARIANT& v : more) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 77;
    }
    const OPCHANDLE mixed[3] = {removedHandle, 0xDEADBEEF, b->ClientHandle()};
    host.updates.clear();
    group->OnDataChange(0, 0, 3, mixed, more, S_OK, qualities, nullptr);
    ASSERT_EQ(host.updates.size(), 1u);
    EXPECT_EQ(host.updates[0].item, b);
    EXPECT_EQ(b->Value().lVal, 77);
    EXPECT_TRUE(b->timestamp == SimulatedTime(6));
    EXPECT_EQ(c->Value().vt, VT_INT);
    EXPECT_EQ(host.notifications, 2);

    // A value held by reference is kept as the value it refers to.
    double referenced = 2.5;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_R8 | VT_BYREF;
    byRef.byref = &referenced;
    const OPCHANDLE one[1] = {c->ClientHandle()};
    group->OnDataChange(0, 0, 1, one, &byRef, S_OK, qualities, nullptr);
    referenced = 0.0;
    EXPECT_EQ(c->Value().vt, VT_R8);
    EXPECT_EQ(c->Value().dblVal, 2.5);
}

TEST_F(DeliveryTest, AServerWithoutADocumentStillKeepsItsItemsValues) {
    COPCServer server;  // as a file read makes it: no host
    COPCGroup group(server);
    COPCItem item(group);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = 1.5f;
    const OPCHANDLE handle = item.ClientHandle();
    const WORD quality = OPC_QUALITY_GOOD;
    group.OnDataChange(0, 0, 1, &handle, &value, S_OK, &quality, nullptr);
    EXPECT_EQ(item.Value().fltVal, 1.5f);
}

TEST_F(DeliveryTest, CallbackObjectsAnswerTheirInterfacesAndTraceCompletions) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    const auto callback = MakeComObject<COPCDataCallback>(group);
    const auto sink = MakeComObject<COPCAdviseSink>(group);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(callback->QueryInterface(IID_IOPCDataCallback, nullptr), E_INVALIDARG);
    EXPECT_EQ(callback->QueryInterface(IID_IAdviseSink, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(callback->QueryInterface(IID_IOPCDataCallback, &out), S_OK);
    EXPECT_EQ(out, static_cast<IOPCDataCallback*>(callback.Get()));
    EXPECT_EQ(callback->Release(), 1u);  // the reference QueryInterface added
    ASSERT_EQ(callback->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);

    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(IID_IAdviseSink, nullptr), E_INVALIDARG);
    EXPECT_EQ(sink->QueryInterface(IID_IOPCDataCallback, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(sink->QueryInterface(IID_IAdviseSink, &out), S_OK);
    EXPECT_EQ(sink->Release(), 1u);

    EXPECT_EQ(callback->OnReadComplete(7, 0xFFFFFFFF, S_OK, S_OK, 2, nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              S_OK);
    EXPECT_EQ(callback->OnWriteComplete(4112, 3, S_OK, 1, nullptr, nullptr), S_OK);
    EXPECT_EQ(callback->OnCancelComplete(1, 2), S_OK);
    EXPECT_EQ(ui.Traces(), (std::vector<std::string>{
                               "OnReadComplete: Transid=7 count=2 GrpHandle=-1\n",
                               "OnWriteComplete: Transid=4112 count=1 GrpHandle=3\n",
                           }));

    // Once the group has let go, calls are answered and dropped.
    COPCItem* item = AddItem(*group, "Static.Int32", 1);
    ASSERT_NE(item, nullptr);
    callback->DetachGroup();
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 5;
    OPCHANDLE handle = item->ClientHandle();
    WORD quality = OPC_QUALITY_GOOD;
    EXPECT_EQ(
        callback->OnDataChange(0, 0, S_OK, S_OK, 1, &handle, &value, &quality, nullptr, nullptr),
        S_OK);
    EXPECT_TRUE(host.updates.empty());
}

TEST_F(DeliveryTest, AGroupRemovedWhileTheServerStillCallsIsNeverReached) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    ASSERT_NE(AddItem(*group, "Signals.Ramp", 1), nullptr);
    // The server keeps the group (and its advise) when the removal is refused; the group
    // itself has unsubscribed.
    sim.Faults().callResults["RemoveGroup"] = OPC_S_INUSE;
    EXPECT_FALSE(server->RemoveGroup(group));
    sim.Faults().callResults.clear();
    sim.AdvanceTime(2000ms);
    EXPECT_TRUE(host.updates.empty());
}

}  // namespace
