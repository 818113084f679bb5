#pragma once

// Politeness: what the setting "Obey robots.txt" adds to a harvest. Every site (scheme, host
// and port) has its robots.txt read once per run, before any of its pages, and its rules for
// this crawler decide which links are fetched; a Crawl-delay allows one connection to the site
// and that wait between its fetches; a "busy" answer (429 or 503) with Retry-After puts the
// link back for that long. Owned by the fetch engine, which asks it for each idle slot's next
// fetch; response handling hands it the answers it waits for (NetEnv::politeness). Links
// that must wait are held here, in memory, marked as taken (visited and active) like the link
// a slot holds, so that neither the frontier nor the trimming of the links list touches them;
// the run's visited count leaves them out until a slot takes them.
//
//   site state   what it means                           next
//   Unknown      no robots.txt asked for yet             Fetching, by the first idle slot
//   Fetching     a slot is asking for it                 Known (an answer, or a 4xx); Waiting
//                                                        (5xx, 429, nothing, or an answer cut
//                                                        short); Unknown (moved)
//   Waiting      asked for it and got no usable answer   Fetching once its wait is over
//   Known        its rules hold for the rest of the run  -
//   Closed       nothing is fetched from it this run     -
//
// Time is counted in harvest ticks: every wait (crawl delay, Retry-After, the retry of a
// robots.txt) is rounded up to whole ticks and one more, so no fetch ever comes sooner than
// asked. Bounds that let every run end:
// - a robots.txt that gets no usable answer kMaxRobotsAttempts times closes its site for the
//   run, as the protocol says for an unreachable file (complete disallow);
// - a link is put back for Retry-After at most kMaxPutBacks times; the next such answer is
//   handled as without the setting (the link fails);
// - a site that gives kMaxBusyInRow answers with Retry-After with no page or move (2xx,
//   3xx) between is closed for the run: every put-back holds back the whole site, and a site
//   that stays busy would otherwise keep the run going for hours;
// - a Retry-After longer than kMaxRetryAfterSeconds closes the site for the run;
// - a Crawl-delay is honoured up to kMaxCrawlDelayMs; a longer one counts as that long.
// Links not fetched because of the rules or a closed site stay as stored (not visited, not
// bad): they are not counted as visited or bad, and the next run with the setting on asks the
// site again (with the setting off they are fetched).
//
// Single-threaded: called from the fetch engine's and response handling's event handlers.

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "harvest/frontier.h"
#include "net/net_env.h"
#include "net/request.h"
#include "net/robots_txt.h"
#include "net/slot.h"

namespace tarnvelox::net {

inline constexpr int kMaxRobotsAttempts = 3;  // robots.txt fetches without an answer per site
inline constexpr int32_t kRobotsRetryTicks = 10;  // wait before asking again: the slot retry's
inline constexpr int kMaxRobotsRedirects = 5;     // the protocol's least; more: no robots.txt
inline constexpr int kMaxPutBacks = 3;            // Retry-After put-backs of one link
inline constexpr int kMaxBusyInRow = 3;           // busy answers of a site, no page between
inline constexpr int64_t kMaxRetryAfterSeconds = 300;  // longer: the site is left for a later run
inline constexpr int64_t kMaxCrawlDelayMs = 60'000;    // a minute between pages at the most
// Links held at once waiting for their site; when full, the frontier is not asked for more.
// Each holds a record (a few hundred bytes).
inline constexpr std::size_t kMaxHeldLinks = 10'000;
// A robots.txt response may be this long: the file's limit and room for its header.
inline constexpr int32_t kMaxRobotsResponse = static_cast<int32_t>(kMaxRobotsBytes) + 16 * 1024;

// The site a request goes to, and the path its rules judge.
struct UrlSite {
    std::string key;         // "scheme://host:port", scheme and host in lower case
    std::string robots_url;  // where its robots.txt is: "scheme://host[:port]/robots.txt"
    std::string path;        // the target the request names, "/" added in front when missing
};
// The site and path of the request the fetch engine sends for `item`, worked out as it does:
// the URL expanded with `person_name` and `options` (expand_request_url), the request built
// from it (build_request). Without a proxy the site is where it connects (connect_host,
// connect_port, uses_tls: "https" with TLS, "http" without) and the path the request line's
// target, so the rules judge exactly what that server is asked for, quirks included (a path
// sent up to its first ":", a port read from a later colon of the URL). Through a proxy the
// request names an absolute URL, which the proxy takes apart as a URL should be: the site is
// its scheme, host and port (user-info dropped, the scheme's port when none is given), the
// path what follows. False when the request names no site whose robots.txt could be asked
// for: an expansion refused, a host that is no host name (empty, or with characters other
// than letters, digits, "-", "." and "_"), through a proxy a target without "scheme://".
[[nodiscard]] bool request_site(const store::ItemRecord& item, std::string_view person_name,
                                const RequestOptions& options, UrlSite& site);

class Politeness {
public:
    // Borrows the engine's environment and frontier for its whole life.
    Politeness(NetEnv& env, harvest::FrontierState& frontier) : env_(env), frontier_(frontier) {}
    Politeness(const Politeness&) = delete;
    Politeness& operator=(const Politeness&) = delete;

    // A new run: every site forgotten, nothing held. `tick_ms` is the harvest tick's period;
    // `options` and `person_name` are the run's, with which requests are made.
    void reset(int32_t tick_ms, RequestOptions options, std::string person_name);

    // The next fetch of an idle slot, in this order: a robots.txt that a site waits for; the
    // oldest held link whose site may be fetched now; the frontier's next link that may go now
    // (links that may not are held or, when their site forbids them, let go). 1 when the slot
    // now holds something to fetch, 0 when there is nothing to fetch now.
    int next_for_slot(int slot, harvest::SlotItem& slot_item, harvest::SpecialRequests* special);

    // Response handling's finished answer on `slot`: true when politeness took it (a robots.txt,
    // or a link put back for Retry-After); the slot is then idle.
    bool take_response(int slot, std::string_view response);
    // Response handling's failure ending on `slot`: true when the fetch was a robots.txt (no
    // link failed, nothing is counted); the slot is then idle.
    bool take_failure(int slot);

    // One harvest tick has passed.
    void on_tick() { ++now_; }
    // Whether links wait here: the run is not complete while any do.
    [[nodiscard]] bool holding() const { return held_count_ > 0; }
    // Whether `slot` is fetching a robots.txt (its response has the robots.txt cap).
    [[nodiscard]] bool fetching_robots(int slot) const;
    // True once after a site's robots.txt came in: idle slots may find work now.
    [[nodiscard]] bool take_wake() { return std::exchange(wake_, false); }

    // `slot` leaves the run (a lower connection count): its fetch ends without an answer, as
    // a fetch that failed does, so its site's share is freed and a robots.txt is asked again.
    void drop_slot(int slot) { release(slot); }

    // The run stops: every held link goes back as stored (not visited), the slots' fetches are
    // forgotten.
    void release_all();

    // A site this run left for a later one: why, and how many of its links were left unvisited.
    struct LeftSite {
        std::string why;  // "robots.txt of host:port could not be read (...); its links ..."
        int32_t links = 0;
    };
    // The sites closed in this run, in the order they were closed (until the next reset).
    [[nodiscard]] std::vector<LeftSite> left_sites() const;

private:
    enum class SiteState { Unknown, Fetching, Waiting, Known, Closed };
    struct Held {
        harvest::SlotItem item;
        std::string path;    // what the site's rules judge
        uint64_t order = 0;  // when it was first held: the oldest goes first (0: put back)
        int put_backs = 0;
    };
    struct Site {
        std::string name;        // "host:port", for the person
        std::string robots_url;
        SiteState state = SiteState::Unknown;
        RobotsRules rules;
        int attempts = 0;        // robots.txt fetches without a usable answer
        int redirects = 0;       // robots.txt moves followed
        int64_t ready_at = 0;    // the tick from which it may be fetched again
        int64_t delay_ticks = 0; // crawl delay; not 0: one connection at a time
        int busy = 0;            // slots fetching one of its links now
        int busy_in_row = 0;     // answers with Retry-After since its last page or move
        std::deque<Held> held;
        std::string left_why;    // Closed: why, for the person, once the run is over
        int32_t links_left = 0;  // Closed: its links let go since

    };
    // What a slot is fetching, as far as politeness is concerned.
    struct SlotUse {
        int site = -1;        // -1: none (or a request no site rule applies to)
        bool robots = false;  // its robots.txt
        bool answered = false;
        int put_backs = 0;
    };

    // The slot's previous fetch has ended: its site's count and delay, and a robots.txt that
    // ended without an answer.
    void release(int slot);
    [[nodiscard]] int site_of(const UrlSite& where);
    [[nodiscard]] bool may_fetch(const Site& site) const;
    // Starts the robots.txt of a site that waits for it in `slot`; false when none does.
    bool start_due_robots(int slot, harvest::SlotItem& slot_item);
    void start_robots(int slot, int site, harvest::SlotItem& slot_item);
    // Gives the oldest held link whose site may be fetched to `slot`; false when there is none.
    bool take_held(int slot, harvest::SlotItem& slot_item);
    void hand_to_slot(int slot, int site, Held held, harvest::SlotItem& slot_item,
                      bool robots = false);
    void hold(int site, Held held);
    [[nodiscard]] Held unhold_front(int site);
    // A link that is not fetched this run: back to its stored state, counted as not visited.
    // `why` goes on the slot's status line with the link's URL (nothing when empty).
    void let_go(int slot, harvest::SlotItem item, std::string_view why);
    // let_go for a link of a closed site, counted as left for a later run.
    void leave_for_later(int slot, int site, harvest::SlotItem item, std::string_view why);
    void robots_answer(int slot, int site, std::string_view response);
    // The robots.txt got no usable answer; `wait_seconds` (-1: none) is a Retry-After, `why`
    // goes on the status line, `failure` says what went wrong (empty: the slot's status line,
    // which the fetch engine set when the fetch failed).
    void robots_failed(int slot, int site, int64_t wait_seconds,
                       std::string_view why = "robots.txt unreachable",
                       std::string_view failure = {});
    // `why` goes on the status line, `left_why` (with the site's name) to left_sites().
    void close_site(int slot, int site, std::string_view why, std::string_view left_why);

    [[nodiscard]] int64_t ticks_for_ms(int64_t ms) const;
    void status(int slot, std::string_view text);

    NetEnv& env_;
    harvest::FrontierState& frontier_;
    RequestOptions options_;
    std::string person_name_;
    int32_t tick_ms_ = 4000;
    int64_t now_ = 0;  // harvest ticks since the run started
    uint64_t next_order_ = 1;
    std::deque<Site> sites_;  // a deque: a site's place never moves
    std::unordered_map<std::string, int> site_index_;
    std::vector<int> waiting_sites_;   // sites whose robots.txt is to be asked for
    std::vector<int> sites_holding_;   // sites with held links
    std::vector<int> closed_sites_;    // in the order they were closed
    std::size_t held_count_ = 0;
    // File offsets of the held links: without an in-memory list the frontier's second pass
    // could offer a held link again.
    std::unordered_set<int32_t> held_offsets_;
    std::array<SlotUse, kMaxSlots> slot_use_{};
    bool wake_ = false;
};

}  // namespace tarnvelox::net
