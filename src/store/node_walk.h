#pragma once

// The sequential walk of a link tree file: node after node in file order, as the crawl
// frontier's read and the project loader take them. Shared by the open LinkTreeFile and the
// read-only LinkFileReader, which differ only in what they do with an overlong line.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/item_record.h"

namespace tarnvelox::store {

enum class OverlongLine {
    ReadCut,  // read its first kMaxLineRead characters (the crawl frontier's read)
    Skip,     // pass the node over (loading a project's lists)
};

// Bytes of a file read ahead for a front-to-back walk, so that a node costs no system call.
// Only for a file nobody writes during the walk: what it holds is not read again.
class ReadAhead {
  public:
    // What read_some(fd, offset, out, size) would give.
    std::size_t read(int fd, int64_t offset, void* out, std::size_t size);

  private:
    static constexpr std::size_t kWindow = std::size_t{64} << 10;
    std::vector<unsigned char> bytes_;
    int64_t start_ = 0;
    std::size_t size_ = 0;
};

// The next live node from `position` on whose line parses: its record, with file_offset set,
// and `position` moved past it; `node_offset` is the last node looked at. Deleted nodes and
// lines that do not parse are passed over. Null at the end of the file, at a node whose header
// cannot be read, at a negative length (nothing after it can be located) or past 32-bit offsets.
// With `ahead`, the file is read through it.
[[nodiscard]] RecordPtr next_node_record(int fd, int64_t& position, int32_t& node_offset,
                                         OverlongLine overlong, ReadAhead* ahead = nullptr);

}  // namespace tarnvelox::store
