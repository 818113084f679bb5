#pragma once

// Turning link values found in a page into the URLs the harvest engine classifies, scopes and
// stores, and normalising the starting URL typed by the person. Purely textual: no escaping, no
// case folding of scheme or host, no removal of default ports.

#include <optional>
#include <string>
#include <string_view>

#include "store/item_record.h"

namespace tarnvelox::harvest {

// Longest resolved link: the working buffer of 2048 bytes with its terminator.
inline constexpr std::size_t kMaxResolvedLink = 2047;

// Rewrites `link` in place against `page`, the record of the page it was found on (null: the
// link is left as it is, apart from the final "./" removal). "mailto:" links are cut at their
// first "%"; "http:", "https:" and "ftp:" links are absolute; every other link is joined to the
// page's directory (or host root for a leading "/") and its "../" segments collapsed. Finally
// every "./" is removed.
void resolve_link(const store::ItemRecord* page, std::string& link);

// Removes "../" segments in place, each with the segment before it. A "../" that would climb
// above the host root is dropped: scheme and host stay.
void collapse_parent_segments(std::string& url);

// The "Starting URL:" field as stored: "http://" put in front when it has no "//", then white
// space removed at both ends. None for an empty (or blank) field.
[[nodiscard]] std::optional<std::string> normalise_starting_url(std::string_view typed);

}  // namespace tarnvelox::harvest
