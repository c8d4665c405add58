#include "sim/stream_builder.h"

#include <cstring>
#include <limits>

#include "opcda/streams.h"

namespace {

class Writer {
  public:
    explicit Writer(std::vector<BYTE>& out) : out_(out) {}

    std::size_t Size() const { return out_.size(); }
    void Reserve(std::size_t bytes) { out_.reserve(bytes); }
    void Resize(std::size_t bytes) { out_.resize(bytes, 0); }
    void AlignTo8() { out_.resize((out_.size() + 7) / 8 * 8, 0); }

    template <class T>
    void Put(const T& value) {
        const std::size_t at = out_.size();
        out_.resize(at + sizeof(T));
        std::memcpy(out_.data() + at, &value, sizeof(T));
    }
    template <class T>
    void PutAt(std::size_t at, const T& value) {
        std::memcpy(out_.data() + at, &value, sizeof(T));
    }
    void PutBytes(const void* data, std::size_t bytes) {
        const std::size_t at = out_.size();
        out_.resize(at + bytes);
        if (bytes != 0) {
            std::memcpy(out_.data() + at, data, bytes);
        }
    }
    void PutString(BSTR text) {
        const UINT bytes = SysStringByteLen(text);
        Put<DWORD>(bytes);
        PutBytes(text, bytes);
        Put<OLECHAR>(0);
    }

  private:
    std::vector<BYTE>& out_;
};

// The bytes of the value field a scalar type uses; pointers and unknown types use none, so
// nothing of this process's memory layout leaves it.
std::size_t ScalarBytes(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        default:
            return 0;
    }
}

void PutValue(Writer& w, const VARIANT& value) {
    VARIANT copy;
    std::memset(&copy, 0, sizeof copy);
    copy.vt = value.vt;
    std::memcpy(&copy.llVal, &value.llVal, ScalarBytes(value.vt));
    static_assert(sizeof(VARIANT) == OPC_STREAM_VARIANT_SIZE);
    w.PutBytes(&copy, sizeof copy);
    if (value.vt == VT_BSTR) {
        w.PutString(value.bstrVal);
        return;
    }
    if ((value.vt & VT_ARRAY) == 0 || (value.vt & VT_BYREF) != 0) {
        return;
    }
    SAFEARRAY* const array = value.parray;
    if (array == nullptr) {
        w.Put<DWORD>(0);
        return;
    }
    std::size_t count = 1;
    for (USHORT d = 0; d < array->cDims; ++d) {
        count *= array->rgsabound[d].cElements;
    }
    w.Put<DWORD>(static_cast<DWORD>(count));
    if ((value.vt & VT_TYPEMASK) == VT_BSTR) {
        const auto* const strings = static_cast<const BSTR*>(array->pvData);
        for (std::size_t i = 0; i < count; ++i) {
            w.PutString(strings[i]);
        }
    } else if ((value.vt & VT_TYPEMASK) != VT_VARIANT) {
        w.PutBytes(array->pvData, count * array->cbElements);
    }
}

}  // namespace

HRESULT BuildDataStream(std::vector<BYTE>& out, StreamTimestamps layout, OPCHANDLE hClientGroup,
                        DWORD transactionId, HRESULT status, DWORD count,
                        const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* times) {
    out.clear();
    Writer w(out);
    const bool timed = layout == StreamTimestamps::With;
    const std::size_t headerSize = timed ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    const std::size_t headersEnd = sizeof(OPCGROUPHEADER) + headerSize * count;
    w.Reserve(headersEnd + count * (OPC_STREAM_VARIANT_SIZE + 8));
    w.Resize(headersEnd);
    for (DWORD i = 0; i < count; ++i) {
        w.AlignTo8();
        const std::size_t valueOffset = w.Size();
        PutValue(w, values[i]);
        if (valueOffset > std::numeric_limits<DWORD>::max()) {
            out.clear();
            return E_INVALIDARG;
        }
        const std::size_t at = sizeof(OPCGROUPHEADER) + headerSize * i;
        if (timed) {
            OPCITEMHEADER1 header{};
            header.hClient = clientHandles[i];
            header.dwValueOffset = static_cast<DWORD>(valueOffset);
            header.wQuality = qualities[i];
            header.ftTimeStampItem = times[i];
            w.PutAt(at, header);
        } else {
            OPCITEMHEADER2 header{};
            header.hClient = clientHandles[i];
            header.dwValueOffset = static_cast<DWORD>(valueOffset);
            header.wQuality = qualities[i];
            w.PutAt(at, header);
        }
    }
    if (w.Size() > std::numeric_limits<DWORD>::max()) {
        out.clear();
        return E_INVALIDARG;
    }
    OPCGROUPHEADER group{};
    group.dwSize = static_cast<DWORD>(w.Size());
    group.dwItemCount = count;
    group.hClientGroup = hClientGroup;
    group.dwTransactionID = transactionId;
    group.hrStatus = status;
    w.PutAt(0, group);
    return S_OK;
}

HRESULT BuildWriteCompleteStream(std::vector<BYTE>& out, OPCHANDLE hClientGroup,
                                 DWORD transactionId, HRESULT status, DWORD count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors) {
    out.clear();
    Writer w(out);
    w.Reserve(sizeof(OPCGROUPHEADERWRITE) + sizeof(OPCITEMHEADERWRITE) * count);
    OPCGROUPHEADERWRITE group{};
    group.dwItemCount = count;
    group.hClientGroup = hClientGroup;
    group.dwTransactionID = transactionId;
    group.hrStatus = status;
    w.Put(group);
    for (DWORD i = 0; i < count; ++i) {
        OPCITEMHEADERWRITE entry{};
        entry.hClient = clientHandles[i];
        entry.dwError = errors[i];
        w.Put(entry);
    }
    return S_OK;
}
