#include "ui/item_view.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include <QEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTableView>

#include "document/doc.h"
#include "framework/commands.h"
#include "framework/hints.h"
#include "framework/ui_services.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"

namespace {

CItemView* g_currentItemView = nullptr;

// The item columns and the record texts they show.
constexpr const char* kItemKeys[] = {"name",    "access",    "type", "value",
                                     "quality", "timestamp", "state"};
constexpr int kValueColumn = 3;
constexpr int kQualityColumn = 4;
constexpr int kTimestampColumn = 5;

// A cell record that sets text and the read-only mark and leaves the cell's other properties.
CGridCell ReadOnlyCell(std::string text) {
    CGridCell cell;
    cell.SetText(text);
    cell.SetNoEdit(true);
    return cell;
}

}  // namespace

CItemView::CItemView(QWidget* parent) : QWidget(parent) {
    g_currentItemView = this;
    grid_.CreateGridWindow(WS_CHILD | WS_VISIBLE, QRect(), this, CItemGrid::kControlId);
    QTableView* const table = grid_.GetTableView();
    table->viewport()->installEventFilter(this);
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { RefreshRowsInSight(); });
}

CItemView::~CItemView() {
    // The grid goes before this view's QWidget part; its scrolling must not call back into it.
    QTableView* const table = grid_.GetTableView();
    table->viewport()->removeEventFilter(this);
    table->verticalScrollBar()->disconnect(this);
    if (g_currentItemView == this) {
        g_currentItemView = nullptr;
    }
}

CItemView* CItemView::Current() {
    return g_currentItemView;
}

CDoc* CItemView::GetDoc() const {
    return dynamic_cast<CDoc*>(GetDocument());
}

void CItemView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    grid_.setGeometry(0, 0, event->size().width(), event->size().height());
    grid_.update();
}

void CItemView::OnUpdate(CView* /*sender*/, int hint, void* object) {
    switch (hint) {
        case kHintNewDocument:
        case kHintServerDeleted:
            rowRefreshNumber_.clear();
            grid_.SetRowCount(0);
            break;
        case kHintServerSelected:
            ListGroups();
            break;
        case kHintGroupAdded:
            AppendGroup(static_cast<clBaseOPCGroup*>(object));
            break;
        case kHintListGroupItems:
            ListItems(static_cast<clBaseOPCGroup*>(object));
            break;
        case kHintValuesChanged:
            RefreshValues();
            break;
        case kHintItemRelabelled:
            RelabelItem(static_cast<clBaseOPCItem*>(object));
            break;
        default:
            break;
    }
}

void CItemView::ListGroups() {
    rowRefreshNumber_.clear();
    grid_.SetRowCount(0, FALSE);
    const CDoc* const doc = GetDoc();
    if (doc != nullptr && doc->currentServer != nullptr) {
        int row = 0;
        for (const auto& group : doc->currentServer->Groups()) {
            grid_.InsertBlankRow(row);
            grid_.SetReadOnlyText(0, row, group->GetPropertyText("name"));
            grid_.SetReadOnlyText(1, row, group->GetPropertyText("update_rate"));
            grid_.SetReadOnlyText(2, row, group->GetPropertyText("active"));
            grid_.SetRowData(row, group.get());
            ++row;
        }
    }
    grid_.RepaintAll();
}

void CItemView::AppendGroup(clBaseOPCGroup* group) {
    if (group == nullptr) {
        return;
    }
    const int row = grid_.GetRowCount();
    if (grid_.InsertBlankRow(row) != GRID_OK) {
        return;
    }
    // Read-only like a listed group row: an in-place edit here would change only the shown
    // text and look like a rename that never happens.
    grid_.SetReadOnlyText(0, row, group->GetPropertyText("name"));
    grid_.SetReadOnlyText(1, row, group->GetPropertyText("update_rate"));
    grid_.SetReadOnlyText(2, row, group->GetPropertyText("active"));
    grid_.SetRowData(row, group);
    grid_.RepaintAll();
}

void CItemView::ListItems(clBaseOPCGroup* group) {
    rowRefreshNumber_.clear();
    grid_.SetRowCount(0, FALSE);
    if (group == nullptr) {
        grid_.RepaintAll();
        return;
    }
    const auto& items = group->Items();
    if (grid_.SetRowCount(static_cast<int>(items.size()), FALSE) != GRID_OK) {
        grid_.RepaintAll();
        return;
    }
    // The rows are new and blank, so each cell takes a whole record at once: text, read-only
    // mark and, in column 0, the row's data. Nothing is told to the view until RepaintAll.
    const int columns =
        std::min<int>(grid_.GetColumnCount(), static_cast<int>(std::size(kItemKeys)));
    rowRefreshNumber_.assign(items.size(), refreshNumber_);
    int row = 0;
    for (const auto& item : items) {
        item->gridRow = row;
        for (int column = 0; column < columns; ++column) {
            CGridCell cell = ReadOnlyCell(item->GetPropertyText(kItemKeys[column]));
            if (column == 0) {
                cell.SetData(item.get());
            }
            grid_.WriteCell(column, row, &cell);
        }
        ++row;
    }
    grid_.RepaintAll();
}

void CItemView::RefreshValues() {
    if (grid_.GetMode() != CItemGrid::ItemList) {
        return;
    }
    // Only the rows in sight are rewritten now; the others are marked behind and catch up as
    // they are scrolled into sight, before they are painted. A refresh then costs what the
    // window shows, not what the group holds, while every row shown carries the values of the
    // last refresh.
    ++refreshNumber_;
    RefreshRowsInSight();
    grid_.RepaintAll();
}

void CItemView::RefreshRowsInSight() {
    if (grid_.GetMode() != CItemGrid::ItemList || rowRefreshNumber_.empty()) {
        return;
    }
    const QTableView* const table = grid_.GetTableView();
    const int rows = std::min(grid_.GetRowCount(), static_cast<int>(rowRefreshNumber_.size()));
    if (rows == 0 || table == nullptr) {
        return;
    }
    int first = table->rowAt(0);
    int last = table->rowAt(table->viewport()->height() - 1);
    if (first < 0) {
        first = 0;
    }
    if (last < 0 || last >= rows) {
        last = rows - 1;
    }
    for (int row = first; row <= last; ++row) {
        if (rowRefreshNumber_[static_cast<std::size_t>(row)] != refreshNumber_) {
            RefreshRow(row);
        }
    }
}

void CItemView::RefreshRow(int row) {
    rowRefreshNumber_[static_cast<std::size_t>(row)] = refreshNumber_;
    // Skips rows without data and rows whose record left the group (a refresh that runs while a
    // delete waits for its server).
    const clBaseOPCItem* const item = grid_.ListedItem(row);
    if (item == nullptr) {
        return;
    }
    const CGridCell value = ReadOnlyCell(item->GetPropertyText("value"));
    const CGridCell quality = ReadOnlyCell(item->GetPropertyText("quality"));
    const CGridCell timestamp = ReadOnlyCell(item->GetPropertyText("timestamp"));
    grid_.WriteCell(kValueColumn, row, &value);
    grid_.WriteCell(kQualityColumn, row, &quality);
    grid_.WriteCell(kTimestampColumn, row, &timestamp);
}

bool CItemView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched == grid_.GetTableView()->viewport()) {
        RefreshRowsInSight();
    }
    return QWidget::eventFilter(watched, event);
}

void CItemView::RelabelItem(clBaseOPCItem* item) {
    if (item == nullptr || grid_.GetMode() != CItemGrid::ItemList) {
        return;
    }
    const int row = item->gridRow;
    // Only a row that still shows this record; a stale grid row must not rename another item.
    if (grid_.ListedItem(row) != item) {
        return;
    }
    grid_.SetPlainText(0, row, item->GetPropertyText("name"));
    grid_.RepaintAll();
}

bool CItemView::OnCmdMsg(UINT id) {
    if (id == ID_TAG_DELETE) {
        DeleteSelectedItems();
        return true;
    }
    return CView::OnCmdMsg(id);
}

std::optional<bool> CItemView::IsCommandEnabled(UINT id) const {
    if (id == ID_TAG_DELETE) {
        return std::nullopt;  // the document enables it while a group is selected
    }
    return CView::IsCommandEnabled(id);
}

void CItemView::DeleteSelectedItems() {
    CDoc* const doc = GetDoc();
    if (doc == nullptr || !doc->groupSelected || doc->currentGroup == nullptr) {
        return;
    }
    if (AfxMessageBox("Delete selected opc items ?", MB_YESNO) != IDYES) {
        return;
    }
    clBaseOPCGroup* const group = doc->currentGroup;
    if (!doc->groupSelected || group == nullptr) {
        return;  // the selection went while the question was open
    }
    // The records are taken first: removing a live item calls its server, and the data changes
    // that arrive meanwhile refresh the rows.
    std::vector<std::pair<clBaseOPCItem*, std::int32_t>> doomed;
    const int rows = grid_.GetRowCount();
    for (int row = 0; row < rows; ++row) {
        if (grid_.IsRowSelected(row)) {
            if (clBaseOPCItem* const item = grid_.ListedItem(row)) {
                doomed.emplace_back(item, item->id);
            }
        }
    }
    for (const auto& [item, id] : doomed) {
        if (COPCGroup* const live = group->liveGroup) {
            if (COPCItem* const liveItem = live->FindItem(id)) {
                live->RemoveItem(liveItem);
            }
        }
        if (doc->currentItem == item) {
            doc->currentItem = nullptr;
        }
        group->RemoveItem(item);
    }
    doc->SetModifiedFlag();
    doc->UpdateAllViews(nullptr, kHintListGroupItems, group);
}
