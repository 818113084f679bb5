#pragma once

// The connection slots: what each of the (at most 20) concurrent fetches holds, and the states
// a slot goes through. The fetch engine drives the slots; every change of state, there and in
// response handling, goes through enter_state.
//
//   state       waits for                               moves on to
//   Idle        a drive (tick or posted command): asks  LookingUp (it got a link and a socket)
//               the frontier for its next link
//   LookingUp   the look-up completion of its event id  Connecting (address found, or the host
//               (a dotted host skips the wait)          was an address); Idle (not found)
//   Connecting  the connect completion of its socket    Sending (connected); Receiving (data came
//                                                       first); Idle (refused, failed)
//   Sending     a drive: the request is sent            Receiving (data ready); Idle (failed)
//               (the modern way enters it from Idle when a kept connection to the link's host
//               was idle: no look-up, no connect)
//   Receiving   data ready on its socket, or the tick   Finishing (the server closed, the page
//               (retry after 10, give up after 20)      is long enough, or a read failed after
//                                                       bytes came); Idle (nothing came)
//   Finishing   nothing: the finished response is       Idle (handled); a stop leaves it here
//               being handled; a stop request leaves    until the next drive finds no socket
//               the slot here
// Any state may go to Idle: a stop, a failure, an abort.

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harvest/frontier.h"
#include "net/http_reader.h"

namespace tarnvelox::net {

inline constexpr int kMaxSlots = harvest::kMaxConnections;  // the slot table's size
inline constexpr int32_t kBufferStep = 2048;        // response buffers grow by this much
inline constexpr int32_t kBufferMargin = 300;       // room kept free before a read
// Bytes taken per read. A read costs a system call and an event, so it is large; a page's
// reads are capped so that its response never grows past kMaxPageRead.
inline constexpr int32_t kReadChunk = 16 * 1024;
inline constexpr int32_t kMaxPageBytes = 250000;    // a page's response is cut after this
// The most a page's response may hold: the cut plus one read of the classic 228 bytes.
inline constexpr int32_t kMaxPageRead = kMaxPageBytes + 228;
inline constexpr std::size_t kMaxAddressText = 19;  // dotted IPv4 address
inline constexpr std::size_t kKeptBufferBytes = 64 * 1024;  // buffer memory a free slot keeps

enum class SlotState : uint32_t {
    Idle = 0,
    Connecting = 1,
    Sending = 2,
    Receiving = 4,
    LookingUp = 10,
    Finishing = 11,
};

// Whether a slot may go from `from` to `to` (the table above).
[[nodiscard]] constexpr bool legal_move(SlotState from, SlotState to) {
    if (to == SlotState::Idle || from == to) return true;
    switch (from) {
        case SlotState::Idle:
            return to == SlotState::LookingUp || to == SlotState::Sending;
        case SlotState::LookingUp:
            return to == SlotState::Connecting;
        case SlotState::Connecting:
            return to == SlotState::Sending || to == SlotState::Receiving ||
                   to == SlotState::Finishing;
        case SlotState::Sending:
            return to == SlotState::Receiving || to == SlotState::Finishing;
        case SlotState::Receiving:
            return to == SlotState::Finishing;
        case SlotState::Finishing:
            return false;
    }
    return false;
}

struct Slot {
    harvest::SlotItem item;  // the link fetched; kept until the slot takes its next link
    SlotState state = SlotState::Idle;
    int socket = 0;          // 0: none; -1: invalid
    int32_t ticks = 0;       // harvest ticks since the slot last made progress
    int32_t fetch_ticks = 0; // harvest ticks since the slot took its link, progress or not
    std::vector<char> response;  // raw bytes; its size is the buffer size, zero-filled
    int32_t received = 0;        // bytes of response received (a download: body bytes written)
    std::string address;         // dotted IPv4 address of the host to connect to
    bool tls = false;            // the connection is made over TLS
    // The modern way: the response is read as HTTP/1.1 (chunks, compressed bodies, a page
    // limit of its own) by this reader, made when the request is sent; null the classic way.
    // Its output becomes `response` when the response ends.
    std::unique_ptr<HttpReader> reader;
    bool reused = false;    // the connection was kept from an earlier response
    bool retried = false;   // the fetch already went again on a fresh connection
    bool page_cut = false;  // the modern way: the page went past its limit and was cut there

    // The response as received (the buffer up to the received count).
    // During a download the count is of body bytes written to the file, and the buffer holds
    // only what arrived before the file was opened.
    [[nodiscard]] std::string_view response_text() const {
        const std::size_t n = received < 0 ? 0 : static_cast<std::size_t>(received);
        return {response.data(), std::min(n, response.size())};
    }
    // No buffer any more (its size is 0). The memory of an ordinary page is kept for the
    // slot's next response, so that a crawl does not allocate and fault in a buffer per page.
    void free_response() {
        reader.reset();
        page_cut = false;
        response.clear();
        if (response.capacity() > kKeptBufferBytes) response.shrink_to_fit();
        received = 0;
    }
};

// The one way a slot changes state. A move the table does not allow is a bug: it stops a debug
// build at once.
inline void enter_state(Slot& slot, SlotState next) {
    assert(legal_move(slot.state, next));
    slot.state = next;
}

struct SlotTable {
    std::array<Slot, kMaxSlots> slots;
    int32_t nesting = 0;  // depth of the slot driver re-entering itself
};

}  // namespace tarnvelox::net
