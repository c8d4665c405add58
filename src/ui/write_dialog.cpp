#include "ui/write_dialog.h"

#include "document/write_dlg.h"

CWriteDialog::CWriteDialog(CWriteDlg& model, QWidget* parent)
    : CModelDialog(model, &model.controls, parent) {
    setWindowTitle(CWriteDlg::kCaption);
    AddButton(IDOK, CWriteDlg::kOkCaption, Du(229, 13, 50, 14), true);
    AddButton(IDCANCEL, "Cancel", Du(229, 30, 50, 14));
    AddLabel(CWriteDlg::kTagNameLabel, Du(15, 15, 43, 10));
    AddEdit(CWriteDlg::IDC_TAG_NAME, Du(65, 12, 154, 15));
    AddLabel(CWriteDlg::kValueLabel, Du(15, 32, 43, 10));
    AddEdit(CWriteDlg::IDC_VALUE, Du(65, 30, 69, 15));
    SetSizeDu(287, 53);
}
