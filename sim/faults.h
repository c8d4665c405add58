#pragma once
// Faults the simulation server can be told to show, for tests of a client's failure paths.

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "com/guid.h"
#include "com/hresult.h"

// Orders identifiers by their fields, so that they can be kept in sets.
struct IidOrder {
    bool operator()(const GUID& a, const GUID& b) const {
        if (a.Data1 != b.Data1) {
            return a.Data1 < b.Data1;
        }
        if (a.Data2 != b.Data2) {
            return a.Data2 < b.Data2;
        }
        if (a.Data3 != b.Data3) {
            return a.Data3 < b.Data3;
        }
        return std::memcmp(a.Data4, b.Data4, sizeof a.Data4) < 0;
    }
};

struct SimFaults {
    // Method name ("AddGroup", "RemoveGroup", "SetState", "GetState", "AddItems", "RemoveItems",
    // "Write", "ChangeBrowsePosition", "BrowseOPCItemIDs", "GetItemID", "Advise", "Unadvise",
    // "FindConnectionPoint", "DAdvise", "DUnadvise", "CreateInstance", ...) -> the result that
    // call gives instead of doing its work, with its out-parameters empty. S_FALSE and other
    // success codes are allowed. A name qualified by its interface ("IOPCAsyncIO2::Write")
    // takes only that interface's method and wins over the plain name.
    std::map<std::string, HRESULT> callResults;
    // Item id -> the per-item error AddItems reports for it.
    std::map<std::string, HRESULT> itemErrors;
    // Interfaces QueryInterface refuses on server and group objects.
    std::set<IID, IidOrder> missingInterfaces;
    // A browse position that never refuses a move up.
    bool neverRefuseBrowseUp = false;
    // Browse enumerators deliver this many names, then fail with enumFailure (0: never).
    int enumFailAfter = 0;
    HRESULT enumFailure = E_FAIL;
    // Every call sleeps this long before answering (out-of-process tests of slow servers).
    std::uint32_t delayMs = 0;
    // The server has died: every call fails with RPC_E_DISCONNECTED, no callbacks are made.
    // QueryInterface still answers, as a proxy would from the interfaces it already knows.
    bool dead = false;
};
