#pragma once

// The product's name, version and build number, as the About box and the harvester's
// --version show them.

namespace tarnvelox::app {

inline constexpr const char* kProductName = "Tarnvelox";
inline constexpr const char* kProductVersion = "1.00";
inline constexpr const char* kBuildNumber = "005";

}  // namespace tarnvelox::app
