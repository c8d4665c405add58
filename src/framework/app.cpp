#include "framework/app.h"

#include <filesystem>
#include <system_error>

#include "framework/commands.h"
#include "framework/document.h"

namespace {

// Whether two paths name the same file: the same file on disk when both exist, else the same
// absolute path.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error) && !error) {
        return true;
    }
    const std::filesystem::path left = std::filesystem::absolute(a, error);
    if (error) {
        return a == b;
    }
    const std::filesystem::path right = std::filesystem::absolute(b, error);
    if (error) {
        return a == b;
    }
    return left.lexically_normal() == right.lexically_normal();
}

}  // namespace

CWinApp::CWinApp(std::size_t recentFiles) : recentFiles_(recentFiles) {}

CWinApp::~CWinApp() {
    SetDocument(nullptr);
}

void CWinApp::SetDocument(CDocument* doc) {
    if (document_ != nullptr) {
        document_->SetSavePathPrompt({});
        document_->SetRecentFileList(nullptr);
    }
    document_ = doc;
    if (document_ != nullptr) {
        document_->SetSavePathPrompt(
            [this](std::string_view suggested) { return PromptForSavePath(suggested); });
        document_->SetRecentFileList(&recentFiles_);
    }
}

bool CWinApp::ProcessShellCommand(const std::optional<std::string>& file) {
    return file.has_value() ? OpenDocumentFile(*file) : OnFileNew();
}

bool CWinApp::OnFileNew() {
    if (document_ == nullptr || !document_->SaveModified()) {
        return false;
    }
    if (!document_->OnNewDocument()) {
        return false;
    }
    document_->SendInitialUpdate();
    return true;
}

bool CWinApp::OnFileOpen() {
    const std::optional<std::string> path = PromptForOpenPath();
    if (!path.has_value() || path->empty()) {
        return false;
    }
    return OpenDocumentFile(*path);
}

bool CWinApp::OpenDocumentFile(const std::string& path) {
    bool failed = false;
    return OpenFile(path, failed);
}

bool CWinApp::OpenFile(const std::string& path, bool& failed) {
    failed = false;
    if (document_ == nullptr) {
        failed = true;
        return false;
    }
    // The file already shown stays as it is, unsaved changes included.
    if (!document_->GetPathName().empty() && SameFile(document_->GetPathName(), path)) {
        return true;
    }
    if (!document_->SaveModified()) {
        return false;
    }
    if (!document_->OnOpenDocument(path)) {
        failed = true;
        return false;
    }
    recentFiles_.Add(document_->GetPathName());
    document_->SendInitialUpdate();
    return true;
}

bool CWinApp::OnOpenRecentFile(UINT id) {
    if (!IsRecentFileCommand(id)) {
        return false;
    }
    const std::size_t index = id - ID_FILE_MRU_FIRST;
    if (index >= recentFiles_.GetEntries().size()) {
        return false;
    }
    const std::string path = recentFiles_.GetEntries()[index];
    bool failed = false;
    const bool opened = OpenFile(path, failed);
    if (failed) {
        const auto& entries = recentFiles_.GetEntries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i] == path) {
                recentFiles_.Remove(i);
                break;
            }
        }
    }
    return opened;
}

bool CWinApp::SaveAllModified() {
    return document_ == nullptr || document_->SaveModified();
}

bool CWinApp::OnAppExit() {
    if (!SaveAllModified()) {
        return false;
    }
    if (document_ != nullptr) {
        document_->OnCloseDocument();
    }
    Quit();
    return true;
}

bool CWinApp::OnCmdMsg(UINT id) {
    if (IsRecentFileCommand(id)) {
        OnOpenRecentFile(id);
        return true;
    }
    switch (id) {
        case ID_FILE_NEW:
            OnFileNew();
            return true;
        case ID_FILE_OPEN:
            OnFileOpen();
            return true;
        case ID_APP_EXIT:
            OnAppExit();
            return true;
        default:
            return CCmdTarget::OnCmdMsg(id);
    }
}

std::optional<bool> CWinApp::IsCommandEnabled(UINT id) const {
    if (IsRecentFileCommand(id)) {
        return id - ID_FILE_MRU_FIRST < recentFiles_.GetEntries().size();
    }
    switch (id) {
        case ID_FILE_NEW:
        case ID_FILE_OPEN:
        case ID_APP_EXIT:
            return true;
        default:
            return CCmdTarget::IsCommandEnabled(id);
    }
}
