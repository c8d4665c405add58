// The write dialog's logic.

#include "document/write_dlg.h"

#include "model/item_record.h"

void CWriteDlg::OnInitDialog() {
    tagName = item_.displayName;
    value = item_.value;
    controls.SetText(IDC_TAG_NAME, tagName);
    controls.SetText(IDC_VALUE, DoubleFieldText(value));
}

bool CWriteDlg::OnOK() {
    // The tag name is shown only: what was typed there is not taken.
    return PullDouble(controls, IDC_VALUE, value);
}
