#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/app_icons.h"
#include "app/app_names.h"

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutDialog");
    setWindowTitle("About");
    setModal(true);

    auto* icon = new QLabel;
    icon->setObjectName("icon");
    icon->setPixmap(AppIconPixmap(32));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* lines = new QGridLayout;
    auto* version = new QLabel(Text(kAboutVersionLine));
    version->setObjectName("version");
    auto* maker = new QLabel(Text(kAboutMakerLine));
    maker->setObjectName("maker");
    auto* webSite = new QLabel(Text(kAboutWebSite));
    webSite->setObjectName("webSite");
    webSite->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* email = new QLabel(Text(kAboutEmail));
    email->setObjectName("email");
    email->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines->addWidget(version, 0, 0, 1, 2);
    lines->addWidget(maker, 1, 0, 1, 2);
    lines->addWidget(new QLabel("WebSite:"), 2, 0);
    lines->addWidget(webSite, 2, 1);
    lines->addWidget(new QLabel("E-Mail:"), 3, 0);
    lines->addWidget(email, 3, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(lines, 1);
    top->addWidget(buttons, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
