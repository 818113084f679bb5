#pragma once

// The filters of the Export and Import dialogs ("Limit to Domain:", "Must Contain:", "Must not
// contain:") and the wildcard matcher they share with the keyword test. All comparisons ignore
// ASCII letter case.

#include <string>
#include <string_view>

#include "store/item_record.h"

namespace tarnvelox::harvest {

// The three filter texts; an empty text is a filter that is not set.
struct ItemFilter {
    std::string domains;           // comma-separated top-level labels, e.g. "au,nz,com"
    std::string must_contain;      // substring, or wildcard pattern with "*" or "?"
    std::string must_not_contain;  // the same form
};

enum class ListKind { Links, Addresses };

// Longest literal run of a pattern that the matcher compares in one piece.
inline constexpr std::size_t kMaxWildcardRun = 51;

// The text of `rec` the filters look at: the bare address (`title`) for addresses, the `url`
// for links; true when it passes every filter that is set.
[[nodiscard]] bool passes_item_filter(const store::ItemRecord& rec, ListKind list,
                                      const ItemFilter& filter);
// The same tests on a text (an imported line).
[[nodiscard]] bool passes_text_filter(std::string_view text, const ItemFilter& filter);
// True when the host of `text` ends in one of the labels of `domain_list` (or is numeric).
[[nodiscard]] bool domain_allowed(std::string_view text, std::string_view domain_list);
// Whole-text match of `text` against `pattern`: "?" one character, "*" any run; literal runs
// after a star take their first occurrence only. An empty pattern matches nothing.
[[nodiscard]] bool wildcard_match(std::string_view text, std::string_view pattern);

}  // namespace tarnvelox::harvest
