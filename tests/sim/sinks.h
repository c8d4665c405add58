#pragma once
// The client's ends of the two subscriptions, recording what a server sends: an
// IOPCDataCallback for the 2.0 connection point, and an IAdviseSink that decodes the 1.0 data
// streams from their global memory blocks. Both copy everything during the call (the server's
// arrays and blocks are valid only then) and note every rule the server broke while calling.

#include <functional>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/data_object.h"
#include "opc_client.h"
#include "opcda/opcda.h"

namespace conformance {

struct DeliveredItem {
    OPCHANDLE client = 0;
    Variant value;
    WORD quality = 0;
    FILETIME time{};
    HRESULT error = S_OK;
};

struct CallbackDelivery {
    enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete };
    Kind kind = Kind::DataChange;
    DWORD transactionId = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    std::vector<DeliveredItem> items;

    // The entry for a client handle, or null.
    const DeliveredItem* Find(OPCHANDLE client) const;
};

class DataCallbackSink final : public ComObject<IOPCDataCallback> {
  public:
    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override;
    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                           HRESULT* pErrors) override;
    HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    // Everything received, in order.
    std::vector<CallbackDelivery> received;
    // Called after each delivery is recorded, still inside the server's call.
    std::function<void(const CallbackDelivery&)> onDelivery;
    // Rules the server broke while calling (null arrays, master results that do not match).
    std::vector<std::string> problems;

    // The references held on the sink now (the client's own included).
    ULONG References() const { return RefCount(); }

    // The deliveries of one kind, in order.
    std::vector<const CallbackDelivery*> OfKind(CallbackDelivery::Kind kind) const;
    void Clear() { received.clear(); }

  private:
    HRESULT Record(CallbackDelivery::Kind kind, DWORD transid, OPCHANDLE group,
                   HRESULT masterQuality, HRESULT masterError, DWORD count,
                   const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities,
                   const FILETIME* times, const HRESULT* errors);
};

// A data callback advised on a group's connection point for as long as this object lives.
class Subscription {
  public:
    // Finds the group's IOPCDataCallback point and advises a new sink; hr tells how it went.
    explicit Subscription(IUnknown* group);
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();

    HRESULT hr = E_FAIL;
    ComPtr<DataCallbackSink> sink;

    // Ends the connection now; the answer of Unadvise.
    HRESULT Unadvise();

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// One decoded 1.0 stream.
struct StreamDelivery {
    CLIPFORMAT format = 0;
    DWORD size = 0;  // the header's dwSize (data streams)
    DWORD itemCount = 0;
    OPCHANDLE group = 0;
    DWORD transactionId = 0;
    HRESULT status = S_OK;
    bool timed = false;
    // Data streams: handle, value, quality, time. Write-complete streams: handle and error.
    std::vector<DeliveredItem> items;

    const DeliveredItem* Find(OPCHANDLE client) const;
};

class StreamSink final : public ComObject<IAdviseSink> {
  public:
    StreamSink();

    void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
    void OnViewChange(DWORD dwAspect, LONG lindex) override;
    void OnRename(IMoniker* pmk) override;
    void OnSave() override;
    void OnClose() override;

    const CLIPFORMAT dataFormat;
    const CLIPFORMAT dataTimeFormat;
    const CLIPFORMAT writeCompleteFormat;

    std::vector<StreamDelivery> received;
    // Layout errors found while decoding, and calls the sink should not have had.
    std::vector<std::string> problems;

    std::vector<const StreamDelivery*> OfFormat(CLIPFORMAT format) const;
    ULONG References() const { return RefCount(); }
    void Clear() { received.clear(); }

  private:
    void DecodeData(const BYTE* block, SIZE_T size, bool timed, StreamDelivery& out);
    void DecodeWriteComplete(const BYTE* block, SIZE_T size, StreamDelivery& out);
};

// The FORMATETC of a 1.0 advise for a registered format.
FORMATETC StreamFormat(CLIPFORMAT format, DWORD tymed = TYMED_HGLOBAL);

}  // namespace conformance
