#pragma once
// CItemView: the right pane of the main window, wholly covered by one CItemGrid. It lists the
// groups of the selected server or the items of the selected group as the document's update
// hints say, refreshes the live columns while a group is listed, and deletes the selected item
// rows for the Tag menu's Delete.
//
// The view records itself at construction in a process-wide pointer (Current), through which
// the tree view switches the grid's layout; there is one item view per process.

#include <cstdint>
#include <optional>
#include <vector>

#include <QWidget>

#include "com/types.h"
#include "framework/view.h"
#include "ui/item_grid.h"

class CDoc;
class clBaseOPCGroup;
class clBaseOPCItem;

class CItemView final : public QWidget, public CView {
    Q_OBJECT

  public:
    explicit CItemView(QWidget* parent = nullptr);
    ~CItemView() override;

    // The item view of the process, null while there is none.
    static CItemView* Current();

    CItemGrid& GetGrid() { return grid_; }
    const CItemGrid& GetGrid() const { return grid_; }
    // The document as the configuration document, null while attached to none.
    CDoc* GetDoc() const;

    void OnUpdate(CView* sender, int hint, void* object) override;

    // ID_TAG_DELETE: asks, then deletes every selected item row of the listed group and marks
    // the document modified. The document decides whether the command is enabled.
    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // Brings the rows about to be painted up to date (see RefreshValues).
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ListGroups();
    void AppendGroup(clBaseOPCGroup* group);
    void ListItems(clBaseOPCGroup* group);
    void RefreshValues();
    // The live texts of the listed rows in sight that missed a refresh.
    void RefreshRowsInSight();
    void RefreshRow(int row);
    void RelabelItem(clBaseOPCItem* item);
    void DeleteSelectedItems();

    CItemGrid grid_;
    // Live refreshes: each one has a number, and each listed row keeps the number of the last
    // one it took. Rows out of sight take a refresh when they come into sight.
    std::uint32_t refreshNumber_ = 0;
    std::vector<std::uint32_t> rowRefreshNumber_;
};
