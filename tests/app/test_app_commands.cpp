// The application's commands through the frame's route: enabling as the tree's selection
// changes, File New and the close box with the save question, the recent files kept in the
// settings, and start-ups that fail.

#include <QMenu>
#include <QSettings>

#include "app_fixture.h"
#include "document/group_dlg.h"
#include "document/server_dlg.h"
#include "framework/commands.h"
#include "model/server_record.h"
#include "ui/group_view.h"
#include "ui/item_view.h"

namespace app_test {
namespace {

class AppCommandsTest : public AppTest {
  protected:
    // Adds the simulator through Server > Add, and a group through Group > Add on it.
    void AddServerAndGroup() {
        dialogs.QueueOk<CServerDlg>([](CServerDlg& dlg) { dlg.SelectEntry(kSimulatorProgId); });
        ASSERT_TRUE(Frame().RunCommand(ID_SERVER_ADD));
        ASSERT_EQ(Frame().GetGroupView().topLevelItemCount(), 1);
        Frame().GetGroupView().setCurrentItem(Frame().GetGroupView().topLevelItem(0));
        dialogs.QueueOk<CGroupDlg>(
            [](CGroupDlg& dlg) { dlg.controls.SetText(CGroupDlg::IDC_NAME, "Pumps"); });
        ASSERT_TRUE(Frame().RunCommand(ID_GROUP_ADD));
        ASSERT_EQ(Frame().GetGroupView().topLevelItem(0)->childCount(), 1);
    }

    // The enabled commands among the server, group and tag commands, as the menus show them.
    std::vector<UINT> EnabledInMenus() {
        std::vector<UINT> enabled;
        for (const char* title : {"Server", "Group", "Tag"}) {
            QMenu* const menu = Frame().FindMenu(title);
            Frame().UpdateMenu(menu);
            for (const QAction* action : menu->actions()) {
                if (action->isEnabled() && CMainFrame::CommandOf(action) != 0) {
                    enabled.push_back(CMainFrame::CommandOf(action));
                }
            }
        }
        return enabled;
    }
};

TEST_F(AppCommandsTest, CommandsFollowTheTreeSelection) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(EnabledInMenus(), (std::vector<UINT>{ID_SERVER_ADD}));
    AddServerAndGroup();
    CGroupView& tree = Frame().GetGroupView();
    QTreeWidgetItem* const serverNode = tree.topLevelItem(0);
    QTreeWidgetItem* const groupNode = serverNode->child(0);

    tree.setCurrentItem(serverNode);
    EXPECT_EQ(EnabledInMenus(), (std::vector<UINT>{ID_SERVER_ADD, ID_SERVER_DELETE,
                                                   ID_SERVER_PROPERTIES, ID_GROUP_ADD}));
    const CItemGrid& grid = Frame().GetItemView().GetGrid();
    EXPECT_EQ(grid.GetMode(), CItemGrid::GroupList);
    ASSERT_EQ(grid.GetRowCount(), 1);
    EXPECT_EQ(CellText(grid, 0, 0), "Pumps");

    tree.setCurrentItem(groupNode);
    EXPECT_EQ(EnabledInMenus(),
              (std::vector<UINT>{ID_SERVER_ADD, ID_GROUP_DELETE, ID_GROUP_PROPERTIES, ID_TAG_ADD,
                                 ID_TAG_DELETE}));
    EXPECT_EQ(grid.GetMode(), CItemGrid::ItemList);
    EXPECT_EQ(grid.GetColumnCount(), 7);
    EXPECT_EQ(grid.GetRowCount(), 0);

    // The views' context menus ask the same route through the command sink.
    ASSERT_NE(CurrentCommandSink(), nullptr);
    EXPECT_TRUE(CurrentCommandSink()->IsCommandEnabled(ID_GROUP_DELETE));
    EXPECT_FALSE(CurrentCommandSink()->IsCommandEnabled(ID_SERVER_DELETE));

    // Deleting the group through the sink asks first, then the group commands are disabled.
    ui.QueueAnswer(IDYES);
    CurrentCommandSink()->ExecuteCommand(ID_GROUP_DELETE);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Delete OPC Group ?"}));
    EXPECT_EQ(serverNode->childCount(), 0);
    EXPECT_FALSE(Frame().IsEnabled(ID_TAG_ADD));
}

TEST_F(AppCommandsTest, FileNewAsksToSaveTheChangedConfiguration) {
    ASSERT_TRUE(Start());
    AddServerAndGroup();
    ASSERT_TRUE(Doc().IsModified());

    ui.QueueAnswer(IDCANCEL);
    Frame().RunCommand(ID_FILE_NEW);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Save changes to Untitled?"}));
    EXPECT_EQ(Frame().GetGroupView().topLevelItemCount(), 1);
    EXPECT_TRUE(Doc().IsModified());

    ui.QueueAnswer(IDNO);
    Frame().RunCommand(ID_FILE_NEW);
    EXPECT_EQ(ui.MessageCount(), 2u);
    EXPECT_EQ(Frame().GetGroupView().topLevelItemCount(), 0);
    EXPECT_EQ(Doc().serverList.ServerRecords().size(), 0u);
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_EQ(Frame().GetItemView().GetGrid().GetRowCount(), 0);
    EXPECT_EQ(Frame().windowTitle().toStdString(), "Untitled - Velmora OPC Tagvista");
}

TEST_F(AppCommandsTest, CloseBoxAsksAndStaysOpenWhenCancelled) {
    ASSERT_TRUE(Start());
    AddServerAndGroup();
    ui.QueueAnswer(IDCANCEL);
    EXPECT_FALSE(Frame().close());
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(Doc().serverList.ServerRecords().size(), 1u);

    ui.QueueAnswer(IDNO);
    EXPECT_TRUE(Frame().close());
    EXPECT_FALSE(Frame().isVisible());
    EXPECT_EQ(ui.MessageCount(), 2u);
    // The document was closed: its servers are gone.
    EXPECT_EQ(Doc().serverList.ServerRecords().size(), 0u);
}

TEST_F(AppCommandsTest, SavedFilesJoinTheRecentFilesWhichSurviveARestart) {
    ASSERT_TRUE(Start());
    AddServerAndGroup();
    std::vector<std::string> paths;
    for (const char* name : {"a.tgv", "b.tgv", "c.tgv", "d.tgv", "e.tgv"}) {
        paths.push_back(files.Path(name));
        ASSERT_TRUE(Doc().OnSaveDocument(paths.back()));
    }
    EXPECT_EQ(Frame().windowTitle().toStdString(), "e.tgv - Velmora OPC Tagvista");
    Stop();

    {
        QSettings stored("Velmora OPCTagvista", "Velmora OPC Tagvista");
        stored.beginGroup("Recent File List");
        EXPECT_EQ(stored.value("File1").toString().toStdString(), paths[4]);
        EXPECT_EQ(stored.value("File4").toString().toStdString(), paths[1]);
        EXPECT_FALSE(stored.contains("File5"));
    }

    // The program starts again, as a new process.
    GetComTestHooks().Reset();
    ASSERT_TRUE(Start());
    EXPECT_EQ(app->GetRecentFileList().GetEntries(),
              (std::vector<std::string>{paths[4], paths[3], paths[2], paths[1]}));
    QMenu* const file = Frame().FindMenu("&File");
    Frame().UpdateMenu(file);
    QAction* const second = Frame().FindAction(ID_FILE_MRU_FILE1 + 1);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isEnabled());
    EXPECT_TRUE(second->text().endsWith("d.tgv")) << second->text().toStdString();
    EXPECT_EQ(Frame().FindAction(ID_FILE_MRU_FILE1 + 4), nullptr);

    // Opening an entry opens its file and moves it to the top.
    second->trigger();
    EXPECT_EQ(Frame().windowTitle().toStdString(), "d.tgv - Velmora OPC Tagvista");
    EXPECT_EQ(Frame().GetGroupView().topLevelItemCount(), 1);
    EXPECT_EQ(app->GetRecentFileList().GetEntries().front(), paths[3]);

    // An entry whose file is gone says so and leaves the list.
    std::filesystem::remove(paths[2]);
    Frame().UpdateMenu(file);
    ui.QueueAnswer(IDNO);  // the opened file counts as changed: not saved
    Frame().FindAction(ID_FILE_MRU_FILE1 + 2)->trigger();
    EXPECT_EQ(app->GetRecentFileList().GetEntries().size(), 3u);
    EXPECT_EQ(ui.MessageCount(), 2u) << ::testing::PrintToString(ui.MessageTexts());
}

TEST_F(AppCommandsTest, StartUpFailsWithAReasonAndExitsCleanly) {
    // COM cannot be started: the reason is shown and no window is made.
    GetComTestHooks().failCoInitialize = E_FAIL;
    EXPECT_FALSE(Start());
    EXPECT_EQ(app->GetMainFrame(), nullptr);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{std::string(CMainApp::kOleInitFailed)}));
    EXPECT_EQ(app->ExitInstance(), 0);
    Stop();
    EXPECT_EQ(GetComTestHooks().coUninitializeCalls.load(), 0);
    GetComTestHooks().Reset();

    // A configuration that cannot be read ends start-up with the file's message.
    ui.Clear();
    EXPECT_FALSE(Start(files.Path("missing.tgv")));
    ASSERT_EQ(ui.MessageCount(), 1u);
    EXPECT_NE(ui.MessageTexts()[0].find("missing.tgv"), std::string::npos);
    Stop();
    // Every start of COM was ended again.
    EXPECT_EQ(GetComTestHooks().coInitializeCalls.load(),
              GetComTestHooks().coUninitializeCalls.load());

    // A later start (of a new process, as far as COM knows) succeeds.
    GetComTestHooks().Reset();
    ui.Clear();
    EXPECT_TRUE(Start());
    EXPECT_EQ(ui.MessageCount(), 0u) << ::testing::PrintToString(ui.MessageTexts());
}

}  // namespace
}  // namespace app_test
