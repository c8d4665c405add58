#pragma once
// IEnumOPCItemAttributes over a snapshot of a group's items.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "opcda/group.h"

struct ItemAttributes {
    std::u16string itemId;
    bool active = false;
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
    DWORD accessRights = 0;
    VARTYPE requestedType = VT_EMPTY;
    VARTYPE canonicalType = VT_EMPTY;
    bool analog = false;  // with an engineering range low..high
    double low = 0.0;
    double high = 0.0;
};

class SimItemEnum final : public ComObject<IEnumOPCItemAttributes> {
  public:
    using Items = std::vector<ItemAttributes>;
    SimItemEnum(std::shared_ptr<const Items> items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    // The array and every string and value in it come from the task allocator.
    HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

  private:
    const std::shared_ptr<const Items> items_;
    std::mutex mutex_;
    std::size_t position_ = 0;
};
