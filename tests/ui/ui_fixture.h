#pragma once
// The test bed of the views: the document's test bed (simulation server, scripted boxes and
// dialogs) with a real tree view and item view side by side in a shown window, a command sink
// that records the commands of the context menus, and helpers that click like the operator.

#include <string>
#include <vector>

#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>

#include "document/document_fixture.h"
#include "framework/cmd_target.h"
#include "framework/commands.h"
#include "framework/hints.h"
#include "ui/command_sink.h"
#include "ui/group_view.h"
#include "ui/item_view.h"

// Routes commands through the item view and the document, as the frame does, and records them.
class RecordingSink final : public ICommandSink {
  public:
    RecordingSink(CItemView& view, CDoc& doc) : view_(view), doc_(doc) {}
    void ExecuteCommand(UINT id) override {
        executed.push_back(id);
        if (route) {
            CCommandRoute{&view_, &doc_}.Execute(id);
        }
    }
    bool IsCommandEnabled(UINT id) const override {
        return CCommandRoute{&view_, &doc_}.IsEnabled(id);
    }
    std::vector<UINT> executed;
    bool route = false;  // carry the commands out, or only record them

  private:
    CItemView& view_;
    CDoc& doc_;
};

class ViewsTest : public DocumentTest {
  protected:
    void SetUp() override {
        DocumentTest::SetUp();
        window.resize(900, 500);
        auto* layout = new QHBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        tree = new CGroupView(&window);
        items = new CItemView(&window);
        layout->addWidget(tree, 1);
        layout->addWidget(items, 3);
        doc.AddView(tree);
        doc.AddView(items);
        sink = std::make_unique<RecordingSink>(*items, doc);
        SetCommandSink(sink.get());
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        QApplication::processEvents();
        doc.UpdateAllViews(nullptr, kHintNewDocument);
    }
    void TearDown() override {
        SetCommandSink(nullptr);
        if (QMenu* menu = tree->OpenMenu()) {
            menu->close();
        }
        doc.RemoveView(tree);
        doc.RemoveView(items);
        DocumentTest::TearDown();
    }

    CItemGrid& Grid() { return items->GetGrid(); }

    std::string Cell(int column, int row) {
        CGridCell cell;
        Grid().ReadCell(column, row, &cell);
        return cell.GetText();
    }
    bool IsReadOnly(int column, int row) {
        CGridCell cell;
        Grid().ReadCell(column, row, &cell);
        return cell.IsNoEdit();
    }
    std::vector<std::string> Titles() {
        std::vector<std::string> titles;
        for (int column = 0; column < Grid().GetColumnCount(); ++column) {
            titles.push_back(Cell(column, -1));
        }
        return titles;
    }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (int row = 0; row < Grid().GetRowCount(); ++row) {
            texts.push_back(Cell(column, row));
        }
        return texts;
    }

    QPoint NodeCenter(QTreeWidgetItem* node) {
        tree->scrollToItem(node);
        return tree->visualItemRect(node).center();
    }
    void ClickNode(QTreeWidgetItem* node) {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, NodeCenter(node));
        QApplication::processEvents();
    }
    void RightClickTree(const QPoint& pos) {
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, pos);
        QApplication::processEvents();
    }
    std::vector<std::string> MenuTexts(const QMenu* menu) {
        std::vector<std::string> texts;
        for (const QAction* action : menu->actions()) {
            texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        return texts;
    }
    static QAction* Entry(QMenu* menu, const QString& text) {
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    // The grid's popup: a right click on a cell (row -1 is the header row).
    void RightClickCell(int column, int row) {
        QTableView* view = Grid().GetTableView();
        QWidget* target = view->viewport();
        QPoint pos;
        if (row < 0) {
            target = view->horizontalHeader()->viewport();
            pos = QPoint(view->horizontalHeader()->sectionViewportPosition(column) + 5, 5);
        } else {
            view->scrollTo(view->model()->index(row, column));
            pos = view->visualRect(view->model()->index(row, column)).center();
        }
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &event);
        QApplication::processEvents();
    }
    QMenu* GridPopup() {
        for (QMenu* menu : Grid().findChildren<QMenu*>()) {
            if (menu->isVisible()) {
                return menu;
            }
        }
        return nullptr;
    }
    // Picks an entry of the grid's open popup.
    void PickGridEntry(const QString& text) {
        QMenu* menu = GridPopup();
        ASSERT_NE(menu, nullptr);
        QAction* action = Entry(menu, text);
        ASSERT_NE(action, nullptr) << text.toStdString();
        action->trigger();
        menu->close();
        QApplication::processEvents();
    }

    // A server with a group of the given items, shown in the tree (hint 1 rebuilds it).
    clBaseOPCGroup* GroupWith(const std::vector<std::string>& itemIds, std::string name = "G1") {
        server_ = AddServer();
        if (server_ == nullptr) {
            return nullptr;
        }
        clBaseOPCGroup* group = AddGroup(*server_, std::move(name));
        if (group == nullptr) {
            return nullptr;
        }
        for (const std::string& id : itemIds) {
            AddItem(*group, id);
        }
        doc.ClearSelection();
        doc.UpdateAllViews(nullptr, kHintNewDocument);
        return group;
    }

    QWidget window;
    CGroupView* tree = nullptr;
    CItemView* items = nullptr;
    std::unique_ptr<RecordingSink> sink;
    clBaseOPCServer* server_ = nullptr;
};
