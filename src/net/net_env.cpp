#include "net/net_env.h"

#include <filesystem>

namespace tarnvelox::net {

void close_slot(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    enter_state(s, SlotState::Idle);
    s.ticks = 0;
    if (s.socket != 0 && s.socket != -1) {
        if (env.sockets != nullptr) env.sockets->close_socket(s.socket);
        s.socket = 0;
    }
}

std::string in_folder(const NetEnv& env, std::string_view name) {
    return (std::filesystem::path(env.folder) / std::string(name)).string();
}

}  // namespace tarnvelox::net
