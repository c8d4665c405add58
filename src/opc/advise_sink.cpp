#include "opc/advise_sink.h"

#include <cstdint>

#include "opc/da10_stream.h"
#include "opc/opc_group.h"
#include "opcda/streams.h"

COPCAdviseSink::COPCAdviseSink(COPCGroup* group)
    : group_(group),
      dataFormat_(RegisterClipboardFormatA(OPCSTMFORMATDATA)),
      dataWithTimeFormat_(RegisterClipboardFormatA(OPCSTMFORMATDATATIME)),
      writeCompleteFormat_(RegisterClipboardFormatA(OPCSTMFORMATWRITECOMPLETE)) {}

HRESULT COPCAdviseSink::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_INVALIDARG;
    }
    return ComObject::QueryInterface(riid, ppvObject);
}

void COPCAdviseSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
    if (pFormatetc == nullptr || pStgmed == nullptr || pFormatetc->tymed != TYMED_HGLOBAL ||
        pStgmed->tymed != TYMED_HGLOBAL || pStgmed->hGlobal == nullptr) {
        return;
    }
    Da10Format format = Da10Format::data;
    const UINT cf = pFormatetc->cfFormat;
    if (cf != 0 && cf == dataWithTimeFormat_) {
        format = Da10Format::dataWithTime;
    } else if (cf != 0 && cf == dataFormat_) {
        format = Da10Format::data;
    } else if (cf != 0 && cf == writeCompleteFormat_) {
        format = Da10Format::writeComplete;
    } else {
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(pStgmed->hGlobal));
    if (bytes == nullptr) {
        return;
    }
    const Da10Stream stream = DecodeDa10Stream(bytes, GlobalSize(pStgmed->hGlobal), format);
    GlobalUnlock(pStgmed->hGlobal);
    if (format == Da10Format::writeComplete || !stream.accepted || group_ == nullptr) {
        return;
    }
    group_->OnDataChange(stream.transactionId, stream.groupHandle,
                         static_cast<DWORD>(stream.values.size()), stream.clientHandles.data(),
                         stream.values.data(), stream.MasterQuality(), stream.qualities.data(),
                         format == Da10Format::dataWithTime ? stream.timestamps.data() : nullptr);
}
