#pragma once
// Modal dialogs without pixels: a dialog model holds a dialog's fields and logic (checks,
// enabling, what OK does), a dialog host shows it and returns the operator's answer. The GUI
// installs a host that builds the widgets for each model; tests install a scripted host
// (framework/scripted_dialog.h); with none installed every dialog is cancelled, since nobody
// is there to fill it in.
//
//   CGroupDlgModel model(record);
//   if (DoModal(model) != IDOK) { ... cancelled ... }

#include <string_view>

#include "framework/message_box.h"

class IDialogModel {
  public:
    virtual ~IDialogModel() = default;

    // A name that says which dialog this is, for the host to pick its widgets and for tests and
    // traces to name it.
    virtual std::string_view GetDialogName() const = 0;
    // Called once when the dialog opens, before the operator sees the fields.
    virtual void OnInitDialog() {}
    // The operator pressed OK after the host wrote the fields into the model. True closes the
    // dialog with IDOK; false refuses (the model showed its reason in a message box) and the
    // dialog stays open.
    virtual bool OnOK() { return true; }
    // The dialog closes with IDCANCEL.
    virtual void OnCancel() {}

  protected:
    IDialogModel() = default;
    IDialogModel(const IDialogModel&) = default;
    IDialogModel& operator=(const IDialogModel&) = default;
};

class IDialogHost {
  public:
    // Shows the model's dialog modally and returns how it ended: IDOK after the model accepted
    // OK, IDCANCEL after OnCancel, or another id a dialog ends with.
    virtual int DoModal(IDialogModel& model) = 0;

  protected:
    ~IDialogHost() = default;
};

// The host in use: the installed one, or the host that cancels every dialog.
IDialogHost& CurrentDialogHost();

// Installs a host (not owned; it must outlive its installation) and returns the one installed
// before, null when that was the cancelling host. Null reinstates the cancelling host.
IDialogHost* SetDialogHost(IDialogHost* host);

// Installs a host for the lifetime of a scope and restores the previous one after it.
class ScopedDialogHost {
  public:
    explicit ScopedDialogHost(IDialogHost& host) : previous_(SetDialogHost(&host)) {}
    ~ScopedDialogHost() { SetDialogHost(previous_); }
    ScopedDialogHost(const ScopedDialogHost&) = delete;
    ScopedDialogHost& operator=(const ScopedDialogHost&) = delete;

  private:
    IDialogHost* previous_;
};

// Shows a dialog through the current host and returns its answer.
int DoModal(IDialogModel& model);
