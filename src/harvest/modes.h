#pragma once

// The modes a harvest runs in: the tab that started it, how far the crawl may go from its
// starting URL, the merge rule of an import, and what the fetch engine is doing.

#include <cstdint>

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

}  // namespace tarnvelox::harvest
