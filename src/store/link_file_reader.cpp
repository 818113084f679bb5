#include "store/link_file_reader.h"

#include <fcntl.h>
#include <unistd.h>


#include "base/file_io.h"
#include "store/node_walk.h"

namespace tarnvelox::store {

LinkFileReader::~LinkFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool LinkFileReader::open(const std::string& path, OverlongLine overlong) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = base::open_regular(path, O_RDONLY);
    position_ = 0;
    overlong_ = overlong;
    ahead_ = ReadAhead();
    return fd_ >= 0;
}

RecordPtr LinkFileReader::next() {
    int32_t node_offset = 0;
    return next_node_record(fd_, position_, node_offset, overlong_, &ahead_);
}

}  // namespace tarnvelox::store
