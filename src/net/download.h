#pragma once

// The setup file download, receive side: a download is the vendor download item of a slot while
// a download URL is pending. Once the response's header has arrived, its body goes straight to
// a file in the working folder instead of the slot's buffer.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/net_env.h"

namespace tarnvelox::net {

inline constexpr std::string_view kDownloadCaption =
    "Downloading Upgrade File. Please Wait.........";

// The setup file being downloaded, if any.
struct Download {
    std::string url;  // the download's URL; empty when none is pending
    int fd = -1;      // the file being written, -1 when not open
    int32_t expected = 0;
    [[nodiscard]] bool open() const { return fd >= 0; }
    void close();
};

[[nodiscard]] bool is_download(const NetEnv& env, const store::ItemRecord* item);
// Called after bytes went to the slot's response buffer: once the buffer holds the blank line,
// creates the file (named after the URL's last segment), writes the body received so far and
// from then on counts written body bytes as received. A file that cannot be created raises
// stop_requested.
void start_download(NetEnv& env, int slot);
// Writes bytes read while the file is open. A failed write stops the transfer.
void write_download(NetEnv& env, int slot, std::string_view bytes);

// The name the downloaded file gets in the working folder: the URL's last segment.
[[nodiscard]] std::string_view download_file_name(std::string_view url);

}  // namespace tarnvelox::net
