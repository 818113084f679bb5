#include "harvest/wildcard.h"

#include <algorithm>

#include "base/text_util.h"
#include "harvest/page_text.h"

namespace tarnvelox::harvest {

using base::c_text;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

}  // namespace

bool wildcard_match(std::string_view text, std::string_view pattern) {
    text = c_text(text);
    pattern = c_text(pattern);
    if (pattern.empty()) return false;

    std::size_t t = 0;
    std::size_t p = 0;
    bool after_star = false;
    while (p < pattern.size()) {
        const char c = pattern[p];
        if (c == '?') {
            if (t == text.size()) return false;
            ++t;
            ++p;
        } else if (c == '*') {
            if (p + 1 == pattern.size()) return true;
            after_star = true;
            ++p;
        } else {
            // A literal run, compared whole whatever its length. After a star only its first
            // occurrence is tried: the matcher never backtracks, which keeps it linear.
            const std::size_t run_end = std::min(pattern.find_first_of("*?", p), pattern.size());
            const std::string_view run = pattern.substr(p, run_end - p);
            if (after_star) {
                const std::size_t at = find_nocase_linear(text, run, t);
                if (at == kNone) return false;
                t = at + run.size();
            } else {
                if (!base::equal_nocase(text.substr(t, run.size()), run)) return false;
                t += run.size();
            }
            p = run_end;
        }
    }
    return t == text.size();
}

}  // namespace tarnvelox::harvest
