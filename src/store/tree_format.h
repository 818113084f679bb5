#pragma once

// Byte layout of a link tree file (links ".lin" and addresses ".mai"). There is no file header,
// magic number or version: the file is a sequence of nodes, each a 16-byte header followed at
// once by its record line, and the next node starts right after the line.
//
//   offset  size  field
//   0       4     left    offset of the left child (keys that sort lower), -1 for none
//   4       4     right   offset of the right child (keys that sort higher), -1 for none
//   8       4     length  bytes of record line after the header (no terminating zero)
//   12      4     parent  offset of the parent; 0 for the root (always at offset 0);
//                         -1 marks a deleted node
//
// All numbers are 32-bit signed little-endian; offsets are absolute from the start of the file.
// A node's key is its line up to the first "<1>" (the record's url). Keys compare as unsigned
// bytes. A reader takes at most kMaxLineRead bytes of a line; the next node still starts at
// offset + 16 + length.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarnvelox::store {

inline constexpr int32_t kNone = -1;                // no child / not stored / not open
inline constexpr int32_t kDeletedParent = -1;       // parent field of a deleted node
inline constexpr int32_t kRootOffset = 0;           // the first node ever stored
inline constexpr int32_t kNodeHeaderSize = 16;
inline constexpr int32_t kMaxLineRead = 2048;       // the readers' line buffer
inline constexpr std::string_view kKeyEnd = "<1>";  // ends the key inside a line

struct NodeHeader {
    int32_t left = kNone;
    int32_t right = kNone;
    int32_t length = 0;
    int32_t parent = kNone;

    bool operator==(const NodeHeader&) const = default;
};

inline void encode_i32(unsigned char* out, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    out[0] = static_cast<unsigned char>(v);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v >> 16);
    out[3] = static_cast<unsigned char>(v >> 24);
}

inline int32_t decode_i32(const unsigned char* in) {
    const uint32_t v = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                       (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
    return static_cast<int32_t>(v);
}

inline void encode_header(unsigned char* out, const NodeHeader& h) {
    encode_i32(out, h.left);
    encode_i32(out + 4, h.right);
    encode_i32(out + 8, h.length);
    encode_i32(out + 12, h.parent);
}

inline NodeHeader decode_header(const unsigned char* in) {
    return NodeHeader{decode_i32(in), decode_i32(in + 4), decode_i32(in + 8), decode_i32(in + 12)};
}

// The key of a stored line: up to the first "<1>" (the whole line when there is none), and as
// a zero-terminated reader sees it, up to the first NUL.
inline std::string_view line_key(std::string_view line) {
    if (line.size() > static_cast<std::size_t>(kMaxLineRead)) line = line.substr(0, kMaxLineRead);
    line = line.substr(0, line.find(kKeyEnd));
    const void* nul = std::memchr(line.data(), '\0', line.size());
    if (nul != nullptr) line = line.substr(0, static_cast<const char*>(nul) - line.data());
    return line;
}

}  // namespace tarnvelox::store
