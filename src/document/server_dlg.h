#pragma once
// The server dialog: the operator picks one of the OPC DA servers registered on this machine,
// or names a remote host and a ProgID, for a new live server the caller has just made. The
// dialog fills in only the server's identity (ProgID, node name, remote flag); connecting it
// is the caller's work.

#include <string>
#include <string_view>
#include <vector>

#include "document/dlg_controls.h"
#include "framework/dialog.h"

class COPCServer;

class CServerDlg final : public IDialogModel {
  public:
    static constexpr int IDD = 132;
    static constexpr const char* kCaption = "OPC Server Properties";
    static constexpr int IDC_SERVER_LIST = 1001;  // sorted list box of local servers
    static constexpr int IDC_HOST_NAME = 1002;
    static constexpr int IDC_REMOTE = 1003;  // check box
    static constexpr int IDC_PROG_ID = 1004;
    static constexpr const char* kLocalBoxCaption = "Local OPC Server";
    static constexpr const char* kRemoteBoxCaption = "Remote OPC Server";
    static constexpr const char* kHostNameLabel = "Host Name";
    static constexpr const char* kProgIdLabel = "Prog.ID";
    static constexpr const char* kRemoteCaption = "Enable Remote OPC Server";
    // What OK in the local state with no entry selected reports: the text of E_INVALIDARG.
    static constexpr const char* kNoSelectionText = "The parameter is incorrect.";

    // The target is not owned; it is written only by an accepted OK.
    explicit CServerDlg(COPCServer& target) : target_(target) {}

    std::string_view GetDialogName() const override { return "server"; }
    // Lists the local OPC DA 2.0 servers, nothing selected, in the local state.
    void OnInitDialog() override;
    // Check box 1003 clicked: the remote edits follow it.
    void OnRemoteClicked();
    // Writes the remote choice, or the selected local server, into the target.
    bool OnOK() override;

    // The list box: its entries in their sorted order and the selection (-1 none).
    const std::vector<std::string>& ListEntries() const { return list_; }
    int GetCurSel() const { return selection_; }
    // Selects an entry by index; -1, or an index past the list, clears the selection.
    void SetCurSel(int index);
    // Selects the first entry with this text; false (selection cleared) when there is none.
    bool SelectEntry(std::string_view text);
    // Adds an entry at its sorted place (case ignored; equal texts keep their arrival order).
    void AddListEntry(std::string text);

    CDlgControls controls;

    // Members bound to the controls.
    std::string hostName;
    int remote = 0;
    std::string progId;

  private:
    void PushData();
    void PullData();
    void ApplyEnabling();

    COPCServer& target_;
    std::vector<std::string> list_;
    int selection_ = -1;
};
