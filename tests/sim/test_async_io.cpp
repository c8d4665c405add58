// Asynchronous reads, writes, refreshes and cancels of the 2.0 standard (IOPCAsyncIO2), answered
// through the group's IOPCDataCallback connection point, and the connection point itself.

#include <vector>

#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(AsyncIO);

constexpr OPCHANDLE kGroupClient = 0x6060;

struct AsyncGroup {
    AddedGroup group;
    ComPtr<IOPCAsyncIO2> io;
    std::vector<OPCHANDLE> handles;
};

AsyncGroup MakeGroup(IOPCServer& server, const std::vector<ItemDef>& defs, bool active = true) {
    AsyncGroup out;
    out.group = AddGroup(server, {.name = "Async", .active = active, .clientHandle = kGroupClient});
    EXPECT_TRUE(SUCCEEDED(out.group.hr));
    out.io = Query<IOPCAsyncIO2>(out.group.object);
    EXPECT_TRUE(out.io);
    const ItemOutcome added = AddItems(out.group.object.Get(), defs);
    EXPECT_HR(added.hr, S_OK);
    for (const ItemResult& r : added.items) {
        out.handles.push_back(r.server);
    }
    out.handles.resize(defs.size());
    return out;
}

ErrorsOutcome AsyncWrite(IOPCAsyncIO2& io, std::vector<OPCHANDLE> handles,
                         const std::vector<Variant>& values, DWORD transaction, DWORD* cancelId) {
    std::vector<VARIANT> raw;
    for (const Variant& v : values) {
        raw.push_back(v.Get());
    }
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = io.Write(count, handles.data(), raw.data(), transaction, cancelId, &errors);
    return TakeErrors(hr, errors, count, "IOPCAsyncIO2::Write");
}

ErrorsOutcome AsyncRead(IOPCAsyncIO2& io, std::vector<OPCHANDLE> handles, DWORD transaction,
                        DWORD* cancelId) {
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr = io.Read(count, handles.data(), transaction, cancelId, &errors);
    return TakeErrors(hr, errors, count, "IOPCAsyncIO2::Read");
}

std::vector<const CallbackDelivery*> WithTransaction(const DataCallbackSink& sink,
                                                     CallbackDelivery::Kind kind, DWORD id) {
    std::vector<const CallbackDelivery*> out;
    for (const CallbackDelivery* d : sink.OfKind(kind)) {
        if (d->transactionId == id) {
            out.push_back(d);
        }
    }
    return out;
}

TEST_P(AsyncIO, WithoutACallbackEveryRequestIsRefused) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 1}});
    DWORD cancel = 0;
    EXPECT_HR(AsyncRead(*g.io, g.handles, 1, &cancel).hr, CONNECT_E_NOCONNECTION);
    EXPECT_HR(AsyncWrite(*g.io, g.handles, {Variant::I4(3)}, 2, &cancel).hr,
              CONNECT_E_NOCONNECTION);
    EXPECT_HR(g.io->Refresh2(OPC_DS_CACHE, 3, &cancel), CONNECT_E_NOCONNECTION);
    BOOL enabled = FALSE;
    EXPECT_HR(g.io->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
    EXPECT_HR(g.io->SetEnable(FALSE), CONNECT_E_NOCONNECTION);
    // Nothing was written.
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[0]).value.Get()), 0.0);

    // Once a callback is advised and removed again, the same holds.
    {
        Subscription subscription(g.group.object.Get());
        ASSERT_HR(subscription.hr, S_OK);
        EXPECT_HR(subscription.Unadvise(), S_OK);
    }
    EXPECT_HR(g.io->Refresh2(OPC_DS_CACHE, 4, &cancel), CONNECT_E_NOCONNECTION);
}

TEST_P(AsyncIO, WriteCompletesWithItsTransactionAndClientHandles) {
    AsyncGroup g = MakeGroup(
        Server(), {{.id = "Static.Int32", .client = 11}, {.id = "Static.Double", .client = 12}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);

    DWORD firstCancel = 0;
    DWORD secondCancel = 0;
    const ErrorsOutcome first =
        AsyncWrite(*g.io, g.handles, {Variant::I4(7), Variant::R8(2.5)}, 4112, &firstCancel);
    EXPECT_HR(first.hr, S_OK);
    EXPECT_HRS(first.errors, S_OK, S_OK);
    const ErrorsOutcome second =
        AsyncWrite(*g.io, {g.handles[0]}, {Variant::I4(8)}, 4113, &secondCancel);
    EXPECT_HR(second.hr, S_OK);
    EXPECT_NE(firstCancel, secondCancel) << "two requests share a cancel id";
    Advance(milliseconds(0));

    const DataCallbackSink& sink = *subscription.sink;
    EXPECT_TRUE(sink.problems.empty()) << sink.problems.front();
    const auto done = sink.OfKind(CallbackDelivery::Kind::WriteComplete);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0]->transactionId, 4112u);
    EXPECT_EQ(done[1]->transactionId, 4113u);
    for (const CallbackDelivery* d : done) {
        EXPECT_EQ(d->group, kGroupClient);
        EXPECT_HR(d->masterError, S_OK);
    }
    ASSERT_EQ(done[0]->items.size(), 2u);
    ASSERT_NE(done[0]->Find(11), nullptr);
    ASSERT_NE(done[0]->Find(12), nullptr);
    EXPECT_HR(done[0]->Find(11)->error, S_OK);
    EXPECT_HR(done[0]->Find(12)->error, S_OK);
    ASSERT_EQ(done[1]->items.size(), 1u);
    EXPECT_EQ(done[1]->items[0].client, 11u);

    // The requests ran in order.
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[0]).value.Get()), 8.0);
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[1]).value.Get()), 2.5);
}

TEST_P(AsyncIO, WriteRefusesBadItemsAndReportsFailedConversions) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Access.ReadOnly", .client = 21},
                                        {.id = "Static.Int32", .client = 23},
                                        {.id = "Static.Int16", .client = 24}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    const OPCHANDLE bad = g.handles[0] + g.handles[1] + g.handles[2] + 1;

    DWORD cancel = 0;
    const ErrorsOutcome refused =
        AsyncWrite(*g.io, {g.handles[0], bad, g.handles[2]},
                   {Variant::R8(1), Variant::R8(2), Variant::I2(5)}, 31, &cancel);
    EXPECT_HR(refused.hr, S_FALSE);
    EXPECT_HRS(refused.errors, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, S_OK);
    Advance(milliseconds(0));
    auto done = WithTransaction(*subscription.sink, CallbackDelivery::Kind::WriteComplete, 31);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_EQ(done[0]->items.size(), 1u) << "refused items are not part of the completion";
    EXPECT_EQ(done[0]->items[0].client, 24u);
    EXPECT_HR(done[0]->items[0].error, S_OK);

    // A value that cannot become the item's type fails either at once or in the completion.
    const ErrorsOutcome converted = AsyncWrite(*g.io, {g.handles[1], g.handles[2]},
                                               {Variant::Text("abc"), Variant::I2(6)}, 32, &cancel);
    ASSERT_EQ(converted.errors.size(), 2u);
    EXPECT_HR(converted.errors[1], S_OK);
    Advance(milliseconds(0));
    done = WithTransaction(*subscription.sink, CallbackDelivery::Kind::WriteComplete, 32);
    ASSERT_EQ(done.size(), 1u);
    if (converted.errors[0] == S_OK) {
        EXPECT_HR(converted.hr, S_OK);
        ASSERT_NE(done[0]->Find(23), nullptr);
        EXPECT_HR(done[0]->Find(23)->error, OPC_E_BADTYPE);
        EXPECT_HR(done[0]->masterError, S_FALSE);
    } else {
        EXPECT_HR(converted.errors[0], OPC_E_BADTYPE);
        EXPECT_EQ(done[0]->Find(23), nullptr);
    }
    ASSERT_NE(done[0]->Find(24), nullptr);
    EXPECT_HR(done[0]->Find(24)->error, S_OK);
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[1]).value.Get()), 0.0);
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[2]).value.Get()), 6.0);
    EXPECT_TRUE(subscription.sink->problems.empty()) << subscription.sink->problems.front();
}

TEST_P(AsyncIO, ReadCompletesWithValuesQualitiesAndTimes) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Signals.Ramp", .client = 41},
                                        {.id = "Static.String", .client = 42},
                                        {.id = "Access.WriteOnly", .client = 43}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    ASSERT_HR(SyncWrite(g.group.object.Get(), {g.handles[1]}, {Variant::Text("hello")}).hr, S_OK);
    Advance(milliseconds(3300));

    DWORD cancel = 0;
    const ErrorsOutcome started = AsyncRead(*g.io, g.handles, 77, &cancel);
    EXPECT_HR(started.hr, S_FALSE);
    EXPECT_HRS(started.errors, S_OK, S_OK, OPC_E_BADRIGHTS);
    Advance(milliseconds(0));
    const auto done = WithTransaction(*subscription.sink, CallbackDelivery::Kind::ReadComplete, 77);
    ASSERT_EQ(done.size(), 1u);
    const CallbackDelivery& d = *done[0];
    EXPECT_EQ(d.group, kGroupClient);
    EXPECT_HR(d.masterQuality, S_OK);
    EXPECT_HR(d.masterError, S_OK);
    ASSERT_EQ(d.items.size(), 2u);
    const DeliveredItem* ramp = d.Find(41);
    const DeliveredItem* text = d.Find(42);
    ASSERT_NE(ramp, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(ramp->quality, OPC_QUALITY_GOOD);
    EXPECT_NEAR(NumberOf(ramp->value.Get()).value_or(-1), RampAt(SimSeconds(ramp->time)), 1e-6);
    if (Exact()) {
        EXPECT_NEAR(SimSeconds(ramp->time), 3.3, 1e-9);
    }
    EXPECT_EQ(TextOf(text->value.Get()), "hello");
    EXPECT_TRUE(subscription.sink->problems.empty()) << subscription.sink->problems.front();

    EXPECT_HR(AsyncRead(*g.io, {}, 78, &cancel).hr, E_INVALIDARG);
    EXPECT_HR(AsyncWrite(*g.io, {}, {}, 79, &cancel).hr, E_INVALIDARG);

    // Reads go to the device, whether the group is active or not.
    BOOL inactive = FALSE;
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(g.group.object);
    ASSERT_HR(mgt->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_HR(AsyncRead(*g.io, {g.handles[0]}, 80, &cancel).hr, S_OK);
    Advance(milliseconds(0));
    EXPECT_EQ(WithTransaction(*subscription.sink, CallbackDelivery::Kind::ReadComplete, 80).size(),
              1u);
}

TEST_P(AsyncIO, Refresh2SendsEveryActiveItemWithItsTransaction) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 51},
                                        {.id = "Static.Int16", .client = 52, .active = false},
                                        {.id = "Signals.Ramp", .client = 53}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    Advance(milliseconds(2000));
    subscription.sink->Clear();

    for (const OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
        const DWORD transaction = 90 + source;
        DWORD cancel = 0;
        EXPECT_HR(g.io->Refresh2(source, transaction, &cancel), S_OK);
        Advance(milliseconds(0));
        const auto refreshed =
            WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, transaction);
        ASSERT_EQ(refreshed.size(), 1u) << "source " << source;
        const CallbackDelivery& d = *refreshed[0];
        EXPECT_EQ(d.group, kGroupClient);
        EXPECT_EQ(d.items.size(), 2u);
        EXPECT_NE(d.Find(51), nullptr) << "an unchanged item is part of a refresh";
        EXPECT_EQ(d.Find(52), nullptr) << "an inactive item is not";
        EXPECT_NE(d.Find(53), nullptr);
    }

    // Nothing to refresh when no item is active, nor in an inactive group.
    ASSERT_HR(SetActiveState(g.group.object.Get(), {g.handles[0], g.handles[2]}, false).hr, S_OK);
    DWORD none = 0;
    EXPECT_HR(g.io->Refresh2(OPC_DS_CACHE, 98, &none), E_FAIL);
    ASSERT_HR(SetActiveState(g.group.object.Get(), {g.handles[0], g.handles[2]}, true).hr, S_OK);
    BOOL inactive = FALSE;
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(g.group.object);
    ASSERT_HR(mgt->SetState(nullptr, nullptr, &inactive, nullptr, nullptr, nullptr, nullptr), S_OK);
    DWORD cancel = 0;
    EXPECT_HR(g.io->Refresh2(OPC_DS_CACHE, 99, &cancel), E_FAIL);
    Advance(milliseconds(0));
    EXPECT_TRUE(
        WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, 99).empty());
    EXPECT_TRUE(
        WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, 98).empty());
    EXPECT_TRUE(subscription.sink->problems.empty()) << subscription.sink->problems.front();
}

TEST_P(AsyncIO, CancelledRequestsCompleteAsCancelled) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 61}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);

    DWORD cancel = 0;
    ASSERT_HR(AsyncWrite(*g.io, g.handles, {Variant::I4(5)}, 5, &cancel).hr, S_OK);
    const HRESULT cancelled = g.io->Cancel2(cancel);
    Advance(milliseconds(0));
    const auto writes =
        WithTransaction(*subscription.sink, CallbackDelivery::Kind::WriteComplete, 5);
    const auto cancels =
        WithTransaction(*subscription.sink, CallbackDelivery::Kind::CancelComplete, 5);
    if (cancelled == S_OK) {
        EXPECT_TRUE(writes.empty()) << "a cancelled write still completed";
        ASSERT_EQ(cancels.size(), 1u);
        EXPECT_EQ(cancels[0]->group, kGroupClient);
    } else {
        // Too late: the write had completed.
        EXPECT_HR(cancelled, E_FAIL);
        EXPECT_EQ(writes.size(), 1u);
        EXPECT_TRUE(cancels.empty());
    }
    // A request that is over cannot be cancelled, nor one that never was.
    EXPECT_HR(g.io->Cancel2(cancel), E_FAIL);
    EXPECT_HR(g.io->Cancel2(cancel + 1000), E_FAIL);

    ASSERT_HR(AsyncRead(*g.io, g.handles, 6, &cancel).hr, S_OK);
    if (g.io->Cancel2(cancel) == S_OK) {
        Advance(milliseconds(0));
        EXPECT_TRUE(
            WithTransaction(*subscription.sink, CallbackDelivery::Kind::ReadComplete, 6).empty());
        EXPECT_EQ(
            WithTransaction(*subscription.sink, CallbackDelivery::Kind::CancelComplete, 6).size(),
            1u);
    }
}

TEST_P(AsyncIO, SetEnableStopsDataChangesButNotRefreshes) {
    AsyncGroup g = MakeGroup(Server(), {{.id = "Signals.Ramp", .client = 71}});
    Subscription subscription(g.group.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    BOOL enabled = FALSE;
    EXPECT_HR(g.io->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, TRUE) << "a group starts enabled";

    EXPECT_HR(g.io->SetEnable(FALSE), S_OK);
    EXPECT_HR(g.io->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, FALSE);
    Advance(milliseconds(3000));
    EXPECT_TRUE(WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, 0).empty());

    DWORD cancel = 0;
    EXPECT_HR(g.io->Refresh2(OPC_DS_DEVICE, 8, &cancel), S_OK);
    Advance(milliseconds(0));
    EXPECT_EQ(WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, 8).size(),
              1u);

    EXPECT_HR(g.io->SetEnable(TRUE), S_OK);
    Advance(milliseconds(1000));
    EXPECT_FALSE(
        WithTransaction(*subscription.sink, CallbackDelivery::Kind::DataChange, 0).empty());
}

// ---- The connection point --------------------------------------------------------------------

TEST_P(AsyncIO, GroupHasOneConnectionPointForTheDataCallback) {
    AddedGroup g = MustAddGroup({.name = "Points"});
    ComPtr<IConnectionPointContainer> container = Query<IConnectionPointContainer>(g.object);
    ASSERT_TRUE(container);

    IConnectionPoint* raw = nullptr;
    ASSERT_HR(container->FindConnectionPoint(IID_IOPCDataCallback, &raw), S_OK);
    ComPtr<IConnectionPoint> point = ComPtr<IConnectionPoint>::Attach(raw);
    IID iid{};
    EXPECT_HR(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(iid == IID_IOPCDataCallback);
    IConnectionPointContainer* back = nullptr;
    EXPECT_HR(point->GetConnectionPointContainer(&back), S_OK);
    ComPtr<IConnectionPointContainer> backHeld = ComPtr<IConnectionPointContainer>::Attach(back);
    EXPECT_EQ(Identity(back), Identity(g.object.Get()));

    raw = point.Get();
    EXPECT_HR(container->FindConnectionPoint(IID_IAdviseSink, &raw), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(raw, nullptr);

    IEnumConnectionPoints* points = nullptr;
    ASSERT_HR(container->EnumConnectionPoints(&points), S_OK);
    ComPtr<IEnumConnectionPoints> pointsHeld = ComPtr<IEnumConnectionPoints>::Attach(points);
    IConnectionPoint* listed[2] = {};
    ULONG count = 0;
    EXPECT_HR(points->Next(2, listed, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    ComPtr<IConnectionPoint> only = ComPtr<IConnectionPoint>::Attach(listed[0]);
    EXPECT_HR(only->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(iid == IID_IOPCDataCallback);

    // A sink must be a data callback.
    ComPtr<StreamSink> wrongSink = MakeComObject<StreamSink>();
    DWORD cookie = 0;
    EXPECT_HR(point->Advise(wrongSink->GetUnknown(), &cookie), CONNECT_E_CANNOTCONNECT);

    ComPtr<DataCallbackSink> sink = MakeComObject<DataCallbackSink>();
    ASSERT_HR(point->Advise(sink->GetUnknown(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    IEnumConnections* connections = nullptr;
    ASSERT_HR(point->EnumConnections(&connections), S_OK);
    ComPtr<IEnumConnections> connectionsHeld = ComPtr<IEnumConnections>::Attach(connections);
    CONNECTDATA data[2] = {};
    EXPECT_HR(connections->Next(2, data, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(data[0].dwCookie, cookie);
    EXPECT_EQ(Identity(data[0].pUnk), Identity(sink->GetUnknown()));
    data[0].pUnk->Release();

    EXPECT_HR(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
    EXPECT_HR(point->Unadvise(cookie), S_OK);
    EXPECT_HR(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

}  // namespace
