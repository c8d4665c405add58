// The server dialog's logic.

#include "document/server_dlg.h"

#include <algorithm>
#include <utility>

#include "framework/ui_services.h"
#include "model/text_compare.h"
#include "opc/com_environment.h"
#include "opc/opc_server.h"
#include "opcda/ids.h"

void CServerDlg::OnInitDialog() {
    list_.clear();
    selection_ = -1;
    std::vector<std::string> servers;
    ListServersOfCategory(CATID_OPCDAServer20, servers);
    for (std::string& server : servers) {
        AddListEntry(std::move(server));
    }
    remote = 0;
    hostName.clear();
    ApplyEnabling();
    PushData();
}

void CServerDlg::OnRemoteClicked() {
    PullData();
    ApplyEnabling();
}

bool CServerDlg::OnOK() {
    PullData();
    if (remote != 0) {
        target_.nodeName = hostName;
        target_.remote = 1;
        target_.progId = progId;
        return true;
    }
    if (selection_ < 0) {
        // Reading the entry at no selection is an invalid argument: reported, dialog stays.
        AfxMessageBox(kNoSelectionText, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    target_.nodeName.clear();
    target_.remote = 0;
    target_.progId = list_[static_cast<std::size_t>(selection_)];
    return true;
}

void CServerDlg::SetCurSel(int index) {
    selection_ = index >= 0 && static_cast<std::size_t>(index) < list_.size() ? index : -1;
}

bool CServerDlg::SelectEntry(std::string_view text) {
    const auto at = std::find(list_.begin(), list_.end(), text);
    selection_ = at == list_.end() ? -1 : static_cast<int>(at - list_.begin());
    return selection_ >= 0;
}

void CServerDlg::AddListEntry(std::string text) {
    const auto at = std::upper_bound(
        list_.begin(), list_.end(), text,
        [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
    const auto index = at - list_.begin();
    list_.insert(at, std::move(text));
    if (selection_ >= index) {
        ++selection_;
    }
}

void CServerDlg::PushData() {
    controls.SetText(IDC_HOST_NAME, hostName);
    controls.SetCheck(IDC_REMOTE, remote != 0 ? 1 : 0);
    controls.SetText(IDC_PROG_ID, progId);
}

void CServerDlg::PullData() {
    hostName = controls.GetText(IDC_HOST_NAME);
    remote = controls.GetCheck(IDC_REMOTE) != 0 ? 1 : 0;
    progId = controls.GetText(IDC_PROG_ID);
}

void CServerDlg::ApplyEnabling() {
    const bool isRemote = remote != 0;
    controls.Enable(IDC_HOST_NAME, isRemote);
    controls.Enable(IDC_PROG_ID, isRemote);
}
