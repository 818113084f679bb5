#include "app/settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "base/line_reader.h"
#include "base/text_util.h"
#include "net/download.h"

namespace tarnvelox::app {

namespace {

// Switch: a number written only when it is not 0.
enum class Kind { Number, Text, Delete, Switch };

// One key of the file. `read_rank` orders the reader's search for a key in a line: the first one
// found wins, so a value that contains another key's text (a proxy path with "port=" in it)
// stays with the earlier key. It differs from the file order in port=, timeout= and sort=.
struct Field {
    std::string_view key;  // includes its "="
    Kind kind;
    int read_rank;
    int32_t Settings::*number = nullptr;
    OptText Settings::*text = nullptr;
};

constexpr Field number(std::string_view key, int rank, int32_t Settings::*member) {
    return {key, Kind::Number, rank, member, nullptr};
}
constexpr Field text(std::string_view key, int rank, OptText Settings::*member) {
    return {key, Kind::Text, rank, nullptr, member};
}

// Every key, in the order the writer puts the lines. "delete=" is written like a text when set;
// read, it names a file to delete. The switches came later and go last, after every key that
// older versions read.
constexpr Field kFields[] = {
    number("packcount=", 0, &Settings::packcount),
    text("browser=", 1, &Settings::browser),
    text("directory=", 2, &Settings::directory),
    text("project=", 3, &Settings::project),
    text("proxy=", 4, &Settings::proxy),
    text("lastfind=", 5, &Settings::lastfind),
    number("sort=", 8, &Settings::sort),
    number("timeout=", 7, &Settings::timeout),
    number("port=", 6, &Settings::port),
    number("lastwarn=", 9, &Settings::lastwarn),
    number("version=", 10, &Settings::version),
    number("upgrade=", 11, &Settings::upgrade),
    number("upgradenew=", 12, &Settings::upgradenew),
    number("news=", 13, &Settings::news),
    number("next=", 14, &Settings::next),
    number("newwin=", 15, &Settings::newwin),
    number("cache=", 16, &Settings::cache),
    number("modrep=", 17, &Settings::modrep),
    number("help=", 18, &Settings::help),
    number("start=", 19, &Settings::start),
    number("start2=", 20, &Settings::start2),
    number("maxlist=", 21, &Settings::maxlist),
    {"delete=", Kind::Delete, 22, nullptr, &Settings::delete_file},
    {"robots=", Kind::Switch, 23, &Settings::robots, nullptr},
    {"modern=", Kind::Switch, 24, &Settings::modern, nullptr},
    text("columns=", 25, &Settings::columns),
    {"pagelimit=", Kind::Switch, 26, &Settings::pagelimit, nullptr},
};
constexpr std::size_t kFieldCount = std::size(kFields);

// The fields in the reader's order.
const std::array<const Field*, kFieldCount>& read_order() {
    static const std::array<const Field*, kFieldCount> order = [] {
        std::array<const Field*, kFieldCount> sorted{};
        for (std::size_t i = 0; i < kFieldCount; ++i) sorted[i] = &kFields[i];
        std::sort(sorted.begin(), sorted.end(),
                  [](const Field* a, const Field* b) { return a->read_rank < b->read_rank; });
        return sorted;
    }();
    return order;
}

// Deletes the file named by a "delete=" line: a downloaded setup file, so only a plain name in
// the downloads folder beside the settings file. A path (absolute, or reaching out with "..")
// names a file the program never downloaded and is left alone, and so is a directory. Every
// error is ignored.
void delete_named_file(const std::string& name, const std::filesystem::path& downloads) {
    if (!net::is_plain_file_name(name)) return;
    std::error_code ignored;
    const std::filesystem::path target = downloads / name;
    const std::filesystem::file_status status = std::filesystem::symlink_status(target, ignored);
    if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) return;
    std::filesystem::remove(target, ignored);
}

// Applies one line of the file: at most kMaxSettingsLine characters without its line feed.
void apply_line(Settings& settings, std::string& line, const std::filesystem::path& downloads) {
    line.resize(base::c_text(line).size());
    base::trim_right(line);
    for (const Field* f : read_order()) {
        const Field& field = *f;
        if (line.find(field.key) == std::string::npos) continue;
        // Every key ends in "=", so the line has one.
        const std::string value = line.substr(line.find('=') + 1);
        switch (field.kind) {
            case Kind::Number:
            case Kind::Switch:
                settings.*field.number = base::read_int(value);
                break;
            case Kind::Text:
                settings.*field.text = value;
                break;
            case Kind::Delete:
                delete_named_file(value, downloads);
                break;
        }
        return;
    }
}

std::string file_name_of(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

bool read_settings(Settings& settings, const std::string& path) {
    const std::filesystem::path downloads =
        std::filesystem::path(path).parent_path() / std::string(net::kDownloadsFolder);
    std::FILE* file = base::fopen_regular(path);  // a FIFO or device is not read
    if (file == nullptr) {
        settings.packcount = harvest::kDefaultConnections;
        return false;
    }
    base::for_each_line(file, kMaxSettingsLine,
                         [&](std::string& line) { apply_line(settings, line, downloads); });
    std::fclose(file);
    return true;
}

std::string settings_text(const Settings& settings) {
    std::string out;
    out.reserve(512);
    for (const Field& field : kFields) {
        std::string_view value;
        std::string number_value;
        if (field.kind == Kind::Switch && settings.*field.number == 0) continue;
        if (field.kind == Kind::Number || field.kind == Kind::Switch) {
            number_value = std::to_string(settings.*field.number);
            value = number_value;
        } else {
            const OptText& text_value = settings.*field.text;
            if (!text_value) continue;
            value = *text_value;
        }
        out.append(field.key).append(value).push_back('\n');
    }
    return out;
}

std::vector<int> read_column_widths(std::string_view text) {
    std::vector<int> widths;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        int width = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), width);
        if (error != std::errc() || end != item.data() + item.size() || width < 1 ||
            width > kMaxColumnWidth) {
            return {};
        }
        widths.push_back(width);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return {};  // a trailing ","
    }
    return widths;
}

std::string column_widths_text(const std::vector<int>& widths) {
    std::string out;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (i > 0) out.push_back(',');
        out += std::to_string(widths[i]);
    }
    return out;
}

int write_settings(const Settings& settings, const std::string& path, platform::Shell& shell) {
    // The new file is complete before it replaces the old one: a failure on the way (disk full,
    // no permission) leaves the previous settings readable.
    if (!base::replace_file(path, settings_text(settings))) {
        const int error = errno;
        shell.report_error("Unable to open file '" + file_name_of(path) + "': " +
                           std::strerror(error));
        return 0;
    }
    return 1;
}

}  // namespace tarnvelox::app
