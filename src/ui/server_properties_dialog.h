#pragma once
// The Qt face of the server properties dialog: three read-only facts about a server record.

#include "ui/model_dialog.h"

class CServerPropertiesDlg;

class CServerPropertiesDialog final : public CModelDialog {
    Q_OBJECT

  public:
    CServerPropertiesDialog(CServerPropertiesDlg& model, QWidget* parent);
};
