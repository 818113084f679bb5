#pragma once

// The filters of the Export and Import dialogs ("Limit to Domain:", "Must Contain:", "Must not
// contain:"). A filter text with "*" or "?" is read with the keyword test's wildcard matcher.
// All comparisons ignore ASCII letter case.

#include <string>
#include <string_view>

#include "store/item_record.h"

namespace tarnvelox::exchange {

// The three filter texts; an empty text is a filter that is not set.
struct ItemFilter {
    std::string domains;           // comma-separated top-level labels, e.g. "au,nz,com"
    std::string must_contain;      // substring, or wildcard pattern with "*" or "?"
    std::string must_not_contain;  // the same form
};

enum class ListKind { Links, Addresses };

// The text of `rec` the filters look at: the bare address (`title`) for addresses, the `url`
// for links; true when it passes every filter that is set.
[[nodiscard]] bool passes_item_filter(const store::ItemRecord& rec, ListKind list,
                                      const ItemFilter& filter);
// The same tests on a text (an imported line).
[[nodiscard]] bool passes_text_filter(std::string_view text, const ItemFilter& filter);
// True when the host of `text` (after its first "//", up to "?", "#", "/" or ":") ends in one of
// the comma-separated labels of `domain_list` (whole, ignoring case; blanks count), or when its
// last label starts with a digit. An empty list allows everything; a host without "." nothing.
[[nodiscard]] bool domain_allowed(std::string_view text, std::string_view domain_list);
}  // namespace tarnvelox::exchange
