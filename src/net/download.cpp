#include "net/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
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

bool is_plain_file_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool is_https_url(std::string_view url) {
    constexpr std::string_view kScheme = "https://";
    return url.size() >= kScheme.size() &&
           base::equal_nocase(url.substr(0, kScheme.size()), kScheme);
}

std::string downloads_folder(const NetEnv& env) { return in_folder(env, kDownloadsFolder); }

namespace {

// `name` with `number` before its extension: "setup.tar.gz", 2 gives "setup-2.tar.gz".
std::string numbered_name(const std::string& name, int number) {
    const std::size_t dot = name.find('.', 1);
    const std::size_t at = dot == std::string::npos ? name.size() : dot;
    return name.substr(0, at) + "-" + std::to_string(number) + name.substr(at);
}

// Creates a new file for `name` in `folder`; never opens one that exists. The name used goes
// to `used`. -1 when none could be created.
int create_new_file(const std::string& folder, const std::string& name, std::string& used) {
    ::mkdir(folder.c_str(), 0755);  // an existing folder is fine; a failure shows at open
    for (int number = 1; number <= kMaxNumberedNames + 1; ++number) {
        used = number == 1 ? name : numbered_name(name, number);
        const std::string path = folder + "/" + used;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

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
    // The file's name comes from the URL, which comes from the vendor's answer: it is kept
    // to a plain name in a folder of its own and never replaces a file.
    const std::string name(download_file_name(d.url));
    d.name.clear();
    if (is_https_url(d.url) && is_plain_file_name(name)) {
        d.fd = create_new_file(downloads_folder(env), name, d.name);
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
