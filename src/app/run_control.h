#pragma once

// Harvest run control: everything around a harvest run, from Start to the moment every
// connection slot has stopped ("Hunt Complete" or Cancel). It commits nothing itself (the front
// end puts the visible tab's fields into SearchTexts before Start), seeds the links file with the
// starting link, creates and kills the harvest and activity timers, routes every event of the
// main window to the fetch engine, keeps the per-slot status lines and owns the common stop.
//
// HarvestRun owns the fetch engine it drives (the engine calls back into it through RunHooks).
// What the front end must do beyond the Shell (buttons, cursor, dialogs) comes through
// RunWindow; its defaults do nothing, so a headless front end overrides only what it shows.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/command_ids.h"
#include "app/run_outcome.h"
#include "app/settings.h"
#include "harvest/frontier.h"
#include "harvest/harvest_env.h"
#include "net/fetch_engine.h"
#include "net/response.h"
#include "platform/event_loop.h"
#include "update/vendor_requests.h"

namespace tarnvelox::app {

inline constexpr int kActivityWidth = 19;          // the activity marker's field
inline constexpr char kActivityMarker = 127;

inline constexpr std::string_view kStartingUrlTitle = "Starting URL";
inline constexpr std::string_view kStartingUrlSource = "******";
inline constexpr std::string_view kResetQuestion =
    "The status of the currently displayed links will be reset. Do you wish to Proceed?";

// The four figures of the Status dialog.
struct StatusCounters {
    int32_t visited = 0;  // "Visited Links:"
    int32_t pending = 0;  // "Pending Links:": the links file's links not yet visited
    int32_t bad = 0;      // "Bad Links:"
    int64_t bytes = 0;    // "Total Bytes:"
};

// The parts of the main window run control switches, beyond what Shell shows. Every front end
// implements all of it; NullRunWindow is the one for a front end without a window.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    // Buttons and menu items for the running or the idle state; `views_enabled` is false when
    // the display maximum (maxlist) is 0.
    virtual void enable_controls(bool running, bool views_enabled) = 0;
    virtual void busy_cursor(bool busy) = 0;
    // A Confirm box (question icon, Yes and No): true only for Yes.
    virtual bool confirm(std::string_view question) = 0;
    // The version-check dialog: whether it is open, and its two version fields' text.
    virtual bool version_dialog_open() = 0;
    virtual void show_activity(std::string_view text) = 0;
    // Posts command 1101 to the version-check dialog and the upgrade wizard when open.
    virtual void post_transfer_ended() = 0;
    // Opens the Status dialog (modal; the harvest goes on while it is open). It shows the
    // stored line of every slot (StatusBoard::line) in a disabled control and the counters
    // (HarvestRun::status_counters); new lines and counters reach it through the Shell.
    virtual void open_status_dialog() = 0;
    // Hands `url` (an absolute "file://" URL of a page the run saved) to the browser.
    virtual void open_page(const std::string& url) = 0;
};

// No window: nothing is shown, and every confirmation is answered No.
class NullRunWindow : public RunWindow {
public:
    void enable_controls(bool, bool) override {}
    void busy_cursor(bool) override {}
    bool confirm(std::string_view) override { return false; }
    bool version_dialog_open() override { return false; }
    void show_activity(std::string_view) override {}
    void post_transfer_ended() override {}
    void open_status_dialog() override {}
    void open_page(const std::string&) override {}
};

class Context;
class SinglePageRequest;
class VerifyRequest;

class HarvestRun : public platform::EventSink, public net::RunHooks {
public:
    // Borrows the context (built by Context::attach). The connection count, proxy, port, cache
    // flag, the way pages are read and the person's name are read from the context at every
    // Start, so a change made between runs reaches the next run.
    HarvestRun(Context& ctx, platform::EventLoop& loop, platform::Network& network,
               RunWindow& window);
    ~HarvestRun() override;
    HarvestRun(const HarvestRun&) = delete;
    HarvestRun& operator=(const HarvestRun&) = delete;

    [[nodiscard]] net::FetchEngine& engine() { return *engine_; }

    // Start with `visible_tab` (a SearchMode) showing; the tab's fields are already in
    // SearchTexts. 1 when the run started, 0 when it was already running or sockets failed.
    // A run started from a search tab fetches the queries it seeds and what they find, and
    // leaves the links an earlier harvest left unvisited for the next one.
    [[nodiscard]] int start_harvest(int32_t visible_tab);
    // What a person must give before Start on `visible_tab` has anything to fetch: empty when
    // it has. A search tab needs its text and a ticked engine of its kind; the other tabs need
    // a starting URL, crawl keywords to query the web search engines with, or links of the
    // project not yet visited.
    [[nodiscard]] std::string missing_for_start(int32_t visible_tab);
    // The ">>" of an engine row: fetches the request URL of `engine` (a record of the engines
    // list) alone, saves the answer as the data folder's page.htm and, once every connection
    // is idle, hands that file to the browser (RunWindow::open_page). The name placeholders
    // are filled with the person's name, "$QUERY" is not. Nothing is seeded. `visible_tab` is
    // the tab the run counts as started from. 1 when the fetch started; 0 when a harvest runs
    // or it could not start.
    [[nodiscard]] int fetch_single_page(const store::ItemRecord& engine, int32_t visible_tab);
    // Verify for a link: fetches `rec` (a record of the links list) again now, alone, and
    // stores its new state; the run ends with a line saying that state (verify_text). 1 when
    // the fetch started; 0 when a harvest runs or the files cannot take it.
    [[nodiscard]] int verify_link(const store::ItemRecord& rec);
    // Whether the run now is a Verify, and what the last run that was one found (empty
    // after any other Start).
    [[nodiscard]] bool verifying() const { return verify_ != nullptr; }
    [[nodiscard]] const std::string& verify_text() const { return verify_text_; }
    void cancel_harvest();

    // ---- The update host (the window's runs only) ---------------------------------------
    // Whether a harvest asks the update host for the version check before its first link,
    // once per program run. Off by default: the headless harvester never asks it.
    void set_vendor_checks(bool on) { vendor_checks_ = on; }
    // The version-check dialog's check: engine mode 1, the counters reset, the harvest tick
    // and the activity marquee running, slot 0 driven. A Cancel of an earlier harvest does
    // not hold it back. 1 when the transfer started (the results come with
    // post_transfer_ended), 0 when a run is going on or the sockets cannot start (the
    // "Connect Error" box is the caller's).
    [[nodiscard]] int start_version_check();
    // The upgrade wizard's download of `setup_url` (an https URL) into the data folder's
    // downloads/, or with an empty URL the index file: engine mode 2. The setting delete=
    // becomes the file's name. 1 when the transfer started, 0 when a run is going on, the
    // URL is refused or the sockets cannot start.
    [[nodiscard]] int start_vendor_download(const std::string& setup_url);
    // The settings changed in the Preferences, maybe during a run: the connection count, the
    // proxy, its port and the cache flag act at once (fetches under way keep the options they
    // began with), the tick's period at the next Start. Every slot at or past the connection
    // count is closed as a Cancel closes it, its line blanked, and its link given back: not
    // visited in memory, still unvisited in the links file, and fetched again by the slots
    // that remain.
    void apply_settings();
    void stop_all() override;
    void open_single_page() override;
    void reset_link_status();
    // `message` on slot `slot`'s status line (0..19) or on every slot in use (-1), through the
    // context's StatusBoard.
    void set_slot_status(int slot, std::string_view message);
    // The shell shows the counters again (status bar, and the Status dialog when open).
    void update_status_counters();
    [[nodiscard]] StatusCounters status_counters() const;
    void show_total_bytes(int64_t bytes) override;
    void kill_harvest_timers();
    void enable_controls(bool running);

    // The last status line of slot `slot` (empty when none).
    [[nodiscard]] const std::string& slot_line(int slot) const;
    [[nodiscard]] bool running() const;
    // What the last run came to, judged when it ended (empty before the first run ends).
    [[nodiscard]] const RunOutcome& outcome() const { return outcome_; }

    // ---- EventSink ----------------------------------------------------------------------
    void on_timer(int timer_id) override;
    void on_command(int command_id) override;
    void on_connect_done(int socket, int error) override;
    void on_data_ready(int socket, int error) override;
    void on_lookup_done(int event_id, int error, std::string_view address) override;

private:
    void configure_engine();
    // Starts a transfer with the update host alone in engine mode `mode`.
    [[nodiscard]] int start_vendor_transfer(int32_t mode, int32_t period_ms);
    // Slot `slot` lets go of its record, its fetch closed. `cut_short`: the fetch did not end,
    // so the record is offered again (its visited mark in memory goes too).
    void release_slot(int slot, bool cut_short);
    // Opens the project's files: false (after telling the person) when they cannot be opened
    // or one of them is damaged and can store nothing new.
    [[nodiscard]] bool store_can_store();
    void seed();
    void activity_tick();
    // The link of slot `slot` got no connection: it counts as a bad link of the run and shows
    // so in its row, while the links file keeps it unvisited for the next run.
    void mark_unreached(int slot);
    void link_unanswered(int slot) override;
    void judge_outcome();

    Context& ctx_;
    harvest::HarvestEnv& env_;
    net::NetEnv& net_;
    platform::EventLoop& loop_;
    RunWindow& window_;
    std::unique_ptr<net::FetchEngine> engine_;
    bool harvest_timer_ = false;
    bool activity_timer_ = false;
    int activity_pos_ = 0;
    int activity_dir_ = 1;
    RunStart run_start_;
    int64_t marked_unreached_ = 0;  // links of this run mark_unreached counted
    RunOutcome outcome_;
    std::unique_ptr<VerifyRequest> verify_;  // the link a Verify fetches, during that run
    std::unique_ptr<VerifyRequest> verified_;  // the last one, after its run
    std::string verify_text_;
    // The page a ">>" fetches, from its Start until the next; the engine may hold it past
    // the run's end.
    std::unique_ptr<SinglePageRequest> single_page_;
    // The requests to the update host, set on the engine for runs that may ask it.
    std::unique_ptr<update::VendorRequests> vendor_;
    bool vendor_checks_ = false;
    bool vendor_set_ = false;  // the engine serves vendor_ in this run
};

}  // namespace tarnvelox::app
