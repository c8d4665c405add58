#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/apartment.h"
#include "document/doc.h"
#include "document/history_dlg.h"
#include "framework/scripted_dialog.h"
#include "framework/scripted_ui.h"
#include "model/item_record.h"

using namespace std::chrono_literals;

namespace {

class HistoryDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Apartment::Ui().Drain();
        item.displayName = "Line1.Temperature";
        item.history.enabled = true;
        item.history.capacity = 1024;
    }
    void TearDown() override { Apartment::Ui().Drain(); }

    // Samples with values first..last, the last one the newest.
    void Fill(int first, int last) {
        for (int v = first; v <= last; ++v) {
            item.history.AddSample(clDateTime{2026, 1, 1, 0, 0, v % 60, 0}, v, 0xC0, true);
        }
    }
    // Runs the user-interface thread's queue until the list is complete.
    static bool DrainUntilIdle(const CHistoryDlg& dlg) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (dlg.IsBusy() && std::chrono::steady_clock::now() < deadline) {
            Apartment::Ui().WaitAndDrain(5ms);
        }
        return !dlg.IsBusy();
    }

    ScriptedUiServices ui;
    ScopedUiServices installedUi{ui};
    CDoc doc{CDoc::LoadMode::recordsOnly};
    clBaseOPCItem item;
};

TEST_F(HistoryDlgTest, ListsEverySampleNewestFirstAndStaysBusyUntilTheLastRowIsStored) {
    Fill(1, 1024);
    CHistoryDlg dlg(item, &doc);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Title(), "Historical Values: Line1.Temperature");
    EXPECT_EQ(dlg.Total(), 1024);
    // Rows are stored on this thread only: nothing before it drains.
    EXPECT_TRUE(dlg.IsBusy());
    EXPECT_TRUE(dlg.Rows().empty());
    EXPECT_FALSE(dlg.OnOK());
    EXPECT_FALSE(dlg.QueryClose());
    EXPECT_EQ(ui.CountShown(CHistoryDlg::kBusyMessage), 2u);

    // Data changes keep arriving on this thread while the worker reads.
    item.history.AddSample(clDateTime{2026, 1, 2, 0, 0, 0, 0}, 5000, 0xC0, true);
    ASSERT_TRUE(DrainUntilIdle(dlg));
    EXPECT_GT(dlg.BatchesStored(), 1u);
    // A snapshot: 1024 or 1025 rows, whichever the worker saw, numbered from 1, newest first.
    const auto& rows = dlg.Rows();
    ASSERT_GE(rows.size(), 1024u);
    EXPECT_EQ(rows.front().no, "1");
    EXPECT_EQ(rows.back().no, std::to_string(rows.size()));
    EXPECT_EQ(rows.back().value, "1");
    EXPECT_EQ(rows.back().sampleNumber, 1);
    EXPECT_EQ(rows[rows.size() - 2].value, "2");
    EXPECT_EQ(rows.back().quality, "Good");
    EXPECT_EQ(rows.back().timestamp, "2026-01-01 00:00:01.000");
    EXPECT_EQ(dlg.Total(), 1024);  // the count when the dialog opened
    EXPECT_TRUE(dlg.OnOK());
}

TEST_F(HistoryDlgTest, RemarksFindTheirSampleByNumberAndMarkTheDocument) {
    item.history.overwrite = true;
    item.history.capacity = 5;
    Fill(1, 5);
    CHistoryDlg dlg(item, &doc);
    dlg.OnInitDialog();
    ASSERT_TRUE(DrainUntilIdle(dlg));
    ASSERT_EQ(dlg.Rows().size(), 5u);
    doc.SetModifiedFlag(false);

    ASSERT_TRUE(dlg.OnRemarkEdited(2, "checked"));  // row 3: sample 3
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(dlg.Rows()[2].remark, "checked");
    std::vector<std::string> remarks;
    item.history.ForEach([&](const clHistorical& s) { remarks.push_back(s.remark); });
    EXPECT_EQ(remarks, (std::vector<std::string>{"", "", "checked", "", ""}));

    // Two new samples push the two oldest out; the last row's sample is gone.
    Fill(6, 7);
    doc.SetModifiedFlag(false);
    EXPECT_FALSE(dlg.OnRemarkEdited(4, "lost"));
    EXPECT_FALSE(dlg.OnRemarkEdited(99, "no row"));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(dlg.Rows()[4].remark, "");
    remarks.clear();
    item.history.ForEach([&](const clHistorical& s) { remarks.push_back(s.remark); });
    EXPECT_EQ(remarks, (std::vector<std::string>{"", "", "", "", "checked"}));

    // Reopened, the remark shows again.
    CHistoryDlg reopened(item, &doc);
    reopened.OnInitDialog();
    ASSERT_TRUE(DrainUntilIdle(reopened));
    EXPECT_EQ(reopened.Rows()[4].remark, "checked");
}

TEST_F(HistoryDlgTest, RemoveAllAsksEmptiesAndListsAgain) {
    Fill(1, 300);
    CHistoryDlg dlg(item, &doc);
    dlg.OnInitDialog();
    dlg.OnRemoveAll();  // busy: refused before asking
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{CHistoryDlg::kBusyMessage}));
    ASSERT_TRUE(DrainUntilIdle(dlg));

    ui.QueueAnswer(IDNO);
    dlg.OnRemoveAll();
    EXPECT_EQ(item.history.GetCount(), 300u);
    EXPECT_EQ(dlg.Rows().size(), 300u);
    EXPECT_FALSE(dlg.IsBusy());

    ui.QueueAnswer(IDYES);
    dlg.OnRemoveAll();
    EXPECT_EQ(ui.LastMessage()->text, CHistoryDlg::kRemoveAllQuestion);
    EXPECT_EQ(item.history.GetCount(), 0u);
    EXPECT_EQ(dlg.Total(), 0);
    EXPECT_TRUE(dlg.Rows().empty());
    ASSERT_TRUE(DrainUntilIdle(dlg));
    EXPECT_TRUE(dlg.Rows().empty());
    Fill(1, 1);
    std::vector<std::int32_t> numbers;  // the numbering goes on
    item.history.ForEach([&](const clHistorical& s) { numbers.push_back(s.number); });
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{301}));
}

TEST_F(HistoryDlgTest, ClosingWhileTheWorkerRunsIsSafe) {
    Fill(1, 1024);
    // Batches held back and run only after the dialog is gone.
    std::vector<std::function<void()>> held;
    std::mutex heldLock;
    {
        CHistoryDlg dlg(item, &doc, [&](std::function<void()> call) {
            std::lock_guard guard(heldLock);
            held.push_back(std::move(call));
        });
        dlg.OnInitDialog();
        dlg.OnCancel();  // stops and joins the worker
        EXPECT_FALSE(dlg.IsBusy());
    }
    for (auto& call : held) {
        call();  // finds the dialog gone and does nothing
    }
    {
        CHistoryDlg dlg(item, &doc);
        dlg.OnInitDialog();
    }  // destroyed busy, batches still queued
    Apartment::Ui().Drain();
}

TEST_F(HistoryDlgTest, RunsModallyAndClosesOnceTheListIsDone) {
    ScriptedDialogHost host;
    ScopedDialogHost installed(host);
    CHistoryDlg empty(item, &doc);
    host.QueueOk<CHistoryDlg>([](CHistoryDlg& dlg) { ASSERT_TRUE(DrainUntilIdle(dlg)); });
    EXPECT_EQ(DoModal(empty), IDOK);
    EXPECT_EQ(empty.Total(), 0);
    EXPECT_TRUE(empty.Rows().empty());

    Fill(1, 10);
    CHistoryDlg dlg(item, &doc);
    host.QueueOk();  // at once: refused, still busy
    host.QueueOk<CHistoryDlg>([](CHistoryDlg& d) { ASSERT_TRUE(DrainUntilIdle(d)); });
    EXPECT_EQ(DoModal(dlg), IDOK);
    EXPECT_EQ(host.ShownDialogs().back().refusals, 1);
    EXPECT_EQ(dlg.Rows().size(), 10u);
}

}  // namespace
