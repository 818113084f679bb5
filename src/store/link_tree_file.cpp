#include "store/link_tree_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "base/file_io.h"
#include "base/text_util.h"
#include "store/node_walk.h"

namespace tarnvelox::store {

namespace {

// Key storage grows in blocks of this size: one allocation per ~20,000 typical URLs.
constexpr std::size_t kKeyBlockSize = std::size_t{1} << 20;
// The index is built from the file in reads of this size.
constexpr std::size_t kScanChunk = std::size_t{1} << 20;
// Offsets are 32-bit signed on disk: no node may start beyond this.
constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();
constexpr uint32_t kNoBound = std::numeric_limits<uint32_t>::max();

}  // namespace


// A write failure at this point was already recorded (write_failed_) and told by the store.
LinkTreeFile::~LinkTreeFile() { (void)close(); }


uint32_t LinkTreeFile::host_id(std::string_view host_text) const { return hosts_.id(host_text); }

void LinkTreeFile::update_pending(uint32_t ordinal, std::string_view line) {
    const Node& n = nodes_[ordinal];
    bool pending = n.state == NodeState::Live || n.state == NodeState::Stray;
    if (pending) {
        const std::optional<RecordLineFields> fields = split_record_line(line);
        pending = fields && (base::read_int(fields->status) & STATUS_VISITED) == 0;
    }
    pending_.set(ordinal, pending ? n.host : PendingIndex::kNotPending);
}

std::optional<PendingLink> LinkTreeFile::next_pending(int64_t position,
                                                      uint32_t excluded_host) const {
    if (!is_open()) return std::nullopt;
    const auto from = std::lower_bound(nodes_.begin(), nodes_.end(), position,
                                       [](const Node& n, int64_t p) { return n.offset < p; });
    const uint32_t found =
        pending_.first_pending(static_cast<uint32_t>(from - nodes_.begin()), excluded_host);
    if (found == PendingIndex::kNotPending) return std::nullopt;
    const Node& n = nodes_[found];
    return PendingLink{n.offset, int64_t{n.offset} + kNodeHeaderSize + n.header.length, n.host};
}

RecordPtr LinkTreeFile::read_at(int32_t offset) {
    (void)flush();  // a failure is recorded in write_failed_ and told by the store
    const Node* n = node_at(offset);
    if (n == nullptr || n->header.parent < 0 || n->header.length < 0) return nullptr;
    if (const auto kept = deferred_.find(offset); kept != deferred_.end()) {
        RecordPtr rec = parse_record_line(kept->second);
        if (rec) rec->file_offset = offset;
        return rec;
    }
    // The index knows the node's header: one read of the line is enough.
    std::string line(static_cast<std::size_t>(std::min(n->header.length, kMaxLineRead)), '\0');
    line.resize(base::read_some(fd_, int64_t{offset} + kNodeHeaderSize, line.data(), line.size()));
    RecordPtr rec = parse_record_line(line);
    if (rec) rec->file_offset = offset;
    return rec;
}

bool LinkTreeFile::open_read_only(const std::string& path) {
    (void)close();  // a failure is recorded in write_failed_ and told by the store
    const int fd = base::open_regular(path, O_RDONLY);
    if (fd < 0) return false;
    fd_ = fd;
    read_only_ = true;
    if (!build_index()) {
        (void)close();
        return false;
    }
    return true;
}

bool LinkTreeFile::open(const std::string& path) {
    (void)close();  // a failure is recorded in write_failed_ and told by the store
    const int fd = base::open_regular(path, O_RDWR | O_CREAT);
    if (fd < 0) return false;
    fd_ = fd;
    read_only_ = false;
    if (!build_index()) {
        (void)close();  // nothing was written to this file yet
        return false;
    }
    return true;
}

bool LinkTreeFile::flush() {
    if (append_buf_.empty() && header_writes_.empty()) return true;
    if (!append_buf_.empty()) {
        const int64_t start = disk_end();
        if (!base::write_exact(fd_, start, append_buf_.data(), append_buf_.size())) {
            // Nothing links to the new nodes yet: take back whatever part of them was written
            // and keep them here to try again; they are not lost while the file is open.
            (void)::ftruncate(fd_, static_cast<off_t>(start));
            write_failed_ = true;
            return false;
        }
        append_buf_.clear();
    }
    std::vector<std::pair<int32_t, NodeHeader>> failed;
    for (const auto& [offset, header] : header_writes_) {
        unsigned char bytes[kNodeHeaderSize];
        encode_header(bytes, header);
        if (!base::write_exact(fd_, offset, bytes, sizeof bytes))
            failed.emplace_back(offset, header);
    }
    header_writes_ = std::move(failed);
    if (!header_writes_.empty()) write_failed_ = true;
    return header_writes_.empty();
}

bool LinkTreeFile::close() {
    // Lines still kept back are dropped: only the store knows when they may be written.
    const bool flushed = fd_ < 0 || flush();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    reset_index();
    return flushed;
}

void LinkTreeFile::reset_index() {
    end_ = 0;
    write_failed_ = false;
    damage_found_ = false;
    append_buf_.clear();
    header_writes_.clear();
    deferred_.clear();
    appends_blocked_ = false;
    root_deleted_ = false;
    repairs_ = {};
    nodes_.clear();
    nodes_.shrink_to_fit();
    pending_.clear();
    hosts_.clear();
    by_key_.clear();
    hash_.clear();
    key_blocks_.clear();
    block_used_ = 0;
    block_size_ = 0;
}

std::string_view LinkTreeFile::store_key(std::string_view key) {
    if (key.empty()) return {};
    if (key.size() > block_size_ - block_used_) {
        block_size_ = std::max(kKeyBlockSize, key.size());
        // Not zeroed: pages a small file's keys never reach are never touched.
        key_blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
        block_used_ = 0;
    }
    char* dest = key_blocks_.back().get() + block_used_;
    std::memcpy(dest, key.data(), key.size());
    block_used_ += key.size();
    return {dest, key.size()};
}

LinkTreeFile::Node* LinkTreeFile::node_at(int32_t offset) {
    auto it = std::lower_bound(nodes_.begin(), nodes_.end(), offset,
                               [](const Node& n, int32_t off) { return n.offset < off; });
    return (it != nodes_.end() && it->offset == offset) ? &*it : nullptr;
}

const LinkTreeFile::Node* LinkTreeFile::node_at(int32_t offset) const {
    return const_cast<LinkTreeFile*>(this)->node_at(offset);
}

LinkTreeFile::Node* LinkTreeFile::live_child(const Node& parent, int32_t child_offset) {
    Node* child = node_at(child_offset);
    if (child == nullptr || child->state != NodeState::Live) return nullptr;
    return child->tree_parent == parent.offset ? child : nullptr;
}

bool LinkTreeFile::read_exact(int64_t offset, void* out, std::size_t size) const {
    return base::read_some(fd_, offset, out, size) == size;
}

bool LinkTreeFile::write_header(const Node& node) {
    unsigned char bytes[kNodeHeaderSize];
    encode_header(bytes, node.header);
    return base::write_exact(fd_, node.offset, bytes, sizeof bytes);
}

bool LinkTreeFile::repair_header(const Node& node) { return read_only_ || write_header(node); }

uint32_t LinkTreeFile::hash_find(std::string_view key, bool live_only) const {
    return hash_.find(key, [&](uint32_t node) {
        return !live_only || nodes_[node].state == NodeState::Live;
    });
}

void LinkTreeFile::recover() {
    append_buf_.clear();
    header_writes_.clear();
    if (!build_index()) (void)close();  // the file is unusable: it is open no longer
}

bool LinkTreeFile::build_index() {
    reset_index();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    const int64_t file_size = st.st_size;
    const ChainScan scan = scan_chain(file_size);
    end_ = file_size;
    if (scan.torn_at >= 0 && !cut_torn_tail(scan.torn_at)) return false;
    // New nodes must be reachable by the sequential read: after a break in the chain they
    // would not be, so the file takes none.
    appends_blocked_ = !scan.complete;
    if (nodes_.empty()) return true;
    walk_tree();
    settle_links_past_end();
    relink_strays();
    rebuild_hash();
    return true;
}

// Pass 1: the sequential chain of nodes, with each readable key.
LinkTreeFile::ChainScan LinkTreeFile::scan_chain(int64_t file_size) {
    std::vector<unsigned char> buf;
    int64_t buf_start = 0;
    auto fetch = [&](int64_t off, std::size_t n) -> const unsigned char* {
        if (off >= buf_start && off + static_cast<int64_t>(n) <= buf_start + int64_t(buf.size())) {
            return buf.data() + (off - buf_start);
        }
        // No larger than what is left of the file: a small file costs a small buffer.
        buf.resize(std::max(n, static_cast<std::size_t>(
                                   std::min<int64_t>(int64_t(kScanChunk), file_size - off))));
        buf.resize(base::read_some(fd_, off, buf.data(), buf.size()));
        buf_start = off;
        return buf.size() >= n ? buf.data() : nullptr;
    };

    // A node cut short at the end of the file is taken for an append that a crash interrupted
    // only when it looks like one: children only among nodes appended after it (in the same
    // write), a plausible length, and a parent that stands before it. Anything else is damage
    // of another kind and keeps its bytes.
    auto fresh_append = [&](const NodeHeader& h, int64_t at) {
        if ((h.left != kNone && h.left <= at) || (h.right != kNone && h.right <= at)) return false;
        if (h.length < 1 || h.length > static_cast<int32_t>(kMaxRecordLine)) return false;
        if (at == kRootOffset) return h.parent == kRootOffset;
        return h.parent >= 0 && h.parent < at && node_at(h.parent) != nullptr;
    };

    // The end of the run of zero bytes that starts at `from`: the first byte at or after it that
    // is not zero, or the end of the file. Positions only grow, so each byte is looked at once.
    int64_t zeros_start = -1;
    int64_t zeros_end = -1;
    auto zero_run_end = [&](int64_t from) {
        if (from >= zeros_start && from <= zeros_end) return zeros_end;
        int64_t at = from;
        while (at < file_size) {
            const auto n =
                static_cast<std::size_t>(std::min<int64_t>(int64_t(kScanChunk), file_size - at));
            const unsigned char* bytes = fetch(at, n);
            if (bytes == nullptr) break;  // unreadable: taken as not zero
            const unsigned char* other =
                std::find_if(bytes, bytes + n, [](unsigned char c) { return c != 0; });
            at += other - bytes;
            if (other != bytes + n) break;
        }
        zeros_start = from;
        zeros_end = at;
        return at;
    };

    int64_t pos = 0;
    int64_t torn_at = -1;
    bool chain_complete = true;
    // A run of zeros just passed (zero headers, or a fresh node whose line is zeros): where it
    // started, and whether the chain was whole before it. A torn tail right after such a run
    // takes the run with it, since nothing in the run is a node either.
    int64_t zeros_from = -1;
    bool complete_before_zeros = true;
    auto tear = [&](int64_t at) {
        torn_at = zeros_from >= 0 ? zeros_from : at;
        if (zeros_from >= 0) chain_complete = complete_before_zeros;
    };
    while (pos < file_size) {
        if (pos > kMaxOffset) {
            chain_complete = false;
            break;
        }
        if (file_size - pos < kNodeHeaderSize) {
            tear(pos);  // a header cut short
            break;
        }
        const NodeHeader header = decode_header(fetch(pos, kNodeHeaderSize));
        const auto offset = static_cast<int32_t>(pos);
        if (header.length < 0) {
            // Nothing after a negative length can be located; the chain ends here.
            nodes_.push_back({{}, offset, header, kNone, NodeState::Unreadable, false});
            chain_complete = false;
            break;
        }
        const int64_t next = pos + kNodeHeaderSize + header.length;
        if (next > file_size && fresh_append(header, pos)) {
            tear(pos);
            break;
        }
        const auto read_len = static_cast<std::size_t>(std::min(header.length, kMaxLineRead));
        const unsigned char* line = pos + kNodeHeaderSize + int64_t(read_len) <= file_size
                                        ? fetch(pos + kNodeHeaderSize, read_len)
                                        : nullptr;
        if (line == nullptr) {
            nodes_.push_back({{}, offset, header, kNone, NodeState::Unreadable, false});
            chain_complete = false;
            break;
        }
        const bool deleted = header.parent < 0;
        if (header.length == 0 ||
            (!deleted && line_key({reinterpret_cast<const char*>(line), read_len}).empty())) {
            // Not a node: zeros, or a line without a key, where a node must start. With only
            // zeros after its header to the end of the file it is what an interrupted write
            // leaves; anywhere else it is damage, passed over without an entry in the index.
            const bool zero_header = header == NodeHeader{0, 0, 0, 0};
            const int64_t zeros = zero_run_end(pos + kNodeHeaderSize);  // moves the buffer
            if (zeros == file_size && (zero_header || fresh_append(header, pos))) {
                tear(pos);
                break;
            }
            if (zero_header || (zeros >= next && fresh_append(header, pos))) {
                // Zeros, or a fresh node whose line is zeros: part of a torn tail if nothing
                // but zeros and a node cut short follow. A run of zero headers is passed in one
                // step, to the first header that is not all zero.
                if (zeros_from < 0) {
                    zeros_from = pos;
                    complete_before_zeros = chain_complete;
                }
                chain_complete = false;
                pos = zero_header ? pos + kNodeHeaderSize * ((zeros - pos) / kNodeHeaderSize)
                                  : next;
                continue;
            }
            zeros_from = -1;
            chain_complete = false;
            if (next > file_size) break;
            pos = next;
            continue;
        }
        zeros_from = -1;
        const std::string_view key =
            deleted ? std::string_view()
                    : store_key(line_key({reinterpret_cast<const char*>(line), read_len}));
        nodes_.push_back(
            {key, offset, header, kNone, deleted ? NodeState::Deleted : NodeState::Stray, false});
        if (!deleted) {
            nodes_.back().host = hosts_.intern(key);
            update_pending(static_cast<uint32_t>(nodes_.size() - 1),
                           {reinterpret_cast<const char*>(line), read_len});
        }
        if (next > file_size) {
            chain_complete = false;  // a damaged length: nothing after it can be located
            break;
        }
        pos = next;
    }
    return {torn_at, chain_complete};
}

// The torn tail from `torn_at` on is cut away. Every link into it is cleared first: nothing can
// stand behind such a link any more, and a new node written at the cut would hang from it as
// well as from its own parent. The links go before the bytes, so that a crash in between leaves
// a torn tail again and never a link past the end. Read-only, both happen in the index only.
// False when a write fails.
bool LinkTreeFile::cut_torn_tail(int64_t torn_at) {
    for (Node& n : nodes_) {
        if (!links_count(n)) continue;
        bool cleared = false;
        for (int32_t* child : {&n.header.left, &n.header.right}) {
            if (*child < torn_at) continue;
            *child = kNone;
            cleared = true;
            ++repairs_.links_cleared;
        }
        if (cleared && !repair_header(n)) return false;
    }
    if (!read_only_ && ::ftruncate(fd_, static_cast<off_t>(torn_at)) != 0) return false;
    end_ = torn_at;
    repairs_.cut_at = torn_at;
    return true;
}

bool LinkTreeFile::links_count(const Node& n) {
    return n.state == NodeState::Stray ||
           (n.state == NodeState::Deleted && n.offset == kRootOffset);
}

// A link at or past the end of the file from the tree is damage: the next node would be written
// there and hang from that link as well as from its own parent. From a node outside the tree it
// is what a flush cut off at a node boundary leaves (the node's children were to follow it in
// the same write): in a file without such damage those links are cleared.
void LinkTreeFile::settle_links_past_end() {
    const auto past_end = [&](const Node& n) {
        return n.header.left >= end_ || n.header.right >= end_;
    };
    for (const Node& n : nodes_) {
        const bool in_tree = n.state == NodeState::Live ||
                             (n.state == NodeState::Deleted && n.offset == kRootOffset);
        if (in_tree && past_end(n)) {
            appends_blocked_ = true;
            return;
        }
    }
    for (Node& n : nodes_) {
        if (n.state != NodeState::Stray || !past_end(n)) continue;
        const NodeHeader before = n.header;
        for (int32_t* child : {&n.header.left, &n.header.right}) {
            if (*child >= end_) *child = kNone;
        }
        if (repair_header(n)) {
            repairs_.links_cleared += (before.left >= end_) + (before.right >= end_);
        } else {
            n.header = before;  // left as it is on disk: never linked back then
        }
    }
}

// Pass 2: the tree, walked in order from the root. A link is followed only to a node of the
// chain that is not deleted, not yet visited and whose key lies strictly between the bounds of
// its position; every other link is left alone as occupied.
void LinkTreeFile::walk_tree() {
    auto accept = [&](int32_t child, uint32_t lo, uint32_t hi, int32_t parent) -> uint32_t {
        if (child == kNone) return kNoBound;
        Node* n = node_at(child);
        if (n == nullptr || n->visited || n->state != NodeState::Stray) return kNoBound;
        if (lo != kNoBound && !(nodes_[lo].key < n->key)) return kNoBound;
        if (hi != kNoBound && !(n->key < nodes_[hi].key)) return kNoBound;
        n->visited = true;
        n->tree_parent = parent;
        return static_cast<uint32_t>(n - nodes_.data());
    };

    struct Frame {
        uint32_t idx;
        uint32_t lo;
        uint32_t hi;
        bool left_done;
    };
    std::vector<Frame> stack;
    Node& root = nodes_.front();
    if (root.offset != kRootOffset) return;  // no root: no tree
    if (root.state == NodeState::Deleted) {
        root_deleted_ = true;
        const uint32_t first = accept(root.header.right, kNoBound, kNoBound, kRootOffset);
        if (first != kNoBound) stack.push_back({first, kNoBound, kNoBound, false});
    } else if (root.state == NodeState::Stray) {
        root.visited = true;
        stack.push_back({0, kNoBound, kNoBound, false});
    }
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (!f.left_done) {
            f.left_done = true;
            const Frame cur = f;
            const uint32_t left =
                accept(nodes_[cur.idx].header.left, cur.lo, cur.idx, nodes_[cur.idx].offset);
            if (left != kNoBound) stack.push_back({left, cur.lo, cur.idx, false});
            continue;
        }
        const Frame cur = f;
        stack.pop_back();
        Node& n = nodes_[cur.idx];
        n.state = NodeState::Live;
        by_key_.push_back(cur.idx);
        const uint32_t right = accept(n.header.right, cur.idx, cur.hi, n.offset);
        if (right != kNoBound) stack.push_back({right, cur.idx, cur.hi, false});
    }
    if (!root_deleted_ && root.state == NodeState::Live) root.tree_parent = kNone;
}

// Nodes outside the tree, in file order (the order they were appended in). One is linked back
// when it is exactly what a flush killed before its links leaves: its recorded parent is where
// an insert of its key would hang it now, that slot is free (or already points at it, from a
// node appended in the same flush and linked back before it), and its own children are nodes
// appended after it that are outside the tree too.
void LinkTreeFile::relink_strays() {
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        Node& x = nodes_[i];
        if (x.state != NodeState::Stray) continue;
        const auto fresh_child = [&](int32_t child) {
            if (child == kNone) return true;
            const Node* c = node_at(child);
            return c != nullptr && c->offset > x.offset && c->state == NodeState::Stray;
        };
        if (!fresh_child(x.header.left) || !fresh_child(x.header.right)) continue;
        const InsertSlot slot = insert_slot(x.key, x.offset);
        if (!slot.usable || slot.parent == nullptr || slot.parent->offset != x.header.parent) {
            continue;
        }
        int32_t& link = slot.as_right ? slot.parent->header.right : slot.parent->header.left;
        if (link == kNone) {
            link = x.offset;
            if (!repair_header(*slot.parent)) {
                link = kNone;
                continue;
            }
        }
        x.state = NodeState::Live;
        x.tree_parent = slot.parent->offset;
        by_key_.insert(static_cast<uint32_t>(i));
        ++repairs_.relinked;
    }
}

// The hash of every keyed node (live in the tree, or stray outside it).
void LinkTreeFile::rebuild_hash() {
    std::size_t keyed = 0;
    for (const Node& n : nodes_) keyed += n.state == NodeState::Live || n.state == NodeState::Stray;
    hash_.reset(keyed);
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const NodeState state = nodes_[i].state;
        if (state == NodeState::Live || state == NodeState::Stray) {
            hash_.insert(static_cast<uint32_t>(i));
        }
    }
}

int32_t LinkTreeFile::insert(const ItemRecord& rec) {
    if (!is_open() || !rec.url) return kNone;
    const std::string line = format_record_line(rec);
    const std::string_view key = line_key(line);
    // The stored key must be exactly the url, or the record could never be found again.
    if (key != base::c_text(*rec.url) || line.compare(key.size(), kKeyEnd.size(), kKeyEnd) != 0) {
        return kNone;
    }
    if (key.empty() || hash_find(key, false) != kNoNode) return kNone;  // stored already?
    if (read_only_ || parse_record_line(line) == nullptr) return kNone;
    if (appends_blocked_) {
        damage_found_ = true;
        return kNone;
    }
    const int64_t offset = end_;
    if (offset > kMaxOffset || (nodes_.empty() && offset != kRootOffset)) return kNone;

    const InsertSlot slot = insert_slot(key, kNone);
    if (!slot.usable) {
        damage_found_ = true;  // the root is unreadable, or the slot the descent would use
        return kNone;          // holds a damaged link
    }
    Node* const parent = slot.parent;
    const bool as_right = slot.as_right;

    const NodeHeader header{kNone, kNone, static_cast<int32_t>(line.size()),
                            parent != nullptr ? parent->offset : kRootOffset};
    std::string bytes(kNodeHeaderSize, '\0');
    encode_header(reinterpret_cast<unsigned char*>(bytes.data()), header);
    bytes += line;
    const auto new_offset = static_cast<int32_t>(offset);
    if (parent != nullptr) {
        (as_right ? parent->header.right : parent->header.left) = new_offset;
        if (parent->offset >= disk_end()) {
            // The parent is still in the buffer: its header is changed there.
            encode_header(reinterpret_cast<unsigned char*>(append_buf_.data()) +
                              (parent->offset - disk_end()),
                          parent->header);
        } else {
            header_writes_.emplace_back(parent->offset, parent->header);
        }
    }
    append_buf_ += bytes;
    const int32_t tree_parent = parent != nullptr ? parent->offset : kNone;
    nodes_.push_back({store_key(key), new_offset, header, tree_parent, NodeState::Live, true});
    const auto added = static_cast<uint32_t>(nodes_.size() - 1);
    by_key_.insert(added);
    hash_.insert(added);
    nodes_.back().host = hosts_.intern(key);
    update_pending(added, line);
    end_ = offset + static_cast<int64_t>(bytes.size());
    if (append_buf_.size() >= kFlushBytes) (void)flush();  // on failure the nodes stay buffered
    return new_offset;
}

LinkTreeFile::InsertSlot LinkTreeFile::insert_slot(std::string_view key, int32_t free_as) {
    if (nodes_.empty()) return {nullptr, false, true};
    if (nodes_.front().state == NodeState::Unreadable) return {nullptr, false, false};
    const auto [before, succ] = by_key_.neighbours(key);
    constexpr uint32_t kNoIndex = OrderedIndex<NodeKey>::kNoIndex;
    Node* pred = nullptr;
    if (before != kNoIndex) {
        pred = &nodes_[before];
    } else if (root_deleted_) {
        pred = &nodes_.front();  // the deleted root sorts below every key
    }
    Node* after = succ != kNoIndex ? &nodes_[succ] : nullptr;
    if (after != nullptr && after->key == key) return {nullptr, false, false};
    const auto free = [&](int32_t link) { return link == kNone || link == free_as; };
    if (pred != nullptr && free(pred->header.right)) return {pred, true, true};
    if (after != nullptr && free(after->header.left)) return {after, false, true};
    return {nullptr, false, false};  // the slot the descent would use holds a damaged link
}

bool LinkTreeFile::stored(std::string_view key) const {
    return is_open() && hash_find(base::c_text(key), false) != kNoNode;
}

int32_t LinkTreeFile::find(std::string_view key) const {
    if (!is_open()) return kNone;
    const uint32_t node = hash_find(base::c_text(key), true);
    return node == kNoNode ? kNone : nodes_[node].offset;
}

LinkTreeFile::DeleteResult LinkTreeFile::remove(int32_t offset) {
    if (!is_open()) return DeleteResult::NotOpen;
    if (!flush()) return DeleteResult::Failed;
    Node* x = node_at(offset);
    if (x == nullptr || x->state != NodeState::Live) return DeleteResult::Failed;
    const bool is_root = offset == kRootOffset;
    Node* p = is_root ? x : node_at(x->tree_parent);
    if (p == nullptr) return DeleteResult::Failed;
    const NodeHeader d = x->header;

    // Check every link the delete follows before anything is written.
    Node* r = d.right != kNone ? live_child(*x, d.right) : nullptr;
    Node* l = d.left != kNone ? live_child(*x, d.left) : nullptr;
    if ((d.right != kNone && r == nullptr) || (d.left != kNone && l == nullptr)) {
        return DeleteResult::Failed;
    }
    Node* lowest = nullptr;  // where the left subtree is hung: the leftmost node right of x
    if (r != nullptr && l != nullptr) {
        lowest = r;
        for (std::size_t steps = 0; lowest->header.left != kNone; ++steps) {
            Node* next = live_child(*lowest, lowest->header.left);
            if (next == nullptr || steps > nodes_.size()) return DeleteResult::Failed;
            lowest = next;
        }
    }

    // Unlink x from its parent; the right subtree takes its place.
    bool right_side = true;
    if (is_root) {
        p->header.left = kNone;
    } else if (p->header.left == offset) {
        p->header.left = d.right;
        right_side = false;
    } else {
        p->header.right = d.right;
    }
    const int32_t new_parent = is_root ? kRootOffset : p->offset;
    if (r != nullptr) {
        r->header.parent = new_parent;
        r->tree_parent = new_parent;
    }
    // Hang the left subtree back: below the leftmost node of the right subtree, or in x's place.
    if (l != nullptr) {
        if (lowest != nullptr) {
            lowest->header.left = d.left;
            l->header.parent = lowest->offset;
            l->tree_parent = lowest->offset;
        } else {
            (right_side ? p->header.right : p->header.left) = d.left;
            l->header.parent = new_parent;
            l->tree_parent = new_parent;
        }
    }
    x->header.parent = kDeletedParent;

    bool ok = true;
    Node* touched[] = {p, r, lowest, l, x};
    for (std::size_t i = 0; i < std::size(touched); ++i) {
        Node* n = touched[i];
        if (n == nullptr || std::find(touched, touched + i, n) != touched + i) continue;
        ok = write_header(*n) && ok;
    }
    if (!ok) {
        recover();
        return DeleteResult::Failed;
    }
    by_key_.erase(static_cast<uint32_t>(x - nodes_.data()));
    hash_.erase(static_cast<uint32_t>(x - nodes_.data()));
    x->state = NodeState::Deleted;
    deferred_.erase(offset);
    pending_.set(static_cast<uint32_t>(x - nodes_.data()), PendingIndex::kNotPending);
    if (is_root) root_deleted_ = true;
    return DeleteResult::Deleted;
}

LinkTreeFile::Node* LinkTreeFile::rewritable(const ItemRecord& rec, std::string& bytes) {
    Node* n = node_at(rec.file_offset);
    if (n == nullptr || (n->state != NodeState::Live && n->state != NodeState::Stray)) {
        return nullptr;
    }
    // Readers take at most kMaxLineRead bytes of a line, and a length that runs past the end
    // of the file is damage: never write beyond what belongs to this node.
    if (int64_t{n->offset} + kNodeHeaderSize + n->header.length > end_) return nullptr;
    const auto length = static_cast<std::size_t>(std::min(n->header.length, kMaxLineRead));
    bytes = format_record_line(rec);
    if (bytes.size() > length) {
        bytes.resize(length);  // a grown line is cut at the node's size
    } else if (bytes.size() < length) {
        // A shorter line is padded with blanks before its line end; readers trim them.
        const bool line_end = !bytes.empty() && bytes.back() == '\n';
        if (line_end) bytes.pop_back();
        bytes.append(length - bytes.size() - (line_end ? 1 : 0), ' ');
        if (line_end) bytes.push_back('\n');
    }
    if (line_key(bytes) != n->key) return nullptr;
    return n;
}

bool LinkTreeFile::rewrite(const ItemRecord& rec) {
    if (!is_open() || !flush()) return false;
    std::string bytes;
    Node* n = rewritable(rec, bytes);
    if (n == nullptr) return false;
    deferred_.erase(n->offset);  // this line replaces one kept back
    if (!base::write_exact(fd_, int64_t{n->offset} + kNodeHeaderSize, bytes.data(), bytes.size())) {
        recover();
        return false;
    }
    update_pending(static_cast<uint32_t>(n - nodes_.data()), bytes);
    return true;
}

bool LinkTreeFile::rewrite_later(const ItemRecord& rec) {
    if (!is_open() || read_only_) return false;
    std::string bytes;
    Node* n = rewritable(rec, bytes);
    if (n == nullptr) return false;
    update_pending(static_cast<uint32_t>(n - nodes_.data()), bytes);
    deferred_[n->offset] = std::move(bytes);
    return true;
}

bool LinkTreeFile::write_deferred() {
    if (deferred_.empty()) return true;
    // A node still in the append buffer is written first: its line goes over it.
    if (!flush()) return false;
    while (!deferred_.empty()) {
        const auto first = deferred_.begin();
        if (!base::write_exact(fd_, int64_t{first->first} + kNodeHeaderSize, first->second.data(),
                               first->second.size())) {
            write_failed_ = true;
            return false;  // kept for the next try; the index already knows them
        }
        deferred_.erase(first);
    }
    return true;
}

bool LinkTreeFile::sync() {
    if (!is_open() || read_only_) return true;
    if (!flush()) return false;
    if (::fdatasync(fd_) != 0) {
        write_failed_ = true;
        return false;
    }
    return true;
}

RecordPtr LinkTreeFile::read_next(int64_t& position, int32_t& node_offset) {
    if (!is_open()) return nullptr;
    (void)flush();  // a failure is recorded in write_failed_ and told by the store
    if (position >= end_) return nullptr;  // a torn tail left in place read-only is no node
    RecordPtr rec = next_node_record(fd_, position, node_offset, OverlongLine::ReadCut);
    if (rec) {
        // A line kept back is the record's line now.
        if (const auto kept = deferred_.find(node_offset); kept != deferred_.end()) {
            if (RecordPtr newer = parse_record_line(kept->second)) {
                newer->file_offset = node_offset;
                return newer;
            }
        }
    }
    return rec;
}

}  // namespace tarnvelox::store
