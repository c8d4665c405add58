// The item grid's "Write" and "Properties" commands.

#include "document/item_commands.h"

#include <charconv>

#include "com/variant.h"
#include "document/doc.h"
#include "document/tag_dlg.h"
#include "document/write_dlg.h"
#include "framework/format.h"
#include "framework/hints.h"
#include "framework/ui_services.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/text_compare.h"
#include "model/values.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"

namespace {

// True when the text converts to the type, as the live item will convert it before sending.
bool Converts(const std::string& text, VARTYPE type) {
    VARIANT converted;
    TextToVariant(text, type, converted);
    const bool ok = converted.vt != VT_EMPTY || type == VT_EMPTY;
    VariantClear(&converted);
    return ok;
}

}  // namespace

std::string WriteValueText(double value, VARTYPE canonicalType) {
    if (canonicalType == VT_R4 || canonicalType == VT_R8) {
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
        if (ec == std::errc{}) {
            return {buffer, end};
        }
    }
    return Format("%.0f", value);
}

void OnItemWrite(CDoc& doc) {
    if (!doc.groupSelected || doc.currentGroup == nullptr || doc.currentItem == nullptr) {
        return;
    }
    clBaseOPCItem& item = *doc.currentItem;
    switch (item.WriteCheck()) {
        case clBaseOPCItem::writeReadOnly:
            AfxMessageBox(kTagReadOnly);
            return;
        case clBaseOPCItem::writeNotNumeric:
            AfxMessageBox(kTagNotNumeric);
            return;
        default:
            break;
    }
    CWriteDlg dialog(item);
    if (DoModal(dialog) != IDOK) {
        return;
    }
    COPCGroup* const liveGroup = doc.currentGroup->liveGroup;
    COPCItem* const live = liveGroup != nullptr ? liveGroup->FindItem(item.id) : nullptr;
    if (live == nullptr) {
        return;  // not connected: nothing to write to
    }
    const std::string text = WriteValueText(dialog.value, live->canonicalType);
    if (!Converts(text, live->canonicalType)) {
        // An empty value would go out instead and could clear the plant's value.
        AfxMessageBox(
            Format(kValueDoesNotFit, text.c_str(), TypeName(live->canonicalType).c_str()));
        return;
    }
    live->Write(text);
}

int OnItemProperties(CDoc& doc) {
    if (!doc.groupSelected || doc.currentGroup == nullptr || doc.currentItem == nullptr) {
        return IDCANCEL;
    }
    clBaseOPCItem& item = *doc.currentItem;
    const std::string previousName = item.displayName;
    CTagDlg dialog(item, &doc);
    const int answer = DoModal(dialog);
    if (answer != IDOK) {
        return answer;
    }
    // The scaling, history and name just set belong to the configuration: not to be lost at
    // exit without the question to save.
    doc.SetModifiedFlag();
    if (!EqualsNoCase(item.displayName, previousName)) {
        doc.UpdateAllViews(nullptr, kHintItemRelabelled, &item);
    }
    return answer;
}
