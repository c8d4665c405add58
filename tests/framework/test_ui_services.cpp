#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "com/hresult.h"
#include "framework/console_ui.h"
#include "framework/scripted_ui.h"
#include "framework/ui_services.h"

using Kind = ScriptedUiServices::Event::Kind;

TEST(ScriptedUi, RecordsBoxesAndTracesInOneOrder) {
    ScriptedUiServices ui;
    const ScopedUiServices installed(ui);

    Trace("first\n");
    EXPECT_EQ(AfxMessageBox("Error from AddGroup (80004005)\n"), IDOK);
    Trace("OnWriteComplete: Transid=%ld count=%ld GrpHandle=%ld\n", 4112L, 1L, 7L);
    EXPECT_EQ(AfxMessageBox("Delete OPC Group ?", MB_YESNO), IDNO);

    const std::vector<ScriptedUiServices::Event> events = ui.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, Kind::Trace);
    EXPECT_EQ(events[0].text, "first\n");
    EXPECT_EQ(events[1].kind, Kind::Message);
    EXPECT_EQ(events[1].text, "Error from AddGroup (80004005)\n");
    EXPECT_EQ(events[1].type, MB_OK);
    EXPECT_EQ(events[2].kind, Kind::Trace);
    EXPECT_EQ(events[2].text, "OnWriteComplete: Transid=4112 count=1 GrpHandle=7\n");
    EXPECT_EQ(events[3].kind, Kind::Message);
    EXPECT_EQ(events[3].type, MB_YESNO);
    EXPECT_EQ(events[3].answer, IDNO);

    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Error from AddGroup (80004005)\n", "Delete OPC Group ?"}));
    EXPECT_EQ(ui.MessageCount(), 2u);
    EXPECT_EQ(ui.Traces().size(), 2u);
    EXPECT_EQ(ui.TraceOutput(), "first\nOnWriteComplete: Transid=4112 count=1 GrpHandle=7\n");
    ASSERT_TRUE(ui.LastMessage().has_value());
    EXPECT_EQ(ui.LastMessage()->text, "Delete OPC Group ?");
    EXPECT_EQ(ui.CountShown("Delete OPC Group ?"), 1u);
    EXPECT_FALSE(ui.WasShown("Delete OPC Group"));

    ui.Clear();
    EXPECT_TRUE(ui.Events().empty());
    EXPECT_FALSE(ui.LastMessage().has_value());
}

TEST(ScriptedUi, AnswersFromTheQueueInOrderThenFromDefaults) {
    ScriptedUiServices ui;
    ui.QueueAnswers({IDYES, IDNO});
    ui.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ui.PendingAnswers(), 3u);

    EXPECT_EQ(ui.MessageBox("Delete OPC Server ?", MB_YESNO), IDYES);
    EXPECT_EQ(ui.MessageBox("Delete OPC Server ?", MB_YESNO), IDNO);
    EXPECT_EQ(ui.MessageBox("Save changes?", MB_YESNOCANCEL | MB_ICONEXCLAMATION), IDCANCEL);
    EXPECT_EQ(ui.PendingAnswers(), 0u);

    // Queue empty: OK for a message, the answer that changes nothing for a question.
    EXPECT_EQ(ui.MessageBox("GetMalloc failed", MB_OK), IDOK);
    EXPECT_EQ(ui.MessageBox("Delete OPC Server ?", MB_YESNO), IDNO);
    EXPECT_EQ(ui.MessageBox("Save changes?", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(ui.MessageBox("Proceed?", MB_OKCANCEL), IDCANCEL);

    // A set default answers the boxes that offer it, and no others.
    ui.SetDefaultAnswer(IDYES);
    EXPECT_EQ(ui.MessageBox("Delete OPC Group ?", MB_YESNO), IDYES);
    EXPECT_EQ(ui.MessageBox("Save changes?", MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(ui.MessageBox("Error from BrowseItemIDs", MB_OK), IDOK);
    EXPECT_EQ(ui.MessageBox("Proceed?", MB_OKCANCEL), IDCANCEL);
    ui.SetDefaultAnswer(0);
    EXPECT_EQ(ui.MessageBox("Delete OPC Group ?", MB_YESNO), IDNO);
    EXPECT_EQ(ui.ScriptErrors(), 0u);
}

TEST(ScriptedUi, AnswerTheBoxCannotGiveIsAScriptErrorAndTheBoxGetsItsDefault) {
    ScriptedUiServices ui;
    ui.QueueAnswers({IDYES, IDYES});
    // The script expected a question first, but an error message came.
    EXPECT_EQ(ui.MessageBox("Error from RemoveGroup", MB_OK), IDOK);
    EXPECT_EQ(ui.ScriptErrors(), 1u);
    // The second scripted answer is still there for the question.
    EXPECT_EQ(ui.MessageBox("Delete OPC Group ?", MB_YESNO), IDYES);
    EXPECT_EQ(ui.ScriptErrors(), 1u);
    const std::vector<ScriptedUiServices::Message> shown = ui.Messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].answer, IDOK);
    EXPECT_EQ(shown[1].answer, IDYES);
}

TEST(ScriptedUi, RecordsTracesFromSeveralThreads) {
    ScriptedUiServices ui;
    const ScopedUiServices installed(ui);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                Trace("t%d %d\n", t, i);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(ui.Traces().size(), 2000u);
}

TEST(UiServices, InstallationIsScopedAndNests) {
    ScriptedUiServices outer;
    ScriptedUiServices inner;
    {
        const ScopedUiServices a(outer);
        EXPECT_EQ(&CurrentUiServices(), &outer);
        {
            const ScopedUiServices b(inner);
            EXPECT_EQ(&CurrentUiServices(), &inner);
            AfxMessageBox("to inner");
        }
        EXPECT_EQ(&CurrentUiServices(), &outer);
        AfxMessageBox("to outer");
    }
    EXPECT_EQ(inner.MessageTexts(), std::vector<std::string>{"to inner"});
    EXPECT_EQ(outer.MessageTexts(), std::vector<std::string>{"to outer"});
    // Back to the console services.
    EXPECT_EQ(dynamic_cast<ConsoleUiServices*>(&CurrentUiServices()) != nullptr, true);
    EXPECT_EQ(SetUiServices(nullptr), nullptr);
}

namespace {

// Everything written to a temporary stream so far.
std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[256];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    return text;
}

}  // namespace

TEST(ConsoleUi, TraceGoesToStandardOutputOnly) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ConsoleUiServices console;
    {
        const ScopedUiServices installed(console);
        Trace("ProgIDFromCLSID failed\n");
        Trace("OnReadComplete: Transid=%ld count=%ld GrpHandle=%ld\n", 1L, 2L, 3L);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "ProgIDFromCLSID failed\nOnReadComplete: Transid=1 count=2 GrpHandle=3\n");
    EXPECT_EQ(err, "");
}

TEST(ConsoleUi, MessageBoxWritesTextAndAnswerToStandardError) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    ConsoleUiServices console(out, err);

    EXPECT_EQ(console.MessageBox("CoCreate Failed\n", MB_OK), IDOK);
    EXPECT_EQ(console.MessageBox("Delete OPC Server ?", MB_YESNO), IDNO);
    console.SetQuestionAnswer(IDYES);
    EXPECT_EQ(console.MessageBox("Delete OPC Group ?", MB_YESNO | MB_ICONEXCLAMATION), IDYES);
    EXPECT_EQ(console.MessageBox("Error from BrowseItemIDs", MB_OK), IDOK);
    EXPECT_EQ(console.MessageBox("Proceed?", MB_OKCANCEL), IDCANCEL);
    console.SetQuestionAnswer(0);
    EXPECT_EQ(console.MessageBox("Delete OPC Group ?", MB_YESNO), IDNO);

    EXPECT_EQ(Contents(err),
              "CoCreate Failed [OK] -> OK\n"
              "Delete OPC Server ? [Yes/No] -> No\n"
              "Delete OPC Group ? [Yes/No] -> Yes\n"
              "Error from BrowseItemIDs [OK] -> OK\n"
              "Proceed? [OK/Cancel] -> Cancel\n"
              "Delete OPC Group ? [Yes/No] -> No\n");
    EXPECT_EQ(Contents(out), "");
    std::fclose(out);
    std::fclose(err);
}
