#pragma once
// tgvtool's commands that talk to servers: list the registered servers, browse a server's
// address space, and watch a configuration's live values. They use the application's runtime
// and document code; message boxes it shows go to the installed UI services.

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

// One ProgID per line. Exit 1 when the node's registry cannot be reached.
int ServersCommand(const std::string& node, std::ostream& out, std::ostream& err);

// The branches ("branch", name) and then the leaves ("leaf", name, item id) at the branch path
// (names joined with "."; "" is the top), one tab-separated line each. A branch whose own name
// holds a "." is found as well. Exit 1 when the server cannot be connected or browsed, or the
// path names no branch.
int BrowseCommand(const std::string& progId, const std::string& node, const std::string& path,
                  std::ostream& out, std::ostream& err);

// Opens the configuration as the application does (connecting its servers, groups and items)
// and prints one line per item update as the document applies it, until the duration has
// passed (none: without end) or SIGINT or SIGTERM arrives. Saves nothing. Exit 1 when the file
// cannot be opened.
int WatchCommand(const std::string& path, std::optional<std::chrono::seconds> duration,
                 std::ostream& out, std::ostream& err);
