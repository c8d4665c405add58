#pragma once
// What an item record reads from its live counterpart when a data change arrives.

#include <cstdint>

#include "com/types.h"
#include "com/variant.h"

class IItemUpdateSource {
  public:
    virtual const VARIANT& GetReceivedValue() const = 0;
    virtual std::uint16_t GetReceivedQuality() const = 0;
    virtual FILETIME GetReceivedTimestamp() const = 0;  // UTC, as the server sent it
    virtual VARTYPE GetCanonicalType() const = 0;       // as reported when the item was added
    virtual bool IsNumeric() const;                     // canonical type is numeric
    virtual bool IsBoolean() const;                     // canonical type is VT_BOOL

  protected:
    ~IItemUpdateSource() = default;
};
