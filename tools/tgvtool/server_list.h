#pragma once
// The OPC DA 2.0 servers registered on this machine or on another node, by ProgID.

#include <string>
#include <vector>

#include "com/registry.h"

// The ProgIDs of the classes that implement the OPC DA 2.0 server category and require no
// other category, sorted as the server dialog's list sorts them (case ignored, equal texts in
// registry order). node "" is this machine, listed as the server dialog lists it; any other
// node is read through its registry. ERROR_SUCCESS, or the error of reaching the node's
// registry (the list is then empty).
LSTATUS ListOpcServers(const std::string& node, std::vector<std::string>& progIds);

// The most class keys read from another node's registry; a registry that claims more is not
// read to its end.
inline constexpr DWORD kMaxRemoteClassKeys = 1u << 20;
