#pragma once

// The real Network on Qt: raw non-blocking POSIX stream sockets (the handle is the file
// descriptor) watched by QSocketNotifier, OpenSSL used directly for TLS, QHostInfo for look-ups.
// Everything runs in the thread that owns the QtNetwork; events reach the EventSink given at
// construction, which must outlive this object.
//
// Data-ready is level-triggered: one event per readable moment of the socket, re-posted while
// OpenSSL holds decrypted bytes that the socket no longer signals, and an event whose read gives
// 0 once the peer has closed (for TLS: on close_notify, or on a bare end of stream).
//
// TLS sessions are kept per certificate name and port: a new connection to a server we already
// talked to offers the newest session it gave us and skips the full handshake when the server
// takes it. Changing the trust store forgets them.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>

#include "platform/event_loop.h"

class QSocketNotifier;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace tarnvelox::platform::qt {

// Error codes of this binding beyond those of event_loop.h, in the same numbering.
inline constexpr int kInvalidArgument = 10022;   // bad address or port
inline constexpr int kNotASocket = 10038;        // a handle this binding did not open
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNotConnected = 10057;
inline constexpr int kNetworkUnreachable = 10051;
inline constexpr int kHostUnreachable = 10065;
inline constexpr int kHostNotFound = 11001;      // look-up found no IPv4 address
inline constexpr int kSocketError = 10000;       // any other system error

class QtNetwork final : public Network {
public:
    explicit QtNetwork(EventSink& sink);
    ~QtNetwork() override;

    QtNetwork(const QtNetwork&) = delete;
    QtNetwork& operator=(const QtNetwork&) = delete;
    QtNetwork(QtNetwork&&) = delete;
    QtNetwork& operator=(QtNetwork&&) = delete;

    [[nodiscard]] bool start() override;
    [[nodiscard]] int open_socket() override;
    [[nodiscard]] int connect(int socket, std::string_view address, int port, bool tls,
                              std::string_view host_name) override;
    [[nodiscard]] int send(int socket, std::string_view bytes, int& error) override;
    [[nodiscard]] int receive(int socket, char* out, int max, int& error) override;
    void close(int socket) override;
    [[nodiscard]] bool lookup(int event_id, std::string_view host) override;

    // Why the TLS connect of `socket` failed ("certificate verify failed", ...), until the
    // socket is closed; empty when it did not.
    [[nodiscard]] std::string tls_error_text(int socket) const override;

    // Replaces the trust store with one PEM file (for tests with a certificate of their own);
    // false when the file cannot be loaded. Only affects connects started afterwards, none of
    // which resumes a session verified against the store replaced.
    [[nodiscard]] bool use_trust_file(const std::string& pem_path);

    // Whether the TLS handshake of `socket` resumed an earlier session instead of a full
    // handshake; false for plain sockets, unknown sockets and handshakes not done.
    [[nodiscard]] bool resumed(int socket) const;

private:
    enum class State {
        Idle,         // opened, not connecting
        Connecting,   // TCP connect in progress, the write notifier waits for it
        Handshaking,  // TLS handshake in progress
        Open,         // connected (and handshake done)
        Failed,       // connect or handshake failed; only close() is left
    };
    struct Connection;
    struct SessionFree {
        void operator()(SSL_SESSION* session) const;
    };
    using SessionPtr = std::unique_ptr<SSL_SESSION, SessionFree>;
    // The sessions of one server, oldest first.
    struct ServerSessions {
        std::vector<SessionPtr> sessions;
        std::uint64_t stored_at = 0;  // order of the servers' latest storing: lowest dropped first
    };

    // Servers whose sessions are kept: those of a crawl that talks to many hosts at once; a
    // server dropped early only pays one full handshake again.
    static constexpr std::size_t kMaxSessionServers = 64;
    // Sessions kept per server. A TLS 1.3 server sends a ticket or two per connection, and
    // some take each ticket once only: connections opened together each need one of their own.
    // Each session is a few kilobytes.
    static constexpr std::size_t kMaxSessionsPerServer = 4;

    [[nodiscard]] Connection* find(int socket) const;
    // The connection of `socket` when it is open; null with the error (kNotASocket,
    // kNotConnected) otherwise.
    [[nodiscard]] Connection* find_open(int socket, int& error) const;
    void on_readable(int socket);
    void on_writable(int socket);
    void finish_connect(Connection& c);
    void continue_handshake(Connection& c);
    void fail_connect(Connection& c, int error);
    [[nodiscard]] bool flush(Connection& c, int& error);
    void post_data_ready(Connection& c);
    void post_connect_done(Connection& c, int error);
    void set_write_wanted(Connection& c, bool wanted);
    [[nodiscard]] bool ensure_tls_context();
    // OpenSSL's new-session callback: keeps `session` for the connection's server when it came
    // from the current context; 1 when it took OpenSSL's reference.
    static int on_new_session(SSL* ssl, SSL_SESSION* session);
    void store_session(const std::string& key, SSL_SESSION* session);
    // Gives `ssl` the newest session of server `key`, if any. It is taken out of the store
    // unless it is the last one: the server may take each only once (as TLS 1.3 advises),
    // and a server that takes them again is still offered the last one by every connection.
    void offer_session(const std::string& key, SSL* ssl);

    EventSink& sink_;
    // Parent of the notifiers and receiver of posted events and look-up answers: deleting it
    // drops all of them.
    std::unique_ptr<QObject> context_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    SSL_CTX* tls_context_ = nullptr;  // owned; made at the first TLS connect
    std::string trust_file_;          // empty: the system trust store
    // The latest sessions of each "certificate name:port", at most kMaxSessionServers; all
    // made by tls_context_ (and so verified against its trust store).
    std::map<std::string, ServerSessions> sessions_;
    std::uint64_t next_session_stamp_ = 1;
    std::uint64_t next_serial_ = 1;   // tells a reused descriptor from the one an event was for
};

}  // namespace tarnvelox::platform::qt
