#pragma once
// The document base: what a document is to the framework. It keeps the views that show it and
// tells them about changes, keeps the modified flag, the path and the title, and carries out
// the file operations (new, open, save, the save prompt) around the document's own Serialize.
//
// Opening and saving report their failures to the operator themselves (message boxes with the
// exclamation icon) and return false:
//   - a file that cannot be opened or read: "%1 was not found.", "Access to %1 was denied.", ...
//     The document is left untouched, since nothing of it was changed yet.
//   - a file whose content cannot be read: "Unexpected file format." (damaged or unknown
//     content) or "Failed to open document." (any other failure). The partly read document is
//     replaced by a new, empty one (OnNewDocument).
//   - a save that fails: "Failed to save document." (the document could not be written out),
//     "Disk full while accessing %1.", "Access to %1 was denied." or another file error text.
//     The file on disk stays as it was, and so does the document, still modified.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cmd_target.h"
#include "model/archive.h"

class CView;
class CRecentFileList;

class CDocument : public CCmdTarget {
  public:
    // The title of a document that was never saved or opened.
    static constexpr std::string_view kUntitled = "Untitled";

    CDocument() = default;
    // Detaches every view still attached.
    ~CDocument() override;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;

    // Views. Adding attaches the view to this document (leaving any other); adding a view twice
    // changes nothing. Views are not owned.
    void AddView(CView* view);
    void RemoveView(CView* view);
    const std::vector<CView*>& GetViews() const { return views_; }
    // Calls OnUpdate on every view but the sender, in the order they were added. A view that
    // an earlier view's update removes is not called; one it adds is called from the next
    // update on.
    void UpdateAllViews(CView* sender, int hint = 0, void* object = nullptr);
    // Calls OnInitialUpdate on every view, after the document was made new or opened.
    void SendInitialUpdate();

    // The modified flag: set by every change, cleared by a new document and a successful
    // open or save.
    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }

    // The file of the document, "" while it has none. Setting it makes the path absolute, sets
    // the title to the file name and, when asked, puts the file first in the recent-file list.
    const std::string& GetPathName() const { return path_; }
    void SetPathName(std::string_view path, bool addToRecentFiles = true);
    // "Untitled" until the document was saved or opened, then the file name without directory.
    const std::string& GetTitle() const { return title_; }
    void SetTitle(std::string_view title);

    // File New: empties the document (DeleteContents), forgets the path, title "Untitled",
    // not modified. Overrides call it first and go on only when it returns true.
    virtual bool OnNewDocument();
    // File Open: reads the file at path (see the top of this file). On success the document
    // holds the file's content, is not modified, and has the path and its title. An empty file
    // is not read: the document is emptied (DeleteContents) and Serialize is not called.
    // Overrides call it first and go on only when it returns true.
    virtual bool OnOpenDocument(const std::string& path);
    // Writes the document (Serialize in storing direction) to the file at path, replacing it
    // safely. On success the modified flag is cleared and the document takes path and title.
    virtual bool OnSaveDocument(const std::string& path);
    // The document is closing (the application ends): its contents are emptied.
    virtual void OnCloseDocument();
    // Empties the document's contents; the base has none.
    virtual void DeleteContents() {}
    // Writes or reads the whole document, as the archive's direction says.
    virtual void Serialize(CArchive& ar) = 0;
    // The classes the document's files may contain.
    virtual const ClassRegistry& GetClasses() const = 0;

    // Before the document is replaced or closed: when it is modified, asks
    // "Save changes to <title>?" (Yes, No, Cancel). Yes saves (DoFileSave), No goes on without
    // saving. Returns true when the caller may go on: not modified, No, or Yes and saved; false
    // for Cancel, a failed save or a refused save path.
    bool SaveModified();
    // File Save: saves to the document's path, or asks for one when it has none.
    bool DoFileSave();
    // Saves to path, or to a path asked for (PromptForSavePath) when path is empty (File Save
    // As). False when the operator gave no path or the save failed.
    bool DoSave(std::string_view path);

    // Asks the operator for the path to save under, suggesting the current path or, for an
    // untitled document, its title; nullopt when the operator cancels. The default asks the
    // prompt installed with SetSavePathPrompt and cancels when there is none.
    virtual std::optional<std::string> PromptForSavePath(std::string_view suggested);
    using SavePathPrompt = std::function<std::optional<std::string>(std::string_view suggested)>;
    void SetSavePathPrompt(SavePathPrompt prompt) { savePathPrompt_ = std::move(prompt); }

    // The recent-file list that opened and saved files join (not owned; null for none).
    void SetRecentFileList(CRecentFileList* list) { recentFiles_ = list; }

    // The document handles File Save and File Save As, always enabled. Overrides call these
    // for the ids they do not handle themselves.
    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;

  protected:
    // The file access under open and save, as errno values (0 is success). Tests replace them
    // to produce failures a real disk will not readily give (disk full).
    virtual int ReadDocumentFile(const std::string& path, std::vector<std::uint8_t>& bytes);
    virtual int WriteDocumentFile(const std::string& path, std::span<const std::uint8_t> bytes);

  private:
    void ResetAfterFailedOpen();

    std::vector<CView*> views_;
    bool modified_ = false;
    std::string path_;
    std::string title_{kUntitled};
    SavePathPrompt savePathPrompt_;
    CRecentFileList* recentFiles_ = nullptr;
};

// The main window's title for a document: its title, " - " and the application's title.
std::string FrameTitle(const CDocument& doc, std::string_view appTitle);
