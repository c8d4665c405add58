#include "ui/model_dialog.h"

#include <utility>

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "document/dlg_controls.h"
#include "framework/dialog.h"
#include "grid/control_id.h"

CModelDialog::CModelDialog(IDialogModel& model, CDlgControls* controls, QWidget* parent)
    : QDialog(parent), model_(model), controls_(controls) {
    setModal(true);
}

CModelDialog::~CModelDialog() = default;

int CModelDialog::Run() {
    model_.OnInitDialog();
    ShowModel();
    return exec();
}

void CModelDialog::ShowModel() {
    RefreshControls();
}

void CModelDialog::OkPressed() {
    if (model_.OnOK()) {
        done(IDOK);
        return;
    }
    RefreshControls();
    FocusRefusedField();
}

void CModelDialog::CancelRequested() {
    model_.OnCancel();
    done(IDCANCEL);
}

void CModelDialog::reject() {
    CancelRequested();
}

QRect CModelDialog::Du(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return {x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8};
}

void CModelDialog::SetSizeDu(int width, int height) {
    const QRect size = Du(0, 0, width, height);
    resize(size.width(), size.height());
}

QPushButton* CModelDialog::AddButton(int id, const char* text, QRect rect, bool isDefault) {
    auto* button = new QPushButton(QString::fromUtf8(text), this);
    button->setGeometry(rect);
    button->setDefault(isDefault);
    button->setAutoDefault(isDefault);
    SetControlId(*button, static_cast<UINT>(id));
    if (id == IDOK) {
        connect(button, &QPushButton::clicked, this, [this] { OkPressed(); });
    } else if (id == IDCANCEL) {
        connect(button, &QPushButton::clicked, this, [this] { CancelRequested(); });
    } else {
        bound_[id] = button;  // enabled as the model says
    }
    return button;
}

QLineEdit* CModelDialog::AddEdit(int id, QRect rect, bool readOnly) {
    auto* edit = new QLineEdit(this);
    edit->setGeometry(rect);
    edit->setReadOnly(readOnly);
    SetControlId(*edit, static_cast<UINT>(id));
    bound_[id] = edit;
    connect(edit, &QLineEdit::textChanged, this, [this, id](const QString& text) {
        if (!refreshing_ && controls_ != nullptr) {
            controls_->SetText(id, text.toStdString());
        }
    });
    return edit;
}

QCheckBox* CModelDialog::AddCheck(int id, const char* text, QRect rect,
                                  std::function<void()> onClick) {
    auto* box = new QCheckBox(QString::fromUtf8(text), this);
    box->setGeometry(rect);
    SetControlId(*box, static_cast<UINT>(id));
    bound_[id] = box;
    connect(box, &QCheckBox::clicked, this, [this, id, onClick = std::move(onClick)](bool on) {
        if (controls_ != nullptr) {
            controls_->SetCheck(id, on ? 1 : 0);
        }
        if (onClick) {
            onClick();
        }
        RefreshControls();
        FocusRefusedField();
    });
    return box;
}

QRadioButton* CModelDialog::AddRadio(int id, const char* text, QRect rect,
                                     std::function<void()> onClick) {
    auto* radio = new QRadioButton(QString::fromUtf8(text), this);
    radio->setGeometry(rect);
    radio->setAutoExclusive(false);
    SetControlId(*radio, static_cast<UINT>(id));
    bound_[id] = radio;
    connect(radio, &QRadioButton::clicked, this, [this, onClick = std::move(onClick)] {
        if (onClick) {
            onClick();
        }
        RefreshControls();  // the model's check state wins over the click's toggle
    });
    return radio;
}

QLabel* CModelDialog::AddLabel(const char* text, QRect rect, Qt::Alignment align) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setGeometry(rect);
    label->setAlignment(align | Qt::AlignVCenter);
    return label;
}

QGroupBox* CModelDialog::AddGroupBox(const char* text, QRect rect) {
    auto* box = new QGroupBox(QString::fromUtf8(text), this);
    box->setGeometry(rect);
    box->lower();  // a frame behind the controls it surrounds, not their parent
    return box;
}

void CModelDialog::RefreshControls() {
    if (controls_ == nullptr) {
        return;
    }
    refreshing_ = true;
    for (const auto& [id, widget] : bound_) {
        widget->setEnabled(controls_->IsEnabled(id));
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            const QString text = QString::fromStdString(controls_->GetText(id));
            if (edit->text() != text) {
                edit->setText(text);
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget);
                   button != nullptr && button->isCheckable()) {
            button->setChecked(controls_->GetCheck(id) != 0);
        }
    }
    refreshing_ = false;
}

void CModelDialog::FocusRefusedField() {
    if (controls_ == nullptr || controls_->GetFocus() == 0) {
        return;
    }
    const auto at = bound_.find(controls_->GetFocus());
    if (at == bound_.end()) {
        return;
    }
    at->second->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(at->second)) {
        edit->selectAll();
    }
    controls_->SetFocus(0);  // handled; a later refusal names its own field
}
