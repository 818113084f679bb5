#pragma once

// The crawl frontier. The links file is the crawl queue: a free connection slot gets the next
// link in file order that is not marked visited, except that a link on the host served just
// before is put off until the read has reached the end of the file; then the read goes back to
// the first link put off (the second pass) and takes links whatever their host. The visited
// test is made on each record as stored in the file.
//
// The walk is answered from the links file's pending index instead of reading the file node by
// node, which makes a single-host crawl linear instead of quadratic; the links handed out, their
// order and every side effect are those of the node-by-node walk.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "harvest/harvest_env.h"

namespace tarnvelox::harvest {

// What a connection slot holds: the record it fetches (borrowed from the links list), or, when
// the record is in no list (display maximum 0), the record itself.
struct SlotItem {
    store::ItemRecord* item = nullptr;
    store::RecordPtr owned;  // set when `item` is in no list
};

// The frontier's own state, reset at every harvest run start.
struct FrontierState {
    // 0: nothing put off; an offset: the first node put off because of its host;
    // kSecondPass: the read restarted at that node after reaching the end of the file.
    int64_t postponed_position = 0;
    std::optional<std::string> last_host;  // host of the last link handed out in a normal pass
    // A search run fetches its own queries and what they find, and leaves the links an earlier
    // harvest left pending for the next one: nodes before `first_offset` (the end of the links
    // file when the run was seeded) are not handed out, save the `waiting` queries, which go
    // first. 0 and none: every node.
    int64_t first_offset = 0;
    std::deque<int32_t> waiting;
};
inline constexpr int64_t kSecondPass = -1;

// Requests served before any link (the single page of an engine row, the vendor's update host).
class SpecialRequests {
public:
    virtual ~SpecialRequests() = default;
    enum class Result { Given, HoldBack, None };
    // Given: the slot got a request; HoldBack: hand out nothing now; None: go on with links.
    virtual Result serve(int slot, SlotItem& slot_item) = 0;
};

void reset_frontier(FrontierState& state);

// Gives the slot its next link. 1 when the slot now holds a record to fetch (marked visited in
// memory, counted in visited_links), 0 when there is nothing to hand out now.
int next_link_for_slot(HarvestEnv& env, FrontierState& state, int slot, SlotItem& slot_item,
                       SpecialRequests* special);

}  // namespace tarnvelox::harvest
