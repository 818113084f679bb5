#include "net/fetch_engine.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

#include "net/http_reader.h"
#include "net/http_text.h"
#include "net/vendor.h"
#include "store/item_record.h"
#include "store/store.h"

namespace tarnvelox::net {
namespace {

// Lowers the nesting depth again on every way out of drive_slot.
class NestingGuard {
public:
    explicit NestingGuard(int32_t& depth) : depth_(depth) { ++depth_; }
    ~NestingGuard() { --depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    int32_t& depth_;
};

bool has_socket(const Slot& s) { return s.socket != 0 && s.socket != -1; }

bool digits_and_dots(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.';
    });
}

// The address text as the socket layer takes it: a dotted IPv4 address in any of the forms
// inet_aton accepts, written out in full; empty when it does not convert.
std::string canonical_address(const std::string& text) {
    in_addr addr{};
    if (text.empty() || inet_aton(text.c_str(), &addr) == 0) return {};
    char out[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &addr, out, sizeof out) == nullptr) return {};
    return out;
}

}  // namespace

FetchEngine::FetchEngine(NetEnv& env, harvest::FrontierState& frontier, platform::EventLoop& loop,
                         platform::Network& network, RequestOptions options,
                         std::string person_name, int32_t packcount, RunHooks& hooks)
    : env_(env),
      frontier_(frontier),
      loop_(loop),
      network_(network),
      options_(std::move(options)),
      person_name_(std::move(person_name)),
      packcount_(harvest::connections_in_use(packcount)),
      hooks_(hooks) {
    if (env_.sockets == nullptr) env_.sockets = this;
}

void FetchEngine::configure(RequestOptions options, std::string person_name, int32_t packcount,
                            int32_t timeout_ms) {
    options_ = std::move(options);
    person_name_ = std::move(person_name);
    packcount_ = harvest::connections_in_use(packcount);
    tick_ms_ = timeout_ms;
    deadline_ticks_ = response_deadline_ticks(timeout_ms);
    dead_hosts_.clear();
    close_idle_connections();
}

int FetchEngine::set_packcount(int32_t packcount) {
    packcount_ = harvest::connections_in_use(packcount);
    return packcount_;
}

void FetchEngine::drop_slot(int slot) {
    if (slot < 0 || slot >= kMaxSlots) return;
    if (env_.politeness != nullptr) politeness_.drop_slot(slot);
    starved_[static_cast<std::size_t>(slot)] = false;
    close_slot(env_, slot);
    slot_at(slot).free_response();
}

void FetchEngine::set_robots(bool obey) {
    politeness_.reset(tick_ms_, options_, person_name_);
    env_.politeness = obey ? &politeness_ : nullptr;
}

FetchEngine::~FetchEngine() {
    if (env_.sockets == this) env_.sockets = nullptr;
    if (env_.politeness == &politeness_) env_.politeness = nullptr;
}

int FetchEngine::lookup_slot(int event_id) {
    const auto* it = std::find(kLookupEventIds.begin(), kLookupEventIds.end(), event_id);
    return it == kLookupEventIds.end() ? -1 : static_cast<int>(it - kLookupEventIds.begin());
}

void FetchEngine::close_socket(int socket) { network_.close(socket); }

void FetchEngine::status(int slot, std::string_view text) {
    harvest::slot_status(env_.harvest, slot, text);
}

int FetchEngine::start_sockets() {
    if (network_.start()) return 1;
    status(0, "ERROR: Failed to initialize Winsock");
    env_.harvest.shell.report_error("Failed to initialize Winsock");
    return 0;
}

void FetchEngine::shutdown() {
    close_idle_connections();
    for (Slot& s : env_.slots.slots) {
        if (has_socket(s)) {
            network_.close(s.socket);
            s.socket = 0;
        }
        s.free_response();
    }
}

int FetchEngine::slot_of_socket(int socket) const {
    if (socket == 0 || socket == -1) return -1;
    for (int i = 0; i < packcount_; ++i) {
        if (env_.slots.slots[static_cast<std::size_t>(i)].socket == socket) return i;
    }
    return -1;
}

bool FetchEngine::fetching_robots(int slot) const {
    return env_.politeness != nullptr && politeness_.fetching_robots(slot);
}

bool FetchEngine::stop_if_unwritable() {
    harvest::HarvestEnv& h = env_.harvest;
    if (h.run.harvest_running == 0 || !store::writes_failing(h.store)) return false;
    // What the run finds can no longer be written: it stops as a Cancel does, so the pages in
    // the connections are offered again next time, and nothing more is fetched for nothing.
    ++h.run.stop_requested;
    hooks_.stop_all();
    status(-1, kWriteFailedStatus);
    return true;
}

void FetchEngine::after_response(int slot) {
    if (stop_if_unwritable()) return;
    if (slot_at(slot).state == SlotState::Idle) post_drive(slot);
    // Slots the frontier had nothing for wait for the tick otherwise; a response that stored
    // new links, or a robots.txt that lets a site's held links go, gives them work now.
    const bool site_ready = env_.politeness != nullptr && politeness_.take_wake();
    if (!site_ready && env_.harvest.store.total_links == links_when_starved_) return;
    for (int i = 0; i < packcount_; ++i) {
        if (starved_[static_cast<std::size_t>(i)] && slot_at(i).state == SlotState::Idle) {
            starved_[static_cast<std::size_t>(i)] = false;
            post_drive(i);
        }
    }
}

void FetchEngine::post_drive(int slot) {
    if (drive_posted_[static_cast<std::size_t>(slot)]) return;
    drive_posted_[static_cast<std::size_t>(slot)] = true;
    loop_.post_command(kDriveSlotCommand + slot);
}

bool FetchEngine::on_command(int command_id) {
    const int slot = command_id - kDriveSlotCommand;
    if (slot < 0 || slot >= kMaxSlots) return false;
    drive_posted_[static_cast<std::size_t>(slot)] = false;
    if (slot < packcount_ && slot_at(slot).state == SlotState::Idle) drive_slot(slot);
    return true;
}

int FetchEngine::drive_slot(int slot) {
    harvest::RunState& run = env_.harvest.run;
    if (env_.slots.nesting > kMaxNesting || run.stop_requested != 0) return 1;
    Slot& s = slot_at(slot);
    if (!has_socket(s) && s.state != SlotState::Idle) {
        enter_state(s, SlotState::Idle);
        return 1;
    }
    NestingGuard guard(env_.slots.nesting);
    if (s.ticks != kRetryTicks && s.state != SlotState::Receiving) s.ticks = 0;
    switch (s.state) {
        case SlotState::Idle:
            drive_idle(slot);
            break;
        case SlotState::Connecting:
            connect(slot);
            break;
        case SlotState::Sending:
            send_request(slot);
            break;
        case SlotState::Receiving:
            if (run.harvest_running != 0) receive(slot);
            break;
        case SlotState::LookingUp:  // the look-up completion drives it on
        case SlotState::Finishing:  // the response is being handled
            break;
    }
    return 1;
}

void FetchEngine::drive_idle(int slot) {
    if (stop_if_unwritable()) return;  // a failed write may have come with a failed fetch
    Slot& s = slot_at(slot);
    s.free_response();
    const int given =
        env_.politeness != nullptr
            ? politeness_.next_for_slot(slot, s.item, special_)
            : harvest::next_link_for_slot(env_.harvest, frontier_, slot, s.item, special_);
    if (given == 0) {
        starved_[static_cast<std::size_t>(slot)] = true;
        links_when_starved_ = env_.harvest.store.total_links;
        completion_check();
        return;
    }
    s.fetch_ticks = 0;
    starved_[static_cast<std::size_t>(slot)] = false;
    slot_options_[static_cast<std::size_t>(slot)] = options_;
    if (has_socket(s)) network_.close(s.socket);
    s.socket = 0;
    // Both fail before a socket is made for them; the vendor's reserved domain never resolves,
    // so asking the resolver would only send its name out and wait.
    if (host_known_dead(s.item.item) ||
        in_vendor_domain(connect_host(store::url_text(s.item.item), options_of(slot)))) {
        host_not_found(slot);
        return;
    }
    s.reused = false;
    s.retried = false;
    if (goes_modern(slot) && take_kept_connection(slot)) {
        s.reused = true;
        s.tls = uses_tls(store::url_text(s.item.item), options_of(slot));
        enter_state(s, SlotState::Sending);
        send_request(slot);
        return;
    }
    s.socket = network_.open_socket();
    if (s.socket == -1 || s.socket == 0) {
        s.socket = -1;
        status(slot, "Unable to get socket (waiting)");
        return;
    }
    enter_state(s, SlotState::LookingUp);
    start_lookup(slot);
}

bool FetchEngine::modern_run_for(const store::ItemRecord* item) const {
    return env_.harvest.run.modern_reader && item != nullptr &&
           (item->kind & store::KIND_VENDOR) == 0 && !is_download(env_, item);
}

bool FetchEngine::goes_modern(int slot) const {
    const store::ItemRecord* item = slot_at_const(slot).item.item;
    return modern_run_for(item) && !build_modern_request(*item, options_of(slot)).empty();
}

std::string FetchEngine::connection_key(int slot) const {
    const std::string_view url = store::url_text(slot_at_const(slot).item.item);
    const RequestOptions& options = options_of(slot);
    std::string key = connect_host(url, options);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    key += ':' + std::to_string(connect_port(url, options));
    if (uses_tls(url, options)) key += "/tls";
    return key;
}

bool FetchEngine::take_kept_connection(int slot) {
    if (idle_.empty()) return false;
    const std::string key = connection_key(slot);
    // The most recently used first: the one least likely to have been closed by its server.
    for (auto it = idle_.rbegin(); it != idle_.rend();) {
        if (it->key != key) {
            ++it;
            continue;
        }
        const int socket = it->socket;
        it = decltype(it)(idle_.erase(std::next(it).base()));
        // A connection still good has nothing to read: a read that gets bytes or the close
        // means the server ended it, or sent what was never asked for.
        char probe = 0;
        int error = 0;
        if (network_.receive(socket, &probe, 1, error) < 0 && error == platform::kWouldBlock) {
            slot_at(slot).socket = socket;
            return true;
        }
        network_.close(socket);
    }
    return false;
}

void FetchEngine::keep_connection(int slot) {
    Slot& s = slot_at(slot);
    if (!has_socket(s)) return;
    const std::string key = connection_key(slot);
    const auto same = std::count_if(idle_.begin(), idle_.end(),
                                    [&](const IdleConnection& c) { return c.key == key; });
    if (same >= packcount_ || idle_.size() >= static_cast<std::size_t>(kMaxSlots)) {
        network_.close(s.socket);
    } else {
        idle_.push_back({s.socket, key, ticks_});
    }
    s.socket = 0;
}

bool FetchEngine::drop_idle_connection(int socket) {
    const auto it = std::find_if(idle_.begin(), idle_.end(),
                                 [&](const IdleConnection& c) { return c.socket == socket; });
    if (it == idle_.end()) return false;
    network_.close(socket);
    idle_.erase(it);
    return true;
}

void FetchEngine::close_idle_connections() {
    for (const IdleConnection& c : idle_) network_.close(c.socket);
    idle_.clear();
}

int64_t FetchEngine::body_room(int slot) const {
    if (fetching_robots(slot)) return kMaxRobotsResponse;
    const int64_t limit = env_.harvest.run.page_limit;
    int64_t held = 0;
    for (int i = 0; i < kMaxSlots; ++i) {
        const Slot& other = env_.slots.slots[static_cast<std::size_t>(i)];
        if (i != slot && other.reader != nullptr) {
            held += static_cast<int64_t>(other.reader->output().capacity());
        }
    }
    const int64_t budget = std::max(kPagesBudget, limit);
    return std::min(limit, std::max<int64_t>(kMaxPageBytes, budget - held));
}

void FetchEngine::start_lookup(int slot) {
    Slot& s = slot_at(slot);
    store::ItemRecord* item = s.item.item;
    if (item == nullptr || !item->url || item->url->empty()) return;  // waits for its abort
    if (item->title && item->title->size() > kMaxTitle) item->title->resize(kMaxTitle);
    const RequestOptions& options = options_of(slot);
    const std::string host = connect_host(store::url_text(item), options);
    s.tls = uses_tls(store::url_text(item), options);
    status(slot, (options.proxy.empty() ? "Contacting " : "Contacting Proxy -> ") + host);
    if (digits_and_dots(host)) {
        s.address = host.substr(0, kMaxAddressText);
        enter_state(s, SlotState::Connecting);
        drive_slot(slot);
        return;
    }
    if (!network_.lookup(kLookupEventIds[static_cast<std::size_t>(slot)], host)) {
        enter_state(s, SlotState::Idle);
        post_drive(slot);
    }
}

void FetchEngine::connect(int slot) {
    Slot& s = slot_at(slot);
    store::ItemRecord* item = s.item.item;
    const std::string_view url = store::url_text(item);
    const std::string address = canonical_address(s.address);
    if (address.empty()) {
        status(slot, "Address translation error");
        enter_state(s, SlotState::Idle);
        post_drive(slot);
        return;
    }
    const int port = connect_port(url, options_of(slot));
    const std::string host = s.tls ? connect_host(url, options_of(slot)) : std::string();
    const int result = network_.connect(s.socket, address, port, s.tls, host);
    if (result == 0 || result == platform::kWouldBlock) return;
    if (result == platform::kTlsFailed) {
        secure_connect_failed(slot);
        return;
    }
    status(slot, "Connect Failed (" + std::string(url) + ")");
    enter_state(s, SlotState::Idle);
    if (item != nullptr) item->status &= ~store::STATUS_TIMEOUT;
    fail_item(env_, slot);
    post_drive(slot);  // the next link need not wait for the tick
}

// A server whose TLS handshake or certificate failed will not do better on a retry: the item
// fails, so the harvest neither waits for it nor fetches it again.
void FetchEngine::secure_connect_failed(int slot) {
    Slot& s = slot_at(slot);
    std::string why = network_.tls_error_text(s.socket);
    if (why.empty()) why = std::string(store::url_text(s.item.item));
    status(slot, "Secure Connect Failed (" + why + ")");
    fail_item(env_, slot);
    post_drive(slot);
}

void FetchEngine::send_request(int slot) {
    Slot& s = slot_at(slot);
    store::ItemRecord* item = s.item.item;
    if (item == nullptr) {
        enter_state(s, SlotState::Idle);
        return;
    }
    // The modern request went already: on a connection that stays open the server would answer
    // a second one too, and that answer would be read as the next link's. The abort judges it.
    if (s.reader != nullptr) return;
    Expansion expanded = expand_request_url(*item, person_name_, options_of(slot));
    if (expanded.error != ExpandError::None) {
        status(slot, expand_error_text(expanded.error));
        fail_item(env_, slot);
        post_drive(slot);
        return;
    }
    // The link keeps the URL it is stored under, so that its line in the links file can take
    // the visited mark; only the request carries the filled-in placeholders.
    store::ItemRecord filled;
    filled.url = std::move(expanded.url);
    s.reader.reset();
    std::string request;
    // The request is built once, from the filled-in URL; empty: it goes the classic way.
    if (modern_run_for(item)) request = build_modern_request(filled, options_of(slot));
    if (request.empty()) {
        request = build_request(filled, options_of(slot));
    } else {
        // A kept connection may hold the tail of an earlier answer: what comes must begin
        // with a status line.
        // The slot's buffer (the memory of its last page, up to kKeptBufferBytes) is reused:
        // a crawl does not allocate and fault in a buffer per page.
        s.reader = std::make_unique<HttpReader>(body_room(slot), s.reused, std::move(s.response));
        s.response.clear();
    }
    status(slot, "Requesting Object Header");
    int error = 0;
    const int sent = network_.send(s.socket, request, error);
    if (sent < 0 && s.reused && !s.retried) {
        retry_on_fresh_connection(slot);
        return;
    }
    if (sent < 0) {
        status(slot, "Request send Failed (" + std::to_string(sent) + ")");
        enter_state(s, SlotState::Idle);
        post_drive(slot);
        return;
    }
    if ((item->status & store::STATUS_MOVED) != 0) {
        status(slot, "Document Moved to " + *item->url);
    } else if ((item->kind & store::KIND_VENDOR) != 0) {
        status(slot, "Checking For Upgrades");
    } else {
        status(slot, "Connecting to " + *item->url);
    }
}

void FetchEngine::receive(int slot) {
    Slot& s = slot_at(slot);
    if (s.reader != nullptr) {
        receive_modern(slot);
        return;
    }
    store::ItemRecord* item = s.item.item;
    const bool download = is_download(env_, item);
    const bool to_file = download && env_.download.open();
    // A page's response is cut after kMaxPageBytes, a robots.txt's after kMaxRobotsResponse,
    // each taking at most one classic read more; a download has no such limit.
    const bool robots = fetching_robots(slot);
    const bool page = robots || (item != nullptr && (item->kind & store::KIND_PAGE) != 0);
    const int32_t cut_after = robots ? kMaxRobotsResponse : kMaxPageBytes;
    const int32_t most_held = cut_after + (kMaxPageRead - kMaxPageBytes);
    int32_t most = kReadChunk;
    if (page && !to_file) most = std::min(most, std::max<int32_t>(most_held - s.received, 1));
    char* into = chunk_.data();
    if (!to_file) {
        // Grow in whole steps until the read and the margin fit behind what was received.
        const int64_t needed = static_cast<int64_t>(s.received) + most + kBufferMargin;
        const auto size = static_cast<int64_t>(s.response.size());
        if (needed > size) {
            const int64_t steps = (needed - size + kBufferStep - 1) / kBufferStep;
            try {
                s.response.resize(static_cast<std::size_t>(size + steps * kBufferStep), '\0');
            } catch (const std::bad_alloc&) {
                status(slot, "Out of Memory");
                return;
            }
        }
        into = s.response.data() + s.received;
    }
    int error = 0;
    const int count = network_.receive(s.socket, into, most, error);
    if (count < 0) {
        if (error == platform::kWouldBlock) return;
        status(slot, "Winsock Error (" + std::to_string(error) + ")");
        if (s.received == 0) {
            if (!robots) hooks_.link_unanswered(slot);
            enter_state(s, SlotState::Idle);
        } else if (robots) {
            // A robots.txt cut short is no answer: its lost end could hold rules that forbid,
            // or the rest of a path an Allow was cut from.
            fail_item(env_, slot);
        } else {
            finish_response(slot);
        }
        after_response(slot);
        return;
    }
    s.ticks = 0;
    if (item != nullptr) item->status &= ~store::STATUS_TIMEOUT;
    if (count > 0) {
        env_.harvest.run.total_bytes += count;
        hooks_.show_total_bytes(env_.harvest.run.total_bytes);
        if (to_file) {
            write_download(env_, slot, std::string_view(into, static_cast<std::size_t>(count)));
        } else {
            s.received += count;
            if (download) start_download(env_, slot);
        }
    }
    const bool cut = page && !env_.download.open() && s.received > cut_after;
    if (count == 0 || cut) {
        end_of_response(slot);
    } else if (s.received > 0) {
        status(slot, "Reading: " + std::to_string(s.received));
    }
}

void FetchEngine::receive_modern(int slot) {
    Slot& s = slot_at(slot);
    HttpReader& reader = *s.reader;
    int error = 0;
    const int count = network_.receive(s.socket, chunk_.data(), kReadChunk, error);
    if (count < 0 && error == platform::kWouldBlock) return;
    if (count < 0) status(slot, "Winsock Error (" + std::to_string(error) + ")");
    if (count <= 0) {
        reader.end_of_stream();
        end_modern(slot, false, false, count < 0);
        return;
    }
    s.ticks = 0;
    if (s.item.item != nullptr) s.item.item->status &= ~store::STATUS_TIMEOUT;
    env_.harvest.run.total_bytes += count;
    hooks_.show_total_bytes(env_.harvest.run.total_bytes);
    reader.set_body_limit(body_room(slot));
    const std::string_view bytes(chunk_.data(), static_cast<std::size_t>(count));
    const std::size_t taken = reader.feed(bytes);
    s.received = static_cast<int32_t>(
        std::min<std::size_t>(reader.text().size(), std::numeric_limits<int32_t>::max()));
    if (reader.state() == ReadState::Done || reader.state() == ReadState::Failed) {
        end_modern(slot, taken == static_cast<std::size_t>(count), false, false);
    } else if (s.received > 0) {
        status(slot, "Reading: " + std::to_string(s.received));
    }
}

void FetchEngine::retry_on_fresh_connection(int slot) {
    Slot& s = slot_at(slot);
    if (has_socket(s)) network_.close(s.socket);
    s.socket = 0;
    s.reader.reset();
    s.response.clear();
    s.received = 0;
    s.reused = false;
    s.retried = true;
    // A new request: its deadline counts from here, as on any fresh connection.
    s.fetch_ticks = 0;
    enter_state(s, SlotState::Idle);
    s.socket = network_.open_socket();
    if (s.socket == -1 || s.socket == 0) {
        s.socket = 0;
        status(slot, "Unable to get socket (waiting)");
        hooks_.link_unanswered(slot);
        post_drive(slot);
        return;
    }
    enter_state(s, SlotState::LookingUp);
    start_lookup(slot);
}

namespace {

std::string_view read_error_text(ReadError error) {
    switch (error) {
        case ReadError::None:
            return "no error";
        case ReadError::HeaderTooLong:
            return "header too long";
        case ReadError::NotHttp:
            return "no status line";
        case ReadError::BadLength:
            return "bad Content-Length";
        case ReadError::BadChunk:
            return "bad chunk";
        case ReadError::TooManyInterim:
            return "too many interim answers";
        case ReadError::BadEncoding:
            return "damaged compressed body";
        case ReadError::EndedEarly:
            return "ended early";
    }
    return "unknown";
}

}  // namespace

void FetchEngine::end_modern(int slot, bool clean, bool stalled, bool read_failed) {
    Slot& s = slot_at(slot);
    HttpReader& reader = *s.reader;
    store::ItemRecord* item = s.item.item;
    const bool robots = fetching_robots(slot);
    const bool answered = reader.state() == ReadState::Body || !reader.text().empty();
    if (reader.state() != ReadState::Done && s.reused && !s.retried && !answered &&
        (stalled || reader.error() == ReadError::EndedEarly ||
         reader.error() == ReadError::NotHttp)) {
        // The server closed the kept connection (or left it silent, or an earlier answer's
        // tail was on it) before it answered this request: no fault of the link's.
        retry_on_fresh_connection(slot);
        return;
    }
    if (robots && (stalled || read_failed)) {
        // A robots.txt whose connection failed may have lost its end, and with it rules that
        // forbid, also when its body runs to the end of the connection: no answer, however
        // much came. The status line keeps the cause.
        close_slot(env_, slot);
        fail_item(env_, slot);
        after_response(slot);
        return;
    }
    if (reader.state() != ReadState::Done) {
        if (!answered && !robots) {
            // Nothing came: as the classic way, the link waits for a later run.
            if (stalled && item != nullptr) item->status |= store::STATUS_TIMEOUT;
            hooks_.link_unanswered(slot);
            close_slot(env_, slot);
        } else if (reader.error() == ReadError::EndedEarly && !robots) {
            // Shown as a link that timed out; its line in the links file is not rewritten,
            // so the next run asks for it again.
            const int64_t missing = reader.bytes_missing();
            status(slot, missing > 0 ? "Response cut short (" + std::to_string(missing) +
                                           " bytes missing): left for a later run"
                                     : std::string("Response cut short: left for a later run"));
            item->status |= store::STATUS_TIMEOUT;
            hooks_.link_unanswered(slot);
            harvest::HarvestEnv& h = env_.harvest;
            if (h.lists.links.contains(*item)) h.shell.link_row_changed(*item);
            close_slot(env_, slot);
        } else {
            status(slot, "Bad Response (" + std::string(read_error_text(reader.error())) + ")");
            close_slot(env_, slot);
            fail_item(env_, slot);
        }
        after_response(slot);
        return;
    }
    s.response = std::move(reader.output());
    s.received = static_cast<int32_t>(
        std::min<std::size_t>(s.response.size(), std::numeric_limits<int32_t>::max()));
    s.page_cut = reader.cut();
    if (clean && !stalled && reader.reusable()) {
        keep_connection(slot);
    } else if (has_socket(s)) {
        network_.close(s.socket);
        s.socket = 0;
    }
    status(slot, "Transferred " + std::to_string(s.received) + " Bytes");
    complete_response(env_, slot);
    after_response(slot);
}

void FetchEngine::end_of_response(int slot) {
    Slot& s = slot_at(slot);
    if (s.received > 0) {
        status(slot, "Transferred " + std::to_string(s.received) + " Bytes");
        finish_response(slot);
    } else {
        if (!fetching_robots(slot)) hooks_.link_unanswered(slot);
        enter_state(s, SlotState::Idle);
    }
    after_response(slot);
}

void FetchEngine::finish_response(int slot) {
    Slot& s = slot_at(slot);
    store::ItemRecord* item = s.item.item;
    // A page cut at the limit was cut here, on purpose; a robots.txt has rules of its own for
    // an answer cut short, and a download is the vendor's to judge.
    const bool whole_expected = item != nullptr && s.received <= kMaxPageBytes &&
                                !fetching_robots(slot) && !is_download(env_, item);
    const int64_t missing = whole_expected ? body_bytes_missing(s.response_text()) : 0;
    if (missing == 0) {
        complete_response(env_, slot);
        return;
    }
    // Shown as a link that timed out; its line in the links file is not rewritten, so the
    // file keeps it unvisited and the next run asks for it again.
    status(slot, "Response cut short (" + std::to_string(missing) + " bytes missing): left for "
                 "a later run");
    item->status |= store::STATUS_TIMEOUT;
    hooks_.link_unanswered(slot);
    harvest::HarvestEnv& h = env_.harvest;
    if (h.lists.links.contains(*item)) h.shell.link_row_changed(*item);
    close_slot(env_, slot);
}

void FetchEngine::completion_check() {
    if (stop_if_unwritable()) return;
    int idle = 0;
    while (idle < kMaxSlots && slot_at(idle).state == SlotState::Idle) ++idle;
    if (idle < kMaxSlots || !loop_.timer_running(platform::kHarvestTimer)) return;
    // Links waiting for their site's robots.txt or delay are still to be fetched.
    if (env_.politeness != nullptr && politeness_.holding()) return;
    harvest::RunState& run = env_.harvest.run;
    switch (run.engine_mode) {
        case harvest::kModeHarvest:
            status(-1, "Hunt Complete");
            hooks_.stop_all();
            break;
        case harvest::kModeSinglePage:
            hooks_.stop_all();
            hooks_.open_single_page();
            run.engine_mode = harvest::kModeHarvest;
            break;
        default:
            hooks_.stop_all();
            break;
    }
}

void FetchEngine::on_lookup_done(int event_id, int error, std::string_view address) {
    const int slot = lookup_slot(event_id);
    if (slot < 0 || slot >= packcount_) return;
    Slot& s = slot_at(slot);
    // A look-up whose fetch was already given up (abort tick, stop) finds the slot elsewhere.
    if (s.state != SlotState::LookingUp) return;
    if (error != 0) {
        const std::string host = connect_host(store::url_text(s.item.item), options_of(slot));
        const int64_t ticks = std::max<int64_t>(kDeadHostMs / std::max<int32_t>(tick_ms_, 1), 1);
        dead_hosts_[host] = ticks_ + ticks;
        host_not_found(slot);
        return;
    }
    s.address = std::string(address.substr(0, kMaxAddressText));
    enter_state(s, SlotState::Connecting);
    drive_slot(slot);
}

bool FetchEngine::host_known_dead(const store::ItemRecord* item) const {
    if (dead_hosts_.empty() || item == nullptr) return false;
    const auto dead = dead_hosts_.find(connect_host(store::url_text(item), options_));
    return dead != dead_hosts_.end() && ticks_ < dead->second;
}

void FetchEngine::host_not_found(int slot) {
    Slot& s = slot_at(slot);
    status(slot, "Host Not Found");
    if (s.item.item != nullptr) s.item.item->status |= store::STATUS_HOST_NOT_FOUND;
    fail_item(env_, slot);
    post_drive(slot);  // a dead host must not hold the slot until the next tick
}

void FetchEngine::on_connect_done(int socket, int error) {
    const int slot = slot_of_socket(socket);
    if (slot < 0) return;
    Slot& s = slot_at(slot);
    if (error == platform::kTlsFailed) {
        secure_connect_failed(slot);
        return;
    }
    if (error != 0) {
        if (error == platform::kConnectionRefused) {
            status(slot, "Connection Refused");
        } else if (error == platform::kConnectTimedOut) {
            status(slot, "Connect Timeout");
        } else {
            status(slot, "Winsock Error " + std::to_string(error) + " (1499)");
        }
        enter_state(s, SlotState::Idle);
        post_drive(slot);  // the next link need not wait for the tick
        return;
    }
    // Only a slot that is connecting moves on: a late or repeated completion (data may already
    // have come) must not send the request again.
    if (s.state != SlotState::Connecting) return;
    enter_state(s, SlotState::Sending);
    drive_slot(slot);
}

void FetchEngine::on_data_ready(int socket, int error) {
    const int slot = slot_of_socket(socket);
    if (slot < 0) {
        (void)drop_idle_connection(socket);
        return;
    }
    Slot& s = slot_at(slot);
    // The response of this socket has already been handled.
    if (s.state == SlotState::Idle || s.state == SlotState::LookingUp ||
        s.state == SlotState::Finishing) {
        return;
    }
    if (error != 0) {
        status(slot, "Winsock Error " + std::to_string(error) + " (1100)");
        enter_state(s, SlotState::Idle);
        post_drive(slot);
        return;
    }
    enter_state(s, SlotState::Receiving);
    drive_slot(slot);
}

void FetchEngine::on_tick() {
    ++ticks_;
    const int64_t idle_ticks = std::max<int64_t>(kIdleKeepMs / std::max<int32_t>(tick_ms_, 1), 1);
    std::erase_if(idle_, [&](const IdleConnection& c) {
        if (ticks_ - c.since < idle_ticks) return false;
        network_.close(c.socket);
        return true;
    });
    if (env_.politeness != nullptr) politeness_.on_tick();
    for (int slot = 0; slot < packcount_; ++slot) {
        Slot& s = slot_at(slot);
        ++s.ticks;
        // A setup file download has no such limit: it may rightly take long.
        if (s.state != SlotState::Idle && !is_download(env_, s.item.item) &&
            ++s.fetch_ticks > deadline_ticks_) {
            // Progress has kept the abort away, but the response as a whole took too long:
            // the link timed out, whatever came of it.
            s.ticks = 0;
            status(slot, "Timeout Error...(Too Slow)");
            if (s.item.item != nullptr) s.item.item->status |= store::STATUS_TIMEOUT;
            close_slot(env_, slot);
            fail_item(env_, slot);
            drive_slot(slot);
            continue;
        }
        if (s.ticks == kRetryTicks) {
            status(slot, "Timeout Error...(Retry)");
            drive_slot(slot);
        }
        if (s.ticks > kAbortTicks) {
            s.ticks = 0;
            status(slot, "Timeout Error...(Abort)");
            // A kept connection that stays silent is judged as one its server closed.
            if (s.reader != nullptr &&
                (s.state == SlotState::Receiving || (s.state == SlotState::Sending && s.reused))) {
                s.reader->end_of_stream();
                end_modern(slot, false, true, false);
                continue;
            }
            // A robots.txt cut short goes as if nothing had come (see receive).
            if (s.received > 0 && !fetching_robots(slot)) {
                finish_response(slot);
                if (has_socket(s)) network_.close(s.socket);
                s.socket = 0;
                after_response(slot);
                continue;
            }
            if (s.item.item != nullptr) s.item.item->status |= store::STATUS_TIMEOUT;
            close_slot(env_, slot);
            fail_item(env_, slot);
            drive_slot(slot);
            continue;
        }
        if (s.state == SlotState::Idle || s.state == SlotState::Receiving) drive_slot(slot);
    }
}

}  // namespace tarnvelox::net
