#pragma once

// The keyword test word by word, exactly as written: every word against every entry, no early
// decisions, no buckets, no jumps. The fast test is checked against it by tests and the fuzzer.

#include <string>
#include <string_view>
#include <vector>

#include "harvest/crawl_scope.h"
#include "harvest/page_text.h"
#include "harvest/wildcard.h"

namespace tarnvelox::harvest::testing {

inline bool literal_keyword_test(const KeywordList& list, std::string_view page) {
    if (list.empty() || list.front().empty()) return true;
    page = page.substr(0, page.find('\0'));
    const std::size_t header_end = page.find("\r\n\r\n");
    std::size_t pos = header_end == std::string_view::npos ? 0 : header_end;
    auto word_char = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    std::vector<bool> satisfied(list.size(), false);
    bool candidate = false;
    for (;;) {
        pos = skip_filler(page, pos);
        while (pos < page.size() && !word_char(page[pos])) {
            const std::size_t next = page[pos] == '<' ? skip_filler(page, pos) : pos;
            pos = next != pos ? next : pos + 1;
        }
        if (pos >= page.size()) break;
        const std::size_t start = pos;
        while (pos < page.size() && word_char(page[pos])) ++pos;
        const std::string_view word = page.substr(start, pos - start);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const std::string& entry = list[k];
            if (!entry.empty() && entry[0] == '-' && wildcard_match(word, entry.substr(1))) {
                return false;
            }
            if (!entry.empty() && entry[0] == '+' && wildcard_match(word, entry.substr(1))) {
                satisfied[k] = true;
            }
            if (wildcard_match(word, entry)) candidate = true;
        }
    }
    for (std::size_t k = 0; k < list.size(); ++k) {
        if (!list[k].empty() && list[k][0] == '+' && !satisfied[k]) return false;
    }
    return candidate;
}

}  // namespace tarnvelox::harvest::testing
