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

#include "platform/shell.h"

namespace tarnvelox::store {

int link_icon(const ItemRecord& rec) {
    if ((rec.kind & KIND_ADDRESS) != 0) return 0;
    if ((rec.status & STATUS_TIMEOUT) != 0) return 4;
    if ((rec.status & STATUS_MOVED) != 0) return 5;
    if ((rec.status & STATUS_BAD) != 0) return 3;
    if ((rec.status & STATUS_VISITED) != 0) return 2;
    return 1;
}

std::string link_file_name(const ItemRecord& rec, const std::optional<std::string>& starting_url) {
    constexpr std::string_view kIndex = "index.html";
    if ((rec.kind & KIND_ADDRESS) != 0) return rec.title.value_or("");
    const std::string_view url = rec.url ? std::string_view(*rec.url) : std::string_view();
    if (starting_url && !starting_url->empty()) {
        const std::size_t at = url.find(*starting_url);
        if (at != std::string_view::npos) {
            std::string_view rest = url.substr(at + starting_url->size());
            if (rest.starts_with('/')) rest.remove_prefix(1);
            if (rest.empty()) return std::string(kIndex);
            if (rest.ends_with('/')) return std::string(rest) + std::string(kIndex);
            return std::string(rest);
        }
    }
    const std::size_t slash = url.rfind('/');
    if (slash == std::string_view::npos) return std::string(url);
    if (slash + 1 == url.size()) return std::string(kIndex);
    return std::string(url.substr(slash + 1));
}

int32_t add_link_row(ItemList& links, platform::Shell& shell, int32_t maxlist, ItemRecord& rec) {
    const int32_t rows_before = links.row_count;
    shell.link_row_added(rec);
    ++links.row_count;
    if (rows_before <= maxlist || maxlist < 2) return -1;
    ItemRecord* removable = links.first_removable();
    if (removable == nullptr) return -1;
    const int32_t row = links.index_of(*removable);
    // Only a record that has a row: while the views are rebuilt, later records have none yet.
    if (row < 0 || row >= links.row_count) return -1;
    shell.link_row_removing(row);
    links.unlink(*removable);  // frees the record
    shell.link_row_removed(row);
    --links.row_count;
    return row;
}

void add_address_row(ItemList& addresses, platform::Shell& shell, ItemRecord& rec) {
    shell.address_row_added(rec);
    ++addresses.row_count;
}

void refill_views(ItemLists& lists, platform::Shell& shell, int32_t maxlist) {
    shell.views_cleared();
    lists.links.row_count = 0;
    lists.addresses.row_count = 0;
    // By position: trimming may take out the record just added, one before it (the next one
    // then moves into its place) or one after it.
    for (int32_t at = 0; at < lists.links.size();) {
        const int32_t trimmed = add_link_row(lists.links, shell, maxlist, lists.links.at(at));
        if (trimmed < 0 || trimmed > at) ++at;
    }
    for (ItemRecord* r = lists.addresses.head(); r != nullptr; r = r->next.get()) {
        add_address_row(lists.addresses, shell, *r);
    }
}

}  // namespace tarnvelox::store
