#pragma once

// LinkTreeFile: one open link tree file (see tree_format.h for its bytes) with an in-memory
// index of it. The file is the authority; the index is a cache rebuilt from the file whenever it
// is opened and kept in step with every write made through this class. Descents (insert, find)
// are answered from the index in O(log n) instead of one disk read per tree level, and every
// write produces exactly the bytes the plain on-disk descent would produce: a new key hangs as
// the right child of its in-order predecessor when that slot is free, else as the left child of
// its successor, and a deleted root is a sentinel below every key.
//
// Damaged files: the index holds only nodes reached from the root through readable, in-order
// links (each visited once). Any other non-empty link counts as occupied and is never
// overwritten; an insert that would need such a slot is refused. Keys of live nodes outside the
// tree are remembered so that they are never stored a second time.
//
// What a crash leaves is set right when the file is opened: a torn tail (a node cut short by an
// interrupted append, or zeros running to the end of the file) is cut away together with every
// link into it, and whole nodes that a flush wrote but was killed before linking are linked
// back where the insert had hung them. Zeros or a line without a key anywhere else, and a link
// at or past the end of the file from the tree, are damage.
//
// Single-threaded; not copyable or movable (the index refers to its own key storage).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/host_table.h"
#include "store/item_record.h"
#include "store/node_hash.h"
#include "store/ordered_index.h"
#include "store/pending_index.h"
#include "store/tree_format.h"

namespace tarnvelox::store {


// A node the crawl frontier can hand out: live, readable by the sequential read, and not marked
// visited in the file.
struct PendingLink {
    int32_t offset;         // the node
    int64_t next_position;  // where the sequential read continues after it
    uint32_t host;          // host id (see LinkTreeFile::host_id)
};

class LinkTreeFile {
  public:
    static constexpr uint32_t kUnknownHost = PendingIndex::kAnyHost;

    LinkTreeFile() = default;
    ~LinkTreeFile();
    LinkTreeFile(const LinkTreeFile&) = delete;
    LinkTreeFile& operator=(const LinkTreeFile&) = delete;

    // Opens `path` for reading and writing, creating it empty when missing, and builds the
    // index. False when the file can neither be opened nor created (or cannot be read).
    [[nodiscard]] bool open(const std::string& path);
    // Opens an existing `path` to look at only: nothing is ever written to it, not even the
    // cut of a torn last node, and nothing new can be stored (inspection tools).
    [[nodiscard]] bool open_read_only(const std::string& path);
    // Writes what is buffered and closes the file. False when the buffered nodes could not be
    // written: they are lost then.
    [[nodiscard]] bool close();
    [[nodiscard]] bool is_open() const { return fd_ >= 0; }

    // Stores the record under its url. Returns the new node's offset, or -1 when the key is
    // already stored, the file is not open, the url cannot be stored as a key (absent, or
    // containing "<1>", or too long for a line), the file would outgrow 32-bit offsets, the
    // needed child slot is occupied by a damaged link, or the write fails (nothing is kept then).
    [[nodiscard]] int32_t insert(const ItemRecord& rec);

    // Whether a node that is not deleted holds `key` (in the tree or, in a damaged file, outside
    // it): insert would refuse it.
    [[nodiscard]] bool stored(std::string_view key) const;

    // Offset of the live node whose key equals `key` (up to its first NUL), or -1.
    [[nodiscard]] int32_t find(std::string_view key) const;

    enum class DeleteResult { Deleted, NotOpen, Failed };
    // Unlinks the live node at `offset` from the tree and marks it deleted. Failed (and nothing
    // written) when `offset` is not a live tree node or a link it needs is damaged.
    [[nodiscard]] DeleteResult remove(int32_t offset);

    // Rewrites the line of the node at rec.file_offset in place with the record's new line, cut
    // or blank-padded to the node's stored length. Refused (false) when the file is not open,
    // the offset is not a live node, or the new line would change the node's key.
    [[nodiscard]] bool rewrite(const ItemRecord& rec);
    // The same line, checked the same way, but kept back until write_deferred(): the file's
    // index (what is pending) changes at once, the bytes on disk only then. The reads return a
    // line kept back in place of the one on disk; a close drops what is still kept back.
    [[nodiscard]] bool rewrite_later(const ItemRecord& rec);
    [[nodiscard]] std::size_t deferred_count() const { return deferred_.size(); }
    // Writes the lines kept back, in place. False when a write failed (told as any failure).
    [[nodiscard]] bool write_deferred();
    // Writes the buffered nodes and asks the system to put the file's data on the disk. False
    // when either failed (told as any write failure).
    [[nodiscard]] bool sync();

    // Sequential read: the next live, parseable record at or after `position`, with its
    // file_offset set; `position` moves past it and `node_offset` receives its offset. Null at
    // the end of the file (or of its readable part) or when the file is not open.
    [[nodiscard]] RecordPtr read_next(int64_t& position, int32_t& node_offset);

    // New nodes are collected in memory and written together: by every other operation that
    // touches the file (reads, rewrites, deletes, close), when they reach kFlushBytes, or here.
    // Within a flush each node is written before the link that makes it reachable. False when
    // a write failed (a full disk): what was not written stays buffered and is tried again.
    [[nodiscard]] bool flush();
    // True once after a write failed since the last call; the store reports it.
    [[nodiscard]] bool take_write_failure() { return std::exchange(write_failed_, false); }
    // True once after an insert was refused because of damage (a link its descent needs is
    // damaged, or the chain of nodes is broken) since the last call; the store reports it.
    [[nodiscard]] bool take_damage_found() { return std::exchange(damage_found_, false); }
    static constexpr std::size_t kFlushBytes = std::size_t{256} << 10;

    // The record of the node at `offset` as the sequential read would return it, or null.
    [[nodiscard]] RecordPtr read_at(int32_t offset);

    // The first node at or after byte `position` (a node boundary) that the sequential read
    // would return without the visited mark, on a host other than `excluded_host`
    // (kUnknownHost: on any host).
    [[nodiscard]] std::optional<PendingLink> next_pending(int64_t position,
                                                          uint32_t excluded_host) const;
    // The id of `host` (a link_host text, any letter case), or kUnknownHost when no node has it.
    [[nodiscard]] uint32_t host_id(std::string_view host) const;

    // Number of live keys in the tree, and the offset where the next node will be written.
    [[nodiscard]] std::size_t live_count() const { return by_key_.size(); }
    // Live links not yet visited, as the crawl frontier sees them.
    [[nodiscard]] std::size_t pending_count() const { return pending_.count(); }
    [[nodiscard]] int64_t end_offset() const { return end_; }
    // True when the file is damaged: the chain of nodes breaks before the end of the file, a
    // stretch of it is no node at all, or a link points at or past its end. The file stays
    // readable, but new nodes are refused: they could not be read back, or would hang from two
    // parents.
    [[nodiscard]] bool damaged() const { return appends_blocked_; }

    // What the last open set right of what a crash leaves. Opened read-only, the repairs are
    // made in the index only: they say what the next open for writing will do.
    struct OpenRepairs {
        int64_t cut_at = -1;            // where a torn tail was cut away (-1: there was none)
        std::size_t links_cleared = 0;  // links to nodes never written, cleared
        std::size_t relinked = 0;       // whole nodes linked back into the tree
    };
    [[nodiscard]] const OpenRepairs& repairs() const { return repairs_; }

  private:
    enum class NodeState : uint8_t {
        Live,        // reached from the root, in order; its key is in by_key_
        Stray,       // not deleted, readable, but not part of the tree
        Deleted,     // parent field negative
        Unreadable,  // line length negative: no key can be read
    };
    struct Node {
        std::string_view key;  // into key storage; empty for unreadable nodes
        int32_t offset;
        NodeHeader header;    // the header as it stands on disk
        int32_t tree_parent;  // Live: offset of the node that links to it (root: 0)
        NodeState state;
        bool visited;  // index build only
        uint32_t host = kUnknownHost;
    };

    // A node with `key` (only a Live one when `live_only`), or kNoNode.
    static constexpr uint32_t kNoNode = 0xFFFFFFFF;
    [[nodiscard]] uint32_t hash_find(std::string_view key, bool live_only) const;

    // Files node `ordinal` with the pending index from the line a reader would see.
    void update_pending(uint32_t ordinal, std::string_view line);

    // The index from the file: the chain of nodes, the tree, the hash. False when the file
    // cannot be read or a torn tail cannot be cut.
    [[nodiscard]] bool build_index();
    struct ChainScan {
        int64_t torn_at = -1;  // where a node cut short by an interrupted append starts
        bool complete = true;  // the chain of nodes ends exactly at the end of the file
    };
    ChainScan scan_chain(int64_t file_size);
    [[nodiscard]] bool cut_torn_tail(int64_t torn_at);
    // Whether the links of `n` are part of the tree's structure (a deleted root's right link
    // still leads to the tree; other deleted nodes keep stale links that nothing follows).
    [[nodiscard]] static bool links_count(const Node& n);
    void settle_links_past_end();
    void walk_tree();
    void relink_strays();
    // Where the plain descent hangs a new `key`: as the right child of its in-order predecessor
    // when that slot is free, else as the left child of its successor (parent null for the
    // first node of an empty file). A link equal to `free_as` counts as a free slot. `usable`
    // is false when the key is in the tree already or the slot holds a damaged link.
    struct InsertSlot {
        Node* parent;
        bool as_right;
        bool usable;
    };
    [[nodiscard]] InsertSlot insert_slot(std::string_view key, int32_t free_as);
    // Writes a header that opening the file repairs; only in the index when read-only.
    [[nodiscard]] bool repair_header(const Node& node);
    void rebuild_hash();
    // After a failed write: the file is the authority, so the index is rebuilt from it (and the
    // file closed when even that fails).
    void recover();
    void reset_index();
    std::string_view store_key(std::string_view key);
    [[nodiscard]] Node* node_at(int32_t offset);
    [[nodiscard]] const Node* node_at(int32_t offset) const;
    [[nodiscard]] Node* live_child(const Node& parent, int32_t child_offset);
    [[nodiscard]] bool write_header(const Node& node);
    [[nodiscard]] bool read_exact(int64_t offset, void* out, std::size_t size) const;
    // The line `rec` puts in place of its node's line, cut or padded to the node's length; the
    // node, or null when the line may not be written.
    [[nodiscard]] Node* rewritable(const ItemRecord& rec, std::string& bytes);

    int fd_ = -1;
    bool read_only_ = false;  // opened to look at only: never written
    int64_t end_ = 0;               // where the next node goes
    bool appends_blocked_ = false;  // the chain of nodes is broken: new nodes are refused
    bool write_failed_ = false;     // a write failed since take_write_failure() was asked
    bool damage_found_ = false;     // an insert met damage since take_damage_found() was asked
    std::string append_buf_;  // nodes not yet written; they belong at end_ - append_buf_.size()
    std::vector<std::pair<int32_t, NodeHeader>> header_writes_;  // links of nodes on disk
    std::map<int32_t, std::string> deferred_;  // lines kept back, by node offset
    [[nodiscard]] int64_t disk_end() const {
        return end_ - static_cast<int64_t>(append_buf_.size());
    }
    bool root_deleted_ = false;
    OpenRepairs repairs_;
    std::vector<Node> nodes_;  // every node of the sequential chain, by ascending offset
    struct NodeKey {
        const std::vector<Node>* nodes;
        std::string_view operator()(uint32_t i) const { return (*nodes)[i].key; }
    };
    OrderedIndex<NodeKey> by_key_{NodeKey{&nodes_}};  // live nodes in key order
    // The keys of every Live and Stray node: the duplicate test of insert and the lookup of
    // find, without walking the ordered index.
    NodeHash<NodeKey> hash_{NodeKey{&nodes_}};
    PendingIndex pending_;
    HostTable hosts_{kUnknownHost};
    std::vector<std::unique_ptr<char[]>> key_blocks_;
    std::size_t block_used_ = 0;
    std::size_t block_size_ = 0;
};

}  // namespace tarnvelox::store
