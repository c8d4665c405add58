#include "ui/browse_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "document/browse_dlg.h"
#include "grid/control_id.h"

namespace {
constexpr int kNodeRole = Qt::UserRole;
}  // namespace

CBrowseDialog::CBrowseDialog(CBrowseDlg& model, QWidget* parent)
    : CModelDialog(model, nullptr, parent), model_(model) {
    using Dlg = CBrowseDlg;
    setWindowTitle(Dlg::kCaption);
    AddGroupBox(Dlg::kFilterGroupText, Du(165, 227, 266, 41));
    QPushButton* add = AddButton(Dlg::kIdAdd, Dlg::kAddText, Du(435, 19, 50, 15));
    add->setAutoDefault(true);
    connect(add, &QPushButton::clicked, this, [this] { AddPressed(); });
    AddButton(Dlg::kIdExit, Dlg::kExitText, Du(435, 35, 50, 14), true);

    tree_ = new QTreeWidget(this);
    tree_->setGeometry(Du(7, 7, 155, 279));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    SetControlId(*tree_, Dlg::kIdTree);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { SelectionChanged(current); });
    connect(tree_, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Expanding(item); });
    connect(tree_, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { Expanding(item); });

    auto* placeholder = new QFrame(this);
    placeholder->setGeometry(Du(165, 7, 267, 218));
    SetControlId(*placeholder, Dlg::kIdGridPlaceholder);

    AddLabel(Dlg::kCriteriaLabel, Du(178, 243, 30, 11), Qt::AlignRight);
    criteria_ = AddEdit(Dlg::kIdCriteria, Du(214, 241, 207, 14));
    connect(criteria_, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.criteria = text.toStdString(); });
    allowDuplicates_ =
        AddCheck(Dlg::kIdAllowDuplicates, Dlg::kAllowDuplicatesText, Du(167, 273, 149, 10), [this] {
            model_.allowDuplicates = allowDuplicates_->isChecked() ? TRUE : FALSE;
            model_.OnAllowDuplicatesClicked();
        });
    SetSizeDu(492, 290);

    grid_ = new CItemGrid(this);
    grid_->SetOwner(this);
}

CBrowseDialog::~CBrowseDialog() {
    grid_->SetOwner(nullptr);
}

void CBrowseDialog::ShowModel() {
    grid_->AttachToDialogControl(this, CBrowseDlg::kIdGridPlaceholder);
    grid_->SetMode(CItemGrid::BrowseTagList);
    grid_->EnableMultiSelect(TRUE);
    tree_->clear();
    items_.clear();
    ShowNewNodes();
    if (!items_.empty()) {
        tree_->scrollToItem(items_.front());
    }
    tree_->setCurrentItem(nullptr);
    criteria_->setText(QString::fromStdString(model_.criteria));
    allowDuplicates_->setChecked(model_.allowDuplicates != 0);
}

QTreeWidgetItem* CBrowseDialog::ItemOfNode(std::size_t node) const {
    return node < items_.size() ? items_[node] : nullptr;
}

std::size_t CBrowseDialog::NodeOf(const QTreeWidgetItem& item) {
    return item.data(0, kNodeRole).value<qulonglong>();
}

void CBrowseDialog::ShowNewNodes() {
    const auto& nodes = model_.Nodes();
    // Nodes only grow, and a node always comes after its parent.
    for (std::size_t i = items_.size(); i < nodes.size(); ++i) {
        QTreeWidgetItem* item = nullptr;
        if (i == CBrowseDlg::kRoot) {
            item = new QTreeWidgetItem(tree_);
        } else {
            item = new QTreeWidgetItem(items_[nodes[i].parent]);
        }
        item->setText(0, QString::fromStdString(nodes[i].label));
        item->setData(0, kNodeRole, QVariant::fromValue<qulonglong>(i));
        items_.push_back(item);
    }
}

void CBrowseDialog::ShowLeaves() {
    const auto& leaves = model_.Leaves();
    grid_->SetRowCount(static_cast<int>(leaves.size()), TRUE);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        grid_->SetReadOnlyText(0, static_cast<int>(i), leaves[i].name);
    }
    grid_->RepaintAll();
}

void CBrowseDialog::SelectionChanged(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_.OnSelectionChanged(NodeOf(*item));
    QApplication::restoreOverrideCursor();
    ShowNewNodes();
    ShowLeaves();
}

void CBrowseDialog::Expanding(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    model_.OnItemExpanding(NodeOf(*item));
    ShowNewNodes();
    ShowLeaves();
}

void CBrowseDialog::AddPressed() {
    const int rows = grid_->GetRowCount();
    for (int row = 0; row < rows; ++row) {
        model_.SetLeafChosen(static_cast<std::size_t>(row), grid_->IsRowSelected(row) != FALSE);
    }
    model_.OnAdd();
}
