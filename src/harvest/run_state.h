#pragma once

// RunState: the harvest run's flags and counters. Harvest run control drives it; it is defined
// here so that the harvest and fetch engines can read it without depending on the layers above.
// One lives in the program's context.

#include <cstdint>

#include "harvest/modes.h"

namespace tarnvelox::harvest {

struct ImportIntake;

// Connection slots: the table has kMaxConnections; the setting "packcount=" chooses how many a
// run uses, kDefaultConnections when it is not set or out of range.
inline constexpr int kMaxConnections = 20;
inline constexpr int32_t kDefaultConnections = 10;

// "Pending Links:": links stored less links handed out to the slots, never below 0.
[[nodiscard]] constexpr int32_t pending_links(int32_t stored, int32_t handed_out) {
    return stored > handed_out ? stored - handed_out : 0;
}

// The connection count a run uses for the setting `packcount`.
[[nodiscard]] constexpr int connections_in_use(int32_t packcount) {
    return packcount >= 1 && packcount <= kMaxConnections ? packcount : kDefaultConnections;
}

struct RunState {
    int32_t harvest_running = 0;
    int32_t stop_requested = 0;  // non-zero once the user cancelled or quit
    int32_t search_mode = kHarvest;
    int32_t engine_mode = kModeHarvest;
    bool import_in_progress = false;
    int32_t merge_mode = kAddUniqueSkipDuplicates;
    // The running import's filter, merge memory and counts (import_intake.h); borrowed from
    // the import for its duration, null otherwise.
    ImportIntake* import_intake = nullptr;
    // Pages are read as today's browsers read them (the modern reader) instead of by the
    // classic scanner's rules. Set from the settings at every Start.
    bool modern_reader = false;
    int32_t links_found_on_page = 0;  // stored since the scanner started the current page
    int32_t addresses_found_on_page = 0;
    int32_t visited_links = 0;
    int32_t bad_links = 0;
    int64_t total_bytes = 0;
};

}  // namespace tarnvelox::harvest
