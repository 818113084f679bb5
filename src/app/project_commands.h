#pragma once

// The File menu's commands on whole projects: Open, New, Save As and Delete. Each asks what it
// needs through the desktop (the file dialog, a Yes/No box), then changes the project in the
// context: which file is current, its lock, the store's files, the lists and the counters. The
// front end commits the visible tab's fields into the context before the call, and afterwards
// shows what the result says (title, tab pages, status line). One thread; the context and the
// desktop are borrowed for the call. The desktop's dialogs run nested event loops, so a harvest
// may go on while they are open; everything is decided again once they return.

#include <string>
#include <string_view>

#include "app/context.h"
#include "app/project.h"
#include "platform/desktop.h"

namespace tarnvelox::app {

inline constexpr std::string_view kOpenProjectCaption = "Open Project";
inline constexpr std::string_view kNewProjectCaption = "New Project";
inline constexpr std::string_view kSaveProjectCaption = "Save Project";
inline constexpr std::string_view kConfirmCaption = "Confirm";
inline constexpr std::string_view kDeleteProjectQuestion =
    "Do you wish to delete the current Project?";
// What a chosen project name without any "." in its file name gets, so that it shows in the
// file dialogs' project list.
inline constexpr std::string_view kProjectExtension = ".tvp";
// The project file dialogs' one file type.
inline constexpr platform::FileType kProjectFileType = {" Tarnvelox Project File (*.tvp)",
                                                        "*.tvp"};

enum class ProjectResult {
    Cancelled,  // no file was chosen, or No was answered: nothing changed
    Running,    // refused while a harvest runs: nothing changed
    InUse,      // another program holds the project concerned (told): nothing changed
    Failed,     // told through the shell; the current project is still the one it was
    Opened,     // a project was loaded and is the current one (Open, New, after Delete)
    Saved,      // Save As chose the current project's own files: it was saved in place
    SavedAs,    // the project was copied to the chosen name and is that project now
};

struct ProjectOutcome {
    ProjectResult result = ProjectResult::Cancelled;
    // With Opened: what Context::load_current_project returned (0: the project file could not
    // be read, and ctx.project_unreadable is set; Context::kLoadedWithoutProjectFile: say so).
    int loaded = 0;
};

enum class OpenKind {
    Open,  // an existing project
    New,   // a new name; an existing project chosen is simply opened
};

// Open or New. Not while a harvest runs. Asks for the file first (Open: it must exist); then
// refuses a project another program holds, saves the current project (unless it could not be
// read, or this program was locked out of it), empties the views and lists, and loads the chosen
// one as the current project: its lock taken (the previous one let go), settings.project and
// modrep=1 set, the starting URL and the slots' status lines reset, the views refilled and the
// counters shown. `progress` (may be null) hears the counters while the project loads. A New
// name without any "." in its file name gets kProjectExtension.
[[nodiscard]] ProjectOutcome open_project(Context& ctx, platform::Desktop& desktop, OpenKind kind,
                                          LoadProgress* progress);

// Save As, also while a harvest runs. Asks for the file (with the overwrite prompt); a name
// without any "." in its file name gets kProjectExtension. A name that is the current project
// file, or whose links and addresses files are the current project's, gives a Save of the
// current project. Otherwise the links and addresses files of the new name that exist are
// named in a Confirm box and replaced only after a Yes; a project another program holds is
// refused. Then what the store holds is put on the disk, the current project file is saved
// (unless it could not be read), the links and addresses files are copied byte for byte (a
// companion the current project lacks is removed under the new name), the ".lib" companion is
// copied when there is one, and the new project file is written. Only when all of that worked
// does the new name become the current project: its lock, settings.project, and the store
// pointed at the copies (opened again when they were open, the crawl's read position kept), so
// every record of the lists keeps its file offset and the rest of a running harvest lands in
// the new project. A copy or write that fails is told and leaves the current project as it was.
[[nodiscard]] ProjectOutcome save_project_as(Context& ctx, platform::Desktop& desktop);

// Delete. Not while a harvest runs, nor by a program locked out of the project. After a Yes to
// kDeleteProjectQuestion the views and lists are emptied and the project file, its links file
// and its addresses file are deleted (one that cannot be is told); then "default.tvp" is
// opened as open_project() opens a project (the store points at its files, its values and
// title come back). Refused (nothing deleted) when another program holds "default.tvp".
[[nodiscard]] ProjectOutcome delete_project(Context& ctx, platform::Desktop& desktop,
                                            LoadProgress* progress);

// `name` with kProjectExtension added when its file name (after the last "/") holds no ".".
[[nodiscard]] std::string with_project_extension(std::string_view name);

// The folder of the file at `path`: the text before its last "/" ("/" for a file in the root),
// or empty (the current folder) when it has none. What LAST_EXPORT and LAST_IMPORT keep.
[[nodiscard]] std::string folder_of(std::string_view path);

}  // namespace tarnvelox::app
