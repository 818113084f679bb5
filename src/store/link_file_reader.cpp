#include "store/link_file_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "base/file_io.h"
#include "store/tree_format.h"

namespace tarnvelox::store {


LinkFileReader::~LinkFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool LinkFileReader::open(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    position_ = 0;
    return fd_ >= 0;
}

RecordPtr LinkFileReader::next() {
    std::string line;
    while (fd_ >= 0 && position_ <= std::numeric_limits<int32_t>::max()) {
        unsigned char bytes[kNodeHeaderSize];
        if (base::read_some(fd_, position_, reinterpret_cast<char*>(bytes), sizeof bytes) !=
            sizeof bytes) {
            return nullptr;
        }
        const NodeHeader header = decode_header(bytes);
        if (header.length < 0) return nullptr;
        const int64_t at = position_;
        position_ = at + kNodeHeaderSize + header.length;
        if (header.parent < 0 || header.length > kMaxLineRead) continue;
        line.resize(static_cast<std::size_t>(header.length));
        line.resize(base::read_some(fd_, at + kNodeHeaderSize, line.data(), line.size()));
        RecordPtr rec = parse_record_line(line);
        if (!rec) continue;
        rec->file_offset = static_cast<int32_t>(at);
        return rec;
    }
    return nullptr;
}

}  // namespace tarnvelox::store
