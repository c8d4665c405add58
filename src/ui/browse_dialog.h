#pragma once
// The Qt face of the new items dialog: the branches of the group's server in a tree that grows
// as nodes unfold, the leaves of the chosen branch in the item grid, a criteria field and "Add".

#include <cstddef>

#include "ui/item_grid.h"
#include "ui/model_dialog.h"

class CBrowseDlg;
class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class CBrowseDialog final : public CModelDialog, public IItemGridOwner {
    Q_OBJECT

  public:
    CBrowseDialog(CBrowseDlg& model, QWidget* parent);
    ~CBrowseDialog() override;

    CItemGrid& Grid() { return *grid_; }
    QTreeWidget& Tree() { return *tree_; }
    // The tree item of a model node, null when it is not shown (yet).
    QTreeWidgetItem* ItemOfNode(std::size_t node) const;

  protected:
    void ShowModel() override;

  private:
    // Adds tree items for the nodes the model listed since the last look.
    void ShowNewNodes();
    // The grid shows the model's leaf list.
    void ShowLeaves();
    void SelectionChanged(QTreeWidgetItem* item);
    void Expanding(QTreeWidgetItem* item);
    void AddPressed();
    static std::size_t NodeOf(const QTreeWidgetItem& item);

    CBrowseDlg& model_;
    QTreeWidget* tree_;
    CItemGrid* grid_;
    QLineEdit* criteria_;
    QCheckBox* allowDuplicates_;
    std::vector<QTreeWidgetItem*> items_;  // by model node index; owned by the tree
};
