#pragma once

// Handling a finished response: classifying it by its status text, recording the outcome in
// the fetched item, queueing a redirect's target as a new link, handing documents to the page
// scanner, saving the single page and the vendor's files, and routing vendor answers on. The
// environment the handling works on is net_env.h's; the setup file download is download.h's.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/net_env.h"
#include "net/slot.h"

namespace tarnvelox::net {

inline constexpr std::size_t kStatusTextLength = 80;  // the part of a response status tests see
inline constexpr std::size_t kDocumentMinimum = 1024; // a response this long is a document
inline constexpr std::string_view kSinglePageFile = "page.htm";

// The common failure ending: slot idle, item marked bad and counted, its line rewritten when it
// is stored in the links file, counters refreshed. 0 for a vendor item, 1 otherwise. A failed
// robots.txt goes to the politeness rules instead (slot idle, nothing counted; 0).
int fail_item(NetEnv& env, int slot);

// Judges the slot's finished response. 1 when it was taken as a document or a redirect, 0
// when the item failed or the answer went to the vendor or to the politeness rules (a
// robots.txt, or a link put back for its Retry-After).
int complete_response(NetEnv& env, int slot);

// Writes the body of the slot's response to "page.htm" in the working folder.
void save_single_page(NetEnv& env, int slot);

}  // namespace tarnvelox::net
