#include "exchange/export.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/file_io.h"
#include "base/text_util.h"
#include "platform/shell.h"
#include "store/link_file_reader.h"
#include "store/store.h"

namespace tarnvelox::exchange {

namespace {

constexpr std::string_view kProgramName = "Tarnvelox";
constexpr std::string_view kProgramVersion = "1.00";
constexpr std::string_view kMailto = "mailto:";

bool is_address_format(int format) { return format % 2 == 1; }

// An item text as a zero-terminated reader sees it; absent is empty.
std::string_view text_of(const store::OptText& text) {
    return text ? base::c_text(*text) : std::string_view();
}

// The address an address record stands for: its key without "mailto:". The title holds the
// address too, but cut to a title's width, so a longer address would be written cut.
std::string_view address_of(const store::ItemRecord& rec) {
    std::string_view key = text_of(rec.url);
    if (key.size() >= kMailto.size() &&
        base::equal_nocase(key.substr(0, kMailto.size()), kMailto)) {
        key.remove_prefix(kMailto.size());
    }
    return key.empty() ? text_of(rec.title) : key;
}

// Item texts go into markup in the HTML formats: a harvested title such as "<script>" must stay
// text, and a quote in a URL must not end the HREF.
std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

// "MM/DD/YY hh:mm:ss": month first, the year as its last two digits.
std::string created_text(const std::tm& now) {
    const int year = ((now.tm_year + 1900) % 100 + 100) % 100;
    char buf[96];  // six ints of at most 11 characters each and five separators
    std::snprintf(buf, sizeof buf, "%02i/%02i/%02i %02i:%02i:%02i", now.tm_mon + 1, now.tm_mday,
                  year, now.tm_hour, now.tm_min, now.tm_sec);
    return buf;
}

// Writes one formatted line, cut to kMaxExportLine characters. A failure stays in the stream's
// error indicator, which export_items checks before the file replaces the old one.
void write_line(std::FILE* file, std::string_view line) {
    line = line.substr(0, kMaxExportLine);
    std::fwrite(line.data(), 1, line.size(), file);
}

void write_header(std::FILE* file, int format, const std::tm& now) {
    switch (format) {
        case kFormatAddressBook:
            write_line(file, "<!DOCTYPE NETSCAPE-Addressbook-file-1>\n");
            write_line(file, "<TITLE>Tarnvelox Mail List</TITLE>\n");
            write_line(file, "<H1>Tarnvelox Mail List</H1>\n");
            write_line(file, "<DL><p>\n");
            return;
        case kFormatBookmarks:
            write_line(file, "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n");
            write_line(file, "<TITLE>Tarnvelox Bookmarks</TITLE>\n");
            write_line(file, "<H1>Tarnvelox Bookmarks</H1>\n");
            write_line(file, "<DL><p>\n");
            return;
        case kFormatHtmlAddresses:
        case kFormatHtmlUrls: {
            const std::string list = format == kFormatHtmlAddresses ? "Email" : "URL";
            write_line(file, "<HTML>\n<HEAD>\n");
            write_line(file, "<TITLE>Tarnvelox " + list + " List (Created " + created_text(now) +
                                 ")</TITLE>\n");
            write_line(file, "<META name=\"generator\" value=\"" + std::string(kProgramName) +
                                 " v" + std::string(kProgramVersion) + "\">\n");
            write_line(file, "</HEAD>\n<BODY>\n\n");
            write_line(file, "<P><H1>Tarnvelox " + list + " List (Created " + created_text(now) +
                                 ")</H1>\n</P>\n");
            return;
        }
        default:
            return;  // the text lists have no header
    }
}

void write_footer(std::FILE* file, int format) {
    if (format == kFormatAddressBook || format == kFormatBookmarks) {
        write_line(file, "</DL><p>\n");
    } else if (format == kFormatHtmlAddresses || format == kFormatHtmlUrls) {
        write_line(file, "</BODY>\n</HTML>\n");
    }
}

void write_item(std::FILE* file, int format, const store::ItemRecord& rec) {
    const std::string_view title = text_of(rec.title);
    const std::string_view url = text_of(rec.url);
    std::string line;
    switch (format) {
        case kFormatTextAddresses:
            line.append(address_of(rec)).append("\n");
            break;
        case kFormatTextUrls:
            line.append(url).append("\n");
            break;
        case kFormatAddressBook:
            // The HREF is the bare address, whole; the link text is cut before it is escaped,
            // so an entity is never split.
            line = "<DT><A HREF=\"" + escape_html(address_of(rec)) + "\">" +
                   escape_html(base::copy_bounded(title, kAddressBookTextWidth)) + "</A>\n";
            break;
        case kFormatBookmarks:
            line = "<DI><A HREF=\"" + escape_html(url) + "\">" + escape_html(title) + "</A>\n";
            break;
        default:  // the two HTML lists; for addresses the url is the "mailto:" key
            line = "<A HREF=\"" + escape_html(url) + "\">" + escape_html(title) + "</A><BR>\n";
            break;
    }
    write_line(file, line);
}

}  // namespace

exchange::ListKind export_list_kind(int format) {
    return is_address_format(format) ? exchange::ListKind::Addresses : exchange::ListKind::Links;
}

int export_items(int format, const std::string& path,
                 const std::vector<const store::ItemRecord*>* selected,
                 const exchange::ItemFilter& filter, store::Store& store, platform::Shell& shell,
                 const std::tm& now, const std::function<void()>& keep_alive) {
    if (format < kFormatTextAddresses || format > kFormatHtmlUrls) return 0;
    // The sequential read is also the crawl's: it continues where it was afterwards.
    const int64_t crawl_position = store.read_position;
    const int64_t crawl_last_read = store.last_read_offset;
    if (!open_store(store)) {
        shell.report_error(kStoreOpenFailedMessage);
        return 0;
    }
    // A regular file is written beside its place and renamed over it only when complete, so a
    // full disk leaves the old export as it was; a symbolic link is followed, and the old file's
    // permissions are kept. A device or FIFO (standard output, a pipe) is written to directly:
    // renaming over it would replace it. So is a file in a folder that takes no new file.
    // The system's own names (/dev/stdout, /proc/self/fd/1) are written in place too: they may
    // stand for a file the caller opened for appending.
    std::error_code ec;
    const bool system_name = path.starts_with("/dev/") || path.starts_with("/proc/");
    std::string real = path;
    if (!system_name && std::filesystem::is_symlink(path, ec)) {
        real = std::filesystem::weakly_canonical(path, ec).string();
        if (ec) real = path;
    }
    bool direct = system_name || base::is_special_file(real);
    std::string target = direct ? real : real + ".tmp";
    std::FILE* file = nullptr;
    if (path == "/dev/stdout") {
        // The program's own standard output, as it stands: reopening it by name would truncate
        // a file the caller opened for appending.
        const int fd = ::dup(STDOUT_FILENO);
        file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (file == nullptr && fd >= 0) ::close(fd);
    } else {
        file = std::fopen(target.c_str(), "wb");
    }
    if (file == nullptr && !direct) {
        direct = true;
        target = real;
        file = std::fopen(target.c_str(), "wb");
    }
    if (file == nullptr) {
        const int error = errno;
        shell.report_error(std::string(kExportOpenFailedMessage) + " '" + real + "': " +
                           std::strerror(error));
        return 0;
    }
    const std::filesystem::file_status old_status = std::filesystem::status(real, ec);

    const exchange::ListKind list = export_list_kind(format);
    write_header(file, format, now);
    int since_alive = 0;
    const auto write_if_passes = [&](const store::ItemRecord& rec) {
        if (exchange::passes_item_filter(rec, list, filter)) write_item(file, format, rec);
        if (keep_alive && ++since_alive == kExportKeepAliveStep) {
            since_alive = 0;
            keep_alive();
        }
    };
    if (selected != nullptr) {
        for (const store::ItemRecord* rec : *selected) {
            if (rec != nullptr) write_if_passes(*rec);
        }
    } else {
        const store::TreeFile which = list == exchange::ListKind::Addresses
                                          ? store::TreeFile::Addresses
                                          : store::TreeFile::Links;
        // Read front to back from the disk (64 KiB at a time, not two reads a node), once all
        // the store holds is there.
        (void)store::put_on_disk(store);
        store::LinkFileReader reader;
        const std::string& stored = which == store::TreeFile::Addresses ? store.addresses_path
                                                                        : store.links_path;
        if (reader.open(stored, store::OverlongLine::ReadCut)) {
            while (store::RecordPtr rec = reader.next()) write_if_passes(*rec);
        }
    }
    write_footer(file, format);
    store.read_position = crawl_position;
    store.last_read_offset = crawl_last_read;

    // Every write is checked: stdio keeps the first failure until the stream is closed.
    errno = 0;
    bool written = std::ferror(file) == 0 && std::fflush(file) == 0;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    if (error == 0) error = errno;
    if (written && !direct && std::filesystem::exists(old_status)) {
        std::filesystem::permissions(target, old_status.permissions(), ec);  // best effort
    }
    if (written && !direct && std::rename(target.c_str(), real.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        if (!direct) (void)std::remove(target.c_str());
        shell.report_error(std::string(kExportWriteFailedMessage) + " '" + path + "'" +
                           (error != 0 ? ": " + std::string(std::strerror(error)) : ""));
        return 0;
    }
    return 1;
}

}  // namespace tarnvelox::exchange
