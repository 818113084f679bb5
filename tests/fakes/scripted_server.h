#pragma once

// A scripted loopback HTTP server for end-to-end tests: one thread accepts on 127.0.0.1 at a
// free port, one thread per connection answers from the routes it was given (canned pages,
// redirects, errors, and misbehaviours such as never answering or resetting). Every wait is
// bounded; stop() (or the destructor) joins every thread.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnvelox::testing {

// A scripted loopback HTTP server: one thread accepts, one thread per connection answers.

struct Route {
    enum class Kind { Canned, NeverAnswer, PartialStall, Reset, Huge, Garbage };
    Kind kind = Kind::Canned;
    int code = 200;
    std::string reason = "OK";
    std::string headers;  // extra header lines, each ending in "\r\n"
    std::string body;
    std::string type = "text/html";
    std::chrono::milliseconds delay{0};  // before a canned answer is sent
    bool gzip = false;     // a canned body goes gzip-coded when the request accepts gzip
    bool chunked = false;  // a canned body goes in chunks (with keep_alive only: HTTP/1.1)
};

// The gzip coding of `text`, as a server compresses a page.
inline std::string gzip_text(const std::string& text) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A socket listening on 127.0.0.1 at a free port, which goes to `port`; -1 on failure.
inline int listen_on_loopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1";
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

class ScriptedServer {
  public:
    ScriptedServer() { listen_fd_ = listen_on_loopback(port_); }

    ~ScriptedServer() { stop(); }

    void route(const std::string& path, Route r) {
        std::lock_guard<std::mutex> g(mu_);
        routes_[path] = std::move(r);
    }
    // The n-th request for `path` gets the n-th route, the last one again after that.
    void route_sequence(const std::string& path, std::vector<Route> routes) {
        std::lock_guard<std::mutex> g(mu_);
        sequences_[path] = std::move(routes);
    }

    void start() {
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    // Before start(): canned answers go as HTTP/1.1 and the connection stays open for the
    // client's next request, as today's servers keep it.
    void keep_alive() { keep_alive_ = true; }
    // Connections accepted so far.
    int connections() const { return accepted_.load(); }

    void stop() {
        if (stopping_.exchange(true)) return;
        if (acceptor_.joinable()) acceptor_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard<std::mutex> g(mu_);
            workers.swap(workers_);
        }
        for (auto& t : workers) t.join();
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
    }

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Requests received per path, and answers sent completely per path.
    int requests(const std::string& path) {
        std::lock_guard<std::mutex> g(mu_);
        auto it = requested_.find(path);
        return it == requested_.end() ? 0 : it->second;
    }
    std::map<std::string, int> requested() {
        std::lock_guard<std::mutex> g(mu_);
        return requested_;
    }
    int total_answered() const { return answered_.load(); }
    // The most connections that were open at one time. A connection stops counting before the
    // server closes it, so a client that waits for the close never sees it counted.
    int max_concurrent() const { return max_open_.load(); }

  private:
    void accept_loop() {
        while (!stopping_.load()) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            ++accepted_;
            std::lock_guard<std::mutex> g(mu_);
            workers_.emplace_back([this, fd] { serve(fd); });
        }
    }

    // Waits until the server stops, the peer closes, or `limit` passes.
    void hold(int fd, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        char buf[512];
        while (!stopping_.load() && std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
            }
        }
    }

    static bool send_all(int fd, const char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    static std::string head(const Route& r, std::size_t length) {
        std::ostringstream out;
        out << "HTTP/1.0 " << r.code << ' ' << r.reason << "\r\n"
            << "Content-Type: " << r.type << "\r\n"
            << "Content-Length: " << length << "\r\n"
            << r.headers << "Connection: close\r\n\r\n";
        return out.str();
    }

    // A canned answer that keeps the connection: HTTP/1.1, the body gzip-coded and in chunks
    // when the route says so.
    static std::string kept_answer(const Route& r, bool accepts_gzip) {
        const bool gzip = r.gzip && accepts_gzip;
        const std::string body = gzip ? gzip_text(r.body) : r.body;
        std::ostringstream out;
        out << "HTTP/1.1 " << r.code << ' ' << r.reason << "\r\n"
            << "Content-Type: " << r.type << "\r\n" << r.headers;
        if (gzip) out << "Content-Encoding: gzip\r\n";
        if (!r.chunked) {
            out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
            return out.str();
        }
        out << "Transfer-Encoding: chunked\r\n\r\n";
        for (std::size_t at = 0; at < body.size(); at += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, body.size() - at);
            out << std::hex << n << ";ext=1\r\n" << body.substr(at, n) << "\r\n";
        }
        out << "0\r\nX-Trailer: 1\r\n\r\n";
        return out.str();
    }

    void serve(int fd) {
        {
            const int open = ++open_;
            int most = max_open_.load();
            while (open > most && !max_open_.compare_exchange_weak(most, open)) {
            }
        }
        while (answer(fd) && keep_alive_) {
        }
        --open_;
        ::close(fd);
    }

    // One request and its answer; true when the connection may carry the next one.
    bool answer(int fd) {
        timeval tv{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string req;
        char buf[2048];
        while (req.find("\r\n\r\n") == std::string::npos && req.size() < 16384) {
            pollfd p{fd, POLLIN, 0};
            if (stopping_.load()) break;
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            req.append(buf, static_cast<std::size_t>(n));
        }
        std::string path;
        {
            std::istringstream line(req.substr(0, req.find("\r\n")));
            std::string method;
            line >> method >> path;
        }
        // A connection closed before its request line came (a client that gave up while
        // connecting) asked for nothing: it is not counted as a request.
        if (path.empty()) return false;
        if (path.rfind("http://", 0) == 0) {  // absolute form: keep the path only
            const auto slash = path.find('/', 7);
            path = slash == std::string::npos ? "/" : path.substr(slash);
        }
        Route r;
        bool known = false;
        {
            std::lock_guard<std::mutex> g(mu_);
            const int n = requested_[path]++;
            auto it = routes_.find(path);
            if (it != routes_.end()) {
                r = it->second;
                known = true;
            }
            auto seq = sequences_.find(path);
            if (seq != sequences_.end() && !seq->second.empty()) {
                r = seq->second[std::min<std::size_t>(n, seq->second.size() - 1)];
                known = true;
            }
        }
        if (!known) {
            r.code = 404;
            r.reason = "Not Found";
            r.body = "<html><body>missing</body></html>";
        }
        switch (r.kind) {
            case Route::Kind::Canned: {
                if (r.delay.count() > 0) hold(fd, r.delay);
                const bool gzip = req.find("Accept-Encoding: gzip") != std::string::npos;
                const std::string all =
                    keep_alive_ ? kept_answer(r, gzip) : head(r, r.body.size()) + r.body;
                if (!send_all(fd, all.data(), all.size())) return false;
                ++answered_;
                return true;
            }
            case Route::Kind::NeverAnswer:
                hold(fd, std::chrono::seconds(20));
                break;
            case Route::Kind::PartialStall: {
                const std::string all = head(r, 1000) + std::string(1000, 'x');
                send_all(fd, all.data(), 100);
                hold(fd, std::chrono::seconds(20));
                break;
            }
            case Route::Kind::Reset: {
                linger l{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                break;
            }
            case Route::Kind::Huge: {
                const std::size_t size = std::size_t{5} << 20;
                const std::string h = head(r, size);
                std::string chunk = "<html><body><p>";
                chunk.resize(64 * 1024, 'a');
                if (!send_all(fd, h.data(), h.size())) break;
                std::size_t sent = 0;
                while (sent < size && !stopping_.load()) {
                    const std::size_t n = std::min(chunk.size(), size - sent);
                    if (!send_all(fd, chunk.data(), n)) break;
                    sent += n;
                }
                break;
            }
            case Route::Kind::Garbage: {
                std::string junk = "\x01\x02\xff\xfe NOT HTTP AT ALL \x00\x7f";
                junk.append(300, '\xee');
                send_all(fd, junk.data(), junk.size());
                break;
            }
        }
        return false;
    }

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    bool keep_alive_ = false;
    std::atomic<int> accepted_{0};
    std::atomic<int> answered_{0};
    std::atomic<int> open_{0};
    std::atomic<int> max_open_{0};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<std::thread> workers_;
    std::map<std::string, Route> routes_;
    std::map<std::string, std::vector<Route>> sequences_;
    std::map<std::string, int> requested_;
};

inline Route page(const std::string& body) {
    Route r;
    r.body = "<html><head><title>t</title></head><body>" + body + "</body></html>";
    return r;
}

inline Route status(int code, const std::string& reason) {
    Route r;
    r.code = code;
    r.reason = reason;
    r.body = "<html><body>error " + std::to_string(code) + " <a href=\"mailto:hidden" +
             std::to_string(code) + "@err.example.com\">x</a></body></html>";
    return r;
}

inline Route redirect(int code, const std::string& location) {
    Route r;
    r.code = code;
    r.reason = "Moved";
    r.headers = "Location: " + location + "\r\n";
    r.body = "<html><body>moved</body></html>";
    return r;
}

inline Route behaviour(Route::Kind k) {
    Route r;
    r.kind = k;
    return r;
}

}  // namespace tarnvelox::testing
