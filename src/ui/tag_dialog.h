#pragma once
// The Qt face of the tag dialog: an item's name, analog scaling and history settings, with its
// OPC item id and data type shown read-only.

#include "ui/model_dialog.h"

class CTagDlg;

class CTagDialog final : public CModelDialog {
    Q_OBJECT

  public:
    CTagDialog(CTagDlg& model, QWidget* parent);
};
