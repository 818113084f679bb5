#pragma once

// The page scanner: one pass over a fetched page (or an imported text line) that finds its
// title, the links of anchors, inputs, areas, options and frames, "mailto:" links and addresses
// in running text, and hands each to record_found_item.

#include <string_view>

#include "harvest/found_item.h"
#include "harvest/harvest_env.h"

namespace tarnvelox::harvest {

inline constexpr std::string_view kNoKeywordMatch = "No Keyword Match - Page ignored.";

// Scans `text` (the whole response, header lines included; a NUL ends it) for the page held by
// connection slot `slot`, whose record is `page` (null when the slot holds none). May replace
// the page's title. Returns the number of addresses recorded from this page. With the run's
// modern_reader set, the page is read by the modern reader (modern_reader.h) instead. A page
// Cut at the size limit gives no address that runs to its end: only the page's cut part of it.
int scan_page(HarvestEnv& env, int slot, store::ItemRecord* page, std::string_view text,
              PageEnd text_end = PageEnd::Whole);

}  // namespace tarnvelox::harvest
