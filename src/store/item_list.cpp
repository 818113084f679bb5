#include "store/item_list.h"

#include <algorithm>
#include <iterator>

namespace tarnvelox::store {

ItemRecord& ItemList::append(RecordPtr rec) {
    rec->next.reset();
    ItemRecord* raw = rec.get();
    if (tail_ == nullptr) {
        head_ = std::move(rec);
    } else {
        tail_->next = std::move(rec);
    }
    tail_ = raw;
    ++size_;
    order_.push_back(raw);
    by_offset_.emplace(raw->file_offset, raw);
    return *raw;
}

RecordPtr ItemList::unlink(const ItemRecord& rec) {
    ItemRecord* prev = nullptr;
    for (ItemRecord* at = head_.get(); at != nullptr; prev = at, at = at->next.get()) {
        if (at != &rec) continue;
        RecordPtr& owner = prev == nullptr ? head_ : prev->next;
        RecordPtr taken = std::move(owner);
        owner = std::move(taken->next);
        if (tail_ == at) tail_ = prev;
        --size_;
        const auto pos = std::find(order_.begin(), order_.end(), at);
        if (pos != order_.end()) order_.erase(pos);
        checked_through_ = nullptr;
        auto [first, last] = by_offset_.equal_range(at->file_offset);
        for (auto it = first; it != last; ++it) {
            if (it->second == at) {
                by_offset_.erase(it);
                break;
            }
        }
        return taken;
    }
    return nullptr;
}

ItemRecord* ItemList::find_by_offset(int32_t file_offset) const {
    auto [first, last] = by_offset_.equal_range(file_offset);
    if (first == last) return nullptr;
    if (std::next(first) == last) return first->second;
    for (ItemRecord* at = head_.get(); at != nullptr; at = at->next.get()) {
        if (at->file_offset == file_offset) return at;
    }
    return nullptr;
}

bool ItemList::contains(const ItemRecord& rec) const {
    auto [first, last] = by_offset_.equal_range(rec.file_offset);
    for (auto it = first; it != last; ++it) {
        if (it->second == &rec) return true;
    }
    return false;
}

int32_t ItemList::index_of(const ItemRecord& rec) const {
    const auto pos = std::find(order_.begin(), order_.end(), &rec);
    return pos == order_.end() ? -1 : static_cast<int32_t>(pos - order_.begin());
}

ItemRecord* ItemList::find_tail() {
    tail_ = nullptr;
    for (ItemRecord* at = head_.get(); at != nullptr; at = at->next.get()) tail_ = at;
    return tail_;
}

ItemRecord* ItemList::first_removable() {
    ItemRecord* at = checked_through_ != nullptr ? checked_through_->next.get() : head_.get();
    for (; at != nullptr; at = at->next.get()) {
        if ((at->status & STATUS_VISITED) != 0 && (at->status & STATUS_ACTIVE) == 0) return at;
        checked_through_ = at;
    }
    return nullptr;
}

void ItemList::clear() {
    checked_through_ = nullptr;
    by_offset_.clear();
    order_.clear();
    head_.reset();
    tail_ = nullptr;
    size_ = 0;
    row_count = 0;
}

}  // namespace tarnvelox::store
