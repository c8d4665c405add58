#pragma once
// The dialog host of the application: shows each dialog model in its Qt dialog, modally, and
// returns how the model let it end.

#include <memory>

#include "framework/dialog.h"

class CModelDialog;
class QWidget;

class CQtDialogHost final : public IDialogHost {
  public:
    explicit CQtDialogHost(QWidget* parent = nullptr);
    // The window dialogs open over when no other dialog is open (not owned; may be null).
    void SetParentWidget(QWidget* parent);
    // A model the host has no dialog for is cancelled, as nobody can fill it in.
    int DoModal(IDialogModel& model) override;

  private:
    // The Qt dialog for a model, null for a model the host does not know.
    static std::unique_ptr<CModelDialog> MakeDialog(IDialogModel& model, QWidget* parent);

    QWidget* parent_;
};
