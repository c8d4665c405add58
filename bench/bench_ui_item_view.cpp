// The item view with a group of 100,000 items, beside a plain QStandardItemModel in a
// QTableView given the same texts. Offscreen, each view shown at the same size, so painting the
// visible rows is part of every figure.
//
//   list      hint 8 lists the group into the grid (the seven texts of every item record, read
//             only, row data in column 0), then the view paints. The baseline reads the same
//             seven texts of every record into QStandardItems, then shows the model.
//   refresh   the share of one core the process uses while every item record takes a new
//             value, quality and timestamp and hint 10 refreshes the listed rows, 10 times a
//             second with the event loop running: /1 with the view listing the group, /0 the
//             same record changes with no view (what the changes cost by themselves). Measured
//             as the process's CPU time over 3 s of wall-clock time. /2 and /3 change one item
//             in ten.
//
// The last lines print the listing beside its baseline.

#include <benchmark/benchmark.h>

#include <ctime>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>

#include "com/variant.h"
#include "document/doc.h"
#include "framework/hints.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "ui/item_view.h"

namespace {

constexpr int kItems = 100'000;
constexpr const char* kKeys[] = {"name",    "access",    "type", "value",
                                 "quality", "timestamp", "state"};

void Show(QWidget& widget) {
    widget.resize(900, 860);
    widget.show();
    QApplication::processEvents();
}

// A document holding one group of kItems numeric item records, selected as the tree selects it.
class LoadedDocument {
  public:
    LoadedDocument() : doc(CDoc::LoadMode::recordsOnly) {
        doc.OnNewDocument();
        group.name = "Load";
        // Made in name order and inserted from the last name on, so that each sorted insertion
        // stops at the head at once.
        for (int i = kItems - 1; i >= 0; --i) {
            char name[48];
            std::snprintf(name, sizeof name, "Plant.Area%02d.Load.Item%06d", i % 20, i);
            auto item = std::make_unique<clBaseOPCItem>();
            item->id = i + 1;
            item->displayName = name;
            item->opcItemId = name;
            item->canonicalType = VT_R8;
            item->requestedType = VT_R8;
            item->accessRights = 3;
            item->active = 1;
            item->state = clBaseOPCItem::stateValid;
            item->value = i * 0.25;
            item->quality = 0xC0;
            item->timestamp.SetDateTime(2024, 5, 1, 12, i % 60, (i / 60) % 60, i % 1000);
            group.InsertItemSorted(std::move(item));
        }
        doc.groupSelected = true;
        doc.currentGroup = &group;
    }
    ~LoadedDocument() { doc.ClearSelection(); }

    // Every step-th record takes a new value, quality and timestamp, as a delivery would.
    void Change(int step) {
        ++tick_;
        const auto& items = group.Items();
        for (std::size_t i = static_cast<std::size_t>(tick_ % step); i < items.size();
             i += static_cast<std::size_t>(step)) {
            clBaseOPCItem& item = *items[i];
            item.value += 0.5;
            item.quality = (tick_ % 2 == 0) ? 0xC0 : 0x40;
            item.timestamp.SetDateTime(2024, 5, 1, 13, tick_ % 60, static_cast<int>(i % 60),
                                       static_cast<int>((tick_ * 7 + i) % 1000));
        }
    }

    CDoc doc;
    clBaseOPCGroup group;

  private:
    int tick_ = 0;
};

LoadedDocument& Loaded() {
    static LoadedDocument loaded;
    return loaded;
}

void BM_ItemViewListGroup(benchmark::State& state) {
    LoadedDocument& loaded = Loaded();
    CItemView view;
    loaded.doc.AddView(&view);
    Show(view);
    view.GetGrid().SetMode(CItemGrid::ItemList);
    for (auto _ : state) {
        loaded.doc.UpdateAllViews(nullptr, kHintListGroupItems, &loaded.group);
        QApplication::processEvents();
    }
    if (view.GetGrid().GetRowCount() != kItems) {
        state.SkipWithError("the group was not listed");
    }
    loaded.doc.RemoveView(&view);
    state.counters["rows"] = kItems;
}

void BM_StandardItemModelListGroup(benchmark::State& state) {
    const LoadedDocument& loaded = Loaded();
    QTableView view;
    Show(view);
    for (auto _ : state) {
        // Filled before the view sees it: attached, every item would be told to the view one
        // by one.
        QStandardItemModel model(kItems, static_cast<int>(std::size(kKeys)));
        int row = 0;
        for (const auto& item : loaded.group.Items()) {
            for (int column = 0; column < static_cast<int>(std::size(kKeys)); ++column) {
                const std::string text = item->GetPropertyText(kKeys[column]);
                auto cell = std::make_unique<QStandardItem>(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
                cell->setEditable(false);
                model.setItem(row, column, cell.release());  // the model owns its items
            }
            ++row;
        }
        view.setModel(&model);
        QApplication::processEvents();
        view.setModel(nullptr);
    }
    state.counters["rows"] = kItems;
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Arg: 0 records only, 1 with the view; +2 changes one item in ten instead of all.
void BM_ItemViewRefreshCpuShare(benchmark::State& state) {
    const bool withView = (state.range(0) & 1) != 0;
    const int step = (state.range(0) & 2) != 0 ? 10 : 1;
    LoadedDocument& loaded = Loaded();
    CItemView view;
    if (withView) {
        loaded.doc.AddView(&view);
        Show(view);
        view.GetGrid().SetMode(CItemGrid::ItemList);
        loaded.doc.UpdateAllViews(nullptr, kHintListGroupItems, &loaded.group);
        QApplication::processEvents();
    }
    double share = 0.0;
    int refreshes = 0;
    for (auto _ : state) {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            loaded.Change(step);
            loaded.doc.NotifyValuesChanged();
            ++refreshes;
        });
        timer.start(100);
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        QElapsedTimer wall;
        const double cpuStart = ProcessCpuSeconds();
        wall.start();
        loop.exec();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        share = 100.0 * cpu / (static_cast<double>(wall.nsecsElapsed()) * 1e-9);
        timer.stop();
    }
    if (withView) {
        loaded.doc.RemoveView(&view);
    }
    state.counters["core_pct"] = share;
    state.counters["refreshes"] = refreshes;
}

BENCHMARK(BM_ItemViewListGroup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StandardItemModelListGroup)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ItemViewRefreshCpuShare)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Prints the console report and keeps each benchmark's real time per iteration for the closing
// comparison with its baseline.
class ShareReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }
    void PrintShares() const {
        const auto list = times_.find("BM_ItemViewListGroup");
        const auto base = times_.find("BM_StandardItemModelListGroup");
        if (list != times_.end() && base != times_.end() && base->second > 0) {
            std::printf("\nlisting 100,000 items: %.1f ms, baseline %.1f ms (%.1f%%)\n",
                        list->second, base->second, 100.0 * list->second / base->second);
        }
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintShares();
    benchmark::Shutdown();
    return 0;
}
