#include "harvest/list_rows.h"

#include <string_view>

namespace tarnvelox::harvest {

using store::ItemList;
using store::ItemLists;
using store::ItemRecord;
using store::KIND_ADDRESS;
using store::STATUS_ACTIVE;
using store::STATUS_BAD;
using store::STATUS_MOVED;
using store::STATUS_TIMEOUT;
using store::STATUS_VISITED;


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

}  // namespace tarnvelox::harvest
