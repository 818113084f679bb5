#pragma once

// PageHarvest: what happens to one page whatever way it is read. It decides whether the page's
// links and addresses may be taken (search mode and keyword lists), turns each link a reader
// finds into the key it is stored under, stores it with its text, keeps the page's title, and
// writes the page's status line at the end. Each page reader drives one per page; it borrows
// the environment, the page record and the page text for that page's scan.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "harvest/found_item.h"
#include "harvest/harvest_env.h"
#include "store/item_record.h"

namespace tarnvelox::harvest {

class PageHarvest {
  public:
    // `page` is the record of the page being read (may be null); `text` is the whole page text
    // as handed to the scanner (the keyword test and the Web Search test read it).
    PageHarvest(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text)
        : env_(env), slot_(slot), page_(page), text_(text) {}
    PageHarvest(const PageHarvest&) = delete;
    PageHarvest& operator=(const PageHarvest&) = delete;

    // Decides what may be taken from the page. When neither its links nor its addresses may,
    // the slot's status line says "No Keyword Match - Page ignored." and the result is false;
    // otherwise the page's counters start at 0 and the result is true.
    [[nodiscard]] bool begin();
    // Whether addresses (in text and in "mailto:" links) may be recorded from this page.
    [[nodiscard]] bool extract_ok() const { return extract_ok_; }

    struct Link {
        std::string key;  // as it will be stored
        uint32_t kind;    // KIND_PAGE or KIND_ADDRESS
    };
    // The key a link found on the page would be stored under, or none when the link is not
    // wanted: not a page or an address, dropped on a search engine's result page, not taken
    // from this page, refused by record_found_item's checks, or stored already. `url` has its
    // white space collapsed in place. The modern rules take links ending in "/" as pages and
    // only "mailto:" links as addresses.
    enum class Rules { Classic, Modern };
    [[nodiscard]] std::optional<Link> accept_link(std::string& url, Rules rules = Rules::Classic);
    // Stores an accepted link with its text (none: "No Title").
    void store_link(Link link, std::optional<std::string> text, TitleText form = TitleText::Markup);

    // A non-empty title different from the page's becomes its title, and the page's row is
    // shown again when it is listed. Nothing happens without a page record.
    void set_title(std::string title);

    // Writes "Found N links, M emails" on the slot's status line (not during an import) and
    // returns the number of addresses recorded from the page.
    int finish();

    [[nodiscard]] HarvestEnv& env() { return env_; }
    [[nodiscard]] int slot() const { return slot_; }
    [[nodiscard]] store::ItemRecord* page() const { return page_; }

  private:
    [[nodiscard]] bool web_search_drops(std::string_view url) const;

    HarvestEnv& env_;
    const int slot_;
    store::ItemRecord* const page_;
    const std::string_view text_;
    bool crawl_ok_ = true;    // page links found here may be recorded
    bool extract_ok_ = true;  // addresses and "mailto:" links found here may be recorded
};

}  // namespace tarnvelox::harvest
