#include "harvest/status_board.h"

#include "harvest/run_state.h"

namespace tarnvelox::harvest {

void StatusBoard::set(int slot, std::string_view message) {
    const int32_t mode = run_.engine_mode;
    if (mode != kModeHarvest && mode != kModeSinglePage) return;
    if (slot < -1 || slot >= kStatusSlots) return;
    if (slot >= 0 && !message.empty()) last_slot_message_ = std::string(message);
    std::string text = " ";
    text.append(message.substr(0, kMaxStatusLine - 1));
    const int first = slot >= 0 ? slot : 0;
    const int end = slot >= 0 ? slot + 1 : slots_in_use();
    for (int i = first; i < end; ++i) lines_[static_cast<std::size_t>(i)] = text;
    shell_.show_slot_status(slot, text);
    shell_.refresh_status_counters();
}

const std::string& StatusBoard::line(int slot) const {
    static const std::string none;
    if (slot < 0 || slot >= kStatusSlots) return none;
    return lines_[static_cast<std::size_t>(slot)];
}

int StatusBoard::slots_in_use() const { return connections_in_use(packcount_); }

void StatusBoard::clear() {
    for (std::string& line : lines_) line.clear();
    last_slot_message_.clear();
}

}  // namespace tarnvelox::harvest
