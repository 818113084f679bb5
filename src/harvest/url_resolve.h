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

// Rewrites `link` in place against `page`, the record of the page it was found on (null, or a
// record without a url: the link is left as it is, apart from the final "./" removal).
// "mailto:" links are cut at their first "%"; "http:", "https:" and "ftp:" links (any case) are
// absolute; every other link is joined to the page's directory (or host root for a leading "/"),
// cut at kMaxResolvedLink characters, and its "../" segments collapsed. Finally every "./" is
// removed, so a "../" left in an absolute link becomes a "." glued to the next segment.
void resolve_link(const store::ItemRecord* page, std::string& link);

// Removes "../" segments in place, each with the segment before it, first one first. A "../"
// with no "/" before it other than at the very start ends the work (it is removed, later ones
// stay). A "../" that would climb above the host root (the first "/" after the first "//") is
// dropped alone: scheme and host stay.
void collapse_parent_segments(std::string& url);

// The "Starting URL:" field as stored: white space removed at both ends, then "http://" put in
// front when it has no "//". None for an empty (or blank) field.
[[nodiscard]] std::optional<std::string> normalise_starting_url(std::string_view typed);

}  // namespace tarnvelox::harvest
