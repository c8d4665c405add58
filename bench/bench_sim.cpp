// How many item changes per second one group of 10,000 active items sends through
// IOPCDataCallback::OnDataChange, beside a plain loop that computes the same values and copies
// them into an array of VARIANTs.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/malloc.h"
#include "opcda/opcda.h"
#include "sim/simulator.h"

namespace {

constexpr DWORD kItems = 10000;
constexpr DWORD kRate = 100;

// Reads every value it is given, as a client that stores them would.
class TouchingCallback final : public ComObject<IOPCDataCallback> {
  public:
    double sum = 0.0;
    std::size_t changes = 0;

    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE* handles,
                         VARIANT* values, WORD* qualities, FILETIME* times, HRESULT*) override {
        for (DWORD i = 0; i < dwCount; ++i) {
            sum += values[i].dblVal + handles[i] + qualities[i] + times[i].dwLowDateTime;
        }
        changes += dwCount;
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

void SimulatorDataChange(benchmark::State& state) {
    Simulator sim;
    ComPtr<IOPCServer> server;
    if (FAILED(sim.CreateServer().As(server))) {
        state.SkipWithError("no server");
        return;
    }
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    server->AddGroup(u"load", TRUE, kRate, 1, nullptr, nullptr, 0, &groupHandle, &revised,
                     IID_IUnknown, group.Put());
    ComPtr<IOPCItemMgt> items;
    if (!group || FAILED(group.As(items))) {
        state.SkipWithError("no group");
        return;
    }
    std::vector<std::u16string> ids(kItems);
    std::vector<OPCITEMDEF> defs(kItems);
    for (DWORD i = 0; i < kItems; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Load.Item%05u", static_cast<unsigned>(i));
        ids[i].assign(name, name + std::char_traits<char>::length(name));
        defs[i] = OPCITEMDEF{nullptr, ids[i].data(), TRUE, i + 1, 0, nullptr, VT_EMPTY, 0};
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (items->AddItems(kItems, defs.data(), &results, &errors) != S_OK) {
        state.SkipWithError("items refused");
        return;
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    auto callback = MakeComObject<TouchingCallback>();
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(group.As(container)) ||
        FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put())) ||
        FAILED(point->Advise(callback.Get(), &cookie))) {
        state.SkipWithError("no subscription");
        return;
    }
    sim.AdvanceTime(std::chrono::milliseconds(kRate));  // the first update, out of the timing

    for (auto _ : state) {
        sim.AdvanceTime(std::chrono::milliseconds(kRate));
    }
    if (callback->changes != static_cast<std::size_t>(state.iterations() + 1) * kItems) {
        state.SkipWithError("not every item changed at every update");
    }
    benchmark::DoNotOptimize(callback->sum);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kItems);
    point->Unadvise(cookie);
}
BENCHMARK(SimulatorDataChange)->Unit(benchmark::kMicrosecond);

// The floor: the same values computed and copied into a VARIANT array, then read once.
void PlainVariantLoop(benchmark::State& state) {
    std::vector<VARIANT> values(kItems);
    for (VARIANT& v : values) {
        VariantInit(&v);
    }
    std::uint64_t milliseconds = 0;
    double sum = 0.0;
    for (auto _ : state) {
        milliseconds += kRate;
        const double seconds = static_cast<double>(milliseconds) / 1000.0;
        for (DWORD i = 0; i < kItems; ++i) {
            VariantClear(&values[i]);
            values[i].vt = VT_R8;
            values[i].dblVal = seconds + static_cast<double>(i);
        }
        for (DWORD i = 0; i < kItems; ++i) {
            sum += values[i].dblVal;
        }
        benchmark::DoNotOptimize(values.data());
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kItems);
}
BENCHMARK(PlainVariantLoop)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
