// The history dialog's list of 1,024 samples: how long until the first rows reach the
// user-interface thread and until the whole list is there, beside a plain copy of the samples
// under the buffer's lock.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "com/apartment.h"
#include "document/history_dlg.h"
#include "framework/scripted_ui.h"
#include "model/item_record.h"

namespace {

constexpr int kSamples = 1024;

void FillHistory(clBaseOPCItem& item) {
    item.displayName = "Plant.Area1.Line1.Temperature";
    item.history.enabled = true;
    item.history.capacity = kSamples;
    for (int i = 0; i < kSamples; ++i) {
        item.history.AddSample(clDateTime{2026, 1, 1, 0, i / 60 % 60, i % 60, i % 1000},
                               20.0 + i * 0.125, 0xC0, true);
    }
}

// Baseline: the samples copied under the lock, no texts.
void BM_CopyUnderLock(benchmark::State& state) {
    clBaseOPCItem item;
    FillHistory(item);
    for (auto _ : state) {
        std::vector<clHistorical> copy;
        copy.reserve(item.history.GetCount());
        item.history.ForEach([&copy](const clHistorical& s) { copy.push_back(s); });
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CopyUnderLock)->Unit(benchmark::kMicrosecond);

// From opening the dialog until the first batch of rows is stored on this thread.
void BM_DialogFirstRows(benchmark::State& state) {
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    clBaseOPCItem item;
    FillHistory(item);
    for (auto _ : state) {
        CHistoryDlg dlg(item, nullptr);
        dlg.OnInitDialog();
        while (dlg.BatchesStored() == 0) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(1));
        }
        state.PauseTiming();
        while (dlg.IsBusy()) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(1));
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DialogFirstRows)->Unit(benchmark::kMicrosecond);

// From opening the dialog until the whole list is stored on this thread.
void BM_DialogFullList(benchmark::State& state) {
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    clBaseOPCItem item;
    FillHistory(item);
    for (auto _ : state) {
        CHistoryDlg dlg(item, nullptr);
        dlg.OnInitDialog();
        while (dlg.IsBusy()) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(1));
        }
        benchmark::DoNotOptimize(dlg.Rows().data());
    }
}
BENCHMARK(BM_DialogFullList)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
