#pragma once
// The tag dialog: an item record's display name, its analog scaling and its history settings,
// with its OPC item id and data type shown read-only.

#include <cstdint>
#include <string>
#include <string_view>

#include "document/dlg_controls.h"
#include "framework/dialog.h"

class CDocument;
class clBaseOPCItem;

class CTagDlg final : public IDialogModel {
  public:
    static constexpr int IDD = 136;
    static constexpr const char* kCaption = "Tag Properties";
    static constexpr int IDC_NAME = 1000;
    static constexpr int IDC_ITEM_ID = 1001;    // read-only
    static constexpr int IDC_DATA_TYPE = 1002;  // read-only
    static constexpr int IDC_DISPLAY = 1008;    // push button: the history dialog
    static constexpr int IDC_RAW_LOW = 1016;
    static constexpr int IDC_RAW_HIGH = 1017;
    static constexpr int IDC_SCALED_LOW = 1018;
    static constexpr int IDC_SCALED_HIGH = 1019;
    static constexpr int IDC_FACTOR = 1020;
    static constexpr int IDC_LINEAR = 1021;        // radio button
    static constexpr int IDC_SCALE_FACTOR = 1022;  // radio button
    static constexpr int IDC_SCALE_ENABLED = 1023;
    static constexpr int IDC_HISTORY_ENABLED = 1024;
    static constexpr int IDC_HISTORY_SIZE = 1025;
    static constexpr int IDC_OVERWRITE = 1026;

    static constexpr const char* kNameLabel = "Name";
    static constexpr const char* kItemIdLabel = "OPC Item";
    static constexpr const char* kDataTypeLabel = "Data Type";
    static constexpr const char* kAnalogBoxCaption = "Analog Parameter";
    static constexpr const char* kScaleEnabledCaption = "Enable Scale";
    static constexpr const char* kLinearCaption = "Linear";             // radio and group box
    static constexpr const char* kScaleFactorCaption = "Scale Factor";  // radio and group box
    static constexpr const char* kRawLabel = "Raw";
    static constexpr const char* kRangeDash = "-";
    static constexpr const char* kScaleToLabel = "Scale To";
    static constexpr const char* kFactorLabel = "Factor";
    static constexpr const char* kHistoryBoxCaption = "Historical Values";
    static constexpr const char* kHistorySizeLabel = "History Size";
    static constexpr const char* kDisplayCaption = "Display";
    static constexpr const char* kHistoryEnabledCaption = "Enable";
    static constexpr const char* kOverwriteCaption = "Overwrite";

    static constexpr std::int32_t kMinHistorySize = 1;
    static constexpr std::int32_t kMaxHistorySize = 1024;
    static constexpr const char* kHistoryTooSmall = "Historical size must be greater than zero";
    static constexpr const char* kHistoryTooLarge = "Maximum size of History is 1024";

    // The record is not owned; it is written only by an accepted OK. The document (may be
    // null) is the one the history dialog marks modified when a remark is typed.
    explicit CTagDlg(clBaseOPCItem& item, CDocument* document = nullptr)
        : item_(item), document_(document) {}

    std::string_view GetDialogName() const override { return "tag"; }
    void OnInitDialog() override;
    // "Enable Scale" (1023) or "Enable" (1024) clicked.
    void OnEnableClicked();
    void OnLinearClicked();       // 1021
    void OnScaleFactorClicked();  // 1022
    // "Display" (1008): the item's history as stored, whatever the fields say.
    void OnDisplayClicked();
    // Parses every field, checks the history size and writes everything back.
    bool OnOK() override;

    CDlgControls controls;

    std::string name;
    std::string dataType;
    double rawLow = 0.0;
    double rawHigh = 0.0;
    double scaledLow = 0.0;
    double scaledHigh = 0.0;
    double factor = 0.0;
    std::string itemId;
    int scaleEnabled = 0;
    std::int32_t scaleType = 0;  // 1 linear, 2 factor; follows the radios, not exchanged
    int historyEnabled = 0;
    std::int32_t historySize = 0;
    int overwrite = 0;

  private:
    void PushData();
    // Pulls in exchange order; stops at the first field that does not parse.
    bool PullData();
    void ApplyEnabling();
    void SetRadios();

    clBaseOPCItem& item_;
    CDocument* document_;
};
