// What a client may do at awkward moments: call the server from inside a callback, and keep a
// group after letting go of its server object.

#include <vector>

#include "conformance.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(ObjectLifetime);

TEST_P(ObjectLifetime, CallbacksMayCallBackIntoTheServer) {
    AddedGroup g = MustAddGroup({.name = "Reentrant"});
    const ItemOutcome added = AddItems(
        g.object.Get(), {{.id = "Signals.Ramp", .client = 1}, {.id = "Signals.Sine", .client = 2}});
    ASSERT_HR(added.hr, S_OK);
    Subscription subscription(g.object.Get());
    ASSERT_HR(subscription.hr, S_OK);

    // At its first update the client reads, switches the ramp off and renames the group, all
    // from inside the callback.
    int calls = 0;
    IUnknown* const group = g.object.Get();
    const OPCHANDLE ramp = added.items[0].server;
    subscription.sink->onDelivery = [&](const CallbackDelivery& d) {
        if (d.kind != CallbackDelivery::Kind::DataChange || calls++ > 0) {
            return;
        }
        const ItemState read = ReadOne(group, ramp);
        EXPECT_EQ(read.value.Type(), VT_R8);
        EXPECT_HR(SetActiveState(group, {ramp}, false).hr, S_OK);
        ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(group);
        ASSERT_TRUE(mgt);
        EXPECT_HR(mgt->SetName(u"Renamed"), S_OK);
    };
    Advance(milliseconds(1000));
    ASSERT_EQ(calls, 1);
    subscription.sink->Clear();
    Advance(milliseconds(2000));
    EXPECT_FALSE(subscription.sink->received.empty());
    for (const CallbackDelivery& d : subscription.sink->received) {
        EXPECT_EQ(d.Find(1), nullptr) << "the ramp was switched off";
        EXPECT_NE(d.Find(2), nullptr);
    }
    EXPECT_EQ(GetState(group).name, "Renamed");

    // A sink may end its own connection from inside the callback.
    subscription.sink->onDelivery = [&](const CallbackDelivery&) {
        EXPECT_HR(subscription.Unadvise(), S_OK);
    };
    subscription.sink->Clear();
    Advance(milliseconds(3000));
    EXPECT_EQ(subscription.sink->received.size(), 1u) << "called after unadvising";
    subscription.sink->onDelivery = nullptr;
}

TEST_P(ObjectLifetime, AGroupMayBeRemovedFromInsideItsCallback) {
    AddedGroup g = MustAddGroup({.name = "SelfRemoving"});
    ASSERT_HR(AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1}}).hr, S_OK);
    auto subscription = std::make_unique<Subscription>(g.object.Get());
    ASSERT_HR(subscription->hr, S_OK);
    HRESULT removed = E_UNEXPECTED;
    subscription->sink->onDelivery = [&](const CallbackDelivery&) {
        if (removed == E_UNEXPECTED) {
            removed = Server().RemoveGroup(g.serverHandle, TRUE);
        }
    };
    Advance(milliseconds(1000));
    EXPECT_HR(removed, S_OK);
    subscription->sink->Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(subscription->sink->received.empty()) << "a removed group called back";
    subscription->sink->onDelivery = nullptr;
}

TEST_P(ObjectLifetime, AGroupOutlivingItsServerObjectStaysSafe) {
    ComPtr<IOPCServer> server = NewServer();
    ASSERT_TRUE(server);
    AddedGroup g = AddGroup(*server, {.name = "Orphan"});
    ASSERT_HR(g.hr, S_OK);
    const ItemOutcome added = AddItems(
        g.object.Get(), {{.id = "Static.Int32", .client = 1}, {.id = "Signals.Ramp", .client = 2}});
    ASSERT_HR(added.hr, S_OK);
    Subscription subscription(g.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    server.Reset();

    // The group either goes on working or refuses; it never brings the process down.
    Advance(milliseconds(2000));
    const ReadOutcome read = SyncRead(g.object.Get(), OPC_DS_DEVICE, {added.items[0].server});
    if (SUCCEEDED(read.hr)) {
        ASSERT_EQ(read.items.size(), 1u);
        EXPECT_HR(read.items[0].error, S_OK);
    }
    const ErrorsOutcome written =
        SyncWrite(g.object.Get(), {added.items[0].server}, {Variant::I4(4)});
    (void)written;
    GetState(g.object.Get());
}

}  // namespace
