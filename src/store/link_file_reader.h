#pragma once

// LinkFileReader: reads a link tree file front to back without changing it, for loading a
// project's lists and importing another project's items. The file is opened read-only and no
// index is built: deleted nodes, nodes whose line length lies outside 0..2048 and lines that do
// not parse are passed over; a negative length ends the walk, since nothing after it can be
// located.

#include <cstdint>
#include <string>

#include "store/item_record.h"
#include "store/node_walk.h"

namespace tarnvelox::store {

class LinkFileReader {
public:
    LinkFileReader() = default;
    ~LinkFileReader();
    LinkFileReader(const LinkFileReader&) = delete;
    LinkFileReader& operator=(const LinkFileReader&) = delete;

    // False when the file cannot be opened for reading. `overlong`: what a node whose line is
    // longer than a record line may be gives.
    [[nodiscard]] bool open(const std::string& path, OverlongLine overlong = OverlongLine::Skip);
    // The next record in file order with its file_offset set, or null at the end.
    [[nodiscard]] RecordPtr next();

private:
    int fd_ = -1;
    int64_t position_ = 0;
    OverlongLine overlong_ = OverlongLine::Skip;
    ReadAhead ahead_;  // the file is read front to back, 64 KiB at a time
};

}  // namespace tarnvelox::store
