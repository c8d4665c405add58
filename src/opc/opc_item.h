#pragma once
// A live item of a live group: the server's handle for it, its canonical type and access
// rights, and the last value, quality and timestamp the server delivered.

#include <cstdint>
#include <string>
#include <string_view>

#include "com/types.h"
#include "com/variant.h"
#include "model/item_update.h"
#include "model/object.h"
#include "opcda/types.h"

class COPCGroup;

class COPCItem : public CObject, public IItemUpdateSource {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    // Live items are never stored; the image is the version word alone.
    void Serialize(CArchive& ar) override;

    // Takes a client handle from the group, valid until the item is destroyed.
    explicit COPCItem(COPCGroup& group);
    COPCItem(const COPCItem&) = delete;
    COPCItem& operator=(const COPCItem&) = delete;
    ~COPCItem() override;

    // Converts the text to the canonical type and writes it through the group's access mode.
    // Results are not reported; the value shows when the server delivers it.
    void Write(std::string_view text);
    // Replaces the value by a copy of the given one.
    void SetValue(const VARIANT& value);

    bool IsNumeric() const override;
    bool IsBoolean() const override;
    const VARIANT& GetReceivedValue() const override { return value_; }
    std::uint16_t GetReceivedQuality() const override { return quality; }
    FILETIME GetReceivedTimestamp() const override { return timestamp; }
    VARTYPE GetCanonicalType() const override { return canonicalType; }

    const VARIANT& Value() const { return value_; }
    COPCGroup& Group() const { return *group_; }
    OPCHANDLE ClientHandle() const { return clientHandle_; }

    DWORD accessRights = 0;
    WORD quality = 0x40;                           // OPC_QUALITY_UNCERTAIN
    FILETIME timestamp{0x256D4000u, 0x01BF53EBu};  // 2000-01-01 00:00:00.000 UTC
    BOOL active = 1;
    std::string itemId;
    std::string accessPath;
    VARTYPE requestedType = VT_EMPTY;
    VARTYPE canonicalType = VT_EMPTY;
    OPCHANDLE serverHandle = 0;
    std::int32_t itemIdNumber = 0;

  private:
    VARIANT value_;
    COPCGroup* group_;
    OPCHANDLE clientHandle_ = 0;
};
