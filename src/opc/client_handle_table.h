#pragma once
// The table that turns the client handles given to a server back into items. A handle is a
// slot index plus the generation of the slot, so a stale handle of a removed item never names
// the item that reuses its slot; lookups cost the same whatever the number of items.

#include <cstdint>
#include <deque>
#include <vector>

#include "opcda/types.h"

class COPCItem;

class ClientHandleTable {
  public:
    static constexpr unsigned kIndexBits = 20;
    static constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
    static constexpr std::uint32_t kMaxItems = 1u << kIndexBits;
    static constexpr std::uint32_t kGenerationLimit = 1u << (32 - kIndexBits);

    // A new handle for the item; 0 (which never names an item) when the table is full.
    OPCHANDLE Add(COPCItem* item);
    // Frees the handle's slot; a handle that names nothing is ignored.
    void Remove(OPCHANDLE handle);
    // The live item the handle names, or null.
    COPCItem* Find(OPCHANDLE handle) const {
        const std::uint32_t index = handle & kIndexMask;
        if (index >= slots_.size()) {
            return nullptr;
        }
        const Slot& slot = slots_[index];
        return slot.handle == handle ? slot.item : nullptr;
    }
    std::size_t Size() const { return slots_.size() - free_.size(); }

  private:
    struct Slot {
        OPCHANDLE handle = 0;  // the handle of the current occupant, 0 while free
        std::uint32_t generation = 0;
        COPCItem* item = nullptr;
    };
    std::vector<Slot> slots_;
    // Free slots are reused oldest first, so a slot comes back as late as possible.
    std::deque<std::uint32_t> free_;
};
