#pragma once

// ImportIntake: what a running import adds to the intake of found items (record_found_item and
// its halves): the import's own filter, the addresses the import itself has stored or deleted,
// and the counts it reports when it ends. The import owns one for its whole duration and points
// RunState::import_intake at it; nothing else reads or keeps it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tarnvelox::harvest {

// What an import did with the items it offered to the store.
struct ImportTally {
    int32_t addresses = 0;   // addresses stored
    int32_t links = 0;       // links stored
    int32_t duplicates = 0;  // refused: the project holds the key already
    int32_t filtered = 0;    // refused by the import's filter
    int32_t deleted = 0;     // addresses of the project deleted by the merge rule
};

struct ImportIntake {
    // The import's filter, asked about the bare address (no "mailto:") or the link's key;
    // empty: every item passes.
    std::function<bool(std::string_view text)> admits;
    // Keys of the addresses this import stored or deleted under a merge rule that deletes. The
    // rule decides against the project as the import found it: a key met again is one the
    // import handled already (stored it, or deleted it because the project held it), never a
    // duplicate to delete or a new address to add.
    std::unordered_set<std::string> merged;
    ImportTally tally;
};

}  // namespace tarnvelox::harvest
