#pragma once

// SearchTexts: the texts of the search tabs (starting URL, scope, keywords, sought addresses,
// person name) with what is derived from them at every harvest run start (scope base and the
// parsed keyword lists). One lives in the program's context.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harvest/modes.h"

namespace tarnvelox::harvest {

// A parsed keyword list: at most kMaxKeywords entries. An entry starting with "+" must occur,
// one starting with "-" must not, any other is one of the alternatives.
using KeywordList = std::vector<std::string>;
inline constexpr std::size_t kMaxKeywords = 255;

struct SearchTexts {
    std::optional<std::string> starting_url;  // normalised; none when the field is empty
    int32_t crawl_scope = kScopePath;
    std::optional<std::string> crawl_keywords;    // "Crawl if contains:"
    std::optional<std::string> extract_keywords;  // "Extract if contains:"
    std::optional<std::string> sought_addresses;  // the Web Search tab's "Email:"
    std::optional<std::string> person_name;       // the Name Search tab's "Name:"
    std::optional<std::string> scope_base;        // derived at every harvest run start
    KeywordList crawl_list;                       // parsed at every harvest run start
    KeywordList extract_list;
    // Request URL prefixes of the loaded web search engines, taken at every harvest run start:
    // pages under them are result pages (is_search_engine_url).
    std::vector<std::string> engine_prefixes;
};

}  // namespace tarnvelox::harvest
