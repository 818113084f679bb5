#include "store/node_walk.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "store/tree_format.h"

namespace tarnvelox::store {

namespace {

// Zeros are read in pieces of this size when a run of them is passed.
constexpr std::size_t kZeroChunk = std::size_t{64} << 10;

// A header of zeros is no node: its length 0 leads to another header at once. The position of
// the first header from `position` on that is not all zero (or where the file ends), found with
// large reads instead of one per 16 bytes.
int64_t past_zero_headers(int fd, int64_t position) {
    std::vector<unsigned char> chunk(kZeroChunk);
    for (;;) {
        const std::size_t got = base::read_some(fd, position, chunk.data(), chunk.size());
        std::size_t zero = 0;  // whole headers of zeros at the start of the chunk
        while (zero + kNodeHeaderSize <= got &&
               std::all_of(chunk.begin() + static_cast<long>(zero),
                           chunk.begin() + static_cast<long>(zero + kNodeHeaderSize),
                           [](unsigned char c) { return c == 0; })) {
            zero += kNodeHeaderSize;
        }
        position += static_cast<int64_t>(zero);
        if (zero < chunk.size()) return position;
    }
}

}  // namespace

std::size_t ReadAhead::read(int fd, int64_t offset, void* out, std::size_t size) {
    const bool held = offset >= start_ &&
                      offset + static_cast<int64_t>(size) <= start_ + static_cast<int64_t>(size_);
    if (!held) {
        if (size >= kWindow) return base::read_some(fd, offset, out, size);
        bytes_.resize(kWindow);
        start_ = offset;
        size_ = base::read_some(fd, offset, bytes_.data(), kWindow);
    }
    const std::size_t from = static_cast<std::size_t>(offset - start_);
    const std::size_t got = std::min(size, size_ - std::min(size_, from));
    if (got > 0) std::memcpy(out, bytes_.data() + from, got);
    return got;
}

RecordPtr next_node_record(int fd, int64_t& position, int32_t& node_offset,
                           OverlongLine overlong, ReadAhead* ahead) {
    const auto read = [&](int64_t offset, void* out, std::size_t size) {
        return ahead != nullptr ? ahead->read(fd, offset, out, size)
                                : base::read_some(fd, offset, out, size);
    };
    std::string line;
    while (fd >= 0 && position >= 0 && position <= std::numeric_limits<int32_t>::max()) {
        node_offset = static_cast<int32_t>(position);
        unsigned char bytes[kNodeHeaderSize];
        if (read(position, bytes, sizeof bytes) != sizeof bytes) return nullptr;
        const NodeHeader header = decode_header(bytes);
        if (header.length < 0) return nullptr;  // the chain cannot be followed any further
        if (header == NodeHeader{0, 0, 0, 0}) {
            position = past_zero_headers(fd, position);
            continue;
        }
        const int64_t at = position;
        position = at + kNodeHeaderSize + header.length;
        if (header.parent < 0) continue;
        if (header.length > kMaxLineRead && overlong == OverlongLine::Skip) continue;
        line.resize(static_cast<std::size_t>(std::min(header.length, kMaxLineRead)));
        line.resize(read(at + kNodeHeaderSize, line.data(), line.size()));
        RecordPtr rec = parse_record_line(line);
        if (!rec) continue;
        rec->file_offset = static_cast<int32_t>(at);
        return rec;
    }
    return nullptr;
}

}  // namespace tarnvelox::store
