#include "ui/server_properties_dialog.h"

#include "document/server_properties_dlg.h"

CServerPropertiesDialog::CServerPropertiesDialog(CServerPropertiesDlg& model, QWidget* parent)
    : CModelDialog(model, &model.controls, parent) {
    using Dlg = CServerPropertiesDlg;
    setWindowTitle(Dlg::kCaption);
    AddButton(IDOK, "OK", Du(235, 16, 50, 14), true);
    AddButton(IDCANCEL, "Cancel", Du(235, 32, 50, 14));
    AddLabel(Dlg::kProgIdLabel, Du(7, 15, 61, 10), Qt::AlignRight);
    AddEdit(Dlg::IDC_PROG_ID, Du(74, 13, 151, 15), true);
    AddLabel(Dlg::kHostLabel, Du(7, 32, 61, 10), Qt::AlignRight);
    AddEdit(Dlg::IDC_HOST, Du(74, 30, 152, 15), true);
    AddLabel(Dlg::kConnectedLabel, Du(7, 50, 61, 10), Qt::AlignRight);
    AddEdit(Dlg::IDC_CONNECTED, Du(74, 48, 70, 15), true);
    SetSizeDu(292, 72);
}
