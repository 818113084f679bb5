#pragma once

// The fetch engine: drives the connection slots through their states (idle, looking up,
// connecting, sending, receiving) one event at a time. Every step is started by an event that
// run control routes here: the harvest tick, a look-up completion, a connect completion, data
// ready to read, or the engine's own posted "drive this slot again" command. Nothing blocks.
//
// Speed: the end of a response is handled in the data-ready event in which the server's close
// is read, and a slot that becomes idle after a response is driven again through a posted
// command (not by recursion), so it takes its next link at once instead of at the next tick.
// The tick remains for retries, aborts and the completion check.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "harvest/frontier.h"
#include "net/download.h"
#include "net/politeness.h"
#include "net/request.h"
#include "net/response.h"
#include "net/slot.h"
#include "platform/event_loop.h"

namespace tarnvelox::net {

// Look-up completion event ids, by slot.
inline constexpr std::array<int, kMaxSlots> kLookupEventIds{
    1332, 1333, 1334, 1335, 1336, 1337, 1341, 1342, 1343, 1344,
    1345, 1346, 1348, 1349, 1350, 1351, 1352, 1353, 1354, 1355};

// Posted command ids that drive a slot again: kDriveSlotCommand + slot.
inline constexpr int kDriveSlotCommand = 32512;

inline constexpr int32_t kMaxNesting = 20;    // drive_slot re-entering itself
inline constexpr int32_t kRetryTicks = 10;    // ticks without progress before a retry
inline constexpr int32_t kAbortTicks = 20;    // more ticks than this: the fetch is given up
// One response may take at most this many abort times in all, however steadily its bytes
// trickle in (each byte restarts the retry and abort count), and never more than
// kMaxResponseMs: a server sending a byte a second would otherwise hold a slot for good.
inline constexpr int32_t kResponseAbortTimes = 10;
inline constexpr int32_t kMaxResponseMs = 5 * 60 * 1000;

// The ticks a response may take in all, for a harvest tick of `timeout_ms`. Never less than the
// abort time, so that a silent server still gets its retry and abort first: with ticks longer
// than about 14 s the deadline is the abort time, past five minutes.
[[nodiscard]] constexpr int32_t response_deadline_ticks(int32_t timeout_ms) {
    const int32_t by_abort = kResponseAbortTimes * (kAbortTicks + 1);
    const int32_t by_clock = timeout_ms > 0 ? kMaxResponseMs / timeout_ms : by_abort;
    const int32_t ticks = by_clock < by_abort ? by_clock : by_abort;
    return ticks > kAbortTicks + 1 ? ticks : kAbortTicks + 1;
}
inline constexpr std::size_t kMaxTitle = 50;  // an item's title is cut to this when fetched
// A host name whose look-up failed is not looked up again for this long (rounded down to whole
// ticks, at least one): pages link the same dead host over and over, and every look-up of it
// costs a resolver round trip that finds nothing new.
inline constexpr int32_t kDeadHostMs = 60 * 1000;

// The modern way keeps connections open for the next link of the same host (and port and
// scheme). An idle one is closed after this long: servers close theirs after 5 to 75 seconds,
// and one closed under us costs a request sent for nothing (and its retry).
inline constexpr int32_t kIdleKeepMs = 15 * 1000;
// The decoded pages the slots hold in all, the modern way: a slot's page may grow past the
// classic cut only while the slots together hold less (or while it is the only large one:
// the budget is never below one page limit). The memory of a run stays bounded whatever
// twenty servers send; a page that meets the budget is cut there, as at its limit.
inline constexpr int64_t kPagesBudget = 64 * 1024 * 1024;

// What run control owns and the engine calls.
// The line shown on every connection when a harvest stops because its files cannot be written.
inline constexpr std::string_view kWriteFailedStatus =
    "Stopped: the project files cannot be written";

class RunHooks {
public:
    virtual ~RunHooks() = default;
    // Ends the harvest run (or vendor transfer): closes the slots, kills the timers.
    virtual void stop_all() = 0;
    // Opens the saved single page ("page.htm") in the browser.
    virtual void open_single_page() = 0;
    // The byte counter grew: the Status dialog shows it at once when open.
    virtual void show_total_bytes(int64_t /*bytes*/) {}
    // The link `slot` holds got no whole answer (the connection closed or failed before any
    // byte, or the body ended short of its length): it stays unvisited for a later run. Called
    // while the slot still holds the link; never for a robots.txt.
    virtual void link_unanswered(int /*slot*/) {}
};

class FetchEngine : public SocketCloser {
public:
    // `packcount` slots are used (1..20; out-of-range values give the default 10). When
    // `env.sockets` is null the engine becomes the closer of slot sockets.
    FetchEngine(NetEnv& env, harvest::FrontierState& frontier, platform::EventLoop& loop,
                platform::Network& network, RequestOptions options, std::string person_name,
                int32_t packcount, RunHooks& hooks);
    ~FetchEngine() override;
    FetchEngine(const FetchEngine&) = delete;
    FetchEngine& operator=(const FetchEngine&) = delete;

    // Takes the values a run is made with: read at every Start, so that a change made between
    // runs (Preferences, the Name Search tab) reaches the next run. Only while no slot is busy.
    // `timeout_ms` is the harvest tick's period, for the response deadline.
    void configure(RequestOptions options, std::string person_name, int32_t packcount,
                   int32_t timeout_ms);

    // Changes made while a run goes on (the Preferences). New request options reach the
    // fetches that begin after the call; a fetch under way keeps the options it began with.
    void set_request_options(RequestOptions options) { options_ = std::move(options); }
    // A new connection count (out-of-range values give the default 10); the number of slots in
    // use afterwards. Slots added by a higher count take links from the next tick on. Slots at
    // or past a lower count answer no later event and are not driven again: the caller closes
    // each with drop_slot and gives back the record it held.
    int set_packcount(int32_t packcount);

    // "Obey robots.txt" for the run about to start: on, every site's robots.txt is read before
    // its pages and its rules and waits are kept (politeness.h); off, links go as they come.
    // Forgets the sites of an earlier run. Only while no slot is busy, after configure().
    void set_robots(bool obey);
    // The run stops: links held for their site go back as stored.
    void release_held() { politeness_.release_all(); }

    // Requests served before any link (single page, vendor); null for none.
    void set_special_requests(harvest::SpecialRequests* special) { special_ = special; }

    // Makes the socket layer ready: 1, or 0 after telling the person.
    [[nodiscard]] int start_sockets();
    // One step of slot `slot`'s state machine. Always 1.
    int drive_slot(int slot);

    void on_lookup_done(int event_id, int error, std::string_view address);
    void on_connect_done(int socket, int error);
    void on_data_ready(int socket, int error);
    void on_tick();
    // Closes slot `slot` for good in this run: politeness forgets its fetch, its socket is
    // closed and it becomes idle with its response freed. Its record stays in the slot.
    void drop_slot(int slot);
    // Whether slot `slot` is fetching a robots.txt (a request that is no link of the project).
    [[nodiscard]] bool slot_fetches_robots(int slot) const { return fetching_robots(slot); }

    // A posted command: true when it was one of the engine's (and it has been handled).
    bool on_command(int command_id);

    // Socket-layer end at program exit: every socket closed, every buffer freed.
    void shutdown();
    // Closes the connections kept open for later requests (the modern way). At a run's end.
    void close_idle_connections();
    // Connections kept open and idle now.
    [[nodiscard]] std::size_t idle_connections() const { return idle_.size(); }

    void close_socket(int socket) override;

    [[nodiscard]] int packcount() const { return packcount_; }
    // The slot a look-up event id belongs to, or -1.
    [[nodiscard]] static int lookup_slot(int event_id);

private:
    void status(int slot, std::string_view text);
    void drive_idle(int slot);
    void start_lookup(int slot);
    // The slot's host name did not resolve: its link fails, and the slot takes its next one.
    void host_not_found(int slot);
    // Whether `item`'s host is a name that did not resolve a short while ago (kDeadHostMs).
    [[nodiscard]] bool host_known_dead(const store::ItemRecord* item) const;
    void connect(int slot);
    void send_request(int slot);
    void secure_connect_failed(int slot);
    void receive(int slot);
    void end_of_response(int slot);
    // Hands a response that ended to response handling, unless its body came short of the
    // length its header announced (a server that stalled or reset mid-body): then nothing of it
    // is read, and the link is left unvisited in the links file for a later run.
    void finish_response(int slot);
    void completion_check();
    // The modern way (harvest::RunState::modern_reader): the request of `item` goes as
    // HTTP/1.1 over a connection that may be kept. Never for the vendor's requests, a download
    // or a form.
    [[nodiscard]] bool goes_modern(int slot) const;
    // The run reads the modern way and `item` is one of its pages (no vendor request, no
    // download): whether its request may go as HTTP/1.1, before the request is built.
    [[nodiscard]] bool modern_run_for(const store::ItemRecord* item) const;
    // Where a connection of `slot`'s link goes: host (or proxy), port and scheme.
    [[nodiscard]] std::string connection_key(int slot) const;
    // Takes an idle kept connection to the slot's host into the slot; false when there is
    // none that is still open and quiet.
    bool take_kept_connection(int slot);
    // Keeps the slot's connection for a later request, or closes it when the pool is full.
    void keep_connection(int slot);
    // A kept idle connection that becomes readable was closed by its server, or sends what
    // nobody asked for: it is closed. False when `socket` is not a kept one.
    bool drop_idle_connection(int socket);
    void receive_modern(int slot);
    // The modern response ended: `clean` when the last read took no byte beyond it, `stalled`
    // when the abort tick ended it, `read_failed` when a read error did.
    void end_modern(int slot, bool clean, bool stalled, bool read_failed);
    // A kept connection closed before it answered: the request goes again, once, on a fresh one.
    void retry_on_fresh_connection(int slot);
    // The decoded body bytes the slot's page may hold now (its limit, within kPagesBudget).
    [[nodiscard]] int64_t body_room(int slot) const;
    // Whether `slot` fetches a robots.txt: its response is capped differently, and one that
    // does not end cleanly (an abort, a read error) fails instead of being read.
    [[nodiscard]] bool fetching_robots(int slot) const;
    void post_drive(int slot);
    // Stops the run when the project files can no longer be written. True when it stopped.
    bool stop_if_unwritable();
    // A slot's response was handled: drive it again, and the slots that starved for links
    // when the response brought new ones.
    void after_response(int slot);
    [[nodiscard]] int slot_of_socket(int socket) const;
    [[nodiscard]] Slot& slot_at(int slot) { return env_.slots.slots[static_cast<std::size_t>(slot)]; }
    [[nodiscard]] const Slot& slot_at_const(int slot) const {
        return env_.slots.slots[static_cast<std::size_t>(slot)];
    }
    [[nodiscard]] const RequestOptions& options_of(int slot) const {
        return slot_options_[static_cast<std::size_t>(slot)];
    }

    NetEnv& env_;
    harvest::FrontierState& frontier_;
    platform::EventLoop& loop_;
    platform::Network& network_;
    RequestOptions options_;
    // The options each slot's fetch began with: taken from options_ when the slot gets its
    // link, so that a change in the middle of a fetch cannot send its request elsewhere.
    std::array<RequestOptions, kMaxSlots> slot_options_{};
    std::string person_name_;
    int packcount_;
    int32_t tick_ms_ = 4000;  // the harvest tick's period
    int32_t deadline_ticks_ = response_deadline_ticks(4000);
    RunHooks& hooks_;
    Politeness politeness_{env_, frontier_};
    harvest::SpecialRequests* special_ = nullptr;
    std::array<bool, kMaxSlots> drive_posted_{};
    std::array<bool, kMaxSlots> starved_{};  // idle because the frontier had nothing
    int32_t links_when_starved_ = 0;         // links stored when a slot last starved
    std::array<char, kReadChunk + 2> chunk_{};
    int64_t ticks_ = 0;  // harvest ticks since the engine was made
    // Host names that did not resolve, each with the tick from which it is looked up again.
    // Forgotten at every configure (a new run).
    std::unordered_map<std::string, int64_t> dead_hosts_;
    // Connections kept open after a modern response, oldest first, each with its key and the
    // tick it became idle.
    struct IdleConnection {
        int socket = 0;
        std::string key;
        int64_t since = 0;
    };
    std::vector<IdleConnection> idle_;
};

}  // namespace tarnvelox::net
