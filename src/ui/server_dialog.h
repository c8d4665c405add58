#pragma once
// The Qt face of the server dialog: the local OPC DA servers in a sorted list, or a remote host
// and ProgID behind a check box.

#include "ui/model_dialog.h"

class CServerDlg;
class QListWidget;

class CServerDialog final : public CModelDialog {
    Q_OBJECT

  public:
    CServerDialog(CServerDlg& model, QWidget* parent);

  protected:
    void ShowModel() override;

  private:
    CServerDlg& model_;
    QListWidget* list_;
};
