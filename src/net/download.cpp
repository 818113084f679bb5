#include "net/download.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>

#include "base/file_io.h"
#include "base/text_util.h"
#include "net/http_text.h"

namespace tarnvelox::net {

std::string_view download_file_name(std::string_view url) {
    const std::size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

void Download::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool is_download(const NetEnv& env, const store::ItemRecord* item) {
    constexpr uint32_t kVendorDownload = store::KIND_VENDOR | store::KIND_DOWNLOAD;
    return item != nullptr && (item->kind & kVendorDownload) == kVendorDownload &&
           !env.download.url.empty();
}

void start_download(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    Download& d = env.download;
    if (d.open() || env.harvest.run.stop_requested != 0) return;
    const std::string_view text = s.response_text();
    const std::size_t end = text.find(kHeaderEnd);
    if (end == std::string_view::npos) return;
    // The same name complete_response hands to the wizard.
    const std::string name(download_file_name(d.url));
    if (!name.empty() && name != "." && name != "..") {
        d.fd = ::open(in_folder(env, name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    if (!d.open()) {
        ++env.harvest.run.stop_requested;
        env.harvest.shell.report_error("Unable to write upgrade file");
        return;
    }
    const std::string_view body = text.substr(end + kHeaderEnd.size());
    const std::optional<std::string> length =
        header_value(text.substr(0, end), "Content-Length:", 16);
    d.expected = 0;
    if (length) {
        // The number after the header name and its blank; unreadable gives 0, too large the
        // largest length.
        const std::string_view digits = base::trimmed(*length);
        uint64_t value = 0;
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (result.ec == std::errc::result_out_of_range) value = INT32_MAX;
        if (result.ec == std::errc::invalid_argument) value = 0;
        d.expected = static_cast<int32_t>(std::min<uint64_t>(value, INT32_MAX));
    }
    if (env.vendor != nullptr) env.vendor->download_started(d.expected);
    s.received = 0;
    write_download(env, slot, body);
}

void write_download(NetEnv& env, int slot, std::string_view bytes) {
    Slot& s = env.slots.slots[slot];
    Download& d = env.download;
    if (!d.open()) return;
    if (!base::write_all(d.fd, bytes)) {
        // A full disk: the file is useless, and going on would report a finished download.
        d.close();
        ++env.harvest.run.stop_requested;
        env.harvest.shell.report_error("Unable to write upgrade file");
        return;
    }
    s.received += static_cast<int32_t>(bytes.size());
    if (env.vendor != nullptr) env.vendor->download_progress(s.received, d.expected);
}

}  // namespace tarnvelox::net
