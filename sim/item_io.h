#pragma once
// Reading and writing one item of a group, as every read path (updates, synchronous and
// asynchronous reads, refreshes) and every write path share it. Called with the simulator's
// lock held.

#include <cstdint>

#include "com/variant.h"
#include "opcda/types.h"
#include "sim/address_space.h"
#include "sim/item_table.h"

struct ItemReading {
    HRESULT error = S_OK;
    WORD quality = 0;
    double analog = 0.0;  // the value before conversion, for items with a range
};

// The item's value at the given time, converted to its requested type, into out (which must
// hold nothing that needs freeing). An item without read access reads as VT_EMPTY with bad
// quality and OPC_E_BADRIGHTS; a value that does not convert as VT_EMPTY with bad quality and
// OPC_E_BADTYPE (OPC_E_RANGE when it is out of the type's range).
ItemReading ReadItem(const AddressSpace& space, const GroupItem& item, std::uint64_t now,
                     std::uint32_t seed, VARIANT* out);

// Writes value to the item's leaf: OPC_E_BADRIGHTS without write access, OPC_E_BADTYPE for a
// value that does not convert to the canonical type, OPC_E_RANGE for one out of its range.
HRESULT WriteItem(AddressSpace& space, const GroupItem& item, const VARIANT& value);

// The error an item gets for a failed conversion.
HRESULT ConversionError(HRESULT conversion);
