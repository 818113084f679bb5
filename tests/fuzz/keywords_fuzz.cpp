// Arbitrary keyword texts against arbitrary pages: the text up to the first 0x01 byte is the
// keyword text, the rest the page. The verdict is compared with the word-by-word walk.

#include <cstdint>
#include <string>

#include "exchange/list_filter.h"
#include "harvest/crawl_scope.h"
#include "harvest/keyword_reference.h"
#include "harvest/wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnvelox::harvest;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\x01');
    const std::string keywords(input.substr(0, split));
    const std::string_view page = split == std::string_view::npos ? "" : input.substr(split + 1);
    static KeywordList list;
    parse_keyword_list(list, keywords);
    if (list.size() > kMaxKeywords) __builtin_trap();
    // The fast test must give the verdict of the word-by-word walk.
    if (page_matches_keywords(list, page) != testing::literal_keyword_test(list, page)) {
        __builtin_trap();
    }
    (void)wildcard_match(page, keywords);
    (void)exchange::domain_allowed(page, keywords);
    return 0;
}
