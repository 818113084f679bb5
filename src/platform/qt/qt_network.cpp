#include "platform/qt/qt_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QString>

namespace tarnvelox::platform::qt {

namespace {

// The system's error numbers in the numbering the core knows.
int map_errno(int e) {
    switch (e) {
        case EAGAIN:
        case EINPROGRESS:
        case EALREADY:
            return kWouldBlock;
        case ECONNREFUSED:
            return kConnectionRefused;
        case ETIMEDOUT:
            return kConnectTimedOut;
        case ECONNRESET:
        case EPIPE:
            return kConnectionReset;
        case ECONNABORTED:
            return kConnectionAborted;
        case ENOTCONN:
            return kNotConnected;
        case ENETUNREACH:
        case ENETDOWN:
            return kNetworkUnreachable;
        case EHOSTUNREACH:
            return kHostUnreachable;
        case EBADF:
        case ENOTSOCK:
            return kNotASocket;
        case EINVAL:
            return kInvalidArgument;
        default:
            return kSocketError;
    }
}

// The text of the first error on OpenSSL's queue (the queue is emptied), or `fallback`.
std::string take_ssl_error_text(const char* fallback) {
    unsigned long code = ERR_get_error();
    std::string text = fallback;
    if (code != 0) {
        const char* reason = ERR_reason_error_string(code);
        if (reason != nullptr) {
            text = reason;
        }
    }
    ERR_clear_error();
    return text;
}

}  // namespace

struct QtNetwork::Connection {
    int fd = -1;
    std::uint64_t serial = 0;
    State state = State::Idle;
    bool tls = false;
    bool tls_closed = false;            // close_notify or end of stream seen on the TLS layer
    bool data_ready_posted = false;     // one posted data-ready at a time is enough
    SSL* ssl = nullptr;                 // owned
    QSocketNotifier* reader = nullptr;  // borrowed from context_
    QSocketNotifier* writer = nullptr;  // borrowed from context_
    std::string host_name;
    std::string session_key;            // "certificate name:port", the key of sessions_
    std::string pending;                // bytes accepted by send() but not yet written
    std::string tls_error;
};

QtNetwork::QtNetwork(EventSink& sink) : sink_(sink), context_(std::make_unique<QObject>()) {}

QtNetwork::~QtNetwork() {
    while (!connections_.empty()) {
        close(connections_.begin()->first);
    }
    context_.reset();
    sessions_.clear();
    if (tls_context_ != nullptr) {
        SSL_CTX_free(tls_context_);
    }
}

void QtNetwork::SessionFree::operator()(SSL_SESSION* session) const {
    SSL_SESSION_free(session);
}

bool QtNetwork::start() {
    // Nothing to make up front: the TLS context, whose trust store takes a noticeable moment to
    // read, is made at the first TLS connect, so a crawl of plain pages never pays for it.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool QtNetwork::ensure_tls_context() {
    if (tls_context_ != nullptr) {
        return true;
    }
    // OpenSSL writes to the socket without MSG_NOSIGNAL: a write to a connection the server
    // has reset must come back as an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        ERR_clear_error();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // HTTP/1.0 servers often drop the connection without close_notify; that is the end of the
    // response, not an error.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // Sessions are kept by us, keyed by server (OpenSSL's own store is for servers): the
    // callback sees each new one, including TLS 1.3 tickets that arrive after the handshake.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &QtNetwork::on_new_session);
    SSL_CTX_set_app_data(ctx, this);
    int loaded = trust_file_.empty()
                     ? SSL_CTX_set_default_verify_paths(ctx)
                     : SSL_CTX_load_verify_locations(ctx, trust_file_.c_str(), nullptr);
    if (loaded != 1) {
        ERR_clear_error();
        SSL_CTX_free(ctx);
        return false;
    }
    tls_context_ = ctx;
    return true;
}

bool QtNetwork::use_trust_file(const std::string& pem_path) {
    std::string previous = trust_file_;
    SSL_CTX* previous_context = tls_context_;
    trust_file_ = pem_path;
    tls_context_ = nullptr;
    if (!ensure_tls_context()) {
        trust_file_ = previous;
        tls_context_ = previous_context;
        return false;
    }
    // Connections made earlier keep a reference of their own to the old context; sessions
    // they still receive are not kept (on_new_session), and those kept are forgotten: resuming
    // one would skip checking the server against the new trust store.
    if (previous_context != nullptr) {
        SSL_CTX_free(previous_context);
    }
    sessions_.clear();
    return true;
}

int QtNetwork::on_new_session(SSL* ssl, SSL_SESSION* session) {
    auto* self = static_cast<QtNetwork*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    auto* c = static_cast<Connection*>(SSL_get_app_data(ssl));
    if (self == nullptr || c == nullptr || SSL_get_SSL_CTX(ssl) != self->tls_context_ ||
        SSL_SESSION_is_resumable(session) != 1) {
        return 0;  // OpenSSL drops its reference
    }
    self->store_session(c->session_key, session);
    return 1;
}

void QtNetwork::store_session(const std::string& key, SSL_SESSION* session) {
    SessionPtr owned(session);
    auto it = sessions_.find(key);
    if (it == sessions_.end() && sessions_.size() >= kMaxSessionServers) {
        auto oldest = sessions_.begin();
        for (auto at = sessions_.begin(); at != sessions_.end(); ++at) {
            if (at->second.stored_at < oldest->second.stored_at) {
                oldest = at;
            }
        }
        sessions_.erase(oldest);
    }
    ServerSessions& server = sessions_[key];
    if (server.sessions.size() >= kMaxSessionsPerServer) {
        server.sessions.erase(server.sessions.begin());
    }
    server.sessions.push_back(std::move(owned));
    server.stored_at = next_session_stamp_++;
}

void QtNetwork::offer_session(const std::string& key, SSL* ssl) {
    auto it = sessions_.find(key);
    if (it == sessions_.end() || it->second.sessions.empty()) {
        return;
    }
    std::vector<SessionPtr>& sessions = it->second.sessions;
    // The connection holds a reference of its own once it has been given the session.
    if (SSL_set_session(ssl, sessions.back().get()) != 1) {
        ERR_clear_error();
    }
    if (sessions.size() > 1) {
        sessions.pop_back();
    }
}

QtNetwork::Connection* QtNetwork::find(int socket) const {
    auto it = connections_.find(socket);
    return it == connections_.end() ? nullptr : it->second.get();
}

int QtNetwork::open_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (fd == 0) {  // handles are above 0; keep descriptor 0 out of use rather than hand it out
        int other = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (other < 0) {
            return -1;
        }
        fd = other;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->serial = next_serial_++;
    connections_[fd] = std::move(c);
    return fd;
}

int QtNetwork::connect(int socket, std::string_view address, int port, bool tls,
                       std::string_view host_name) {
    Connection* c = find(socket);
    if (c == nullptr) {
        return kNotASocket;
    }
    if (c->state != State::Idle) {
        return kInvalidArgument;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::string dotted(address);
    if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, dotted.c_str(), &to.sin_addr) != 1) {
        return kInvalidArgument;
    }
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (tls) {
        if (!ensure_tls_context()) {
            c->tls_error = "the system's trust store could not be loaded";
            return kTlsFailed;
        }
        c->ssl = SSL_new(tls_context_);
        if (c->ssl == nullptr) {
            ERR_clear_error();
            return kTlsFailed;
        }
        c->tls = true;
        c->host_name = std::string(host_name);
        SSL_set_fd(c->ssl, c->fd);
        // SNI is sent for names only; the certificate is checked against the name, or against
        // the address when the URL named the server by address.
        in_addr probe{};
        bool is_address = ::inet_pton(AF_INET, c->host_name.c_str(), &probe) == 1;
        if (!c->host_name.empty() && !is_address) {
            SSL_set_tlsext_host_name(c->ssl, c->host_name.c_str());
        }
        const std::string& expected = c->host_name.empty() ? dotted : c->host_name;
        if (SSL_set1_host(c->ssl, expected.c_str()) != 1) {
            ERR_clear_error();
            return kTlsFailed;
        }
        // A resumed handshake checks no certificate: a session may only be offered for the
        // very name it was verified for. The address is no part of the key, so the addresses
        // of one name share its session (a server that does not know it makes a full
        // handshake).
        c->session_key = expected + ":" + std::to_string(port);
        SSL_set_app_data(c->ssl, c);
        offer_session(c->session_key, c->ssl);
    }

    // Made disabled: a notifier made with its socket registers with the loop at once, only to
    // be taken off again here, which costs a wake-up of the loop each time.
    c->reader = new QSocketNotifier(QSocketNotifier::Read, context_.get());
    c->reader->setSocket(c->fd);
    c->writer = new QSocketNotifier(QSocketNotifier::Write, context_.get());
    c->writer->setSocket(c->fd);
    int fd = c->fd;
    QObject::connect(c->reader, &QSocketNotifier::activated, context_.get(),
                     [this, fd] { on_readable(fd); });
    QObject::connect(c->writer, &QSocketNotifier::activated, context_.get(),
                     [this, fd] { on_writable(fd); });

    c->state = State::Connecting;
    if (::connect(c->fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        errno != EINPROGRESS) {
        // Refused, unreachable and the like still arrive as an event, like a slow failure.
        fail_connect(*c, map_errno(errno));
        return kWouldBlock;
    }
    // Even a connect that completed at once is reported through the write notifier.
    set_write_wanted(*c, true);
    return kWouldBlock;
}

void QtNetwork::set_write_wanted(Connection& c, bool wanted) {
    // A connected socket is nearly always writable: leaving this on would spin the loop.
    if (c.writer != nullptr && c.writer->isEnabled() != wanted) {
        c.writer->setEnabled(wanted);
    }
}

void QtNetwork::on_writable(int socket) {
    Connection* c = find(socket);
    if (c == nullptr) {
        return;
    }
    switch (c->state) {
        case State::Connecting: {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
            if (error != 0) {
                fail_connect(*c, map_errno(error));
            } else if (c->tls) {
                c->state = State::Handshaking;
                continue_handshake(*c);
            } else {
                finish_connect(*c);
            }
            return;
        }
        case State::Handshaking:
            continue_handshake(*c);
            return;
        case State::Open: {
            int error = 0;
            if (!flush(*c, error)) {
                c->pending.clear();
                set_write_wanted(*c, false);
                post_data_ready(*c);  // the core's next read meets the broken connection
            }
            return;
        }
        case State::Idle:
        case State::Failed:
            set_write_wanted(*c, false);
            return;
    }
}

void QtNetwork::on_readable(int socket) {
    Connection* c = find(socket);
    if (c == nullptr) {
        return;
    }
    switch (c->state) {
        case State::Handshaking:
            continue_handshake(*c);
            return;
        case State::Open:
            // Called from the notifier, so no need to post: this is an event of its own. The
            // notifier fires again for as long as unread bytes (or the end) remain.
            c->data_ready_posted = false;
            sink_.on_data_ready(socket, 0);
            return;
        case State::Idle:
        case State::Connecting:
        case State::Failed:
            c->reader->setEnabled(false);
            return;
    }
}

void QtNetwork::continue_handshake(Connection& c) {
    ERR_clear_error();
    int result = SSL_connect(c.ssl);
    if (result == 1) {
        finish_connect(c);
        return;
    }
    int reason = SSL_get_error(c.ssl, result);
    if (reason == SSL_ERROR_WANT_READ) {
        set_write_wanted(c, false);
        c.reader->setEnabled(true);
        return;
    }
    if (reason == SSL_ERROR_WANT_WRITE) {
        c.reader->setEnabled(false);
        set_write_wanted(c, true);
        return;
    }
    // The session kept for this server must not let the next connection skip the checks
    // that this one failed (or resume what the server just refused).
    sessions_.erase(c.session_key);
    long verify = SSL_get_verify_result(c.ssl);
    if (verify != X509_V_OK) {
        c.tls_error = X509_verify_cert_error_string(verify);
        ERR_clear_error();
    } else if (reason == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        c.tls_error = "connection closed during handshake";
    } else {
        c.tls_error = take_ssl_error_text("handshake failed");
    }
    fail_connect(c, kTlsFailed);
}

void QtNetwork::finish_connect(Connection& c) {
    c.state = State::Open;
    set_write_wanted(c, !c.pending.empty());
    c.reader->setEnabled(true);
    // Called from a notifier: an event of its own.
    sink_.on_connect_done(c.fd, 0);
}

void QtNetwork::fail_connect(Connection& c, int error) {
    c.state = State::Failed;
    set_write_wanted(c, false);
    if (c.reader != nullptr) {
        c.reader->setEnabled(false);
    }
    post_connect_done(c, error);
}

void QtNetwork::post_connect_done(Connection& c, int error) {
    int fd = c.fd;
    std::uint64_t serial = c.serial;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, fd, serial, error] {
            Connection* now = find(fd);
            if (now != nullptr && now->serial == serial) {
                sink_.on_connect_done(fd, error);
            }
        },
        Qt::QueuedConnection);
}

void QtNetwork::post_data_ready(Connection& c) {
    if (c.data_ready_posted) {
        return;
    }
    c.data_ready_posted = true;
    int fd = c.fd;
    std::uint64_t serial = c.serial;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, fd, serial] {
            Connection* now = find(fd);
            if (now != nullptr && now->serial == serial && now->data_ready_posted) {
                now->data_ready_posted = false;
                sink_.on_data_ready(fd, 0);
            }
        },
        Qt::QueuedConnection);
}

bool QtNetwork::flush(Connection& c, int& error) {
    while (!c.pending.empty()) {
        long written = 0;
        if (c.tls) {
            ERR_clear_error();
            int result = SSL_write(c.ssl, c.pending.data(), static_cast<int>(c.pending.size()));
            if (result <= 0) {
                int reason = SSL_get_error(c.ssl, result);
                if (reason == SSL_ERROR_WANT_WRITE || reason == SSL_ERROR_WANT_READ) {
                    break;
                }
                error = reason == SSL_ERROR_SYSCALL && errno != 0 ? map_errno(errno)
                                                                  : kConnectionReset;
                ERR_clear_error();
                return false;
            }
            written = result;
        } else {
            written = ::send(c.fd, c.pending.data(), c.pending.size(), MSG_NOSIGNAL);
            if (written < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                error = map_errno(errno);
                return false;
            }
        }
        c.pending.erase(0, static_cast<std::size_t>(written));
    }
    set_write_wanted(c, !c.pending.empty());
    return true;
}

QtNetwork::Connection* QtNetwork::find_open(int socket, int& error) const {
    Connection* c = find(socket);
    if (c == nullptr) {
        error = kNotASocket;
    } else if (c->state != State::Open) {
        error = kNotConnected;
        c = nullptr;
    }
    return c;
}

int QtNetwork::send(int socket, std::string_view bytes, int& error) {
    Connection* c = find_open(socket, error);
    if (c == nullptr) {
        return -1;
    }
    // What the socket does not take now is written when it becomes writable; the caller sees
    // all of it as sent, as the interface promises.
    c->pending.append(bytes);
    if (!flush(*c, error)) {
        c->pending.clear();
        return -1;
    }
    return static_cast<int>(bytes.size());
}

int QtNetwork::receive(int socket, char* out, int max, int& error) {
    Connection* c = find_open(socket, error);
    if (c == nullptr) {
        return -1;
    }
    if (max <= 0) {
        error = kInvalidArgument;
        return -1;
    }
    if (!c->tls) {
        long got = ::recv(c->fd, out, static_cast<std::size_t>(max), 0);
        if (got < 0) {
            error = map_errno(errno);
            return -1;
        }
        return static_cast<int>(got);
    }
    if (c->tls_closed) {
        return 0;
    }
    ERR_clear_error();
    int got = SSL_read(c->ssl, out, max);
    if (got > 0) {
        // Decrypted bytes kept by OpenSSL do not make the socket readable again.
        if (SSL_pending(c->ssl) > 0) {
            post_data_ready(*c);
        }
        return got;
    }
    int reason = SSL_get_error(c->ssl, got);
    switch (reason) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            error = kWouldBlock;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            // close_notify (or, with SSL_OP_IGNORE_UNEXPECTED_EOF, a bare end of stream) ends
            // the response. Answer it and close our direction: some servers hold their FIN
            // until the client goes.
            c->tls_closed = true;
            if ((SSL_get_shutdown(c->ssl) & SSL_RECEIVED_SHUTDOWN) != 0) {
                SSL_shutdown(c->ssl);
                ERR_clear_error();
            }
            ::shutdown(c->fd, SHUT_WR);
            return 0;
        default:
            error = reason == SSL_ERROR_SYSCALL && errno != 0 ? map_errno(errno)
                                                              : kConnectionReset;
            ERR_clear_error();
            return -1;
    }
}

void QtNetwork::close(int socket) {
    auto it = connections_.find(socket);
    if (it == connections_.end()) {
        return;
    }
    std::unique_ptr<Connection> c = std::move(it->second);
    connections_.erase(it);
    // The notifiers may be the very ones whose handler is running: delete them later.
    for (QSocketNotifier* notifier : {c->reader, c->writer}) {
        if (notifier != nullptr) {
            notifier->setEnabled(false);
            notifier->disconnect();
            notifier->deleteLater();
        }
    }
    if (c->ssl != nullptr) {
        // OpenSSL marks the session of a connection freed without a close_notify sent as not
        // to be resumed, which is how a kept-alive connection or one cut short ends. Say it
        // (one non-blocking write, dropped when it does not fit); after a fatal error OpenSSL
        // refuses, and that session stays unresumable as it should.
        if (c->state == State::Open && (SSL_get_shutdown(c->ssl) & SSL_SENT_SHUTDOWN) == 0) {
            ERR_clear_error();
            SSL_shutdown(c->ssl);
            ERR_clear_error();
        }
        SSL_free(c->ssl);
    }
    ::close(c->fd);
}

bool QtNetwork::resumed(int socket) const {
    Connection* c = find(socket);
    return c != nullptr && c->ssl != nullptr && c->state == State::Open &&
           SSL_session_reused(c->ssl) == 1;
}

std::string QtNetwork::tls_error_text(int socket) const {
    Connection* c = find(socket);
    return c == nullptr ? std::string() : c->tls_error;
}

bool QtNetwork::lookup(int event_id, std::string_view host) {
    if (host.empty()) {
        return false;
    }
    std::string name(host);
    in_addr probe{};
    if (::inet_pton(AF_INET, name.c_str(), &probe) == 1) {
        // A dotted address needs no look-up (QHostInfo would look its name up in reverse).
        QMetaObject::invokeMethod(
            context_.get(), [this, event_id, name] { sink_.on_lookup_done(event_id, 0, name); },
            Qt::QueuedConnection);
        return true;
    }
    int id = QHostInfo::lookupHost(
        QString::fromStdString(name), context_.get(), [this, event_id](const QHostInfo& info) {
            for (const QHostAddress& address : info.addresses()) {
                if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                    std::string dotted = address.toString().toStdString();
                    sink_.on_lookup_done(event_id, 0, dotted);
                    return;
                }
            }
            sink_.on_lookup_done(event_id, kHostNotFound, {});
        });
    return id != -1;
}

}  // namespace tarnvelox::platform::qt
