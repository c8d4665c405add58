#pragma once
// Decoding of the OPC DA 1.0 data streams: the blocks of global memory a group hands to the
// client's advise sink. Every offset and length is checked against the size of the block: a
// header or value outside it, or a string running past it, ends the decoding there, and the
// items decoded before it are kept.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "com/types.h"
#include "com/variant.h"
#include "opcda/types.h"

enum class Da10Format {
    dataWithTime,   // "OPCSTMFORMATDATATIME": item headers with a timestamp
    data,           // "OPCSTMFORMATDATA": item headers without one
    writeComplete,  // "OPCSTMFORMATWRITECOMPLETE"
};

// What a block holds. Owns the decoded values (strings are new BSTRs).
struct Da10Stream {
    Da10Stream() = default;
    Da10Stream(const Da10Stream&) = delete;
    Da10Stream& operator=(const Da10Stream&) = delete;
    Da10Stream(Da10Stream&& other) noexcept = default;
    Da10Stream& operator=(Da10Stream&& other) noexcept = delete;
    ~Da10Stream();

    // The group header was complete and its status was 0; otherwise the block is ignored and
    // everything below is empty.
    bool accepted = false;
    // The block ended before all the items its header announced.
    bool truncated = false;
    OPCHANDLE groupHandle = 0;
    DWORD transactionId = 0;
    std::vector<OPCHANDLE> clientHandles;
    // Data blocks: one entry per item. Values of arrays, by-reference and interface types are
    // never taken as pointers: they come out VT_EMPTY.
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;  // data with time only
    // Write-complete blocks: one entry per item.
    std::vector<HRESULT> errors;

    // S_FALSE when any quality is not OPC_QUALITY_GOOD, else S_OK.
    HRESULT MasterQuality() const;
};

Da10Stream DecodeDa10Stream(const std::uint8_t* bytes, std::size_t size, Da10Format format);
