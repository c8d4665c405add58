#include "model/group_record.h"

#include <algorithm>
#include <string>

#include "model/archive.h"
#include "model/text_compare.h"

namespace {

std::unique_ptr<CObject> CreateGroup() {
    return std::make_unique<clBaseOPCGroup>();
}

}  // namespace

const CRuntimeClass clBaseOPCGroup::runtimeClass{"clBaseOPCGroup", VERSIONABLE_SCHEMA | 0u,
                                                 &CreateGroup};

clBaseOPCGroup::~clBaseOPCGroup() {
    DeleteAllItems();
}

void clBaseOPCGroup::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
        ar.WriteLong(id);
        ar.WriteLong(serverId);
        ar.WriteLong(reserved);
        ar.WriteLong(updateRate);
        ar.WriteString(name);
        ar.WriteLong(active);
        ar.WriteCount(static_cast<std::uint32_t>(items_.size()));
        for (const auto& item : items_) {
            ar.WriteObject(item.get());
        }
        return;
    }
    ar.ReadDWord();  // version word
    id = ar.ReadLong();
    serverId = ar.ReadLong();
    reserved = ar.ReadLong();
    updateRate = ar.ReadLong();
    name = ar.ReadString();
    active = ar.ReadLong();
    DeleteAllItems();
    // One element at a time: the count is only a claim until the elements are there.
    for (std::uint32_t n = ar.ReadCount(); n > 0; --n) {
        items_.push_back(ar.ReadNew<clBaseOPCItem>());
        itemsById_.Inserted(items_, items_.back().get(), items_.size() - 1);
    }
}

std::string clBaseOPCGroup::GetPropertyText(std::string_view key) const {
    if (EqualsNoCase(key, "name")) {
        return name;
    }
    if (EqualsNoCase(key, "active")) {
        return active != 0 ? "Enable" : "Disable";
    }
    if (EqualsNoCase(key, "update_rate")) {
        return std::to_string(updateRate);
    }
    return {};
}

clBaseOPCItem& clBaseOPCGroup::InsertItemSorted(std::unique_ptr<clBaseOPCItem> item) {
    const std::string_view key = item->displayName;
    const auto at = std::find_if(items_.begin(), items_.end(), [key](const auto& other) {
        return CompareNoCase(other->displayName, key) > 0;
    });
    const auto position = static_cast<std::size_t>(at - items_.begin());
    clBaseOPCItem* inserted = items_.insert(at, std::move(item))->get();
    itemsById_.Inserted(items_, inserted, position);
    return *inserted;
}

bool clBaseOPCGroup::HasItemNamed(std::string_view itemName) const {
    return std::any_of(items_.begin(), items_.end(), [itemName](const auto& item) {
        return EqualsNoCase(item->displayName, itemName);
    });
}

clBaseOPCItem* clBaseOPCGroup::FindItemById(std::int32_t itemId) const {
    return itemsById_.Find(itemId);
}

bool clBaseOPCGroup::RemoveItem(const clBaseOPCItem* item) {
    const auto at = std::find_if(items_.begin(), items_.end(),
                                 [item](const auto& other) { return other.get() == item; });
    if (at == items_.end()) {
        return false;
    }
    // Unlisted first, so that the index no longer finds it, then destroyed.
    std::unique_ptr<clBaseOPCItem> removed = std::move(*at);
    items_.erase(at);
    itemsById_.Removed(items_, removed.get());
    return true;
}

void clBaseOPCGroup::DeleteAllItems() {
    itemsById_.Clear();
    items_.clear();
}
