#include "framework/commands.h"

namespace {

struct Prompt {
    UINT id;
    std::string_view text;
};

constexpr Prompt kPrompts[] = {
    {ID_FILE_NEW, "Create a new document\nNew"},
    {ID_FILE_OPEN, "Open an existing document\nOpen"},
    {ID_FILE_SAVE, "Save the active document\nSave"},
    {ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
    {ID_OPC_NEW, "Create New OPC Device OR OPC Group"},
    {ID_SERVER_ADD, "Create new opc server"},
    {ID_SERVER_DELETE, "Delete OPC Server"},
    {ID_SERVER_PROPERTIES, "Display OPC Server properties"},
    {ID_GROUP_ADD, "Create new opc group"},
    {ID_GROUP_DELETE, "Delete OPC Group"},
    {ID_GROUP_PROPERTIES, "Display OPC Group properties"},
    {ID_TAG_ADD, "Create new opc items"},
    {ID_TAG_DELETE, "Delete selected opc items"},
};

constexpr std::string_view kRecentFilePrompt = "Open this document";

}  // namespace

std::string_view CommandPrompt(UINT id) {
    if (IsRecentFileCommand(id)) {
        return kRecentFilePrompt;
    }
    for (const Prompt& prompt : kPrompts) {
        if (prompt.id == id) {
            return prompt.text;
        }
    }
    return {};
}

std::string_view CommandStatusText(UINT id) {
    const std::string_view prompt = CommandPrompt(id);
    return prompt.substr(0, prompt.find('\n'));
}

std::string_view CommandToolTip(UINT id) {
    const std::string_view prompt = CommandPrompt(id);
    const std::size_t newline = prompt.find('\n');
    return newline == std::string_view::npos ? std::string_view{} : prompt.substr(newline + 1);
}
