#pragma once

// A plain implementation of the link tree file that descends on disk, reading one node per
// level, exactly as the file format was first defined. Tests compare the bytes it writes with
// the bytes LinkTreeFile writes. Valid files only; no protection against damage.

#include <cstdint>
#include <string>

#include "store/item_record.h"

namespace tarnvelox::store::testing {

class ReferenceTree {
public:
    explicit ReferenceTree(const std::string& path);  // opens or creates
    ~ReferenceTree();
    ReferenceTree(const ReferenceTree&) = delete;
    ReferenceTree& operator=(const ReferenceTree&) = delete;

    int32_t insert(const ItemRecord& rec);
    int32_t find(const std::string& key);
    int remove(int32_t offset);
    int rewrite(const ItemRecord& rec);

private:
    int fd_;
};

// The whole content of a file.
std::string read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::string& bytes);

}  // namespace tarnvelox::store::testing
