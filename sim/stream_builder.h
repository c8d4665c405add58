#pragma once
// Building the data streams of the 1.0 subscription into a byte buffer that is reused from
// one update to the next.
//
// A data block is the group header, the item headers, then the values, each starting at an
// offset that is a multiple of 8. A value is a 16-byte VARIANT whose pointer field is written
// as zero. A VT_BSTR value is followed by its length in bytes (32 bits) and its characters
// with a terminating zero. An array value (VT_ARRAY | type) is followed by its element count
// (32 bits) and the elements: strings each as length, characters and terminating zero, other
// types as their raw bytes.

#include <cstdint>
#include <vector>

#include "com/hresult.h"
#include "com/types.h"
#include "com/variant.h"
#include "opcda/types.h"

enum class StreamTimestamps { With, Without };

// Replaces out with a data block of count items. E_INVALIDARG when the block would not fit
// the 32-bit sizes of its headers.
HRESULT BuildDataStream(std::vector<BYTE>& out, StreamTimestamps layout, OPCHANDLE hClientGroup,
                        DWORD transactionId, HRESULT status, DWORD count,
                        const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* times);

// Replaces out with a write-complete block of count entries.
HRESULT BuildWriteCompleteStream(std::vector<BYTE>& out, OPCHANDLE hClientGroup,
                                 DWORD transactionId, HRESULT status, DWORD count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors);
