#pragma once

// Query seeding: at Start, the engines a search asks become ordinary links of the project's
// links file, so the fetch engine fetches their result pages like any other page. Also the
// request URL prefixes by which result pages of the loaded web search engines are recognised.
// Reads the engines list and the search texts; writes only the links file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/search_texts.h"
#include "store/item_list.h"
#include "store/store.h"

namespace tarnvelox::search {

// What seeding did with the queries of one Start.
struct SeededQueries {
    int32_t queued = 0;  // queries new to the links file
    // Queries the links file held before the call and has not visited yet (node offsets, in
    // engines order, each once): a search cut short before fetched none of them, so this one
    // asks them again.
    std::vector<int32_t> waiting;
};

// The query text of a Harvest-tab search: the first keyword of the "Crawl if contains:" text.
// A text that starts with a double quote gives what follows it up to the next double quote (or
// the end); any other text gives everything up to its first "," (or the end), blanks kept.
[[nodiscard]] std::string first_crawl_keyword(std::string_view crawl_keywords);

// Queues the queries of `search_mode` into the links file of `st`, one per engines record in
// file order:
//   kNameSearch: ticked directories, each with its request template unchanged (the name
//                placeholders are filled when the request is built);
//   kWebSearch:  ticked web search engines, the whole "Email:" text as the query;
//   kHarvest:    every web search engine, ticked or not, the first crawl keyword as the query.
// Each query is a deep copy of its record whose url has the first "$QUERY" replaced by the
// form-encoded query (removed by an empty query; a template without "$QUERY" stays as it is).
// A query the links file holds already is not stored again; one whose encoded text would be
// longer than a request URL may be is not queued at all. Other modes queue nothing.
[[nodiscard]] SeededQueries seed_search_queries(store::Store& st, const store::ItemList& engines,
                                                const harvest::SearchTexts& search,
                                                int32_t search_mode);

// The request URL prefixes of the web search engines in `engines`: each template up to its
// first "?" or "$". A page whose URL begins with one is a result page (harvest::
// is_search_engine_url).
[[nodiscard]] std::vector<std::string> search_engine_prefixes(const store::ItemList& engines);

}  // namespace tarnvelox::search
