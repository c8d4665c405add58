// The tag dialog's logic.

#include "document/tag_dlg.h"

#include "document/history_dlg.h"
#include "framework/format.h"
#include "framework/ui_services.h"
#include "model/item_record.h"

namespace {

constexpr int kNumberFields[] = {CTagDlg::IDC_RAW_LOW, CTagDlg::IDC_RAW_HIGH,
                                 CTagDlg::IDC_SCALED_LOW, CTagDlg::IDC_SCALED_HIGH,
                                 CTagDlg::IDC_FACTOR};
constexpr int kRangeFields[] = {CTagDlg::IDC_RAW_LOW, CTagDlg::IDC_RAW_HIGH,
                                CTagDlg::IDC_SCALED_LOW, CTagDlg::IDC_SCALED_HIGH};

}  // namespace

void CTagDlg::OnInitDialog() {
    name = item_.GetPropertyText("name");
    itemId = item_.GetPropertyText("path");
    dataType = item_.GetPropertyText("type");
    rawLow = item_.rawMin;
    rawHigh = item_.rawMax;
    scaledLow = item_.engMin;
    scaledHigh = item_.engMax;
    factor = item_.scaleFactor;
    scaleType = item_.scaleType;
    scaleEnabled = item_.scaleEnabled ? 1 : 0;
    SetRadios();
    overwrite = item_.history.overwrite ? 1 : 0;
    historySize = item_.history.capacity;
    historyEnabled = item_.history.enabled ? 1 : 0;
    ApplyEnabling();
    PushData();
}

void CTagDlg::OnEnableClicked() {
    PullData();  // a refused field keeps the members, and so the enabling, as they were
    ApplyEnabling();
}

void CTagDlg::OnLinearClicked() {
    scaleType = clBaseOPCItem::scaleTypeLinear;
    SetRadios();
    ApplyEnabling();
}

void CTagDlg::OnScaleFactorClicked() {
    scaleType = clBaseOPCItem::scaleTypeFactor;
    SetRadios();
    ApplyEnabling();
}

void CTagDlg::OnDisplayClicked() {
    CHistoryDlg history(item_, document_);
    DoModal(history);
}

bool CTagDlg::OnOK() {
    if (!PullData()) {
        return false;
    }
    if (historySize < kMinHistorySize) {
        AfxMessageBox(kHistoryTooSmall);
        return false;
    }
    if (historySize > kMaxHistorySize) {
        AfxMessageBox(kHistoryTooLarge);
        return false;
    }
    item_.displayName = name;
    item_.rawMin = rawLow;
    item_.rawMax = rawHigh;
    item_.engMin = scaledLow;
    item_.engMax = scaledHigh;
    item_.scaleFactor = factor;
    item_.scaleType = scaleType;
    item_.scaleEnabled = scaleEnabled != 0;
    item_.history.enabled = historyEnabled != 0;
    item_.history.overwrite = overwrite != 0;
    if (historySize != item_.history.capacity) {
        item_.history.capacity = historySize;
        item_.history.Resize();
    }
    return true;
}

void CTagDlg::PushData() {
    controls.SetText(IDC_NAME, name);
    controls.SetText(IDC_DATA_TYPE, dataType);
    controls.SetText(IDC_RAW_LOW, DoubleFieldText(rawLow));
    controls.SetText(IDC_RAW_HIGH, DoubleFieldText(rawHigh));
    controls.SetText(IDC_SCALED_LOW, DoubleFieldText(scaledLow));
    controls.SetText(IDC_SCALED_HIGH, DoubleFieldText(scaledHigh));
    controls.SetText(IDC_FACTOR, DoubleFieldText(factor));
    controls.SetText(IDC_ITEM_ID, itemId);
    controls.SetCheck(IDC_SCALE_ENABLED, scaleEnabled != 0 ? 1 : 0);
    controls.SetCheck(IDC_HISTORY_ENABLED, historyEnabled != 0 ? 1 : 0);
    controls.SetText(IDC_HISTORY_SIZE, Format("%d", historySize));
    controls.SetCheck(IDC_OVERWRITE, overwrite != 0 ? 1 : 0);
}

bool CTagDlg::PullData() {
    name = controls.GetText(IDC_NAME);
    dataType = controls.GetText(IDC_DATA_TYPE);
    if (!PullDouble(controls, IDC_RAW_LOW, rawLow) ||
        !PullDouble(controls, IDC_RAW_HIGH, rawHigh) ||
        !PullDouble(controls, IDC_SCALED_LOW, scaledLow) ||
        !PullDouble(controls, IDC_SCALED_HIGH, scaledHigh) ||
        !PullDouble(controls, IDC_FACTOR, factor)) {
        return false;
    }
    itemId = controls.GetText(IDC_ITEM_ID);
    scaleEnabled = controls.GetCheck(IDC_SCALE_ENABLED);
    historyEnabled = controls.GetCheck(IDC_HISTORY_ENABLED);
    if (!PullInt(controls, IDC_HISTORY_SIZE, historySize)) {
        return false;
    }
    overwrite = controls.GetCheck(IDC_OVERWRITE);
    return true;
}

void CTagDlg::ApplyEnabling() {
    const bool history = historyEnabled != 0;
    controls.Enable(IDC_DISPLAY, history);
    controls.Enable(IDC_HISTORY_SIZE, history);
    controls.Enable(IDC_OVERWRITE, history);

    if (!item_.IsScalable()) {
        controls.Enable(IDC_SCALE_ENABLED, false);
        controls.Enable(IDC_LINEAR, false);
        controls.Enable(IDC_SCALE_FACTOR, false);
        for (const int id : kNumberFields) {
            controls.Enable(id, false);
        }
        return;
    }
    controls.Enable(IDC_SCALE_ENABLED, true);
    if (scaleEnabled == 0) {
        controls.Enable(IDC_LINEAR, false);
        controls.Enable(IDC_SCALE_FACTOR, false);
        for (const int id : kNumberFields) {
            controls.Enable(id, false);
        }
        return;
    }
    controls.Enable(IDC_LINEAR, true);
    controls.Enable(IDC_SCALE_FACTOR, true);
    if (scaleType == clBaseOPCItem::scaleTypeLinear) {
        for (const int id : kRangeFields) {
            controls.Enable(id, true);
        }
        controls.Enable(IDC_FACTOR, false);
    } else if (scaleType == clBaseOPCItem::scaleTypeFactor) {
        for (const int id : kRangeFields) {
            controls.Enable(id, false);
        }
        controls.Enable(IDC_FACTOR, true);
    }
}

void CTagDlg::SetRadios() {
    if (scaleType == clBaseOPCItem::scaleTypeLinear) {
        controls.SetCheck(IDC_LINEAR, 1);
        controls.SetCheck(IDC_SCALE_FACTOR, 0);
    } else if (scaleType == clBaseOPCItem::scaleTypeFactor) {
        controls.SetCheck(IDC_LINEAR, 0);
        controls.SetCheck(IDC_SCALE_FACTOR, 1);
    }
}
