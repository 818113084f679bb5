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

// Longest literal run of a pattern the filters were designed for. The matcher compares longer
// runs whole as well, rather than in pieces that would each be searched on their own.
inline constexpr std::size_t kMaxWildcardRun = 51;

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
// Whole-text match of `text` against `pattern`: "?" one character, "*" any run; literal runs
// after a star take their first occurrence only (no backtracking: "*ab" fails on "abxab" once
// the first "ab" does not end the text). An empty pattern matches nothing. Linear time.
[[nodiscard]] bool wildcard_match(std::string_view text, std::string_view pattern);

}  // namespace tarnvelox::harvest
