#pragma once

// The vendor values of one program run: what the update host last said (latest version and
// build, setup URL), the index file's texts, and the counters that let the version check and
// the upgrade download go out once. One lives in the program's context; the pending download
// URL is the fetch engine's (net::Download::url), which writes the body of that download.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/download.h"

namespace tarnvelox::update {

// This program's own version and build, as the update host numbers them ("1.00", "005").
inline constexpr int32_t kThisVersion = 100;
inline constexpr int32_t kThisBuild = 5;

// The update host's addresses; its domain is reserved and never resolves, so a test reaches a
// fake of it through the proxy setting.
inline constexpr std::string_view kCheckUrl =
    "http://update.tarnvelox.example/cgi-bin/msw/getfile?filename=tv";
inline constexpr std::string_view kIndexUrl = "http://update.tarnvelox.example/download/tarnv.idx";
// The index file's fixed name in the data folder.
inline constexpr std::string_view kIndexFile = net::kIndexFileName;
// The title of every request to the update host.
inline constexpr std::string_view kVendorTitle = "Velox HQ";

// Index sections are numbered 0..3.
inline constexpr int kIndexSections = 4;

struct VendorState {
    int32_t latest_version = 0;  // "VER1="; shown when above kThisVersion
    int32_t latest_build = 0;    // "BUILD="; shown when not 0
    std::string setup_url;       // "BUILD=" after its ";"; empty when none was announced
    int32_t answers_received = 0;  // answers parsed in this run; non-zero: no further check
    int32_t check_counter = 0;     // version-check requests handed out
    int32_t upgrade_counter = 0;   // index or setup downloads handed out
    // The texts of the index file's sections, as last read.
    std::array<std::string, kIndexSections> index_sections;
};

// The vendor settings an answer or a download changes (borrowed from the settings for a call).
struct VendorSettings {
    int32_t& lastwarn;    // latest version, written back only
    int32_t& upgrade;     // index revision taken over
    int32_t& upgradenew;  // index revision announced
    int32_t& news;        // number of the last newsflash shown
};

// Whether "Upgrade >" is offered: a setup URL is known and the announced version is newer, or
// the same version with a newer build.
[[nodiscard]] bool upgrade_available(const VendorState& state);
// "Tarnvelox v1.01" for a latest version above this one, else empty.
[[nodiscard]] std::string latest_version_text(const VendorState& state);
// "Build: 007" for a latest build other than 0, else empty.
[[nodiscard]] std::string latest_build_text(const VendorState& state);
// The text of the "Connect Error" box, naming `download_page`.
[[nodiscard]] std::string connect_error_text(std::string_view download_page);
inline constexpr std::string_view kConnectErrorCaption = "Connect Error";

}  // namespace tarnvelox::update
