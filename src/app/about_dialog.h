#pragma once
// The About box: the application icon, the version line, the maker's line with its web site
// and e-mail address, and an OK button. Modal; it changes nothing.

#include <QDialog>

class CAboutDialog final : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};
