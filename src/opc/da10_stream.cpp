#include "opc/da10_stream.h"

#include <algorithm>
#include <cstring>

#include "com/bstr.h"
#include "opcda/quality.h"
#include "opcda/streams.h"

namespace {

// Reads a little-endian value at offset when the whole of it lies inside the block.
template <class T>
bool ReadAt(const std::uint8_t* bytes, std::size_t size, std::size_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&out, bytes + offset, sizeof(T));
    return true;
}

bool IsPlainScalar(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_ERROR:
        case VT_BOOL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

// Decodes the value at offset into out; false when it does not lie inside the block.
bool DecodeValue(const std::uint8_t* bytes, std::size_t size, std::size_t offset, VARIANT& out) {
    VARTYPE vt = VT_EMPTY;
    std::uint64_t payload = 0;
    if (!ReadAt(bytes, size, offset, vt) || !ReadAt(bytes, size, offset + 8, payload)) {
        return false;
    }
    if (vt == VT_BSTR) {
        const std::size_t lengthAt = offset + OPC_STREAM_VARIANT_SIZE;
        std::uint32_t byteLength = 0;
        if (!ReadAt(bytes, size, lengthAt, byteLength)) {
            return false;
        }
        const std::size_t charsAt = lengthAt + sizeof(std::uint32_t);
        const std::size_t chars = byteLength / sizeof(OLECHAR);
        if (charsAt > size || (size - charsAt) / sizeof(OLECHAR) < chars) {
            return false;
        }
        // The characters may sit at any alignment, so they are copied as bytes.
        BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
        if (text != nullptr) {
            std::memcpy(text, bytes + charsAt, chars * sizeof(OLECHAR));
            out.vt = VT_BSTR;
            out.bstrVal = text;
        }
        return true;
    }
    if (IsPlainScalar(vt)) {
        out.vt = vt;
        out.llVal = static_cast<LONGLONG>(payload);
    }
    return true;
}

void DecodeData(const std::uint8_t* bytes, std::size_t size, bool timed, DWORD count,
                Da10Stream& out) {
    const std::size_t headerSize = timed ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    // Never more room than the block itself could hold headers for.
    const std::size_t room = (size - sizeof(OPCGROUPHEADER)) / headerSize;
    const std::size_t expected = std::min<std::size_t>(count, room);
    out.clientHandles.reserve(expected);
    out.values.reserve(expected);
    out.qualities.reserve(expected);
    if (timed) {
        out.timestamps.reserve(expected);
    }
    for (DWORD i = 0; i < count; ++i) {
        const std::size_t at = sizeof(OPCGROUPHEADER) + std::size_t{i} * headerSize;
        if (i >= room) {
            out.truncated = true;
            return;
        }
        OPCHANDLE handle = 0;
        DWORD valueOffset = 0;
        WORD quality = 0;
        FILETIME timestamp{};
        ReadAt(bytes, size, at + offsetof(OPCITEMHEADER2, hClient), handle);
        ReadAt(bytes, size, at + offsetof(OPCITEMHEADER2, dwValueOffset), valueOffset);
        ReadAt(bytes, size, at + offsetof(OPCITEMHEADER2, wQuality), quality);
        if (timed) {
            ReadAt(bytes, size, at + offsetof(OPCITEMHEADER1, ftTimeStampItem), timestamp);
        }
        VARIANT value;
        VariantInit(&value);
        if (!DecodeValue(bytes, size, valueOffset, value)) {
            out.truncated = true;
            return;
        }
        out.clientHandles.push_back(handle);
        out.values.push_back(value);
        out.qualities.push_back(quality);
        if (timed) {
            out.timestamps.push_back(timestamp);
        }
    }
}

void DecodeWriteComplete(const std::uint8_t* bytes, std::size_t size, DWORD count,
                         Da10Stream& out) {
    const std::size_t room = (size - sizeof(OPCGROUPHEADERWRITE)) / sizeof(OPCITEMHEADERWRITE);
    const std::size_t expected = std::min<std::size_t>(count, room);
    out.clientHandles.reserve(expected);
    out.errors.reserve(expected);
    for (DWORD i = 0; i < count; ++i) {
        if (i >= room) {
            out.truncated = true;
            return;
        }
        const std::size_t at =
            sizeof(OPCGROUPHEADERWRITE) + std::size_t{i} * sizeof(OPCITEMHEADERWRITE);
        OPCHANDLE handle = 0;
        HRESULT error = S_OK;
        ReadAt(bytes, size, at + offsetof(OPCITEMHEADERWRITE, hClient), handle);
        ReadAt(bytes, size, at + offsetof(OPCITEMHEADERWRITE, dwError), error);
        out.clientHandles.push_back(handle);
        out.errors.push_back(error);
    }
}

}  // namespace

Da10Stream::~Da10Stream() {
    for (VARIANT& value : values) {
        VariantClear(&value);
    }
}

HRESULT Da10Stream::MasterQuality() const {
    const bool allGood = std::all_of(qualities.begin(), qualities.end(),
                                     [](WORD q) { return q == OPC_QUALITY_GOOD; });
    return allGood ? S_OK : S_FALSE;
}

Da10Stream DecodeDa10Stream(const std::uint8_t* bytes, std::size_t size, Da10Format format) {
    Da10Stream out;
    if (bytes == nullptr) {
        return out;
    }
    if (format == Da10Format::writeComplete) {
        OPCGROUPHEADERWRITE header{};
        if (size < sizeof header) {
            return out;
        }
        std::memcpy(&header, bytes, sizeof header);
        if (header.hrStatus != S_OK) {
            return out;
        }
        out.accepted = true;
        out.groupHandle = header.hClientGroup;
        out.transactionId = header.dwTransactionID;
        DecodeWriteComplete(bytes, size, header.dwItemCount, out);
        return out;
    }
    OPCGROUPHEADER header{};
    if (size < sizeof header) {
        return out;
    }
    std::memcpy(&header, bytes, sizeof header);
    if (header.hrStatus != S_OK) {
        return out;
    }
    out.accepted = true;
    out.groupHandle = header.hClientGroup;
    out.transactionId = header.dwTransactionID;
    DecodeData(bytes, size, format == Da10Format::dataWithTime, header.dwItemCount, out);
    return out;
}
