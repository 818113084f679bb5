#include "app/context.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/file_io.h"
#include "update/vendor_index.h"

namespace tarnvelox::app {

Context::Context(platform::Shell& shell_in) : shell(shell_in) {
    store.shell = &shell;
    net.vendor = &vendor_service;
}

Context::~Context() {
    // The run's engine points into the slot table and lists; it goes first.
    relay_.run = nullptr;
    run_.reset();
}

HarvestRun& Context::attach(platform::EventLoop& loop, platform::Network& network,
                            RunWindow& window) {
    if (!run_) run_ = std::make_unique<HarvestRun>(*this, loop, network, window);
    relay_.run = run_.get();
    return *run_;
}

void Context::EventRelay::on_timer(int timer_id) {
    if (run != nullptr) run->on_timer(timer_id);
}
void Context::EventRelay::on_command(int command_id) {
    if (run != nullptr) run->on_command(command_id);
}
void Context::EventRelay::on_connect_done(int socket, int error) {
    if (run != nullptr) run->on_connect_done(socket, error);
}
void Context::EventRelay::on_data_ready(int socket, int error) {
    if (run != nullptr) run->on_data_ready(socket, error);
}
void Context::EventRelay::on_lookup_done(int event_id, int error, std::string_view address) {
    if (run != nullptr) run->on_lookup_done(event_id, error, address);
}

std::string Context::project_path() const {
    if (settings.project && !settings.project->empty()) return *settings.project;
    return std::string(kDefaultProjectFile);
}

Context::ProjectLock Context::lock_current_project() {
    switch (project_lock_.lock(project_lock_name(project_path()))) {
        case base::FileLock::Result::Locked:
            return ProjectLock::Locked;
        case base::FileLock::Result::Busy:
            locked_out = true;
            return ProjectLock::InUse;
        case base::FileLock::Result::Failed:
            break;
    }
    return ProjectLock::Unlocked;
}

std::string Context::project_in_use_message() const {
    return "The project '" + project_path() +
           "' is in use by another Tarnvelox program (a window or tarnvelox-harvest working in "
           "the same folder): it is left untouched.";
}

void Context::read_settings_file(const std::string& path) {
    if (base::is_special_file(path)) {
        shell.report_error("The settings file '" + path +
                           "' is not a regular file and is not read: the default settings are "
                           "used.");
        return;
    }
    (void)read_settings(settings, path);  // missing: the defaults
}

void Context::start_up(const std::string& settings_path, EnginesFile engines_file) {
    read_settings_file(settings_path);
    const std::string engines_path(search::kEnginesFile);
    std::error_code ignored;
    if (engines_file == EnginesFile::Required || std::filesystem::exists(engines_path, ignored)) {
        (void)search::load_engines(engines, engines_path, shell);
    }
    search.crawl_scope = settings.start2;
    // The update host's index as the last download left it; none is no error.
    (void)update::read_vendor_index(net::in_folder(net, net::kIndexFileName), vendor);
}

bool Context::shut_down(const std::string& settings_path) {
    if (locked_out) return true;  // nothing of a project another program holds is written
    // Both are written even when the first fails: each keeps what it can.
    const bool project_saved = project_unreadable || save_current_project() != 0;
    const bool settings_saved = save_settings(settings_path) != 0;
    return project_saved && settings_saved;
}

int Context::load_current_project(LoadProgress* progress) {
    const int loaded = read_current_project(progress);
    project_unreadable = loaded == 0;
    return loaded;
}

int Context::read_current_project(LoadProgress* progress) {
    const std::string path = project_path();
    store::set_project_path(store, path);
    if (base::is_special_file(path)) {
        shell.report_error("The project file '" + path +
                           "' is not a regular file (a folder, a FIFO or a device) and cannot be "
                           "read.");
        return 0;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        clear_project_state(lists, store, run);  // a new project: nothing on disk yet
        // A first run that ended before the project file was written left its links and
        // addresses: they are the project.
        auto holds_records = [](const std::string& file) {
            std::error_code ignored;
            return std::filesystem::is_regular_file(file, ignored) &&
                   std::filesystem::file_size(file, ignored) > 0;
        };
        if (!holds_records(store.links_path) && !holds_records(store.addresses_path)) return 1;
        // Every record is loaded: the filter is the import's, not the project's.
        const exchange::ItemFilter kept = std::exchange(filter, exchange::ItemFilter{});
        (void)load_project(*this, path, true, progress);
        filter = kept;
        take_stored_figures(store::stored_counts(store.links_path),
                            store::stored_counts(store.addresses_path), store, run);
        return kLoadedWithoutProjectFile;
    }
    if (load_project(*this, path, false, progress) == 0) {
        shell.report_error("The project file '" + path +
                           "' cannot be read: the lists stay empty and the file is left as it "
                           "is.");
        return 0;
    }
    return 1;
}

bool Context::open_project_files() {
    if (!store::open_store(store)) {
        const int error = errno;
        const std::string& failed = store.links.is_open() ? store.addresses_path : store.links_path;
        const std::string why = base::is_special_file(failed)
                                    ? "it is not a regular file (a folder, a FIFO or a device)"
                                    : std::strerror(error);
        shell.report_error("The project file '" + failed + "' cannot be opened or created (" + why +
                           "): no harvest can start.");
        return false;
    }
    // Damage was told as the files opened; a Start tells it again, as the reason it refuses.
    const bool damaged = store.links.damaged() || store.addresses.damaged();
    store.damage_told = false;
    return !damaged;
}

void Context::check_loaded_project_files() {
    const bool whole =
        lists.links.size() < settings.maxlist && lists.addresses.size() < settings.maxlist;
    if (whole || base::is_special_file(store.links_path) ||
        base::is_special_file(store.addresses_path)) {
        (void)open_project_files();
    }
}

int Context::save_current_project() {
    const int saved =
        save_project(project_path(), search, filter, values, store, engines.list, shell);
    if (saved != 0) project_unreadable = false;
    return saved;
}

int Context::save_settings(const std::string& path) {
    return write_settings(settings, path, shell);
}

}  // namespace tarnvelox::app
