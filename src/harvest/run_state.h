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

// The modern way reads a page up to this many decoded body bytes by default (the setting
// "pagelimit=" changes it): whole pages of today's web, manuals and lists of several megabytes
// included, while a page without end cannot fill the memory.
inline constexpr int64_t kDefaultPageLimit = 16 * 1024 * 1024;
inline constexpr int64_t kMaxPageLimit = 1024 * 1024 * 1024;

// The page limit a setting gives: its value in bytes, the default for 0 or less, never more
// than kMaxPageLimit.
[[nodiscard]] constexpr int64_t page_limit_of(int64_t setting) {
    if (setting <= 0) return kDefaultPageLimit;
    return setting < kMaxPageLimit ? setting : kMaxPageLimit;
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
    // The modern way's page limit (page_limit_of the setting). Set at every Start.
    int64_t page_limit = kDefaultPageLimit;
    int32_t links_found_on_page = 0;  // stored since the scanner started the current page
    int32_t addresses_found_on_page = 0;
    int32_t visited_links = 0;
    int32_t bad_links = 0;
    int64_t total_bytes = 0;
};

}  // namespace tarnvelox::harvest
