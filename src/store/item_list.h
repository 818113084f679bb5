#pragma once

// ItemList: the in-memory links list or addresses list, a chain of ItemRecords in the order
// they were found, with its tail and the number of rows its list view shows. The list owns its
// records; a connection slot's current record is a borrowed pointer into the links list and must
// not be removed while the slot holds it (STATUS_ACTIVE). Row i of a list view shows at(i), so
// the list also keeps its records by position: a view reads any row in constant time.

#include <cstdint>
#include <deque>
#include <set>
#include <unordered_map>
#include <utility>

#include "store/item_record.h"

namespace tarnvelox::store {

class ItemList {
public:
    ItemList() = default;
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;

    [[nodiscard]] ItemRecord* head() const { return head_.get(); }
    [[nodiscard]] ItemRecord* tail() const { return tail_; }
    [[nodiscard]] bool empty() const { return head_ == nullptr; }
    [[nodiscard]] int32_t size() const { return size_; }
    // The record at position `index` (0 <= index < size()): row `index` of the list view.
    [[nodiscard]] ItemRecord& at(int32_t index) const {
        return *order_[static_cast<std::size_t>(index)];
    }

    // Rows the list view shows. Equal to size() outside an import; an import appends records
    // without rows and the views are rebuilt afterwards.
    int32_t row_count = 0;

    // Appends `rec` at the tail and returns it (the list owns it now).
    ItemRecord& append(RecordPtr rec);
    // Unlinks `rec` from the list and hands it back (null when it is not in the list). Head and
    // tail stay right.
    RecordPtr unlink(const ItemRecord& rec);
    // The first record (in list order) whose node is at `file_offset`, or null. A record's
    // file_offset must not change while it is in the list.
    [[nodiscard]] ItemRecord* find_by_offset(int32_t file_offset) const;
    // Whether `rec` is a record of this list (by its file_offset, without walking the list).
    [[nodiscard]] bool contains(const ItemRecord& rec) const;
    // Position of `rec` in the list (its row), or -1. A binary search of the positions.
    [[nodiscard]] int32_t index_of(const ItemRecord& rec) const;
    // Walks the chain from its head, sets the tail to its last record and returns it.
    ItemRecord* find_tail();
    // Frees every record; rows and size go to 0.
    void clear();

    // Code that may have made listed records removable by trimming (visited and no longer
    // held by a slot) says so here; the trimming walk then looks at the whole list again.
    void status_changed() {
        checked_through_ = nullptr;
        candidates_.clear();
    }
    // The same for one known record, without a new walk: it is looked at first.
    void status_changed(const ItemRecord& rec);
    // The first visited record that no slot holds, or null. Remembers how far the list holds
    // none, and the records said to have changed, so that trimming a long list costs a few
    // steps per row instead of a walk from its head.
    [[nodiscard]] ItemRecord* first_removable();

private:
    RecordPtr head_;
    ItemRecord* tail_ = nullptr;
    int32_t size_ = 0;
    // The records by position, in list order. A deque: trimming takes records from near the
    // front, which a vector would pay for by moving every record after them.
    std::deque<ItemRecord*> order_;
    // Records by file_offset, so that the crawl frontier finds a link's record without walking
    // the list. Offsets are unique for stored records; a multimap keeps it right regardless.
    std::unordered_multimap<int32_t, ItemRecord*> by_offset_;
    // Every record up to and including this one is not removable (null: nothing known),
    // except the candidates.
    const ItemRecord* checked_through_ = nullptr;
    // Records said to have changed, by list order; some may no longer be removable.
    std::set<std::pair<uint64_t, ItemRecord*>> candidates_;
    uint64_t next_seq_ = 1;
};

struct ItemLists {
    ItemList links;
    ItemList addresses;
};

}  // namespace tarnvelox::store
