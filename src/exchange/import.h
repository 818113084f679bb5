#pragma once

// Import: links and addresses from outside files stored in the open project, through the same
// intake as the items a crawl finds. Four readers (merge_modes.h numbers them): address-book
// and bookmark anchors, another project's two link tree files, and any file whose lines go
// through the page scanner. The Import dialog and the headless harvester both call import_file
// and say what it returns. Everything passed in is borrowed for the duration of the call only.

#include <cstddef>
#include <string>
#include <string_view>

#include "exchange/list_filter.h"
#include "exchange/merge_modes.h"
#include "harvest/harvest_env.h"
#include "harvest/import_intake.h"

namespace tarnvelox::exchange {

inline constexpr std::string_view kImportOpenFailedMessage = "Unable to open import file";
// A line of an import file is read in pieces of at most this many bytes: a longer line is
// handled piece by piece, so a file without line feeds costs no more memory than any other.
inline constexpr std::size_t kImportPiece = 1024;
// An imported bookmark keeps at most this much of its anchor's text as its title (the width of
// a stored title).
inline constexpr std::size_t kImportedTitleWidth = 50;

struct ImportRequest {
    std::string path;
    int type = kImportText;            // kImportAddressBook .. kImportText
    int merge_mode = kMergeAddUnique;  // kMergeAddUnique .. kMergeDeleteOnly
    bool modern_reader = false;        // how text lines are read: the setting "modern"
};

enum class ImportOutcome {
    Done,            // the file was read; the tally says what came of it
    HarvestRunning,  // nothing done: a harvest runs
    Unreadable,      // the file could not be opened ("Unable to open import file" was told)
    StoreUnusable,   // the project's files could not be opened ("Unable to open Project File(s)")
                     // or what was imported could not be written (told by the store)
    UnknownType,     // the type or merge mode is out of range: nothing done
};

struct ImportResult {
    ImportOutcome outcome = ImportOutcome::Done;
    harvest::ImportTally tally;
    // The merge rule deleted addresses that the lists may still hold: reload_lists() before
    // the views are shown again.
    bool lists_stale = false;
};

// Reads the file and stores its items in the project of `env`.
//
// The import is a Harvest-tab pass of its own, whatever the last run left behind: no scope
// (an import has no starting page for a scope to be relative to, so the crawl scope never
// applies to imported links), the Harvest tab's keyword lists parsed afresh, the reader of
// `request.modern_reader`, a Cancel of the last run forgotten. Every one of those values is
// as it was when import_file returns. Items pass the file type's rules, the intake's own
// (an address needs an "@", keys of at most 256 characters), the keyword rules for text lines
// and `filter` (an address tested without its "mailto:"); addresses then meet the merge rule,
// decided against the addresses the project held when the import started. Each stored item's
// source is "file://" followed by the path.
//
// Types 1 and 2 read the "<A HREF=...>" anchors of each line (letter case and blanks around
// "=" ignored; a quoted value runs to its closing quote, an unquoted one to a blank or ">";
// an anchor without a ">" after its value ends the line); "&amp;", "&lt;", "&gt;" and "&quot;"
// in values and texts are decoded, as export writes them. Type 1 adds "mailto:" to a value
// without one; type 2 passes over values naming "ftp:" or "file:" and keeps the anchor's text
// as the title. Type 3 reads every record of the other project's addresses and links files
// (named after `path` as a project's companions are), keeping each link's title and its status
// (but no connection's hold), and stores them through this project's own files. Type 4 hands
// each line to the page scanner. Rows are not shown as items are stored: the caller rebuilds
// the views.
[[nodiscard]] ImportResult import_file(harvest::HarvestEnv& env, const ImportRequest& request,
                                       const ItemFilter& filter);

// Empties both lists (Shell::views_cleared first) and fills them again from the project's
// files, at most the display maximum of records each, as loading the project does, without
// reading the project file: the tab fields and filter texts keep their values. The caller
// rebuilds the views (refill_views). Nothing happens when the files cannot be opened.
void reload_lists(harvest::HarvestEnv& env);

// What an import did, in one line for the status bar and the harvester's summary:
// "3 addresses and 2 links imported, 1 refused as duplicates, 4 filtered out, 1 address
// deleted" (the deletions only when there were some).
[[nodiscard]] std::string import_result_text(const ImportResult& result);

}  // namespace tarnvelox::exchange
