#pragma once

// Context: every process-wide value of the program in one object, wired once. It owns the
// settings, the store of the open project, the links and addresses lists, the harvest run state
// and counters, the search texts, the export/import filter, the project's own values, the search
// engines, the connection slot table, the crawl frontier, the status lines and, once a platform
// binding is attached, the harvest run. Both front ends, the tests and the benchmarks build one
// instead of wiring the pieces by hand; a test builds a fresh one, so nothing leaks between
// tests.
//
// The shell is borrowed for the context's whole life; so are the event loop, network and run
// window given to attach(). One thread.

#include <memory>
#include <string>
#include <vector>

#include "app/project.h"
#include "app/run_control.h"
#include "app/settings.h"
#include "base/file_lock.h"
#include "exchange/list_filter.h"
#include "harvest/frontier.h"
#include "harvest/harvest_env.h"
#include "harvest/status_board.h"
#include "net/response.h"
#include "net/slot.h"
#include "platform/event_loop.h"
#include "platform/shell.h"
#include "search/engines.h"
#include "store/item_list.h"
#include "store/store.h"
#include "update/vendor_service.h"
#include "update/vendor_state.h"

namespace tarnvelox::app {

class Context {
  public:
    // Store errors go to `shell.report_error`, like every other error the person must see.
    explicit Context(platform::Shell& shell);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Shell& shell;
    Settings settings;
    store::Store store;
    store::ItemLists lists;
    harvest::RunState run;
    harvest::SearchTexts search;
    exchange::ItemFilter filter;
    ProjectValues values;
    search::Engines engines;
    net::SlotTable slots;
    net::Download download;
    harvest::FrontierState frontier;
    harvest::StatusBoard status{shell, run, settings.packcount};
    // The harvest engine's and the fetch engine's view of the fields above.
    harvest::HarvestEnv harvest{store, lists, run, search, shell, settings.maxlist, status};
    net::NetEnv net{harvest, slots, download};
    // What the update host last said in this run, and the handler of its answers and files
    // (net.vendor points at it); the window sets its view to show boxes and progress.
    update::VendorState vendor;
    update::VendorService vendor_service{
        vendor, {settings.lastwarn, settings.upgrade, settings.upgradenew, settings.news},
        net.folder};
    // The browser programs found on this desktop at start-up (browser::detect_browser), for
    // the Preferences' list; empty until a front end that hands pages to a browser looks.
    std::vector<std::string> browsers;

    // The project file could not be read when it was loaded: the lists stay empty, and nothing
    // saves over the file (its texts would be lost) until the person saves it on purpose.
    bool project_unreadable = false;
    // Another program holds the project (lock_current_project() said InUse): nothing of it is
    // written, neither the project nor the settings.
    bool locked_out = false;

    // Builds the harvest run over a platform binding. Once per context; the run lives as long
    // as the context.
    HarvestRun& attach(platform::EventLoop& loop, platform::Network& network, RunWindow& window);
    // The harvest run, or null before attach().
    [[nodiscard]] HarvestRun* harvest_run() const { return run_.get(); }
    // Where a platform binding delivers its events: to the harvest run once it is attached,
    // nowhere before. Lets the binding be built before the run that needs it.
    [[nodiscard]] platform::EventSink& events() { return relay_; }

    // The project file: the settings' project= when set and not empty, else "default.tvp".
    [[nodiscard]] std::string project_path() const;

    // One writer per project: whoever changes a project's files holds its lock (the file
    // project_lock_name() beside it) from before the first change until it is done with them.
    // Taken again for another project, it lets go of the one before. InUse sets locked_out.
    enum class ProjectLock {
        Locked,    // held by this context now
        InUse,     // another program (a window or a harvester) holds it: touch nothing
        Unlocked,  // no lock can be kept here (a read-only folder): nothing could be written
    };
    [[nodiscard]] ProjectLock lock_current_project();
    // What to tell when lock_current_project() said InUse.
    [[nodiscard]] std::string project_in_use_message() const;

    // Reads the settings file at `path` (missing: the defaults). Something that is not a
    // regular file there (a FIFO, a device) is not read, and the person is told.
    void read_settings_file(const std::string& path);

    // Whether a missing engines file is told: the window needs the engines for its search
    // pages, the harvester works without them.
    enum class EnginesFile { Required, Optional };
    // Start-up before a project loads, as every front end does it: the settings file at
    // `settings_path`, the engine definitions (search::kEnginesFile), the Harvest tab's
    // crawl scope from the settings, and the update host's index file when there is one.
    // What goes wrong is told through the shell.
    void start_up(const std::string& settings_path, EnginesFile engines);
    // The saving at exit: the project file, unless it could not be read or another program
    // holds it, and the settings file at `settings_path`, unless locked out. True when what was
    // due was written (a failure is told through the shell).
    [[nodiscard]] bool shut_down(const std::string& settings_path);

    // Points the store at the project's files and loads the project (both lists, the counters,
    // the tab texts). 1, or 0 when the project file exists but cannot be read (the person is
    // told why). A project file that does not exist yet loads as an empty project, unless its
    // links or addresses file is there (a first run that ended before the project file was
    // written): their records are loaded then, and the result is kLoadedWithoutProjectFile,
    // for the front end to say so (kProjectFileMissingNote). Sets project_unreadable.
    [[nodiscard]] int load_current_project(LoadProgress* progress);
    static constexpr int kLoadedWithoutProjectFile = 2;
    // Opens the project's links and addresses files for the next harvest, so that damage is
    // told when the project is opened rather than at Start. False (the person told why) when
    // they cannot be opened, or one is damaged and can store nothing new.
    [[nodiscard]] bool open_project_files();
    // After a load: opens the project's files as open_project_files() does when that costs
    // about what the load did, so damage is told as the project opens: when the lists hold
    // every record (no display maximum cut them short) or a file is not a regular one. A
    // project larger than the lists is checked at Start, as its files open.
    void check_loaded_project_files();
    // Saves the project file (the store's files are already written as items are stored).
    // A project file written is readable again: clears project_unreadable.
    [[nodiscard]] int save_current_project();
    // Writes the settings file at `path`.
    [[nodiscard]] int save_settings(const std::string& path);

  private:
    // load_current_project() without setting project_unreadable.
    [[nodiscard]] int read_current_project(LoadProgress* progress);

    class EventRelay final : public platform::EventSink {
      public:
        void on_timer(int timer_id) override;
        void on_command(int command_id) override;
        void on_connect_done(int socket, int error) override;
        void on_data_ready(int socket, int error) override;
        void on_lookup_done(int event_id, int error, std::string_view address) override;
        HarvestRun* run = nullptr;
    };

    std::unique_ptr<HarvestRun> run_;
    EventRelay relay_;
    base::FileLock project_lock_;
};

}  // namespace tarnvelox::app
