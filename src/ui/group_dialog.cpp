#include "ui/group_dialog.h"

#include "document/group_dlg.h"

CGroupDialog::CGroupDialog(CGroupDlg& model, QWidget* parent)
    : CModelDialog(model, &model.controls, parent) {
    setWindowTitle(CGroupDlg::kCaption);
    AddButton(IDOK, "OK", Du(192, 11, 50, 14), true);
    AddButton(IDCANCEL, "Cancel", Du(192, 28, 50, 14));
    AddLabel(CGroupDlg::kNameLabel, Du(25, 15, 29, 10), Qt::AlignRight);
    AddEdit(CGroupDlg::IDC_NAME, Du(63, 12, 121, 15));
    AddLabel(CGroupDlg::kUpdateRateLabel, Du(7, 33, 47, 10), Qt::AlignRight);
    AddEdit(CGroupDlg::IDC_UPDATE_RATE, Du(63, 30, 54, 15));
    AddLabel(CGroupDlg::kUpdateRateUnit, Du(121, 33, 47, 10));
    AddCheck(CGroupDlg::IDC_ACTIVE, CGroupDlg::kActiveCaption, Du(65, 50, 62, 12));
    SetSizeDu(250, 70);
}
