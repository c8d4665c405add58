#pragma once
// The data streams of the 1.0 subscription: blocks of global memory that a group hands to the
// client's IAdviseSink::OnDataChange, in the clipboard formats named below. The structures are
// laid out exactly as on Windows (little-endian, 4-byte alignment), so a block can be read
// field by field at the offsets checked here.
//
// Data block ("OPCSTMFORMATDATATIME" or "OPCSTMFORMATDATA"):
//   OPCGROUPHEADER, then dwItemCount item headers (OPCITEMHEADER1 with a timestamp, or
//   OPCITEMHEADER2 without), then the values. Each value, at dwValueOffset from the start of
//   the block, is a 16-byte VARIANT; a VT_BSTR value is followed by its length in bytes
//   (32 bits) and its UTF-16 characters with a terminating zero, and the string pointer inside
//   the VARIANT means nothing to the receiver.
// Write-complete block ("OPCSTMFORMATWRITECOMPLETE"):
//   OPCGROUPHEADERWRITE, then dwItemCount OPCITEMHEADERWRITE entries.

#include <cstddef>

#include "com/types.h"
#include "opcda/types.h"

// Names of the clipboard formats, registered by server and client alike.
inline constexpr char OPCSTMFORMATDATA[] = "OPCSTMFORMATDATA";
inline constexpr char OPCSTMFORMATDATATIME[] = "OPCSTMFORMATDATATIME";
inline constexpr char OPCSTMFORMATWRITECOMPLETE[] = "OPCSTMFORMATWRITECOMPLETE";

struct OPCGROUPHEADER {
    DWORD dwSize;  // bytes of the whole block
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;  // 0 for a change the client did not ask for
    HRESULT hrStatus;
};

struct OPCITEMHEADER1 {
    OPCHANDLE hClient;
    DWORD dwValueOffset;  // from the start of the block
    WORD wQuality;
    WORD wReserved;
    FILETIME ftTimeStampItem;
};

struct OPCITEMHEADER2 {
    OPCHANDLE hClient;
    DWORD dwValueOffset;
    WORD wQuality;
    WORD wReserved;
};

struct OPCGROUPHEADERWRITE {
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;
    HRESULT hrStatus;
};

struct OPCITEMHEADERWRITE {
    OPCHANDLE hClient;
    HRESULT dwError;
};

// The size of a VARIANT inside a stream.
inline constexpr std::size_t OPC_STREAM_VARIANT_SIZE = 16;

static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4);

static_assert(sizeof(OPCGROUPHEADER) == 20);
static_assert(offsetof(OPCGROUPHEADER, dwSize) == 0);
static_assert(offsetof(OPCGROUPHEADER, dwItemCount) == 4);
static_assert(offsetof(OPCGROUPHEADER, hClientGroup) == 8);
static_assert(offsetof(OPCGROUPHEADER, dwTransactionID) == 12);
static_assert(offsetof(OPCGROUPHEADER, hrStatus) == 16);

static_assert(sizeof(OPCITEMHEADER1) == 20);
static_assert(offsetof(OPCITEMHEADER1, hClient) == 0);
static_assert(offsetof(OPCITEMHEADER1, dwValueOffset) == 4);
static_assert(offsetof(OPCITEMHEADER1, wQuality) == 8);
static_assert(offsetof(OPCITEMHEADER1, wReserved) == 10);
static_assert(offsetof(OPCITEMHEADER1, ftTimeStampItem) == 12);

static_assert(sizeof(OPCITEMHEADER2) == 12);
static_assert(offsetof(OPCITEMHEADER2, hClient) == 0);
static_assert(offsetof(OPCITEMHEADER2, dwValueOffset) == 4);
static_assert(offsetof(OPCITEMHEADER2, wQuality) == 8);
static_assert(offsetof(OPCITEMHEADER2, wReserved) == 10);

static_assert(sizeof(OPCGROUPHEADERWRITE) == 16);
static_assert(offsetof(OPCGROUPHEADERWRITE, dwItemCount) == 0);
static_assert(offsetof(OPCGROUPHEADERWRITE, hClientGroup) == 4);
static_assert(offsetof(OPCGROUPHEADERWRITE, dwTransactionID) == 8);
static_assert(offsetof(OPCGROUPHEADERWRITE, hrStatus) == 12);

static_assert(sizeof(OPCITEMHEADERWRITE) == 8);
static_assert(offsetof(OPCITEMHEADERWRITE, hClient) == 0);
static_assert(offsetof(OPCITEMHEADERWRITE, dwError) == 4);
