#pragma once
// The items of one group, reached by server handle in constant time. A handle carries the
// item's slot and a generation count of that slot, so a handle of a removed item does not name
// the item that later takes its slot.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "opcda/types.h"
#include "sim/address_space.h"
#include "sim/owned_variant.h"

struct GroupItem {
    NodeIndex leaf = 0;
    OPCHANDLE clientHandle = 0;
    VARTYPE requestedType = VT_EMPTY;
    bool active = false;
    // Whether the client has had the item's value since the item or its group became active;
    // until then an update sends it whether it changed or not.
    bool sent = false;
    // What the last update sent.
    WORD lastQuality = 0;
    HRESULT lastError = S_OK;
    double lastAnalog = 0.0;
    OwnedVariant lastValue;
};

class ItemTable {
  public:
    // At most this many items in one group (the slot has 20 bits of the handle).
    static constexpr std::size_t kMaxItems = (std::size_t{1} << 20) - 2;

    // The new item's server handle; 0 when the table is full.
    OPCHANDLE Add(GroupItem item);
    GroupItem* Find(OPCHANDLE handle);
    const GroupItem* Find(OPCHANDLE handle) const;
    bool Remove(OPCHANDLE handle);
    std::size_t Count() const { return count_; }

    // Calls f(handle, item) for every item, in slot order.
    template <class F>
    void ForEach(F&& f) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].live) {
                f(HandleOf(i), slots_[i].item);
            }
        }
    }
    template <class F>
    void ForEach(F&& f) const {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].live) {
                f(HandleOf(i), slots_[i].item);
            }
        }
    }

  private:
    static constexpr unsigned kSlotBits = 20;
    static constexpr OPCHANDLE kSlotMask = (OPCHANDLE{1} << kSlotBits) - 1;

    struct Slot {
        GroupItem item;
        std::uint32_t generation = 0;
        bool live = false;
    };

    OPCHANDLE HandleOf(std::size_t slot) const {
        return (slots_[slot].generation << kSlotBits) | static_cast<OPCHANDLE>(slot + 1);
    }
    std::size_t SlotOf(OPCHANDLE handle) const;

    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    std::size_t count_ = 0;
};
