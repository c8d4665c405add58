#pragma once
// The read-only properties of a server record: its ProgID, its host and how it is reached.

#include <string>
#include <string_view>

#include "document/dlg_controls.h"
#include "framework/dialog.h"

class clBaseOPCServer;

class CServerPropertiesDlg final : public IDialogModel {
  public:
    static constexpr int IDD = 137;
    static constexpr const char* kCaption = "Server Properties";
    static constexpr int IDC_PROG_ID = 1000;    // read-only
    static constexpr int IDC_HOST = 1002;       // read-only
    static constexpr int IDC_CONNECTED = 1004;  // read-only: "Remote" or "Local"
    static constexpr const char* kProgIdLabel = "Prog.ID";
    static constexpr const char* kHostLabel = "Host";
    static constexpr const char* kConnectedLabel = "Connected";

    explicit CServerPropertiesDlg(const clBaseOPCServer& server) : server_(server) {}

    std::string_view GetDialogName() const override { return "server_properties"; }
    void OnInitDialog() override;

    CDlgControls controls;

    std::string progIdText;
    std::string hostText;
    std::string connectedText;

  private:
    const clBaseOPCServer& server_;
};
