#include "ui/item_grid.h"

#include <array>

#include "document/doc.h"
#include "document/item_commands.h"
#include "framework/format.h"
#include "framework/hints.h"
#include "framework/ui_services.h"
#include "model/columns.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "ui/item_view.h"

namespace {

constexpr std::array<CItemGrid::Column, 3> kGroupColumns{{
    {"Group Name", 200},
    {"Update Rate", 120},
    {"Active", 90},
}};
constexpr std::array<CItemGrid::Column, 7> kItemColumns{{
    {"Tag Name", 200},
    {"Access", 70},
    {"Type", 100},
    {"Value", 120},
    {"Quality", 80},
    {"Timestamp", 140},
    {"State", 90},
}};
constexpr std::array<CItemGrid::Column, 5> kHistoryColumns{{
    {"No.", 70},
    {"Timestamp", 150},
    {"Value", 80},
    {"Quality", 80},
    {"Remark", 230},
}};
constexpr std::array<CItemGrid::Column, 1> kBrowseColumns{{
    {"Tag Name", 390},
}};

constexpr int kRemarkColumn = 4;

QFont MakeFont(int weight) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

}  // namespace

void IItemGridOwner::OnRemarkEdited(CItemGrid& /*grid*/, int /*row*/, const std::string& /*text*/) {
}

void IItemGridOwner::OnTagDoubleClicked(CItemGrid& /*grid*/, int /*row*/) {}

CItemGrid::CItemGrid(QWidget* parent) : CDataGrid(parent) {}

CItemGrid::~CItemGrid() = default;

std::span<const CItemGrid::Column> CItemGrid::ModeColumns(int mode) {
    switch (mode) {
        case GroupList:
            return kGroupColumns;
        case ItemList:
            return kItemColumns;
        case HistoryList:
            return kHistoryColumns;
        case BrowseTagList:
            return kBrowseColumns;
        default:
            return {};
    }
}

CDoc* CItemGrid::GetDocument() const {
    if (doc_ != nullptr) {
        return doc_;
    }
    const CItemView* const view = CItemView::Current();
    return view != nullptr ? view->GetDoc() : nullptr;
}

void CItemGrid::SetMode(int mode) {
    mode_ = mode;
    SetRowCount(0, FALSE);
    const std::span<const Column> columns = ModeColumns(mode);
    if (!columns.empty()) {
        SetColumnCount(static_cast<int>(columns.size()), FALSE);
        const CDoc* const doc = mode != BrowseTagList ? GetDocument() : nullptr;
        const clColumn* const set = doc != nullptr ? doc->columns.FindByKind(mode) : nullptr;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            int width = columns[i].width;
            if (set != nullptr && i < clColumn::kWidthCount) {
                const std::int32_t stored = set->widths[i];
                // A width the grid cannot show (a damaged or hand-made file) would hide the
                // column for good; the default keeps it reachable.
                if (stored > 0 && stored <= GRID_MAX_SIZE) {
                    width = stored;
                }
            }
            SetColumnWidth(static_cast<int>(i), width);
            SetCellText(static_cast<int>(i), -1, columns[i].title);
        }
    }
    RepaintAll();
}

int CItemGrid::SetReadOnlyText(int column, int row, std::string_view text) {
    // A write keeps the properties the record leaves unset, so the cell's others stay; one
    // write also keeps a filler on another thread from interleaving with the grid's own.
    CGridCell cell;
    cell.SetText(text);
    cell.SetNoEdit(true);
    return WriteCell(column, row, &cell);
}

int CItemGrid::SetPlainText(int column, int row, std::string_view text) {
    return SetCellText(column, row, text);
}

int CItemGrid::SetRowData(int row, void* data) {
    if (row < 0) {
        return GRID_REFUSED;
    }
    CGridCell cell;
    cell.SetData(data);
    return WriteCell(0, row, &cell);
}

void* CItemGrid::GetRowData(int row) const {
    if (row < 0) {
        return nullptr;
    }
    CGridCell cell;
    if (ReadCell(0, row, &cell) != GRID_OK) {
        return nullptr;
    }
    return cell.GetData();
}

clBaseOPCItem* CItemGrid::ListedItem(int row) const {
    if (mode_ != ItemList || row < 0) {
        return nullptr;
    }
    const CDoc* const doc = GetDocument();
    if (doc == nullptr || doc->currentGroup == nullptr) {
        return nullptr;
    }
    // The row's pointer is compared before it is used: a record removed since the listing is
    // never read through a row that still names it.
    const auto& items = doc->currentGroup->Items();
    const void* const data = GetRowData(row);
    if (data == nullptr || static_cast<std::size_t>(row) >= items.size() ||
        items[static_cast<std::size_t>(row)].get() != data) {
        return nullptr;
    }
    return items[static_cast<std::size_t>(row)].get();
}

// --- Hooks ---

void CItemGrid::OnGridSetUp() {
    cellFont_ = MakeFont(kCellFontWeight);
    headerFont_ = MakeFont(600);
    EnablePopup(TRUE);
    SetRowHeaderWidth(0);
    SetRowCount(0, FALSE);
    SetDoubleBuffering(TRUE);
    SetColumnSizingMode(GRID_SIZING_LIVE);
    CGridCell format;
    ReadDefaultFormat(&format);
    format.SetFont(headerFont_);
    WriteDefaultFormat(&format);
    SetGridFont(&cellFont_);
    SetThumbTrackMode(1);
    SetEditorAutoGrow(FALSE);
    EnableMultiSelect(TRUE);
}

void CItemGrid::OnGridInitialized() {
    SetMode(GroupList);
}

void CItemGrid::OnColumnWidthChanged(int column, int width) {
    CDoc* const doc = GetDocument();
    if (doc == nullptr || column < 0 || static_cast<std::size_t>(column) >= clColumn::kWidthCount) {
        return;
    }
    std::int32_t kind = 0;
    if (doc->serverSelected) {
        kind = clColumn::kGroupList;
    } else if (doc->groupSelected && (mode_ == ItemList || mode_ == HistoryList)) {
        kind = mode_;
    } else {
        return;
    }
    if (clColumn* const set = doc->columns.FindByKind(kind)) {
        set->widths[static_cast<std::size_t>(column)] = width;
    }
}

void CItemGrid::OnDoubleClick(int column, int row, const QRect& /*cellRect*/,
                              const QPoint& /*point*/, BOOL /*processed*/) {
    if (mode_ == BrowseTagList && row >= 0 && owner_ != nullptr) {
        owner_->OnTagDoubleClicked(*this, row);
        return;
    }
    CGridCell cell;
    if (ReadCell(column, row, &cell) == GRID_OK && cell.GetCellTypeIndex() == 0) {
        BeginCellEdit();
    }
}

int CItemGrid::OnEditClosed(int column, int row, QWidget* /*editor*/, const std::string& text,
                            BOOL cancelled) {
    if (!cancelled && mode_ == HistoryList && column == kRemarkColumn && row >= 0 &&
        owner_ != nullptr) {
        owner_->OnRemarkEdited(*this, row, text);
    }
    return 1;
}

int CItemGrid::OnPopupOpening(int column, int row, int spot) {
    ClearPopup();
    CDoc* const doc = GetDocument();
    if (spot != GRID_SPOT_CELLS || column < 0 || row < 0 || doc == nullptr || !doc->groupSelected ||
        mode_ != ItemList) {
        return 1;
    }
    clBaseOPCItem* const item = ListedItem(row);
    if (item == nullptr) {
        return 1;
    }
    doc->currentItem = item;
    AppendPopupItem(kCmdWrite, "Write");
    AppendPopupItem(GRID_POPUP_SEPARATOR, {});
    AppendPopupItem(kCmdDelete, "Delete");
    AppendPopupItem(GRID_POPUP_SEPARATOR, {});
    AppendPopupItem(kCmdProperties, "Properties");
    return 1;
}

void CItemGrid::OnPopupCommand(int /*column*/, int /*row*/, int /*spot*/, UINT id) {
    CDoc* const doc = GetDocument();
    if (doc == nullptr || !doc->groupSelected || doc->currentGroup == nullptr ||
        doc->currentItem == nullptr) {
        return;
    }
    switch (id) {
        case kCmdWrite:
            OnItemWrite(*doc);
            break;
        case kCmdDelete:
            DeleteCurrentItem(*doc);
            break;
        case kCmdProperties:
            OnItemProperties(*doc);
            break;
        default:
            break;
    }
}

void CItemGrid::DeleteCurrentItem(CDoc& doc) {
    clBaseOPCGroup* const group = doc.currentGroup;
    clBaseOPCItem* const item = doc.currentItem;
    if (AfxMessageBox(Format("Delete '%s' ?", item->displayName.c_str()), MB_YESNO) != IDYES) {
        return;
    }
    // The box ran the event loop; act only on the selection it was asked for.
    if (doc.currentGroup != group || doc.currentItem != item) {
        return;
    }
    if (COPCGroup* const live = group->liveGroup) {
        if (COPCItem* const liveItem = live->FindItem(item->id)) {
            live->RemoveItem(liveItem);
        }
    }
    group->RemoveItem(item);
    doc.currentItem = nullptr;
    // The configuration lost an item: closing must offer to save it.
    doc.SetModifiedFlag();
    doc.UpdateAllViews(nullptr, kHintListGroupItems, group);
}
