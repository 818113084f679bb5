#pragma once

// HarvestEnv: the set of borrowed references every harvest function works on (store, lists, run
// state, search texts, shell, display maximum, status lines), taken from the program's context
// for the call.

#include <cstdint>
#include <string_view>

#include "harvest/modes.h"
#include "harvest/run_state.h"
#include "harvest/search_texts.h"
#include "harvest/status_board.h"
#include "platform/shell.h"
#include "store/item_list.h"
#include "store/store.h"

namespace tarnvelox::harvest {

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
