#pragma once

// Settings: the program's preferences and remembered values, and the settings file that keeps
// them between runs ("tarnv.ini" in the current directory: one "key=value" line per setting,
// plain 8-bit text). The file is read once at start-up and written once when the main window
// closes; in between the values live in one Settings owned by the program's context, which
// every subsystem reads directly. Single-threaded; nothing here keeps a reference to its
// arguments.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/run_state.h"
#include "platform/shell.h"

namespace tarnvelox::app {

inline constexpr std::string_view kSettingsFile = "tarnv.ini";

// Lines longer than this (before their line feed) are not produced by the writer; the reader
// counts only this many leading characters of a line and skips the rest of it.
inline constexpr std::size_t kMaxSettingsLine = 2047;

// A setting that may be absent: none is not written at all, an empty text is written as "key=".
using OptText = std::optional<std::string>;

// One field per key of the file, named after the key without its "="; the member initialisers
// are the built-in defaults, used for every key the file does not have. All numbers are 32-bit
// signed, including timeout and maxlist.
struct Settings {
    int32_t packcount = harvest::kDefaultConnections;  // connection slots in use, 1 to 20
    OptText browser = std::nullopt;    // the browser program chosen in the Preferences
    OptText directory = std::nullopt;  // kept and written back unchanged
    OptText project = std::nullopt;    // project file; unset or empty: "default.tvp"
    OptText proxy = std::nullopt;      // proxy host name; unset or empty: no proxy
    OptText lastfind = std::nullopt;   // kept and written back unchanged
    int32_t sort = 1;                  // SORT= of the last project loaded
    int32_t timeout = 4000;            // harvest timer period in ms (Preferences cap: 64000)
    int32_t port = 8080;               // proxy port
    int32_t lastwarn = 0;              // version number of the last vendor "VER1=" line
    int32_t version = 0;               // release number shown in the About box; never changed
    int32_t upgrade = 0;               // vendor index revision last taken over
    int32_t upgradenew = 0;            // newer vendor index revision waiting to be taken over
    int32_t news = 0;                  // number of the last vendor newsflash shown
    int32_t next = 1;                  // kept and written back unchanged
    int32_t newwin = 2;                // bit 0: open links in a new window; bit 1: map at the end
    int32_t cache = 0;                 // non-zero: ask caching proxies not to answer
    int32_t modrep = 1;                // set when a project is opened or created or rows change
    int32_t help = 0;                  // kept and written back unchanged
    int32_t start = 0;                 // search_mode of the last harvest
    int32_t start2 = 2;                // crawl_scope
    int32_t maxlist = 2500;            // most items shown per list view; 0 disables both views
    // "delete=": a file to delete at the next start-up (set by the upgrade wizard). Transient:
    // reading deletes the named file and never sets this field, so the key is written only
    // when it was set during this run.
    OptText delete_file = std::nullopt;
    // "robots=": non-zero: "Obey robots.txt" (net/politeness.h). Written only when set, after
    // every other key, so a file without it (or from before it) reads as off.
    int32_t robots = 0;
    // "modern=": non-zero: "Read pages as today's browsers do" (harvest/modern_reader.h).
    // Written only when set, after every other key, so a file without it reads as off.
    int32_t modern = 0;
    // "columns=": the widths in pixels of the list views' columns that a person may size
    // (links: title, URL; addresses: e-mail), "200,340,220". Written only when set, last: the
    // window sets it when the widths differ from what it starts with.
    OptText columns = std::nullopt;
    // "pagelimit=": the most bytes of a page the modern way reads (harvest::page_limit_of);
    // 0 for the default. Written only when set, last, so older files read as the default.
    int32_t pagelimit = 0;

    bool operator==(const Settings&) const = default;
};

// Fills `settings` from the settings file at `path`. Each line counts with its first
// kMaxSettingsLine characters, up to a NUL byte if it has one, and without trailing white space
// (so a CR before the line feed goes); the last line counts without a line feed too. The first
// key, in the reading order, that occurs anywhere in the line decides the setting, and the value
// is the text after the line's first "=". Text settings take the value as it is (empty stays
// empty); numbers are read with base::read_int (out-of-range values clamp to 32 bits, no other
// range check). A "delete=" value that is a plain file name names a file in the downloads
// folder beside `path` that is deleted at once (errors ignored; directories and any other
// value are left alone). Lines without a known key are ignored; of two lines with
// the same key the later wins; keys not in the file keep the value `settings` had.
// A file that cannot be opened sets packcount to 10, changes nothing else and returns false.
[[nodiscard]] bool read_settings(Settings& settings, const std::string& path);

// The bytes write_settings puts in the file: every key in the file's order, numbers as signed
// decimal, text lines only for the texts that are set, "robots=", "modern="
// and "pagelimit=" only when they are not 0.
[[nodiscard]] std::string settings_text(const Settings& settings);

// The widths of a "columns=" value: decimal numbers separated by ",". Empty when the text holds
// anything else, or a width outside 1..kMaxColumnWidth.
inline constexpr int kMaxColumnWidth = 4000;
[[nodiscard]] std::vector<int> read_column_widths(std::string_view text);
[[nodiscard]] std::string column_widths_text(const std::vector<int>& widths);

// Writes the settings file at `path` and returns 1. The bytes go to "<path>.tmp" first, which
// then replaces the file, so a failed write leaves the old file as it was. When that fails,
// `shell` shows "Unable to open file '<file name of path>'" and the result is 0.
[[nodiscard]] int write_settings(const Settings& settings, const std::string& path, platform::Shell& shell);

}  // namespace tarnvelox::app
