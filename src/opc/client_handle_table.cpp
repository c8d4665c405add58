#include "opc/client_handle_table.h"

OPCHANDLE ClientHandleTable::Add(COPCItem* item) {
    std::uint32_t index = 0;
    if (!free_.empty()) {
        index = free_.front();
        free_.pop_front();
    } else if (slots_.size() < kMaxItems) {
        index = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    } else {
        return 0;
    }
    Slot& slot = slots_[index];
    // Generation 0 is never used, so no handle is 0.
    slot.generation = slot.generation + 1 < kGenerationLimit ? slot.generation + 1 : 1;
    slot.handle = (slot.generation << kIndexBits) | index;
    slot.item = item;
    return slot.handle;
}

void ClientHandleTable::Remove(OPCHANDLE handle) {
    const std::uint32_t index = handle & kIndexMask;
    if (handle == 0 || index >= slots_.size() || slots_[index].handle != handle) {
        return;
    }
    slots_[index].handle = 0;
    slots_[index].item = nullptr;
    free_.push_back(index);
}
