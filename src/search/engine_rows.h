#pragma once

// The five engine rows of the "Name Search" and "Web Search" pages: which engine each row
// shows, its text, whether its tick box can be used, and the commit of the ticks back into the
// engines list. A row is one group of consecutive records with the same engine_id that belong
// on the page; the row shows the group's first record and its tick applies to the whole group.
// The records are borrowed from the engines list and stay valid until the list is cleared.

#include <array>
#include <cstdint>
#include <string>

#include "store/item_list.h"

namespace tarnvelox::search {

inline constexpr int kEngineRows = 5;
inline constexpr std::size_t kEngineRowDots = 110;  // dots after the name; the box cuts them

enum class EnginePage {
    NameSearch,  // directories: records without KIND_SEARCH_ENGINE
    WebSearch,   // web search engines: records without KIND_DIRECTORY
};

struct EngineRow {
    store::ItemRecord* record = nullptr;  // null: an empty row (tick and ">>" disabled)
    std::string text;                     // the name, "&" doubled, then kEngineRowDots dots
    bool tickable = false;                // the record has a request URL not starting with "*"
    bool ticked = false;
};

using EngineRows = std::array<EngineRow, kEngineRows>;

// The rows from `first` (null: the head of the list) on. A record that cannot be ticked gets
// `selected` 0.
[[nodiscard]] EngineRows engine_rows(const store::ItemList& engines, store::ItemRecord* first,
                                     EnginePage page);

// Stores each row's tick (`ticks[i]`) into the `selected` of its record and of every following
// record of the same group.
void commit_engine_ticks(const EngineRows& rows, const std::array<bool, kEngineRows>& ticks);

// How many rows the page's list has (the scroll range counts rows, not engine lines).
[[nodiscard]] int engine_row_count(const store::ItemList& engines, EnginePage page);

// The first record of the row `skip` rows below the top of the page's list (null when the list
// has fewer rows).
[[nodiscard]] store::ItemRecord* engine_row_start(const store::ItemList& engines, int skip,
                                                  EnginePage page);

}  // namespace tarnvelox::search
