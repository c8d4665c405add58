// Filling and refreshing a large grid, beside a plain QStandardItemModel doing the same in the
// same run. Offscreen, with a real view of each shown at the same size so that painting the
// visible rows is part of every figure.
//
//   fill      100,000 rows of 7 text columns (the item list's layout) into an empty grid, then
//             one repaint: /0 with SetCellText, /1 as the item view fills its rows (each cell
//             read, given its text and the read-only mark, and written back; row data in
//             column 0). The baseline fills a QStandardItemModel with one QStandardItem per
//             cell before showing it in a QTableView (filling it while shown is far slower).
//   refresh   new texts in 3 of the 7 columns of every one of the 100,000 rows with the view
//             showing about 40 rows, then one repaint: /0 as the item view refreshes live
//             values (read-only filler, then RepaintAll), /1 with SetCellText and
//             RefreshColumns. The baseline sets the texts of the QStandardItems.
//
// The last lines print each grid figure as a share of its baseline.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>

#include "grid/data_grid.h"

namespace {

constexpr int kRows = 100'000;
constexpr int kColumns = 7;
constexpr int kRefreshed[] = {3, 4, 5};
constexpr int kVisibleRows = 40;

// The texts of a listed item: name, access, type, value, quality, timestamp, state.
const std::vector<std::string>& Texts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> all;
        all.reserve(static_cast<std::size_t>(kRows) * kColumns);
        char buffer[64];
        for (int row = 0; row < kRows; ++row) {
            std::snprintf(buffer, sizeof buffer, "Plant1.Area%02d.Unit%03d.Temp-%05d", row % 10,
                          row % 1000, row);
            all.emplace_back(buffer);
            all.emplace_back(row % 3 == 0 ? "Read" : "Read/Write");
            all.emplace_back("VT_R8");
            std::snprintf(buffer, sizeof buffer, "%d.%03d", row % 5000, row % 1000);
            all.emplace_back(buffer);
            all.emplace_back("Good");
            std::snprintf(buffer, sizeof buffer, "2024-05-01 12:%02d:%02d.%03d", row % 60,
                          (row / 60) % 60, row % 1000);
            all.emplace_back(buffer);
            all.emplace_back("Valid");
        }
        return all;
    }();
    return texts;
}

const std::string& Text(int row, int column) {
    return Texts()[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)];
}

// A second set of values for the refreshed columns, so that every refresh changes the text.
const std::vector<std::string>& NewValues() {
    static const std::vector<std::string> values = [] {
        std::vector<std::string> all;
        char buffer[64];
        for (int row = 0; row < kRows; ++row) {
            std::snprintf(buffer, sizeof buffer, "%d.%03d", (row * 7) % 5000, row % 1000);
            all.emplace_back(buffer);
        }
        return all;
    }();
    return values;
}

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Show(QWidget& widget) {
    widget.resize(900, GRID_DEFAULT_HEADER_HEIGHT + kVisibleRows * GRID_DEFAULT_ROW_HEIGHT + 20);
    widget.show();
    QApplication::processEvents();
}

void SetReadOnlyText(CDataGrid& grid, int column, int row, const std::string& text) {
    CGridCell cell;
    grid.ReadCell(column, row, &cell);
    cell.SetText(text);
    cell.SetNoEdit(true);
    grid.WriteCell(column, row, &cell);
}

void BM_GridFill(benchmark::State& state) {
    const bool asItemView = state.range(0) == 1;
    Texts();
    CDataGrid grid;
    grid.SetColumnCount(kColumns);
    Show(grid);
    std::vector<int> objects(kRows);  // stand-ins for the item records
    for (auto _ : state) {
        grid.SetRowCount(0);
        grid.SetRowCount(kRows, FALSE);
        for (int row = 0; row < kRows; ++row) {
            for (int column = 0; column < kColumns; ++column) {
                if (asItemView) {
                    SetReadOnlyText(grid, column, row, Text(row, column));
                } else {
                    grid.SetCellText(column, row, Text(row, column));
                }
            }
            if (asItemView) {
                CGridCell cell;
                grid.ReadCell(0, row, &cell);
                cell.SetData(&objects[static_cast<std::size_t>(row)]);
                grid.WriteCell(0, row, &cell);
            }
        }
        grid.RepaintAll();
        QApplication::processEvents();
    }
    state.counters["rows"] = kRows;
}

void BM_StandardItemModelFill(benchmark::State& state) {
    Texts();
    QTableView view;
    Show(view);
    for (auto _ : state) {
        // Filled before the view sees it: attached, every item would be told to the view one
        // by one, which takes minutes at this size.
        QStandardItemModel model(kRows, kColumns);
        for (int row = 0; row < kRows; ++row) {
            for (int column = 0; column < kColumns; ++column) {
                // The model takes ownership of its items.
                model.setItem(
                    row, column,
                    std::make_unique<QStandardItem>(ToQString(Text(row, column))).release());
            }
        }
        view.setModel(&model);
        QApplication::processEvents();
        view.setModel(nullptr);
    }
    state.counters["rows"] = kRows;
}

void BM_GridRefresh3Columns(benchmark::State& state) {
    const bool asItemView = state.range(0) == 0;
    CDataGrid grid;
    grid.SetColumnCount(kColumns);
    grid.SetRowCount(kRows);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            SetReadOnlyText(grid, column, row, Text(row, column));
        }
    }
    Show(grid);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        for (int row = 0; row < kRows; ++row) {
            const std::string& value =
                flip ? NewValues()[static_cast<std::size_t>(row)] : Text(row, kRefreshed[0]);
            for (const int column : kRefreshed) {
                const std::string& text = column == kRefreshed[0] ? value : Text(row, column);
                if (asItemView) {
                    SetReadOnlyText(grid, column, row, text);
                } else {
                    grid.SetCellText(column, row, text);
                }
            }
        }
        if (asItemView) {
            grid.RepaintAll();
        } else {
            grid.RefreshColumns({3, 4, 5});
        }
        QApplication::processEvents();
    }
    state.counters["rows"] = kRows;
}

void BM_StandardItemModelRefresh3Columns(benchmark::State& state) {
    QStandardItemModel model(kRows, kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            model.setItem(row, column,
                          std::make_unique<QStandardItem>(ToQString(Text(row, column))).release());
        }
    }
    QTableView view;
    view.setModel(&model);
    Show(view);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        for (int row = 0; row < kRows; ++row) {
            const std::string& value =
                flip ? NewValues()[static_cast<std::size_t>(row)] : Text(row, kRefreshed[0]);
            for (const int column : kRefreshed) {
                const std::string& text = column == kRefreshed[0] ? value : Text(row, column);
                model.item(row, column)->setText(ToQString(text));
            }
        }
        QApplication::processEvents();
    }
    state.counters["rows"] = kRows;
}

BENCHMARK(BM_GridFill)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StandardItemModelFill)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GridRefresh3Columns)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StandardItemModelRefresh3Columns)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the console report and keeps each benchmark's real time per iteration for the closing
// comparison with its baseline.
class ShareReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            const std::string& args = run.run_name.args;
            times_[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
                run.GetAdjustedRealTime();
        }
    }

    void PrintShares() const {
        std::printf("\n%-36s %10s %10s\n", "", "ms", "share");
        Print("BM_GridFill/0", "BM_StandardItemModelFill");
        Print("BM_GridFill/1", "BM_StandardItemModelFill");
        Print("BM_StandardItemModelFill", "BM_StandardItemModelFill");
        Print("BM_GridRefresh3Columns/0", "BM_StandardItemModelRefresh3Columns");
        Print("BM_GridRefresh3Columns/1", "BM_StandardItemModelRefresh3Columns");
        Print("BM_StandardItemModelRefresh3Columns", "BM_StandardItemModelRefresh3Columns");
    }

  private:
    void Print(const std::string& name, const std::string& baseline) const {
        const auto time = times_.find(name);
        const auto base = times_.find(baseline);
        if (time == times_.end() || base == times_.end() || base->second <= 0) {
            return;
        }
        std::printf("%-36s %10.1f %9.1f%%\n", name.c_str(), time->second,
                    100.0 * time->second / base->second);
    }

    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
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
