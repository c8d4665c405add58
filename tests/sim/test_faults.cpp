// The faults a server under test can be told to show, as a client meets them through the
// interfaces: the harness switches them on, the server must then behave exactly so.

#include <chrono>
#include <string>
#include <vector>

#include "conformance.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(Faults);

TEST_P(Faults, ACallGivesTheResultItIsToldInsteadOfWorking) {
    SimFaults faults;
    faults.callResults["AddGroup"] = E_OUTOFMEMORY;
    faults.callResults["ChangeBrowsePosition"] = S_FALSE;
    Harness().SetFaults(faults);

    AddedGroup refused = AddGroup(Server(), {.name = "Refused"});
    EXPECT_HR(refused.hr, E_OUTOFMEMORY);
    ComPtr<IOPCBrowseServerAddressSpace> browse =
        Query<IOPCBrowseServerAddressSpace>(ServerUnknown());
    ASSERT_TRUE(browse);
    EXPECT_HR(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Signals"), S_FALSE);
    // It did not move: the top has no leaves.
    IEnumString* raw = nullptr;
    EXPECT_HR(browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, &raw), S_FALSE);
    ComPtr<IEnumString> none = ComPtr<IEnumString>::Attach(raw);

    Harness().SetFaults(SimFaults{});
    EXPECT_HR(MustAddGroup({.name = "Refused"}).hr, S_OK);
    EXPECT_HR(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Signals"), S_OK);
}

TEST_P(Faults, ItemErrorsAreReportedForTheirItemsOnly) {
    SimFaults faults;
    faults.itemErrors["Signals.Ramp"] = OPC_E_UNKNOWNITEMID;
    faults.itemErrors["Static.Int32"] = E_FAIL;
    Harness().SetFaults(faults);
    AddedGroup g = MustAddGroup({.name = "Items"});
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1},
                                                        {.id = "Static.Int32", .client = 2},
                                                        {.id = "Static.Int16", .client = 3}});
    EXPECT_HR(added.hr, S_FALSE);
    ASSERT_EQ(added.items.size(), 3u);
    EXPECT_HR(added.items[0].error, OPC_E_UNKNOWNITEMID);
    EXPECT_HR(added.items[1].error, E_FAIL);
    EXPECT_HR(added.items[2].error, S_OK);
    const ItemList list = ListItems(g.object.Get());
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0].client, 3u);
}

TEST_P(Faults, MissingInterfacesAreNotAnswered) {
    SimFaults faults;
    faults.missingInterfaces.insert(IID_IOPCBrowseServerAddressSpace);
    faults.missingInterfaces.insert(IID_IOPCAsyncIO2);
    faults.missingInterfaces.insert(IID_IConnectionPointContainer);
    Harness().SetFaults(faults);

    void* out = &out;
    EXPECT_HR(Server().QueryInterface(IID_IOPCBrowseServerAddressSpace, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    AddedGroup g = MustAddGroup({.name = "Partial"});
    for (const IID& iid : {IID_IOPCAsyncIO2, IID_IConnectionPointContainer}) {
        out = &out;
        EXPECT_HR(g.object->QueryInterface(iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_TRUE(Query<IOPCItemMgt>(g.object));
    EXPECT_TRUE(Query<IOPCSyncIO>(g.object));
}

TEST_P(Faults, ABrowsePositionCanBeToldNeverToRefuseUp) {
    SimFaults faults;
    faults.neverRefuseBrowseUp = true;
    Harness().SetFaults(faults);
    ComPtr<IOPCBrowseServerAddressSpace> browse =
        Query<IOPCBrowseServerAddressSpace>(ServerUnknown());
    ASSERT_TRUE(browse);
    for (int i = 0; i < 5; ++i) {
        EXPECT_HR(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    }
}

TEST_P(Faults, AnEnumeratorCanFailHalfWay) {
    SimFaults faults;
    faults.enumFailAfter = 3;
    faults.enumFailure = E_UNEXPECTED;
    Harness().SetFaults(faults);
    ComPtr<IOPCBrowseServerAddressSpace> browse =
        Query<IOPCBrowseServerAddressSpace>(ServerUnknown());
    ASSERT_TRUE(browse);
    ASSERT_HR(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Signals"), S_OK);
    IEnumString* raw = nullptr;
    ASSERT_HR(browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, &raw), S_OK);
    ComPtr<IEnumString> names = ComPtr<IEnumString>::Attach(raw);
    for (int i = 0; i < 3; ++i) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        EXPECT_HR(names->Next(1, &name, &fetched), S_OK);
        EXPECT_EQ(fetched, 1u);
        TakeTaskString(name, "a name");
    }
    LPOLESTR name = nullptr;
    ULONG fetched = 9;
    EXPECT_HR(names->Next(1, &name, &fetched), E_UNEXPECTED);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(name, nullptr);
}

TEST_P(Faults, CallsCanBeSlowed) {
    SimFaults faults;
    faults.delayMs = 60;
    Harness().SetFaults(faults);
    const auto started = std::chrono::steady_clock::now();
    AddedGroup g = MustAddGroup({.name = "Slow"});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(60));
    Harness().SetFaults(SimFaults{});
}

TEST_P(Faults, ADeadServerFailsEveryCallAndCallsNoOneBack) {
    AddedGroup g = MustAddGroup({.name = "Doomed"});
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1}});
    ASSERT_HR(added.hr, S_OK);
    Subscription subscription(g.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    Advance(milliseconds(1000));
    ASSERT_FALSE(subscription.sink->received.empty());

    SimFaults faults;
    faults.dead = true;
    Harness().SetFaults(faults);
    subscription.sink->Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(subscription.sink->received.empty()) << "a dead server called back";

    EXPECT_HR(AddGroup(Server(), {.name = "Other"}).hr, RPC_E_DISCONNECTED);
    const ReadOutcome read = SyncRead(g.object.Get(), OPC_DS_DEVICE, {added.items[0].server});
    EXPECT_HR(read.hr, RPC_E_DISCONNECTED);
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_HR(Server().GetStatus(&status), RPC_E_DISCONNECTED);
    EXPECT_EQ(status, nullptr);
    EXPECT_HR(RemoveItems(g.object.Get(), {added.items[0].server}).hr, RPC_E_DISCONNECTED);
    EXPECT_HR(Server().RemoveGroup(g.serverHandle, FALSE), RPC_E_DISCONNECTED);
}

}  // namespace
