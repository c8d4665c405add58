#pragma once
// CDataGrid: a spreadsheet-like grid window. A table of cells in rows and columns with a header
// row of column titles above (row -1), row-header columns at the left (columns -1 and down),
// a current cell, a selection of rectangular blocks, an in-place editor, a popup menu and
// per-cell formatting. Subclasses answer its hooks (the protected virtual On... functions).
//
// Cells are records (CGridCell) stored by row; the view asks for the visible ones only, so
// grids of hundreds of thousands of rows fill and repaint quickly. Writes are not painted one by
// one: they are told to the view together at RepaintAll, or when control next returns to the
// event loop.
//
// Results: 0 (GRID_OK) when done, non-zero (GRID_REFUSED) when the arguments were refused, in
// which case nothing changed.
//
// Threads: the grid belongs to the thread that created it. Called from any other thread, an
// operation is carried out on the grid's thread, and the caller waits for it; the grid's thread
// must therefore be running its event loop and must not itself be waiting for that caller.

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "com/types.h"
#include "grid/cell_type.h"
#include "grid/grid_cell.h"
#include "grid/grid_defs.h"
#include "grid/grid_geometry.h"
#include "grid/row_spans.h"

class QMenu;
class QTableView;
class CColumnHeaderView;
class CGridDelegate;
class CGridModel;
class CGridView;
class CRowHeaderView;

class CDataGrid : public QWidget {
    Q_OBJECT

  public:
    explicit CDataGrid(QWidget* parent = nullptr);
    ~CDataGrid() override;
    CDataGrid(const CDataGrid&) = delete;
    CDataGrid& operator=(const CDataGrid&) = delete;

    // --- The window ---

    // Makes the grid a window with style (WS_*) at rect in parent (required with WS_CHILD),
    // known by control id; then runs OnGridSetUp, OnGridInitialized and lays the grid out, and
    // shows it only after that when the style has WS_VISIBLE. Refused once the grid has a
    // window.
    int CreateGridWindow(DWORD style, const QRect& rect, QWidget* parent, UINT id);
    // Takes the place and size of the dialog's control with that id (which is hidden and gives
    // the grid its id), adds WS_TABSTOP and WS_CLIPCHILDREN, takes the dialog's font as the grid
    // font and the same font 200 units heavier as the default cell format's font, then runs
    // OnGridSetUp (not OnGridInitialized) and lays the grid out. Refused when the dialog has no
    // such control or the grid already has a window.
    int AttachToDialogControl(QWidget* dialog, UINT id);
    DWORD GetStyle() const;
    UINT GetDlgCtrlID() const;

    // --- Shape and sizes ---

    // The redraw flag asks for a repaint right after the change; without it the grid is
    // repainted at the caller's RepaintAll (or when the view next paints anyway).
    int SetColumnCount(int count, BOOL redraw = TRUE);
    int GetColumnCount() const;
    int SetRowCount(int count, BOOL redraw = TRUE);
    int GetRowCount() const;
    // An empty row before index; index equal to the row count appends.
    int InsertBlankRow(int index);
    // A data column, or a row-header column for a negative column.
    int SetColumnWidth(int column, int width);
    // The column's width, -1 for a column that does not exist.
    int GetColumnWidth(int column) const;
    // Total width of the row-header columns, 0 to 1024 (0 hides them); each keeps its share.
    int SetRowHeaderWidth(int width);
    int GetRowHeaderWidth() const;
    // 1 to 64 row-header columns sharing the row-header width.
    int SetRowHeaderColumnCount(int count);
    int GetRowHeaderColumnCount() const;
    int SetHeaderRowHeight(int height);
    int GetHeaderRowHeight() const;
    // Rows keep their own height up to GRID_MAX_ROWS_WITH_OWN_HEIGHT rows; in a larger grid
    // every row has the same height, and setting one row's height sets it for all.
    int SetRowHeight(int row, int height);
    int GetRowHeight(int row) const;
    // The height of every row, and of the rows added later.
    int SetDefaultRowHeight(int height);
    // Recomputes the areas of headers, cells and scroll bars.
    void RecalcLayout();
    // Tells the view every write so far and repaints the whole grid (only visible cells are
    // drawn).
    void RepaintAll();
    // Every row of these data columns changed (a refresh of live values): one notification per
    // run of adjacent columns, and a repaint of the visible cells among them.
    void RefreshColumns(std::span<const int> columns);
    void RefreshColumns(std::initializer_list<int> columns);

    // --- Cells ---

    // Fills cell with the cell's own properties (not those inherited from the default format).
    int ReadCell(int column, int row, CGridCell* cell) const;
    // Stores the properties cell sets, keeping the cell's others. The header row and the
    // row-header columns count as inside the grid.
    int WriteCell(int column, int row, const CGridCell* cell);
    // Sets a cell's text and keeps its other properties; row -1 sets a column title.
    int SetCellText(int column, int row, std::string_view text);
    int ReadDefaultFormat(CGridCell* cell) const;
    // Replaces the default cell format, which cells take what they do not set from.
    int WriteDefaultFormat(const CGridCell* cell);
    // The base font of the data cells; the headings take the default format's font first.
    int SetGridFont(const QFont* font);

    // Adds a cell type and returns its index (the normal type is 0); -1 for null.
    int AddCellType(std::unique_ptr<CGridCellType> type);

    // --- Current cell and selection ---

    // The current cell's column and row, -1 when there is none.
    int GetCurrentColumn() const;
    int GetCurrentRow() const;
    // Makes a data cell current without changing the selection.
    int GotoCell(int column, int row);
    // With multi-selection the operator can select several blocks of cells; turning it off
    // drops a selection of more than one block.
    void EnableMultiSelect(BOOL enable);
    BOOL IsMultiSelectEnabled() const;
    // TRUE when a block of the selection covers the row.
    BOOL IsRowSelected(int row) const;
    // Selects a block of data cells, added to the selection with multi-selection on, replacing
    // it otherwise.
    int SelectBlock(int firstColumn, int firstRow, int lastColumn, int lastRow);
    void ClearSelection();

    // --- Popup menu ---

    void EnablePopup(BOOL enable);
    BOOL IsPopupEnabled() const;
    void ClearPopup();
    // An empty text or the id GRID_POPUP_SEPARATOR appends a separator.
    int AppendPopupItem(UINT id, std::string_view text);
    int GetPopupItemCount() const;

    // --- Editing and options ---

    // Opens the in-place editor on the current cell; refused without a current cell, for a
    // read-only cell, a cell type that does not edit in place, or while an editor is open.
    int BeginCellEdit();
    BOOL IsEditing() const;
    // Whether the cell area is painted through an off-screen image. Qt paints every widget
    // through its backing store, so the area is double-buffered either way; the flag is kept
    // for callers that ask.
    void SetDoubleBuffering(BOOL enable);
    BOOL IsDoubleBuffering() const;
    // GRID_SIZING_FIXED, GRID_SIZING_TRACKING or GRID_SIZING_LIVE.
    int SetColumnSizingMode(int mode);
    int GetColumnSizingMode() const;
    // 1: the view follows the vertical scroll thumb while it is dragged; 0 (and any other mode)
    // scrolls when it is released.
    int SetThumbTrackMode(int mode);
    int GetThumbTrackMode() const;
    // With auto-grow (the default) the editor grows to its text; without it keeps the cell's
    // size.
    void SetEditorAutoGrow(BOOL enable);
    BOOL IsEditorAutoGrow() const;

    // The table view inside, for code that needs Qt's own access to it.
    QTableView* GetTableView() const;

  signals:
    // Every command picked from the popup menu, after OnPopupCommand had its turn: the window's
    // normal command routing.
    void commandRouted(UINT id);

  protected:
    // --- Hooks, in the order the grid calls them in a window's life ---

    // The window exists (CreateGridWindow and AttachToDialogControl). Default: nothing.
    virtual void OnGridSetUp();
    // After OnGridSetUp, for CreateGridWindow only. Default: nothing.
    virtual void OnGridInitialized();
    // SetColumnWidth changed a data column while the grid is visible and painting, which
    // includes every step of the operator dragging a column border. Default: nothing.
    virtual void OnColumnWidthChanged(int column, int width);
    // A double click in the cell area, after the cell's type had its chance (processed tells
    // whether it handled the click). cellRect and point are in the cell area's coordinates.
    // Default: nothing.
    virtual void OnDoubleClick(int column, int row, const QRect& cellRect, const QPoint& point,
                               BOOL processed);
    // The in-place editor is closing and the cell type accepted the text. Non-zero accepts: the
    // editor closes and, unless cancelled, the text is stored in the cell. Zero keeps the
    // editor open. Default: accepts.
    virtual int OnEditClosed(int column, int row, QWidget* editor, const std::string& text,
                             BOOL cancelled);
    // The operator picked a popup entry whose id is GRID_FIRST_HOOKED_COMMAND or more; column,
    // row and spot are those the menu was opened for. Default: nothing.
    virtual void OnPopupCommand(int column, int row, int spot, UINT id);
    // A right click with the popup menu enabled, before the menu is shown (the hook may fill
    // it). Zero shows no menu. Default: shows it.
    virtual int OnPopupOpening(int column, int row, int spot);

    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class CGridView;

    struct PopupItem {
        UINT id;
        std::string text;  // empty for a separator
    };

    // Runs body on the grid's thread, waiting for it when called from another thread.
    template <class Body>
    auto OnGridThread(Body&& body) const;

    int SetColumnWidthOnGridThread(int column, int width);
    void ApplyColumnWidths();
    void ApplyRowHeader();
    void ApplyHeaderRowHeight();
    void MakeCurrentCellIfNone();
    void HandleDoubleClick(const QModelIndex& index, const QPoint& point);
    bool HandleEditorClosing(QWidget* editor, bool cancelled);
    void HandleSectionResized(int column, int newWidth);
    void HandleContextMenu(QObject* source, const QPoint& local, const QPoint& global);
    void ShowPopup(int column, int row, int spot, const QPoint& global);
    void DispatchPopupCommand(UINT id);
    void ShowTrackingLine(int column);
    CGridCellType& CellType(int index) const;  // the normal type for an unknown index
    const CRowSpans& SelectedRows() const;

    // Declared before the view, so they outlive it.
    std::unique_ptr<CGridModel> model_;
    std::unique_ptr<CGridDelegate> delegate_;
    CGridGeometry geometry_;
    std::vector<std::unique_ptr<CGridCellType>> cellTypes_;
    std::unique_ptr<CGridView> view_;
    // Owned by the view (Qt parent ownership).
    CColumnHeaderView* columnHeader_ = nullptr;
    CRowHeaderView* rowHeader_ = nullptr;
    QWidget* trackingLine_ = nullptr;

    std::vector<PopupItem> popupItems_;
    std::unique_ptr<QMenu> popupMenu_;
    int popupColumn_ = -1;
    int popupRow_ = -1;
    int popupSpot_ = GRID_SPOT_NONE;

    DWORD style_ = 0;
    bool hasWindow_ = false;
    bool popupEnabled_ = false;
    bool multiSelect_ = false;
    bool doubleBuffering_ = false;
    bool customRowHeights_ = false;  // some row was given a height of its own
    bool applyingSizes_ = false;     // the grid itself is resizing header sections
    int sizingMode_ = GRID_SIZING_TRACKING;
    int thumbTrackMode_ = 0;
    int lastCurrentColumn_ = 0;

    mutable CRowSpans selectedRows_;
    mutable bool selectedRowsStale_ = true;
};

template <class Body>
auto CDataGrid::OnGridThread(Body&& body) const {
    using Result = std::invoke_result_t<Body&>;
    if (QThread::currentThread() == thread()) {
        return body();
    }
    auto* self = const_cast<CDataGrid*>(this);
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            self, [&body] { body(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            self, [&body, &result] { result = body(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}
