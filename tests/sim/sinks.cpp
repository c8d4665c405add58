#include "sinks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/bstr.h"
#include "com/clipboard_format.h"

static_assert(sizeof(VARIANT) == OPC_STREAM_VARIANT_SIZE);

namespace conformance {

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

const DeliveredItem* CallbackDelivery::Find(OPCHANDLE client) const {
    for (const DeliveredItem& item : items) {
        if (item.client == client) {
            return &item;
        }
    }
    return nullptr;
}

const DeliveredItem* StreamDelivery::Find(OPCHANDLE client) const {
    for (const DeliveredItem& item : items) {
        if (item.client == client) {
            return &item;
        }
    }
    return nullptr;
}

// ---- DataCallbackSink ------------------------------------------------------------------------

HRESULT DataCallbackSink::Record(CallbackDelivery::Kind kind, DWORD transid, OPCHANDLE group,
                                 HRESULT masterQuality, HRESULT masterError, DWORD count,
                                 const OPCHANDLE* handles, const VARIANT* values,
                                 const WORD* qualities, const FILETIME* times,
                                 const HRESULT* errors) {
    CallbackDelivery d;
    d.kind = kind;
    d.transactionId = transid;
    d.group = group;
    d.masterQuality = masterQuality;
    d.masterError = masterError;
    const bool withValues =
        kind == CallbackDelivery::Kind::DataChange || kind == CallbackDelivery::Kind::ReadComplete;
    if (count > 0 &&
        (handles == nullptr || errors == nullptr ||
         (withValues && (values == nullptr || qualities == nullptr || times == nullptr)))) {
        problems.push_back("a callback with items came with a null array");
        received.push_back(std::move(d));
        return S_OK;
    }
    bool anyBadQuality = false;
    bool anyError = false;
    for (DWORD i = 0; i < count; ++i) {
        DeliveredItem item;
        item.client = handles[i];
        item.error = errors[i];
        anyError = anyError || errors[i] != S_OK;
        if (withValues) {
            item.value = Variant(values[i]);
            item.quality = qualities[i];
            item.time = times[i];
            anyBadQuality = anyBadQuality || OpcQualityOf(qualities[i]) != OPC_QUALITY_GOOD;
        }
        d.items.push_back(std::move(item));
    }
    if (withValues && masterQuality != (anyBadQuality ? S_FALSE : S_OK)) {
        problems.push_back("hrMasterquality " + Hex(masterQuality) +
                           " does not match the qualities delivered");
    }
    if (masterError != (anyError ? S_FALSE : S_OK)) {
        problems.push_back("the master error " + Hex(masterError) +
                           " does not match the item errors delivered");
    }
    received.push_back(std::move(d));
    if (onDelivery) {
        // A copy: the hook may clear what was received.
        const CallbackDelivery last = received.back();
        onDelivery(last);
    }
    return S_OK;
}

HRESULT DataCallbackSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                       HRESULT hrMastererror, DWORD dwCount,
                                       OPCHANDLE* phClientItems, VARIANT* pvValues,
                                       WORD* pwQualities, FILETIME* pftTimeStamps,
                                       HRESULT* pErrors) {
    if (dwCount == 0) {
        problems.push_back("OnDataChange with no items");
    }
    return Record(CallbackDelivery::Kind::DataChange, dwTransid, hGroup, hrMasterquality,
                  hrMastererror, dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps,
                  pErrors);
}

HRESULT DataCallbackSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) {
    return Record(CallbackDelivery::Kind::ReadComplete, dwTransid, hGroup, hrMasterquality,
                  hrMastererror, dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps,
                  pErrors);
}

HRESULT DataCallbackSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                          DWORD dwCount, OPCHANDLE* pClienthandles,
                                          HRESULT* pErrors) {
    return Record(CallbackDelivery::Kind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr,
                  dwCount, pClienthandles, nullptr, nullptr, nullptr, pErrors);
}

HRESULT DataCallbackSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    return Record(CallbackDelivery::Kind::CancelComplete, dwTransid, hGroup, S_OK, S_OK, 0, nullptr,
                  nullptr, nullptr, nullptr, nullptr);
}

std::vector<const CallbackDelivery*> DataCallbackSink::OfKind(CallbackDelivery::Kind kind) const {
    std::vector<const CallbackDelivery*> out;
    for (const CallbackDelivery& d : received) {
        if (d.kind == kind) {
            out.push_back(&d);
        }
    }
    return out;
}

// ---- Subscription ----------------------------------------------------------------------------

Subscription::Subscription(IUnknown* group) : sink(MakeComObject<DataCallbackSink>()) {
    ComPtr<IConnectionPointContainer> container = Query<IConnectionPointContainer>(group);
    if (!container) {
        hr = E_NOINTERFACE;
        return;
    }
    hr = container->FindConnectionPoint(IID_IOPCDataCallback, point_.Put());
    if (FAILED(hr)) {
        return;
    }
    if (!point_) {
        hr = E_POINTER;
        return;
    }
    hr = point_->Advise(sink->GetUnknown(), &cookie_);
}

HRESULT Subscription::Unadvise() {
    if (!point_ || cookie_ == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    const HRESULT result = point_->Unadvise(cookie_);
    cookie_ = 0;
    return result;
}

Subscription::~Subscription() {
    if (cookie_ != 0) {
        Unadvise();
    }
}

// ---- StreamSink ------------------------------------------------------------------------------

StreamSink::StreamSink()
    : dataFormat(static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATA))),
      dataTimeFormat(static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATATIME))),
      writeCompleteFormat(
          static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATWRITECOMPLETE))) {}

void StreamSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
    if (pFormatetc == nullptr || pStgmed == nullptr) {
        problems.push_back("OnDataChange without a format or a medium");
        return;
    }
    if (pFormatetc->tymed != TYMED_HGLOBAL || pStgmed->tymed != TYMED_HGLOBAL) {
        problems.push_back("a stream not in global memory");
        return;
    }
    if (pStgmed->hGlobal == nullptr) {
        problems.push_back("a stream without a memory block");
        return;
    }
    const SIZE_T size = GlobalSize(pStgmed->hGlobal);
    const auto* block = static_cast<const BYTE*>(GlobalLock(pStgmed->hGlobal));
    if (block == nullptr) {
        problems.push_back("a stream block that cannot be locked");
        return;
    }
    StreamDelivery d;
    d.format = pFormatetc->cfFormat;
    if (d.format == dataTimeFormat || d.format == dataFormat) {
        d.timed = d.format == dataTimeFormat;
        DecodeData(block, size, d.timed, d);
    } else if (d.format == writeCompleteFormat) {
        DecodeWriteComplete(block, size, d);
    } else {
        problems.push_back("a stream of an unknown format " + std::to_string(d.format));
    }
    GlobalUnlock(pStgmed->hGlobal);
    received.push_back(std::move(d));
}

void StreamSink::DecodeData(const BYTE* block, SIZE_T size, bool timed, StreamDelivery& out) {
    OPCGROUPHEADER header{};
    if (size < sizeof header) {
        problems.push_back("a data stream shorter than its header");
        return;
    }
    std::memcpy(&header, block, sizeof header);
    out.size = header.dwSize;
    out.itemCount = header.dwItemCount;
    out.group = header.hClientGroup;
    out.transactionId = header.dwTransactionID;
    out.status = header.hrStatus;
    if (header.dwSize > size) {
        problems.push_back("dwSize " + std::to_string(header.dwSize) + " exceeds the block of " +
                           std::to_string(size) + " bytes");
        return;
    }
    const std::size_t headerSize = timed ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    const std::size_t itemsEnd = sizeof header + std::size_t{header.dwItemCount} * headerSize;
    if (itemsEnd > header.dwSize) {
        problems.push_back("the item headers run past dwSize");
        return;
    }
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        const BYTE* at = block + sizeof header + i * headerSize;
        DeliveredItem item;
        DWORD offset = 0;
        if (timed) {
            OPCITEMHEADER1 h{};
            std::memcpy(&h, at, sizeof h);
            item.client = h.hClient;
            offset = h.dwValueOffset;
            item.quality = h.wQuality;
            item.time = h.ftTimeStampItem;
        } else {
            OPCITEMHEADER2 h{};
            std::memcpy(&h, at, sizeof h);
            item.client = h.hClient;
            offset = h.dwValueOffset;
            item.quality = h.wQuality;
        }
        if (offset < itemsEnd || std::size_t{offset} + OPC_STREAM_VARIANT_SIZE > header.dwSize) {
            problems.push_back("item " + std::to_string(i) + ": value offset " +
                               std::to_string(offset) + " outside the value area");
            continue;
        }
        VARIANT raw;
        std::memcpy(&raw, block + offset, sizeof raw);
        if (raw.vt == VT_BSTR) {
            const std::size_t lengthAt = std::size_t{offset} + OPC_STREAM_VARIANT_SIZE;
            if (lengthAt + 4 > header.dwSize) {
                problems.push_back("item " + std::to_string(i) + ": string length missing");
                continue;
            }
            DWORD bytes = 0;
            std::memcpy(&bytes, block + lengthAt, sizeof bytes);
            const std::size_t textAt = lengthAt + 4;
            // The characters and their terminating zero.
            if (bytes % 2 != 0 || textAt + std::size_t{bytes} + 2 > header.dwSize) {
                problems.push_back("item " + std::to_string(i) + ": string of " +
                                   std::to_string(bytes) + " bytes does not fit");
                continue;
            }
            std::u16string text(bytes / 2, u'\0');
            std::memcpy(text.data(), block + textAt, bytes);
            char16_t terminator = 1;
            std::memcpy(&terminator, block + textAt + bytes, sizeof terminator);
            if (terminator != 0) {
                problems.push_back("item " + std::to_string(i) + ": string not terminated");
            }
            item.value.Get().vt = VT_BSTR;
            item.value.Get().bstrVal =
                SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        } else if ((raw.vt & (VT_ARRAY | VT_BYREF)) != 0) {
            // Arrays and references are not carried by value; keep the type only.
            problems.push_back("item " + std::to_string(i) + ": a value of type " +
                               std::to_string(raw.vt) + " in a stream");
        } else {
            std::memcpy(&item.value.Get(), &raw, sizeof raw);
        }
        out.items.push_back(std::move(item));
    }
}

void StreamSink::DecodeWriteComplete(const BYTE* block, SIZE_T size, StreamDelivery& out) {
    OPCGROUPHEADERWRITE header{};
    if (size < sizeof header) {
        problems.push_back("a write-complete stream shorter than its header");
        return;
    }
    std::memcpy(&header, block, sizeof header);
    out.itemCount = header.dwItemCount;
    out.group = header.hClientGroup;
    out.transactionId = header.dwTransactionID;
    out.status = header.hrStatus;
    if (sizeof header + std::size_t{header.dwItemCount} * sizeof(OPCITEMHEADERWRITE) > size) {
        problems.push_back("write-complete entries run past the block");
        return;
    }
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        OPCITEMHEADERWRITE entry{};
        std::memcpy(&entry, block + sizeof header + i * sizeof entry, sizeof entry);
        DeliveredItem item;
        item.client = entry.hClient;
        item.error = entry.dwError;
        out.items.push_back(std::move(item));
    }
}

void StreamSink::OnViewChange(DWORD, LONG) {
    problems.push_back("OnViewChange");
}
void StreamSink::OnRename(IMoniker*) {
    problems.push_back("OnRename");
}
void StreamSink::OnSave() {
    problems.push_back("OnSave");
}
void StreamSink::OnClose() {}

std::vector<const StreamDelivery*> StreamSink::OfFormat(CLIPFORMAT format) const {
    std::vector<const StreamDelivery*> out;
    for (const StreamDelivery& d : received) {
        if (d.format == format) {
            out.push_back(&d);
        }
    }
    return out;
}

FORMATETC StreamFormat(CLIPFORMAT format, DWORD tymed) {
    FORMATETC f{};
    f.cfFormat = format;
    f.ptd = nullptr;
    f.dwAspect = DVASPECT_CONTENT;
    f.lindex = -1;
    f.tymed = tymed;
    return f;
}

}  // namespace conformance
