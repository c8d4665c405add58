// The document's dialogs through their models.

#include "document/model_dialogs.h"

#include "document/browse_dlg.h"
#include "document/group_dlg.h"
#include "document/server_dlg.h"
#include "document/server_properties_dlg.h"
#include "framework/message_box.h"

int CModelDocumentDialogs::DoServerDialog(COPCServer& server) {
    CServerDlg dialog(server);
    return DoModal(dialog);
}

int CModelDocumentDialogs::DoServerProperties(clBaseOPCServer& server) {
    CServerPropertiesDlg dialog(server);
    return DoModal(dialog);
}

int CModelDocumentDialogs::DoGroupDialog(clBaseOPCGroup& group) {
    CGroupDlg dialog(group);
    return DoModal(dialog);
}

int CModelDocumentDialogs::DoNewItems(CDoc& doc, clBaseOPCGroup& group) {
    CBrowseDlg dialog(doc, group);
    return DoModal(dialog);
}
