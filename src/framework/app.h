#pragma once
// The application core of a single-document program: File New, File Open, the recent files
// and Exit, around the one document. The GUI's application derives from it and supplies the
// file dialogs (PromptForOpenPath, PromptForSavePath) and the way to quit.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "framework/cmd_target.h"
#include "framework/recent_files.h"

class CDocument;

class CWinApp : public CCmdTarget {
  public:
    explicit CWinApp(std::size_t recentFiles = 4);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The document (not owned; null for none). Its save prompt and recent-file list become
    // this application's.
    void SetDocument(CDocument* doc);
    CDocument* GetDocument() const { return document_; }
    CRecentFileList& GetRecentFileList() { return recentFiles_; }
    const CRecentFileList& GetRecentFileList() const { return recentFiles_; }

    // Start-up: a new document without a file, else the file opened. True on success.
    bool ProcessShellCommand(const std::optional<std::string>& file);

    // File New: asks to save a modified document, then makes it new and gives the views their
    // initial update. False when the operator cancelled or the new document failed.
    bool OnFileNew();
    // File Open: asks for a path, then OpenDocumentFile. False when cancelled or failed.
    bool OnFileOpen();
    // Opens the file as the document: asks to save a modified document, then opens the file;
    // on success the views get their initial update and the file goes first in the recent-file
    // list. The file the document already has is not read again (true, nothing happens).
    bool OpenDocumentFile(const std::string& path);
    // A recent-file entry (ID_FILE_MRU_FILE1 + n): opens it; an entry whose file failed to open
    // leaves the list, one whose opening the operator cancelled stays.
    bool OnOpenRecentFile(UINT id);
    // Before quitting: asks to save a modified document. True when the program may end.
    bool SaveAllModified();
    // Exit: SaveAllModified, then closes the document (OnCloseDocument) and quits. False when
    // the operator cancelled.
    bool OnAppExit();

    // The path of a file to open, nullopt when the operator cancels; the default cancels.
    virtual std::optional<std::string> PromptForOpenPath() { return std::nullopt; }
    // The path to save the document under; the default cancels.
    virtual std::optional<std::string> PromptForSavePath(std::string_view /*suggested*/) {
        return std::nullopt;
    }
    // Ends the program's event loop; called by OnAppExit once the document is closed.
    virtual void Quit() {}

    // Handles ID_FILE_NEW, ID_FILE_OPEN, the recent-file entries and ID_APP_EXIT. A recent-file
    // entry is enabled while the list has it; the first one stands for the empty list too, and
    // is disabled then.
    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;

  private:
    // As OpenDocumentFile; failed tells a file that did not open from a cancelled prompt.
    bool OpenFile(const std::string& path, bool& failed);

    CDocument* document_ = nullptr;
    CRecentFileList recentFiles_;
};
