#pragma once
// The Qt face of the write dialog: the number to write to an item.

#include "ui/model_dialog.h"

class CWriteDlg;

class CWriteDialog final : public CModelDialog {
    Q_OBJECT

  public:
    CWriteDialog(CWriteDlg& model, QWidget* parent);
};
