#include "ui/history_dialog.h"

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>

#include "com/apartment.h"
#include "document/history_dlg.h"
#include "grid/control_id.h"

namespace {
// How often the dialog looks for batches the worker handed over.
constexpr int kPollMilliseconds = 15;
}  // namespace

CHistoryDialog::CHistoryDialog(CHistoryDlg& model, QWidget* parent)
    : CModelDialog(model, nullptr, parent), model_(model) {
    setWindowTitle(CHistoryDlg::kCaption);
    AddButton(CHistoryDlg::kIdExit, CHistoryDlg::kExitText, Du(439, 16, 50, 14), true);
    QPushButton* removeAll =
        AddButton(CHistoryDlg::kIdRemoveAll, CHistoryDlg::kRemoveAllText, Du(439, 32, 49, 15));
    connect(removeAll, &QPushButton::clicked, this, [this] { RemoveAllPressed(); });

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frame->setGeometry(Du(7, 7, 427, 268));
    SetControlId(*frame, CHistoryDlg::kIdGridFrame);

    AddLabel(CHistoryDlg::kTotalLabel, Du(437, 237, 55, 11), Qt::AlignHCenter);
    total_ = AddEdit(CHistoryDlg::kIdTotal, Du(438, 252, 53, 15), true);
    total_->setAlignment(Qt::AlignCenter);
    SetSizeDu(499, 282);

    grid_ = new CItemGrid(this);
    grid_->SetOwner(this);
    connect(&poll_, &QTimer::timeout, this, [this] { ShowNewRows(); });
}

CHistoryDialog::~CHistoryDialog() {
    grid_->SetOwner(nullptr);
}

bool CHistoryDialog::IsListing() const {
    return model_.IsBusy() || shownRows_ != model_.Rows().size();
}

void CHistoryDialog::ShowModel() {
    grid_->AttachToDialogControl(this, CHistoryDlg::kIdGridFrame);
    grid_->RecalcLayout();
    grid_->SetMode(CItemGrid::HistoryList);
    setWindowTitle(QString::fromStdString(model_.Title()));
    ShowTotal();
    ShowNewRows();
    poll_.start(kPollMilliseconds);
}

void CHistoryDialog::CancelRequested() {
    if (!model_.QueryClose()) {
        return;  // still listing: the model said why
    }
    poll_.stop();
    CModelDialog::CancelRequested();
}

void CHistoryDialog::ShowTotal() {
    total_->setText(QString::number(model_.Total()));
}

void CHistoryDialog::ShowNewRows() {
    // The worker's batches are stored on this thread as the apartment runs them; running it here
    // too keeps the list coming even where nothing else drains it (a drain is safe to nest).
    Apartment::Ui().Drain();
    const auto& rows = model_.Rows();
    if (rows.size() < shownRows_ || model_.BatchesStored() < shownBatches_) {
        // A new listing started ("Remove All"): the grid starts over with it.
        shownRows_ = 0;
        grid_->SetRowCount(0, FALSE);
        grid_->RepaintAll();
    }
    shownBatches_ = model_.BatchesStored();
    if (rows.size() == shownRows_) {
        return;
    }
    grid_->SetRowCount(static_cast<int>(rows.size()), FALSE);
    for (std::size_t i = shownRows_; i < rows.size(); ++i) {
        const int row = static_cast<int>(i);
        const CHistoryDlg::Row& r = rows[i];
        grid_->SetReadOnlyText(0, row, r.no);
        grid_->SetReadOnlyText(1, row, r.timestamp);
        grid_->SetReadOnlyText(2, row, r.value);
        grid_->SetReadOnlyText(3, row, r.quality);
        grid_->SetPlainText(CHistoryDlg::kRemarkColumn, row, r.remark);
    }
    shownRows_ = rows.size();
    grid_->RepaintAll();
}

void CHistoryDialog::RemoveAllPressed() {
    model_.OnRemoveAll();
    ShowTotal();
    ShowNewRows();
}

void CHistoryDialog::OnRemarkEdited(CItemGrid& grid, int row, const std::string& text) {
    if (row < 0 || model_.OnRemarkEdited(static_cast<std::size_t>(row), text)) {
        return;
    }
    // Not stored (the sample has left the buffer): the cell must not show a remark that exists
    // nowhere. The grid writes the typed text after this call, so the old one goes back after it.
    const auto index = static_cast<std::size_t>(row);
    if (index < model_.Rows().size()) {
        QTimer::singleShot(0, this, [this, &grid, row, index] {
            if (index < model_.Rows().size()) {
                grid.SetPlainText(CHistoryDlg::kRemarkColumn, row, model_.Rows()[index].remark);
            }
        });
    }
}
