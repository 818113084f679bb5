#pragma once

// What the Import dialog offers and what an import reads: the merge rules for addresses already
// in the project, and the import file types in the order of the open dialog's file-type list
// (the position, 1 to 4, chooses the reader). Shared by the core's import and the window.

#include <array>
#include <string_view>

#include "platform/desktop.h"

namespace tarnvelox::exchange {

// Merge modes for imported addresses (imported links are always added when new).
inline constexpr int kMergeAddUnique = 0;       // add new addresses, skip the ones present
inline constexpr int kMergeDeleteDuplicates = 1;  // add new ones, delete the ones present
inline constexpr int kMergeDeleteOnly = 2;      // delete the ones present, add nothing

inline constexpr std::array<std::string_view, 3> kMergeModeButtons = {
    "Add Unique, Skip Duplicates",
    "Add Unique, Delete Duplicates",
    "Delete Duplicates",
};

inline constexpr std::array<std::string_view, 3> kMergeModeHelp = {
    "All unique items from the import file will be added to the current project. Duplicate "
    "items will not be added.",
    "All unique items from the import file will be added to the project. All duplicates items "
    "will not be imported, and will also be deleted from the current project.",
    "All items in the import file that are also present in the current project, will be "
    "removed from the project. New items will not be added.",
};

// Import file types.
inline constexpr int kImportAddressBook = 1;  // anchors stored as addresses
inline constexpr int kImportBookmarks = 2;    // anchors stored as links
inline constexpr int kImportProject = 3;      // another project's links and addresses files
inline constexpr int kImportText = 4;         // any file, every line through the page scanner

// An entry of a file dialog's file-type list: its text and the names it shows.
using FileType = platform::FileType;

inline constexpr std::array<FileType, 4> kImportFileTypes = {{
    {" Netscape Address Book File (*.htm)", "*.htm;*.html"},
    {" Netscape Bookmark File (*.htm)", "*.htm;*.html"},
    {" Tarnvelox Project File (*.lin,*.mai)", "*.lin;*.mai"},
    {" All Files (*.*)", "*.*"},
}};

// The export formats' entries, in the order of the save dialog's list (format 1 to 6).
inline constexpr std::array<FileType, 6> kExportFileTypes = {{
    {" Text Address List (*.txt)", "*.txt"},
    {" Text URL List (*.txt)", "*.txt"},
    {" Netscape Address Book File (*.htm)", "*.htm;*.html"},
    {" Netscape Bookmark File (*.htm)", "*.htm;*.html"},
    {" HTML Address List (*.htm)", "*.htm;*.html"},
    {" HTML URL List (*.htm)", "*.htm;*.html"},
}};

}  // namespace tarnvelox::exchange
