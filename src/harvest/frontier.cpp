#include "harvest/frontier.h"

#include <algorithm>

#include "base/text_util.h"
#include "harvest/list_rows.h"

namespace tarnvelox::harvest {

namespace {

using store::LinkTreeFile;

// Takes the record of the node at `offset` for the slot. False when the links list already
// holds that record as visited: the walk then goes on.
bool take(HarvestEnv& env, const store::PendingLink& link, store::RecordPtr parsed,
          SlotItem& slot_item) {
    store::ItemRecord* previous = slot_item.item;
    store::ItemRecord* taken = parsed.get();
    store::RecordPtr owned;
    if (env.maxlist != 0) {
        store::ItemRecord* listed = env.lists.links.find_by_offset(link.offset);
        if (listed != nullptr) {
            if ((listed->status & store::STATUS_VISITED) != 0) return false;
            taken = listed;
            parsed.reset();
        }
        if (previous != nullptr) {
            if (env.lists.links.contains(*previous)) env.shell.link_row_changed(*previous);
        }
        taken->status |= store::STATUS_ACTIVE;
        if (listed == nullptr) {
            taken = &env.lists.links.append(std::move(parsed));
            harvest::add_link_row(env.lists.links, env.shell, env.maxlist, *taken);
        }
    } else {
        owned = std::move(parsed);
    }
    if (previous != nullptr) {
        previous->status &= ~store::STATUS_ACTIVE;
        env.lists.links.status_changed(*previous);
    }
    slot_item.owned = std::move(owned);  // frees a previous record that was in no list
    slot_item.item = taken;
    taken->status |= store::STATUS_VISITED;
    ++env.run.visited_links;
    return true;
}

}  // namespace

void reset_frontier(FrontierState& state) {
    state.postponed_position = 0;
    state.last_host.reset();
    state.first_offset = 0;
    state.waiting.clear();
}

int next_link_for_slot(HarvestEnv& env, FrontierState& state, int slot, SlotItem& slot_item,
                       SpecialRequests* special) {
    if (env.run.stop_requested != 0 || env.run.harvest_running == 0) return 0;
    if (special != nullptr) {
        switch (special->serve(slot, slot_item)) {
            case SpecialRequests::Result::Given:
                return 1;
            case SpecialRequests::Result::HoldBack:
                return 0;
            case SpecialRequests::Result::None:
                break;
        }
    }
    if (!env.store.links.is_open() && !store::open_store(env.store)) return 0;
    LinkTreeFile& links = env.store.links;

    while (!state.waiting.empty()) {
        const int32_t offset = state.waiting.front();
        state.waiting.pop_front();
        store::RecordPtr parsed = links.read_at(offset);
        if (!parsed || (parsed->status & store::STATUS_VISITED) != 0) continue;
        const store::PendingLink link{offset, env.store.read_position, LinkTreeFile::kUnknownHost};
        if (take(env, link, std::move(parsed), slot_item)) return 1;
    }
    // Every pass over a node either takes it, skips it for good (visited in the list) or puts
    // it off once; the loop ends.
    for (;;) {
        const int64_t position = std::max(env.store.read_position, state.first_offset);
        const bool normal_pass = state.postponed_position != kSecondPass;
        std::optional<store::PendingLink> link;
        if (normal_pass) {
            const uint32_t excluded =
                state.last_host ? links.host_id(*state.last_host) : LinkTreeFile::kUnknownHost;
            link = links.next_pending(position, excluded);
            if (state.postponed_position == 0 && excluded != LinkTreeFile::kUnknownHost) {
                // Links on the last host before the one taken are put off.
                const auto first = links.next_pending(position, LinkTreeFile::kUnknownHost);
                if (first && (!link || first->offset < link->offset)) {
                    state.postponed_position = first->offset;
                    env.store.last_read_offset = first->offset;
                }
            }
            if (!link) {
                env.store.read_position = links.end_offset();
                if (state.postponed_position == 0) return 0;
                env.store.read_position = state.postponed_position;
                state.postponed_position = kSecondPass;
                continue;
            }
        } else {
            link = links.next_pending(position, LinkTreeFile::kUnknownHost);
            if (!link) {
                env.store.read_position = links.end_offset();
                state.postponed_position = 0;
                return 0;
            }
            state.postponed_position = 0;
        }
        env.store.read_position = link->next_position;
        env.store.last_read_offset = link->offset;
        store::RecordPtr parsed = links.read_at(link->offset);
        if (!parsed) continue;  // the file changed under the index; it is rebuilt by then
        if (normal_pass) state.last_host = std::string(store::link_host(*parsed->url));
        if (take(env, *link, std::move(parsed), slot_item)) return 1;
    }
}

}  // namespace tarnvelox::harvest
