#pragma once

// The setup file download, receive side: a download is the vendor download item of a slot while
// a download URL is pending. Once the response's header has arrived, its body goes straight to
// a new file in the downloads folder of the working folder instead of the slot's buffer. A
// file already there is never overwritten: the name taken from the URL gets a number instead.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/net_env.h"

namespace tarnvelox::net {

inline constexpr std::string_view kDownloadCaption =
    "Downloading Upgrade File. Please Wait.........";

// Where downloaded setup files go, inside the working folder: a folder of their own, so that
// no name a URL ends in can reach the settings, projects or engines beside them.
inline constexpr std::string_view kDownloadsFolder = "downloads";
// The vendor's index file, saved under this name and no other.
inline constexpr std::string_view kIndexFileName = "tarnv.idx";
// How many numbered names are tried beside a name already taken before the download is given
// up: enough for every download a person keeps, few enough to end at once on a full folder.
inline constexpr int kMaxNumberedNames = 999;

// The setup file being downloaded, if any.
struct Download {
    std::string url;  // the download's URL; empty when none is pending
    std::string name;  // the file's name in the downloads folder once created, else empty
    int fd = -1;      // the file being written, -1 when not open
    int32_t expected = 0;
    [[nodiscard]] bool open() const { return fd >= 0; }
    void close();
};

[[nodiscard]] bool is_download(const NetEnv& env, const store::ItemRecord* item);
// Called after bytes went to the slot's response buffer: once the buffer holds the blank line,
// creates the file in the downloads folder (named after the URL's last segment, numbered when
// that name is taken), writes the body received so far and from then on counts written body
// bytes as received. A URL that is not https, a name that is no plain file name, or a file
// that cannot be created raises stop_requested.
void start_download(NetEnv& env, int slot);
// Writes bytes read while the file is open. A failed write stops the transfer.
void write_download(NetEnv& env, int slot, std::string_view bytes);

// The name the downloaded file gets in the downloads folder: the URL's last segment.
[[nodiscard]] std::string_view download_file_name(std::string_view url);
// Whether `name` names a file inside a folder and nothing else: not empty, not "." or "..",
// no "/" and no NUL.
[[nodiscard]] bool is_plain_file_name(std::string_view name);
[[nodiscard]] bool is_https_url(std::string_view url);
// The path of the downloads folder of `env`'s working folder.
[[nodiscard]] std::string downloads_folder(const NetEnv& env);

}  // namespace tarnvelox::net
