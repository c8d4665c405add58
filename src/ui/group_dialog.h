#pragma once
// The Qt face of the group dialog: a group's name, update rate and active flag.

#include "ui/model_dialog.h"

class CGroupDlg;

class CGroupDialog final : public CModelDialog {
    Q_OBJECT

  public:
    CGroupDialog(CGroupDlg& model, QWidget* parent);
};
