#pragma once

// A scripted event loop and network for tests: timers fire only when the test says so, posted
// commands and socket/look-up completions wait in one queue until the test runs it, and each
// server (by dotted address) plays canned bytes in chunks of a chosen size, then closes, stalls
// or fails. Every socket remembers what it was sent. Data-ready is level-triggered, as in the
// real binding: it is queued again after every read while unread bytes or the close remain.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"

namespace tarnvelox::testing {

class ScriptedNetwork : public platform::EventLoop, public platform::Network {
public:
    enum class End { Close, Stall, Error };

    struct Server {
        std::string reply;       // bytes sent once a request has arrived
        std::size_t chunk = 0;   // at most this many bytes per read; 0: no limit
        End end = End::Close;    // what follows the reply
        int end_error = 10054;   // with End::Error: the read error
        int connect_error = 0;   // reported by the connect event (e.g. refused)
        int connect_now = 0;     // non-zero: connect() fails at once with this error
        std::string tls_error = {};  // why a TLS connect failed (kTlsFailed)
        bool trickle = false;        // bytes come only as the test releases them (release())
        // Replies by request target ("/robots.txt"): the n-th request for a target gets its
        // n-th reply, the last one again after that; targets not named here get `reply`.
        std::map<std::string, std::vector<std::string>> by_target = {};
        // Answers request after request on one connection: once a reply is read the
        // connection waits quietly for the next request. After `keep_requests` replies (0: no
        // limit) it has gone without a sign: the next request reads the end, or `end`.
        bool keep_alive = false;
        int keep_requests = 0;
    };

    struct Socket {
        int id = 0;
        std::string address;
        int port = 0;
        bool tls = false;
        std::string host_name;
        int connects = 0;
        std::string sent;
        std::size_t read_pos = 0;
        bool eof_read = false;
        bool closed = false;
        bool ready_queued = false;
        std::size_t released = 0;  // a trickling server's bytes the test has let through
        std::optional<std::string> reply;  // chosen by the request target (Server::by_target)
        std::size_t request_start = 0;     // where the current request begins in `sent`
        int exchanges = 0;                 // requests begun on this connection
    };

    // ---- script ---------------------------------------------------------------------------
    void serve(const std::string& address, Server server) { servers_[address] = std::move(server); }
    void resolve(const std::string& host, const std::string& address) { hosts_[host] = address; }

    bool start_ok = true;
    bool sockets_available = true;
    bool lookups_start = true;
    std::size_t read_limit = 0;  // every server's chunk when non-zero (one-byte runs)

    // ---- what happened --------------------------------------------------------------------
    std::vector<Socket> sockets;                      // in order of opening
    std::vector<std::pair<int, std::string>> lookups; // event id, host
    std::size_t max_open = 0;                         // most sockets open at one time
    struct Request {
        std::string address;
        std::string target;  // the request line's second word
    };
    std::vector<Request> requests;  // every request sent, in order

    // How many requests named `target` (on any server).
    [[nodiscard]] int requests_for(std::string_view target) const {
        const auto named = [&](const Request& r) { return r.target == target; };
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), named));
    }

    [[nodiscard]] const Socket* socket(int id) const {
        for (const Socket& s : sockets) {
            if (s.id == id) return &s;
        }
        return nullptr;
    }
    [[nodiscard]] std::size_t open_count() const {
        return static_cast<std::size_t>(
            std::count_if(sockets.begin(), sockets.end(), [](const Socket& s) { return !s.closed; }));
    }

    // ---- driving --------------------------------------------------------------------------
    // Delivers queued events and posted commands in order until none is left (or `limit`).
    // `after` runs after each one. The count delivered.
    int run(platform::EventSink& sink, int limit = 10'000'000,
            const std::function<void()>& after = {}) {
        int delivered = 0;
        while (!queue_.empty() && delivered < limit) {
            std::function<void(platform::EventSink&)> event = std::move(queue_.front());
            queue_.pop_front();
            event(sink);
            ++delivered;
            if (after) after();
        }
        return delivered;
    }
    // Fires timer `timer_id` once when it runs (or `force`), then runs the queue.
    void fire(platform::EventSink& sink, int timer_id, bool force = false,
              const std::function<void()>& after = {}) {
        if (force || timer_running(timer_id)) sink.on_timer(timer_id);
        run(sink, 10'000'000, after);
    }
    [[nodiscard]] std::size_t queued() const { return queue_.size(); }
    // Lets `bytes` more of a trickling server's reply reach socket `id`.
    void release(int id, std::size_t bytes) {
        Socket* s = find(id);
        if (s == nullptr) return;
        s->released += bytes;
        signal_ready(*s);
    }
    // Queues a data-ready event carrying `error` for socket `id`.
    void data_error(int id, int error) {
        deliver(id, [id, error](platform::EventSink& sink) { sink.on_data_ready(id, error); });
    }

    // ---- EventLoop ------------------------------------------------------------------------
    void start_timer(int timer_id, int period_ms) override { timers_[timer_id] = period_ms; }
    void kill_timer(int timer_id) override { timers_.erase(timer_id); }
    [[nodiscard]] bool timer_running(int timer_id) const override {
        return timers_.count(timer_id) != 0;
    }
    void post_command(int command_id) override {
        queue_.emplace_back([command_id](platform::EventSink& s) { s.on_command(command_id); });
    }

    // ---- Network --------------------------------------------------------------------------
    [[nodiscard]] bool start() override { return start_ok; }
    [[nodiscard]] int open_socket() override {
        if (!sockets_available) return -1;
        Socket s;
        s.id = next_id_++;
        sockets.push_back(s);
        max_open = std::max(max_open, open_count());
        return s.id;
    }
    [[nodiscard]] int connect(int id, std::string_view address, int port, bool tls,
                              std::string_view host_name) override {
        Socket* s = find(id);
        if (s == nullptr || s->closed) return 10038;
        s->address = std::string(address);
        s->port = port;
        s->tls = tls;
        s->host_name = std::string(host_name);
        ++s->connects;
        const Server* server = server_of(*s);
        if (server == nullptr) return platform::kConnectionRefused;
        if (server->connect_now != 0) return server->connect_now;
        const int error = server->connect_error;
        deliver(id, [id, error](platform::EventSink& sink) { sink.on_connect_done(id, error); });
        return platform::kWouldBlock;
    }
    [[nodiscard]] int send(int id, std::string_view bytes, int& error) override {
        Socket* s = find(id);
        if (s == nullptr || s->closed) {
            error = 10038;
            return -1;
        }
        const Server* server = server_of(*s);
        if (server != nullptr && server->keep_alive && !s->sent.empty() &&
            s->read_pos >= reply_of(*s, *server).size()) {
            // The earlier exchange is over: this is the next request on the connection.
            s->request_start = s->sent.size();
            s->reply.reset();
            s->read_pos = 0;
        }
        s->sent.append(bytes);
        choose_reply(*s);
        signal_ready(*s);
        return static_cast<int>(bytes.size());
    }
    [[nodiscard]] int receive(int id, char* out, int max, int& error) override {
        Socket* s = find(id);
        const Server* server = s == nullptr ? nullptr : server_of(*s);
        if (s == nullptr || s->closed || server == nullptr) {
            error = 10038;
            return -1;
        }
        s->ready_queued = false;
        const std::string& reply = reply_of(*s, *server);
        std::size_t left = reply.size() - s->read_pos;
        if (server->trickle && s->read_pos < reply.size()) {
            left = std::min(left, s->released > s->read_pos ? s->released - s->read_pos : 0);
            if (left == 0) {
                error = platform::kWouldBlock;
                return -1;
            }
        }
        const bool gone = server->keep_alive && server->keep_requests != 0 &&
                          s->exchanges > server->keep_requests;
        if (gone) left = 0;
        if (server->keep_alive && left == 0 && !gone) {
            error = platform::kWouldBlock;
            return -1;
        }
        if (s->sent.empty() || (left == 0 && server->end == End::Stall)) {
            error = platform::kWouldBlock;
            return -1;
        }
        if (left == 0) {
            if (server->end == End::Error) {
                error = server->end_error;
                return -1;
            }
            s->eof_read = true;
            return 0;
        }
        std::size_t n = std::min(left, static_cast<std::size_t>(max));
        const std::size_t chunk = read_limit != 0 ? read_limit : server->chunk;
        if (chunk != 0) n = std::min(n, chunk);
        std::copy_n(reply.data() + s->read_pos, n, out);
        s->read_pos += n;
        signal_ready(*s);
        return static_cast<int>(n);
    }
    [[nodiscard]] std::string tls_error_text(int id) const override {
        for (const Socket& s : sockets) {
            if (s.id == id && !s.closed) {
                const Server* server = server_of(s);
                return server == nullptr ? std::string() : server->tls_error;
            }
        }
        return {};
    }
    void close(int id) override {
        Socket* s = find(id);
        if (s != nullptr) s->closed = true;
    }
    [[nodiscard]] bool lookup(int event_id, std::string_view host) override {
        if (!lookups_start) return false;
        lookups.emplace_back(event_id, std::string(host));
        const auto it = hosts_.find(std::string(host));
        const int error = it == hosts_.end() ? 11001 : 0;
        const std::string address = it == hosts_.end() ? std::string() : it->second;
        queue_.emplace_back([event_id, error, address](platform::EventSink& sink) {
            sink.on_lookup_done(event_id, error, address);
        });
        return true;
    }

private:
    Socket* find(int id) {
        for (Socket& s : sockets) {
            if (s.id == id) return &s;
        }
        return nullptr;
    }
    const Server* server_of(const Socket& s) const {
        const auto it = servers_.find(s.address);
        return it == servers_.end() ? nullptr : &it->second;
    }
    static const std::string& reply_of(const Socket& s, const Server& server) {
        return s.reply ? *s.reply : server.reply;
    }
    // Once the request line has come: the reply its target gets, and the request recorded.
    void choose_reply(Socket& s) {
        const std::string request = s.sent.substr(s.request_start);
        if (s.reply || request.find("\r\n") == std::string::npos) return;
        const std::size_t start = request.find(' ');
        const std::size_t end = request.find(' ', start + 1);
        const std::string target =
            start == std::string::npos ? std::string() : request.substr(start + 1, end - start - 1);
        requests.push_back({s.address, target});
        ++s.exchanges;
        const auto server = servers_.find(s.address);
        if (server == servers_.end()) return;
        const auto replies = server->second.by_target.find(target);
        if (replies == server->second.by_target.end() || replies->second.empty()) return;
        const std::size_t n = answered_[{s.address, target}]++;
        s.reply = replies->second[std::min(n, replies->second.size() - 1)];
    }
    // Queues an event for a socket; it is dropped when the socket is closed by then.
    void deliver(int id, std::function<void(platform::EventSink&)> event) {
        queue_.emplace_back([this, id, event = std::move(event)](platform::EventSink& sink) {
            const Socket* s = find(id);
            if (s != nullptr && !s->closed) event(sink);
        });
    }
    // Queues data-ready while something (bytes, the close or an error) waits to be read.
    void signal_ready(Socket& s) {
        const Server* server = server_of(s);
        if (server == nullptr || s.ready_queued || s.eof_read) return;
        const bool bytes_left = s.read_pos < reply_of(s, *server).size();
        const bool gone = server->keep_alive && server->keep_requests != 0 &&
                          s.exchanges > server->keep_requests;
        if (!bytes_left && server->keep_alive && !gone) return;
        if (!bytes_left && server->end == End::Stall) return;
        if (bytes_left && server->trickle && s.released <= s.read_pos) return;
        s.ready_queued = true;
        const int id = s.id;
        deliver(id, [this, id](platform::EventSink& sink) {
            Socket* sock = find(id);
            if (sock == nullptr) return;
            sock->ready_queued = false;
            sink.on_data_ready(id, 0);
        });
    }

    std::map<int, int> timers_;
    std::deque<std::function<void(platform::EventSink&)>> queue_;
    std::map<std::string, Server> servers_;
    std::map<std::string, std::string> hosts_;
    std::map<std::pair<std::string, std::string>, std::size_t> answered_;  // by address, target
    int next_id_ = 100;
};

}  // namespace tarnvelox::testing
