#include "ui/group_view.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "document/doc.h"
#include "framework/hints.h"
#include "model/group_record.h"
#include "model/server_record.h"
#include "ui/command_sink.h"
#include "ui/item_grid.h"
#include "ui/item_view.h"

namespace {

constexpr int kRecordRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr QSize kImageSize(17, 16);

// A computer: a monitor on a stand, its screen lit when the node is selected.
QPixmap DrawServerImage(bool selected) {
    QPixmap pixmap(kImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(64, 64, 64));
    painter.setBrush(QColor(192, 192, 192));
    painter.drawRect(1, 1, 14, 10);
    painter.setBrush(selected ? QColor(0, 160, 255) : QColor(0, 64, 128));
    painter.drawRect(3, 3, 10, 6);
    painter.setBrush(QColor(160, 160, 160));
    painter.drawRect(6, 12, 4, 1);
    painter.drawRect(3, 14, 10, 1);
    return pixmap;
}

// A folder, opened when the node is selected.
QPixmap DrawGroupImage(bool selected) {
    QPixmap pixmap(kImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(128, 96, 0));
    painter.setBrush(QColor(240, 200, 80));
    painter.drawRect(1, 3, 6, 2);
    painter.drawRect(1, 4, 14, 10);
    if (selected) {
        painter.setBrush(QColor(255, 232, 140));
        const QPoint flap[] = {{3, 7}, {16, 7}, {14, 14}, {1, 14}};
        painter.drawPolygon(flap, 4);
    }
    return pixmap;
}

QIcon MakeIcon(const QPixmap& plain, const QPixmap& selected) {
    QIcon icon;
    icon.addPixmap(plain, QIcon::Normal);
    icon.addPixmap(selected, QIcon::Selected);
    return icon;
}

bool IsServerImage(int image) {
    return image == CGroupView::kImageServer || image == CGroupView::kImageServerSelected;
}

bool IsGroupImage(int image) {
    return image == CGroupView::kImageGroup || image == CGroupView::kImageGroupSelected;
}

}  // namespace

CGroupView::CGroupView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setFrameShape(QFrame::NoFrame);
    setIconSize(kImageSize);
    serverIcon_ = MakeIcon(DrawServerImage(false), DrawServerImage(true));
    groupIcon_ = MakeIcon(DrawGroupImage(false), DrawGroupImage(true));
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* /*current*/, QTreeWidgetItem* /*previous*/) {
                OnSelectionChanged();
            });
}

CGroupView::~CGroupView() {
    // The nodes go with the widget; the handlers must not run for them.
    blockSignals(true);
    delete openMenu_.data();
}

CDoc* CGroupView::GetDoc() const {
    return dynamic_cast<CDoc*>(GetDocument());
}

int CGroupView::ImageOf(const QTreeWidgetItem* node) {
    if (node == nullptr) {
        return -1;
    }
    const QVariant image = node->data(0, kImageRole);
    return image.isValid() ? image.toInt() : -1;
}

void* CGroupView::RecordOf(const QTreeWidgetItem* node) {
    return node != nullptr ? node->data(0, kRecordRole).value<void*>() : nullptr;
}

QTreeWidgetItem* CGroupView::NodeOf(const void* record) const {
    if (record == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* const server = topLevelItem(i);
        if (RecordOf(server) == record) {
            return server;
        }
        for (int j = 0; j < server->childCount(); ++j) {
            if (RecordOf(server->child(j)) == record) {
                return server->child(j);
            }
        }
    }
    return nullptr;
}

bool CGroupView::Contains(const QTreeWidgetItem* node) const {
    if (node == nullptr) {
        return false;
    }
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* const server = topLevelItem(i);
        if (server == node) {
            return true;
        }
        for (int j = 0; j < server->childCount(); ++j) {
            if (server->child(j) == node) {
                return true;
            }
        }
    }
    return false;
}

// --- Selection ---

void CGroupView::OnSelectionChanged() {
    if (rebuilding_) {
        return;
    }
    SelectNode(currentItem());
}

void CGroupView::SelectNode(QTreeWidgetItem* node) {
    CDoc* const doc = GetDoc();
    if (doc == nullptr) {
        return;
    }
    const int image = ImageOf(node);
    doc->ClearSelection();
    CItemView* const itemView = CItemView::Current();
    if (IsServerImage(image)) {
        doc->serverSelected = true;
        doc->currentServer = static_cast<clBaseOPCServer*>(RecordOf(node));
        if (itemView != nullptr) {
            itemView->GetGrid().SetMode(CItemGrid::GroupList);
        }
        doc->UpdateAllViews(nullptr, kHintServerSelected);
    } else if (IsGroupImage(image)) {
        auto* const group = static_cast<clBaseOPCGroup*>(RecordOf(node));
        doc->groupSelected = true;
        doc->currentGroup = group;
        if (itemView != nullptr) {
            itemView->GetGrid().SetMode(CItemGrid::ItemList);
        }
        doc->UpdateAllViews(nullptr, kHintListGroupItems, group);
    }
}

// --- Right click ---

void CGroupView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        OnRightClick(event->position().toPoint(), event->globalPosition().toPoint());
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CGroupView::OnRightClick(const QPoint& position, const QPoint& global) {
    if (QWidget* const frame = window()) {
        frame->activateWindow();
    }
    QTreeWidgetItem* const node = itemAt(position);
    if (node == nullptr) {
        // Nothing under the cursor: no node stays selected and no menu opens.
        setCurrentItem(nullptr);
        clearSelection();
        return;
    }
    if (currentItem() != node) {
        setCurrentItem(node);  // runs the selection update
    } else {
        SelectNode(node);  // the same node again: make sure the document and grid show it
    }
    const int image = ImageOf(node);
    ICommandSink* const sink = CurrentCommandSink();
    if (sink == nullptr || (!IsServerImage(image) && !IsGroupImage(image))) {
        return;
    }
    struct Entry {
        const char* text;
        UINT id;
    };
    const bool server = IsServerImage(image);
    const Entry entries[] = {
        {server ? "New OPC Group" : "New Tag", server ? kServerMenu[0] : kGroupMenu[0]},
        {"Delete", server ? kServerMenu[1] : kGroupMenu[1]},
        {"Properties", server ? kServerMenu[2] : kGroupMenu[2]},
    };
    CloseMenu();
    openMenu_ = new QMenu(this);
    openMenu_->setAttribute(Qt::WA_DeleteOnClose);
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        if (i > 0) {
            openMenu_->addSeparator();
        }
        QAction* const action = openMenu_->addAction(QString::fromUtf8(entries[i].text));
        const UINT id = entries[i].id;
        action->setData(QVariant::fromValue(id));
        action->setEnabled(sink->IsCommandEnabled(id));
        connect(action, &QAction::triggered, this, [id] {
            // The sink of the moment: the frame may have gone or changed while the menu was open.
            if (ICommandSink* const current = CurrentCommandSink()) {
                current->ExecuteCommand(id);
            }
        });
    }
    openMenu_->popup(global);
}

void CGroupView::CloseMenu() {
    if (openMenu_ != nullptr) {
        QMenu* const menu = openMenu_;
        openMenu_ = nullptr;
        menu->close();
    }
}

// --- Hints ---

void CGroupView::OnUpdate(CView* /*sender*/, int hint, void* object) {
    switch (hint) {
        case kHintNewDocument:
            Rebuild();
            break;
        case kHintServerAdded:
            if (object != nullptr) {
                scrollToItem(AddServerNode(*static_cast<clBaseOPCServer*>(object)));
            }
            break;
        case kHintGroupAdded:
            if (object != nullptr) {
                auto* const group = static_cast<clBaseOPCGroup*>(object);
                auto* const parent = static_cast<QTreeWidgetItem*>(group->parentTreeItem);
                // Only under a node of this tree: a handle from before a rebuild is refused.
                if (Contains(parent) && parent->parent() == nullptr) {
                    scrollToItem(AddGroupNode(parent, *group));
                }
            }
            break;
        case kHintGroupRenamed:
            if (object != nullptr) {
                auto* const group = static_cast<clBaseOPCGroup*>(object);
                auto* const node = static_cast<QTreeWidgetItem*>(group->treeItem);
                if (Contains(node) && RecordOf(node) == group) {
                    node->setText(0, QString::fromStdString(group->name));
                }
            }
            break;
        case kHintRemoveTreeNode:
            RemoveNode(object);
            break;
        default:
            break;
    }
}

QTreeWidgetItem* CGroupView::AddServerNode(clBaseOPCServer& server) {
    auto* const node = new QTreeWidgetItem(this);  // the tree owns its nodes
    node->setText(0, QString::fromStdString(server.GetPropertyText("name")));
    node->setIcon(0, serverIcon_);
    node->setData(0, kImageRole, kImageServer);
    node->setData(0, kRecordRole, QVariant::fromValue(static_cast<void*>(&server)));
    server.treeItem = node;
    return node;
}

QTreeWidgetItem* CGroupView::AddGroupNode(QTreeWidgetItem* serverNode, clBaseOPCGroup& group) {
    auto* const node = new QTreeWidgetItem(serverNode);  // owned by its server node
    node->setText(0, QString::fromStdString(group.name));
    node->setIcon(0, groupIcon_);
    node->setData(0, kImageRole, kImageGroup);
    node->setData(0, kRecordRole, QVariant::fromValue(static_cast<void*>(&group)));
    group.treeItem = node;
    return node;
}

void CGroupView::Rebuild() {
    CloseMenu();
    {
        // The document made its selection anew; emptying the tree must not act on it.
        const bool wasRebuilding = std::exchange(rebuilding_, true);
        clear();
        rebuilding_ = wasRebuilding;
    }
    const CDoc* const doc = GetDoc();
    if (doc == nullptr) {
        return;
    }
    const bool wasRebuilding = std::exchange(rebuilding_, true);
    for (const auto& server : doc->serverList.ServerRecords()) {
        QTreeWidgetItem* const serverNode = AddServerNode(*server);
        for (const auto& group : server->Groups()) {
            group->parentTreeItem = serverNode;
            AddGroupNode(serverNode, *group);
        }
    }
    rebuilding_ = wasRebuilding;
    setCurrentItem(nullptr);
}

void CGroupView::RemoveNode(void* handle) {
    auto* const node = static_cast<QTreeWidgetItem*>(handle);
    if (!Contains(node)) {
        return;
    }
    CloseMenu();
    delete node;  // takes its children along; the tree moves the selection to a neighbour
}
