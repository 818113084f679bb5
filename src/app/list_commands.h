#pragma once

// The commands that work on the rows of the two list views and on the project's lists as a
// whole: deleting the selected rows (Edit "&Delete", the context menus, the Details page),
// "&Delete Links" and "Clear Project". The front end passes the selection and shows what the
// shell reports; the lists, the link tree files and the counters change here. One thread; the
// context and window are borrowed for the call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "app/run_control.h"
#include "store/store.h"

namespace tarnvelox::app {

inline constexpr std::string_view kDeleteLinksQuestion =
    "All the currently displayed links will be deleted. Do you wish to Proceed?";
inline constexpr std::string_view kClearProjectQuestion =
    "The current project and all links will be deleted. Do you wish to Proceed?";

// Deletes the rows of the links view (`which` Links) or the addresses view whose indices are in
// `selected` (any order, duplicates ignored): each record leaves its list and its node is
// deleted from the file; the view hears *_row_removing before the record goes and
// *_row_removed after; modrep becomes 1. While a harvest runs, a link that a connection slot is
// fetching (STATUS_ACTIVE) is skipped: it stays, and stays selected. On return `selected` holds
// the rows still selected, at their new positions. Returns the number of rows deleted; 0 when
// nothing is selected, the store cannot be opened, or the first node delete fails ("Delete
// failed" is reported; rows deleted before a failure stay deleted).
int delete_selected_rows(Context& ctx, store::TreeFile which, std::vector<int32_t>& selected);

// What the front end says of the `kept` rows a delete left because a connection is fetching
// them: "1 row was kept: a connection is fetching it." and so on.
[[nodiscard]] std::string kept_rows_text(std::size_t kept);

// "&Delete Links": after a Yes to kDeleteLinksQuestion, both views are cleared and the links
// list freed, the slots forget their records, the links file is closed and deleted from disk,
// and the addresses come back into their view. The link counters go to 0 with the links.
// Not while a harvest runs (false). True when the links were deleted.
bool delete_links(Context& ctx, RunWindow& window);

// "Clear Project": after a Yes to kClearProjectQuestion, both views and both lists are
// emptied, the slots forget their records, the counters go to 0 and both companion files are
// closed and deleted from disk. The project file stays. Not while a harvest runs (false).
bool clear_project(Context& ctx, RunWindow& window);

// Makes every link of the project unvisited, in the links file as well as in memory, so the
// next harvest fetches each one again ("Reset Link Status" changes the records in memory only).
// Not while a harvest runs. The number of links changed in the file; -1 when it could not be
// opened or written (told through the shell).
int32_t refetch_all_links(Context& ctx);

}  // namespace tarnvelox::app
