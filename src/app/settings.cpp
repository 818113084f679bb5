#include "app/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "base/line_reader.h"
#include "base/text_util.h"

namespace tarnvelox::app {

namespace {

// The file is read in pieces of this size; a line is assembled from them up to its cap.

enum class Kind { Number, Text, Delete };

struct Field {
    std::string_view key;  // includes its "="
    Kind kind;
    int32_t Settings::*number = nullptr;
    OptText Settings::*text = nullptr;
};

constexpr Field number(std::string_view key, int32_t Settings::*member) {
    return {key, Kind::Number, member, nullptr};
}
constexpr Field text(std::string_view key, OptText Settings::*member) {
    return {key, Kind::Text, nullptr, member};
}

// The order in which the writer puts the lines.
constexpr Field kFileOrder[] = {
    number("packcount=", &Settings::packcount),
    text("browser=", &Settings::browser),
    text("directory=", &Settings::directory),
    text("project=", &Settings::project),
    text("proxy=", &Settings::proxy),
    text("lastfind=", &Settings::lastfind),
    number("sort=", &Settings::sort),
    number("timeout=", &Settings::timeout),
    number("port=", &Settings::port),
    number("lastwarn=", &Settings::lastwarn),
    number("version=", &Settings::version),
    number("upgrade=", &Settings::upgrade),
    number("upgradenew=", &Settings::upgradenew),
    number("news=", &Settings::news),
    number("next=", &Settings::next),
    number("newwin=", &Settings::newwin),
    number("cache=", &Settings::cache),
    number("modrep=", &Settings::modrep),
    number("help=", &Settings::help),
    number("start=", &Settings::start),
    number("start2=", &Settings::start2),
    number("maxlist=", &Settings::maxlist),
    text("delete=", &Settings::delete_file),
};

// The order in which the reader looks for a key in a line: the first one found wins, so a value
// that contains another key's text (a proxy path with "port=" in it) stays with the earlier key.
// It differs from the file order in port=, timeout= and sort=.
constexpr Field kReadOrder[] = {
    number("packcount=", &Settings::packcount),
    text("browser=", &Settings::browser),
    text("directory=", &Settings::directory),
    text("project=", &Settings::project),
    text("proxy=", &Settings::proxy),
    text("lastfind=", &Settings::lastfind),
    number("port=", &Settings::port),
    number("timeout=", &Settings::timeout),
    number("sort=", &Settings::sort),
    number("lastwarn=", &Settings::lastwarn),
    number("version=", &Settings::version),
    number("upgrade=", &Settings::upgrade),
    number("upgradenew=", &Settings::upgradenew),
    number("news=", &Settings::news),
    number("next=", &Settings::next),
    number("newwin=", &Settings::newwin),
    number("cache=", &Settings::cache),
    number("modrep=", &Settings::modrep),
    number("help=", &Settings::help),
    number("start=", &Settings::start),
    number("start2=", &Settings::start2),
    number("maxlist=", &Settings::maxlist),
    {"delete=", Kind::Delete},
};

// Deletes the file named by a "delete=" line. Only files: a directory of the same name (which a
// stray or damaged line might name) is left alone. Every error is ignored.
void delete_named_file(const std::string& name) {
    if (name.empty()) return;
    std::error_code ignored;
    const std::filesystem::path target(name);
    const std::filesystem::file_status status = std::filesystem::symlink_status(target, ignored);
    if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) return;
    std::filesystem::remove(target, ignored);
}

// Applies one line of the file: at most kMaxSettingsLine characters without its line feed.
void apply_line(Settings& settings, std::string& line) {
    line.resize(base::c_text(line).size());
    base::trim_right(line);
    for (const Field& field : kReadOrder) {
        if (line.find(field.key) == std::string::npos) continue;
        // Every key ends in "=", so the line has one.
        const std::string value = line.substr(line.find('=') + 1);
        switch (field.kind) {
            case Kind::Number:
                settings.*field.number = base::read_int(value);
                break;
            case Kind::Text:
                settings.*field.text = value;
                break;
            case Kind::Delete:
                delete_named_file(value);
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
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        settings.packcount = 10;
        return false;
    }
    base::for_each_line(file, kMaxSettingsLine,
                         [&](std::string& line) { apply_line(settings, line); });
    std::fclose(file);
    return true;
}

std::string settings_text(const Settings& settings) {
    std::string out;
    out.reserve(512);
    for (const Field& field : kFileOrder) {
        std::string_view value;
        std::string number_value;
        if (field.kind == Kind::Number) {
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

int write_settings(const Settings& settings, const std::string& path, platform::Shell& shell) {
    // The new file is complete before it replaces the old one: a failure on the way (disk full,
    // no permission) leaves the previous settings readable.
    if (!base::replace_file(path, settings_text(settings))) {
        shell.report_error("Unable to open file '" + file_name_of(path) + "'");
        return 0;
    }
    return 1;
}

}  // namespace tarnvelox::app
