#include "app/project_commands.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "base/file_lock.h"
#include "harvest/list_rows.h"
#include "store/store.h"

namespace tarnvelox::app {

namespace {

namespace fs = std::filesystem;

// The slots let go of the records of lists about to be freed.
void forget_slot_records(Context& ctx) {
    for (net::Slot& s : ctx.slots.slots) {
        s.item.item = nullptr;
        s.item.owned.reset();
    }
}

// Whether `a` and `b` name one file: the same text, or the same file on the disk.
bool same_file(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code missing;
    return fs::equivalent(a, b, missing);
}

// Whether the project at `chosen` keeps its items where the project at `current` does.
bool same_project(const std::string& current, const std::string& chosen) {
    return same_file(current, chosen) ||
           store::companion_base(current) == store::companion_base(chosen) ||
           same_file(store::links_file_name(current), store::links_file_name(chosen)) ||
           same_file(store::addresses_file_name(current), store::addresses_file_name(chosen));
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

// Takes the lock of the project at `path` into `probe` and says whether another program holds
// it. Held in `probe` until the switch, nobody else can take the project in between. The
// current project's own lock counts as free.
bool held_by_another(const Context& ctx, const std::string& path, base::FileLock& probe) {
    const std::string wanted = project_lock_name(path);
    if (same_file(wanted, project_lock_name(ctx.project_path()))) return false;
    return probe.lock(wanted) == base::FileLock::Result::Busy;
}

// Tells, in the words used at start-up, that another program holds the project at `path`.
void tell_in_use(Context& ctx, const std::string& path) {
    OptText current = std::exchange(ctx.settings.project, path);
    ctx.shell.report_error(ctx.project_in_use_message());
    ctx.settings.project = std::move(current);
}

// Makes the project at `path` the current one and loads it, the lists already let go of.
ProjectOutcome load_as_current(Context& ctx, const std::string& path, base::FileLock& probe,
                               LoadProgress* progress) {
    ctx.settings.project = path;
    probe.unlock();  // the context's own lock takes over
    ctx.locked_out = ctx.lock_current_project() == Context::ProjectLock::InUse;
    ctx.settings.modrep = 1;
    ctx.search.starting_url.reset();
    ctx.status.clear();
    ProjectOutcome out{ProjectResult::Opened, ctx.load_current_project(progress)};
    // A project file that could not be read is never saved over: its texts would be lost.
    ctx.project_unreadable = out.loaded == 0;
    if (out.loaded != 0) ctx.check_loaded_project_files();
    harvest::refill_views(ctx.lists, ctx.shell, ctx.settings.maxlist);
    ctx.shell.refresh_status_counters();
    return out;
}

// Empties the views and the lists; the store's files are closed.
void let_go_of_lists(Context& ctx) {
    ctx.shell.views_cleared();
    forget_slot_records(ctx);
    store::close_store(ctx.store);
    // A write failure was told and concerns these files: the next project's files are judged
    // on their own.
    ctx.store.write_failing = false;
    clear_project_state(ctx.lists, ctx.store, ctx.run);
}

platform::FileDialogRequest project_request(std::string_view caption,
                                            platform::FileDialogRequest::Mode mode) {
    platform::FileDialogRequest request;
    request.mode = mode;
    request.caption = std::string(caption);
    request.types = {kProjectFileType};
    return request;
}

// Makes `to` a byte-for-byte copy of `from`, or removes `to` when there is no `from`. False
// (told through the shell) when that failed.
bool copy_companion(Context& ctx, const std::string& from, const std::string& to) {
    std::error_code error;
    if (!exists(from)) {
        if (!exists(to) || fs::remove(to, error)) return true;
    } else if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) {
        return true;
    }
    ctx.shell.report_error("Unable to copy '" + from + "' to '" + to + "': " + error.message() +
                           ". The project stays '" + ctx.project_path() + "'.");
    return false;
}

// Puts every node and every visited mark the store still holds on the disk, so that its files
// can be copied. False (told through the shell) when a write failed.
bool put_store_on_disk(Context& ctx) {
    store::Store& st = ctx.store;
    const bool written = store::put_on_disk(st);
    if (store::writes_failing(st) || !written) {
        ctx.shell.report_error("The project's files could not be written completely, so they "
                               "are not copied. The project stays '" +
                               ctx.project_path() + "'.");
        return false;
    }
    return true;
}

}  // namespace

ProjectOutcome open_project(Context& ctx, platform::Desktop& desktop, OpenKind kind,
                            LoadProgress* progress) {
    if (ctx.run.harvest_running != 0) return {ProjectResult::Running};
    const bool is_new = kind == OpenKind::New;
    platform::FileDialogRequest request =
        project_request(is_new ? kNewProjectCaption : kOpenProjectCaption,
                        platform::FileDialogRequest::Mode::Open);
    // Choosing an existing project for New opens it: no overwrite prompt.
    request.must_exist = !is_new;
    const std::optional<platform::FileDialogAnswer> chosen = desktop.file_dialog(request);
    if (!chosen || chosen->path.empty()) return {ProjectResult::Cancelled};
    // A harvest may have started while the dialog was open.
    if (ctx.run.harvest_running != 0) return {ProjectResult::Running};
    const std::string path = is_new ? with_project_extension(chosen->path) : chosen->path;

    base::FileLock probe;
    if (held_by_another(ctx, path, probe)) {
        tell_in_use(ctx, path);
        return {ProjectResult::InUse};
    }
    // The current project is written with its lists still whole (its COUNT= among them).
    if (!ctx.project_unreadable && !ctx.locked_out) (void)ctx.save_current_project();
    let_go_of_lists(ctx);
    return load_as_current(ctx, path, probe, progress);
}

ProjectOutcome save_project_as(Context& ctx, platform::Desktop& desktop) {
    if (ctx.locked_out) return {ProjectResult::InUse};
    platform::FileDialogRequest request =
        project_request(kSaveProjectCaption, platform::FileDialogRequest::Mode::Save);
    request.overwrite_prompt = true;
    const std::optional<platform::FileDialogAnswer> chosen = desktop.file_dialog(request);
    if (!chosen || chosen->path.empty()) return {ProjectResult::Cancelled};
    const std::string target = with_project_extension(chosen->path);
    const std::string current = ctx.project_path();

    // Copying a file onto itself would empty it: the project's own files are simply saved. The
    // person chose this file to be written, so it is, also when it could not be read.
    if (same_project(current, target)) {
        if (ctx.save_current_project() == 0) return {ProjectResult::Failed};
        ctx.project_unreadable = false;
        return {ProjectResult::Saved};
    }

    struct Companion {
        std::string from;
        std::string to;
    };
    std::vector<Companion> companions = {
        {store::links_file_name(current), store::links_file_name(target)},
        {store::addresses_file_name(current), store::addresses_file_name(target)},
    };
    // The ".lib" companion goes along only when there is one.
    const std::string lib_from = store::companion_base(current) + ".lib";
    if (exists(lib_from)) companions.push_back({lib_from, store::companion_base(target) + ".lib"});

    std::string replaced;
    for (const Companion& c : companions) {
        if (!exists(c.to)) continue;
        replaced += (replaced.empty() ? "'" : ", '") + c.to + "'";
    }
    if (!replaced.empty() &&
        !desktop.confirm(kConfirmCaption, "The files " + replaced +
                                              " already exist and will be replaced by the "
                                              "project's own. Do you wish to Proceed?")) {
        return {ProjectResult::Cancelled};
    }

    base::FileLock probe;
    if (held_by_another(ctx, target, probe)) {
        tell_in_use(ctx, target);
        return {ProjectResult::InUse};
    }
    if (!ctx.project_unreadable) (void)ctx.save_current_project();
    if (!put_store_on_disk(ctx)) return {ProjectResult::Failed};
    for (const Companion& c : companions) {
        if (!copy_companion(ctx, c.from, c.to)) return {ProjectResult::Failed};
    }
    if (save_project(target, ctx.search, ctx.filter, ctx.values, ctx.store, ctx.engines.list,
                     ctx.shell) == 0) {
        return {ProjectResult::Failed};
    }

    // The copies hold every node at the offset the lists and the connection slots know it by:
    // the store carries on in them where it was.
    store::Store& st = ctx.store;
    const bool was_open = st.links.is_open() || st.addresses.is_open();
    const int64_t read_position = st.read_position;
    const int32_t last_read_offset = st.last_read_offset;
    store::set_project_path(st, target);
    ctx.settings.project = target;
    probe.unlock();  // the context's own lock takes over
    ctx.locked_out = ctx.lock_current_project() == Context::ProjectLock::InUse;
    ctx.project_unreadable = false;
    // A file that cannot be opened now was told; the harvest then stops on it as it would on
    // any store failure.
    if (was_open) (void)ctx.open_project_files();
    st.read_position = read_position;
    st.last_read_offset = last_read_offset;
    return {ProjectResult::SavedAs};
}

ProjectOutcome delete_project(Context& ctx, platform::Desktop& desktop, LoadProgress* progress) {
    if (ctx.run.harvest_running != 0) return {ProjectResult::Running};
    if (ctx.locked_out) return {ProjectResult::InUse};
    if (!desktop.confirm(kConfirmCaption, kDeleteProjectQuestion)) {
        return {ProjectResult::Cancelled};
    }
    if (ctx.run.harvest_running != 0) return {ProjectResult::Running};
    const std::string fallback(kDefaultProjectFile);
    base::FileLock probe;
    if (held_by_another(ctx, fallback, probe)) {
        tell_in_use(ctx, fallback);
        return {ProjectResult::InUse};
    }
    const std::string current = ctx.project_path();
    let_go_of_lists(ctx);
    // A file that stays is told: the person would otherwise take the project for gone.
    std::string kept;
    for (const std::string& file :
         {current, store::links_file_name(current), store::addresses_file_name(current)}) {
        std::error_code error;
        if (!fs::remove(file, error) && error) {
            kept += (kept.empty() ? "'" : ", '") + file + "' (" + error.message() + ")";
        }
    }
    if (!kept.empty()) ctx.shell.report_error("Unable to delete " + kept + ".");
    return load_as_current(ctx, fallback, probe, progress);
}

std::string with_project_extension(std::string_view name) {
    const std::size_t name_start = name.find_last_of('/') + 1;  // npos + 1 == 0
    std::string out(name);
    if (name.find('.', name_start) == std::string_view::npos) out += kProjectExtension;
    return out;
}

std::string folder_of(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

}  // namespace tarnvelox::app
