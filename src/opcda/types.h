#pragma once
// The data types of the OPC Data Access custom interfaces (versions 1.0 and 2.0): handles,
// enumerations, access rights and the structures that pass through the interfaces.
//
// Strings are wide (LPWSTR, UTF-16). Memory a server hands back (arrays, strings, blobs) is
// allocated with the task allocator and freed by the caller with it.

#include "com/types.h"
#include "com/variant.h"

// The Windows name of the 32-bit float (a redeclaration of the same alias elsewhere is allowed).
using FLOAT = float;
static_assert(sizeof(FLOAT) == 4);

// A handle that one side of the conversation gives the other for a group or an item.
using OPCHANDLE = DWORD;

// Where a read takes its value from.
enum OPCDATASOURCE : DWORD {
    OPC_DS_CACHE = 1,
    OPC_DS_DEVICE = 2,
};

// What BrowseOPCItemIDs lists.
enum OPCBROWSETYPE : DWORD {
    OPC_BRANCH = 1,
    OPC_LEAF = 2,
    OPC_FLAT = 3,
};

// The shape of a server's address space.
enum OPCNAMESPACETYPE : DWORD {
    OPC_NS_HIERARCHIAL = 1,
    OPC_NS_FLAT = 2,
};

// Moves of ChangeBrowsePosition.
enum OPCBROWSEDIRECTION : DWORD {
    OPC_BROWSE_UP = 1,
    OPC_BROWSE_DOWN = 2,
    OPC_BROWSE_TO = 3,
};

// The kind of engineering-units information of an item.
enum OPCEUTYPE : DWORD {
    OPC_NOENUM = 0,
    OPC_ANALOG = 1,
    OPC_ENUMERATED = 2,
};

enum OPCSERVERSTATE : DWORD {
    OPC_STATUS_RUNNING = 1,
    OPC_STATUS_FAILED = 2,
    OPC_STATUS_NOCONFIG = 3,
    OPC_STATUS_SUSPENDED = 4,
    OPC_STATUS_TEST = 5,
};

// Which groups CreateGroupEnumerator lists.
enum OPCENUMSCOPE : DWORD {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6,
};

// Access rights of an item (bits of dwAccessRights).
inline constexpr DWORD OPC_READABLE = 0x1;
inline constexpr DWORD OPC_WRITEABLE = 0x2;

// Identifiers of the item properties of IOPCItemProperties.
inline constexpr DWORD OPC_PROP_CDT = 1;        // canonical data type
inline constexpr DWORD OPC_PROP_VALUE = 2;      // item value
inline constexpr DWORD OPC_PROP_QUALITY = 3;    // item quality
inline constexpr DWORD OPC_PROP_TIME = 4;       // item timestamp
inline constexpr DWORD OPC_PROP_RIGHTS = 5;     // access rights
inline constexpr DWORD OPC_PROP_SCANRATE = 6;   // server scan rate
inline constexpr DWORD OPC_PROP_UNIT = 100;     // engineering units
inline constexpr DWORD OPC_PROP_DESC = 101;     // item description
inline constexpr DWORD OPC_PROP_HIEU = 102;     // high engineering-units value
inline constexpr DWORD OPC_PROP_LOEU = 103;     // low engineering-units value
inline constexpr DWORD OPC_PROP_HIRANGE = 104;  // high instrument range
inline constexpr DWORD OPC_PROP_LORANGE = 105;  // low instrument range
inline constexpr DWORD OPC_PROP_CLOSE = 106;    // contact close label
inline constexpr DWORD OPC_PROP_OPEN = 107;     // contact open label
inline constexpr DWORD OPC_PROP_TIMEZONE = 108;

// An item to add or validate.
struct OPCITEMDEF {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    WORD wReserved;
};

// What the server answers for each item added or validated.
struct OPCITEMRESULT {
    OPCHANDLE hServer;
    VARTYPE vtCanonicalDataType;
    WORD wReserved;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
};

// The value of one item as a synchronous read returns it.
struct OPCITEMSTATE {
    OPCHANDLE hClient;
    FILETIME ftTimeStamp;
    WORD wQuality;
    WORD wReserved;
    VARIANT vDataValue;
};

// An item of a group, as the item enumerator lists it.
struct OPCITEMATTRIBUTES {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    OPCEUTYPE dwEUType;
    VARIANT vEUInfo;
};

struct OPCSERVERSTATUS {
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    OPCSERVERSTATE dwServerState;
    DWORD dwGroupCount;
    DWORD dwBandWidth;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD wBuildNumber;
    WORD wReserved;
    LPWSTR szVendorInfo;
};

static_assert(sizeof(OPCHANDLE) == 4);
static_assert(sizeof(OPCDATASOURCE) == 4 && sizeof(OPCBROWSETYPE) == 4 &&
              sizeof(OPCNAMESPACETYPE) == 4 && sizeof(OPCBROWSEDIRECTION) == 4 &&
              sizeof(OPCEUTYPE) == 4 && sizeof(OPCSERVERSTATE) == 4 && sizeof(OPCENUMSCOPE) == 4);
