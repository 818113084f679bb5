#include "net/politeness.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "base/text_util.h"
#include "net/http_text.h"
#include "net/request.h"
#include "store/item_record.h"

namespace tarnvelox::net {

namespace {

using harvest::SlotItem;
using store::ItemRecord;

constexpr std::string_view kRobotsPath = "/robots.txt";

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = base::to_lower(c);
    return out;
}

// The robots.txt a "Location" value sends `robots_url` to; none when it names nothing.
std::optional<std::string> moved_to(std::string_view robots_url, std::string_view location) {
    if (location.empty()) return std::nullopt;
    if (base::find_nocase(location, "http://") == 0 ||
        base::find_nocase(location, "https://") == 0) {
        return std::string(location);
    }
    // Relative: against the site's root, where a robots.txt always is.
    const std::size_t host_start = robots_url.find("://") + 3;
    const std::string_view root = robots_url.substr(0, robots_url.find('/', host_start));
    return std::string(root) + (location.front() == '/' ? "" : "/") + std::string(location);
}

// Whether `host` can be a host name or dotted address: letters, digits, "-", "." and "_".
bool host_name(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_';
    });
}

// The target of a request text: its first line's second word. Blanks before it are skipped,
// as a lenient server skips them.
std::string_view request_line_target(std::string_view request) {
    const std::string_view line = request.substr(0, request.find_first_of("\r\n"));
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return {};
    std::string_view rest = line.substr(blank);
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    return rest.substr(0, rest.find(' '));
}

// What a failed fetch's status line says went wrong, in words for a summary.
std::string failure_of_line(std::string_view line) {
    line = base::trimmed(line);
    if (line.empty()) return "no answer";
    if (line.starts_with("Timeout Error...(Too Slow)")) return "answer too slow";
    if (line.starts_with("Timeout Error")) return "no answer in time";
    return std::string(line);
}

void set_site(UrlSite& site, std::string_view scheme, std::string_view host, int32_t port,
              int32_t default_port, std::string_view path) {
    const std::string name = lower(host);
    site.key = std::string(scheme) + "://" + name + ":" + std::to_string(port);
    site.robots_url = std::string(scheme) + "://" + name +
                      (port == default_port ? std::string() : ":" + std::to_string(port)) +
                      std::string(kRobotsPath);
    site.path = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
}

// The site of an absolute "scheme://" URL as a proxy reaches it (user-info dropped, the
// scheme's port when none is given); false without "://" or without a host name.
bool absolute_site(std::string_view url, UrlSite& site) {
    const std::size_t separator = url.find("://");
    if (separator == std::string_view::npos || separator == 0) return false;
    const std::string scheme = lower(url.substr(0, separator));
    const std::string_view rest = url.substr(separator + 3);
    const std::size_t authority_end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view host = rest.substr(0, authority_end);
    const std::size_t at = host.rfind('@');
    if (at != std::string_view::npos) host.remove_prefix(at + 1);
    const int32_t default_port = scheme == "https" ? kHttpsPort : kHttpPort;
    int32_t port = default_port;
    const std::size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string_view digits = host.substr(colon + 1);
        const int32_t given = digits.size() <= 5 &&
                                      std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; })
                                  ? base::read_int(digits)
                                  : 0;
        if (given >= 1 && given <= kMaxPort) port = given;
        host = host.substr(0, colon);
    }
    if (!host_name(host)) return false;
    std::string_view path = rest.substr(authority_end);
    set_site(site, scheme, host, port, default_port, path.substr(0, path.find('#')));
    return true;
}

}  // namespace

bool request_site(const store::ItemRecord& item, std::string_view person_name,
                  const RequestOptions& options, UrlSite& site) {
    const Expansion expanded = expand_request_url(item, person_name, options);
    if (expanded.error != ExpandError::None) return false;
    store::ItemRecord sent;
    sent.url = expanded.url;
    const std::string request = build_request(sent, options);
    const std::string_view target = request_line_target(request);
    if (!base::c_text(options.proxy).empty()) return absolute_site(target, site);
    const std::string host = connect_host(expanded.url, options);
    if (!host_name(host)) return false;
    const bool tls = uses_tls(expanded.url, options);
    set_site(site, tls ? "https" : "http", host, connect_port(expanded.url, options),
             tls ? kHttpsPort : kHttpPort, target);
    return true;
}

// ---- Run start and stop ---------------------------------------------------------------------

void Politeness::reset(int32_t tick_ms, RequestOptions options, std::string person_name) {
    release_all();
    options_ = std::move(options);
    person_name_ = std::move(person_name);
    tick_ms_ = std::max<int32_t>(tick_ms, 1);
    now_ = 0;
    next_order_ = 1;
    sites_.clear();
    site_index_.clear();
    waiting_sites_.clear();
    closed_sites_.clear();
    wake_ = false;
}

void Politeness::release_all() {
    for (const int id : sites_holding_) {
        Site& site = sites_[static_cast<std::size_t>(id)];
        for (Held& held : site.held) {
            // Never fetched: as stored, so the next run offers it again.
            ItemRecord* rec = held.item.item;
            rec->status &= ~(store::STATUS_VISITED | store::STATUS_ACTIVE);
            if (env_.harvest.lists.links.contains(*rec)) env_.harvest.shell.link_row_changed(*rec);
        }
        site.held.clear();
    }
    sites_holding_.clear();
    held_offsets_.clear();
    held_count_ = 0;
    slot_use_.fill(SlotUse{});
    for (Site& site : sites_) site.busy = 0;
}

// ---- Choosing a slot's next fetch -----------------------------------------------------------

int Politeness::next_for_slot(int slot, SlotItem& slot_item, harvest::SpecialRequests* special) {
    harvest::HarvestEnv& h = env_.harvest;
    release(slot);
    // The single page of an engine row and the vendor's transfers go as they always do.
    if (h.run.engine_mode != harvest::kModeHarvest) {
        return harvest::next_link_for_slot(h, frontier_, slot, slot_item, special);
    }
    if (h.run.stop_requested != 0 || h.run.harvest_running == 0) return 0;
    if (start_due_robots(slot, slot_item)) return 1;
    if (take_held(slot, slot_item)) return 1;
    while (held_count_ < kMaxHeldLinks) {
        SlotItem taken;
        if (harvest::next_link_for_slot(h, frontier_, slot, taken, special) == 0) return 0;
        ItemRecord* rec = taken.item;
        if ((rec->kind & store::KIND_VENDOR) != 0) {
            hand_to_slot(slot, -1, Held{std::move(taken), {}, 0, 0}, slot_item);  // not a site's
            return 1;
        }
        if (rec->file_offset >= 0 && held_offsets_.count(rec->file_offset) != 0) {
            // Offered again while held (a second pass without the in-memory list): the held
            // record stands, this copy goes.
            --h.run.visited_links;
            continue;
        }
        UrlSite where;
        if (!request_site(*rec, person_name_, options_, where)) {
            // Nothing could say whether it may be fetched.
            let_go(slot, std::move(taken), "No site to ask for robots.txt");
            continue;
        }
        const int id = site_of(where);
        Site& site = sites_[static_cast<std::size_t>(id)];
        if (site.state == SiteState::Closed) {
            leave_for_later(slot, id, std::move(taken), "Site skipped for this run");
            continue;
        }
        if (site.state == SiteState::Known && !robots_allows(site.rules, where.path)) {
            let_go(slot, std::move(taken), "Disallowed by robots.txt");
            continue;
        }
        Held held{std::move(taken), std::move(where.path), next_order_++, 0};
        if (may_fetch(site)) {
            hand_to_slot(slot, id, std::move(held), slot_item);
            return 1;
        }
        hold(id, std::move(held));
        if (start_due_robots(slot, slot_item)) return 1;  // a new site: its robots.txt first
    }
    return 0;
}

void Politeness::release(int slot) {
    SlotUse& use = slot_use_[static_cast<std::size_t>(slot)];
    if (use.site >= 0) {
        Site& site = sites_[static_cast<std::size_t>(use.site)];
        if (use.robots) {
            // Ended without an answer response handling saw: a refused connect, a read error
            // before any byte, a look-up that could not start. The slot's line says which.
            if (!use.answered) robots_failed(slot, use.site, -1);
        } else {
            if (site.busy > 0) --site.busy;
            if (site.delay_ticks > 0) {
                site.ready_at = std::max(site.ready_at, now_ + site.delay_ticks + 1);
            }
        }
    }
    use = SlotUse{};
}

int Politeness::site_of(const UrlSite& where) {
    const auto found = site_index_.find(where.key);
    if (found != site_index_.end()) return found->second;
    const int id = static_cast<int>(sites_.size());
    Site site;
    site.name = where.key.substr(where.key.find("://") + 3);
    site.robots_url = where.robots_url;
    sites_.push_back(std::move(site));
    site_index_.emplace(where.key, id);
    waiting_sites_.push_back(id);
    return id;
}

bool Politeness::may_fetch(const Site& site) const {
    return site.state == SiteState::Known && now_ >= site.ready_at &&
           (site.delay_ticks == 0 || site.busy == 0);
}

bool Politeness::start_due_robots(int slot, SlotItem& slot_item) {
    for (auto it = waiting_sites_.begin(); it != waiting_sites_.end(); ++it) {
        const int id = *it;
        const Site& site = sites_[static_cast<std::size_t>(id)];
        if (site.state == SiteState::Unknown ||
            (site.state == SiteState::Waiting && now_ >= site.ready_at)) {
            waiting_sites_.erase(it);
            start_robots(slot, id, slot_item);
            return true;
        }
    }
    return false;
}

void Politeness::start_robots(int slot, int id, SlotItem& slot_item) {
    Site& site = sites_[static_cast<std::size_t>(id)];
    site.state = SiteState::Fetching;
    store::RecordPtr rec = store::clear_record();
    rec->url = site.robots_url;
    rec->title = "robots.txt";
    rec->file_offset = -1;  // never stored, never listed
    SlotItem item;
    item.item = rec.get();
    item.owned = std::move(rec);
    hand_to_slot(slot, id, Held{std::move(item), {}, 0, 0}, slot_item, true);
}

bool Politeness::take_held(int slot, SlotItem& slot_item) {
    int best = -1;
    for (std::size_t i = 0; i < sites_holding_.size();) {
        const int id = sites_holding_[i];
        Site& site = sites_[static_cast<std::size_t>(id)];
        // Links the rules forbid go as soon as they are first in line.
        while (!site.held.empty() && site.state == SiteState::Known &&
               !robots_allows(site.rules, site.held.front().path)) {
            let_go(slot, unhold_front(id).item, "Disallowed by robots.txt");
        }
        if (site.held.empty()) {
            // unhold_front took it off the list, unless it was never on with links
            if (i < sites_holding_.size() && sites_holding_[i] == id) {
                sites_holding_.erase(sites_holding_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            continue;
        }
        if (may_fetch(site) &&
            (best < 0 ||
             site.held.front().order < sites_[static_cast<std::size_t>(best)].held.front().order)) {
            best = id;
        }
        ++i;
    }
    if (best < 0) return false;
    hand_to_slot(slot, best, unhold_front(best), slot_item);
    return true;
}

void Politeness::hand_to_slot(int slot, int site, Held held, SlotItem& slot_item, bool robots) {
    harvest::HarvestEnv& h = env_.harvest;
    ItemRecord* previous = slot_item.item;
    // The slot lets go of its last record, as the frontier does when it hands out a link.
    if (previous != nullptr && previous != held.item.item) {
        previous->status &= ~store::STATUS_ACTIVE;
        if (h.lists.links.contains(*previous)) h.shell.link_row_changed(*previous);
        h.lists.links.status_changed(*previous);
    }
    slot_item = std::move(held.item);  // frees a previous record that was in no list
    slot_use_[static_cast<std::size_t>(slot)] = SlotUse{site, robots, false, held.put_backs};
    if (site >= 0 && !robots) ++sites_[static_cast<std::size_t>(site)].busy;
}

void Politeness::hold(int id, Held held) {
    // Counted as visited when a connection takes it, not while it waits here.
    harvest::RunState& run = env_.harvest.run;
    if (run.visited_links > 0) --run.visited_links;
    Site& site = sites_[static_cast<std::size_t>(id)];
    if (site.held.empty()) sites_holding_.push_back(id);
    const int32_t offset = held.item.item->file_offset;
    if (offset >= 0) held_offsets_.insert(offset);
    if (held.order == 0) {
        site.held.push_front(std::move(held));  // put back: first in line again
    } else {
        site.held.push_back(std::move(held));
    }
    ++held_count_;
}

Politeness::Held Politeness::unhold_front(int id) {
    Site& site = sites_[static_cast<std::size_t>(id)];
    Held held = std::move(site.held.front());
    site.held.pop_front();
    --held_count_;
    ++env_.harvest.run.visited_links;  // as the frontier counts a link it hands out
    held_offsets_.erase(held.item.item->file_offset);
    if (site.held.empty()) std::erase(sites_holding_, id);
    return held;
}

void Politeness::let_go(int slot, SlotItem item, std::string_view why) {
    harvest::HarvestEnv& h = env_.harvest;
    ItemRecord* rec = item.item;
    rec->status &= ~(store::STATUS_VISITED | store::STATUS_ACTIVE);
    if (h.run.visited_links > 0) --h.run.visited_links;
    if (h.lists.links.contains(*rec)) h.shell.link_row_changed(*rec);
    if (!why.empty()) {
        status(slot, std::string(why) + " (" + std::string(store::url_text(rec)) + ")");
    }
}  // an owned record is freed here

void Politeness::leave_for_later(int slot, int site, SlotItem item, std::string_view why) {
    ++sites_[static_cast<std::size_t>(site)].links_left;
    let_go(slot, std::move(item), why);
}

// ---- Answers --------------------------------------------------------------------------------

bool Politeness::take_response(int slot, std::string_view response) {
    SlotUse& use = slot_use_[static_cast<std::size_t>(slot)];
    if (use.site < 0) return false;
    if (use.robots) {
        use.answered = true;
        // The bytes as received: a NUL in a robots.txt is junk on its line, not its end.
        robots_answer(slot, use.site,
                      env_.slots.slots[static_cast<std::size_t>(slot)].response_text());
        close_slot(env_, slot);
        return true;
    }
    Site& site = sites_[static_cast<std::size_t>(use.site)];
    const int code = http_status_code(response);
    if (code != 429 && code != 503) {
        if (code >= 200 && code < 400) site.busy_in_row = 0;  // a page or a move: served again
        return false;
    }
    if (use.put_backs >= kMaxPutBacks) return false;
    const std::string_view headers = response.substr(0, response.find(kHeaderEnd));
    const std::optional<int64_t> wait = retry_after_seconds(headers, std::time(nullptr));
    if (!wait) return false;

    Slot& s = env_.slots.slots[static_cast<std::size_t>(slot)];
    SlotItem item = std::exchange(s.item, SlotItem{});
    const std::string url(store::url_text(item.item));
    if (site.state == SiteState::Closed) {
        leave_for_later(slot, use.site, std::move(item), "");  // asked for before it was left
    } else if (*wait > kMaxRetryAfterSeconds) {
        leave_for_later(slot, use.site, std::move(item), "");
        close_site(slot, use.site,
                   "Server busy for " + std::to_string(*wait) + " s: site left for a later run",
                   site.name + " asked to be asked again in " + std::to_string(*wait) + " s");
    } else if (++site.busy_in_row >= kMaxBusyInRow) {
        leave_for_later(slot, use.site, std::move(item), "");
        close_site(slot, use.site,
                   "Server busy " + std::to_string(site.busy_in_row) +
                       " times in a row: site left for a later run",
                   site.name + " answered busy " + std::to_string(site.busy_in_row) +
                       " times in a row");
    } else {
        site.ready_at = std::max(site.ready_at, now_ + ticks_for_ms(*wait * 1000) + 1);
        // Its URL is the one expanded for the request just sent: expanded again, it gives the
        // next request.
        UrlSite where;
        (void)request_site(*item.item, person_name_, options_, where);
        hold(use.site, Held{std::move(item), std::move(where.path), 0, use.put_backs + 1});
        status(slot, "Server busy: asked again in " + std::to_string(*wait) + " s (" + url + ")");
    }
    close_slot(env_, slot);
    return true;
}

bool Politeness::take_failure(int slot) {
    SlotUse& use = slot_use_[static_cast<std::size_t>(slot)];
    if (use.site < 0 || !use.robots) return false;
    use.answered = true;
    robots_failed(slot, use.site, -1);
    enter_state(env_.slots.slots[static_cast<std::size_t>(slot)], SlotState::Idle);
    return true;
}

void Politeness::robots_answer(int slot, int id, std::string_view response) {
    Site& site = sites_[static_cast<std::size_t>(id)];
    const int code = http_status_code(response);
    const std::optional<ResponseParts> parts = split_response(response);
    const std::string_view headers = parts ? parts->headers : response;
    // A file or a move cut short could say other than was meant (lost Disallow lines, an
    // Allow cut to a shorter path, a Location cut to another file): no answer. A header must
    // end, and a file's body be as long as its Content-Length, unless it reaches the most of
    // a robots.txt that is read. The modern way's reader has judged that already, on a body
    // whose Content-Length may count coded bytes (more than the decoded ones, for a short file).
    const bool framed = env_.slots.slots[static_cast<std::size_t>(slot)].reader != nullptr;
    const bool header_cut = !parts && code >= 200 && code < 400;
    bool body_cut = false;
    if (parts && !framed && code >= 200 && code < 300) {
        const std::optional<int64_t> length = content_length(parts->headers);
        body_cut = length && static_cast<int64_t>(parts->body.size()) < *length &&
                   parts->body.size() < kMaxRobotsBytes;
    }
    if (header_cut || body_cut) {
        robots_failed(slot, id, -1, "robots.txt cut short", "cut short");
        return;
    }
    if (code >= 300 && code < 400 && site.redirects < kMaxRobotsRedirects) {
        const std::optional<std::string_view> location = header_line(headers, "Location");
        const std::optional<std::string> target =
            location ? moved_to(site.robots_url, *location) : std::nullopt;
        if (target) {
            ++site.redirects;
            site.robots_url = *target;
            site.state = SiteState::Unknown;
            waiting_sites_.push_back(id);
            wake_ = true;
            status(slot, "robots.txt moved (" + *target + ")");
            return;
        }
    }
    if (code == 429 || (code >= 500 && code < 600) || code < 200) {
        const std::optional<int64_t> wait = retry_after_seconds(headers, std::time(nullptr));
        robots_failed(slot, id, wait.value_or(-1), "robots.txt unreachable",
                      code > 0 ? "HTTP " + std::to_string(code) : "no HTTP answer");
        return;
    }
    site.state = SiteState::Known;
    if (code >= 200 && code < 300) {
        site.rules = parse_robots_txt(parts->body);
        const std::size_t n = site.rules.rules.size();
        status(slot, "robots.txt read: " + std::to_string(n) + (n == 1 ? " rule (" : " rules (") +
                         site.robots_url + ")");
    } else {
        // 4xx (and a move that leads nowhere): there is no robots.txt, everything is allowed.
        status(slot, "No robots.txt: all allowed (" + site.robots_url + ")");
    }
    if (site.rules.crawl_delay_ms > 0) {
        site.delay_ticks = ticks_for_ms(std::min(site.rules.crawl_delay_ms, kMaxCrawlDelayMs));
        site.ready_at = std::max(site.ready_at, now_ + site.delay_ticks + 1);
    }
    wake_ = true;
}

void Politeness::robots_failed(int slot, int id, int64_t wait_seconds, std::string_view why,
                               std::string_view failure) {
    Site& site = sites_[static_cast<std::size_t>(id)];
    if (++site.attempts >= kMaxRobotsAttempts) {
        const std::string what = failure.empty()
                                     ? failure_of_line(env_.harvest.status.line(slot))
                                     : std::string(failure);
        close_site(slot, id, "robots.txt unreachable: site skipped",
                   "robots.txt of " + site.name + " could not be read (" + what + ")");
        return;
    }
    if (wait_seconds > kMaxRetryAfterSeconds) {
        close_site(slot, id,
                   "Server busy for " + std::to_string(wait_seconds) +
                       " s: site left for a later run",
                   "robots.txt of " + site.name + " asked to be asked again in " +
                       std::to_string(wait_seconds) + " s");
        return;
    }
    site.state = SiteState::Waiting;
    const int64_t ticks = std::max<int64_t>(
        kRobotsRetryTicks, wait_seconds > 0 ? ticks_for_ms(wait_seconds * 1000) : 0);
    site.ready_at = std::max(site.ready_at, now_ + ticks + 1);
    waiting_sites_.push_back(id);
    status(slot, std::string(why) + ": retried later (" + site.robots_url + ")");
}

void Politeness::close_site(int slot, int id, std::string_view why, std::string_view left_why) {
    Site& site = sites_[static_cast<std::size_t>(id)];
    site.state = SiteState::Closed;
    site.left_why = std::string(left_why) + "; its links are left for a later run";
    closed_sites_.push_back(id);
    while (!site.held.empty()) leave_for_later(slot, id, unhold_front(id).item, "");
    status(slot, std::string(why) + " (" + site.robots_url + ")");
    wake_ = true;
}

std::vector<Politeness::LeftSite> Politeness::left_sites() const {
    std::vector<LeftSite> out;
    for (const int id : closed_sites_) {
        const Site& site = sites_[static_cast<std::size_t>(id)];
        out.push_back(LeftSite{site.left_why, site.links_left});
    }
    return out;
}

// ---- Small helpers --------------------------------------------------------------------------

bool Politeness::fetching_robots(int slot) const {
    const SlotUse& use = slot_use_[static_cast<std::size_t>(slot)];
    return use.site >= 0 && use.robots;
}

int64_t Politeness::ticks_for_ms(int64_t ms) const { return (ms + tick_ms_ - 1) / tick_ms_; }

void Politeness::status(int slot, std::string_view text) {
    if (slot >= 0) harvest::slot_status(env_.harvest, slot, text);
}

}  // namespace tarnvelox::net
