#pragma once
// The sink of a group's OPC DA 1.0 subscription: decodes the data streams a group sends and
// hands their items to the group; write completions are read and dropped.

#include "com/clipboard_format.h"
#include "com/com_object.h"
#include "com/data_object.h"

class COPCGroup;

class COPCAdviseSink final : public ComObject<IAdviseSink> {
  public:
    // Registers (or looks up) the three stream formats.
    explicit COPCAdviseSink(COPCGroup* group);

    // A null out-pointer is E_INVALIDARG here; unknown IIDs give E_NOINTERFACE with the
    // out-pointer nulled.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

    void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
    void OnViewChange(DWORD /*dwAspect*/, LONG /*lindex*/) override {}
    void OnRename(IMoniker* /*pmk*/) override {}
    void OnSave() override {}
    void OnClose() override {}

    // The group lets go of the sink; streams still arriving are dropped.
    void DetachGroup() { group_ = nullptr; }

    UINT DataFormat() const { return dataFormat_; }
    UINT DataWithTimeFormat() const { return dataWithTimeFormat_; }
    UINT WriteCompleteFormat() const { return writeCompleteFormat_; }

  private:
    // Only the last Release destroys it.
    ~COPCAdviseSink() override = default;

    COPCGroup* group_;
    UINT dataFormat_;
    UINT dataWithTimeFormat_;
    UINT writeCompleteFormat_;
};
