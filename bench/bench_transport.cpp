// The sustained rate at which the client applies item updates to its records while a server
// delivers changes to 100,000 items in 10 groups as fast as it can: out of process (a real
// opcsim, over the transport, through the apartment's queue) beside in process (the simulation
// server's callbacks made straight into the groups), measured in the same run. Both paths end
// in COPCGroup::OnDataChange, CDoc::OnItemUpdate and ApplyUpdate into the records (history off,
// as a new record has it). Afterwards it prints both rates, their ratio, and the client's
// resident memory per item for the out-of-process configuration (growth of the resident set
// from before the configuration was built to after its first full round of updates, divided
// by 100,000).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "com/apartment.h"
#include "document/doc.h"
#include "document/scripted_dialogs.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "rpc/local_server_provider.h"
#include "sim/address_space.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

constexpr int kGroups = 10;
constexpr int kItemsPerGroup = 10000;
constexpr std::uint32_t kItems = kGroups * kItemsPerGroup;
// The server runs every group at this rate: far more than the client can take, so the client's
// own speed is what is measured.
constexpr DWORD kRateMs = 10;

std::int64_t ResidentBytes() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}

// The document as the application has it, counting the updates it applies.
class CountingDoc final : public CDoc {
  public:
    void OnItemUpdate(COPCItem& item) override {
        ++applied;
        CDoc::OnItemUpdate(item);
    }
    std::uint64_t applied = 0;
};

bool RunOpcsim(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {OPCSIM_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) {
        pointers.push_back(a.data());
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int started = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return started == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// One configuration: a private registry, a document with one server of 10 groups of 10,000
// load items, the groups created inactive and switched on once every item is in.
class Rig {
  public:
    explicit Rig(bool outOfProcess) : outOfProcess_(outOfProcess) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-bench-transport-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            registryDir_ = pattern;
        }
        ::setenv("TAGVISTA_REGISTRY", registryDir_.c_str(), 1);
        const std::int64_t before = ResidentBytes();
        if (outOfProcess_) {
            provider_ = InstallLocalServerProvider();
            if (!RunOpcsim({"-RegServer", "--load-items", std::to_string(kItems), "--load-rate",
                            std::to_string(kRateMs)})) {
                std::fprintf(stderr, "cannot register %s\n", OPCSIM_PATH);
                std::abort();
            }
        } else {
            SimOptions options;
            options.fastestUpdateRate = kRateMs;
            sim_ = std::make_unique<Simulator>(options);
            AddressSpace space;
            BuildBuiltInSpace(space, kItems);
            sim_->Space() = std::move(space);
            RegisterSimulatorInProcess(*sim_);
        }
        doc_.SetDialogs(&dialogs_);
        doc_.OnNewDocument();
        dialogs_.QueueServer(kSimulatorProgId);
        doc_.OnNewServer();
        clBaseOPCServer& server = *doc_.serverList.ServerRecords().at(0);
        if (server.liveServer == nullptr || !server.liveServer->connected) {
            std::fprintf(stderr, "the server did not start\n");
            std::abort();
        }
        doc_.currentServer = &server;
        doc_.serverSelected = true;
        for (int g = 0; g < kGroups; ++g) {
            dialogs_.QueueGroupDialog(IDOK, [](clBaseOPCGroup& group) {
                group.updateRate = kRateMs;
                group.active = 0;
            });
            doc_.OnNewGroup();
        }
        int g = 0;
        for (const auto& group : server.Groups()) {
            AddItems(*group, g++);
        }
        doc_.ClearSelection();
        doc_.currentServer = &server;
        doc_.currentGroup = server.Groups()[kGroups / 2].get();
        doc_.groupSelected = true;
        SetActive(true);
        // The first full round: every item has a value, the queues have their working size.
        Pump(kItems);
        residentPerItem_ = static_cast<double>(ResidentBytes() - before) / kItems;
    }

    ~Rig() {
        SetActive(false);
        Apartment::Ui().Drain();
        doc_.ResetContents();
        Apartment::Ui().Drain();
        if (!outOfProcess_) {
            RevokeSimulatorInProcess();
        }
        std::error_code ec;
        std::filesystem::remove_all(registryDir_, ec);
    }

    // Lets the server deliver until at least count more updates have been applied.
    void Pump(std::uint64_t count) {
        const std::uint64_t target = doc_.applied + count;
        while (doc_.applied < target) {
            if (outOfProcess_) {
                Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(10));
            } else {
                sim_->AdvanceTime(std::chrono::milliseconds(kRateMs));
            }
        }
    }

    std::uint64_t Applied() const { return doc_.applied; }
    double ResidentPerItem() const { return residentPerItem_; }
    // Whether the records hold what the server sent: a load item's value is t + its number.
    bool RecordsHoldValues() {
        const clBaseOPCServer& server = *doc_.serverList.ServerRecords().at(0);
        for (const auto& group : server.Groups()) {
            for (const auto& item : group->liveGroup->Items()) {
                const clBaseOPCItem* record = group->FindItemById(item->itemIdNumber);
                if (record == nullptr || !(record->value >= 0.0)) {
                    return false;
                }
            }
        }
        return true;
    }

  private:
    void AddItems(clBaseOPCGroup& group, int g) {
        for (int i = kItemsPerGroup - 1; i >= 0; --i) {
            char name[32];
            std::snprintf(name, sizeof name, "Load.Item%05d", g * kItemsPerGroup + i);
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
            group.InsertItemSorted(std::move(record));
        }
    }

    void SetActive(bool active) {
        const clBaseOPCServer& server = *doc_.serverList.ServerRecords().at(0);
        for (const auto& group : server.Groups()) {
            group->liveGroup->SetState(active ? TRUE : FALSE, 0.0f, kRateMs);
        }
    }

    const bool outOfProcess_;
    std::filesystem::path registryDir_;
    std::shared_ptr<LocalServerProcessProvider> provider_;
    std::unique_ptr<Simulator> sim_;
    ScriptedDocumentDialogs dialogs_;
    CountingDoc doc_;
    double residentPerItem_ = 0.0;
};

struct Figures {
    double rate = 0.0;  // updates per second
    double residentPerItem = 0.0;
};
Figures outOfProcess;
Figures inProcess;

void MeasureRate(benchmark::State& state, bool outOfProcessRig, Figures* figures) {
    Rig rig(outOfProcessRig);
    const std::uint64_t start = rig.Applied();
    const auto began = std::chrono::steady_clock::now();
    double slowest = 0.0;
    for (auto _ : state) {
        const auto roundBegan = std::chrono::steady_clock::now();
        rig.Pump(kItems);
        slowest = std::max(slowest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - roundBegan)
                                        .count());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto applied = static_cast<double>(rig.Applied() - start);
    if (!rig.RecordsHoldValues()) {
        state.SkipWithError("the updates did not reach the records");
    }
    figures->rate = applied / seconds;
    figures->residentPerItem = rig.ResidentPerItem();
    state.SetItemsProcessed(static_cast<std::int64_t>(applied));
    state.counters["updates_per_s"] = figures->rate;
    state.counters["rss_bytes_per_item"] = figures->residentPerItem;
    // One round is an update of every item; a slow one shows a stall.
    state.counters["slowest_round_ms"] = slowest;
}

void BM_OutOfProcessUpdates(benchmark::State& state) {
    MeasureRate(state, true, &outOfProcess);
}
BENCHMARK(BM_OutOfProcessUpdates)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void BM_InProcessUpdates(benchmark::State& state) {
    MeasureRate(state, false, &inProcess);
}
BENCHMARK(BM_InProcessUpdates)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (outOfProcess.rate > 0 && inProcess.rate > 0) {
        std::printf(
            "\nupdates applied per second: out of process %.0f, in process %.0f, ratio %.3f\n"
            "client resident memory per item: out of process %.0f bytes, in process %.0f bytes "
            "(simulator included)\n",
            outOfProcess.rate, inProcess.rate, outOfProcess.rate / inProcess.rate,
            outOfProcess.residentPerItem, inProcess.residentPerItem);
    }
    return 0;
}
