#include "ui/server_dialog.h"

#include <QCheckBox>
#include <QListWidget>

#include "document/server_dlg.h"
#include "grid/control_id.h"

CServerDialog::CServerDialog(CServerDlg& model, QWidget* parent)
    : CModelDialog(model, &model.controls, parent), model_(model) {
    setWindowTitle(CServerDlg::kCaption);
    AddGroupBox(CServerDlg::kLocalBoxCaption, Du(13, 11, 204, 90));
    AddGroupBox(CServerDlg::kRemoteBoxCaption, Du(14, 108, 204, 71));
    AddButton(IDOK, "OK", Du(227, 16, 50, 14), true);
    AddButton(IDCANCEL, "Cancel", Du(227, 32, 50, 14));

    list_ = new QListWidget(this);
    list_->setGeometry(Du(26, 27, 180, 62));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SetControlId(*list_, CServerDlg::IDC_SERVER_LIST);
    // The model keeps the entries in their sorted order, so rows and model indices agree.
    connect(list_, &QListWidget::currentRowChanged, this,
            [this](int row) { model_.SetCurSel(row); });

    AddLabel(CServerDlg::kHostNameLabel, Du(22, 124, 41, 10), Qt::AlignRight);
    AddEdit(CServerDlg::IDC_HOST_NAME, Du(68, 122, 136, 13));
    AddLabel(CServerDlg::kProgIdLabel, Du(21, 140, 41, 10), Qt::AlignRight);
    AddEdit(CServerDlg::IDC_PROG_ID, Du(68, 139, 136, 13));
    QCheckBox* remote = AddCheck(CServerDlg::IDC_REMOTE, CServerDlg::kRemoteCaption,
                                 Du(98, 159, 104, 12), [this] { model_.OnRemoteClicked(); });
    remote->setLayoutDirection(Qt::RightToLeft);  // the text to the left of the box
    SetSizeDu(285, 186);
}

void CServerDialog::ShowModel() {
    {
        const QSignalBlocker quiet(list_);
        list_->clear();
        for (const std::string& entry : model_.ListEntries()) {
            list_->addItem(QString::fromStdString(entry));
        }
        list_->setCurrentRow(model_.GetCurSel());
        if (model_.GetCurSel() < 0) {
            list_->clearSelection();
        }
    }
    CModelDialog::ShowModel();
}
