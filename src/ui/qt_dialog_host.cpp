#include "ui/qt_dialog_host.h"

#include <QApplication>

#include "document/browse_dlg.h"
#include "document/group_dlg.h"
#include "document/history_dlg.h"
#include "document/server_dlg.h"
#include "document/server_properties_dlg.h"
#include "document/tag_dlg.h"
#include "document/write_dlg.h"
#include "ui/browse_dialog.h"
#include "ui/group_dialog.h"
#include "ui/history_dialog.h"
#include "ui/server_dialog.h"
#include "ui/server_properties_dialog.h"
#include "ui/tag_dialog.h"
#include "ui/write_dialog.h"

namespace {

// The model's own class when its name says it is one, null otherwise.
template <class Model>
Model* As(IDialogModel& model, std::string_view name) {
    return model.GetDialogName() == name ? dynamic_cast<Model*>(&model) : nullptr;
}

}  // namespace

CQtDialogHost::CQtDialogHost(QWidget* parent) : parent_(parent) {}

void CQtDialogHost::SetParentWidget(QWidget* parent) {
    parent_ = parent;
}

std::unique_ptr<CModelDialog> CQtDialogHost::MakeDialog(IDialogModel& model, QWidget* parent) {
    if (auto* m = As<CServerDlg>(model, "server")) {
        return std::make_unique<CServerDialog>(*m, parent);
    }
    if (auto* m = As<CServerPropertiesDlg>(model, "server_properties")) {
        return std::make_unique<CServerPropertiesDialog>(*m, parent);
    }
    if (auto* m = As<CGroupDlg>(model, "group")) {
        return std::make_unique<CGroupDialog>(*m, parent);
    }
    if (auto* m = As<CTagDlg>(model, "tag")) {
        return std::make_unique<CTagDialog>(*m, parent);
    }
    if (auto* m = As<CWriteDlg>(model, "write")) {
        return std::make_unique<CWriteDialog>(*m, parent);
    }
    if (auto* m = As<CHistoryDlg>(model, "history")) {
        return std::make_unique<CHistoryDialog>(*m, parent);
    }
    if (auto* m = As<CBrowseDlg>(model, "new items")) {
        return std::make_unique<CBrowseDialog>(*m, parent);
    }
    return nullptr;
}

int CQtDialogHost::DoModal(IDialogModel& model) {
    // A dialog opened from a dialog (the history from the tag dialog) opens over it.
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) {
        parent = parent_;
    }
    std::unique_ptr<CModelDialog> dialog = MakeDialog(model, parent);
    if (!dialog) {
        model.OnCancel();
        return IDCANCEL;
    }
    return dialog->Run();
}
