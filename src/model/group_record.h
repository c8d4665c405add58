#pragma once
// The group record: a group's configuration on its server and its item records.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/item_record.h"
#include "model/object.h"

class COPCGroup;

// Record id to the first record in list order with that id, kept beside a list of records (of a
// type with an `id` field) by the list's owner: told of every insertion and removal, it answers
// the same as a search from the head of the list, at a cost independent of the list's length.
template <class Record>
class RecordIdIndex {
  public:
    using List = std::vector<std::unique_ptr<Record>>;

    Record* Find(std::int32_t id) const {
        const auto at = map_.find(id);
        return at == map_.end() ? nullptr : at->second.first;
    }

    // The record was just listed at position `at`.
    void Inserted(const List& list, Record* record, std::size_t at) {
        const auto [entry, added] = map_.try_emplace(record->id, Entry{record, 1});
        if (added) {
            return;
        }
        ++entry->second.count;
        // Another record has this id: the new one is the first only when that one lies after
        // it, which a record appended at the end (as a file is read) never is.
        if (at + 1 == list.size()) {
            return;
        }
        const Record* first = entry->second.first;
        const auto before = list.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::none_of(list.begin(), before,
                         [first](const auto& other) { return other.get() == first; })) {
            entry->second.first = record;
        }
    }

    // The record was just unlisted (and is not yet destroyed).
    void Removed(const List& list, const Record* record) {
        const auto entry = map_.find(record->id);
        if (entry == map_.end()) {
            return;
        }
        if (--entry->second.count == 0) {
            map_.erase(entry);
            return;
        }
        if (entry->second.first != record) {
            return;
        }
        const std::int32_t id = record->id;
        const auto next = std::find_if(list.begin(), list.end(),
                                       [id](const auto& other) { return other->id == id; });
        if (next == list.end()) {
            map_.erase(entry);  // only when an id was changed while listed
        } else {
            entry->second.first = next->get();
        }
    }

    void Clear() { map_.clear(); }

  private:
    // How many listed records carry the id, so that a removal knows whether another one must
    // take the place of the first.
    struct Entry {
        Record* first;
        std::size_t count;
    };
    std::unordered_map<std::int32_t, Entry> map_;
};

class clBaseOPCGroup : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    clBaseOPCGroup() = default;
    clBaseOPCGroup(const clBaseOPCGroup&) = delete;
    clBaseOPCGroup& operator=(const clBaseOPCGroup&) = delete;
    ~clBaseOPCGroup() override;

    // "name", "active", "update_rate" (case ignored); "" for any other key.
    std::string GetPropertyText(std::string_view key) const;

    // The item list changes only through the four operations below and Serialize, which keep
    // an index by item id beside it. An item's id must not change while it is listed.

    // Inserts before the first item whose display name sorts after the new one (case folded),
    // so equal names keep their insertion order. Returns the inserted record.
    clBaseOPCItem& InsertItemSorted(std::unique_ptr<clBaseOPCItem> item);
    // Unlinks and deletes the item when it is in the list; true when it was.
    bool RemoveItem(const clBaseOPCItem* item);
    void DeleteAllItems();

    const std::vector<std::unique_ptr<clBaseOPCItem>>& Items() const { return items_; }
    bool HasItemNamed(std::string_view itemName) const;  // by display name, case ignored
    // The first item in list order with that id, or null; costs the same whatever the number of
    // items, since a data change looks up every delivered item this way.
    clBaseOPCItem* FindItemById(std::int32_t itemId) const;

    std::int32_t id = 0;
    std::int32_t serverId = 0;
    std::int32_t reserved = 0;       // kept as read, written back unchanged
    std::int32_t updateRate = 1000;  // milliseconds
    std::string name;
    std::int32_t active = 1;
    void* parentTreeItem = nullptr;  // the owning server's tree node, not stored
    void* treeItem = nullptr;        // this group's tree node, not stored
    COPCGroup* liveGroup = nullptr;  // not owned

  private:
    std::vector<std::unique_ptr<clBaseOPCItem>> items_;  // ordered by display name
    RecordIdIndex<clBaseOPCItem> itemsById_;
};
