#pragma once

// The export file writer: the project's addresses or links written to a file in one of six
// formats (two plain text lists, an address book, a bookmark file and two HTML lists). The
// Export dialog chooses the path, the format, the filter texts and the selected rows, and calls
// export_items; the headless harvester calls it directly. Everything passed in is borrowed for
// the duration of the call only.

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/list_filter.h"
#include "store/item_record.h"

namespace tarnvelox::platform {
class Shell;
}
namespace tarnvelox::store {
struct Store;
}

namespace tarnvelox::exchange {

// Format numbers, in the order of the save dialog's file-type list.
inline constexpr int kFormatTextAddresses = 1;  // one bare address per line
inline constexpr int kFormatTextUrls = 2;       // one URL per line
inline constexpr int kFormatAddressBook = 3;    // address-book HTML
inline constexpr int kFormatBookmarks = 4;      // bookmark HTML
inline constexpr int kFormatHtmlAddresses = 5;  // plain HTML list of "mailto:" anchors
inline constexpr int kFormatHtmlUrls = 6;       // plain HTML list of links

// Every line written (header lines included) is formatted in a buffer of 3095 bytes and cut
// there, which leaves room for 3094 characters and the terminator; an item line that is cut
// loses its line feed with the rest. Item texts can be as long as a stored record line (2047
// characters) and grow up to six times by escaping, so the cap is reachable.
inline constexpr std::size_t kMaxExportLine = 3094;

inline constexpr int kExportKeepAliveStep = 4096;

// The link text of an address-book line is cut to this many characters (before escaping).
inline constexpr std::size_t kAddressBookTextWidth = 45;

inline constexpr std::string_view kStoreOpenFailedMessage = "Unable to open Project File(s)";
inline constexpr std::string_view kExportOpenFailedMessage = "Unable to open export file";
// The start of the message for an export that could not be written whole (a full disk); the
// file's name and the system's reason follow. The previous file at that place stays.
inline constexpr std::string_view kExportWriteFailedMessage = "Unable to write the export file";

// Which list a format writes: addresses for 1, 3 and 5, links for 2, 4 and 6. `format` must be
// 1 to 6.
[[nodiscard]] exchange::ListKind export_list_kind(int format);

// Writes the export file at `path` in format 1 to 6 and returns 1; returns 0 when `format` is
// out of range (nothing is opened or reported), when the store cannot be opened ("Unable to
// open Project File(s)") or when the file cannot be created ("Unable to open export file"); both
// messages go to shell.report_error, and an existing file at `path` is replaced.
//
// Items: with `selected` null, every live record of the format's link tree file in stored order
// (read through read_next_link from position 0, so records the in-memory lists no longer hold
// are written too); otherwise exactly the records in `selected`, in that order (the selected
// rows of the format's view). Each item that fails passes_item_filter with `filter` is left out.
// Texts end at their first NUL byte; an absent text is written as empty. In the four HTML
// formats the characters & < > " of item texts are written as entities. `now` is the local time
// put into the "(Created ...)" lines of the HTML list headers, year as its last two digits.
// `keep_alive` (when set) is called after every kExportKeepAliveStep items: a window repaints
// there while a long export runs.
[[nodiscard]] int export_items(int format, const std::string& path,
                               const std::vector<const store::ItemRecord*>* selected,
                               const exchange::ItemFilter& filter, store::Store& store,
                               platform::Shell& shell, const std::tm& now,
                               const std::function<void()>& keep_alive = {});

}  // namespace tarnvelox::exchange
