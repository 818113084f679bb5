#include "store/item_list.h"

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
        return taken;
    }
    return nullptr;
}

ItemRecord* ItemList::find_by_offset(int32_t file_offset) const {
    for (ItemRecord* at = head_.get(); at != nullptr; at = at->next.get()) {
        if (at->file_offset == file_offset) return at;
    }
    return nullptr;
}

int32_t ItemList::index_of(const ItemRecord& rec) const {
    int32_t index = 0;
    for (const ItemRecord* at = head_.get(); at != nullptr; at = at->next.get(), ++index) {
        if (at == &rec) return index;
    }
    return -1;
}

ItemRecord* ItemList::find_tail() {
    tail_ = nullptr;
    for (ItemRecord* at = head_.get(); at != nullptr; at = at->next.get()) tail_ = at;
    return tail_;
}

void ItemList::clear() {
    head_.reset();
    tail_ = nullptr;
    size_ = 0;
    row_count = 0;
}

}  // namespace tarnvelox::store
