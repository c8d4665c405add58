// The group dialog through the document's commands: the order of its checks and what OK writes.

#include <string>
#include <vector>

#include "document/dlg_controls.h"
#include "document/group_dlg.h"
#include "framework/hints.h"
#include "model_dialogs_fixture.h"

namespace {

using GroupDlgTest = ModelDialogsTest;

// An OK step that types a name and a rate.
std::function<void(CGroupDlg&)> Typed(std::string name, std::string rate) {
    return [name, rate](CGroupDlg& dlg) {
        dlg.controls.SetText(CGroupDlg::IDC_NAME, name);
        dlg.controls.SetText(CGroupDlg::IDC_UPDATE_RATE, rate);
    };
}

TEST_F(GroupDlgTest, NewGroupChecksTheRateTextThenTheNameThenAZeroRate) {
    doc.SetDialogs(&dialogs);
    clBaseOPCServer* server = AddServer();
    ASSERT_NE(server, nullptr);
    doc.SetDialogs(&modelDialogs);
    SelectServer(*server);

    host.QueueOk<CGroupDlg>([](CGroupDlg& dlg) {
        // Opens on the fresh record.
        EXPECT_EQ(dlg.controls.GetText(CGroupDlg::IDC_NAME), "Group1");
        EXPECT_EQ(dlg.controls.GetText(CGroupDlg::IDC_UPDATE_RATE), "1000");
        EXPECT_EQ(dlg.controls.GetCheck(CGroupDlg::IDC_ACTIVE), 1);
        Typed("", "0")(dlg);
    });
    host.QueueOk<CGroupDlg>(Typed("", "fast"));
    host.QueueOk<CGroupDlg>(Typed("", "-5"));
    host.QueueOk<CGroupDlg>(Typed("", "99999999999"));
    host.QueueOk<CGroupDlg>(Typed("Pumps", "0"));
    host.QueueOk<CGroupDlg>([](CGroupDlg& dlg) {
        Typed("  ", " 1 ")(dlg);  // a name of blanks is a name; no lower limit but 1
        dlg.controls.SetCheck(CGroupDlg::IDC_ACTIVE, 0);
    });
    doc.OnNewGroup();

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     CGroupDlg::kNameEmpty,
                                     kPromptPositiveInteger,
                                     kPromptPositiveInteger,
                                     kPromptPositiveInteger,
                                     CGroupDlg::kRateZero,
                                 }));
    ASSERT_EQ(host.ShownDialogs().size(), 1u);
    EXPECT_EQ(host.ShownDialogs()[0].refusals, 5);
    EXPECT_EQ(host.ShownDialogs()[0].answer, IDOK);
    ASSERT_EQ(server->Groups().size(), 1u);
    const clBaseOPCGroup& group = *server->Groups()[0];
    EXPECT_EQ(group.name, "  ");
    EXPECT_EQ(group.updateRate, 1);
    EXPECT_EQ(group.active, 0);
    ASSERT_NE(group.liveGroup, nullptr);
    EXPECT_EQ(group.liveGroup->active, 0);
}

TEST_F(GroupDlgTest, PropertiesChangeTheRecordAndTheLiveGroupOnlyOnOk) {
    doc.SetDialogs(&dialogs);
    clBaseOPCServer* server = AddServer();
    ASSERT_NE(server, nullptr);
    clBaseOPCGroup* group = AddGroup(*server, "Group1", 1000);
    ASSERT_NE(group, nullptr);
    doc.SetDialogs(&modelDialogs);
    SelectGroup(*server, *group);
    doc.SetModifiedFlag(false);
    view.updates.clear();

    // Cancelled after typing: nothing changes.
    host.QueueCancel<CGroupDlg>(Typed("Other", "5"));
    doc.OnGroupProperties();
    EXPECT_EQ(group->name, "Group1");
    EXPECT_EQ(group->updateRate, 1000);
    EXPECT_FALSE(doc.IsModified());

    // Only the case changes: stored, modified, no rename hint. The live group takes the rate.
    host.QueueOk<CGroupDlg>([](CGroupDlg& dlg) {
        Typed("GROUP1", "500")(dlg);
        dlg.controls.SetCheck(CGroupDlg::IDC_ACTIVE, 0);
    });
    doc.OnGroupProperties();
    EXPECT_EQ(group->name, "GROUP1");
    EXPECT_EQ(group->updateRate, 500);
    EXPECT_EQ(group->active, 0);
    EXPECT_EQ(group->liveGroup->updateRate, 500u);
    EXPECT_EQ(group->liveGroup->active, 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(view.updates.empty());

    // A new name: hint 9; the whole unsigned range of the rate is accepted.
    host.QueueOk<CGroupDlg>(Typed("Pumps", "4294967295"));
    doc.OnGroupProperties();
    EXPECT_EQ(group->name, "Pumps");
    EXPECT_EQ(static_cast<std::uint32_t>(group->updateRate), 4294967295u);
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintGroupRenamed, group}}));
    EXPECT_EQ(ui.MessageCount(), 0u);
}

}  // namespace
