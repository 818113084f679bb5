#pragma once

// StatusBoard: the one route of a connection slot's status line from the code that reports it
// (fetch engine, response handling, page scanner, run control) to the person. It formats the
// line (one blank, then the message, at most kMaxStatusLine characters), keeps the last line of
// every slot for the Status dialog, silences lines during vendor transfers, and hands the
// formatted text to Shell::show_slot_status, which shows it in the status bar and, when open,
// in the Status dialog. One lives in the program's context; it borrows the shell and the run
// state for its whole life.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/run_state.h"
#include "platform/shell.h"

namespace tarnvelox::harvest {

inline constexpr std::size_t kMaxStatusLine = 80;  // a status line, its leading blank included
inline constexpr int kStatusSlots = kMaxConnections;  // one line per connection slot

class StatusBoard {
  public:
    // `packcount` is the connection-count setting: a line for -1 reaches that many slots.
    StatusBoard(platform::Shell& shell, const RunState& run, const int32_t& packcount)
        : shell_(shell), run_(run), packcount_(packcount) {}
    StatusBoard(const StatusBoard&) = delete;
    StatusBoard& operator=(const StatusBoard&) = delete;

    // `message` on slot `slot`'s line (0..19), or on the line of every slot in use (-1). Nothing
    // happens in vendor modes (engine mode neither harvest nor single page) or for other slot
    // numbers. The counters are refreshed after every line.
    void set(int slot, std::string_view message);

    // The last line of slot `slot` (empty when none or out of range).
    [[nodiscard]] const std::string& line(int slot) const;
    // The last non-empty message set on one slot (not on every slot), as given, uncut: what
    // a connection said last, which is why its fetch failed when a run fetched nothing.
    [[nodiscard]] const std::string& last_slot_message() const { return last_slot_message_; }

    // Forgets every slot's last line and message (another project was opened).
    void clear();

    // How many slots a line for -1 reaches: the connection count (1..20; 10 when out of range).
    [[nodiscard]] int slots_in_use() const;

  private:
    platform::Shell& shell_;
    const RunState& run_;
    const int32_t& packcount_;
    std::array<std::string, kStatusSlots> lines_;
    std::string last_slot_message_;
};

}  // namespace tarnvelox::harvest
