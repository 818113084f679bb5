// Tests of the Qt binding against servers of the test's own on 127.0.0.1: plain and TLS
// exchanges read in small pieces, refused connects, certificate failures, look-ups, timers and
// posted commands. Every wait is bounded by a deadline.

#include "platform/qt/qt_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "fakes/self_signed_tls.h"
#include "platform/qt/qt_event_loop.h"

namespace tarnvelox::platform::qt {
namespace {

constexpr int kWaitMs = 5000;       // bound of every wait for an event
constexpr int kServerWaitMs = 5000;  // bound of every wait inside a test server

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "qt_network_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the Qt loop until `done` holds or `ms` have passed; whether `done` held.
bool run_until(const std::function<bool()>& done, int ms = kWaitMs) {
    application();
    QTimer wake;  // keeps WaitForMoreEvents from sleeping past the deadline
    wake.start(10);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

void run_for(int ms) {
    run_until([] { return false; }, ms);
}

// Records every event; optional hooks act on them as the core would.
struct RecordingSink : EventSink {
    std::vector<std::string> log;
    std::function<void(int)> timer_hook;
    std::function<void(int)> command_hook;
    std::function<void(int, int)> connect_hook;
    std::function<void(int, int)> data_hook;
    std::function<void(int, int, std::string_view)> lookup_hook;

    void on_timer(int id) override {
        log.push_back("timer " + std::to_string(id));
        if (timer_hook) timer_hook(id);
    }
    void on_command(int id) override {
        log.push_back("command " + std::to_string(id));
        if (command_hook) command_hook(id);
    }
    void on_connect_done(int socket, int error) override {
        log.push_back("connect " + std::to_string(error));
        if (connect_hook) connect_hook(socket, error);
    }
    void on_data_ready(int socket, int error) override {
        if (data_hook) data_hook(socket, error);
    }
    void on_lookup_done(int id, int error, std::string_view address) override {
        log.push_back("lookup " + std::to_string(id) + " " + std::to_string(error) + " " +
                      std::string(address));
        if (lookup_hook) lookup_hook(id, error, address);
    }
};

// A server on 127.0.0.1 in a thread of its own, plain or TLS, for `connections` connections
// one after the other: it reads each request up to the blank line, answers, and closes (after
// a close_notify for TLS, then waiting for the client to close first, as servers that hold
// their FIN do).
class LoopbackServer {
public:
    // With `hold_end`, the server ends the response only once the test has set it (or its
    // wait has timed out), so the test can see what arrives before the end.
    explicit LoopbackServer(std::string response, SSL_CTX* tls = nullptr,
                            const std::atomic<bool>* hold_end = nullptr, int connections = 1)
        : response_(std::move(response)), tls_(tls), hold_end_(hold_end),
          connections_(connections) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
            ::listen(listener_, 1) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) == 0) {
            port_ = ntohs(at.sin_port);
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        join();
        ::close(listener_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // Waits for the server to finish (bounded by its own timeouts).
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    // Valid after join(); the last connection's.
    const std::string& request() const { return request_; }
    bool client_closed_first() const { return client_closed_first_; }

private:
    static bool wait_readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, kServerWaitMs) == 1;
    }

    void serve() {
        for (int served = 0; served < connections_ && serve_one(); ++served) {
        }
    }

    // Whether a connection was accepted.
    bool serve_one() {
        if (port_ == 0 || !wait_readable(listener_)) return false;
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return false;
        request_.clear();
        timeval limit{kServerWaitMs / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        SSL* ssl = nullptr;
        if (tls_ != nullptr) {
            ssl = SSL_new(tls_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {  // the client refused our certificate
                SSL_free(ssl);
                ::close(fd);
                return true;
            }
        }
        char buffer[512];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            int got = ssl != nullptr ? SSL_read(ssl, buffer, sizeof buffer)
                                     : static_cast<int>(::recv(fd, buffer, sizeof buffer, 0));
            if (got <= 0) break;
            request_.append(buffer, static_cast<std::size_t>(got));
        }
        if (ssl != nullptr) {
            SSL_write(ssl, response_.data(), static_cast<int>(response_.size()));
            for (int waited = 0; hold_end_ != nullptr && !*hold_end_ && waited < kServerWaitMs;
                 waited += 5) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            SSL_shutdown(ssl);
            // Hold our FIN until the client has closed its side.
            // (Our peer's close_notify may come first; the recv timeout bounds the wait.)
            long got = 0;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            }
            client_closed_first_ = got == 0;
            SSL_free(ssl);
        } else {
            ::send(fd, response_.data(), response_.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
        return true;
    }

    std::string response_;
    SSL_CTX* tls_;
    const std::atomic<bool>* hold_end_;
    int connections_;
    int listener_ = -1;
    int port_ = 0;
    std::string request_;
    bool client_closed_first_ = false;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on: bound, then released.
int closed_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    ::close(fd);
    return ntohs(at.sin_port);
}

using tarnvelox::testing::SelfSignedServerContext;

const std::string kRequest = "GET /page.html HTTP/1.0\r\nHost: localhost\r\n\r\n";

std::string canned_response(std::size_t body_size) {
    std::string body;
    for (std::size_t i = 0; i < body_size; ++i) {
        body += static_cast<char>('a' + i % 26);
    }
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body;
}

class QtNetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        ASSERT_TRUE(network_.start());
    }

    // Drives one request through `socket` as the fetch engine does: send on connect, then one
    // read of at most `piece` bytes per data-ready event until the read of 0.
    void exchange(int socket, int piece) {
        sink_.connect_hook = [this, socket](int s, int error) {
            ASSERT_EQ(s, socket);
            ASSERT_EQ(error, 0) << network_.tls_error_text(s);
            int send_error = 0;
            EXPECT_EQ(network_.send(s, kRequest, send_error), static_cast<int>(kRequest.size()));
        };
        sink_.data_hook = [this, socket, piece](int s, int error) {
            ASSERT_EQ(s, socket);
            ASSERT_EQ(error, 0);
            ++data_events_;
            std::vector<char> buffer(static_cast<std::size_t>(piece) + 1, '#');
            int read_error = 0;
            int got = network_.receive(s, buffer.data(), piece, read_error);
            EXPECT_EQ(buffer[static_cast<std::size_t>(piece)], '#') << "read past max";
            if (got > 0) {
                received_.append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0) {
                ended_ = true;
                network_.close(s);  // from inside the notifier's own handler
            } else {
                EXPECT_EQ(read_error, kWouldBlock);
            }
        };
    }

    RecordingSink sink_;
    QtNetwork network_{sink_};
    std::string received_;
    int data_events_ = 0;
    bool ended_ = false;
};

TEST_F(QtNetworkTest, PlainExchangeIsReadInPiecesUntilTheEnd) {
    const std::string response = canned_response(3000);
    LoopbackServer server(response);
    int socket = network_.open_socket();
    ASSERT_GT(socket, 0);
    exchange(socket, 228);
    ASSERT_EQ(network_.connect(socket, "127.0.0.1", server.port(), false, "localhost"),
              kWouldBlock);
    EXPECT_TRUE(sink_.log.empty()) << "the connect result must not come from inside connect()";
    ASSERT_TRUE(run_until([&] { return ended_; }));
    EXPECT_EQ(received_, response);
    // One read per event: at least as many events as 228-byte pieces, plus the end.
    EXPECT_GE(data_events_, static_cast<int>((response.size() + 227) / 228) + 1);
    EXPECT_EQ(sink_.log, std::vector<std::string>{"connect 0"});
    run_for(20);  // nothing more arrives for a closed socket
    EXPECT_EQ(sink_.log.size(), 1u);
}

TEST_F(QtNetworkTest, ServerSeesTheExactRequestBytes) {
    LoopbackServer server(canned_response(10));
    int socket = network_.open_socket();
    exchange(socket, 1);
    ASSERT_EQ(network_.connect(socket, "127.0.0.1", server.port(), false, ""), kWouldBlock);
    ASSERT_TRUE(run_until([&] { return ended_; }));
    EXPECT_EQ(received_, canned_response(10));  // one byte per event still assembles it
    server.join();
    EXPECT_EQ(server.request(), kRequest);
}

TEST_F(QtNetworkTest, ConnectFailuresAreReportedAsEvents) {
    int socket = network_.open_socket();
    ASSERT_GT(socket, 0);
    ASSERT_EQ(network_.connect(socket, "127.0.0.1", closed_port(), false, ""), kWouldBlock);
    EXPECT_TRUE(sink_.log.empty());
    ASSERT_TRUE(run_until([&] { return !sink_.log.empty(); }));
    EXPECT_EQ(sink_.log, std::vector<std::string>{"connect " + std::to_string(kConnectionRefused)});
    int error = 0;
    EXPECT_EQ(network_.send(socket, "x", error), -1);
    EXPECT_EQ(error, kNotConnected);
    network_.close(socket);

    // Arguments that cannot be connected to fail at once, without an event.
    int other = network_.open_socket();
    EXPECT_EQ(network_.connect(other, "127.0.0.300", 80, false, ""), kInvalidArgument);
    EXPECT_EQ(network_.connect(other, "localhost", 80, false, ""), kInvalidArgument);
    EXPECT_EQ(network_.connect(other, "127.0.0.1", 0, false, ""), kInvalidArgument);
    EXPECT_EQ(network_.connect(other + 1000, "127.0.0.1", 80, false, ""), kNotASocket);
    network_.close(other);
    EXPECT_EQ(network_.receive(other, nullptr, 1, error), -1);
    EXPECT_EQ(error, kNotASocket);
    run_for(20);
    EXPECT_EQ(sink_.log.size(), 1u);
}

TEST_F(QtNetworkTest, ClosingBeforeTheConnectFinishesDropsItsEvent) {
    LoopbackServer server("");
    int socket = network_.open_socket();
    ASSERT_EQ(network_.connect(socket, "127.0.0.1", closed_port(), false, ""), kWouldBlock);
    network_.close(socket);
    // The server thread needs one connection to finish; give it one that is closed at once.
    int unblock = network_.open_socket();
    ASSERT_EQ(network_.connect(unblock, "127.0.0.1", server.port(), false, ""), kWouldBlock);
    sink_.connect_hook = [this](int s, int) { network_.close(s); };
    ASSERT_TRUE(run_until([&] { return !sink_.log.empty(); }));
    run_for(50);
    EXPECT_EQ(sink_.log, std::vector<std::string>{"connect 0"});
}

class QtTlsTest : public QtNetworkTest {
protected:
    void trust_own_certificate() {
        ASSERT_TRUE(dir_.isValid());
        std::string path = dir_.filePath("trusted.pem").toStdString();
        ASSERT_TRUE(server_context_.write_certificate(path));
        ASSERT_TRUE(network_.use_trust_file(path));
    }

    SelfSignedServerContext server_context_;
    QTemporaryDir dir_;
};

TEST_F(QtTlsTest, TrustedCertificateExchangeEndsAtCloseNotify) {
    trust_own_certificate();
    // One large record: most of it waits inside OpenSSL, not on the socket.
    const std::string response = canned_response(6000);
    std::atomic<bool> release_end{false};
    LoopbackServer server(response, server_context_.get(), &release_end);
    int socket = network_.open_socket();
    exchange(socket, 100);
    ASSERT_EQ(network_.connect(socket, "127.0.0.1", server.port(), true, "localhost"),
              kWouldBlock);
    // The whole response arrives while the socket itself has nothing more to signal.
    bool all_before_end = run_until([&] { return received_.size() >= response.size(); }, 2000);
    release_end = true;
    EXPECT_TRUE(all_before_end) << "bytes buffered by OpenSSL were not re-signalled";
    ASSERT_TRUE(run_until([&] { return ended_; }));
    EXPECT_EQ(received_, response);
    EXPECT_EQ(sink_.log, std::vector<std::string>{"connect 0"});
    // Bytes kept inside OpenSSL were re-signalled: one event per 100-byte read at least.
    EXPECT_GE(data_events_, static_cast<int>(response.size() / 100));
    server.join();
    EXPECT_EQ(server.request(), kRequest);
    // The server held its FIN until we closed: ending at close_notify is what freed it.
    EXPECT_TRUE(server.client_closed_first());
}

TEST_F(QtTlsTest, CertificateFailuresAreConnectErrorsWithAText) {
    struct Case {
        const char* name;
        bool trusted;
        const char* host_name;
        const char* text;
    };
    const Case cases[] = {
        {"self-signed, not in the trust store", false, "localhost", "self"},
        {"trusted, but for another name", true, "other.test", "hostname mismatch"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        if (row.trusted) trust_own_certificate();
        sink_.log.clear();
        LoopbackServer server(canned_response(10), server_context_.get());
        int socket = network_.open_socket();
        sink_.data_hook = [](int, int) { ADD_FAILURE() << "no data after a failed handshake"; };
        ASSERT_EQ(network_.connect(socket, "127.0.0.1", server.port(), true, row.host_name),
                  kWouldBlock);
        ASSERT_TRUE(run_until([&] { return !sink_.log.empty(); }));
        EXPECT_EQ(sink_.log, std::vector<std::string>{"connect " + std::to_string(kTlsFailed)});
        EXPECT_NE(network_.tls_error_text(socket).find(row.text), std::string::npos)
            << network_.tls_error_text(socket);
        network_.close(socket);
    }
}

TEST_F(QtTlsTest, NewConnectionsResumeSessionsUntilTheTrustStoreChanges) {
    const std::string response = canned_response(500);
    // Fetches over `count` connections opened at once, each closed as a client keeping
    // connections alive does it: as soon as the whole response is in, before the server's end
    // of stream has been read. How many of them resumed a session.
    auto fetch = [&](int port, int count) {
        std::map<int, std::string> received;
        int resumed = 0;
        int done = 0;
        sink_.connect_hook = [&](int s, int error) {
            ASSERT_EQ(error, 0) << network_.tls_error_text(s);
            resumed += network_.resumed(s) ? 1 : 0;
            int send_error = 0;
            EXPECT_EQ(network_.send(s, kRequest, send_error), static_cast<int>(kRequest.size()));
        };
        sink_.data_hook = [&](int s, int) {
            char piece[100];
            int read_error = 0;
            int got = network_.receive(s, piece, sizeof piece, read_error);
            if (got > 0) received[s].append(piece, static_cast<std::size_t>(got));
            if (got == 0 || received[s].size() >= response.size() ||
                (got < 0 && read_error != kWouldBlock)) {
                EXPECT_EQ(received[s], response);
                network_.close(s);
                ++done;
            }
        };
        for (int i = 0; i < count; ++i) {
            int socket = network_.open_socket();
            EXPECT_EQ(network_.connect(socket, "127.0.0.1", port, true, "localhost"), kWouldBlock);
        }
        EXPECT_TRUE(run_until([&] { return done == count; }));
        sink_.connect_hook = nullptr;
        sink_.data_hook = nullptr;
        return resumed;
    };
    struct Case {
        const char* name;
        int version;
        bool single_use_tickets;  // the server takes each ticket once (it keeps them itself)
    };
    const Case cases[] = {
        {"TLS 1.3", TLS1_3_VERSION, false},
        {"TLS 1.3, tickets taken once", TLS1_3_VERSION, true},
        {"TLS 1.2", TLS1_2_VERSION, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(SSL_CTX_set_max_proto_version(server_context_.get(), row.version), 1);
        // Early data on turns the server's replay protection on: each ticket works once.
        const std::uint32_t early_data = row.single_use_tickets ? 1024 : 0;
        ASSERT_EQ(SSL_CTX_set_max_early_data(server_context_.get(), early_data), 1);
        trust_own_certificate();
        LoopbackServer server(response, server_context_.get(), nullptr, 4);
        EXPECT_EQ(fetch(server.port(), 1), 0);
        EXPECT_EQ(fetch(server.port(), 2), 2) << "a later connection made a full handshake";
        // A session verified against the old trust store must not skip the new one.
        trust_own_certificate();
        EXPECT_EQ(fetch(server.port(), 1), 0);
    }
}

TEST_F(QtNetworkTest, LookupsAnswerLaterWithADottedAddress) {
    ASSERT_TRUE(network_.lookup(1332, "localhost"));
    ASSERT_TRUE(network_.lookup(1333, "127.0.0.5"));
    EXPECT_FALSE(network_.lookup(1334, ""));
    EXPECT_TRUE(sink_.log.empty()) << "answers must not come from inside lookup()";
    ASSERT_TRUE(run_until([&] { return sink_.log.size() == 2; }));
    std::sort(sink_.log.begin(), sink_.log.end());
    EXPECT_EQ(sink_.log, (std::vector<std::string>{"lookup 1332 0 127.0.0.1",
                                                   "lookup 1333 0 127.0.0.5"}));
}

class QtEventLoopTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }
    RecordingSink sink_;
    QtEventLoop loop_{sink_};
};

TEST_F(QtEventLoopTest, TimersRepeatUntilKilledEvenFromTheirOwnTick) {
    int ticks = 0;
    sink_.timer_hook = [&](int id) {
        EXPECT_EQ(id, kHarvestTimer);
        if (++ticks == 3) loop_.kill_timer(kHarvestTimer);
    };
    loop_.start_timer(kHarvestTimer, 5);
    EXPECT_TRUE(loop_.timer_running(kHarvestTimer));
    EXPECT_FALSE(loop_.timer_running(kActivityTimer));
    ASSERT_TRUE(run_until([&] { return ticks == 3; }));
    EXPECT_FALSE(loop_.timer_running(kHarvestTimer));
    run_for(50);
    EXPECT_EQ(ticks, 3);
    loop_.kill_timer(kHarvestTimer);  // killing a stopped timer is harmless
}

TEST_F(QtEventLoopTest, StartingARunningTimerReplacesItsPeriod) {
    loop_.start_timer(kActivityTimer, 60000);
    loop_.start_timer(kActivityTimer, kActivityPeriodMs / 10);
    ASSERT_TRUE(run_until([&] { return sink_.log.size() >= 2; }, 2000));
    for (const std::string& entry : sink_.log) {
        EXPECT_EQ(entry, "timer " + std::to_string(kActivityTimer));
    }
    loop_.kill_timer(kActivityTimer);
}

TEST_F(QtEventLoopTest, PostedCommandsArriveAfterTheCurrentEventInOrder) {
    sink_.command_hook = [&](int id) {
        if (id == 1101) {
            loop_.post_command(1255);
            sink_.log.push_back("end 1101");
        }
    };
    loop_.post_command(1101);
    loop_.post_command(1262);
    EXPECT_TRUE(sink_.log.empty());
    ASSERT_TRUE(run_until([&] { return sink_.log.size() == 4; }));
    EXPECT_EQ(sink_.log, (std::vector<std::string>{"command 1101", "end 1101", "command 1262",
                                                   "command 1255"}));
}

TEST_F(QtEventLoopTest, DestroyingTheLoopDropsPendingCommandsAndTimers) {
    RecordingSink sink;
    {
        QtEventLoop loop(sink);
        loop.post_command(1101);
        loop.start_timer(kHarvestTimer, 1);
    }
    run_for(30);
    EXPECT_TRUE(sink.log.empty());
}

}  // namespace
}  // namespace tarnvelox::platform::qt
