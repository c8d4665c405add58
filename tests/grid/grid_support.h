#pragma once
// A grid that records its hooks, and helpers that drive a shown grid with the mouse.

#include <string>
#include <vector>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>

#include "grid/data_grid.h"

class RecordingGrid : public CDataGrid {
  public:
    struct PopupCall {
        int column;
        int row;
        int spot;
        UINT id;  // 0 for OnPopupOpening
    };
    struct EditCall {
        int column;
        int row;
        std::string text;
        BOOL cancelled;
    };
    struct DoubleClick {
        int column;
        int row;
        QRect cellRect;
        BOOL processed;
    };

    std::vector<std::string> calls;  // hook names in call order
    std::vector<std::pair<int, int>> widthChanges;
    std::vector<PopupCall> opening;
    std::vector<PopupCall> commands;
    std::vector<EditCall> edits;
    std::vector<DoubleClick> doubleClicks;
    bool visibleAtSetUp = true;
    int openingResult = 1;
    int editResult = 1;
    bool editOnDoubleClick = false;
    // Entries OnPopupOpening puts into the menu: (id, text).
    std::vector<std::pair<UINT, std::string>> menu;

    using CDataGrid::CDataGrid;

  protected:
    void OnGridSetUp() override {
        calls.push_back("OnGridSetUp");
        visibleAtSetUp = isVisible();
    }
    void OnGridInitialized() override { calls.push_back("OnGridInitialized"); }
    void OnColumnWidthChanged(int column, int width) override {
        widthChanges.emplace_back(column, width);
    }
    void OnDoubleClick(int column, int row, const QRect& cellRect, const QPoint&,
                       BOOL processed) override {
        doubleClicks.push_back({column, row, cellRect, processed});
        if (editOnDoubleClick) {
            BeginCellEdit();
        }
    }
    int OnEditClosed(int column, int row, QWidget*, const std::string& text,
                     BOOL cancelled) override {
        edits.push_back({column, row, text, cancelled});
        return editResult;
    }
    void OnPopupCommand(int column, int row, int spot, UINT id) override {
        commands.push_back({column, row, spot, id});
    }
    int OnPopupOpening(int column, int row, int spot) override {
        opening.push_back({column, row, spot, 0});
        ClearPopup();
        for (const auto& [id, text] : menu) {
            AppendPopupItem(id, text);
        }
        return openingResult;
    }
};

// Shows the grid as a top-level window of the given size and waits until it is exposed.
inline void ShowGrid(CDataGrid& grid, int width = 600, int height = 400) {
    grid.resize(width, height);
    grid.show();
    (void)QTest::qWaitForWindowExposed(&grid);
    QApplication::processEvents();
}

inline QPoint CellCenter(const CDataGrid& grid, int column, int row) {
    QTableView* view = grid.GetTableView();
    return view->visualRect(view->model()->index(row, column)).center();
}

// A right click at pos on target (the cell area's viewport or a header's viewport).
inline void RightClick(QWidget* target, const QPoint& pos) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
    QApplication::processEvents();
}

// The popup menu the grid is showing, or null.
inline QMenu* VisiblePopup(const CDataGrid& grid) {
    for (QMenu* menu : grid.findChildren<QMenu*>()) {
        if (menu->isVisible()) {
            return menu;
        }
    }
    return nullptr;
}
