// The group dialog's logic.

#include "document/group_dlg.h"

#include "framework/format.h"
#include "framework/ui_services.h"
#include "model/group_record.h"

void CGroupDlg::OnInitDialog() {
    name = group_.name;
    // The record keeps the rate's 32 bits in a signed field; the dialog shows them unsigned.
    updateRate = static_cast<std::uint32_t>(group_.updateRate);
    active = group_.active;
    controls.SetText(IDC_NAME, name);
    controls.SetText(IDC_UPDATE_RATE, Format("%u", updateRate));
    controls.SetCheck(IDC_ACTIVE, active != 0 ? 1 : 0);
}

bool CGroupDlg::OnOK() {
    name = controls.GetText(IDC_NAME);
    if (!PullUInt(controls, IDC_UPDATE_RATE, updateRate)) {
        return false;
    }
    active = controls.GetCheck(IDC_ACTIVE);
    if (name.empty()) {
        AfxMessageBox(kNameEmpty);
        return false;
    }
    if (updateRate == 0) {
        AfxMessageBox(kRateZero);
        return false;
    }
    group_.name = name;
    group_.updateRate = static_cast<std::int32_t>(updateRate);
    group_.active = active;
    return true;
}
