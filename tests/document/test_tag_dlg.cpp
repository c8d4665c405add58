// The tag dialog through the item grid's "Properties" command: size limits, enabling, what OK
// writes back and when the history is resized.

#include <string>
#include <vector>

#include "document/dlg_controls.h"
#include "document/item_commands.h"
#include "document/tag_dlg.h"
#include "framework/hints.h"
#include "model_dialogs_fixture.h"

namespace {

using TagDlgTest = ModelDialogsTest;

std::function<void(CTagDlg&)> SizeTyped(std::string size, int enabled = 1) {
    return [size, enabled](CTagDlg& dlg) {
        dlg.controls.SetText(CTagDlg::IDC_HISTORY_SIZE, size);
        dlg.controls.SetCheck(CTagDlg::IDC_HISTORY_ENABLED, enabled);
    };
}

void Offer(clBaseOPCItem& item, int count) {
    for (int i = 0; i < count; ++i) {
        item.history.AddSample(item.timestamp, i, 0xC0, true);
    }
}

TEST_F(TagDlgTest, HistorySizeIsRefusedOutsideOneTo1024AfterTheParseChecks) {
    clBaseOPCItem* item = AddSelectedItem("Static.Float");
    ASSERT_NE(item, nullptr);
    doc.SetModifiedFlag(false);

    host.QueueOk<CTagDlg>(SizeTyped("0", 0));  // refused even with history off
    host.QueueOk<CTagDlg>(SizeTyped("-3"));
    host.QueueOk<CTagDlg>(SizeTyped("1025"));
    host.QueueOk<CTagDlg>([](CTagDlg& dlg) {
        // The number fields are read before the size: only their message shows.
        SizeTyped("0")(dlg);
        dlg.controls.SetText(CTagDlg::IDC_SCALED_HIGH, "1e400");
    });
    host.QueueOk<CTagDlg>([](CTagDlg& dlg) {
        dlg.controls.SetText(CTagDlg::IDC_SCALED_HIGH, "250");
        SizeTyped("12.5")(dlg);
    });
    host.QueueOk<CTagDlg>(SizeTyped(" 1024 "));
    EXPECT_EQ(OnItemProperties(doc), IDOK);

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     CTagDlg::kHistoryTooSmall,
                                     CTagDlg::kHistoryTooSmall,
                                     CTagDlg::kHistoryTooLarge,
                                     kPromptNumber,
                                     kPromptInteger,
                                 }));
    EXPECT_EQ(item->history.capacity, 1024);
    EXPECT_TRUE(item->history.enabled);
    EXPECT_EQ(item->engMax, 250.0);
    EXPECT_TRUE(doc.IsModified());  // tag settings are part of the configuration

    // Cancel after typing: nothing changes, the document stays as it was.
    doc.SetModifiedFlag(false);
    host.QueueCancel<CTagDlg>(SizeTyped("5", 0));
    EXPECT_EQ(OnItemProperties(doc), IDCANCEL);
    EXPECT_EQ(item->history.capacity, 1024);
    EXPECT_TRUE(item->history.enabled);
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(TagDlgTest, EnablingFollowsScalingTypeAndHistory) {
    clBaseOPCItem* item = AddSelectedItem("Static.Float");
    ASSERT_NE(item, nullptr);
    const std::vector<int> range = {CTagDlg::IDC_RAW_LOW, CTagDlg::IDC_RAW_HIGH,
                                    CTagDlg::IDC_SCALED_LOW, CTagDlg::IDC_SCALED_HIGH};
    const auto enabled = [](const CTagDlg& dlg, const std::vector<int>& ids) {
        std::vector<bool> states;
        for (const int id : ids) {
            states.push_back(dlg.controls.IsEnabled(id));
        }
        return states;
    };
    const std::vector<int> scaling = {CTagDlg::IDC_SCALE_ENABLED, CTagDlg::IDC_LINEAR,
                                      CTagDlg::IDC_SCALE_FACTOR,  CTagDlg::IDC_RAW_LOW,
                                      CTagDlg::IDC_RAW_HIGH,      CTagDlg::IDC_SCALED_LOW,
                                      CTagDlg::IDC_SCALED_HIGH,   CTagDlg::IDC_FACTOR};
    const std::vector<int> history = {CTagDlg::IDC_DISPLAY, CTagDlg::IDC_HISTORY_SIZE,
                                      CTagDlg::IDC_OVERWRITE};
    using B = std::vector<bool>;

    host.QueueOk<CTagDlg>([&](CTagDlg& dlg) {
        // A fresh record: 0 to 100 both ways, factor 1, linear, scaling and history off.
        EXPECT_EQ(dlg.controls.GetText(CTagDlg::IDC_RAW_HIGH), "100");
        EXPECT_EQ(dlg.controls.GetText(CTagDlg::IDC_FACTOR), "1");
        EXPECT_EQ(dlg.controls.GetText(CTagDlg::IDC_ITEM_ID), "Static.Float");
        EXPECT_EQ(dlg.controls.GetText(CTagDlg::IDC_DATA_TYPE), "Float");
        EXPECT_EQ(dlg.controls.GetText(CTagDlg::IDC_HISTORY_SIZE), "128");
        EXPECT_EQ(dlg.controls.GetCheck(CTagDlg::IDC_LINEAR), 1);
        EXPECT_EQ(enabled(dlg, scaling),
                  B({true, false, false, false, false, false, false, false}));
        EXPECT_EQ(enabled(dlg, history), B({false, false, false}));

        dlg.controls.SetCheck(CTagDlg::IDC_SCALE_ENABLED, 1);
        dlg.OnEnableClicked();
        EXPECT_EQ(enabled(dlg, scaling), B({true, true, true, true, true, true, true, false}));
        dlg.OnScaleFactorClicked();
        EXPECT_EQ(dlg.controls.GetCheck(CTagDlg::IDC_LINEAR), 0);
        EXPECT_EQ(dlg.controls.GetCheck(CTagDlg::IDC_SCALE_FACTOR), 1);
        EXPECT_EQ(enabled(dlg, scaling), B({true, true, true, false, false, false, false, true}));
        dlg.OnLinearClicked();
        EXPECT_EQ(enabled(dlg, range), B({true, true, true, true}));
        EXPECT_FALSE(dlg.controls.IsEnabled(CTagDlg::IDC_FACTOR));

        // A click while a number field does not parse: refused, and the fields after it (the
        // check boxes among them) are not taken, so the enabling stays.
        dlg.controls.SetText(CTagDlg::IDC_RAW_HIGH, "ten");
        dlg.controls.SetCheck(CTagDlg::IDC_HISTORY_ENABLED, 1);
        dlg.OnEnableClicked();
        EXPECT_EQ(dlg.controls.GetFocus(), CTagDlg::IDC_RAW_HIGH);
        EXPECT_EQ(enabled(dlg, history), B({false, false, false}));
        dlg.controls.SetText(CTagDlg::IDC_RAW_HIGH, "4095");
        dlg.OnEnableClicked();
        EXPECT_EQ(enabled(dlg, history), B({true, true, true}));

        // Scaling off again keeps the chosen type, which OK stores with the flag off.
        dlg.OnScaleFactorClicked();
        dlg.controls.SetCheck(CTagDlg::IDC_SCALE_ENABLED, 0);
        dlg.OnEnableClicked();
        EXPECT_EQ(enabled(dlg, scaling),
                  B({true, false, false, false, false, false, false, false}));
    });
    EXPECT_EQ(OnItemProperties(doc), IDOK);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{kPromptNumber}));
    EXPECT_FALSE(item->scaleEnabled);
    EXPECT_EQ(item->scaleType, clBaseOPCItem::scaleTypeFactor);
    EXPECT_EQ(item->rawMax, 4095.0);
    EXPECT_TRUE(item->history.enabled);

    // A text item: every scaling control is off even with scaling on; history still follows.
    clBaseOPCItem* text = AddSelectedItem("Static.String");
    ASSERT_NE(text, nullptr);
    text->scaleEnabled = true;
    host.QueueCancel<CTagDlg>([&](CTagDlg& dlg) {
        EXPECT_EQ(enabled(dlg, scaling), B(8, false));
        EXPECT_EQ(enabled(dlg, history), B({false, false, false}));
        dlg.controls.SetCheck(CTagDlg::IDC_HISTORY_ENABLED, 1);
        dlg.OnEnableClicked();
        EXPECT_EQ(enabled(dlg, history), B({true, true, true}));
        EXPECT_EQ(enabled(dlg, scaling), B(8, false));
    });
    EXPECT_EQ(OnItemProperties(doc), IDCANCEL);
}

TEST_F(TagDlgTest, OkResizesTheHistoryOnlyForANewSizeAndRelabelsARenamedItem) {
    clBaseOPCItem* item = AddSelectedItem("Static.Double");
    ASSERT_NE(item, nullptr);
    item->displayName = "Tag1";
    item->history.enabled = true;
    item->history.capacity = 10;
    Offer(*item, 10);
    ASSERT_EQ(item->history.GetCount(), 10u);
    view.updates.clear();

    // Same size, a name that differs only in case: samples kept, no relabel.
    host.QueueOk<CTagDlg>([](CTagDlg& dlg) { dlg.controls.SetText(CTagDlg::IDC_NAME, "TAG1"); });
    EXPECT_EQ(OnItemProperties(doc), IDOK);
    EXPECT_EQ(item->displayName, "TAG1");
    EXPECT_EQ(item->history.GetCount(), 10u);
    EXPECT_TRUE(view.updates.empty());

    // Smaller: the oldest samples go at once. Renamed: the row is relabelled.
    host.QueueOk<CTagDlg>([](CTagDlg& dlg) {
        dlg.controls.SetText(CTagDlg::IDC_NAME, "Tag2");
        dlg.controls.SetText(CTagDlg::IDC_HISTORY_SIZE, "4");
        dlg.controls.SetCheck(CTagDlg::IDC_OVERWRITE, 1);
    });
    EXPECT_EQ(OnItemProperties(doc), IDOK);
    EXPECT_EQ(item->history.capacity, 4);
    EXPECT_TRUE(item->history.overwrite);
    std::vector<double> kept;
    item->history.ForEach([&](const clHistorical& s) { kept.push_back(s.value); });
    EXPECT_EQ(kept, (std::vector<double>{9, 8, 7, 6}));
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintItemRelabelled, item}}));
    EXPECT_EQ(item->opcItemId, "Static.Double");

    // "Display" opens the history dialog on the item as stored.
    host.Clear();
    host.QueueAnswer(IDCANCEL, [this](IDialogModel& model) {
        auto* tag = dynamic_cast<CTagDlg*>(&model);
        ASSERT_NE(tag, nullptr);
        host.QueueCancel();  // answers the history dialog opened from inside
        tag->OnDisplayClicked();
    });
    EXPECT_EQ(OnItemProperties(doc), IDCANCEL);
    EXPECT_EQ(host.ShownNames(), (std::vector<std::string>{"tag", "history"}));

    // Nothing happens without a selected group and item.
    doc.ClearSelection();
    EXPECT_EQ(OnItemProperties(doc), IDCANCEL);
}

}  // namespace
