#include "store/reference_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "store/tree_format.h"

namespace tarnvelox::store::testing {

namespace {

bool read_header(int fd, int32_t offset, NodeHeader& h) {
    unsigned char b[kNodeHeaderSize];
    if (::pread(fd, b, sizeof b, offset) != static_cast<ssize_t>(sizeof b)) return false;
    h = decode_header(b);
    return true;
}

void write_header(int fd, int32_t offset, const NodeHeader& h) {
    unsigned char b[kNodeHeaderSize];
    encode_header(b, h);
    (void)!::pwrite(fd, b, sizeof b, offset);
}

std::string read_key(int fd, int32_t offset, const NodeHeader& h) {
    std::string line(static_cast<std::size_t>(std::min(h.length, kMaxLineRead)), '\0');
    const ssize_t n = ::pread(fd, line.data(), line.size(), offset + kNodeHeaderSize);
    line.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return std::string(line_key(line));
}

}  // namespace

ReferenceTree::ReferenceTree(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0644)) {}

ReferenceTree::~ReferenceTree() { ::close(fd_); }

int32_t ReferenceTree::insert(const ItemRecord& rec) {
    const std::string url = *rec.url;
    int32_t child = 0;
    for (;;) {
        const int32_t current = child;
        NodeHeader h;
        if (!read_header(fd_, current, h)) {
            const std::string line = format_record_line(rec);
            write_header(fd_, current, {kNone, kNone, int32_t(line.size()), current});
            (void)!::pwrite(fd_, line.data(), line.size(), current + kNodeHeaderSize);
            return current;
        }
        bool right;
        if (h.parent == -1) {
            right = true;
        } else {
            const std::string key = read_key(fd_, current, h);
            if (key == url) return kNone;
            right = key < url;
        }
        child = right ? h.right : h.left;
        if (child != kNone) continue;
        const int32_t end = static_cast<int32_t>(::lseek(fd_, 0, SEEK_END));
        const std::string line = format_record_line(rec);
        write_header(fd_, end, {kNone, kNone, int32_t(line.size()), current});
        (void)!::pwrite(fd_, line.data(), line.size(), end + kNodeHeaderSize);
        (right ? h.right : h.left) = end;
        write_header(fd_, current, h);
        return end;
    }
}

int32_t ReferenceTree::find(const std::string& key) {
    int32_t current = 0;
    for (;;) {
        NodeHeader h;
        if (!read_header(fd_, current, h)) return kNone;
        bool right = true;
        if (h.parent != -1) {
            const std::string node_key = read_key(fd_, current, h);
            if (node_key == key) return current;
            right = node_key < key;
        }
        current = right ? h.right : h.left;
        if (current == kNone) return kNone;
    }
}

int ReferenceTree::remove(int32_t x) {
    NodeHeader d, p;
    if (!read_header(fd_, x, d) || !read_header(fd_, d.parent, p)) return 0;
    bool right_side;
    if (x == 0) {
        p.left = kNone;
        right_side = true;
    } else if (p.left == x) {
        p.left = d.right;
        right_side = false;
    } else {
        p.right = d.right;
        right_side = true;
    }
    write_header(fd_, d.parent, p);
    if (d.right != kNone) {
        NodeHeader r;
        read_header(fd_, d.right, r);
        r.parent = d.parent;
        write_header(fd_, d.right, r);
    }
    if (d.left != kNone) {
        NodeHeader l;
        read_header(fd_, d.left, l);
        if (d.right != kNone) {
            int32_t at = d.right;
            NodeHeader walk;
            read_header(fd_, at, walk);
            while (walk.left != kNone) {
                at = walk.left;
                read_header(fd_, at, walk);
            }
            walk.left = d.left;
            write_header(fd_, at, walk);
            l.parent = at;
        } else {
            read_header(fd_, d.parent, p);
            (right_side ? p.right : p.left) = d.left;
            write_header(fd_, d.parent, p);
            l.parent = d.parent;
        }
        write_header(fd_, d.left, l);
    }
    if (x == 0) read_header(fd_, 0, d);
    d.parent = -1;
    write_header(fd_, x, d);
    return 1;
}

int ReferenceTree::rewrite(const ItemRecord& rec) {
    NodeHeader h;
    if (!read_header(fd_, rec.file_offset, h)) return 0;
    std::string line = format_record_line(rec);
    line.resize(static_cast<std::size_t>(h.length), ' ');  // valid files: the line never shrinks
    (void)!::pwrite(fd_, line.data(), line.size(), rec.file_offset + kNodeHeaderSize);
    return 1;
}

std::string read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tarnvelox::store::testing
