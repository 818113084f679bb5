#pragma once

// LinkFileReader: reads a link tree file front to back without changing it, for loading a
// project's lists and importing another project's items. The file is opened read-only and no
// index is built: deleted nodes, nodes whose line length lies outside 0..2048 and lines that do
// not parse are passed over; a negative length ends the walk, since nothing after it can be
// located.

#include <cstdint>
#include <string>

#include "store/item_record.h"

namespace tarnvelox::store {

class LinkFileReader {
public:
    LinkFileReader() = default;
    ~LinkFileReader();
    LinkFileReader(const LinkFileReader&) = delete;
    LinkFileReader& operator=(const LinkFileReader&) = delete;

    // False when the file cannot be opened for reading.
    [[nodiscard]] bool open(const std::string& path);
    // The next record in file order with its file_offset set, or null at the end.
    [[nodiscard]] RecordPtr next();

private:
    int fd_ = -1;
    int64_t position_ = 0;
};

}  // namespace tarnvelox::store
