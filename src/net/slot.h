#pragma once

// The connection slots: what each of the (at most 20) concurrent fetches holds. The state
// machine that drives them lives with the fetch engine; this is its data.
//
//   state        meaning
//   Idle (0)     free; asks the frontier for its next link
//   Connecting   connecting to the host's address (1)
//   Sending      sending the request (2)
//   Receiving    reading the response (4)
//   Finishing    looking the host up, or handling a finished response (10)

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "harvest/frontier.h"

namespace tarnvelox::net {

inline constexpr int kMaxSlots = 20;                // the slot table's size
inline constexpr int32_t kBufferStep = 2048;        // response buffers grow by this much
inline constexpr int32_t kBufferMargin = 300;       // room kept free before a read
inline constexpr int32_t kReadChunk = 228;          // bytes taken per read
inline constexpr int32_t kMaxPageBytes = 250000;    // a page's response is cut after this
inline constexpr std::size_t kMaxAddressText = 19;  // dotted IPv4 address

enum class SlotState : uint32_t {
    Idle = 0,
    Connecting = 1,
    Sending = 2,
    Receiving = 4,
    Finishing = 10,
};

struct Slot {
    harvest::SlotItem item;  // the link fetched; kept until the slot takes its next link
    SlotState state = SlotState::Idle;
    int socket = 0;          // 0: none; -1: invalid
    int32_t ticks = 0;       // harvest ticks since the slot last made progress
    std::vector<char> response;  // raw bytes; its size is the buffer size, zero-filled
    int32_t received = 0;        // bytes of response received (a download: body bytes written)
    std::string address;         // dotted IPv4 address of the host to connect to
    bool tls = false;            // the connection is made over TLS

    // The response as received (the buffer up to the received count).
    [[nodiscard]] std::string_view response_text() const {
        return {response.data(), static_cast<std::size_t>(received)};
    }
    void free_response() {
        response.clear();
        response.shrink_to_fit();
        received = 0;
    }
};

struct SlotTable {
    std::array<Slot, kMaxSlots> slots;
    int32_t nesting = 0;  // depth of the slot driver re-entering itself
};

}  // namespace tarnvelox::net
