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

// How the modern page reader resolves a link, as browsers do: `ref` is an attribute value with
// its character references decoded, `base` the absolute URL it is relative to (the page's, or
// its <base href>). Leading and trailing blanks and control characters go, tabs and line breaks
// inside go, the fragment is cut, "\" stands for "/", and blanks, quotes, "<", ">", "`",
// control characters and bytes beyond ASCII are percent-encoded. An "http:" or "https:" link
// (any case) keeps its host and port and gets "/" as its path when it has none; a link with no
// scheme is joined to the base by its form ("//host", "/path", "?query", "path"), and the
// path's "." and ".." segments are removed (never climbing above the host). None for a link
// with another scheme ("mailto:", "javascript:", "ftp:" ...), which the reader handles or
// drops itself. A base that is not absolute leaves a relative link as it is. At most
// kMaxResolvedLink characters.
[[nodiscard]] std::optional<std::string> resolve_reference(std::string_view base,
                                                           std::string_view ref);

// The "Starting URL:" field as stored: white space removed at both ends, then "http://" put in
// front when it has no "//". None for an empty (or blank) field.
[[nodiscard]] std::optional<std::string> normalise_starting_url(std::string_view typed);

}  // namespace tarnvelox::harvest
