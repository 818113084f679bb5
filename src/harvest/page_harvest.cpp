#include "harvest/page_harvest.h"

#include <utility>

#include "base/text_util.h"
#include "harvest/crawl_scope.h"
#include "harvest/page_scanner.h"
#include "harvest/page_text.h"
#include "store/item_list.h"

namespace tarnvelox::harvest {

using base::find_nocase;
using base::kNotFound;

bool PageHarvest::begin() {
    const SearchTexts& search = env_.search;
    if (env_.run.search_mode == kWebSearch) {
        const bool engine_page = page_ != nullptr && page_->url &&
                                 is_search_engine_url(*page_->url, search.engine_prefixes);
        crawl_ok_ = engine_page;
        extract_ok_ = !engine_page;
        if (!engine_page && page_ != nullptr &&
            page_mentions_address(text_, search.sought_addresses.value_or(""))) {
            page_->kind |= store::KIND_ADDRESS;
        }
    } else {
        const auto is_set = [](const std::optional<std::string>& keywords) {
            return keywords.has_value() && !keywords->empty();
        };
        crawl_ok_ =
            !is_set(search.crawl_keywords) || page_matches_keywords(search.crawl_list, text_);
        extract_ok_ =
            !is_set(search.extract_keywords) || page_matches_keywords(search.extract_list, text_);
    }
    if (!crawl_ok_ && !extract_ok_) {
        slot_status(env_, slot_, kNoKeywordMatch);
        return false;
    }
    env_.run.links_found_on_page = 0;
    env_.run.addresses_found_on_page = 0;
    return true;
}

std::optional<PageHarvest::Link> PageHarvest::accept_link(std::string& url, Rules rules) {
    collapse_whitespace(url);
    const bool modern = rules == Rules::Modern;
    const uint32_t kind = classify_link(url, modern);
    if (kind == 0) return std::nullopt;
    // A web link that merely mentions "mailto:" (a sharing link's query) is no address.
    if (modern && kind == store::KIND_ADDRESS && find_nocase(url, "mailto:") != 0) {
        return std::nullopt;
    }
    if (env_.run.search_mode == kWebSearch && kind == store::KIND_PAGE &&
        is_search_engine_url(url, env_.search.engine_prefixes) && web_search_drops(url)) {
        return std::nullopt;
    }
    const bool wanted =
        (kind == store::KIND_PAGE && crawl_ok_ && env_.run.search_mode != kNameSearch) ||
        (kind == store::KIND_ADDRESS && extract_ok_);
    if (!wanted) return std::nullopt;
    std::optional<std::string> key = found_item_key(env_, page_, url, kind);
    if (!key) return std::nullopt;
    return Link{std::move(*key), kind};
}

void PageHarvest::store_link(Link link, std::optional<std::string> text, TitleText form) {
    store_found_item(env_, page_, std::move(link.key), std::move(text), link.kind, 0, form);
}

// Links on a search engine's result page that lead to translations, to searches for something
// else, or to anything but another query are not followed.
bool PageHarvest::web_search_drops(std::string_view url) const {
    const std::optional<std::string>& sought = env_.search.sought_addresses;
    const bool names_sought =
        sought && !sought->empty() && url.find(*sought) != std::string_view::npos;
    if (find_nocase(url, "infoseek") != kNotFound && !names_sought) return true;
    if (find_nocase(url, "altavista") != kNotFound &&
        (find_nocase(url, "translate") != kNotFound || !names_sought)) {
        return true;
    }
    return url.find('?') == std::string_view::npos;
}

void PageHarvest::set_title(std::string title) {
    // An unchanged title needs no redraw; a page of repeated titles must not redraw per tag.
    if (page_ == nullptr || title.empty() || page_->title == title) return;
    page_->title = std::move(title);
    if (env_.lists.links.contains(*page_)) env_.shell.link_row_changed(*page_);
}

int PageHarvest::finish() {
    if (!env_.run.import_in_progress) {
        // The status line refreshes the counters too.
        slot_status(env_, slot_,
                    "Found " + base::number_text(env_.run.links_found_on_page) + " links, " +
                        base::number_text(env_.run.addresses_found_on_page) + " emails");
    }
    return env_.run.addresses_found_on_page;
}

}  // namespace tarnvelox::harvest
