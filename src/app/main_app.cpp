#include "app/main_app.h"

#include <filesystem>

#include <QCoreApplication>
#include <QFileDialog>
#include <QSettings>
#include <QStringList>

#include "app/about_dialog.h"
#include "app/apartment_pump.h"
#include "app/app_names.h"
#include "app/main_frame.h"
#include "app/qt_ui_services.h"
#include "com/com_init.h"
#include "document/doc.h"
#include "document/model_dialogs.h"
#include "framework/commands.h"
#include "framework/dialog.h"
#include "framework/ui_services.h"
#include "opc/com_environment.h"
#include "rpc/providers.h"
#include "ui/qt_dialog_host.h"

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FileFilter() {
    return Text(kFileFilter) + ";;All Files (*)";
}

}  // namespace

CMainApp::CMainApp() : CMainApp(Services{}) {}

CMainApp::CMainApp(Services services) : CWinApp(kRecentFileCount), services_(services) {}

CMainApp::~CMainApp() {
    ExitInstance();
}

bool CMainApp::InitInstance(const std::optional<std::string>& file) {
    // Message boxes from here on are the application's.
    IUiServices* ui = services_.ui;
    if (ui == nullptr) {
        qtUi_ = std::make_unique<CQtUiServices>();
        ui = qtUi_.get();
    }
    previousUi_ = SetUiServices(ui);
    uiInstalled_ = true;

    // COM for this thread, the user-interface apartment.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        AfxMessageBox(kOleInitFailed, MB_OK);
        return false;
    }
    oleInitialized_ = true;
    InitComEnvironment();
    comEnvironment_ = true;
    tgv::rpc::InstallTransportProviders();
    // Server callbacks queued for this thread run on the event loop.
    pump_ = std::make_unique<CApartmentPump>();

    QCoreApplication::setOrganizationName(Text(kSettingsOrganization));
    QCoreApplication::setApplicationName(Text(kSettingsApplication));
    LoadRecentFiles();
    settingsLoaded_ = true;

    dialogs_ = std::make_unique<CModelDocumentDialogs>();
    doc_ = std::make_unique<CDoc>();
    doc_->SetDialogs(dialogs_.get());
    frame_ = std::make_unique<CMainFrame>(*this, *doc_);
    IDialogHost* host = services_.dialogHost;
    if (host == nullptr) {
        qtDialogHost_ = std::make_unique<CQtDialogHost>(frame_.get());
        host = qtDialogHost_.get();
    }
    previousDialogHost_ = SetDialogHost(host);
    dialogHostInstalled_ = true;
    SetDocument(doc_.get());

    if (!ProcessShellCommand(file)) {
        return false;
    }
    frame_->UpdateTitle();
    frame_->show();
    return true;
}

int CMainApp::ExitInstance() {
    // The window and the document go while COM is still up: the live servers release their
    // groups and items on their servers.
    SetDocument(nullptr);
    frame_.reset();
    doc_.reset();
    dialogs_.reset();
    if (dialogHostInstalled_) {
        SetDialogHost(previousDialogHost_);
        dialogHostInstalled_ = false;
    }
    qtDialogHost_.reset();
    pump_.reset();
    if (comEnvironment_) {
        ExitComEnvironment();
        comEnvironment_ = false;
    }
    if (oleInitialized_) {
        CoUninitialize();
        oleInitialized_ = false;
    }
    if (settingsLoaded_) {
        SaveRecentFiles();
        settingsLoaded_ = false;
    }
    if (uiInstalled_) {
        SetUiServices(previousUi_);
        uiInstalled_ = false;
    }
    qtUi_.reset();
    return 0;
}

void CMainApp::LoadRecentFiles() {
    QSettings settings;
    settings.beginGroup(Text(kRecentFileSection));
    std::vector<std::string> entries;
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString path = settings.value(QString("File%1").arg(i)).toString();
        if (!path.isEmpty()) {
            entries.push_back(path.toStdString());
        }
    }
    GetRecentFileList().SetEntries(entries);
}

void CMainApp::SaveRecentFiles() const {
    QSettings settings;
    settings.beginGroup(Text(kRecentFileSection));
    const std::vector<std::string>& entries = GetRecentFileList().GetEntries();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString key = QString("File%1").arg(i);
        const auto index = static_cast<std::size_t>(i - 1);
        if (index < entries.size()) {
            settings.setValue(key, QString::fromStdString(entries[index]));
        } else {
            settings.remove(key);
        }
    }
    settings.endGroup();
    settings.sync();
}

std::optional<std::string> CMainApp::PromptForOpenPath() {
    const QString path =
        QFileDialog::getOpenFileName(frame_.get(), "Open", QString(), FileFilter());
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> CMainApp::PromptForSavePath(std::string_view suggested) {
    QFileDialog dialog(frame_.get(), "Save As", QString(), FileFilter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(Text(kDefaultExtension));
    std::string name(suggested);
    if (!name.empty() && std::filesystem::path(name).extension().empty()) {
        name += ".";
        name += kDefaultExtension;
    }
    if (!name.empty()) {
        dialog.selectFile(QString::fromStdString(name));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

void CMainApp::Quit() {
    if (frame_ != nullptr) {
        frame_->CloseForExit();
    }
    QCoreApplication::quit();
}

bool CMainApp::OnCmdMsg(UINT id) {
    if (id == ID_APP_ABOUT) {
        CAboutDialog about(frame_.get());
        about.exec();
        return true;
    }
    return CWinApp::OnCmdMsg(id);
}

std::optional<bool> CMainApp::IsCommandEnabled(UINT id) const {
    if (id == ID_APP_ABOUT) {
        return true;
    }
    return CWinApp::IsCommandEnabled(id);
}
