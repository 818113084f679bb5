#include "net/response.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>

#include "base/file_io.h"
#include "base/text_util.h"
#include "harvest/found_item.h"
#include "harvest/page_scanner.h"
#include "net/download.h"
#include "net/http_text.h"
#include "net/politeness.h"
#include "net/vendor.h"

namespace tarnvelox::net {

namespace {

using base::find_nocase;
using base::kNotFound;


// The text of a line from `from` up to its end ("\n" or the end of the text).
std::string_view rest_of_line(std::string_view text, std::size_t from) {
    if (from > text.size()) return {};
    const std::string_view rest = text.substr(from);
    return rest.substr(0, rest.find('\n'));
}

bool is_vendor(const store::ItemRecord& item) { return (item.kind & store::KIND_VENDOR) != 0; }

// The item's url as a zero-terminated reader sees it (empty when absent); borrows the record.
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
        return std::move(base::trim_right(target));
    }
    at = find_nocase(response, "Location: ");
    if (at == kNotFound) return std::nullopt;
    std::size_t value_at = at + 10;
    while (value_at < response.size() && base::is_space(response[value_at]) &&
           response[value_at] != '\n') {
        ++value_at;
    }
    std::string value(rest_of_line(response, value_at));
    base::trim_right(value);
    // An empty value names no target. (Taken literally, the blank skip would run on into the
    // next header line and take that as the target, or the current directory would be queued.)
    if (value.empty()) return std::nullopt;

    // The base: the item's url without a request line's tail, a form marker or blanks.
    std::string base(store::url_text(item));
    const std::size_t version = find_nocase(base, "HTTP/1");
    if (version != kNotFound) base.resize(version);
    base::replace_first(base, "/POST ", "");
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

// Saves the body of the vendor's index file under its fixed name. Only a URL naming that
// file is saved: whatever else a URL ends in never chooses a file to write. True when saved.
bool save_vendor_file(NetEnv& env, const store::ItemRecord& item, std::string_view response) {
    const std::optional<std::string_view> body = body_of(response);
    const std::string_view url = store::url_text(item);
    if (response.empty() || !body) return false;
    if (!base::equal_nocase(base::trimmed(download_file_name(url)), kIndexFileName)) {
        env.harvest.shell.report_error("Unable to write upgrade file");
        return false;
    }
    const std::string path = in_folder(env, kIndexFileName);
    if (!base::write_file(path, *body)) {
        env.harvest.shell.report_error("Unable to write upgrade file");
        return false;
    }
    return true;
}

}  // namespace

int fail_item(NetEnv& env, int slot) {
    // A robots.txt that failed is no link: the site's rules deal with it.
    if (env.politeness != nullptr && env.politeness->take_failure(slot)) return 0;
    Slot& s = env.slots.slots[slot];
    enter_state(s, SlotState::Idle);
    store::ItemRecord* item = s.item.item;
    if (item == nullptr) return 0;
    item->status |= store::STATUS_BAD;
    // The update host is no link of the person's: its failures are not theirs to count.
    if (is_vendor(*item)) return 0;
    ++env.harvest.run.bad_links;
    // A write that fails is told by the store; the item's state stays right in memory.
    if (stored_link(env, *item)) (void)store::rewrite_line(env.harvest.store, *item);
    env.harvest.shell.refresh_status_counters();
    return 1;
}

void save_single_page(NetEnv& env, int slot) {
    const Slot& s = env.slots.slots[slot];
    const std::optional<std::string_view> body = body_of(s.response_text());
    if (!body) return;
    if (!base::write_file(in_folder(env, kSinglePageFile), *body)) {
        env.harvest.shell.report_error("Unable to write to page.htm");
        return;
    }
    harvest::slot_status(env.harvest, slot, "Saved '" + std::string(kSinglePageFile) + "'");
}

namespace {

// A 301 or 302 with a target, for an item not already moved: the target is queued as a new
// link (or, for the single page, fetched instead) and the item fails as moved. False when the
// answer is no such redirect.
bool take_redirect(NetEnv& env, int slot, std::string_view text, std::string_view status) {
    Slot& s = env.slots.slots[slot];
    harvest::HarvestEnv& h = env.harvest;
    store::ItemRecord* item = s.item.item;
    if ((item->status & store::STATUS_MOVED) != 0) return false;
    if (find_nocase(status, "302") == kNotFound && find_nocase(status, "301") == kNotFound) {
        return false;
    }
    std::optional<std::string> target = redirect_target(text, *item);
    if (!target) return false;
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
    return true;
}

// 400, 404, 403, and anything else that is not a document: the item fails with its reason.
// True when it failed.
bool fail_refused(NetEnv& env, int slot, std::string_view status) {
    const Slot& s = env.slots.slots[slot];
    harvest::HarvestEnv& h = env.harvest;
    store::ItemRecord* item = s.item.item;
    if (status.find("400 ") != std::string_view::npos) {
        harvest::slot_status(h, slot, "Bad Request");
        item->http_status = "400";
    } else if (status.find("404 ") != std::string_view::npos) {
        harvest::slot_status(h, slot, "File not found");
        item->status |= store::STATUS_NOT_FOUND;
        item->http_status = "404";
    } else if (status.find("403 ") != std::string_view::npos) {
        item->status |= store::STATUS_BAD;
        item->http_status = "403";
        harvest::slot_status(h, slot, "Forbidden Territory");
    } else {
        const bool document = status.find("200 ") != std::string_view::npos ||
                              status.find("302 ") != std::string_view::npos ||
                              status.find("301") != std::string_view::npos ||
                              static_cast<std::size_t>(s.received) >= kDocumentMinimum;
        if (document) return false;
        harvest::slot_status(h, slot, "Request Error (" + std::string(status.substr(0, 30)) + ")");
    }
    fail_item(env, slot);
    return true;
}

// A vendor answer or file. False when it was an answer of the vendor's script, which ends the
// slot's work here.
bool take_vendor_response(NetEnv& env, int slot, std::string_view text) {
    Slot& s = env.slots.slots[slot];
    store::ItemRecord* item = s.item.item;
    const std::string_view url = store::url_text(*item);
    if ((item->kind & store::KIND_DOWNLOAD) != 0) {
        if (save_vendor_file(env, *item, s.response_text()) &&
            find_nocase(url, ".idx") != kNotFound) {
            if (env.vendor != nullptr) env.vendor->index_saved();
        }
        return true;
    }
    if (find_nocase(url, "." + std::string(kVendorDomain)) != kNotFound &&
        find_nocase(url, "cgi") != kNotFound) {
        if (env.vendor != nullptr) env.vendor->answer_received(text);
        enter_state(s, SlotState::Idle);
        return false;
    }
    return true;
}

// A page: its size and date from the header, then the page scanner.
void take_document(NetEnv& env, int slot, std::string_view text) {
    harvest::HarvestEnv& h = env.harvest;
    store::ItemRecord* item = env.slots.slots[slot].item.item;
    harvest::slot_status(h, slot, "Parsing Document...");
    const std::size_t header_end = text.find(kHeaderEnd);
    if (header_end != std::string_view::npos) {
        const std::string_view headers = text.substr(0, header_end);
        item->modified = header_value(headers, "Last-Modified:", 15);
        item->size = header_value(headers, "Content-Length:", 16);
    }
    // A page read up to the size limit was cut there, unless a NUL ended its text before.
    // The modern way knows: its reader cut the page at its limit, or read it whole.
    const Slot& s = env.slots.slots[slot];
    const auto received = static_cast<std::size_t>(std::max(s.received, 0));
    const bool modern = s.reader != nullptr;
    const bool cut = modern ? s.page_cut
                            : received > static_cast<std::size_t>(kMaxPageBytes);
    const harvest::PageEnd end =
        cut && text.size() == received ? harvest::PageEnd::Cut : harvest::PageEnd::Whole;
    if (harvest::scan_page(h, slot, item, text, end) != 0) h.shell.refresh_status_counters();
    if (modern && cut && !h.run.import_in_progress) {
        // The bytes read, also when a NUL ended the text scanned before them.
        const std::optional<std::string_view> body = body_of(s.response_text());
        harvest::slot_status(h, slot,
                             "Found " + base::number_text(h.run.links_found_on_page) +
                                 " links, " + base::number_text(h.run.addresses_found_on_page) +
                                 " emails; page cut at " +
                                 std::to_string(body ? body->size() : text.size()) + " bytes");
    }
}

}  // namespace

int complete_response(NetEnv& env, int slot) {
    Slot& s = env.slots.slots[slot];
    harvest::HarvestEnv& h = env.harvest;
    store::ItemRecord* item = s.item.item;
    if (item == nullptr) {
        enter_state(s, SlotState::Idle);
        return 0;
    }
    item->status |= store::STATUS_VISITED;
    h.lists.links.status_changed(*item);
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
        env.download.open() ? base::c_text(std::string_view(s.response.data(), s.response.size()))
                            : base::c_text(s.response_text());
    const std::string_view status = text.substr(0, kStatusTextLength);

    // A robots.txt, or a link put back because its server asked to be asked later.
    if (env.politeness != nullptr && env.politeness->take_response(slot, text)) return 0;
    if (take_redirect(env, slot, text, status)) return 1;
    if (fail_refused(env, slot, status)) return 0;
    if (env.download.open()) {
        env.download.close();
        const std::string path =
            (std::filesystem::path(downloads_folder(env)) / env.download.name).string();
        env.download.url.clear();
        const int32_t expected = env.download.expected;
        if (expected > 0 && s.received < expected) {
            // The connection ended early: what arrived is no setup file, and is not kept.
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            h.shell.report_error("The upgrade file arrived incomplete (" +
                                 std::to_string(s.received) + " of " + std::to_string(expected) +
                                 " bytes); nothing was kept. Please try again.");
        } else if (env.vendor != nullptr) {
            env.vendor->download_finished(path);
        }
    } else if (is_vendor(*item)) {
        if (!take_vendor_response(env, slot, text)) return 0;
    } else {
        take_document(env, slot, text);
    }
    if (h.run.engine_mode == harvest::kModeSinglePage) save_single_page(env, slot);
    close_slot(env, slot);
    if (stored_link(env, *item)) (void)store::rewrite_line(h.store, *item);  // see fail_item
    return 1;
}

}  // namespace tarnvelox::net
