// The server dialog's local and remote choices and the server properties dialog, through the
// document's commands.

#include <string>
#include <vector>

#include "com/activation.h"
#include "document/server_dlg.h"
#include "document/server_properties_dlg.h"
#include "model_dialogs_fixture.h"
#include "opcda/ids.h"

namespace {

using ServerDlgTest = ModelDialogsTest;

constexpr CLSID kOtherClass{0x5A5A5A5A, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kThirdClass{0x5A5A5A5A, 0x1111, 0x2223, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST_F(ServerDlgTest, LocalChoiceListsTheRegisteredServersSortedAndNeedsASelection) {
    const CATID categories[] = {CATID_OPCDAServer20};
    ScopedClassRegistration zeta(kOtherClass, sim.ClassFactory().Get(), "zeta.Server.1",
                                 categories);
    ScopedClassRegistration alpha(kThirdClass, sim.ClassFactory().Get(), "Alpha.Server.1",
                                  categories);
    ASSERT_TRUE(SUCCEEDED(zeta.hr()) && SUCCEEDED(alpha.hr()));

    std::vector<std::string> listed;
    // OK with nothing selected is refused and changes nothing; then a selection is taken.
    host.QueueOk<CServerDlg>([&](CServerDlg& dlg) {
        listed = dlg.ListEntries();
        EXPECT_EQ(dlg.GetCurSel(), -1);
        EXPECT_EQ(dlg.controls.GetCheck(CServerDlg::IDC_REMOTE), 0);
        EXPECT_FALSE(dlg.controls.IsEnabled(CServerDlg::IDC_HOST_NAME));
        EXPECT_FALSE(dlg.controls.IsEnabled(CServerDlg::IDC_PROG_ID));
        EXPECT_TRUE(dlg.controls.IsEnabled(CServerDlg::IDC_SERVER_LIST));
        // Text typed in the disabled remote fields does not matter to a local choice.
        dlg.controls.SetText(CServerDlg::IDC_PROG_ID, "Typed.But.Ignored");
    });
    host.QueueOk<CServerDlg>(
        [](CServerDlg& dlg) { ASSERT_TRUE(dlg.SelectEntry(kSimulatorProgId)); });
    doc.OnNewServer();

    EXPECT_EQ(listed,
              (std::vector<std::string>{"Alpha.Server.1", kSimulatorProgId, "zeta.Server.1"}));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{CServerDlg::kNoSelectionText}));
    ASSERT_EQ(host.ShownDialogs().size(), 1u);
    EXPECT_EQ(host.ShownDialogs()[0].refusals, 1);
    ASSERT_EQ(doc.serverList.ServerRecords().size(), 1u);
    const clBaseOPCServer& record = *doc.serverList.ServerRecords()[0];
    EXPECT_EQ(record.serverName, kSimulatorProgId);
    EXPECT_EQ(record.nodeName, "");
    EXPECT_EQ(record.remote, 0);
    ASSERT_NE(record.liveServer, nullptr);
    EXPECT_EQ(record.liveServer->displayName, "OPCServer1");
}

TEST_F(ServerDlgTest, RemoteChoiceTakesHostAndProgIdAsTypedAndUncheckingMakesItLocal) {
    COPCServer target;
    target.displayName = "OPCServer7";
    target.progId = "Before";
    target.nodeName = "before";

    // Checked, typed, unchecked again, a list entry selected: a local server.
    host.QueueOk<CServerDlg>([](CServerDlg& dlg) {
        dlg.controls.SetCheck(CServerDlg::IDC_REMOTE, 1);
        dlg.OnRemoteClicked();
        EXPECT_TRUE(dlg.controls.IsEnabled(CServerDlg::IDC_HOST_NAME));
        EXPECT_TRUE(dlg.controls.IsEnabled(CServerDlg::IDC_PROG_ID));
        dlg.controls.SetText(CServerDlg::IDC_HOST_NAME, "plant-host");
        dlg.controls.SetText(CServerDlg::IDC_PROG_ID, "Remote.Server.1");
        dlg.controls.SetCheck(CServerDlg::IDC_REMOTE, 0);
        dlg.OnRemoteClicked();
        EXPECT_FALSE(dlg.controls.IsEnabled(CServerDlg::IDC_HOST_NAME));
        ASSERT_TRUE(dlg.SelectEntry(kSimulatorProgId));
    });
    EXPECT_EQ(modelDialogs.DoServerDialog(target), IDOK);
    EXPECT_EQ(target.progId, kSimulatorProgId);
    EXPECT_EQ(target.nodeName, "");
    EXPECT_EQ(target.remote, 0);
    EXPECT_EQ(target.displayName, "OPCServer7");

    // Reopened: unchecked, remote fields empty and disabled whatever the target held; the
    // host is kept exactly as typed, the selection is ignored.
    host.QueueOk<CServerDlg>([](CServerDlg& dlg) {
        EXPECT_EQ(dlg.controls.GetCheck(CServerDlg::IDC_REMOTE), 0);
        EXPECT_EQ(dlg.controls.GetText(CServerDlg::IDC_HOST_NAME), "");
        EXPECT_EQ(dlg.controls.GetText(CServerDlg::IDC_PROG_ID), "");
        EXPECT_FALSE(dlg.controls.IsEnabled(CServerDlg::IDC_PROG_ID));
        dlg.SelectEntry(kSimulatorProgId);
        dlg.controls.SetCheck(CServerDlg::IDC_REMOTE, 1);
        dlg.OnRemoteClicked();
        dlg.controls.SetText(CServerDlg::IDC_HOST_NAME, " Plant-Host ");
        dlg.controls.SetText(CServerDlg::IDC_PROG_ID, "Remote.Server.1");
    });
    EXPECT_EQ(modelDialogs.DoServerDialog(target), IDOK);
    EXPECT_EQ(target.nodeName, " Plant-Host ");
    EXPECT_EQ(target.progId, "Remote.Server.1");
    EXPECT_EQ(target.remote, 1);

    // Cancel leaves the target as it was.
    host.QueueCancel<CServerDlg>([](CServerDlg& dlg) {
        dlg.controls.SetCheck(CServerDlg::IDC_REMOTE, 1);
        dlg.controls.SetText(CServerDlg::IDC_PROG_ID, "Other");
    });
    EXPECT_EQ(modelDialogs.DoServerDialog(target), IDCANCEL);
    EXPECT_EQ(target.progId, "Remote.Server.1");
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(ServerDlgTest, RemoteChoiceWithEmptyFieldsIsRefusedByTheCommand) {
    host.QueueOk<CServerDlg>([](CServerDlg& dlg) {
        dlg.controls.SetCheck(CServerDlg::IDC_REMOTE, 1);
        dlg.OnRemoteClicked();
    });
    doc.OnNewServer();
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"OPC Server name is empty, create new device cancel"}));
    EXPECT_TRUE(doc.serverList.ServerRecords().empty());
    EXPECT_EQ(doc.nextServerNumber, 1);
}

TEST_F(ServerDlgTest, PropertiesShowTheRecordsIdentity) {
    host.QueueOk<CServerDlg>([](CServerDlg& dlg) { dlg.SelectEntry(kSimulatorProgId); });
    doc.OnNewServer();
    ASSERT_EQ(doc.serverList.ServerRecords().size(), 1u);
    clBaseOPCServer& local = *doc.serverList.ServerRecords()[0];

    clBaseOPCServer remote;
    remote.serverName = "Remote.Server.1";
    remote.nodeName = "plant-host";
    remote.remote = 1;

    std::vector<std::vector<std::string>> shown;
    const auto record = [&](CServerPropertiesDlg& dlg) {
        shown.push_back({dlg.controls.GetText(CServerPropertiesDlg::IDC_PROG_ID),
                         dlg.controls.GetText(CServerPropertiesDlg::IDC_HOST),
                         dlg.controls.GetText(CServerPropertiesDlg::IDC_CONNECTED)});
    };
    host.QueueOk<CServerPropertiesDlg>(record);
    SelectServer(local);
    doc.OnServerProperties();
    host.QueueCancel<CServerPropertiesDlg>(record);
    SelectServer(remote);
    doc.OnServerProperties();
    doc.ClearSelection();

    EXPECT_EQ(shown, (std::vector<std::vector<std::string>>{
                         {kSimulatorProgId, "", "Local"},
                         {"Remote.Server.1", "plant-host", "Remote"},
                     }));
    EXPECT_EQ(host.ShownNames(),
              (std::vector<std::string>{"server", "server_properties", "server_properties"}));
    EXPECT_EQ(host.ScriptErrors(), 0u);
}

}  // namespace
