// Cost of one numeric live update with history on, beside the text round trip it replaces
// (snprintf "%9.3f" then strtod), measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "com/oledate.h"
#include "model/item_record.h"
#include "model/item_update.h"
#include "model/values.h"

namespace {

constexpr std::size_t kValueCount = 1024;  // a power of two

// Process-like values; neighbours always differ, so every update is a history sample.
const std::vector<double>& Values() {
    static const std::vector<double> values = [] {
        std::mt19937_64 random(42);
        std::uniform_real_distribution<double> spread(-10000.0, 10000.0);
        std::vector<double> v(kValueCount);
        for (double& x : v) {
            x = spread(random);
        }
        return v;
    }();
    return values;
}

class LiveR8 : public IItemUpdateSource {
  public:
    LiveR8() {
        VariantInit(&value_);
        value_.vt = VT_R8;
        SYSTEMTIME st;
        st.wYear = 2024;
        st.wMonth = 3;
        st.wDay = 1;
        st.wHour = 12;
        st.wMinute = 0;
        st.wSecond = 0;
        st.wMilliseconds = 250;
        SystemTimeToFileTime(&st, &time_);
    }
    const VARIANT& GetReceivedValue() const override { return value_; }
    std::uint16_t GetReceivedQuality() const override { return 0xC0; }
    FILETIME GetReceivedTimestamp() const override { return time_; }
    VARTYPE GetCanonicalType() const override { return VT_R8; }

    void Set(double x) { value_.dblVal = x; }

  private:
    VARIANT value_;
    FILETIME time_{};
};

void BM_ApplyUpdateR8History(benchmark::State& state) {
    const std::vector<double>& values = Values();
    clBaseOPCItem item;
    item.canonicalType = VT_R8;
    item.history.enabled = true;
    item.history.capacity = 1024;
    item.history.overwrite = true;
    LiveR8 live;
    std::size_t i = 0;
    // Fill the buffer first: the steady state of a busy item is a full buffer.
    for (; i < 2 * kValueCount; ++i) {
        live.Set(values[i % kValueCount]);
        item.ApplyUpdate(live);
    }
    for (auto _ : state) {
        live.Set(values[i++ & (kValueCount - 1)]);
        item.ApplyUpdate(live);
        benchmark::DoNotOptimize(item.value);
    }
}
BENCHMARK(BM_ApplyUpdateR8History);

void BM_SnprintfStrtodRoundTrip(benchmark::State& state) {
    const std::vector<double>& values = Values();
    std::size_t i = 0;
    char text[64];
    for (auto _ : state) {
        std::snprintf(text, sizeof text, "%9.3f", values[i++ & (kValueCount - 1)]);
        double x = std::strtod(text, nullptr);
        benchmark::DoNotOptimize(x);
    }
}
BENCHMARK(BM_SnprintfStrtodRoundTrip);

// For reference: the literal path through the display text that the update avoids.
void BM_DisplayTextPath(benchmark::State& state) {
    const std::vector<double>& values = Values();
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    std::size_t i = 0;
    for (auto _ : state) {
        v.dblVal = values[i++ & (kValueCount - 1)];
        double x = std::atof(VariantToText(v).c_str());
        benchmark::DoNotOptimize(x);
    }
}
BENCHMARK(BM_DisplayTextPath);

// Prints the usual table, then the update beside its baseline (CPU time per operation, which
// the other work of a shared machine disturbs least).
class SideBySideReporter : public benchmark::ConsoleReporter {
  public:
    SideBySideReporter() : ConsoleReporter(isatty(fileno(stdout)) != 0 ? OO_Defaults : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                nanoseconds_[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
    }
    double Nanoseconds(const std::string& name) const {
        const auto it = nanoseconds_.find(name);
        return it == nanoseconds_.end() ? 0.0 : it->second;
    }

  private:
    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SideBySideReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double update = reporter.Nanoseconds("BM_ApplyUpdateR8History");
    const double baseline = reporter.Nanoseconds("BM_SnprintfStrtodRoundTrip");
    if (update > 0.0 && baseline > 0.0) {
        std::printf(
            "\nCPU time: ApplyUpdate VT_R8, history on: %.1f ns | snprintf(\"%%9.3f\")+strtod: "
            "%.1f ns | "
            "ratio %.2f\n",
            update, baseline, update / baseline);
    }
    return 0;
}
