#pragma once
// The group dialog: a group record's name, update rate and active flag, for a new group and for
// the properties of an existing one. What follows an accepted OK (creating the group on the
// server or changing its state there) is the document's work.

#include <cstdint>
#include <string>
#include <string_view>

#include "document/dlg_controls.h"
#include "framework/dialog.h"

class clBaseOPCGroup;

class CGroupDlg final : public IDialogModel {
  public:
    static constexpr int IDD = 133;
    static constexpr const char* kCaption = "OPC Group Properties";
    static constexpr int IDC_NAME = 1000;
    static constexpr int IDC_UPDATE_RATE = 1001;
    static constexpr int IDC_ACTIVE = 1003;  // check box
    static constexpr const char* kNameLabel = "Name";
    static constexpr const char* kUpdateRateLabel = "Update Rate";
    static constexpr const char* kUpdateRateUnit = "milli seconds";
    static constexpr const char* kActiveCaption = "Active";
    static constexpr const char* kNameEmpty = "OPC Group name is empty !";
    static constexpr const char* kRateZero = "OPC Group update rate is zero !";

    // The record is not owned; it is written only by an accepted OK.
    explicit CGroupDlg(clBaseOPCGroup& group) : group_(group) {}

    std::string_view GetDialogName() const override { return "group"; }
    void OnInitDialog() override;
    // Checks the rate's text, then the name, then the rate's value; stores all three.
    bool OnOK() override;

    CDlgControls controls;

    std::string name;
    std::uint32_t updateRate = 0;  // milliseconds
    int active = 0;

  private:
    clBaseOPCGroup& group_;
};
