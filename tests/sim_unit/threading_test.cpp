// The simulator driven from a timer thread while the client calls it from another, as the
// opcsim program runs it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim_client.h"

using namespace std::chrono_literals;

namespace {

// Counts changes; the callback runs on the timer thread.
class CountingCallback final : public ComObject<IOPCDataCallback> {
  public:
    std::atomic<int> changes{0};
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*, VARIANT*,
                         WORD*, FILETIME*, HRESULT*) override {
        changes += static_cast<int>(dwCount);
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                           FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

TEST(Threading, ClockThreadAndClientThreadShareTheServer) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 100, 1);
    AddItems(group.Get(), {u"Signals.Ramp", u"Static.Int32"});
    auto callback = MakeComObject<CountingCallback>();
    Advise(group.Get(), callback.Get());
    ComPtr<IOPCSyncIO> sync;
    ASSERT_EQ(group.As(sync), S_OK);
    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(group.As(state), S_OK);

    std::atomic<bool> stop{false};
    std::thread clock([&] {
        while (!stop) {
            sim.AdvanceTime(100ms);
        }
    });
    // Both sides keep going until the clock has run 200 updates (and the client at least 300
    // rounds), or a generous time is up.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (int i = 0; (i < 300 || sim.Now() < 20000) && std::chrono::steady_clock::now() < deadline;
         ++i) {
        const auto added = AddItems(group.Get(), {u"Signals.Sine"});
        HRESULT* errors = nullptr;
        OPCHANDLE h = added[0];
        OPCITEMSTATE* states = nullptr;
        ASSERT_EQ(sync->Read(OPC_DS_DEVICE, 1, &h, &states, &errors), S_OK);
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        ASSERT_EQ(group->RemoveItems(1, &h, &errors), S_OK);
        CoTaskMemFree(errors);
        FLOAT deadband = i % 2 == 0 ? 0.0f : 0.5f;
        ASSERT_EQ(state->SetState(nullptr, nullptr, nullptr, nullptr, &deadband, nullptr, nullptr),
                  S_OK);
    }
    stop = true;
    clock.join();
    EXPECT_GE(sim.Now(), 20000u);
    EXPECT_GT(callback->changes.load(), 0);
}

}  // namespace
