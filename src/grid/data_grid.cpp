#include "grid/data_grid.h"

#include <algorithm>
#include <utility>

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QLayout>
#include <QMenu>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>

#include "grid/control_id.h"
#include "grid/grid_delegate.h"
#include "grid/grid_headers.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"

namespace {

// Sets a flag for the lifetime of a scope.
class FlagScope {
  public:
    explicit FlagScope(bool& flag) : flag_(flag), old_(std::exchange(flag, true)) {}
    ~FlagScope() { flag_ = old_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

  private:
    bool& flag_;
    bool old_;
};

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CDataGrid::CDataGrid(QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<CGridModel>()),
      delegate_(std::make_unique<CGridDelegate>()),
      view_(std::make_unique<CGridView>(*this, this)) {
    cellTypes_.push_back(std::make_unique<CNormalCellType>());

    // The view owns its headers once they are set.
    auto columnHeader = std::make_unique<CColumnHeaderView>(view_.get());
    auto rowHeader = std::make_unique<CRowHeaderView>(geometry_, view_.get());
    columnHeader_ = columnHeader.get();
    rowHeader_ = rowHeader.get();
    view_->setHorizontalHeader(columnHeader.release());
    view_->setVerticalHeader(rowHeader.release());

    for (QHeaderView* header :
         {static_cast<QHeaderView*>(columnHeader_), static_cast<QHeaderView*>(rowHeader_)}) {
        header->setMinimumSectionSize(0);
        header->setMaximumSectionSize(GRID_MAX_SIZE);
        header->setSectionsMovable(false);
        header->setStretchLastSection(false);
        header->setHighlightSections(false);
    }
    columnHeader_->setDefaultSectionSize(geometry_.DefaultColumnWidth());
    columnHeader_->setSectionResizeMode(QHeaderView::Interactive);
    rowHeader_->setDefaultSectionSize(geometry_.DefaultRowHeight());
    rowHeader_->setSectionResizeMode(QHeaderView::Fixed);

    view_->setModel(model_.get());
    view_->setItemDelegate(delegate_.get());
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionBehavior(QAbstractItemView::SelectItems);
    view_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    view_->setSortingEnabled(false);
    view_->setWordWrap(false);
    view_->verticalScrollBar()->setTracking(false);
    setFocusProxy(view_.get());

    // The tracking line drawn while the operator drags a column border (sizing mode 1).
    auto line = std::make_unique<QWidget>(view_->viewport());
    line->setObjectName(QStringLiteral("trackingLine"));
    line->setAutoFillBackground(true);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
    line->setPalette(palette);
    line->hide();
    trackingLine_ = line.release();  // owned by the viewport

    connect(columnHeader_, &QHeaderView::sectionResized, this,
            [this](int column, int, int newWidth) { HandleSectionResized(column, newWidth); });
    connect(columnHeader_, &CColumnHeaderView::dragFinished, trackingLine_, &QWidget::hide);

    // The selected rows are worked out again after any change of selection or shape.
    const auto stale = [this] { selectedRowsStale_ = true; };
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, stale);
    connect(model_.get(), &QAbstractItemModel::rowsInserted, this, stale);
    connect(model_.get(), &QAbstractItemModel::rowsRemoved, this, stale);
    connect(model_.get(), &QAbstractItemModel::columnsInserted, this, stale);
    connect(model_.get(), &QAbstractItemModel::columnsRemoved, this, stale);
    connect(model_.get(), &QAbstractItemModel::modelReset, this, stale);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    lastCurrentColumn_ = current.column();
                }
            });

    view_->viewport()->installEventFilter(this);
    columnHeader_->viewport()->installEventFilter(this);
    rowHeader_->viewport()->installEventFilter(this);
    if (auto* corner = view_->findChild<QAbstractButton*>()) {
        corner->installEventFilter(this);
    }

    ApplyHeaderRowHeight();
    ApplyRowHeader();
}

CDataGrid::~CDataGrid() = default;

// --- The window ---

int CDataGrid::CreateGridWindow(DWORD style, const QRect& rect, QWidget* parent, UINT id) {
    return OnGridThread([&] {
        if (hasWindow_ || ((style & WS_CHILD) != 0 && parent == nullptr)) {
            return GRID_REFUSED;
        }
        hasWindow_ = true;
        style_ = style;
        hide();
        setParent(parent);
        setGeometry(rect);
        SetControlId(*this, id);
        const Qt::FocusPolicy focus = (style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus;
        setFocusPolicy(focus);
        view_->setFocusPolicy(focus);
        OnGridSetUp();
        OnGridInitialized();
        RecalcLayout();
        if ((style & WS_VISIBLE) != 0) {
            show();
        }
        return GRID_OK;
    });
}

int CDataGrid::AttachToDialogControl(QWidget* dialog, UINT id) {
    return OnGridThread([&] {
        QWidget* control = dialog ? FindControl(*dialog, id) : nullptr;
        if (hasWindow_ || control == nullptr || control == this) {
            return GRID_REFUSED;
        }
        hasWindow_ = true;
        QWidget* parent = control->parentWidget();
        const bool visible = !control->isHidden();
        style_ = WS_CHILD | (visible ? WS_VISIBLE : 0) | WS_TABSTOP | WS_CLIPCHILDREN;
        hide();
        setParent(parent);
        setGeometry(control->geometry());
        // A control placed by a layout hands its place in the layout to the grid.
        if (parent && parent->layout()) {
            std::unique_ptr<QLayoutItem> old(parent->layout()->replaceWidget(control, this));
        }
        stackUnder(control);
        control->hide();
        ClearControlId(*control);
        SetControlId(*this, id);
        setFocusPolicy(Qt::StrongFocus);
        view_->setFocusPolicy(Qt::StrongFocus);

        const QFont font = dialog->font();
        QFont heavier = font;
        heavier.setWeight(static_cast<QFont::Weight>(std::min(font.weight() + 200, 900)));
        model_->SetGridFont(font);
        CGridCell format = model_->Store().DefaultFormat();
        format.SetFont(heavier);
        model_->SetDefaultFormat(format);

        OnGridSetUp();
        RecalcLayout();
        setVisible(visible);
        return GRID_OK;
    });
}

DWORD CDataGrid::GetStyle() const {
    return OnGridThread([&] { return style_; });
}

UINT CDataGrid::GetDlgCtrlID() const {
    return OnGridThread([&] { return GetControlId(*this); });
}

// --- Shape and sizes ---

int CDataGrid::SetColumnCount(int count, BOOL redraw) {
    return OnGridThread([&] {
        if (count < 0 || count > GRID_MAX_COLUMNS) {
            return GRID_REFUSED;
        }
        model_->SetColumnCount(count);
        geometry_.SetColumnCount(count);
        ApplyColumnWidths();
        MakeCurrentCellIfNone();
        if (redraw) {
            RepaintAll();
        }
        return GRID_OK;
    });
}

int CDataGrid::GetColumnCount() const {
    return OnGridThread([&] { return model_->Store().ColumnCount(); });
}

int CDataGrid::SetRowCount(int count, BOOL redraw) {
    return OnGridThread([&] {
        if (count < 0 || count > GRID_MAX_ROWS) {
            return GRID_REFUSED;
        }
        const bool hadOwnHeights = geometry_.HasOwnRowHeights();
        model_->SetRowCount(count);
        geometry_.SetRowCount(count);
        if (count == 0) {
            customRowHeights_ = false;
        } else if (hadOwnHeights && !geometry_.HasOwnRowHeights() && customRowHeights_) {
            // Past the limit every row takes the one shared height.
            FlagScope applying(applyingSizes_);
            rowHeader_->setDefaultSectionSize(geometry_.DefaultRowHeight());
            customRowHeights_ = false;
        }
        MakeCurrentCellIfNone();
        if (redraw) {
            RepaintAll();
        }
        return GRID_OK;
    });
}

int CDataGrid::GetRowCount() const {
    return OnGridThread([&] { return model_->Store().RowCount(); });
}

int CDataGrid::InsertBlankRow(int index) {
    return OnGridThread([&] {
        const int rows = model_->Store().RowCount();
        if (index < 0 || index > rows || rows >= GRID_MAX_ROWS) {
            return GRID_REFUSED;
        }
        const bool hadOwnHeights = geometry_.HasOwnRowHeights();
        model_->InsertRow(index);
        geometry_.InsertRow(index);
        if (hadOwnHeights && !geometry_.HasOwnRowHeights() && customRowHeights_) {
            FlagScope applying(applyingSizes_);
            rowHeader_->setDefaultSectionSize(geometry_.DefaultRowHeight());
            customRowHeights_ = false;
        }
        MakeCurrentCellIfNone();
        return GRID_OK;
    });
}

int CDataGrid::SetColumnWidth(int column, int width) {
    return OnGridThread([&] { return SetColumnWidthOnGridThread(column, width); });
}

int CDataGrid::SetColumnWidthOnGridThread(int column, int width) {
    const int old = geometry_.ColumnWidth(column);
    if (!geometry_.SetColumnWidth(column, width)) {
        return GRID_REFUSED;
    }
    if (column < 0) {
        ApplyRowHeader();
        return GRID_OK;
    }
    {
        FlagScope applying(applyingSizes_);
        columnHeader_->resizeSection(column, width);
    }
    if (width != old && isVisible() && updatesEnabled()) {
        OnColumnWidthChanged(column, width);
    }
    return GRID_OK;
}

int CDataGrid::GetColumnWidth(int column) const {
    return OnGridThread([&] { return geometry_.ColumnWidth(column); });
}

int CDataGrid::SetRowHeaderWidth(int width) {
    return OnGridThread([&] {
        if (!geometry_.SetRowHeaderWidth(width)) {
            return GRID_REFUSED;
        }
        ApplyRowHeader();
        return GRID_OK;
    });
}

int CDataGrid::GetRowHeaderWidth() const {
    return OnGridThread([&] { return geometry_.RowHeaderWidth(); });
}

int CDataGrid::SetRowHeaderColumnCount(int count) {
    return OnGridThread([&] {
        if (!geometry_.SetRowHeaderColumnCount(count)) {
            return GRID_REFUSED;
        }
        model_->SetRowHeaderColumnCount(count);
        ApplyRowHeader();
        return GRID_OK;
    });
}

int CDataGrid::GetRowHeaderColumnCount() const {
    return OnGridThread([&] { return geometry_.RowHeaderColumnCount(); });
}

int CDataGrid::SetHeaderRowHeight(int height) {
    return OnGridThread([&] {
        if (!geometry_.SetHeaderRowHeight(height)) {
            return GRID_REFUSED;
        }
        ApplyHeaderRowHeight();
        return GRID_OK;
    });
}

int CDataGrid::GetHeaderRowHeight() const {
    return OnGridThread([&] { return geometry_.HeaderRowHeight(); });
}

int CDataGrid::SetRowHeight(int row, int height) {
    return OnGridThread([&] {
        if (!geometry_.SetRowHeight(row, height)) {
            return GRID_REFUSED;
        }
        FlagScope applying(applyingSizes_);
        if (geometry_.HasOwnRowHeights()) {
            rowHeader_->resizeSection(row, height);
            customRowHeights_ = true;
        } else {
            rowHeader_->setDefaultSectionSize(height);
        }
        return GRID_OK;
    });
}

int CDataGrid::GetRowHeight(int row) const {
    return OnGridThread([&] { return geometry_.RowHeight(row); });
}

int CDataGrid::SetDefaultRowHeight(int height) {
    return OnGridThread([&] {
        if (!geometry_.SetDefaultRowHeight(height)) {
            return GRID_REFUSED;
        }
        FlagScope applying(applyingSizes_);
        rowHeader_->setDefaultSectionSize(height);
        customRowHeights_ = false;
        return GRID_OK;
    });
}

void CDataGrid::RecalcLayout() {
    OnGridThread([&] {
        ApplyHeaderRowHeight();
        ApplyRowHeader();
        view_->setGeometry(rect());
        view_->RecalcGeometries();
        update();
    });
}

void CDataGrid::RepaintAll() {
    OnGridThread([&] {
        model_->Flush();
        view_->viewport()->update();
        columnHeader_->viewport()->update();
        rowHeader_->viewport()->update();
    });
}

void CDataGrid::RefreshColumns(std::span<const int> columns) {
    OnGridThread([&] {
        if (!columns.empty()) {
            model_->RefreshColumns(columns);
        }
    });
}

void CDataGrid::RefreshColumns(std::initializer_list<int> columns) {
    RefreshColumns(std::span<const int>(columns.begin(), columns.size()));
}

// --- Cells ---

int CDataGrid::ReadCell(int column, int row, CGridCell* cell) const {
    return OnGridThread(
        [&] { return cell && model_->Store().Read(column, row, *cell) ? GRID_OK : GRID_REFUSED; });
}

int CDataGrid::WriteCell(int column, int row, const CGridCell* cell) {
    return OnGridThread(
        [&] { return cell && model_->Write(column, row, *cell) ? GRID_OK : GRID_REFUSED; });
}

int CDataGrid::SetCellText(int column, int row, std::string_view text) {
    return OnGridThread(
        [&] { return model_->SetText(column, row, text) ? GRID_OK : GRID_REFUSED; });
}

int CDataGrid::ReadDefaultFormat(CGridCell* cell) const {
    return OnGridThread([&] {
        if (!cell) {
            return GRID_REFUSED;
        }
        *cell = model_->Store().DefaultFormat();
        return GRID_OK;
    });
}

int CDataGrid::WriteDefaultFormat(const CGridCell* cell) {
    return OnGridThread([&] {
        if (!cell) {
            return GRID_REFUSED;
        }
        model_->SetDefaultFormat(*cell);
        return GRID_OK;
    });
}

int CDataGrid::SetGridFont(const QFont* font) {
    return OnGridThread([&] {
        if (!font) {
            return GRID_REFUSED;
        }
        model_->SetGridFont(*font);
        return GRID_OK;
    });
}

int CDataGrid::AddCellType(std::unique_ptr<CGridCellType> type) {
    return OnGridThread([&] {
        if (!type) {
            return -1;
        }
        cellTypes_.push_back(std::move(type));
        return static_cast<int>(cellTypes_.size()) - 1;
    });
}

CGridCellType& CDataGrid::CellType(int index) const {
    if (index > 0 && static_cast<std::size_t>(index) < cellTypes_.size()) {
        return *cellTypes_[static_cast<std::size_t>(index)];
    }
    return *cellTypes_.front();
}

// --- Current cell and selection ---

int CDataGrid::GetCurrentColumn() const {
    return OnGridThread([&] {
        const QModelIndex current = view_->currentIndex();
        return current.isValid() ? current.column() : -1;
    });
}

int CDataGrid::GetCurrentRow() const {
    return OnGridThread([&] {
        const QModelIndex current = view_->currentIndex();
        return current.isValid() ? current.row() : -1;
    });
}

int CDataGrid::GotoCell(int column, int row) {
    return OnGridThread([&] {
        const QModelIndex index = model_->index(row, column);
        if (!index.isValid()) {
            return GRID_REFUSED;
        }
        view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        view_->scrollTo(index);
        return GRID_OK;
    });
}

void CDataGrid::MakeCurrentCellIfNone() {
    const CGridStore& store = model_->Store();
    if (view_->currentIndex().isValid() || store.RowCount() == 0 || store.ColumnCount() == 0) {
        return;
    }
    const int column = std::clamp(lastCurrentColumn_, 0, store.ColumnCount() - 1);
    view_->selectionModel()->setCurrentIndex(model_->index(0, column),
                                             QItemSelectionModel::NoUpdate);
}

void CDataGrid::EnableMultiSelect(BOOL enable) {
    OnGridThread([&] {
        multiSelect_ = enable != FALSE;
        view_->setSelectionMode(multiSelect_ ? QAbstractItemView::ExtendedSelection
                                             : QAbstractItemView::ContiguousSelection);
        if (!multiSelect_ && view_->selectionModel()->selection().size() > 1) {
            view_->selectionModel()->clearSelection();
        }
    });
}

BOOL CDataGrid::IsMultiSelectEnabled() const {
    return OnGridThread([&] { return multiSelect_ ? TRUE : FALSE; });
}

const CRowSpans& CDataGrid::SelectedRows() const {
    if (selectedRowsStale_) {
        std::vector<std::pair<int, int>> blocks;
        for (const QItemSelectionRange& range : view_->selectionModel()->selection()) {
            if (range.isValid()) {
                blocks.emplace_back(range.top(), range.bottom());
            }
        }
        selectedRows_ = CRowSpans(std::move(blocks));
        selectedRowsStale_ = false;
    }
    return selectedRows_;
}

BOOL CDataGrid::IsRowSelected(int row) const {
    return OnGridThread([&] {
        if (row < 0 || row >= model_->Store().RowCount()) {
            return FALSE;
        }
        return SelectedRows().Contains(row) ? TRUE : FALSE;
    });
}

int CDataGrid::SelectBlock(int firstColumn, int firstRow, int lastColumn, int lastRow) {
    return OnGridThread([&] {
        const QModelIndex first =
            model_->index(std::min(firstRow, lastRow), std::min(firstColumn, lastColumn));
        const QModelIndex last =
            model_->index(std::max(firstRow, lastRow), std::max(firstColumn, lastColumn));
        if (!first.isValid() || !last.isValid()) {
            return GRID_REFUSED;
        }
        const auto command =
            multiSelect_ ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect;
        view_->selectionModel()->select(QItemSelection(first, last), command);
        return GRID_OK;
    });
}

void CDataGrid::ClearSelection() {
    OnGridThread([&] { view_->selectionModel()->clearSelection(); });
}

// --- Popup menu ---

void CDataGrid::EnablePopup(BOOL enable) {
    OnGridThread([&] { popupEnabled_ = enable != FALSE; });
}

BOOL CDataGrid::IsPopupEnabled() const {
    return OnGridThread([&] { return popupEnabled_ ? TRUE : FALSE; });
}

void CDataGrid::ClearPopup() {
    OnGridThread([&] { popupItems_.clear(); });
}

int CDataGrid::AppendPopupItem(UINT id, std::string_view text) {
    return OnGridThread([&] {
        if (text.empty() || id == GRID_POPUP_SEPARATOR) {
            popupItems_.push_back(PopupItem{GRID_POPUP_SEPARATOR, {}});
        } else {
            popupItems_.push_back(PopupItem{id, std::string(text)});
        }
        return GRID_OK;
    });
}

int CDataGrid::GetPopupItemCount() const {
    return OnGridThread([&] { return static_cast<int>(popupItems_.size()); });
}

bool CDataGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        HandleContextMenu(watched, menuEvent->pos(), menuEvent->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CDataGrid::HandleContextMenu(QObject* source, const QPoint& local, const QPoint& global) {
    if (!popupEnabled_) {
        return;
    }
    int column = -1;
    int row = -1;
    int spot = GRID_SPOT_NONE;
    if (source == view_->viewport()) {
        const QModelIndex index = view_->indexAt(local);
        if (index.isValid()) {
            column = index.column();
            row = index.row();
            spot = GRID_SPOT_CELLS;
        }
    } else if (source == columnHeader_->viewport()) {
        column = columnHeader_->logicalIndexAt(local);
        if (column >= 0) {
            spot = GRID_SPOT_COLUMN_HEADING;
        }
    } else if (source == rowHeader_->viewport()) {
        row = rowHeader_->logicalIndexAt(local);
        column = rowHeader_->ColumnAt(local.x());
        if (row >= 0 && column < 0) {
            spot = GRID_SPOT_ROW_HEADING;
        } else {
            column = -1;
            row = -1;
        }
    } else {
        spot = GRID_SPOT_CORNER;
    }
    ShowPopup(column, row, spot, global);
}

void CDataGrid::ShowPopup(int column, int row, int spot, const QPoint& global) {
    const QPointer<CDataGrid> self(this);
    if (OnPopupOpening(column, row, spot) == 0 || !self) {
        return;
    }
    popupColumn_ = column;
    popupRow_ = row;
    popupSpot_ = spot;
    const bool hasEntries =
        std::any_of(popupItems_.begin(), popupItems_.end(),
                    [](const auto& item) { return item.id != GRID_POPUP_SEPARATOR; });
    if (!hasEntries) {
        return;  // a menu without entries shows nothing
    }
    if (popupMenu_) {
        // It may still be delivering its last command; let it finish first.
        popupMenu_.release()->deleteLater();
    }
    popupMenu_ = std::make_unique<QMenu>(this);
    for (const PopupItem& item : popupItems_) {
        if (item.id == GRID_POPUP_SEPARATOR) {
            popupMenu_->addSeparator();
        } else {
            popupMenu_->addAction(ToQString(item.text))->setData(QVariant::fromValue(item.id));
        }
    }
    connect(popupMenu_.get(), &QMenu::triggered, this,
            [this](QAction* action) { DispatchPopupCommand(action->data().value<UINT>()); });
    popupMenu_->popup(global);
}

void CDataGrid::DispatchPopupCommand(UINT id) {
    const QPointer<CDataGrid> self(this);
    if (id >= GRID_FIRST_HOOKED_COMMAND) {
        OnPopupCommand(popupColumn_, popupRow_, popupSpot_, id);
    }
    if (self) {
        emit commandRouted(id);
    }
}

// --- Editing and options ---

int CDataGrid::BeginCellEdit() {
    return OnGridThread([&] {
        const QModelIndex current = view_->currentIndex();
        if (!current.isValid() || view_->IsEditing()) {
            return GRID_REFUSED;
        }
        const CGridStore& store = model_->Store();
        const int column = current.column();
        const int row = current.row();
        if (store.IsReadOnly(column, row) ||
            !CellType(store.CellTypeIndex(column, row)).CanEditInPlace()) {
            return GRID_REFUSED;
        }
        return view_->StartEdit(current) ? GRID_OK : GRID_REFUSED;
    });
}

BOOL CDataGrid::IsEditing() const {
    return OnGridThread([&] { return view_->IsEditing() ? TRUE : FALSE; });
}

void CDataGrid::HandleDoubleClick(const QModelIndex& index, const QPoint& point) {
    const int column = index.column();
    const int row = index.row();
    const QRect cellRect = view_->visualRect(index);
    const int type = model_->Store().CellTypeIndex(column, row);
    const bool processed = CellType(type).OnDoubleClick(column, row);
    OnDoubleClick(column, row, cellRect, point, processed ? TRUE : FALSE);
}

bool CDataGrid::HandleEditorClosing(QWidget* editor, bool cancelled) {
    const auto* cellEditor = qobject_cast<CCellEditor*>(editor);
    if (!cellEditor || !cellEditor->Index().isValid()) {
        return true;  // its cell is gone; nothing to store
    }
    const QPersistentModelIndex index = cellEditor->Index();
    std::string text = cellEditor->text().toStdString();
    if (!cancelled) {
        const int type = model_->Store().CellTypeIndex(index.column(), index.row());
        if (!CellType(type).ValidateEdit(index.column(), index.row(), text)) {
            return false;
        }
    }
    const QPointer<CDataGrid> self(this);
    if (OnEditClosed(index.column(), index.row(), editor, text, cancelled ? TRUE : FALSE) == 0) {
        return false;
    }
    if (self && !cancelled && index.isValid()) {
        model_->SetText(index.column(), index.row(), text);
    }
    return true;
}

void CDataGrid::SetDoubleBuffering(BOOL enable) {
    OnGridThread([&] { doubleBuffering_ = enable != FALSE; });
}

BOOL CDataGrid::IsDoubleBuffering() const {
    return OnGridThread([&] { return doubleBuffering_ ? TRUE : FALSE; });
}

int CDataGrid::SetColumnSizingMode(int mode) {
    return OnGridThread([&] {
        if (mode < GRID_SIZING_FIXED || mode > GRID_SIZING_LIVE) {
            return GRID_REFUSED;
        }
        sizingMode_ = mode;
        columnHeader_->setSectionResizeMode(mode == GRID_SIZING_FIXED ? QHeaderView::Fixed
                                                                      : QHeaderView::Interactive);
        trackingLine_->hide();
        return GRID_OK;
    });
}

int CDataGrid::GetColumnSizingMode() const {
    return OnGridThread([&] { return sizingMode_; });
}

int CDataGrid::SetThumbTrackMode(int mode) {
    return OnGridThread([&] {
        if (mode < 0) {
            return GRID_REFUSED;
        }
        thumbTrackMode_ = mode;
        view_->verticalScrollBar()->setTracking(mode == 1);
        return GRID_OK;
    });
}

int CDataGrid::GetThumbTrackMode() const {
    return OnGridThread([&] { return thumbTrackMode_; });
}

void CDataGrid::SetEditorAutoGrow(BOOL enable) {
    OnGridThread([&] { delegate_->SetAutoGrow(enable != FALSE); });
}

BOOL CDataGrid::IsEditorAutoGrow() const {
    return OnGridThread([&] { return delegate_->IsAutoGrow() ? TRUE : FALSE; });
}

QTableView* CDataGrid::GetTableView() const {
    return view_.get();
}

// --- Layout ---

void CDataGrid::ApplyColumnWidths() {
    FlagScope applying(applyingSizes_);
    for (int column = 0; column < geometry_.ColumnCount(); ++column) {
        columnHeader_->resizeSection(column, geometry_.ColumnWidth(column));
    }
}

void CDataGrid::ApplyRowHeader() {
    const int width = geometry_.RowHeaderWidth();
    rowHeader_->setFixedWidth(width);
    rowHeader_->setHidden(width == 0);
    rowHeader_->viewport()->update();
    view_->RecalcGeometries();
}

void CDataGrid::ApplyHeaderRowHeight() {
    columnHeader_->setFixedHeight(geometry_.HeaderRowHeight());
    view_->RecalcGeometries();
}

void CDataGrid::HandleSectionResized(int column, int newWidth) {
    if (applyingSizes_) {
        return;
    }
    // The operator changed the width: it goes through SetColumnWidth like any other change.
    SetColumnWidthOnGridThread(column, newWidth);
    if (sizingMode_ == GRID_SIZING_LIVE) {
        view_->viewport()->update();
    } else if (sizingMode_ == GRID_SIZING_TRACKING && columnHeader_->IsDragging()) {
        ShowTrackingLine(column);
    }
}

void CDataGrid::ShowTrackingLine(int column) {
    const int x =
        columnHeader_->sectionViewportPosition(column) + columnHeader_->sectionSize(column);
    trackingLine_->setGeometry(x - 1, 0, 1, view_->viewport()->height());
    trackingLine_->show();
    trackingLine_->raise();
}

void CDataGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_->setGeometry(rect());
}

// --- Hooks: the defaults ---

void CDataGrid::OnGridSetUp() {}

void CDataGrid::OnGridInitialized() {}

void CDataGrid::OnColumnWidthChanged(int /*column*/, int /*width*/) {}

void CDataGrid::OnDoubleClick(int /*column*/, int /*row*/, const QRect& /*cellRect*/,
                              const QPoint& /*point*/, BOOL /*processed*/) {}

int CDataGrid::OnEditClosed(int /*column*/, int /*row*/, QWidget* /*editor*/,
                            const std::string& /*text*/, BOOL /*cancelled*/) {
    return TRUE;
}

void CDataGrid::OnPopupCommand(int /*column*/, int /*row*/, int /*spot*/, UINT /*id*/) {}

int CDataGrid::OnPopupOpening(int /*column*/, int /*row*/, int /*spot*/) {
    return TRUE;
}
