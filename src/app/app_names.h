#pragma once
// The application's names: its title, the settings area it keeps its settings in, the
// configuration file type and the texts of the About box.

#include <string_view>

// The application title: the main window's title after the document's, and the title of every
// message box.
inline constexpr std::string_view kAppTitle = "Velmora OPC Tagvista";
// The settings: organisation and application, as the per-user settings area is named.
inline constexpr std::string_view kSettingsOrganization = "Velmora OPCTagvista";
inline constexpr std::string_view kSettingsApplication = "Velmora OPC Tagvista";
// The group of the recent-file list in the settings, and its keys "File1" to "File4".
inline constexpr std::string_view kRecentFileSection = "Recent File List";
inline constexpr int kRecentFileCount = 4;
// The configuration files: the file dialogs' filter and the default extension.
inline constexpr std::string_view kFileFilter = "Configuration File (*.tgv)";
inline constexpr std::string_view kDefaultExtension = "tgv";
// The About box.
inline constexpr std::string_view kAboutVersionLine = "OPC Tagvista Version 1.0.2";
inline constexpr std::string_view kAboutMakerLine = "Velmora";
inline constexpr std::string_view kAboutWebSite = "https://www.velmora.example/tagvista";
inline constexpr std::string_view kAboutEmail = "support@velmora.example";
