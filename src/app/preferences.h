#pragma once

// Preferences: the values the Preferences dialog edits, taken from the settings when it opens
// and put back by its OK. The numbers are kept as the person typed them; OK reads them the way
// the settings file is read and applies the limits below. Nothing here keeps a reference to
// its arguments.

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "harvest/run_state.h"

namespace tarnvelox::app {

// The harvest timer's longest period: the dialog's cap for the timeout.
inline constexpr int32_t kMaxTimeoutMs = 64000;
// The shortest timeout OK stores (0 still means the default period): every fetch gives up
// after about twenty silent ticks, so a person who types seconds ("30") would otherwise see
// every slow site time out within a few tenths of a second per tick.
inline constexpr int32_t kMinTimeoutMs = 1000;
// Fewer connections than one would fetch nothing; the slot table has harvest::kMaxConnections.
inline constexpr int32_t kMinConnections = 1;

// Bits of "newwin=".
inline constexpr int32_t kNewWindowBit = 1;   // links open in a new browser window
inline constexpr int32_t kDisplayMapBit = 2;  // "Display MAP on completion" (stored only)

struct Preferences {
    std::string browser;      // "Browser:"; empty: the desktop's default browser
    std::string connections;  // "Number of concurrent connections:"
    std::string proxy;        // "Proxy:"; empty: no proxy
    std::string port;         // "Port:"
    std::string timeout;      // "Timeout:", in milliseconds
    bool new_window = false;  // "Open in New Browser Window" (else the existing window)
    bool display_map = false;     // "Display MAP on completion"
    bool disable_caching = false; // "Disable Caching Proxies"
    std::string maxlist;      // "Maximum number of items to display in list:"
    bool robots = false;      // "Obey robots.txt"
    bool modern = false;      // "Read pages as today's browsers do"

    bool operator==(const Preferences&) const = default;
};

// The dialog's values for `settings`: numbers in signed decimal, unset texts empty.
[[nodiscard]] Preferences preferences_of(const Settings& settings);

// OK: every value of `prefs` into `settings`. Numbers are read as base::read_int reads them
// (text that is no number gives 0). The timeout is capped at kMaxTimeoutMs and a value from 1
// (or below 0) up to kMinTimeoutMs becomes kMinTimeoutMs; the connection count is clamped to
// kMinConnections..harvest::kMaxConnections; the port and the list maximum are stored as read. The
// browser and the proxy become set texts, empty ones included. "newwin=" keeps no other bits.
void apply_preferences(const Preferences& prefs, Settings& settings);

}  // namespace tarnvelox::app
