#pragma once
// Group names of one server (lock held).

#include <string>
#include <string_view>

#include "sim/sim_state.h"

// Whether a group of the server, other than except, has this name. Names compare exactly.
bool GroupNameTaken(const ServerData& server, std::u16string_view name,
                    const SimGroup* except = nullptr);
// A name no group of the server has yet: "Group1", "Group2", ...
std::u16string UniqueGroupName(ServerData& server);
// The group with the server handle, or null.
SimGroup* FindGroup(ServerData& server, OPCHANDLE handle);
