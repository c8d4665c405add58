#pragma once
// Command ids of the menus, toolbar and accelerators, the ids of the frame's bars and status
// indicators, and the prompts shown for each command.

#include <string_view>

#include "com/types.h"

// File menu.
inline constexpr UINT ID_FILE_NEW = 0xE100;
inline constexpr UINT ID_FILE_OPEN = 0xE101;
inline constexpr UINT ID_FILE_CLOSE = 0xE102;
inline constexpr UINT ID_FILE_SAVE = 0xE103;
inline constexpr UINT ID_FILE_SAVE_AS = 0xE104;
// The recent-file entries: ID_FILE_MRU_FILE1 + n for the entry n (0-based), at most 16.
inline constexpr UINT ID_FILE_MRU_FILE1 = 0xE110;
inline constexpr UINT ID_FILE_MRU_FIRST = ID_FILE_MRU_FILE1;
inline constexpr UINT ID_FILE_MRU_LAST = 0xE11F;

// Edit commands: the accelerators name them, nothing handles them.
inline constexpr UINT ID_EDIT_COPY = 0xE122;
inline constexpr UINT ID_EDIT_CUT = 0xE123;
inline constexpr UINT ID_EDIT_PASTE = 0xE125;
inline constexpr UINT ID_EDIT_UNDO = 0xE12B;

// Application.
inline constexpr UINT ID_APP_ABOUT = 0xE140;
inline constexpr UINT ID_APP_EXIT = 0xE141;

// Keyboard focus between the splitter panes.
inline constexpr UINT ID_NEXT_PANE = 0xE150;
inline constexpr UINT ID_PREV_PANE = 0xE151;

// View menu; the same ids name the bars themselves.
inline constexpr UINT ID_VIEW_TOOLBAR = 0xE800;
inline constexpr UINT ID_VIEW_STATUS_BAR = 0xE801;
inline constexpr UINT AFX_IDW_TOOLBAR = 0xE800;
inline constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;
inline constexpr UINT AFX_IDW_PANE_FIRST = 0xE900;

// Status bar panes: the message pane, then the keyboard indicators.
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_INDICATOR_CAPS = 0xE701;
inline constexpr UINT ID_INDICATOR_NUM = 0xE702;
inline constexpr UINT ID_INDICATOR_SCRL = 0xE703;

// The configuration commands.
inline constexpr UINT ID_OPC_NEW = 32771;            // does nothing, always enabled
inline constexpr UINT ID_SERVER_ADD = 32772;         // always enabled
inline constexpr UINT ID_SERVER_DELETE = 32773;      // while a server is selected
inline constexpr UINT ID_SERVER_PROPERTIES = 32774;  // while a server is selected
inline constexpr UINT ID_GROUP_ADD = 32775;          // while a server is selected
inline constexpr UINT ID_GROUP_DELETE = 32776;       // while a group is selected
inline constexpr UINT ID_GROUP_PROPERTIES = 32777;   // while a group is selected
inline constexpr UINT ID_TAG_ADD = 32778;            // while a group is selected
inline constexpr UINT ID_TAG_DELETE = 32779;  // while a group is selected; the item view acts

// True for the ids of the recent-file entries.
constexpr bool IsRecentFileCommand(UINT id) {
    return id >= ID_FILE_MRU_FIRST && id <= ID_FILE_MRU_LAST;
}

// The whole prompt of a command: the status-bar text, then "\n" and the tooltip where the
// command has one. "" for an id without a prompt.
std::string_view CommandPrompt(UINT id);
// The part shown in the status bar while the command is highlighted.
std::string_view CommandStatusText(UINT id);
// The part shown as the toolbar tooltip, "" when there is none.
std::string_view CommandToolTip(UINT id);

// The message pane's text while no command is highlighted.
inline constexpr std::string_view kIdleStatusText = "Ready";
