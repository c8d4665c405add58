// Writing and reading a large configuration through the archive, beside memcpy of the same
// number of bytes measured in the same run.
//
// The configuration: one server, 10 groups of 10,000 items, 10 history samples per item
// (100,000 items, 1,000,000 samples), realistic item names, remarks mostly empty; 71.6 MB in the
// file. The stream is what a document save produces: the column sets, then the server list (a
// version word, the count of server records, the server record as an object reference, the
// count of live servers).
//
//   write           a storing archive is opened, the configuration is serialized into it, its
//                   bytes are visited piece by piece as the document hands them to the file
//                   (VisitBytes, no gather copy), and the archive is closed. All of it is timed.
//                   The configuration is the one built record by record, its history samples
//                   arriving one at a time as live data brings them.
//   write reloaded  the same, for the same configuration as read back from its bytes, laid out
//                   in memory as after opening the document.
//   read            a loading archive over the bytes in memory rebuilds the column sets and the
//                   whole record tree. The tree is destroyed outside the timing (a document does
//                   that when it is closed, not while it opens).
//   memcpy          the same number of bytes copied from one buffer into another that is already
//                   touched: the rate at which the bytes can be produced or consumed at all.
//
// Each runs seven times (--benchmark_repetitions overrides that). Rates are bytes_per_second of
// the CPU time of the benchmark thread, which other work on a shared machine does not inflate
// the way it does the wall-clock time (printed beside it). The closing lines print each rate as
// a share of memcpy's: of the medians, and of the best repetitions.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/archive.h"
#include "model/columns.h"
#include "model/model_classes.h"
#include "model/server_record.h"

namespace {

constexpr int kGroups = 10;
constexpr int kItemsPerGroup = 10'000;
constexpr int kSamplesPerItem = 10;

// A repeatable pseudo-random sequence, so that every run builds the same configuration.
class Sequence {
  public:
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    double Unit() { return Next() / 4294967296.0; }

  private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

std::string ItemName(int group, int item) {
    static const char* const kTags[] = {"TIC", "FIC", "PIC", "LIC", "XV", "HS", "AI", "TT"};
    static const char* const kFields[] = {"PV", "SP", "OUT", "MODE", "ALM.HI", "STATE"};
    char name[96];
    std::snprintf(name, sizeof name, "Plant1.Area%02d.Unit%03d.%s-%02d%03d.%s", group + 1,
                  item / 100, kTags[item % 8], group + 1, item % 1000, kFields[item % 6]);
    return name;
}

std::unique_ptr<clBaseOPCItem> MakeItem(int group, int item) {
    auto record = std::make_unique<clBaseOPCItem>();
    record->id = group * kItemsPerGroup + item + 1;
    record->displayName = ItemName(group, item);
    record->opcItemId = record->displayName;
    record->active = 1;
    record->state = clBaseOPCItem::stateValid;
    record->accessRights = item % 4 == 0 ? 3u : 1u;
    record->canonicalType = item % 6 == 5 ? 11 : 5;  // VT_BOOL, VT_R8
    if (item % 7 == 0) {
        record->scaleEnabled = true;
        record->rawMax = 4095.0;
        record->engMax = 250.0;
    }
    record->history.enabled = true;
    record->history.capacity = 128;
    record->history.overwrite = true;
    return record;
}

// The live data of one item: samples seconds to minutes apart, some across midnight, in the
// first months of a year (a day of January past the 31st is a day of a later month).
class Feed {
  public:
    explicit Feed(Sequence& random)
        : firstDay_(1 + static_cast<int>(random.Next() % 120)),
          second_(static_cast<int>(random.Next() % 86'400)) {}

    void Next(clBaseOPCItem& record, Sequence& random) {
        second_ += 1 + static_cast<int>(random.Next() % 600);
        const clDateTime stamp(2024, 1, firstDay_ + second_ / 86'400, second_ / 3600 % 24,
                               second_ / 60 % 60, second_ % 60,
                               static_cast<int>(random.Next() % 1000));
        const bool isBool = record.canonicalType == 11;
        const double value = isBool ? (samples_ % 2) : 20.0 + 80.0 * random.Unit();
        record.history.AddSample(stamp, value, samples_ == 3 ? 0x40 : 0xC0, !isBool);
        record.timestamp = stamp;
        record.value = value;
        if (isBool) {
            record.valueText = value > 0 ? "On" : "Off";
        }
        ++samples_;
    }

  private:
    int firstDay_;
    int second_;
    int samples_ = 0;
};

std::unique_ptr<clBaseOPCServer> MakeServer() {
    Sequence random;
    auto server = std::make_unique<clBaseOPCServer>();
    server->id = 1;
    server->serverName = "Tagvista.Simulator.1";
    server->nextGroupNumber = kGroups + 1;
    std::vector<clBaseOPCItem*> records;
    for (int g = 0; g < kGroups; ++g) {
        auto group = std::make_unique<clBaseOPCGroup>();
        group->id = g + 1;
        group->serverId = server->id;
        group->updateRate = 500;
        char name[32];
        std::snprintf(name, sizeof name, "Area%02d", g + 1);
        group->name = name;
        // The records are made in name order, as the operator adds browsed items, and then
        // inserted from the last name on, so that each sorted insertion lands at the head at
        // once instead of after a walk over the whole list.
        std::vector<std::unique_ptr<clBaseOPCItem>> items;
        for (int i = 0; i < kItemsPerGroup; ++i) {
            items.push_back(MakeItem(g, i));
            records.push_back(items.back().get());
        }
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            group->InsertItemSorted(std::move(*it));
        }
        server->InsertGroupSorted(std::move(group));
    }
    // Then the samples, as live data brings them: one update of every item after another.
    std::vector<Feed> feeds;
    for (std::size_t i = 0; i < records.size(); ++i) {
        feeds.emplace_back(random);
    }
    for (int s = 0; s < kSamplesPerItem; ++s) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            feeds[i].Next(*records[i], random);
        }
    }
    // About one sample in a hundred carries an operator's remark.
    for (std::size_t i = 0; i < records.size(); i += 10) {
        records[i]->history.SetRemark(3, "checked on site, sensor replaced");
    }
    return server;
}

struct Configuration {
    clColumns columns;
    std::unique_ptr<clBaseOPCServer> server;
};

// The document's part of the stream: the column sets and the server list.
void Store(CArchive& ar, const Configuration& config) {
    const_cast<clColumns&>(config.columns).Serialize(ar);
    ar.WriteDWord(1);
    ar.WriteCount(1);
    ar.WriteObject(config.server.get());
    ar.WriteCount(0);  // no live servers
}

std::unique_ptr<Configuration> Load(std::span<const std::uint8_t> bytes,
                                    const ClassRegistry& classes) {
    auto config = std::make_unique<Configuration>();
    CArchive ar(bytes, classes);
    config->columns.Serialize(ar);
    ar.ReadDWord();
    if (ar.ReadCount() != 1) {
        throw CArchiveException(CArchiveException::generic);
    }
    config->server = ar.ReadNew<clBaseOPCServer>();
    if (ar.ReadCount() != 0 || ar.Remaining() != 0) {
        throw CArchiveException(CArchiveException::generic);
    }
    return config;
}

const Configuration& SourceConfiguration() {
    static const std::unique_ptr<Configuration> config = [] {
        auto c = std::make_unique<Configuration>();
        c->columns.CreateDefaults();
        c->server = MakeServer();
        return c;
    }();
    return *config;
}

const std::vector<std::uint8_t>& StoredBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        CArchive ar;
        Store(ar, SourceConfiguration());
        std::vector<std::uint8_t> out = ar.TakeBytes();
        // What is read back must write the very same bytes, or the figures compare nothing.
        const ClassRegistry classes = ModelClasses();
        const std::unique_ptr<Configuration> back = Load(out, classes);
        CArchive again;
        Store(again, *back);
        if (again.TakeBytes() != out) {
            std::fprintf(stderr, "bench_archive: the configuration does not read back\n");
            std::abort();
        }
        return out;
    }();
    return bytes;
}

void SetRate(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Memcpy(benchmark::State& state) {
    const std::size_t size = StoredBytes().size();
    std::vector<std::uint8_t> from(StoredBytes());
    std::vector<std::uint8_t> to(size, 1);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), size);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    SetRate(state, size);
}

void WriteAll(benchmark::State& state, const Configuration& config) {
    const std::size_t size = StoredBytes().size();
    for (auto _ : state) {
        CArchive ar;
        Store(ar, config);
        std::size_t visited = 0;
        ar.VisitBytes([&](std::span<const std::uint8_t> piece) {
            benchmark::DoNotOptimize(piece.data());
            visited += piece.size();
        });
        if (visited != size) {
            state.SkipWithError("the archive wrote another number of bytes");
            break;
        }
    }
    SetRate(state, size);
}

void BM_ArchiveWrite(benchmark::State& state) {
    WriteAll(state, SourceConfiguration());
}

void BM_ArchiveWriteReloaded(benchmark::State& state) {
    static const ClassRegistry classes = ModelClasses();
    static const std::unique_ptr<Configuration> reloaded = Load(StoredBytes(), classes);
    WriteAll(state, *reloaded);
}

void BM_ArchiveRead(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = StoredBytes();
    const ClassRegistry classes = ModelClasses();
    for (auto _ : state) {
        std::unique_ptr<Configuration> config = Load(bytes, classes);
        benchmark::DoNotOptimize(config.get());
        state.PauseTiming();
        config.reset();
        state.ResumeTiming();
    }
    SetRate(state, bytes.size());
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveWriteReloaded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveRead)->Unit(benchmark::kMillisecond);

// Prints the console report and keeps each benchmark's rates for the closing comparison: the
// median of the repetitions, and the best one (the machine may be shared, and other work only
// ever slows a run down).
class RateReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) {
                continue;
            }
            const std::string& args = run.run_name.args;
            Rates& rates = rates_[run.run_name.function_name + (args.empty() ? "" : "/" + args)];
            if (run.run_type == Run::RT_Iteration) {
                rates.best = std::max(rates.best, rate->second.value);
                if (rates.median == 0) {
                    rates.median = rate->second.value;  // until a median comes
                }
            } else if (run.aggregate_name == "median") {
                rates.median = rate->second.value;
            }
        }
    }

    void PrintRatios() const {
        const auto base = rates_.find("BM_Memcpy");
        if (base == rates_.end() || base->second.median <= 0) {
            return;
        }
        std::printf("\n%-24s %8s %8s   (MB/s; share of memcpy; %.1f MB per run)\n", "", "median",
                    "best", static_cast<double>(StoredBytes().size()) / 1e6);
        for (const auto& [name, rates] : rates_) {
            std::printf("%-24s %8.0f %8.0f", name.c_str(), rates.median / 1e6, rates.best / 1e6);
            if (name != "BM_Memcpy") {
                std::printf("   %5.1f%% %5.1f%%", 100.0 * rates.median / base->second.median,
                            100.0 * rates.best / base->second.best);
            }
            std::printf("\n");
        }
    }

  private:
    struct Rates {
        double median = 0;
        double best = 0;
    };
    std::map<std::string, Rates> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    // Seven repetitions unless the command line says otherwise (a later flag wins).
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=7";
    args.insert(args.begin() + 1, repetitions.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    StoredBytes();  // the configuration is built and checked before anything is timed
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
