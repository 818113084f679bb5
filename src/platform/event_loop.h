#pragma once

// The outside world the core drives its harvest with: timers and posted commands (EventLoop),
// stream sockets and asynchronous host-name look-ups (Network), and the one entry point through
// which every completion reaches the core (EventSink). The Qt binding implements EventLoop and
// Network over one thread's event loop; tests use a scripted binding with a manual clock. Every
// event is delivered through EventSink, one at a time, never from inside the call that caused
// it (a completion that is known at once is posted, not called back directly).

#include <string>
#include <string_view>

namespace tarnvelox::platform {

// Timer ids of the harvest.
inline constexpr int kHarvestTimer = 1422;   // drives every slot; period: setting "timeout="
inline constexpr int kActivityTimer = 1330;  // the activity indicator, every 100 ms
inline constexpr int kActivityPeriodMs = 100;

// Error codes carried by socket and look-up events (0 is success).
inline constexpr int kWouldBlock = 10035;         // nothing to read now / connect in progress
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kConnectTimedOut = 10060;
// The TLS handshake failed, or the server's certificate did not verify against the system trust
// store and the URL's host name; Network::tls_error_text says why.
inline constexpr int kTlsFailed = 12001;

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void on_timer(int timer_id) = 0;
    virtual void on_command(int command_id) = 0;
    // A connect finished on `socket` (error 0) or failed.
    virtual void on_connect_done(int socket, int error) = 0;
    // Data can be read on `socket`, or the peer closed it (a read then returns 0), or an error.
    // Delivered again for as long as unread data remains.
    virtual void on_data_ready(int socket, int error) = 0;
    // The look-up started with `event_id` ended: the host's first IPv4 address as dotted text.
    virtual void on_lookup_done(int event_id, int error, std::string_view address) = 0;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Starts timer `timer_id` with the period, replacing a running one of that id.
    virtual void start_timer(int timer_id, int period_ms) = 0;
    virtual void kill_timer(int timer_id) = 0;
    [[nodiscard]] virtual bool timer_running(int timer_id) const = 0;
    // Delivers on_command(command_id) later, after the current event has been handled.
    virtual void post_command(int command_id) = 0;
};

class Network {
public:
    virtual ~Network() = default;
    // Makes the socket layer ready; false when it cannot be used.
    [[nodiscard]] virtual bool start() = 0;
    // A new stream socket (a handle above 0), or -1.
    [[nodiscard]] virtual int open_socket() = 0;
    // Starts connecting `socket` to a dotted IPv4 address and port, over TLS with `host_name` as
    // the name the certificate must carry when `tls` is set. 0 or kWouldBlock: the result comes
    // as on_connect_done; any other value: the connect failed at once with that error.
    [[nodiscard]] virtual int connect(int socket, std::string_view address, int port, bool tls,
                                      std::string_view host_name) = 0;
    // Sends all of `bytes`; the count sent, or -1 with the error in `error`.
    [[nodiscard]] virtual int send(int socket, std::string_view bytes, int& error) = 0;
    // Reads at most `max` bytes into `out`: the count, 0 when the peer has closed, or -1 with
    // the error in `error` (kWouldBlock when nothing is there yet).
    [[nodiscard]] virtual int receive(int socket, char* out, int max, int& error) = 0;
    virtual void close(int socket) = 0;
    // Starts looking `host` up; the answer comes as on_lookup_done(event_id, ...). False when
    // the look-up cannot start.
    [[nodiscard]] virtual bool lookup(int event_id, std::string_view host) = 0;
    // Why the TLS connect of `socket` failed (kTlsFailed), until the socket is closed; empty
    // when it did not or nobody knows.
    [[nodiscard]] virtual std::string tls_error_text(int /*socket*/) const { return {}; }
};

}  // namespace tarnvelox::platform
