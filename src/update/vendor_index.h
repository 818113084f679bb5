#pragma once

// The vendor's index file: sections opened by a line holding "%%", a class character ("*" and
// "$" are read, any other skipped) and a two-digit section number 0..3; a section's text is
// every following line, line ends kept, up to the first line holding "|". A section that
// reaches the end of the file without that line is not kept.

#include <string>

#include "update/vendor_state.h"

namespace tarnvelox::update {

// Lines longer than this are read in pieces of this length, as the file's writer expects.
inline constexpr std::size_t kMaxIndexLine = 2047;

// Reads the index file at `path` into `state.index_sections` (a section read replaces the
// earlier text of its number). 1 when the file could be opened, else 0 and nothing changes.
[[nodiscard]] int read_vendor_index(const std::string& path, VendorState& state);

}  // namespace tarnvelox::update
