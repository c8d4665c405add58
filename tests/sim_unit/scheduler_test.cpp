// The clock: updates in time order, schedules of idle groups, answers to asynchronous requests
// between updates, and callbacks made without the simulator's lock.

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "sim_client.h"

using namespace std::chrono_literals;

namespace {

TEST(Scheduler, UpdatesOfAllGroupsRunInTimeOrder) {
    Simulator sim;
    TestServer s(sim);
    // Ramp changes at every update, so every update of every group calls back.
    auto fast = s.AddGroup(u"fast", 100, 1);
    auto slow = s.AddGroup(u"slow", 250, 2);
    AddItems(fast.Get(), {u"Signals.Ramp"});
    AddItems(slow.Get(), {u"Signals.Ramp"});
    auto callback = MakeComObject<RecordingCallback>();
    std::vector<std::pair<OPCHANDLE, std::uint64_t>> seen;
    // The callback reads the clock: it would deadlock if the lock were held.
    callback->onData = [&](const Delivered& d) { seen.emplace_back(d.group, sim.Now()); };
    Advise(fast.Get(), callback.Get());
    Advise(slow.Get(), callback.Get());

    sim.AdvanceTime(1000ms);
    EXPECT_EQ(sim.Now(), 1000u);
    std::vector<std::pair<OPCHANDLE, std::uint64_t>> expected;
    for (std::uint64_t t = 100; t <= 1000; t += 50) {
        if (t % 100 == 0) {
            expected.emplace_back(1, t);
        }
        if (t % 250 == 0) {
            expected.emplace_back(2, t);
        }
    }
    EXPECT_EQ(seen, expected);
    // The timestamps are the update times.
    for (const Delivered& d : callback->calls) {
        ASSERT_EQ(d.times.size(), 1u);
    }
    EXPECT_EQ(FileTimeToSimMs(callback->calls.back().times[0]), 1000u);
}

TEST(Scheduler, IdleGroupsKeepTheirGridAndStartAfterBecomingActive) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 1000, 7, FALSE);
    AddItems(group.Get(), {u"Signals.Counter"});
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());

    sim.AdvanceTime(5500ms);  // inactive: nothing runs, nothing is owed
    EXPECT_TRUE(callback->calls.empty());

    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(group.As(state), S_OK);
    BOOL active = TRUE;
    ASSERT_EQ(state->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    sim.AdvanceTime(499ms);
    EXPECT_TRUE(callback->calls.empty());
    sim.AdvanceTime(1ms);  // 6000: the next point of the group's own grid
    ASSERT_EQ(callback->calls.size(), 1u);
    EXPECT_EQ(callback->calls[0].values[0].Get().ulVal, 6u);

    // A new rate starts a new grid from now.
    DWORD rate = 300;
    DWORD revised = 0;
    ASSERT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, 300u);
    sim.AdvanceTime(1000ms);  // updates at 6300 (value 6, unchanged), 6600, 6900
    std::vector<std::uint64_t> times;
    for (const Delivered& d : callback->calls) {
        times.push_back(FileTimeToSimMs(d.times[0]));
    }
    // Counter changes at whole seconds: 6000 was sent, 6300..6900 hold 6, 7000 is not an update.
    EXPECT_EQ(times, (std::vector<std::uint64_t>{6000}));
    sim.AdvanceTime(200ms);  // 7200 shows 7
    ASSERT_EQ(callback->calls.size(), 2u);
    EXPECT_EQ(FileTimeToSimMs(callback->calls[1].times[0]), 7200u);
}

TEST(Scheduler, RequestsAreAnsweredInOrderBeforeUpdatesAndCanBeCancelled) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 1000, 3);
    const auto handles = AddItems(group.Get(), {u"Static.Int32", u"Signals.Ramp"});
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());
    ComPtr<IOPCAsyncIO2> async;
    ASSERT_EQ(group.As(async), S_OK);

    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 77;
    OPCHANDLE first = handles[0];
    DWORD cancelWrite = 0;
    DWORD cancelRead = 0;
    DWORD cancelDropped = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async->Write(1, &first, &value, 10, &cancelWrite, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(async->Read(1, &first, 11, &cancelRead, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(async->Read(1, &first, 12, &cancelDropped, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(async->Cancel2(cancelDropped), S_OK);
    EXPECT_EQ(async->Cancel2(cancelDropped), E_FAIL);  // already cancelled
    EXPECT_TRUE(callback->calls.empty());              // nothing is answered inside the calls

    sim.AdvanceTime(0ms);
    ASSERT_EQ(callback->calls.size(), 3u);
    EXPECT_EQ(callback->calls[0].kind, Delivered::Kind::Write);
    EXPECT_EQ(callback->calls[0].transaction, 10u);
    EXPECT_EQ(callback->calls[0].errors[0], S_OK);
    EXPECT_EQ(callback->calls[1].kind, Delivered::Kind::Read);
    EXPECT_EQ(callback->calls[1].transaction, 11u);
    EXPECT_EQ(callback->calls[1].values[0].Get().lVal, 77);  // the write came first
    EXPECT_EQ(callback->calls[2].kind, Delivered::Kind::Cancel);
    EXPECT_EQ(callback->calls[2].transaction, 12u);
    EXPECT_EQ(async->Cancel2(cancelRead), E_FAIL);  // answered, no longer pending
    callback->calls.clear();

    // A request made by a callback is answered after the update that follows, not inside it.
    DWORD refreshCancel = 0;
    bool asked = false;
    callback->onData = [&](const Delivered& d) {
        if (d.transaction == 0 && !asked) {
            asked = true;
            EXPECT_EQ(async->Refresh2(OPC_DS_DEVICE, 99, &refreshCancel), S_OK);
        }
    };
    sim.AdvanceTime(2000ms);
    std::vector<std::pair<DWORD, std::uint64_t>> order;
    for (const Delivered& d : callback->calls) {
        order.emplace_back(d.transaction, FileTimeToSimMs(d.times.front()));
    }
    // The 1000 update (both items, first time), the refresh at 1000, the 2000 update (Ramp).
    EXPECT_EQ(order,
              (std::vector<std::pair<DWORD, std::uint64_t>>{{0, 1000}, {99, 1000}, {0, 2000}}));
    EXPECT_EQ(callback->calls[1].handles.size(), 2u);
    EXPECT_EQ(callback->calls[2].handles, (std::vector<OPCHANDLE>{2}));
}

TEST(Scheduler, CallbacksMayChangeTheServerWhileItRuns) {
    Simulator sim;
    TestServer s(sim);
    OPCHANDLE serverHandle = 0;
    auto group = s.AddGroup(u"g", 100, 1, TRUE, 0.0f, &serverHandle);
    AddItems(group.Get(), {u"Signals.Ramp"});
    auto other = s.AddGroup(u"other", 100, 2);
    AddItems(other.Get(), {u"Signals.Ramp"});
    auto callback = MakeComObject<RecordingCallback>();
    int updates = 0;
    callback->onData = [&](const Delivered&) {
        if (++updates == 3) {
            // Adding and removing groups and items from inside a callback.
            auto extra = s.AddGroup(u"extra", 100, 3);
            AddItems(extra.Get(), {u"Signals.Sine"});
            EXPECT_EQ(s.server->RemoveGroup(serverHandle, TRUE), S_OK);
        }
    };
    Advise(group.Get(), callback.Get());
    Advise(other.Get(), callback.Get());
    sim.AdvanceTime(1000ms);
    // After the removal only "other" calls back; the 3rd update was the removed group's 2nd.
    int fromRemoved = 0;
    for (const Delivered& d : callback->calls) {
        fromRemoved += d.group == 1 ? 1 : 0;
    }
    EXPECT_EQ(fromRemoved, 2);
    EXPECT_EQ(callback->calls.back().group, 2u);
    // The removed group's interfaces fail now.
    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(group.As(state), S_OK);
    DWORD rate = 0;
    EXPECT_EQ(state->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_FAIL);
}

TEST(Scheduler, DeadServerMovesTheClockButSendsNothing) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 100, 1);
    AddItems(group.Get(), {u"Signals.Ramp"});
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());
    sim.Faults().dead = true;
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(sim.Now(), 1000u);
    EXPECT_TRUE(callback->calls.empty());
    ComPtr<IOPCSyncIO> sync;
    ASSERT_EQ(group.As(sync), S_OK);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    OPCHANDLE h = 1;
    EXPECT_EQ(sync->Read(OPC_DS_CACHE, 1, &h, &states, &errors), RPC_E_DISCONNECTED);
    EXPECT_EQ(states, nullptr);
    sim.Faults().dead = false;
    sim.AdvanceTime(100ms);
    EXPECT_EQ(callback->calls.size(), 1u);
}

}  // namespace
