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

#include "app/settings.h"
#include "harvest/frontier.h"
#include "harvest/harvest_state.h"
#include "net/fetch_engine.h"
#include "net/response.h"
#include "platform/event_loop.h"

namespace tarnvelox::app {

// Command ids run control answers to.
inline constexpr int kStartCommand = 1255;        // Start (Status while running)
inline constexpr int kCancelCommand = 1262;
inline constexpr int kResetLinkStatusCommand = 1440;
inline constexpr int kTransferEndedCommand = 1101;  // posted to the vendor dialogs by stop_all

inline constexpr std::size_t kMaxStatusLine = 80;  // a status line, its leading blank included
inline constexpr int kActivityWidth = 19;          // the activity marker's field
inline constexpr char kActivityMarker = 127;

inline constexpr std::string_view kStartingUrlTitle = "Starting URL";
inline constexpr std::string_view kStartingUrlSource = "******";
inline constexpr std::string_view kResetQuestion =
    "The status of the currently displayed links will be reset. Do you wish to Proceed?";

// The four figures of the Status dialog.
struct StatusCounters {
    int32_t visited = 0;  // "Visited Links:"
    int32_t pending = 0;  // "Pending Links:": links stored less links handed out, at least 0
    int32_t bad = 0;      // "Bad Links:"
    int64_t bytes = 0;    // "Total Bytes:"
};

// The parts of the main window run control switches, beyond what Shell shows.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    // Buttons and menu items for the running or the idle state; `views_enabled` is false when
    // the display maximum (maxlist) is 0.
    virtual void enable_controls(bool /*running*/, bool /*views_enabled*/) {}
    virtual void busy_cursor(bool /*busy*/) {}
    // A Confirm box (question icon, Yes and No): true only for Yes.
    virtual bool confirm(std::string_view /*question*/) { return true; }
    // Both list views lose every row (they are rebuilt through Shell afterwards).
    virtual void clear_views() {}
    // The version-check dialog: whether it is open, and its two version fields' text.
    virtual bool version_dialog_open() { return false; }
    virtual void show_activity(std::string_view /*text*/) {}
    // Posts command 1101 to the version-check dialog and the upgrade wizard when open.
    virtual void post_transfer_ended() {}

    // The Status dialog (modal; the harvest goes on while it is open). On opening it shows the
    // stored line of every slot (HarvestRun::slot_line) in a disabled control and the counters
    // (HarvestRun::status_counters).
    virtual bool status_dialog_open() { return false; }
    virtual void open_status_dialog() {}
    // A slot's new line while the dialog is open; its control is enabled from now on.
    virtual void show_status_line(int /*slot*/, std::string_view /*text*/) {}
    virtual void show_status_counters(const StatusCounters& /*counters*/) {}
    // "Total Bytes:" alone, written as each chunk arrives.
    virtual void show_total_bytes(int64_t /*bytes*/) {}
};

// Turns the ticked search engines into pending links (seeding step for the search tabs).
class QuerySeeder {
public:
    virtual ~QuerySeeder() = default;
    virtual void queue_queries(harvest::HarvestEnv& env) = 0;
};

class HarvestRun : public platform::EventSink,
                   public net::RunHooks,
                   public harvest::StatusLines {
public:
    // The engine is built here with settings.packcount slots and `options`.
    HarvestRun(net::NetEnv& net, harvest::FrontierState& frontier, platform::EventLoop& loop,
               platform::Network& network, Settings& settings, net::RequestOptions options,
               RunWindow& window);
    ~HarvestRun() override;
    HarvestRun(const HarvestRun&) = delete;
    HarvestRun& operator=(const HarvestRun&) = delete;

    void set_query_seeder(QuerySeeder* seeder) { seeder_ = seeder; }
    [[nodiscard]] net::FetchEngine& engine() { return *engine_; }

    // Start with `visible_tab` (a SearchMode) showing; the tab's fields are already in
    // SearchTexts. 1 when the run started, 0 when it was already running or sockets failed.
    int start_harvest(int32_t visible_tab);
    void cancel_harvest();
    void stop_all() override;
    void open_single_page() override {}
    void reset_link_status();
    // One blank and `message`, at most kMaxStatusLine characters, on slot `slot` (0..19) or on
    // every slot in use (-1). Nothing in vendor modes or for other slot numbers.
    void set_slot_status(int slot, std::string_view message) override;
    // The counters into the Status dialog when it is open, and the shell's counters.
    void update_status_counters();
    [[nodiscard]] StatusCounters status_counters() const;
    void show_total_bytes(int64_t bytes) override;
    void kill_harvest_timers();
    void enable_controls(bool running);

    // The last status line of slot `slot` (empty when none).
    [[nodiscard]] const std::string& slot_line(int slot) const;
    [[nodiscard]] bool running() const { return env_.run.harvest_running != 0; }

    // ---- EventSink ----------------------------------------------------------------------
    void on_timer(int timer_id) override;
    void on_command(int command_id) override;
    void on_connect_done(int socket, int error) override;
    void on_data_ready(int socket, int error) override;
    void on_lookup_done(int event_id, int error, std::string_view address) override;

private:
    void seed();
    void activity_tick();

    harvest::HarvestEnv& env_;
    net::NetEnv& net_;
    harvest::FrontierState& frontier_;
    platform::EventLoop& loop_;
    Settings& settings_;
    RunWindow& window_;
    QuerySeeder* seeder_ = nullptr;
    std::unique_ptr<net::FetchEngine> engine_;
    std::array<std::string, net::kMaxSlots> lines_;
    bool harvest_timer_ = false;
    bool activity_timer_ = false;
    int activity_pos_ = 0;
    int activity_dir_ = 1;
};

}  // namespace tarnvelox::app
