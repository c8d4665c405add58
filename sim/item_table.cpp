#include "sim/item_table.h"

#include <utility>

namespace {
constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);
constexpr std::uint32_t kGenerations = std::uint32_t{1} << 12;
}  // namespace

OPCHANDLE ItemTable::Add(GroupItem item) {
    std::size_t slot = 0;
    if (!free_.empty()) {
        slot = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() >= kMaxItems) {
            return 0;
        }
        slot = slots_.size();
        slots_.emplace_back();
    }
    slots_[slot].item = std::move(item);
    slots_[slot].live = true;
    ++count_;
    return HandleOf(slot);
}

std::size_t ItemTable::SlotOf(OPCHANDLE handle) const {
    const OPCHANDLE slotPlusOne = handle & kSlotMask;
    if (slotPlusOne == 0 || slotPlusOne > slots_.size()) {
        return kNoSlot;
    }
    const std::size_t slot = slotPlusOne - 1;
    if (!slots_[slot].live || HandleOf(slot) != handle) {
        return kNoSlot;
    }
    return slot;
}

GroupItem* ItemTable::Find(OPCHANDLE handle) {
    const std::size_t slot = SlotOf(handle);
    return slot == kNoSlot ? nullptr : &slots_[slot].item;
}

const GroupItem* ItemTable::Find(OPCHANDLE handle) const {
    const std::size_t slot = SlotOf(handle);
    return slot == kNoSlot ? nullptr : &slots_[slot].item;
}

bool ItemTable::Remove(OPCHANDLE handle) {
    const std::size_t slot = SlotOf(handle);
    if (slot == kNoSlot) {
        return false;
    }
    slots_[slot].live = false;
    slots_[slot].item = GroupItem{};
    slots_[slot].generation = (slots_[slot].generation + 1) % kGenerations;
    free_.push_back(slot);
    --count_;
    return true;
}
