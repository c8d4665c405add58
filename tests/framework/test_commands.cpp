#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "framework/app.h"
#include "framework/cmd_target.h"
#include "framework/commands.h"
#include "framework/recent_files.h"
#include "framework/scripted_ui.h"
#include "test_document_support.h"

namespace {

// A command target with a fixed set of commands, recording what it carried out.
class Target final : public CCmdTarget {
  public:
    Target(std::string name, std::vector<UINT> handles, std::vector<UINT> disables,
           std::vector<std::string>* log)
        : name_(std::move(name)),
          handles_(std::move(handles)),
          disables_(std::move(disables)),
          log_(log) {}

    bool OnCmdMsg(UINT id) override {
        if (!Has(handles_, id)) {
            return CCmdTarget::OnCmdMsg(id);
        }
        log_->push_back(name_ + ":" + std::to_string(id));
        return true;
    }
    std::optional<bool> IsCommandEnabled(UINT id) const override {
        if (Has(disables_, id)) {
            return false;
        }
        if (Has(enables, id) || (Has(handles_, id) && !Has(defers, id))) {
            return true;
        }
        return CCmdTarget::IsCommandEnabled(id);
    }
    std::optional<bool> IsCommandChecked(UINT id) const override {
        if (id == ID_VIEW_TOOLBAR) {
            return checked;
        }
        return CCmdTarget::IsCommandChecked(id);
    }

    bool checked = true;
    std::vector<UINT> enables;  // enabled here, handled by an earlier target
    std::vector<UINT> defers;   // handled here, enabled by a later target

  private:
    static bool Has(const std::vector<UINT>& ids, UINT id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }
    std::string name_;
    std::vector<UINT> handles_;
    std::vector<UINT> disables_;
    std::vector<std::string>* log_;
};

// An application whose file dialogs answer from the test.
class TestApp final : public CWinApp {
  public:
    std::optional<std::string> PromptForOpenPath() override { return openPath; }
    std::optional<std::string> PromptForSavePath(std::string_view) override { return savePath; }
    void Quit() override { ++quits; }

    std::optional<std::string> openPath;
    std::optional<std::string> savePath;
    int quits = 0;
};

}  // namespace

TEST(CommandRouting, TheFirstTargetThatKnowsACommandDecidesAndHandlesIt) {
    std::vector<std::string> log;
    // The view handles the delete of items but leaves its enabling to the document.
    Target view("view", {ID_TAG_DELETE, ID_TAG_ADD}, {}, &log);
    view.defers = {ID_TAG_DELETE};
    Target doc("doc", {ID_GROUP_ADD, ID_TAG_ADD}, {ID_TAG_DELETE, ID_SERVER_DELETE}, &log);
    Target app("app", {ID_APP_ABOUT, ID_SERVER_DELETE, ID_GROUP_ADD}, {}, &log);
    const CCommandRoute route{&view, nullptr, &doc, &app};

    EXPECT_TRUE(route.Execute(ID_TAG_ADD));      // the view comes first
    EXPECT_TRUE(route.Execute(ID_GROUP_ADD));    // then the document
    EXPECT_TRUE(route.Execute(ID_APP_ABOUT));    // then the application
    EXPECT_FALSE(route.Execute(ID_TAG_DELETE));  // the document disables it: nothing runs
    EXPECT_FALSE(route.IsEnabled(ID_SERVER_DELETE));
    EXPECT_FALSE(route.Execute(ID_SERVER_DELETE));
    EXPECT_FALSE(route.IsEnabled(ID_EDIT_COPY));  // nobody would carry it out
    EXPECT_FALSE(route.Execute(ID_EDIT_COPY));
    EXPECT_EQ(log, (std::vector<std::string>{"view:32778", "doc:32775", "app:57664"}));

    Target enablingDoc("doc", {}, {}, &log);
    enablingDoc.enables = {ID_TAG_DELETE};
    EXPECT_TRUE(CCommandRoute({&view, &enablingDoc}).Execute(ID_TAG_DELETE));
    EXPECT_EQ(log.back(), "view:32779");

    EXPECT_TRUE(route.IsChecked(ID_VIEW_TOOLBAR));
    view.checked = false;
    EXPECT_FALSE(route.IsChecked(ID_VIEW_TOOLBAR));
    EXPECT_FALSE(CCommandRoute({&doc}).IsChecked(ID_VIEW_STATUS_BAR));
}

TEST(CommandRouting, PromptsSplitIntoStatusTextAndToolTip) {
    EXPECT_EQ(CommandPrompt(ID_FILE_SAVE_AS), "Save the active document with a new name\nSave As");
    EXPECT_EQ(CommandStatusText(ID_FILE_SAVE_AS), "Save the active document with a new name");
    EXPECT_EQ(CommandToolTip(ID_FILE_SAVE_AS), "Save As");
    EXPECT_EQ(CommandStatusText(ID_VIEW_TOOLBAR), "Show or hide the toolbar");
    EXPECT_EQ(CommandStatusText(ID_OPC_NEW), "Create New OPC Device OR OPC Group");
    EXPECT_EQ(CommandStatusText(ID_TAG_DELETE), "Delete selected opc items");
    EXPECT_EQ(CommandToolTip(ID_TAG_DELETE), "");
    EXPECT_EQ(CommandPrompt(ID_FILE_MRU_FILE1 + 3), "Open this document");
    EXPECT_EQ(CommandPrompt(ID_EDIT_PASTE), "");
}

TEST(RecentFiles, MostRecentFirstWithoutRepeatsAndBounded) {
    CRecentFileList list(4);
    for (const char* p : {"/c/a.tgv", "/c/b.tgv", "/c/c.tgv", "/c/d.tgv", "/c/b.tgv", "/c/e.tgv"}) {
        list.Add(p);
    }
    EXPECT_EQ(list.GetEntries(),
              (std::vector<std::string>{"/c/e.tgv", "/c/b.tgv", "/c/d.tgv", "/c/c.tgv"}));
    list.Remove(1);
    list.Remove(9);
    EXPECT_EQ(list.GetEntries(), (std::vector<std::string>{"/c/e.tgv", "/c/d.tgv", "/c/c.tgv"}));
    list.Add("rel/x.tgv");
    EXPECT_EQ(list.GetEntries()[0], (std::filesystem::current_path() / "rel/x.tgv").string());

    list.SetEntries({"/a.tgv", "", "/a.tgv", "/b.tgv", "/c.tgv", "/d.tgv", "/e.tgv"});
    EXPECT_EQ(list.GetEntries(),
              (std::vector<std::string>{"/a.tgv", "/b.tgv", "/c.tgv", "/d.tgv"}));

    list.SetEntries({"/home/op/plant.tgv", "/home/op/configs/area/line/R&D.tgv",
                     "/home/op/a/b/c/d/e/f/g/h/a-very-long-file-name-indeed.tgv", "/x/y.tgv"});
    EXPECT_EQ(list.GetMenuText(0, "/home/op/"), "&1 plant.tgv");
    EXPECT_EQ(list.GetMenuText(1, "/home/op"), "&2 /home/.../area/line/R&&D.tgv");
    EXPECT_EQ(list.GetMenuText(2, "/"), "&3 a-very-long-file-name-indeed.tgv");
    EXPECT_EQ(list.GetMenuText(3, "/home"), "&4 /x/y.tgv");
    EXPECT_EQ(list.GetMenuText(4, "/home"), "");
}

TEST(Application, NewOpenRecentFilesAndExit) {
    ScriptedUiServices ui;
    const ScopedUiServices installed(ui);
    const TempDir dir;
    const std::string plant = dir.File("plant.tgv");
    const std::string other = dir.File("other.tgv");

    TestDocument doc;
    RecordingView view;
    doc.AddView(&view);
    TestApp app;
    app.SetDocument(&doc);

    ASSERT_TRUE(app.ProcessShellCommand(std::nullopt));
    EXPECT_EQ(doc.newCalls, 1);
    EXPECT_EQ(view.initialUpdates, 1);
    EXPECT_FALSE(CCommandRoute({&doc, &app}).IsEnabled(ID_FILE_MRU_FILE1));  // empty list

    // Saving through the application's file dialog puts the file into the recent list.
    doc.Add(1, "P1");
    app.savePath = plant;
    EXPECT_TRUE(CCommandRoute({&view, &doc, &app}).Execute(ID_FILE_SAVE));
    EXPECT_EQ(doc.GetPathName(), plant);
    doc.Add(2, "P2");
    app.savePath = other;
    EXPECT_TRUE(CCommandRoute({&view, &doc, &app}).Execute(ID_FILE_SAVE_AS));
    EXPECT_EQ(app.GetRecentFileList().GetEntries(), (std::vector<std::string>{other, plant}));

    // Open asks to save a modified document first; Cancel stops it.
    doc.Add(3, "P3");
    app.openPath = plant;
    ui.QueueAnswer(IDCANCEL);
    EXPECT_FALSE(app.OnFileOpen());
    EXPECT_EQ(doc.GetPathName(), other);
    ui.QueueAnswer(IDNO);
    EXPECT_TRUE(app.OnCmdMsg(ID_FILE_OPEN));
    EXPECT_EQ(doc.GetPathName(), plant);
    EXPECT_EQ(doc.records.size(), 1u);
    EXPECT_EQ(view.initialUpdates, 2);
    EXPECT_EQ(app.GetRecentFileList().GetEntries(), (std::vector<std::string>{plant, other}));

    // The file already open is not read again.
    doc.Add(4, "P4");
    EXPECT_TRUE(app.OpenDocumentFile(plant));
    EXPECT_EQ(doc.records.size(), 2u);
    EXPECT_EQ(ui.MessageCount(), 2u);

    // A recent file that cannot be opened leaves the list; a cancelled one stays.
    std::filesystem::remove(other);
    const CCommandRoute route{&view, &doc, &app};
    EXPECT_TRUE(route.IsEnabled(ID_FILE_MRU_FILE1 + 1));
    EXPECT_FALSE(route.IsEnabled(ID_FILE_MRU_FILE1 + 2));
    ui.QueueAnswer(IDCANCEL);
    EXPECT_FALSE(app.OnOpenRecentFile(ID_FILE_MRU_FILE1 + 1));
    EXPECT_EQ(app.GetRecentFileList().GetEntries().size(), 2u);
    ui.QueueAnswer(IDNO);
    EXPECT_TRUE(route.Execute(ID_FILE_MRU_FILE1 + 1));
    EXPECT_EQ(ui.LastMessage()->text, other + " was not found.");
    EXPECT_EQ(app.GetRecentFileList().GetEntries(), (std::vector<std::string>{plant}));

    // Exit asks to save; Cancel keeps the program running, Yes saves and quits.
    ASSERT_TRUE(doc.IsModified());
    ui.QueueAnswer(IDCANCEL);
    EXPECT_FALSE(app.OnAppExit());
    EXPECT_EQ(app.quits, 0);
    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(route.Execute(ID_APP_EXIT));
    EXPECT_EQ(app.quits, 1);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_TRUE(doc.records.empty());  // closed
    EXPECT_EQ(ReadBytes(plant).size(), 48u);
    EXPECT_EQ(ui.ScriptErrors(), 0u);
    EXPECT_EQ(ui.PendingAnswers(), 0u);
}
