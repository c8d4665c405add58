#pragma once
// Walking a server's address space the way the new items dialog does: the client keeps no
// mirror of the server's browse position; it climbs to the top and descends along a path of
// branch names joined with ".", then lists what it finds there.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"

class COPCServer;

// The climb stops after this many moves even when the server never refuses a move up.
inline constexpr int kMaxClimbSteps = 256;

// Moves the position up until the server refuses (or kMaxClimbSteps moves were made). Returns
// the number of moves the server accepted.
int ClimbToTop(COPCServer& server);

// The pieces of a branch path, split at every "."; the empty path (the top) has none.
std::vector<std::string> SplitBrowsePath(std::string_view path);
// The path of a branch below the one at parentPath.
std::string JoinBrowsePath(std::string_view parentPath, std::string_view branchName);

// Moves down along the path, piece by piece; a refused step does not stop the descent. Called
// right after ClimbToTop.
void GoToPath(COPCServer& server, std::string_view path);

// Lists the leaves at the position with an empty filter text and the given type and access
// filters, keeping those whose name contains criteria (case-sensitive; every leaf when criteria
// is empty). True with leaves refilled when a listing was obtained: show (when given) then gets
// the leaves, before a failure of the enumerator is reported ("Erorr from Next(%lx)"; the
// leaves read before it stay). False, leaves untouched, when the server has no browse
// interface (quietly) or refused the listing ("Error from BrowseItemIDs").
bool ListLeaves(COPCServer& server, std::string_view criteria, VARTYPE dataTypeFilter,
                DWORD accessRightsFilter, std::vector<std::string>& leaves,
                const std::function<void(const std::vector<std::string>& leaves)>& show = {});
