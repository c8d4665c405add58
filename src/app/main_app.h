#pragma once
// CMainApp: the application object. It starts the process in order (COM and the COM
// environment, the transport providers, the settings area and its recent-file list, the
// document with its dialogs, the main frame, then the configuration of the command line or a
// new one) and ends it in the reverse order. It also shows the file dialogs of File Open and
// Save As and the About box.
//
// It runs over a QApplication the caller made (main, or a test's), whose event loop the
// caller runs between InitInstance and ExitInstance.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "framework/app.h"

class CApartmentPump;
class CDoc;
class CMainFrame;
class CModelDocumentDialogs;
class CQtDialogHost;
class CQtUiServices;
class IDialogHost;
class IUiServices;

class CMainApp : public CWinApp {
  public:
    // The services the application installs while it runs: null ones are its own (Qt message
    // boxes, Qt dialogs); tests give scripted ones.
    struct Services {
        IUiServices* ui = nullptr;
        IDialogHost* dialogHost = nullptr;
    };

    CMainApp();
    explicit CMainApp(Services services);
    // Runs ExitInstance when the caller did not.
    ~CMainApp() override;
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // Starts up; true when the main window is up, false when start-up failed (the reason was
    // shown). ExitInstance is due either way.
    bool InitInstance(const std::optional<std::string>& file);
    // Shuts down: the window and the document go, then the COM environment and COM; the
    // recent-file list is stored. Returns the process exit code; a second call does nothing.
    int ExitInstance();

    CMainFrame* GetMainFrame() const { return frame_.get(); }
    CDoc* GetDoc() const { return doc_.get(); }

    // The recent-file list in the settings ("Recent File List", keys "File1" to "File4").
    void LoadRecentFiles();
    void SaveRecentFiles() const;

    // File Open and Save As: the file dialogs over the main window.
    std::optional<std::string> PromptForOpenPath() override;
    std::optional<std::string> PromptForSavePath(std::string_view suggested) override;
    // Closes the main window and ends the event loop.
    void Quit() override;

    // About (ID_APP_ABOUT): the About box, modally. Other commands as the framework's.
    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;

    // The text shown when COM and OLE cannot be initialised.
    static constexpr std::string_view kOleInitFailed =
        "The COM and OLE libraries could not be initialised.";

  private:
    Services services_;
    std::unique_ptr<CQtUiServices> qtUi_;
    std::unique_ptr<CQtDialogHost> qtDialogHost_;
    std::unique_ptr<CModelDocumentDialogs> dialogs_;
    std::unique_ptr<CApartmentPump> pump_;
    std::unique_ptr<CDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    IUiServices* previousUi_ = nullptr;
    IDialogHost* previousDialogHost_ = nullptr;
    bool uiInstalled_ = false;
    bool dialogHostInstalled_ = false;
    bool oleInitialized_ = false;
    bool comEnvironment_ = false;
    bool settingsLoaded_ = false;
};
