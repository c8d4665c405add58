// The write dialog through the item grid's "Write" command: refusals, the texts written for
// each type, and values that do not fit the item's type.

#include <string>
#include <vector>

#include "document/dlg_controls.h"
#include "document/item_commands.h"
#include "document/write_dlg.h"
#include "model_dialogs_fixture.h"

namespace {

class WriteDlgTest : public ModelDialogsTest {
  protected:
    // Writes the typed text to the selected item and lets the server answer and deliver.
    void WriteTyped(const std::string& typed) {
        host.QueueOk<CWriteDlg>(
            [typed](CWriteDlg& dlg) { dlg.controls.SetText(CWriteDlg::IDC_VALUE, typed); });
        OnItemWrite(doc);
        sim.AdvanceTime(0ms);
        sim.AdvanceTime(1000ms);
    }
    std::size_t WriteCompletions() const {
        std::size_t n = 0;
        for (const std::string& line : ui.Traces()) {
            n += line.rfind("OnWriteComplete", 0) == 0 ? 1 : 0;
        }
        return n;
    }
    const COPCItem* Live(const clBaseOPCItem& item) const {
        return group_->liveGroup->FindItem(item.id);
    }
};

TEST(WriteValueText, IntegersAreRoundedAndFloatingPointKeepsItsShortestExactText) {
    EXPECT_EQ(WriteValueText(12.7, VT_I4), "13");
    EXPECT_EQ(WriteValueText(-2.5, VT_I2), "-2");
    EXPECT_EQ(WriteValueText(1.0, VT_BOOL), "1");
    EXPECT_EQ(WriteValueText(12.7, VT_R4), "12.7");
    EXPECT_EQ(WriteValueText(0.1 + 0.2, VT_R8), "0.30000000000000004");
    EXPECT_EQ(WriteValueText(-1e-300, VT_R8), "-1e-300");
}

TEST_F(WriteDlgTest, ReadOnlyAndTextItemsAreRefusedBeforeTheDialog) {
    clBaseOPCItem* readOnly = AddSelectedItem("Access.ReadOnly");
    ASSERT_NE(readOnly, nullptr);
    OnItemWrite(doc);
    clBaseOPCItem* text = AddSelectedItem("Static.String");
    ASSERT_NE(text, nullptr);
    OnItemWrite(doc);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{kTagReadOnly, kTagNotNumeric}));
    EXPECT_TRUE(host.ShownDialogs().empty());
}

TEST_F(WriteDlgTest, ValuesAreWrittenInTheirTypesFormAndComeBackFromTheServer) {
    clBaseOPCItem* flt = AddSelectedItem("Static.Float");
    ASSERT_NE(flt, nullptr);
    sim.AdvanceTime(1000ms);

    // The dialog shows the tag and its value; a value that is not a number is refused.
    host.QueueOk<CWriteDlg>([](CWriteDlg& dlg) {
        EXPECT_EQ(dlg.controls.GetText(CWriteDlg::IDC_TAG_NAME), "Static.Float");
        EXPECT_EQ(dlg.controls.GetText(CWriteDlg::IDC_VALUE), "0");
        dlg.controls.SetText(CWriteDlg::IDC_TAG_NAME, "ignored");
        dlg.controls.SetText(CWriteDlg::IDC_VALUE, "12,7");
    });
    WriteTyped("12.7");
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{kPromptNumber}));
    ASSERT_NE(Live(*flt), nullptr);
    EXPECT_EQ(Live(*flt)->Value().vt, VT_R4);
    EXPECT_EQ(Live(*flt)->Value().fltVal, 12.7f);
    EXPECT_DOUBLE_EQ(flt->value, 12.7);
    EXPECT_EQ(flt->GetPropertyText("value"), "12.7");
    EXPECT_EQ(flt->displayName, "Static.Float");

    clBaseOPCItem* i16 = AddSelectedItem("Static.Int16");
    ASSERT_NE(i16, nullptr);
    WriteTyped("3");
    EXPECT_EQ(Live(*i16)->Value().iVal, 3);
    WriteTyped("12.7");
    EXPECT_EQ(Live(*i16)->Value().iVal, 13);
    EXPECT_EQ(i16->value, 13.0);

    clBaseOPCItem* dbl = AddSelectedItem("Static.Double");
    ASSERT_NE(dbl, nullptr);
    WriteTyped("0.30000000000000004");
    EXPECT_EQ(Live(*dbl)->Value().dblVal, 0.1 + 0.2);
    EXPECT_EQ(WriteCompletions(), 4u);
    EXPECT_EQ(ui.MessageCount(), 1u);
}

TEST_F(WriteDlgTest, AValueBeyondTheTypeIsReportedAndNotSent) {
    clBaseOPCItem* i16 = AddSelectedItem("Static.Int16");
    ASSERT_NE(i16, nullptr);
    WriteTyped("7");
    ASSERT_EQ(Live(*i16)->Value().iVal, 7);
    const std::size_t completions = WriteCompletions();

    WriteTyped("40000");
    WriteTyped("-32769");
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"The value 40000 does not fit the tag's type INT16",
                                        "The value -32769 does not fit the tag's type INT16"}));
    EXPECT_EQ(WriteCompletions(), completions);  // nothing went to the server
    EXPECT_EQ(Live(*i16)->Value().iVal, 7);

    clBaseOPCItem* flt = AddSelectedItem("Static.Float");
    ASSERT_NE(flt, nullptr);
    WriteTyped("1e300");
    EXPECT_EQ(ui.MessageCount(), 3u);
    EXPECT_EQ(WriteCompletions(), completions);
}

TEST_F(WriteDlgTest, WithoutALiveItemNothingIsWrittenOrSaid) {
    clBaseOPCItem* i32 = AddSelectedItem("Static.Int32");
    ASSERT_NE(i32, nullptr);
    COPCItem* live = group_->liveGroup->FindItem(i32->id);
    ASSERT_NE(live, nullptr);
    ASSERT_TRUE(group_->liveGroup->RemoveItem(live));
    WriteTyped("5");
    EXPECT_EQ(host.ShownNames(), (std::vector<std::string>{"write"}));
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(WriteCompletions(), 0u);

    // Nothing selected: no dialog.
    doc.ClearSelection();
    OnItemWrite(doc);
    EXPECT_EQ(host.ShownDialogs().size(), 1u);
}

}  // namespace
