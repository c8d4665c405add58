#pragma once
// The write dialog: asks for a number to write to an item. The caller reads the value after an
// accepted Write and does the writing (item_commands.h).

#include <string>
#include <string_view>

#include "document/dlg_controls.h"
#include "framework/dialog.h"

class clBaseOPCItem;

class CWriteDlg final : public IDialogModel {
  public:
    static constexpr int IDD = 138;
    static constexpr const char* kCaption = "Write value";
    static constexpr const char* kOkCaption = "Write";  // button 1
    static constexpr int IDC_TAG_NAME = 1000;           // shown only
    static constexpr int IDC_VALUE = 1002;
    static constexpr const char* kTagNameLabel = "Tag Name";
    static constexpr const char* kValueLabel = "Value";

    explicit CWriteDlg(const clBaseOPCItem& item) : item_(item) {}

    std::string_view GetDialogName() const override { return "write"; }
    // The tag's display name and its current (scaled) value.
    void OnInitDialog() override;
    // Accepts a value that reads as a number.
    bool OnOK() override;

    CDlgControls controls;

    std::string tagName;
    double value = 0.0;

  private:
    const clBaseOPCItem& item_;
};
