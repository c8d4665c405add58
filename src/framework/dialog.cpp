#include "framework/dialog.h"

#include <atomic>

namespace {

// The host of a process where nobody can answer a dialog: every dialog is cancelled.
class CancellingDialogHost final : public IDialogHost {
  public:
    int DoModal(IDialogModel& model) override {
        model.OnInitDialog();
        model.OnCancel();
        return IDCANCEL;
    }
};

std::atomic<IDialogHost*> g_installed{nullptr};
constinit CancellingDialogHost g_cancelling;

}  // namespace

IDialogHost& CurrentDialogHost() {
    IDialogHost* const installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : g_cancelling;
}

IDialogHost* SetDialogHost(IDialogHost* host) {
    return g_installed.exchange(host, std::memory_order_acq_rel);
}

int DoModal(IDialogModel& model) {
    return CurrentDialogHost().DoModal(model);
}
