#include "update/vendor_state.h"

#include <cstdint>

namespace tarnvelox::update {

bool upgrade_available(const VendorState& state) {
    if (state.setup_url.empty()) return false;
    return state.latest_version > kThisVersion ||
           (state.latest_version == kThisVersion && state.latest_build > kThisBuild);
}

std::string latest_version_text(const VendorState& state) {
    if (state.latest_version <= kThisVersion) return {};
    // The version with a "." after its first digit: 101 is "1.01".
    const std::string digits = std::to_string(state.latest_version);
    return "Tarnvelox v" + digits.substr(0, 1) + "." + digits.substr(1);
}

std::string latest_build_text(const VendorState& state) {
    if (state.latest_build == 0) return {};
    // At least three digits, zeros in front: 7 is "007", -7 is "-07" (as "%03i" writes them).
    const int64_t build = state.latest_build;
    std::string digits = std::to_string(build < 0 ? -build : build);
    const std::size_t width = build < 0 ? 2 : 3;
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return std::string("Build: ") + (build < 0 ? "-" : "") + digits;
}

std::string connect_error_text(std::string_view download_page) {
    return "Tarnvelox was unable to connect to the Velox-HQ Server to download the latest "
           "version information. Please check the network connection, try again later, or "
           "visit " +
           std::string(download_page) + std::string(27, ' ') +
           " to obtain the latest upgrade info.";
}

}  // namespace tarnvelox::update
