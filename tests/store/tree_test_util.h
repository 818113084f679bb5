#pragma once

// Helpers shared by the link tree file tests: records from keys, headers read straight from the
// bytes of a file, and a check of the whole tree's shape.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "store/item_record.h"
#include "store/tree_format.h"

namespace tarnvelox::store::testing {

inline ItemRecord link(const std::string& url, const std::string& title = "T") {
    ItemRecord rec;
    rec.url = url;
    rec.title = title;
    rec.kind = KIND_PAGE;
    return rec;
}

inline NodeHeader header_at(const std::string& bytes, int32_t offset) {
    return decode_header(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

struct ParsedNode {
    int32_t offset;
    NodeHeader header;
    std::string line;  // at most kMaxLineRead bytes
};

// Every node of the sequential chain of a (valid) file.
inline std::vector<ParsedNode> chain_of(const std::string& bytes) {
    std::vector<ParsedNode> nodes;
    std::size_t pos = 0;
    while (pos + kNodeHeaderSize <= bytes.size()) {
        const NodeHeader h = header_at(bytes, static_cast<int32_t>(pos));
        if (h.length < 0) break;
        const std::size_t len = std::min<std::size_t>(h.length, kMaxLineRead);
        nodes.push_back({static_cast<int32_t>(pos), h,
                         bytes.substr(pos + kNodeHeaderSize, len)});
        pos += kNodeHeaderSize + static_cast<std::size_t>(h.length);
    }
    return nodes;
}

}  // namespace tarnvelox::store::testing
