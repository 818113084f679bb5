#include "search/query_seeding.h"

#include <algorithm>

#include "net/request.h"

namespace tarnvelox::search {

namespace {

constexpr std::string_view kQueryPlaceholder = "$QUERY";

bool queried(const store::ItemRecord& rec, int32_t search_mode) {
    switch (search_mode) {
        case harvest::kNameSearch:
            return rec.selected != 0 && (rec.kind & store::KIND_DIRECTORY) != 0;
        case harvest::kWebSearch:
            return rec.selected != 0 && (rec.kind & store::KIND_SEARCH_ENGINE) != 0;
        case harvest::kHarvest:
            return (rec.kind & store::KIND_SEARCH_ENGINE) != 0;
        default:
            return false;
    }
}

}  // namespace

std::string first_crawl_keyword(std::string_view crawl_keywords) {
    if (crawl_keywords.starts_with('"')) {
        const std::string_view rest = crawl_keywords.substr(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(crawl_keywords.substr(0, crawl_keywords.find(',')));
}

SeededQueries seed_search_queries(store::Store& st, const store::ItemList& engines,
                                  const harvest::SearchTexts& search, int32_t search_mode) {
    SeededQueries seeded;
    std::string query;
    if (search_mode == harvest::kWebSearch) {
        query = search.sought_addresses.value_or("");
    } else if (search_mode == harvest::kHarvest) {
        query = first_crawl_keyword(search.crawl_keywords.value_or(""));
    }
    // Too long to encode: no query URL could carry it.
    if (!net::encode_form_value(query)) return seeded;

    // Only a query stored before this call waits: one stored by it lies where the run walks.
    const int64_t stored_before = st.links.end_offset();
    for (const store::ItemRecord* rec = engines.head(); rec != nullptr; rec = rec->next.get()) {
        if (!rec->url || !queried(*rec, search_mode)) continue;
        store::RecordPtr copy = store::copy_record(*rec);
        if (search_mode != harvest::kNameSearch) {
            const std::size_t at = copy->url->find(kQueryPlaceholder);
            if (at != std::string::npos) copy->url->replace(at, kQueryPlaceholder.size(), query);
        }
        if (copy->url->size() > net::kMaxExpandedUrl) continue;
        if (store::tree_insert(st, store::TreeFile::Links, *copy) >= 0) {
            ++seeded.queued;
            continue;
        }
        const int32_t offset = st.links.find(*copy->url);
        // Refused (told by the store when it matters), or asked by an engine before this one.
        if (offset < 0 || offset >= stored_before ||
            std::find(seeded.waiting.begin(), seeded.waiting.end(), offset) !=
                seeded.waiting.end()) {
            continue;
        }
        const store::RecordPtr stored = st.links.read_at(offset);
        if (stored && (stored->status & store::STATUS_VISITED) == 0) {
            seeded.waiting.push_back(offset);
        }
    }
    return seeded;
}

std::vector<std::string> search_engine_prefixes(const store::ItemList& engines) {
    std::vector<std::string> prefixes;
    for (const store::ItemRecord* rec = engines.head(); rec != nullptr; rec = rec->next.get()) {
        if (!rec->url || (rec->kind & store::KIND_SEARCH_ENGINE) == 0) continue;
        std::string prefix = rec->url->substr(0, rec->url->find_first_of("?$"));
        if (!prefix.empty()) prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}

}  // namespace tarnvelox::search
