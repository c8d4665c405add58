#include "framework/document.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "framework/commands.h"
#include "framework/file_error.h"
#include "framework/file_io.h"
#include "framework/recent_files.h"
#include "framework/ui_services.h"
#include "framework/view.h"

namespace {

constexpr UINT kErrorBox = MB_OK | MB_ICONEXCLAMATION;
constexpr std::string_view kFailedToOpen = "Failed to open document.";
constexpr std::string_view kFailedToSave = "Failed to save document.";
constexpr std::string_view kBadFormat = "Unexpected file format.";

// The message for an archive that could not be read: damaged or unknown content says so, any
// other failure is the plain failure to open.
std::string_view OpenFailureText(CArchiveException::Cause cause) {
    switch (cause) {
        case CArchiveException::endOfFile:
        case CArchiveException::badIndex:
        case CArchiveException::badClass:
        case CArchiveException::badSchema:
            return kBadFormat;
        case CArchiveException::generic:
        case CArchiveException::readOnly:
        case CArchiveException::writeOnly:
            break;
    }
    return kFailedToOpen;
}

void ReportFileError(int error, std::string_view path, FileAccess access) {
    AfxMessageBox(FileErrorMessage(CFileException::FromErrno(error), path, access), kErrorBox);
}

}  // namespace

CDocument::~CDocument() {
    for (CView* view : views_) {
        view->document_ = nullptr;
    }
}

void CDocument::AddView(CView* view) {
    if (view == nullptr || view->document_ == this) {
        return;
    }
    if (view->document_ != nullptr) {
        view->document_->RemoveView(view);
    }
    views_.push_back(view);
    view->document_ = this;
}

void CDocument::RemoveView(CView* view) {
    const auto found = std::find(views_.begin(), views_.end(), view);
    if (found == views_.end()) {
        return;
    }
    views_.erase(found);
    view->document_ = nullptr;
}

void CDocument::UpdateAllViews(CView* sender, int hint, void* object) {
    // A view may add or remove views while it updates, so the walk goes over a copy and skips
    // the views that left in the meantime.
    const std::vector<CView*> views = views_;
    for (CView* view : views) {
        if (view == sender || std::find(views_.begin(), views_.end(), view) == views_.end()) {
            continue;
        }
        view->OnUpdate(sender, hint, object);
    }
}

void CDocument::SendInitialUpdate() {
    const std::vector<CView*> views = views_;
    for (CView* view : views) {
        if (std::find(views_.begin(), views_.end(), view) != views_.end()) {
            view->OnInitialUpdate();
        }
    }
}

void CDocument::SetPathName(std::string_view path, bool addToRecentFiles) {
    if (path.empty()) {
        path_.clear();
        SetTitle(kUntitled);
        return;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    path_ = error ? std::string(path) : absolute.lexically_normal().string();
    SetTitle(std::filesystem::path(path_).filename().string());
    if (addToRecentFiles && recentFiles_ != nullptr) {
        recentFiles_->Add(path_);
    }
}

void CDocument::SetTitle(std::string_view title) {
    title_ = title;
    const std::vector<CView*> views = views_;
    for (CView* view : views) {
        if (std::find(views_.begin(), views_.end(), view) != views_.end()) {
            view->OnTitleChanged();
        }
    }
}

bool CDocument::OnNewDocument() {
    DeleteContents();
    path_.clear();
    SetTitle(kUntitled);
    SetModifiedFlag(false);
    return true;
}

bool CDocument::OnOpenDocument(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (const int error = ReadDocumentFile(path, bytes); error != 0) {
        // Nothing of the document was touched yet: it stays as it was.
        ReportFileError(error, path, FileAccess::read);
        return false;
    }

    DeleteContents();
    // Changed from here on: a read that fails half way leaves a document that is neither the
    // old one nor the file's.
    SetModifiedFlag(true);
    try {
        if (!bytes.empty()) {
            CArchive ar(std::span<const std::uint8_t>(bytes), GetClasses());
            Serialize(ar);
        }
    } catch (const CArchiveException& e) {
        AfxMessageBox(OpenFailureText(e.GetCause()), kErrorBox);
        ResetAfterFailedOpen();
        return false;
    } catch (const std::exception&) {
        AfxMessageBox(kFailedToOpen, kErrorBox);
        ResetAfterFailedOpen();
        return false;
    }

    SetModifiedFlag(false);
    SetPathName(path);
    return true;
}

void CDocument::ResetAfterFailedOpen() {
    // The partly read content goes; what remains is what File New gives.
    if (!OnNewDocument()) {
        CDocument::OnNewDocument();
    }
}

bool CDocument::OnSaveDocument(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    try {
        CArchive ar;
        Serialize(ar);
        bytes = ar.TakeBytes();
    } catch (const std::exception&) {
        AfxMessageBox(kFailedToSave, kErrorBox);
        return false;
    }
    if (const int error = WriteDocumentFile(path, bytes); error != 0) {
        ReportFileError(error, path, FileAccess::write);
        return false;
    }
    SetModifiedFlag(false);
    SetPathName(path);
    return true;
}

void CDocument::OnCloseDocument() {
    DeleteContents();
}

bool CDocument::SaveModified() {
    if (!IsModified()) {
        return true;
    }
    const std::string prompt = "Save changes to " + title_ + "?";
    switch (AfxMessageBox(prompt, MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES:
            return DoFileSave();
        case IDNO:
            return true;
        default:
            return false;
    }
}

bool CDocument::DoFileSave() {
    // A file that may not be written is saved under a new name instead.
    if (path_.empty() || IsReadOnlyFile(path_)) {
        return DoSave({});
    }
    return DoSave(path_);
}

bool CDocument::DoSave(std::string_view path) {
    std::string target(path);
    if (target.empty()) {
        const std::optional<std::string> chosen =
            PromptForSavePath(path_.empty() ? std::string_view(title_) : std::string_view(path_));
        if (!chosen.has_value() || chosen->empty()) {
            return false;
        }
        target = *chosen;
    }
    return OnSaveDocument(target);
}

std::optional<std::string> CDocument::PromptForSavePath(std::string_view suggested) {
    if (!savePathPrompt_) {
        return std::nullopt;
    }
    return savePathPrompt_(suggested);
}

bool CDocument::OnCmdMsg(UINT id) {
    switch (id) {
        case ID_FILE_SAVE:
            DoFileSave();
            return true;
        case ID_FILE_SAVE_AS:
            DoSave({});
            return true;
        default:
            return CCmdTarget::OnCmdMsg(id);
    }
}

std::optional<bool> CDocument::IsCommandEnabled(UINT id) const {
    if (id == ID_FILE_SAVE || id == ID_FILE_SAVE_AS) {
        return true;
    }
    return CCmdTarget::IsCommandEnabled(id);
}

int CDocument::ReadDocumentFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    return ReadWholeFile(path, bytes);
}

int CDocument::WriteDocumentFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    return WriteFileReplacing(path, bytes);
}

std::string FrameTitle(const CDocument& doc, std::string_view appTitle) {
    std::string title = doc.GetTitle();
    title += " - ";
    title += appTitle;
    return title;
}
