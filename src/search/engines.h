#pragma once

// The search-engine definitions: the engines file ("engines.dat" in the current directory) read
// once at start-up into a third chain of ItemRecords beside the links and addresses lists. The
// web and name searches read it; it is never shown in a list view and lives until the program
// ends. Engines owns its records; find_engine_by_id hands out borrowed pointers into it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/item_list.h"
#include "store/item_record.h"

namespace tarnvelox::platform {
class Shell;
}

namespace tarnvelox::search {

inline constexpr std::string_view kEnginesFile = "engines.dat";

// The engines file is written by hand and never by the program; lines are meant to fit a
// 2048-byte line buffer. Only this many leading characters of a line count; the rest of an
// overlong line is skipped, so that a long value cannot smuggle in a statement of its own.
inline constexpr std::size_t kMaxEngineLine = 2047;

// `kind` of a web search engine (TYP=S) and of a web directory (TYP=D).
inline constexpr uint32_t kKindSearchEngine = store::KIND_PAGE | store::KIND_SEARCH_ENGINE;  // 192
inline constexpr uint32_t kKindDirectory = store::KIND_PAGE | store::KIND_DIRECTORY;         // 320

struct Engines {
    // The definitions in file order. Each record: title = NAME= (absent when none was seen),
    // url = REQ=, source = HOME= (or absent), kind 192 / 320 / 0, engine_id = the ID= group;
    // consecutive records with one engine_id form one engine row on the search pages.
    store::ItemList list;
    int32_t engine_count = 0;     // "TYP=S" lines read
    int32_t directory_count = 0;  // "TYP=D" lines read
};

// Reads the engines file at `path` into `engines`. Statements ("NAME=", "REQ=", "HOME=", "ID=",
// "TYP=S", "TYP=D") are recognised by case-sensitive text at the very start of a line after
// its trailing white space is removed; the value is the text after the first "=". A line ends
// at its first NUL byte. Any other line is ignored, and so are HOME=, ID= and TYP= lines before
// the first REQ= line.
//
// When the file cannot be opened, "Unable to Load Engines File '<path>'" goes to
// shell.report_error, `engines` is left as it was and the result is 0. Otherwise the list and
// the counts are replaced by the file's definitions and the result is 1 when at least one
// record was created, 0 when none (no message).
[[nodiscard]] int load_engines(Engines& engines, const std::string& path, platform::Shell& shell);

// The first record of `engines` (in list order) whose engine_id is `id`, or null. The pointer
// borrows from the list and stays valid until the list is cleared.
[[nodiscard]] store::ItemRecord* find_engine_by_id(const store::ItemList& engines, uint32_t id);

}  // namespace tarnvelox::search
