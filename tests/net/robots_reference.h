#pragma once

// A plain reference for robots.txt pattern matching: a full table over pattern and path
// positions, with none of the matcher's shortcuts. Slow and obviously right, for comparing.

#include <string_view>
#include <vector>

namespace tarnvelox::net::testing {

// Whether `pattern` ("*" any run, final "$" the end) matches a prefix of `path`, or all of it
// when anchored.
inline bool reference_pattern_match(std::string_view pattern, std::string_view path) {
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored) pattern.remove_suffix(1);
    const std::size_t m = pattern.size();
    const std::size_t n = path.size();
    // can[i][j]: pattern[i..] matches path[j..] (to its end when anchored, any prefix if not).
    std::vector<std::vector<char>> can(m + 1, std::vector<char>(n + 1, 0));
    for (std::size_t j = 0; j <= n; ++j) can[m][j] = anchored ? (j == n) : 1;
    for (std::size_t i = m; i-- > 0;) {
        for (std::size_t j = n + 1; j-- > 0;) {
            if (pattern[i] == '*') {
                can[i][j] = can[i + 1][j] || (j < n && can[i][j + 1]);
            } else {
                can[i][j] = j < n && pattern[i] == path[j] && can[i + 1][j + 1];
            }
        }
    }
    return can[0][0] != 0;
}

}  // namespace tarnvelox::net::testing
