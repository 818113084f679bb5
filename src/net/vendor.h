#pragma once

// The vendor's update service. Its domain lies under the reserved ".example" top-level domain,
// so no real host is ever contacted: requests to it are recognised by this text, never expanded
// as templates, and their answers are read as vendor answers instead of pages.

#include <string_view>

namespace tarnvelox::net {

inline constexpr std::string_view kVendorDomain = "tarnvelox.example";
inline constexpr std::string_view kUpdateHost = "update.tarnvelox.example";

}  // namespace tarnvelox::net
