#pragma once

// The sequential walk of a link tree file: node after node in file order, as the crawl
// frontier's read and the project loader take them. Shared by the open LinkTreeFile and the
// read-only LinkFileReader, which differ only in what they do with an overlong line.

#include <cstdint>

#include "store/item_record.h"

namespace tarnvelox::store {

enum class OverlongLine {
    ReadCut,  // read its first kMaxLineRead characters (the crawl frontier's read)
    Skip,     // pass the node over (loading a project's lists)
};

// The next live node from `position` on whose line parses: its record, with file_offset set,
// and `position` moved past it; `node_offset` is the last node looked at. Deleted nodes and
// lines that do not parse are passed over. Null at the end of the file, at a node whose header
// cannot be read, at a negative length (nothing after it can be located) or past 32-bit offsets.
[[nodiscard]] RecordPtr next_node_record(int fd, int64_t& position, int32_t& node_offset,
                                         OverlongLine overlong);

}  // namespace tarnvelox::store
