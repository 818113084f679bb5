#pragma once

// The wildcard matcher of the keyword test, which the export and import filters share. All
// comparisons ignore ASCII letter case.

#include <cstddef>
#include <string_view>

namespace tarnvelox::harvest {

// Longest literal run of a pattern the filters were designed for. The matcher compares longer
// runs whole as well, rather than in pieces that would each be searched on their own.
inline constexpr std::size_t kMaxWildcardRun = 51;

// Whole-text match of `text` against `pattern`: "?" one character, "*" any run; literal runs
// after a star take their first occurrence only (no backtracking: "*ab" fails on "abxab" once
// the first "ab" does not end the text). An empty pattern matches nothing. Linear time.
[[nodiscard]] bool wildcard_match(std::string_view text, std::string_view pattern);

}  // namespace tarnvelox::harvest
