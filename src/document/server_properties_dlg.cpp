// The server properties dialog's logic.

#include "document/server_properties_dlg.h"

#include "model/server_record.h"

void CServerPropertiesDlg::OnInitDialog() {
    progIdText = server_.GetPropertyText("servername");
    hostText = server_.GetPropertyText("nodename");
    connectedText = server_.GetPropertyText("connection");
    controls.SetText(IDC_PROG_ID, progIdText);
    controls.SetText(IDC_HOST, hostText);
    controls.SetText(IDC_CONNECTED, connectedText);
    for (const int id : {IDC_PROG_ID, IDC_HOST, IDC_CONNECTED}) {
        controls.Enable(id, true);
    }
}
