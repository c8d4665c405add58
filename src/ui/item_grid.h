#pragma once
// CItemGrid: the grid of the item view, the history dialog and the new-items dialog. It knows
// four column layouts (modes), sets up its fonts and options when its window is made, keeps the
// column widths of the configuration's column sets, and answers the grid's hooks: a double click
// edits the cell in place, the context menu of an item row offers Write, Delete and Properties,
// and in the dialogs' modes the grid hands what the operator did to its owner.
//
// The document the grid reads selection and column sets from is the one given with
// SetDocument, else the document of the item view (CItemView::Current()); with neither, the
// default widths are used and the item context menu stays empty.

#include <span>
#include <string>
#include <string_view>

#include <QFont>

#include "com/types.h"
#include "grid/data_grid.h"

class CDoc;
class CItemGrid;
class clBaseOPCItem;

// What a dialog hosting the grid hears of the operator's actions in the HistoryList and
// BrowseTagList modes. Called on the grid's thread; the defaults ignore the event.
class IItemGridOwner {
  public:
    virtual ~IItemGridOwner() = default;

    // HistoryList: the in-place edit of a Remark cell (column 4) of row ended with text and was
    // not cancelled. The grid stores the text in the cell; the owner stores it in the sample the
    // row shows (the grid itself never touches the row data of this mode).
    virtual void OnRemarkEdited(CItemGrid& grid, int row, const std::string& text);
    // BrowseTagList: the operator double-clicked a tag row (row 0 or more).
    virtual void OnTagDoubleClicked(CItemGrid& grid, int row);

  protected:
    IItemGridOwner() = default;
    IItemGridOwner(const IItemGridOwner&) = default;
    IItemGridOwner& operator=(const IItemGridOwner&) = default;
};

class CItemGrid : public CDataGrid {
    Q_OBJECT

  public:
    enum Mode { GroupList = 1, ItemList = 2, HistoryList = 3, BrowseTagList = 4 };

    // Control id of the grid inside the item view.
    static constexpr UINT kControlId = 1234;
    // Commands of the item rows' context menu.
    static constexpr UINT kCmdWrite = 2049;
    static constexpr UINT kCmdDelete = 2050;
    static constexpr UINT kCmdProperties = 2051;

    explicit CItemGrid(QWidget* parent = nullptr);
    ~CItemGrid() override;

    // Switches the layout: no rows, the mode's columns, titles and widths (from the document's
    // column set of the mode's kind where it has one). A mode outside 1 to 4 only clears the
    // rows.
    void SetMode(int mode);
    // 0 until the first SetMode.
    int GetMode() const { return mode_; }

    // Receives the dialog modes' events (not owned; null for none).
    void SetOwner(IItemGridOwner* owner) { owner_ = owner; }
    IItemGridOwner* GetOwner() const { return owner_; }

    // The document whose selection and column sets the grid uses (not owned; null falls back to
    // the item view's document).
    void SetDocument(CDoc* doc) { doc_ = doc; }
    CDoc* GetDocument() const;

    // The two cell fillers. Read-only text: the text with the read-only mark, other properties
    // kept. Plain text: only the text, so a cell never marked stays editable.
    int SetReadOnlyText(int column, int row, std::string_view text);
    int SetPlainText(int column, int row, std::string_view text);
    // The object a row shows, kept as the data of its cell in column 0; never owned.
    int SetRowData(int row, void* data);
    // Null for a row without data or outside the grid.
    void* GetRowData(int row) const;

    // ItemList: the item record row shows, provided it is still the record at that position of
    // the document's current group (rows are listed in the group's order); null otherwise, so a
    // row whose record was removed since the listing is never read.
    clBaseOPCItem* ListedItem(int row) const;

    // The fonts made when the window was set up (the grid's cell font and the header font).
    const QFont& GetCellFont() const { return cellFont_; }
    const QFont& GetHeaderFont() const { return headerFont_; }

    // Column titles and default widths of a mode (1 to 4); empty for any other.
    struct Column {
        const char* title;
        int width;
    };
    static std::span<const Column> ModeColumns(int mode);

  protected:
    void OnGridSetUp() override;
    void OnGridInitialized() override;
    void OnColumnWidthChanged(int column, int width) override;
    void OnDoubleClick(int column, int row, const QRect& cellRect, const QPoint& point,
                       BOOL processed) override;
    int OnEditClosed(int column, int row, QWidget* editor, const std::string& text,
                     BOOL cancelled) override;
    void OnPopupCommand(int column, int row, int spot, UINT id) override;
    int OnPopupOpening(int column, int row, int spot) override;

  private:
    // A font weight the system's fonts render legibly: the thin face some font families have
    // would make the cell text faint.
    static constexpr int kCellFontWeight = QFont::Normal;

    void DeleteCurrentItem(CDoc& doc);

    QFont cellFont_;
    QFont headerFont_;
    int mode_ = 0;
    IItemGridOwner* owner_ = nullptr;
    CDoc* doc_ = nullptr;
};
