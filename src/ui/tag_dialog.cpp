#include "ui/tag_dialog.h"

#include <QPushButton>

#include "document/tag_dlg.h"

CTagDialog::CTagDialog(CTagDlg& model, QWidget* parent)
    : CModelDialog(model, &model.controls, parent) {
    using Dlg = CTagDlg;
    setWindowTitle(Dlg::kCaption);
    // Frames first, so the controls they surround lie above them.
    AddGroupBox(Dlg::kAnalogBoxCaption, Du(58, 74, 206, 129));
    AddGroupBox(Dlg::kLinearCaption, Du(72, 103, 171, 50));
    AddGroupBox(Dlg::kScaleFactorCaption, Du(72, 158, 171, 36));
    AddGroupBox(Dlg::kHistoryBoxCaption, Du(58, 207, 206, 51));

    AddButton(IDOK, "OK", Du(248, 13, 50, 14), true);
    AddButton(IDCANCEL, "Cancel", Du(248, 30, 50, 14));
    AddLabel(Dlg::kNameLabel, Du(15, 15, 43, 10));
    AddEdit(Dlg::IDC_NAME, Du(65, 12, 175, 15));
    AddLabel(Dlg::kItemIdLabel, Du(15, 32, 43, 10));
    AddEdit(Dlg::IDC_ITEM_ID, Du(65, 30, 175, 15), true);
    AddLabel(Dlg::kDataTypeLabel, Du(14, 51, 44, 10));
    AddEdit(Dlg::IDC_DATA_TYPE, Du(65, 48, 69, 15), true);

    AddCheck(Dlg::IDC_SCALE_ENABLED, Dlg::kScaleEnabledCaption, Du(76, 89, 57, 11),
             [&model] { model.OnEnableClicked(); });
    AddRadio(Dlg::IDC_LINEAR, Dlg::kLinearCaption, Du(144, 91, 39, 8),
             [&model] { model.OnLinearClicked(); });
    AddRadio(Dlg::IDC_SCALE_FACTOR, Dlg::kScaleFactorCaption, Du(195, 91, 58, 8),
             [&model] { model.OnScaleFactorClicked(); });
    AddLabel(Dlg::kRawLabel, Du(67, 119, 38, 11));
    AddEdit(Dlg::IDC_RAW_LOW, Du(115, 117, 49, 13));
    AddLabel(Dlg::kRangeDash, Du(168, 119, 8, 11));
    AddEdit(Dlg::IDC_RAW_HIGH, Du(183, 117, 49, 13));
    AddLabel(Dlg::kScaleToLabel, Du(67, 137, 38, 11));
    AddEdit(Dlg::IDC_SCALED_LOW, Du(115, 135, 49, 13));
    AddLabel(Dlg::kRangeDash, Du(168, 137, 8, 11));
    AddEdit(Dlg::IDC_SCALED_HIGH, Du(183, 135, 49, 13));
    AddLabel(Dlg::kFactorLabel, Du(75, 175, 30, 11));
    AddEdit(Dlg::IDC_FACTOR, Du(115, 173, 49, 13));

    AddLabel(Dlg::kHistorySizeLabel, Du(68, 224, 44, 11));
    AddEdit(Dlg::IDC_HISTORY_SIZE, Du(119, 223, 49, 13));
    QPushButton* display = AddButton(Dlg::IDC_DISPLAY, Dlg::kDisplayCaption, Du(176, 222, 54, 14));
    // The button's enabling comes from the model like a bound control's.
    connect(display, &QPushButton::clicked, this, [&model] { model.OnDisplayClicked(); });
    AddCheck(Dlg::IDC_HISTORY_ENABLED, Dlg::kHistoryEnabledCaption, Du(120, 240, 44, 11),
             [&model] { model.OnEnableClicked(); });
    AddCheck(Dlg::IDC_OVERWRITE, Dlg::kOverwriteCaption, Du(177, 240, 53, 11));
    SetSizeDu(306, 265);
}
