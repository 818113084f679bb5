#pragma once

// The state the harvest engine reads and writes while pages are scanned and found items are
// recorded: the harvest run's flags and counters, the search texts of the tabs with what is
// derived from them, and HarvestEnv, the set of borrowed references every harvest function works
// on. The run state is driven by harvest run control; it is defined here so that the engine can
// read it without depending on the layers above. One of each lives in the program's context.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/status_board.h"
#include "platform/shell.h"
#include "store/item_list.h"
#include "store/store.h"

namespace tarnvelox::harvest {

// The tab that started the harvest run.
enum SearchMode : int32_t {
    kNameSearch = 0,
    kWebSearch = 1,
    kHarvest = 2,
    kDetails = 3,
};

// How far a crawl may go from its starting URL ("Limit to:").
enum CrawlScope : int32_t {
    kScopeUrl = 0,
    kScopeDirectory = 1,
    kScopePath = 2,
    kScopeServer = 3,
    kScopeNoLimit = 4,
};

// Import merge rules for addresses already in the file.
enum MergeMode : int32_t {
    kAddUniqueSkipDuplicates = 0,
    kAddUniqueDeleteDuplicates = 1,
    kDeleteDuplicates = 2,
};

// What the fetch engine is doing.
enum EngineMode : int32_t {
    kModeHarvest = 0,
    kModeVersionCheck = 1,
    kModeUpgrade = 2,           // upgrade check or setup download
    kModeSinglePage = 4,        // one engine page fetched and saved as "page.htm"
    kModeSinglePagePending = 5  // that page redirected: fetch it again and take what comes
};

struct RunState {
    int32_t harvest_running = 0;
    int32_t stop_requested = 0;  // non-zero once the user cancelled or quit
    int32_t search_mode = kHarvest;
    int32_t engine_mode = kModeHarvest;
    bool import_in_progress = false;
    int32_t merge_mode = kAddUniqueSkipDuplicates;
    int32_t links_found_on_page = 0;      // stored since the scanner started the current page
    int32_t addresses_found_on_page = 0;
    int32_t visited_links = 0;
    int32_t bad_links = 0;
    int64_t total_bytes = 0;
};

// A parsed keyword list: at most kMaxKeywords entries. An entry starting with "+" must occur,
// one starting with "-" must not, any other is one of the alternatives.
using KeywordList = std::vector<std::string>;
inline constexpr std::size_t kMaxKeywords = 255;

struct SearchTexts {
    std::optional<std::string> starting_url;      // normalised; none when the field is empty
    int32_t crawl_scope = kScopePath;
    std::optional<std::string> crawl_keywords;    // "Crawl if contains:"
    std::optional<std::string> extract_keywords;  // "Extract if contains:"
    std::optional<std::string> sought_addresses;  // the Web Search tab's "Email:"
    std::optional<std::string> person_name;       // the Name Search tab's "Name:"
    std::optional<std::string> scope_base;        // derived at every harvest run start
    KeywordList crawl_list;                       // parsed at every harvest run start
    KeywordList extract_list;
};

// Everything a harvest function works on, borrowed from the program's context for the call.
struct HarvestEnv {
    store::Store& store;
    store::ItemLists& lists;
    RunState& run;
    SearchTexts& search;
    platform::Shell& shell;
    const int32_t& maxlist;  // setting "Maximum number of items to display in list:"
    StatusBoard& status;     // where every slot's status line goes
};

// Writes a status line the one way every part of the harvest writes them.
inline void slot_status(HarvestEnv& env, int slot, std::string_view message) {
    env.status.set(slot, message);
}

}  // namespace tarnvelox::harvest
