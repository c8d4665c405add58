// One data change delivery of 10,000 changed numeric items, from IOPCDataCallback::OnDataChange
// through the live group and the document into the item records, in a configuration of 100,000
// items (10 groups of 10,000 on one server, history on), beside ApplyUpdate alone for the same
// records in the same run. Both report the time per item.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "com/com_object.h"
#include "com/oledate.h"
#include "com/variant.h"
#include "document/doc.h"
#include "document/scripted_dialogs.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/item_update.h"
#include "model/server_record.h"
#include "opc/data_callback.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "sim/address_space.h"
#include "sim/simulator.h"

namespace {

constexpr int kGroups = 10;
constexpr int kItemsPerGroup = static_cast<int>(kLoadItemCount);  // 10,000
constexpr int kDeliveredGroup = kGroups / 2;

// Every changed value differs from the one before it, so every update is a history sample.
double ValueOf(std::int64_t round, int item) {
    return static_cast<double>(round % 1000) * 0.5 + static_cast<double>(item) * 1e-3;
}

// The in-process simulation server in a private registry, and a document holding the whole
// configuration on it. Built once for both benchmarks.
class Configuration {
  public:
    Configuration() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            registryDir_ = pattern;
        }
        ::setenv("TAGVISTA_REGISTRY", registryDir_.c_str(), 1);
        RegisterSimulatorInProcess(sim_);
        doc_.SetDialogs(&dialogs_);
        doc_.OnNewDocument();

        dialogs_.QueueServer(kSimulatorProgId);
        doc_.OnNewServer();
        clBaseOPCServer& server = *doc_.serverList.ServerRecords().at(0);
        doc_.currentServer = &server;
        doc_.serverSelected = true;
        for (int g = 0; g < kGroups; ++g) {
            dialogs_.QueueGroupDialog(IDOK);
            doc_.OnNewGroup();
        }
        for (const auto& group : server.Groups()) {
            AddItems(*group);
        }
        // The views hear of every delivery, as while the operator watches a group.
        doc_.ClearSelection();
        doc_.currentServer = &server;
        doc_.currentGroup = server.Groups()[kDeliveredGroup].get();
        doc_.groupSelected = true;
    }

    ~Configuration() {
        doc_.ResetContents();
        RevokeSimulatorInProcess();
        std::error_code ec;
        std::filesystem::remove_all(registryDir_, ec);
    }

    CDoc& Doc() { return doc_; }
    clBaseOPCGroup& DeliveredGroup() {
        return *doc_.serverList.ServerRecords().at(0)->Groups()[kDeliveredGroup];
    }

  private:
    void AddItems(clBaseOPCGroup& group) {
        // Records go in from the end of the name order, so that each sorted insert stops at
        // once.
        for (int i = kItemsPerGroup - 1; i >= 0; --i) {
            char name[32];
            std::snprintf(name, sizeof name, "Load.Item%05d", i);
            auto live = std::make_unique<COPCItem>(*group.liveGroup);
            live->itemId = name;
            live->itemIdNumber = doc_.nextItemId;
            COPCItem* const listed = group.liveGroup->AddItem(std::move(live));
            if (listed == nullptr) {
                std::fprintf(stderr, "the server refused %s\n", name);
                std::abort();
            }
            auto record = std::make_unique<clBaseOPCItem>();
            record->id = doc_.nextItemId++;
            record->displayName = name;
            record->opcItemId = name;
            record->active = 1;
            record->state = clBaseOPCItem::stateValid;
            record->canonicalType = listed->canonicalType;
            record->accessRights = listed->accessRights;
            record->history.enabled = true;
            record->history.capacity = 128;
            record->history.overwrite = true;
            group.InsertItemSorted(std::move(record));
        }
    }

    std::filesystem::path registryDir_;
    Simulator sim_;
    ScriptedDocumentDialogs dialogs_;
    CDoc doc_;
};

Configuration& Config() {
    static Configuration config;
    return config;
}

FILETIME Timestamp() {
    SYSTEMTIME st{};
    st.wYear = 2026;
    st.wMonth = 1;
    st.wDay = 1;
    st.wHour = 12;
    st.wMilliseconds = 250;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

void BM_DeliveryToRecords(benchmark::State& state) {
    clBaseOPCGroup& group = Config().DeliveredGroup();
    COPCGroup& live = *group.liveGroup;
    const auto& items = live.Items();
    const auto count = static_cast<DWORD>(items.size());
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values(count);
    std::vector<WORD> qualities(count, 0xC0);
    std::vector<FILETIME> timestamps(count, Timestamp());
    std::vector<HRESULT> errors(count, S_OK);
    for (const auto& item : items) {
        handles.push_back(item->ClientHandle());
    }
    for (VARIANT& v : values) {
        VariantInit(&v);
        v.vt = VT_R8;
    }
    // The group's own kind of sink, called as a server calls it.
    const ComPtr<COPCDataCallback> sink = MakeComObject<COPCDataCallback>(&live);
    IOPCDataCallback* const callback = sink.Get();

    std::int64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        for (DWORD i = 0; i < count; ++i) {
            values[i].dblVal = ValueOf(round, static_cast<int>(i));
        }
        state.ResumeTiming();
        callback->OnDataChange(0, 0, S_OK, S_OK, count, handles.data(), values.data(),
                               qualities.data(), timestamps.data(), errors.data());
    }
    sink->DetachGroup();
    // Every record took its value.
    const clBaseOPCItem* first = group.FindItemById(items.front()->itemIdNumber);
    if (first == nullptr || first->value != ValueOf(round, 0)) {
        state.SkipWithError("the delivery did not reach the records");
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["per_item"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DeliveryToRecords)->Unit(benchmark::kMicrosecond);

// What a record reads from its live item, alone: the cost of ApplyUpdate without delivery.
class Source final : public IItemUpdateSource {
  public:
    explicit Source(FILETIME timestamp) : timestamp_(timestamp) {
        VariantInit(&value_);
        value_.vt = VT_R8;
    }
    const VARIANT& GetReceivedValue() const override { return value_; }
    std::uint16_t GetReceivedQuality() const override { return 0xC0; }
    FILETIME GetReceivedTimestamp() const override { return timestamp_; }
    VARTYPE GetCanonicalType() const override { return VT_R8; }
    void Set(double x) { value_.dblVal = x; }

  private:
    VARIANT value_;
    FILETIME timestamp_;
};

void BM_ApplyUpdateAlone(benchmark::State& state) {
    clBaseOPCGroup& group = Config().DeliveredGroup();
    std::vector<clBaseOPCItem*> records;
    for (const auto& item : group.liveGroup->Items()) {
        records.push_back(group.FindItemById(item->itemIdNumber));
    }
    std::vector<Source> sources(records.size(), Source(Timestamp()));
    const auto count = records.size();

    std::int64_t round = 1000000;
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        for (std::size_t i = 0; i < count; ++i) {
            sources[i].Set(ValueOf(round, static_cast<int>(i)));
        }
        state.ResumeTiming();
        for (std::size_t i = 0; i < count; ++i) {
            records[i]->ApplyUpdate(sources[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
    state.counters["per_item"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ApplyUpdateAlone)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
