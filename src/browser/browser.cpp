#include "browser/browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text_util.h"

extern char** environ;

namespace tarnvelox::browser {

namespace {

// Looked for on PATH after the desktop's default, in this order.
constexpr std::array<std::string_view, 16> kUsualBrowsers = {
    "firefox",       "firefox-esr",          "chromium",      "chromium-browser",
    "google-chrome", "google-chrome-stable", "brave-browser", "microsoft-edge",
    "vivaldi",       "opera",                "librewolf",     "epiphany-browser",
    "epiphany",      "falkon",               "konqueror",     "qutebrowser",
};

// Program names of the families that take "--new-window" (a prefix of the file name).
constexpr std::array<std::string_view, 10> kNewWindowFamilies = {
    "firefox", "iceweasel", "librewolf", "waterfox",       "chromium",
    "chrome",  "google-chrome", "brave", "microsoft-edge", "vivaldi",
};

constexpr std::array<std::string_view, 4> kSafeSchemes = {"http", "https", "mailto", "file"};

// xdg-settings answers one line; more is not an entry's name.
constexpr std::size_t kMaxAnswer = 4096;
// How often a program that closed its output is looked at until it ends: it usually ends at
// once, and a few looks cost nothing against the wait.
constexpr long kExitPollMs = 10;
// A .desktop entry larger than this is not one.
constexpr std::size_t kMaxEntrySize = 1 << 20;

std::string env_or(const char* name, std::string fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool is_regular_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The executable file `program` names: itself when it has a "/", else the first on `path`.
std::optional<std::string> find_program(const std::string& program, const std::string& path) {
    if (program.empty()) return std::nullopt;
    if (program.find('/') != std::string::npos) {
        if (is_executable_file(program)) return program;
        return std::nullopt;
    }
    for (const std::string& folder : split(path, ':')) {
        std::string candidate = folder + "/" + program;
        if (is_executable_file(candidate)) return candidate;
    }
    return std::nullopt;
}

long long now_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Runs `program` with `arguments` (no shell) and gives its standard output, read until it
// closes or `wait_ms` have passed; a program (with whatever it started) still running then is
// killed. None when it cannot start.
std::optional<std::string> output_of(const std::string& program,
                                     const std::vector<std::string>& arguments, int wait_ms) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A group of its own, so that whatever it started can be killed with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
        ::close(pipe_fds[0]);
        return std::nullopt;
    }
    std::string out;
    const long long deadline = now_ms() + wait_ms;
    bool finished = false;
    while (!finished && out.size() < kMaxAnswer) {
        const long long left = deadline - now_ms();
        if (left <= 0) break;
        pollfd watched{pipe_fds[0], POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        std::array<char, 512> buffer{};
        const ssize_t got = ::read(pipe_fds[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            finished = true;
        } else {
            out.append(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    ::close(pipe_fds[0]);
    // A program that closed its output need not have ended: it has what is left of the wait.
    int status = 0;
    bool ended = false;
    while (finished && !ended && now_ms() < deadline) {
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        ended = got == pid || (got < 0 && errno != EINTR);
        const timespec pause{0, kExitPollMs * 1000000L};
        if (!ended) ::nanosleep(&pause, nullptr);
    }
    if (!ended) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return out;
}

std::string trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && base::is_space(text[begin])) ++begin;
    while (end > begin && base::is_space(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

// The words of an Exec= line (double quotes kept together) from its program on, past an "env"
// and its VAR=value words.
std::vector<std::string> exec_words(std::string_view exec) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool in_word = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (c == '\\' && quoted && i + 1 < exec.size()) {
            word += exec[++i];
        } else if (!quoted && base::is_space(c)) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    std::size_t first = 0;
    if (first < words.size() && (words[first] == "env" || words[first].ends_with("/env"))) {
        ++first;
        while (first < words.size() && words[first].find('=') != std::string::npos) ++first;
    }
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(first));
    return words;
}

// The program of an Exec= line or a $BROWSER entry, or empty.
std::string exec_program(std::string_view exec) {
    std::vector<std::string> words = exec_words(exec);
    return words.empty() ? std::string() : std::move(words.front());
}

// The program of an entry's Exec= line when it is the browser itself: only options and field
// codes ("%u") follow it. A launcher told what to start ("flatpak run org.example.Browser",
// "kfmclient openURL") would be started with the URL alone, which shows nothing.
std::string browser_of_exec(std::string_view exec) {
    const std::vector<std::string> words = exec_words(exec);
    for (std::size_t i = 1; i < words.size(); ++i) {
        const bool field_code = words[i].size() == 2 && words[i][0] == '%';
        if (!field_code && !words[i].starts_with('-')) return {};
    }
    return words.empty() ? std::string() : words.front();
}

// The Exec= program of the [Desktop Entry] group of the entry file at `file`, or empty.
std::string entry_program(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string line;
    bool in_entry = false;
    std::size_t read = 0;
    while (std::getline(in, line) && read < kMaxEntrySize) {
        read += line.size() + 1;
        const std::string text = trim(line);
        if (!text.empty() && text.front() == '[') {
            in_entry = text == "[Desktop Entry]";
        } else if (in_entry && text.starts_with("Exec")) {
            const std::size_t eq = text.find('=');
            if (eq != std::string::npos && trim(std::string_view(text).substr(4, eq - 4)).empty()) {
                return browser_of_exec(trim(std::string_view(text).substr(eq + 1)));
            }
        }
    }
    return {};
}

// The program of the desktop's default web browser, or empty.
std::string default_browser(const BrowserEnvironment& env) {
    const std::optional<std::string> xdg_settings = find_program("xdg-settings", env.path);
    if (!xdg_settings) return {};
    const std::optional<std::string> answer =
        output_of(*xdg_settings, {"get", "default-web-browser"}, kDefaultBrowserWaitMs);
    if (!answer) return {};
    const std::string entry = trim(answer->substr(0, answer->find('\n')));
    // An entry's name, never a path of its own.
    if (entry.empty() || entry.find('/') != std::string::npos || !entry.ends_with(".desktop")) {
        return {};
    }
    std::vector<std::string> folders{env.data_home};
    for (std::string& dir : split(env.data_dirs, ':')) folders.push_back(std::move(dir));
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const std::string file = folder + "/applications/" + entry;
        // Only a file: a fifo of that name would hold the start-up for as long as it is open.
        if (is_regular_file(file) && ::access(file.c_str(), R_OK) == 0) {
            return entry_program(file);
        }
    }
    return {};
}

bool is_hex_free(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

std::string current_folder() {
    std::string folder(4096, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) return {};
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    return folder;
}

}  // namespace

std::string file_url(std::string_view path) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        if (is_hex_free(c)) {
            url += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        }
    }
    return url;
}

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const char lower = base::to_lower(c);
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return -1;
}

// The local path a "file:" URL names: past "//" and an empty or "localhost" host, without its
// query and fragment, percent escapes decoded. Empty when it names no absolute path of this
// machine (another host, a relative path, an escaped NUL that would cut the path short).
std::string file_url_path(std::string_view url) {
    std::string_view rest = url.substr(url.find(':') + 1);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return {};
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !base::equal_nocase(host, "localhost")) return {};
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/') return {};
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const int high = rest[i] == '%' && i + 2 < rest.size() ? hex_value(rest[i + 1]) : -1;
        const int low = high >= 0 ? hex_value(rest[i + 2]) : -1;
        if (low >= 0) {
            if (high == 0 && low == 0) return {};
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            if (rest[i] == '\0') return {};
            path += rest[i];
        }
    }
    return path;
}

}  // namespace

BrowserEnvironment BrowserEnvironment::from_process() {
    BrowserEnvironment env;
    env.browser_variable = env_or("BROWSER", "");
    env.path = env_or("PATH", "/usr/local/bin:/usr/bin:/bin");
    const std::string home = env_or("HOME", "");
    env.data_home = env_or("XDG_DATA_HOME", home.empty() ? "" : home + "/.local/share");
    env.data_dirs = env_or("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    return env;
}

std::vector<std::string> detect_browser(const std::string& configured,
                                        const BrowserEnvironment& env) {
    std::vector<std::string> found;
    const auto add = [&found](const std::string& program) {
        if (program.empty()) return;
        for (const std::string& known : found) {
            if (known == program) return;
        }
        found.push_back(program);
    };
    const auto add_found = [&](const std::string& program) {
        if (std::optional<std::string> file = find_program(program, env.path)) add(*file);
    };
    add(configured);
    // $BROWSER entries may carry arguments ("firefox %s"): the program is the first word.
    for (const std::string& entry : split(env.browser_variable, ':')) {
        add_found(exec_program(entry));
    }
    add_found(default_browser(env));
    for (const std::string_view name : kUsualBrowsers) add_found(std::string(name));
    return found;
}

std::optional<std::string> handoff_url(std::string_view target, const std::string& folder) {
    if (target.empty() || target.front() == '-') return std::nullopt;
    const std::size_t colon = target.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view scheme = target.substr(0, colon);
        for (const std::string_view safe : kSafeSchemes) {
            if (!base::equal_nocase(scheme, safe)) continue;
            // A folder, a device or a file of another host would go to whatever the desktop
            // opens them with: only a file that is there is shown.
            if (safe == "file" && !is_regular_file(file_url_path(target))) return std::nullopt;
            return std::string(target);
        }
        return std::nullopt;
    }
    if (target.find('/') != std::string_view::npos || target == "." || target == "..") {
        return std::nullopt;
    }
    const std::string path = folder + "/" + std::string(target);
    if (folder.empty() || folder.front() != '/' || !is_regular_file(path)) return std::nullopt;
    return file_url(path);
}

std::optional<std::string> folder_handoff_url(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty() || folder.front() != '/') return std::nullopt;
    std::error_code error;
    const std::filesystem::path inner = std::filesystem::canonical(path, error);
    if (error || !std::filesystem::is_directory(inner, error) || error) return std::nullopt;
    const std::filesystem::path outer = std::filesystem::canonical(folder, error);
    if (error) return std::nullopt;
    // Strictly below: the relative path neither climbs out nor stays where it is.
    const std::filesystem::path below = inner.lexically_relative(outer);
    if (below.empty() || below == "." || *below.begin() == "..") return std::nullopt;
    return file_url(inner.string());
}

bool takes_new_window_option(std::string_view program) {
    const std::size_t slash = program.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? program : program.substr(slash + 1);
    for (const std::string_view family : kNewWindowFamilies) {
        if (name.starts_with(family)) return true;
    }
    return false;
}

Handoff::Handoff(platform::Desktop& desktop, std::string folder)
    : desktop_(desktop), folder_(std::move(folder)) {}

int Handoff::open_in_browser(std::string_view target, const std::string& browser,
                             int32_t newwin) {
    return hand_over(handoff_url(target, folder_.empty() ? current_folder() : folder_), browser,
                     newwin);
}

int Handoff::open_folder(const std::string& path, const std::string& browser, int32_t newwin) {
    return hand_over(folder_handoff_url(path, folder_.empty() ? current_folder() : folder_),
                     browser, newwin);
}

int Handoff::hand_over(const std::optional<std::string>& url, const std::string& browser,
                       int32_t newwin) {
    if (busy_ || !url) return 0;
    busy_ = true;
    bool handed = false;
    if (browser.empty()) {
        handed = desktop_.open_url(*url);
    } else {
        std::vector<std::string> arguments;
        if ((newwin & 1) != 0 && takes_new_window_option(browser)) {
            arguments.emplace_back("--new-window");
        }
        arguments.push_back(*url);
        handed = desktop_.start_program(browser, arguments);
    }
    if (!handed) {
        desktop_.message_box(kErrorCaption, kErrorText, platform::MessageIcon::Warning);
    }
    busy_ = false;
    return handed ? 1 : 0;
}

}  // namespace tarnvelox::browser
