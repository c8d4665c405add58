#pragma once
// CGroupView: the left pane of the main window, a tree of the configured servers with their
// groups beneath. Selecting a node (left or right button, or the keyboard) makes its server or
// group the document's selection and switches the item view's grid to list it; a right click
// opens the server or group context menu, whose commands go to the installed command sink. The
// tree changes only through the document's update hints.

#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QTreeWidget>

#include "com/types.h"
#include "framework/view.h"

class CDoc;
class clBaseOPCGroup;
class clBaseOPCServer;

class CGroupView final : public QTreeWidget, public CView {
    Q_OBJECT

  public:
    // Image indexes of the tree's image list, which also tell a node's kind.
    static constexpr int kImageGroup = 2;
    static constexpr int kImageGroupSelected = 3;
    static constexpr int kImageServer = 4;
    static constexpr int kImageServerSelected = 5;
    // Context-menu entries of a server node and of a group node.
    static constexpr UINT kServerMenu[] = {32775, 32773, 32774};
    static constexpr UINT kGroupMenu[] = {32778, 32776, 32777};

    explicit CGroupView(QWidget* parent = nullptr);
    ~CGroupView() override;

    // The document as the configuration document, null while attached to none.
    CDoc* GetDoc() const;

    void OnUpdate(CView* sender, int hint, void* object) override;

    // The node of a record, null when the tree has none for it.
    QTreeWidgetItem* NodeOf(const void* record) const;
    // The image index of a node (kImage...), -1 for null.
    static int ImageOf(const QTreeWidgetItem* node);
    // The record a node carries.
    static void* RecordOf(const QTreeWidgetItem* node);

    // The context menu last opened by a right click, null once it was closed; tests inspect and
    // trigger it while it is open.
    QMenu* OpenMenu() const { return openMenu_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void CloseMenu();
    void OnSelectionChanged();
    // Makes the node the document's selection and lists it in the item view.
    void SelectNode(QTreeWidgetItem* node);
    void OnRightClick(const QPoint& position, const QPoint& global);
    QTreeWidgetItem* AddServerNode(clBaseOPCServer& server);
    QTreeWidgetItem* AddGroupNode(QTreeWidgetItem* serverNode, clBaseOPCGroup& group);
    void Rebuild();
    void RemoveNode(void* handle);
    bool Contains(const QTreeWidgetItem* node) const;

    QIcon serverIcon_;
    QIcon groupIcon_;
    QPointer<QMenu> openMenu_;  // null again once the menu is gone
    bool rebuilding_ = false;
};
