// The main window as it starts: title, menus, toolbar, status bar, the split between the tree
// and the grid, and the frame's own commands.

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/app_names.h"
#include "app_fixture.h"
#include "framework/commands.h"
#include "ui/group_view.h"
#include "ui/item_view.h"

namespace app_test {
namespace {

struct Entry {
    std::string text;
    UINT id;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> EntriesOf(const QMenu& menu) {
    std::vector<Entry> entries;
    for (const QAction* action : menu.actions()) {
        if (!action->isVisible()) {
            continue;
        }
        entries.push_back({action->isSeparator() ? std::string() : action->text().toStdString(),
                           CMainFrame::CommandOf(action)});
    }
    return entries;
}

TEST_F(AppTest, StartsWithAnEmptyConfigurationInTheWholeFrame) {
    ASSERT_TRUE(Start());
    CMainFrame& frame = Frame();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(frame.windowTitle().toStdString(), "Untitled - Velmora OPC Tagvista");
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_EQ(ui.MessageCount(), 0u);

    // The tree is empty; the grid shows the three group columns and no rows.
    EXPECT_EQ(frame.GetGroupView().topLevelItemCount(), 0);
    const CItemGrid& grid = frame.GetItemView().GetGrid();
    EXPECT_EQ(grid.GetMode(), CItemGrid::GroupList);
    ASSERT_EQ(grid.GetColumnCount(), 3);
    EXPECT_EQ(grid.GetRowCount(), 0);
    EXPECT_EQ(CellText(grid, 0, -1), "Group Name");
    EXPECT_EQ(CellText(grid, 1, -1), "Update Rate");
    EXPECT_EQ(CellText(grid, 2, -1), "Active");
    EXPECT_EQ(CItemView::Current(), &frame.GetItemView());

    // The tree takes a quarter of the width; a wider window widens only the grid.
    const QList<int> sizes = frame.GetSplitter().sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_NEAR(sizes[0], frame.width() / 4, frame.GetSplitter().handleWidth() + 1);
    const int treeWidth = sizes[0];
    frame.resize(frame.width() + 200, frame.height());
    QApplication::processEvents();
    EXPECT_EQ(frame.GetSplitter().sizes()[0], treeWidth);
    EXPECT_GT(frame.GetSplitter().sizes()[1], sizes[1]);
}

TEST_F(AppTest, MenusCarryEveryCommandWithItsPrompt) {
    ASSERT_TRUE(Start());
    CMainFrame& frame = Frame();
    std::vector<std::string> titles;
    for (const QAction* action : frame.menuBar()->actions()) {
        titles.push_back(action->text().toStdString());
    }
    EXPECT_EQ(titles,
              (std::vector<std::string>{"&File", "&View", "Server", "Group", "Tag", "&Help"}));

    const QMenu* file = frame.FindMenu("&File");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(EntriesOf(*file), (std::vector<Entry>{{"&New\tCtrl+N", 57600},
                                                    {"&Open...\tCtrl+O", 57601},
                                                    {"&Save\tCtrl+S", 57603},
                                                    {"Save &As...", 57604},
                                                    {"", 0},
                                                    {"Recent File", 57616},
                                                    {"", 0},
                                                    {"E&xit", 57665}}));
    EXPECT_EQ(EntriesOf(*frame.FindMenu("&View")),
              (std::vector<Entry>{{"&Toolbar", 59392}, {"&Status Bar", 59393}}));
    EXPECT_EQ(EntriesOf(*frame.FindMenu("Server")),
              (std::vector<Entry>{{"Add", 32772}, {"Delete", 32773}, {"Properties", 32774}}));
    EXPECT_EQ(EntriesOf(*frame.FindMenu("Group")),
              (std::vector<Entry>{{"Add", 32775}, {"Delete", 32776}, {"Properties", 32777}}));
    EXPECT_EQ(EntriesOf(*frame.FindMenu("Tag")),
              (std::vector<Entry>{{"Add", 32778}, {"Delete", 32779}}));
    EXPECT_EQ(EntriesOf(*frame.FindMenu("&Help")), (std::vector<Entry>{{"&About", 57664}}));

    // Prompts in the status bar, tooltips on the toolbar, and the accelerators.
    EXPECT_EQ(frame.FindAction(ID_FILE_NEW)->statusTip(), "Create a new document");
    EXPECT_EQ(frame.FindAction(ID_TAG_DELETE)->statusTip(), "Delete selected opc items");
    EXPECT_EQ(frame.FindAction(ID_FILE_SAVE)->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(frame.FindAction(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(frame.FindAction(ID_FILE_NEW)->shortcut(), QKeySequence("Ctrl+N"));

    std::vector<UINT> buttons;
    std::vector<std::string> tips;
    for (const QAction* action : frame.GetToolBar().actions()) {
        buttons.push_back(CMainFrame::CommandOf(action));
        if (!action->isSeparator()) {
            tips.push_back(action->toolTip().toStdString());
            EXPECT_FALSE(action->icon().isNull());
        }
    }
    EXPECT_EQ(buttons, (std::vector<UINT>{57600, 57601, 57603, 0, 57664}));
    EXPECT_EQ(tips, (std::vector<std::string>{"New", "Open", "Save", "About"}));

    EXPECT_EQ(frame.GetMessagePane().text(), "Ready");
    std::vector<std::string> indicators;
    for (const QLabel* label : frame.GetIndicators()) {
        indicators.push_back(label->text().toStdString());
    }
    EXPECT_EQ(indicators, (std::vector<std::string>{"CAP", "NUM", "SCRL"}));
}

TEST_F(AppTest, ViewMenuTogglesTheBarsAndTheirCheckMarks) {
    ASSERT_TRUE(Start());
    CMainFrame& frame = Frame();
    QMenu* view = frame.FindMenu("&View");
    frame.UpdateMenu(view);
    QAction* toolbar = frame.FindAction(ID_VIEW_TOOLBAR);
    QAction* statusBar = frame.FindAction(ID_VIEW_STATUS_BAR);
    EXPECT_TRUE(toolbar->isChecked());
    EXPECT_TRUE(statusBar->isChecked());

    toolbar->trigger();
    frame.UpdateMenu(view);
    EXPECT_FALSE(frame.GetToolBar().isVisible());
    EXPECT_FALSE(toolbar->isChecked());
    EXPECT_TRUE(frame.GetStatusBarWidget().isVisible());

    statusBar->trigger();
    frame.UpdateMenu(view);
    EXPECT_FALSE(frame.GetStatusBarWidget().isVisible());
    EXPECT_FALSE(statusBar->isChecked());

    ASSERT_TRUE(frame.RunCommand(ID_VIEW_TOOLBAR));
    ASSERT_TRUE(frame.RunCommand(ID_VIEW_STATUS_BAR));
    frame.UpdateMenu(view);
    EXPECT_TRUE(frame.GetToolBar().isVisible());
    EXPECT_TRUE(frame.GetStatusBarWidget().isVisible());
    EXPECT_TRUE(toolbar->isChecked());
    EXPECT_TRUE(statusBar->isChecked());

    // Commands without a handler do nothing and report so; the edit keys are not taken.
    EXPECT_FALSE(frame.RunCommand(ID_EDIT_COPY));
    EXPECT_FALSE(frame.IsEnabled(ID_EDIT_PASTE));
}

TEST_F(AppTest, NextPaneMovesTheActiveViewBetweenThePanes) {
    ASSERT_TRUE(Start());
    CMainFrame& frame = Frame();
    EXPECT_EQ(frame.GetActiveView(), static_cast<CView*>(&frame.GetGroupView()));
    ASSERT_TRUE(frame.RunCommand(ID_NEXT_PANE));
    EXPECT_EQ(frame.GetActiveView(), static_cast<CView*>(&frame.GetItemView()));
    ASSERT_TRUE(frame.RunCommand(ID_PREV_PANE));
    EXPECT_EQ(frame.GetActiveView(), static_cast<CView*>(&frame.GetGroupView()));
}

TEST_F(AppTest, AboutBoxShowsTheVersionAndClosesWithOk) {
    ASSERT_TRUE(Start());
    std::string version;
    std::string title;
    bool found = false;
    QTimer::singleShot(0, [&] {
        QWidget* const box = QApplication::activeModalWidget();
        if (box == nullptr) {
            return;
        }
        found = true;
        title = box->windowTitle().toStdString();
        if (const auto* line = box->findChild<QLabel*>("version")) {
            version = line->text().toStdString();
        }
        if (auto* dialog = qobject_cast<QDialog*>(box)) {
            dialog->accept();
        }
    });
    ASSERT_TRUE(Frame().RunCommand(ID_APP_ABOUT));
    EXPECT_TRUE(found);
    EXPECT_EQ(title, "About");
    EXPECT_EQ(version, "OPC Tagvista Version 1.0.2");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace app_test
