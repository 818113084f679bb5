#include "store/node_walk.h"

#include <algorithm>
#include <limits>
#include <string>

#include "base/file_io.h"
#include "store/tree_format.h"

namespace tarnvelox::store {

RecordPtr next_node_record(int fd, int64_t& position, int32_t& node_offset,
                           OverlongLine overlong) {
    std::string line;
    while (fd >= 0 && position >= 0 && position <= std::numeric_limits<int32_t>::max()) {
        node_offset = static_cast<int32_t>(position);
        unsigned char bytes[kNodeHeaderSize];
        if (base::read_some(fd, position, bytes, sizeof bytes) != sizeof bytes) return nullptr;
        const NodeHeader header = decode_header(bytes);
        if (header.length < 0) return nullptr;  // the chain cannot be followed any further
        const int64_t at = position;
        position = at + kNodeHeaderSize + header.length;
        if (header.parent < 0) continue;
        if (header.length > kMaxLineRead && overlong == OverlongLine::Skip) continue;
        line.resize(static_cast<std::size_t>(std::min(header.length, kMaxLineRead)));
        line.resize(base::read_some(fd, at + kNodeHeaderSize, line.data(), line.size()));
        RecordPtr rec = parse_record_line(line);
        if (!rec) continue;
        rec->file_offset = static_cast<int32_t>(at);
        return rec;
    }
    return nullptr;
}

}  // namespace tarnvelox::store
