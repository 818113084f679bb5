#pragma once

// The store of the open project: its links file (".lin") and addresses file (".mai"), the
// position of the sequential read shared by both, and the project's address count. One Store
// lives in the program's context; a test builds its own.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/shell.h"
#include "store/item_record.h"
#include "store/link_tree_file.h"

namespace tarnvelox::store {

enum class TreeFile { Links, Addresses };

inline constexpr std::string_view kLinksExtension = ".lin";
inline constexpr std::string_view kAddressesExtension = ".mai";
inline constexpr std::string_view kDeleteFailedMessage = "Delete failed";

struct Store {
    LinkTreeFile links;
    LinkTreeFile addresses;
    std::string links_path;      // companion file names of the current project
    std::string addresses_path;
    int64_t read_position = 0;        // where the next sequential read starts
    int32_t last_read_offset = kNone;  // offset of the node the last sequential read visited
    // The project's counts: links in the links file and addresses in the addresses file (shown
    // in the status area; the address count is saved with the project). The store keeps the
    // address count: storing an address raises it, deleting one lowers it (never below 0). The
    // harvest engine counts the links it stores (the seeded starting link is not counted).
    int32_t total_links = 0;
    int32_t total_addresses = 0;
    // Links of the links file not marked visited when it was last closed or its project loaded
    // (unvisited_links() reads the open file itself).
    int32_t unvisited_when_closed = 0;
    // Set when opening a file has just told the person it is damaged; whoever acts on the damage
    // next (a refused Start) need not say it again, and clears it.
    bool damage_told = false;
    // Set when a file could not be written (a full disk), or an insert met damage, and the
    // person was told; a harvest stops on it, and no visited mark is written while it is set.
    // Cleared by whoever starts the next harvest.
    bool write_failing = false;
    // Where file errors go: the shell's report_error, the one channel of every error the
    // person must see (an "Error" box in the desktop program). Borrowed; may be null.
    platform::Shell* shell = nullptr;

    LinkTreeFile& file(TreeFile which) { return which == TreeFile::Links ? links : addresses; }
    const LinkTreeFile& file(TreeFile which) const {
        return which == TreeFile::Links ? links : addresses;
    }
};

// The companion files' base name: the project path up to, not including, the first "." of its
// last component (its file name). Dots in folder names do not count, so every project keeps its
// files inside its own folder.
[[nodiscard]] std::string companion_base(std::string_view project_path);
[[nodiscard]] std::string links_file_name(std::string_view project_path);
[[nodiscard]] std::string addresses_file_name(std::string_view project_path);

// Closes both files and points the store at the companion files of `project_path`.
void set_project_path(Store& store, std::string_view project_path);

// Opens whichever of the two files is not open (creating it empty when missing) and sets
// read_position to 0. True when both are open.
[[nodiscard]] bool open_store(Store& store);
// Writes what is kept back and closes both files. The counts then say what each file holds on
// the disk: total_addresses its addresses, unvisited_when_closed its unvisited links (nodes a
// full disk kept from being written are not counted).
void close_store(Store& store);

// What one file holds: its live records and, of those, the ones the crawl frontier would hand
// out (not marked visited).
struct StoredCounts {
    int32_t records = 0;
    int32_t unvisited = 0;
};
// What the link tree file at `path` holds, read without changing it; zeros when it is missing
// or cannot be read.
[[nodiscard]] StoredCounts stored_counts(const std::string& path);
// The counts of one of the store's files: from the file while it is open (new nodes not yet
// written included), else read from its path.
[[nodiscard]] StoredCounts stored_counts(const Store& store, TreeFile which);
// The links not yet visited: from the open links file, else unvisited_when_closed.
[[nodiscard]] int32_t unvisited_links(const Store& store);

// Node offset of the new record, or -1 (duplicate key, file not open, or refused). A new
// address raises total_addresses.
[[nodiscard]] int32_t tree_insert(Store& store, TreeFile which, const ItemRecord& rec);
// Node offset of the live record whose key is rec.url, or -1.
[[nodiscard]] int32_t tree_find(const Store& store, TreeFile which, const ItemRecord& rec);
// 1 when the node was removed and marked deleted; 0 when the file is not open or the delete
// failed ("Delete failed" is then reported). Deleting from the addresses file lowers the count.
[[nodiscard]] int tree_delete(Store& store, TreeFile which, int32_t node_offset);
// Rewrites the record's line in place in the links file. A page is never marked visited on
// disk ahead of what was found on it: the new line is kept back until commit() has put both
// files' new nodes on the disk for good (a crash or power cut then loses at most marks, and
// those pages are fetched again). 1, or 0 when the line may not be written.
[[nodiscard]] int rewrite_line(Store& store, const ItemRecord& rec);
// Puts the new nodes of both files on the disk (written and synced), then writes the lines
// kept back. Done every kMarksPerCommit lines, by the harvest every tenth of a second, and
// before anything reads, deletes or closes. False when a write failed (told through the shell).
bool commit(Store& store);
// commit(), and every new node of both files on the disk even when no mark waits: what an
// import or a copy of the files needs, with no harvest running to commit. False when a write
// failed (told through the shell).
bool put_on_disk(Store& store);
// Tells a write failure either file recorded since it was last asked (once per harvest), and
// whether the store can no longer write.
[[nodiscard]] bool writes_failing(Store& store);
inline constexpr std::size_t kMarksPerCommit = 256;
// Clears the status word of every link in the links file, so the crawl offers each one again.
// The number of links changed; -1 when a rewrite failed (told through the shell).
[[nodiscard]] int32_t forget_visits(Store& store);
// The next live record in file order from read_position, or null at the end.
[[nodiscard]] RecordPtr read_next_link(Store& store, TreeFile which);

}  // namespace tarnvelox::store
