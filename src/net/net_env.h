#pragma once

// NetEnv: everything the fetch engine and response handling work on, borrowed from the
// program's context for the call (the harvest environment, the slot table, the setup file
// download, the vendor's handler, the socket closer and the robots.txt rules), and the slot
// operations both share.

#include <string>
#include <string_view>

#include "harvest/harvest_env.h"
#include "net/slot.h"
#include "net/vendor.h"

namespace tarnvelox::net {

struct Download;
class Politeness;

// Closes sockets for the slots; the fetch engine's socket layer implements it.
class SocketCloser {
  public:
    virtual ~SocketCloser() = default;
    virtual void close_socket(int socket) = 0;
};

// Everything response handling works on, borrowed for the call.
struct NetEnv {
    harvest::HarvestEnv& harvest;
    SlotTable& slots;
    Download& download;
    VendorHandler* vendor = nullptr;  // null: the update service's answers go nowhere
    SocketCloser* sockets = nullptr;  // null: sockets are not tracked (tests)
    // The robots.txt rules and waits of "Obey robots.txt"; null when the setting is off.
    Politeness* politeness = nullptr;
    std::string folder = ".";         // where "page.htm" and vendor files are written
};

// Frees the slot: idle, ticks 0, its socket (neither 0 nor -1) closed and set to 0.
void close_slot(NetEnv& env, int slot);

// `name` in the working folder of `env`.
[[nodiscard]] std::string in_folder(const NetEnv& env, std::string_view name);

}  // namespace tarnvelox::net
