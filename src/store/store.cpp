#include "store/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "base/file_io.h"
#include "base/text_util.h"

namespace tarnvelox::store {

std::string companion_base(std::string_view project_path) {
    const std::size_t name_start = project_path.find_last_of('/') + 1;  // npos + 1 == 0
    const std::size_t dot = project_path.find('.', name_start);
    return std::string(project_path.substr(0, dot));
}

std::string links_file_name(std::string_view project_path) {
    return companion_base(project_path) + std::string(kLinksExtension);
}

std::string addresses_file_name(std::string_view project_path) {
    return companion_base(project_path) + std::string(kAddressesExtension);
}

void set_project_path(Store& store, std::string_view project_path) {
    close_store(store);
    store.links_path = links_file_name(project_path);
    store.addresses_path = addresses_file_name(project_path);
}

namespace {

void report(const Store& store, std::string_view message) {
    if (store.shell != nullptr) store.shell->report_error(message);
}

bool open_one(Store& store, LinkTreeFile& file, const std::string& path) {
    if (file.is_open()) return true;
    if (!file.open(path)) return false;
    if (file.damaged()) {
        store.damage_told = true;
        report(store, "The file " + path +
                           " is damaged: what it holds can be read, but nothing new can be "
                           "stored in it. Export what it holds, then clear the project (or "
                           "start a new one) to harvest again.");
    }
    return true;
}

// Tells the person once when a file could not be written (a full disk). What could not be
// written stays buffered while the file is open; a page is never marked visited ahead of it, so
// the next harvest fetches such pages again.
void tell_write_failure(Store& store, const std::string& path) {
    if (store.write_failing) return;
    store.write_failing = true;
    report(store, "Unable to write to '" + path +
                      "': the disk may be full. The harvest stops; the pages whose links and "
                      "addresses could not be written are fetched again by the next harvest.");
}

// Damage met by an insert stops the harvest as a full disk does: what the run finds past it
// could not be stored.
void tell_damage_found(Store& store, const std::string& path) {
    if (store.write_failing) return;
    store.write_failing = true;
    report(store, "The file " + path +
                      " is damaged where a new item had to be stored: nothing more can be stored "
                      "in it. The harvest stops; the pages whose links and addresses could not "
                      "be stored are fetched again by the next harvest. Export what it holds, "
                      "then clear the project (or start a new one) to harvest again.");
}

void check_writes(Store& store, LinkTreeFile& file, const std::string& path) {
    if (file.take_write_failure()) tell_write_failure(store, path);
    if (file.take_damage_found()) tell_damage_found(store, path);
}

void check_writes(Store& store, TreeFile which) {
    check_writes(store, store.file(which),
                 which == TreeFile::Links ? store.links_path : store.addresses_path);
}

}  // namespace

bool open_store(Store& store) {
    store.read_position = 0;
    const bool links = open_one(store, store.links, store.links_path);
    const bool addresses = open_one(store, store.addresses, store.addresses_path);
    return links && addresses;
}

void close_store(Store& store) {
    // A failure is told; the marks kept back are then lost, not wrong.
    const bool committed = commit(store);
    for (TreeFile which : {TreeFile::Links, TreeFile::Addresses}) {
        LinkTreeFile& file = store.file(which);
        const bool was_open = file.is_open();
        const StoredCounts held = was_open ? stored_counts(store, which) : StoredCounts{};
        const bool closed = file.close();
        if (!closed && was_open) {
            tell_write_failure(store,
                               which == TreeFile::Links ? store.links_path : store.addresses_path);
        }
        if (!was_open) continue;
        // What the file held is on the disk unless a write failed; then the disk says.
        const bool all_written = closed && (committed || which == TreeFile::Addresses);
        const StoredCounts on_disk = all_written ? held : stored_counts(store, which);
        if (which == TreeFile::Links) {
            store.unvisited_when_closed = on_disk.unvisited;
        } else {
            store.total_addresses = on_disk.records;
        }
    }
}

namespace {

// A count reads the file in pieces of this size: it passes every node, and a read of its own
// for each would cost a system call per node.
constexpr std::size_t kCountChunk = std::size_t{1} << 20;

StoredCounts counts_of(const LinkTreeFile& file) {
    return {static_cast<int32_t>(file.live_count()), static_cast<int32_t>(file.pending_count())};
}

// The bytes of a file from `at` on, read ahead in pieces.
class ChunkReader {
public:
    explicit ChunkReader(int fd) : fd_(fd) {}
    // At most `size` bytes at `at`: fewer where the file ends.
    std::string_view bytes(int64_t at, std::size_t size) {
        const auto end = static_cast<int64_t>(size) + at;
        if (at < start_ || end > start_ + static_cast<int64_t>(buffer_.size())) {
            buffer_.resize(std::max(kCountChunk, size));
            buffer_.resize(base::read_some(fd_, at, buffer_.data(), buffer_.size()));
            start_ = at;
        }
        const auto from = static_cast<std::size_t>(at - start_);
        if (from >= buffer_.size()) return {};
        return std::string_view(buffer_).substr(from, size);
    }

private:
    int fd_;
    int64_t start_ = 0;
    std::string buffer_;
};

}  // namespace

StoredCounts stored_counts(const std::string& path) {
    StoredCounts counts;
    const int fd = path.empty() ? -1 : base::open_regular(path, O_RDONLY);
    if (fd < 0) return counts;
    // The nodes the sequential read returns (node_walk.h): live, with a line that parses and is
    // not longer than a reader takes; the walk ends where the chain of nodes cannot be followed.
    ChunkReader file(fd);
    int64_t position = 0;
    while (position <= std::numeric_limits<int32_t>::max()) {
        const std::string_view head = file.bytes(position, kNodeHeaderSize);
        if (head.size() != kNodeHeaderSize) break;
        const NodeHeader header =
            decode_header(reinterpret_cast<const unsigned char*>(head.data()));
        if (header.length < 0) break;
        const int64_t line_at = position + kNodeHeaderSize;
        position = line_at + header.length;
        if (header.parent < 0 || header.length > kMaxLineRead) continue;
        const std::string_view line = base::c_text(
            file.bytes(line_at, static_cast<std::size_t>(header.length)));
        const std::optional<RecordLineFields> fields = split_record_line(line);
        if (!fields) continue;
        ++counts.records;
        if ((base::read_int(fields->status) & STATUS_VISITED) == 0) ++counts.unvisited;
    }
    ::close(fd);
    return counts;
}

StoredCounts stored_counts(const Store& store, TreeFile which) {
    const LinkTreeFile& file = store.file(which);
    if (file.is_open()) return counts_of(file);
    return stored_counts(which == TreeFile::Links ? store.links_path : store.addresses_path);
}

int32_t unvisited_links(const Store& store) {
    return store.links.is_open() ? static_cast<int32_t>(store.links.pending_count())
                                 : store.unvisited_when_closed;
}

int32_t tree_insert(Store& store, TreeFile which, const ItemRecord& rec) {
    const int32_t offset = store.file(which).insert(rec);
    check_writes(store, which);
    // The store owns the address count: raised here, lowered by tree_delete.
    if (offset >= 0 && which == TreeFile::Addresses) ++store.total_addresses;
    return offset;
}

int32_t tree_find(const Store& store, TreeFile which, const ItemRecord& rec) {
    if (!rec.url) return kNone;
    return store.file(which).find(*rec.url);
}

int tree_delete(Store& store, TreeFile which, int32_t node_offset) {
    const LinkTreeFile::DeleteResult result = store.file(which).remove(node_offset);
    check_writes(store, which);
    switch (result) {
        case LinkTreeFile::DeleteResult::NotOpen:
            return 0;
        case LinkTreeFile::DeleteResult::Failed:
            report(store, kDeleteFailedMessage);
            return 0;
        case LinkTreeFile::DeleteResult::Deleted:
            break;
    }
    if (which == TreeFile::Addresses && store.total_addresses > 0) --store.total_addresses;
    return 1;
}

int rewrite_line(Store& store, const ItemRecord& rec) {
    const bool kept = store.links.rewrite_later(rec);
    if (store.links.deferred_count() >= kMarksPerCommit) (void)commit(store);
    return kept ? 1 : 0;
}

bool writes_failing(Store& store) {
    check_writes(store, TreeFile::Addresses);
    check_writes(store, TreeFile::Links);
    return store.write_failing;
}

bool commit(Store& store) {
    if (store.links.deferred_count() == 0) return true;
    // What was found comes first: the addresses, then the links with their new nodes; only
    // once both are on the disk do the marks follow.
    const bool found = store.addresses.sync() && store.links.sync();
    check_writes(store, TreeFile::Addresses);
    // Once the store failed (a write, or damage met), what a page held may be missing: its
    // mark is never written, so the page is fetched again.
    if (!found || store.write_failing) {
        check_writes(store, TreeFile::Links);
        return false;
    }
    const bool marked = store.links.write_deferred();
    check_writes(store, TreeFile::Links);
    return marked;
}

bool put_on_disk(Store& store) {
    bool written = commit(store);
    written = store.addresses.sync() && written;
    written = store.links.sync() && written;
    check_writes(store, TreeFile::Addresses);
    check_writes(store, TreeFile::Links);
    return written && !store.write_failing;
}

int32_t forget_visits(Store& store) {
    int32_t changed = 0;
    int64_t position = 0;
    int32_t node = kNone;
    while (RecordPtr rec = store.links.read_next(position, node)) {
        if (rec->status == 0) continue;
        rec->status = 0;
        if (rewrite_line(store, *rec) == 0) return -1;
        ++changed;
    }
    if (!commit(store)) return -1;
    return changed;
}

RecordPtr read_next_link(Store& store, TreeFile which) {
    (void)commit(store);  // a failure is told; the read sees the lines as they are on disk
    RecordPtr rec = store.file(which).read_next(store.read_position, store.last_read_offset);
    check_writes(store, which);
    return rec;
}

}  // namespace tarnvelox::store
