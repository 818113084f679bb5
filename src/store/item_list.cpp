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
    raw->list_seq = next_seq_++;
    order_.push_back(raw);
    by_offset_.emplace(raw->file_offset, raw);
    return *raw;
}

RecordPtr ItemList::unlink(const ItemRecord& rec) {
    const int32_t index = index_of(rec);
    if (index < 0) return nullptr;
    const auto pos = order_.begin() + index;
    ItemRecord* at = *pos;
    ItemRecord* prev = index == 0 ? nullptr : *std::prev(pos);
    RecordPtr& owner = prev == nullptr ? head_ : prev->next;
    RecordPtr taken = std::move(owner);
    owner = std::move(taken->next);
    if (tail_ == at) tail_ = prev;
    --size_;
    order_.erase(pos);
    // What was known of the records before it stays true.
    if (checked_through_ == at) checked_through_ = prev;
    candidates_.erase({at->list_seq, at});
    auto [first, last] = by_offset_.equal_range(at->file_offset);
    for (auto it = first; it != last; ++it) {
        if (it->second == at) {
            by_offset_.erase(it);
            break;
        }
    }
    return taken;
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
    // Positions are in list order, and so are the sequence numbers given at append.
    const auto pos = std::lower_bound(
        order_.begin(), order_.end(), rec.list_seq,
        [](const ItemRecord* r, uint64_t seq) { return r->list_seq < seq; });
    return pos == order_.end() || *pos != &rec ? -1 : static_cast<int32_t>(pos - order_.begin());
}

ItemRecord* ItemList::find_tail() {
    tail_ = nullptr;
    for (ItemRecord* at = head_.get(); at != nullptr; at = at->next.get()) tail_ = at;
    return tail_;
}

namespace {

bool removable(const ItemRecord& rec) {
    return (rec.status & STATUS_VISITED) != 0 && (rec.status & STATUS_ACTIVE) == 0;
}

}  // namespace

void ItemList::status_changed(const ItemRecord& rec) {
    if (index_of(rec) >= 0) candidates_.emplace(rec.list_seq, const_cast<ItemRecord*>(&rec));
}

ItemRecord* ItemList::first_removable() {
    while (!candidates_.empty() && !removable(*candidates_.begin()->second)) {
        candidates_.erase(candidates_.begin());
    }
    ItemRecord* candidate = candidates_.empty() ? nullptr : candidates_.begin()->second;
    ItemRecord* at = checked_through_ != nullptr ? checked_through_->next.get() : head_.get();
    for (; at != nullptr; at = at->next.get()) {
        // The walk need not pass the first candidate: that one comes first either way.
        if (candidate != nullptr && at->list_seq >= candidate->list_seq) return candidate;
        if (removable(*at)) return at;
        checked_through_ = at;
    }
    return candidate;
}

void ItemList::clear() {
    checked_through_ = nullptr;
    candidates_.clear();
    by_offset_.clear();
    order_.clear();
    head_.reset();
    tail_ = nullptr;
    size_ = 0;
    row_count = 0;
}

}  // namespace tarnvelox::store
