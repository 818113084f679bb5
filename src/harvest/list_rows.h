#pragma once

// The rows of the two list views, as the lists change: a row per new record, trimming the
// links view to the display maximum, the icon of a row, the file-name text of the links view's
// first column, and rebuilding both views. What a view shows goes to the person through the
// Shell; the lists keep the records. One thread; records are borrowed for the call.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/shell.h"
#include "store/item_list.h"
#include "store/item_record.h"

namespace tarnvelox::harvest {


// Image index of a row's icon: 0 address (also a link that carries KIND_ADDRESS), then by the
// first status bit that holds: 4 timed out, 5 moved, 3 bad, 2 visited; 1 not yet fetched.
[[nodiscard]] int link_icon(const store::ItemRecord& rec);

// Column 0 of the links view in file-name mode. For a link that carries KIND_ADDRESS, its title.
// When `starting_url` is set and occurs in the url (exact case): the rest after it (one "/"
// directly after it skipped), "index.html" when that rest is empty and the rest followed by
// "index.html" when it ends in "/". Otherwise the part after the url's last "/" ("index.html"
// when nothing follows it), or the whole url when it has no "/".
[[nodiscard]] std::string link_file_name(const store::ItemRecord& rec,
                                         const std::optional<std::string>& starting_url);

// Shows `rec` (already the last record of `links`) as a new last row of the links view, then
// trims: when the view had more than `maxlist` rows (and maxlist is at least 2), the first
// visited link that no slot holds leaves the list and the view (it stays in the links file).
// Returns the position the trimmed record had (it may be `rec` itself), or -1.
int32_t add_link_row(store::ItemList& links, platform::Shell& shell, int32_t maxlist, store::ItemRecord& rec);
// Shows `rec` as a new last row of the addresses view. The addresses list is never trimmed.
void add_address_row(store::ItemList& addresses, platform::Shell& shell, store::ItemRecord& rec);

// Rebuilds both views from the lists: every row goes (Shell::views_cleared), then every link
// gets add_link_row and every address add_address_row, in list order.
void refill_views(store::ItemLists& lists, platform::Shell& shell, int32_t maxlist);

}  // namespace tarnvelox::harvest
