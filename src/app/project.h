#pragma once

// The project file: a small key=value text file (default "default.tvp") that keeps the inputs of
// the main window's tabs, the export/import filter texts, the ticked search engines and the
// address count, beside the two link tree files that hold the project's links and addresses.
// save_project writes it; load_project reads it and fills the in-memory lists from the two
// companion files. Single-threaded; neither function keeps a reference to its arguments.
//
// The file, one line per key, each ended by "\n" alone, always in this order:
//   OWNER=Tarnvelox 100
//   URL=<starting URL>          line feeds in the URL written as blanks
//   CRAWL=<crawl keywords>
//   EXTRACT=<extract keywords>
//   EMAIL=<sought addresses>
//   NAME=<person name>
//   DOMAIN=<domain filter>
//   INCLUDE=<must-contain filter>
//   EXCLUDE=<must-not-contain filter>
//   LAST_EXPORT=<where the last export went>
//   LAST_IMPORT=<where the last import came from>
//   COUNT=<total_addresses>
//   START=<crawl scope>
//   BODY=
//   E_POS=<engine id>           one line per ticked engine, in engine list order
// URL= to LAST_IMPORT= appear only for values that exist (an existing empty text gives the bare
// key). A "SORT=" line is understood when read but never written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/list_filter.h"
#include "harvest/harvest_env.h"
#include "platform/shell.h"
#include "store/item_list.h"
#include "store/store.h"

namespace tarnvelox::app {

class Context;

inline constexpr std::string_view kDefaultProjectFile = "default.tvp";
inline constexpr std::string_view kWriteProjectFailedMessage = "Unable to write Project File";
// Told when a project's links and addresses were loaded although its project file was missing.
inline constexpr std::string_view kProjectFileMissingNote =
    "The project file was missing: its links and addresses were loaded from their own files; "
    "the fields of the tabs start empty.";
// The one-writer lock beside the project: the companion base with this ending. It stays empty
// and is never removed (a lock file removed while held would let a second writer in).
inline constexpr std::string_view kLockExtension = ".lock";
// What the OWNER= line names: the product and the file format's revision.
inline constexpr std::string_view kProjectOwner = "Tarnvelox";
inline constexpr int kProjectOwnerRevision = 100;

// A written line, its "\n" included, is at most this long: a longer value is cut so that the
// line still ends where it should (a cut line feed would join the next key to this value).
inline constexpr std::size_t kMaxProjectLineWritten = 3095;
// A read line counts with at most this many characters (up to a NUL byte if it has one); the
// rest of a longer line is passed over, never read as a line of its own.
inline constexpr std::size_t kMaxProjectLineRead = 2047;
// load_project reports the counters every time this many records have been loaded.
inline constexpr int32_t kLoadProgressStep = 51;

// The project values that live nowhere else in the program's context.
struct ProjectValues {
    std::optional<std::string> last_export;  // folder or file the last export went to
    std::optional<std::string> last_import;  // folder or file the last import came from
};

// Receives the counters while load_project fills the lists (the progress dialog of the desktop
// program).
class LoadProgress {
public:
    virtual ~LoadProgress() = default;
    // `addresses` counts the address records loaded by this call so far.
    virtual void show_load_counts(int32_t total_links, int32_t bad_links, int32_t addresses) = 0;
};

// "<companion base>.lock" for the project at `path`.
[[nodiscard]] std::string project_lock_name(std::string_view path);

// The bytes save_project writes. Texts end at their first NUL byte. The filter texts of
// ItemFilter use an empty text for "not set", so an empty filter text writes no line at all.
// `engines` is the search-engine list: every entry with `selected` non-zero gives an E_POS= line.
[[nodiscard]] std::string project_text(const harvest::SearchTexts& search,
                                       const exchange::ItemFilter& filter,
                                       const ProjectValues& values, const store::Store& store,
                                       const store::ItemList& engines);

// Creates or replaces the project file at `path` with project_text (COUNT= is
// store.total_addresses). The new bytes go to "<path>.tmp" first and then replace the file, so
// a failed write leaves the previous project file as it was. Returns 1, or 0 after `shell`
// showed "Unable to write Project File". Committing the visible tab's fields into `search` is
// the caller's job.
[[nodiscard]] int save_project(const std::string& path, const harvest::SearchTexts& search,
                               const exchange::ItemFilter& filter, const ProjectValues& values,
                               const store::Store& store, const store::ItemList& engines,
                               platform::Shell& shell);

// Empties both lists and sets the counts of a project (links, addresses, bad and visited links)
// to 0: what an empty project holds. No connection slot may hold a record of the lists.
void clear_project_state(store::ItemLists& lists, store::Store& store, harvest::RunState& run);

// Loads the project at `path` into `ctx`: its search texts, filter, project values, engine
// ticks, store, lists and run counters, with the settings' sort value and display maximum
// (maxlist below).
//
// With `import_only` false: both lists are emptied (no connection slot may hold a record of
// them), store.total_links, run.bad_links and run.visited_links go to 0, and the project file
// is read; when it cannot be opened the result is 0 and nothing else happens (the values keep
// what they had, the companion files are not read). Each line counts up to its "\n" (the last
// one without), with at most kMaxProjectLineRead characters, up to a NUL byte, and without
// trailing white space. The first key of URL=, CRAWL=, EXTRACT=, EMAIL=, NAME=, DOMAIN=,
// INCLUDE=, EXCLUDE=, LAST_EXPORT=, LAST_IMPORT=, SORT=, START=, E_POS=, COUNT= that occurs
// anywhere in the line (case-sensitive) decides it, and its value is the text after the line's
// first "=". Texts replace the current value; SORT= sets the settings' sort value, START= the crawl scope,
// COUNT= store.total_addresses (read with base::read_int); E_POS= ticks the first engine with
// that id, when there is one. Other lines and values the file does not mention change nothing.
//
// With `import_only` true the project file is not read and nothing is emptied or reset: the
// companion records are added to the lists, each only when it passes ctx.filter (an address
// on its title, a link on its url).
//
// Then, in both cases: the store's links file is closed; the addresses file and then the links
// file named after `path` (store::addresses_file_name, store::links_file_name) are read, when
// they exist, node by node in file order, at most `maxlist` records each (0 or less: none),
// passing over deleted nodes and unparsable lines. Each record keeps its node offset, loses
// STATUS_ACTIVE (no connection holds it), goes to the end of its list, and is counted:
// STATUS_BAD adds 1 to run.bad_links; otherwise KIND_ADDRESS adds 1 to the address count;
// otherwise, without STATUS_VISITED, 1 to store.total_links. STATUS_VISITED also adds 1 to
// run.visited_links. `progress` (may be null) hears the counters after every
// kLoadProgressStep records.
//
// Finally, when loading a project, its figures are taken from its files (store::stored_counts),
// whatever the lists took and whatever COUNT= said: store.total_links is the links file's
// records, store.unvisited_when_closed its unvisited links, run.visited_links the rest, and
// store.total_addresses the addresses file's records. An import makes store.total_addresses
// the larger of its value and the address count. Returns 1. Showing the new counters and
// refreshing the list views are the caller's job.
[[nodiscard]] int load_project(Context& ctx, const std::string& path, bool import_only,
                               LoadProgress* progress);

// Sets the project's figures (links, unvisited links, visited links, addresses) to what its
// files hold, as `load_project` does for a project file it read.
void take_stored_figures(const store::StoredCounts& links, const store::StoredCounts& addresses,
                         store::Store& store, harvest::RunState& run);

}  // namespace tarnvelox::app
