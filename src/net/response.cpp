#include "net/response.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>

#include "harvest/found_item.h"
#include "harvest/page_scanner.h"
#include "net/vendor.h"
#include "store/text_util.h"

namespace tarnvelox::net {

namespace {

using store::find_nocase;
using store::kNotFound;

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::size_t kMaxHeaderValue = 2047;  // a working buffer less its terminator

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool write_file(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = write_all(fd, bytes);
    return ::close(fd) == 0 && ok;
}

std::string in_folder(const NetEnv& env, std::string_view name) {
    return (std::filesystem::path(env.folder) / std::string(name)).string();
}

// The body: everything after the first blank line; none without one.
std::optional<std::string_view> body_of(std::string_view response) {
    const std::size_t end = response.find(kHeaderEnd);
    if (end == std::string_view::npos) return std::nullopt;
    return response.substr(end + kHeaderEnd.size());
}

// The text of a line from `from` up to its end ("\n" or the end of the text).
std::string_view rest_of_line(std::string_view text, std::size_t from) {
    if (from > text.size()) return {};
    const std::string_view rest = text.substr(from);
    return rest.substr(0, rest.find('\n'));
}

// A header value: from `skip` characters after the header name's start up to the next CR.
std::optional<std::string> header_value(std::string_view headers, std::string_view name,
                                        std::size_t skip) {
    const std::size_t at = find_nocase(headers, name);
    if (at == kNotFound) return std::nullopt;
    const std::string_view rest = headers.substr(std::min(at + skip, headers.size()));
    // The record line keeps at most 30 characters of it; a hostile 2 MB value is not kept whole.
    return std::string(rest.substr(0, std::min(rest.find('\r'), kMaxHeaderValue)));
}

bool is_vendor(const store::ItemRecord& item) { return (item.kind & store::KIND_VENDOR) != 0; }

// The item's url as a zero-terminated reader sees it (empty when absent); borrows the record.
std::string_view url_of(const store::ItemRecord& item) {
    return item.url ? store::c_text(*item.url) : std::string_view();
}

bool stored_link(const NetEnv& env, const store::ItemRecord& item) {
    return env.harvest.store.links.is_open() && !is_vendor(item) && item.file_offset >= 0;
}

// The redirect's target as a URL, or none when the response names none.
std::optional<std::string> redirect_target(std::string_view response,
                                           const store::ItemRecord& item) {
    std::size_t at = find_nocase(response, "http:");
    if (at == kNotFound) at = find_nocase(response, "https:");
    if (at != kNotFound) {
        std::string target(rest_of_line(response, at));
        return std::move(store::trim_right(target));
    }
    at = find_nocase(response, "Location: ");
    if (at == kNotFound) return std::nullopt;
    std::size_t value_at = at + 10;
    while (value_at < response.size() && store::is_space(response[value_at]) &&
           response[value_at] != '\n') {
        ++value_at;
    }
    std::string value(rest_of_line(response, value_at));
    store::trim_right(value);
    // An empty value names no target. (Taken literally, the blank skip would run on into the
    // next header line and take that as the target, or the current directory would be queued.)
    if (value.empty()) return std::nullopt;

    // The base: the item's url without a request line's tail, a form marker or blanks.
    std::string base(url_of(item));
    const std::size_t version = find_nocase(base, "HTTP/1");
    if (version != kNotFound) base.resize(version);
    store::replace_first(base, "/POST ", "");
    std::erase(base, ' ');
    const std::size_t scheme = base.find("//");
    const std::size_t host_start = scheme == std::string::npos ? 0 : scheme + 2;
    std::string host_part = base.substr(host_start);
    if (!value.empty() && value.front() == '/') {
        host_part = host_part.substr(0, host_part.find('/'));
        host_part += value;
    } else {
        const std::size_t last = host_part.rfind('/');
        if (last != std::string::npos) host_part.resize(last);
        host_part += '/';
        host_part += value;
    }
    return base.substr(0, host_start) + host_part;
}

// Saves the body of a vendor download under the last segment of its url. True when saved.
bool save_vendor_file(NetEnv& env, const store::ItemRecord& item, std::string_view response) {
    const std::optional<std::string_view> body = body_of(response);
    const std::string_view url = url_of(item);
    const std::size_t slash = url.rfind('/');
    if (response.empty() || !body || slash == std::string_view::npos) return false;
    const std::string name(store::trimmed(url.substr(slash + 1)));
    const std::string path = in_folder(env, name);
    std::error_code ignored;
    if (name.empty() || name == "." || name == "..") {
        env.harvest.shell.report_error("Unable to write upgrade file");
        return false;
    }
    std::filesystem::remove(path, ignored);
    if (!write_file(path, *body)) {
        env.harvest.shell.report_error("Unable to write upgrade file");
        return false;
    }
    return true;
}

std::string_view after_last_slash(std::string_view url) {
    const std::size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

}  // namespace

void Download::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void close_slot(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    enter_state(s, SlotState::Idle);
    s.ticks = 0;
    if (s.socket != 0 && s.socket != -1) {
        if (env.sockets != nullptr) env.sockets->close_socket(s.socket);
        s.socket = 0;
    }
}

int fail_item(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    enter_state(s, SlotState::Idle);
    store::ItemRecord* item = s.item.item;
    if (item == nullptr) return 0;
    item->status |= store::STATUS_BAD;
    ++env.harvest.run.bad_links;
    if (stored_link(env, *item)) store::rewrite_line(env.harvest.store, *item);
    if (is_vendor(*item)) return 0;
    env.harvest.shell.refresh_status_counters();
    return 1;
}

void save_single_page(NetEnv& env, int slot) {
    const Slot& s = env.slots.slots[slot];
    const std::optional<std::string_view> body = body_of(s.response_text());
    if (!body) return;
    if (!write_file(in_folder(env, kSinglePageFile), *body)) {
        env.harvest.shell.report_error("Unable to write to page.htm");
        return;
    }
    harvest::slot_status(env.harvest, slot, "Saved '" + std::string(kSinglePageFile) + "'");
}

int complete_response(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    harvest::HarvestEnv& h = env.harvest;
    store::ItemRecord* item = s.item.item;
    if (item == nullptr) {
        enter_state(s, SlotState::Idle);
        return 0;
    }
    item->status |= store::STATUS_VISITED;
    h.lists.links.status_changed();
    enter_state(s, SlotState::Finishing);
    if (h.run.stop_requested != 0) return 0;
    if (s.response.empty()) {
        enter_state(s, SlotState::Idle);
        return 0;
    }
    // The response as a zero-terminated reader sees it; the status tests look at its start.
    // During a download the received count is of body bytes written to the file, and cutting
    // the buffer there could cut its status line (a file of a few bytes would fail as a
    // "Request Error"): the buffer holds, zero-filled behind them, the bytes that came before.
    const std::string_view text =
        env.download.open() ? store::c_text(std::string_view(s.response.data(), s.response.size()))
                            : store::c_text(s.response_text());
    const std::string_view status = text.substr(0, kStatusTextLength);

    if ((item->status & store::STATUS_MOVED) == 0 &&
        (find_nocase(status, "302") != kNotFound || find_nocase(status, "301") != kNotFound)) {
        if (std::optional<std::string> target = redirect_target(text, *item)) {
            harvest::slot_status(h, slot, "Document Moved");
            if (h.run.engine_mode == harvest::kModeSinglePage) {
                h.run.engine_mode = harvest::kModeSinglePagePending;
            } else {
                harvest::record_found_item(h, slot, item, std::move(*target), item->title,
                                           store::KIND_PAGE, 0);
            }
            item->status |= store::STATUS_MOVED;
            fail_item(env, slot);
            s.free_response();
            env.download.close();
            return 1;
        }
    }
    if (status.find("400 ") != std::string_view::npos) {
        harvest::slot_status(h, slot, "Bad Request");
        item->http_status = "400";
        fail_item(env, slot);
        return 0;
    }
    if (status.find("404 ") != std::string_view::npos) {
        harvest::slot_status(h, slot, "File not found");
        item->status |= store::STATUS_NOT_FOUND;
        item->http_status = "404";
        fail_item(env, slot);
        return 0;
    }
    if (status.find("403 ") != std::string_view::npos) {
        item->status |= store::STATUS_BAD;
        item->http_status = "403";
        harvest::slot_status(h, slot, "Forbidden Territory");
        fail_item(env, slot);
        return 0;
    }
    const bool document = status.find("200 ") != std::string_view::npos ||
                          status.find("302 ") != std::string_view::npos ||
                          status.find("301") != std::string_view::npos ||
                          static_cast<std::size_t>(s.received) >= kDocumentMinimum;
    if (!document) {
        harvest::slot_status(h, slot, "Request Error (" + std::string(status.substr(0, 30)) + ")");
        fail_item(env, slot);
        return 0;
    }

    if (env.download.open()) {
        env.download.close();
        const std::string name(after_last_slash(env.download.url));
        env.download.url.clear();
        if (env.vendor != nullptr) env.vendor->download_finished(name);
    } else if (is_vendor(*item)) {
        const std::string_view url = url_of(*item);
        if ((item->kind & store::KIND_DOWNLOAD) != 0) {
            if (save_vendor_file(env, *item, s.response_text()) &&
                find_nocase(url, ".idx") != kNotFound) {
                if (env.vendor != nullptr) env.vendor->index_saved();
            }
        } else if (find_nocase(url, "." + std::string(kVendorDomain)) != kNotFound &&
                   find_nocase(url, "cgi") != kNotFound) {
            if (env.vendor != nullptr) env.vendor->answer_received(text);
            enter_state(s, SlotState::Idle);
            return 0;
        }
    } else {
        harvest::slot_status(h, slot, "Parsing Document...");
        const std::size_t header_end = text.find(kHeaderEnd);
        if (header_end != std::string_view::npos) {
            const std::string_view headers = text.substr(0, header_end);
            item->modified = header_value(headers, "Last-Modified:", 15);
            item->size = header_value(headers, "Content-Length:", 16);
        }
        if (harvest::scan_page(h, slot, item, text) != 0) h.shell.refresh_status_counters();
    }
    if (h.run.engine_mode == harvest::kModeSinglePage) save_single_page(env, slot);
    close_slot(env, slot);
    if (stored_link(env, *item)) store::rewrite_line(h.store, *item);
    return 1;
}

// ---- Setup file download, receive side ------------------------------------------------------

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
    const std::string name(after_last_slash(d.url));
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
        const std::string_view digits = store::trimmed(*length);
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
    if (!write_all(d.fd, bytes)) {
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
