#pragma once

// The crawl scope ("Limit to:") and the keyword lists ("Crawl if contains:", "Extract if
// contains:") of the Harvest tab: what is derived from them at every harvest run start and the
// tests applied to each found link and each fetched page.

#include <optional>
#include <string>
#include <string_view>

#include "harvest/harvest_env.h"

namespace tarnvelox::harvest {

// Longest keyword text that is parsed (the working buffer of 2048 bytes); the rest is ignored.
inline constexpr std::size_t kMaxKeywordText = 2048;

// Derives search.scope_base from the starting URL and crawl_scope; none outside Harvest mode,
// without a starting URL, or with "No Limit". "URL": the starting URL; "Directory" and "Path":
// its text after the first "//" up to its last "/"; "Server": that up to its first "/".
void compute_scope_base(SearchTexts& search, int32_t search_mode);

// Whether a page link (already cut and trimmed) may be stored under the current scope: never
// with "URL"; otherwise it must contain scope_base (exact case, anywhere), and with "Directory"
// lie directly in that directory.
[[nodiscard]] bool scope_admits(const SearchTexts& search, std::string_view link);

// Replaces the entries of `list` with those parsed from `text` (none counts as empty; cut to
// kMaxKeywordText): " OR " -> ",", " AND " -> ",+", " NOT " -> ",-", blanks -> ",", runs of
// commas -> one, then leading white space skipped and the text split at commas (white space
// after a comma skipped); at most kMaxKeywords entries. Nothing is kept after a final comma,
// but a leading blank or comma gives an empty first entry (a list that matches every page).
void parse_keyword_list(KeywordList& list, const std::optional<std::string>& text);

// The keyword test on a page (after its response header): true when a word matches one of the
// entries, every "+" entry is matched and no "-" entry is. Words are the runs of ASCII letters
// and digits outside tags; each is compared whole with wildcard_match. An empty list, or one
// whose first entry is empty, matches every page. Linear in the page, without allocating per
// word.
[[nodiscard]] bool page_matches_keywords(const KeywordList& list, std::string_view page);

}  // namespace tarnvelox::harvest
