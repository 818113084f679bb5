#pragma once

// Reading an answer of the update host's script: a text of "#" command lines (the HTTP header
// lines among them are ignored). The answer changes the vendor values and settings and asks
// for message boxes; it never changes what the fetch engine does.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "update/vendor_state.h"

namespace tarnvelox::update {

inline constexpr std::string_view kNewsCaption = "Newsflash from Velox HQ";
inline constexpr std::string_view kMessageCaption = "Message from Velox HQ";
// One answer asks for at most this many boxes: a hostile or broken answer of thousands of
// message lines must not bury the window under boxes to click away.
inline constexpr std::size_t kMaxBoxesPerAnswer = 3;

struct VendorMessage {
    std::string caption;
    std::string text;
};

// Acts on every complete line of `text` (one that ends in "\n"; text after the last "\n" is
// not acted on) in order. The commands after "#", matched by their leading characters in this
// order: "NEWS=" n,text (shown when n is above `news`, which becomes n); "MESSAGE=" text;
// "MESSAGEV=" n,text (shown when this version is newer than n); "MESSAGEVEQ=" n,text (shown
// when n is this version); "BUILD=" n[;url]; "VER1=" n[;text] (the text shown when n is newer
// than this version; n also goes to `lastwarn`); "UPGRADE=" n (`upgradenew` := n when above
// `upgrade`). Texts end at the next ";". Boxes asked for are appended to `boxes`, at most
// kMaxBoxesPerAnswer of them. Counts the answer in `answers_received`. Returns 1.
int parse_vendor_answer(std::string_view text, VendorState& state, VendorSettings settings,
                        std::vector<VendorMessage>& boxes);

}  // namespace tarnvelox::update
