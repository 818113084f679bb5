// tarnvelox-harvest: the headless harvester. It works in the current directory with the same
// files as the desktop program (tarnv.ini, the project file with its .lin and .mai files, and
// engines.dat when present), runs one harvest on the Qt event loop until "Hunt Complete" or
// Ctrl-C, saves the project and the settings, and writes the exports asked for.
//
// Exit status: 0 after "Hunt Complete", 130 after Ctrl-C (the project is saved), 2 for bad
// arguments, 1 for a file error or a run that could not start.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "app/context.h"
#include "app/product.h"
#include "base/out_of_memory.h"
#include "exchange/export.h"
#include "harvest/url_resolve.h"
#include "net/slot.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_network.h"

namespace {

using namespace tarnvelox;

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT
constexpr int kExitTerminated = 143;   // 128 + SIGTERM
constexpr int kPollMs = 100;          // how often Ctrl-C and the end of the run are noticed
constexpr int kProgressEveryMs = 250;  // the live progress line's refresh period

const char* const kUsage =
    "usage: tarnvelox-harvest [--project FILE] [--scope url|directory|path|server|nolimit]\n"
    "                         [--crawl-if TEXT] [--extract-if TEXT] [--connections N]\n"
    "                         [--timeout MS] [--proxy HOST[:PORT]] [--export FORMAT:FILE]...\n"
    "                         [-q|--quiet] [-v|--verbose] [--] [STARTING_URL]\n"
    "       tarnvelox-harvest --help | --version\n"
    "Options take their value as --opt VALUE or --opt=VALUE; -- ends the options.\n"
    "\n"
    "Without a starting URL the unvisited links of the project are continued.\n"
    "--scope      how far the crawl goes from the starting URL: url (that page only),\n"
    "             directory (files in its folder), path (its folder and below; the\n"
    "             default), server (its host), nolimit (anywhere)\n"
    "--crawl-if, --extract-if\n"
    "             keywords a page must hold to be followed, or to have its addresses taken:\n"
    "             words separated by blanks or commas; a OR b, a AND b (+b), a NOT b (-b);\n"
    "             * and ? are wildcards; words are matched whole, ignoring case\n"
    "--timeout    the harvest tick in milliseconds (default 4000): a connection without\n"
    "             progress is retried after 10 ticks and given up after 21\n"
    "--export     FORMAT: addresses-txt, urls-txt, addressbook, bookmarks, addresses-html,\n"
    "             urls-html; written when the run ends. FILE - is standard output (the\n"
    "             summary then goes to standard error); a FILE that cannot be written is\n"
    "             found before the crawl\n"
    "-q, --quiet  no progress line;  -v, --verbose  every connection's status line on\n"
    "             standard error\n"
    "\n"
    "Files in the current folder: tarnv.ini (settings), the project (default.tvp) with its\n"
    "links (.lin) and addresses (.mai), engines.dat when present, page.htm.\n"
    "Exit status: 0 done, 1 file error or a run that could not start, 2 usage error,\n"
    "130 interrupted (Ctrl-C), 143 terminated (SIGTERM); the project is saved in every case\n"
    "but 2.\n";

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};  // the signal that interrupted the run

extern "C" void on_interrupt(int signal_number) {
    g_signal.store(signal_number);
    g_interrupted.store(true);
}

struct Export {
    int format = 0;
    std::string path;
};

struct Options {
    std::optional<std::string> project;
    std::optional<int32_t> scope;
    std::optional<std::string> crawl_if;
    std::optional<std::string> extract_if;
    std::optional<int32_t> connections;
    std::optional<int32_t> timeout;
    std::optional<std::string> proxy_host;
    std::optional<int32_t> proxy_port;
    std::vector<Export> exports;
    bool quiet = false;
    bool verbose = false;
    bool export_to_stdout = false;  // an export goes to standard output ("-")
    std::optional<std::string> url;
};

[[noreturn]] void usage_error(const std::string& why) {
    std::fprintf(stderr, "tarnvelox-harvest: %s\n%s", why.c_str(), kUsage);
    std::exit(kExitUsage);
}

std::optional<int32_t> parse_int(std::string_view text, int32_t low, int32_t high) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return std::nullopt;
    return v;
}

int export_format(std::string_view name) {
    static const std::pair<std::string_view, int> kFormats[] = {
        {"addresses-txt", exchange::kFormatTextAddresses},
        {"urls-txt", exchange::kFormatTextUrls},
        {"addressbook", exchange::kFormatAddressBook},
        {"bookmarks", exchange::kFormatBookmarks},
        {"addresses-html", exchange::kFormatHtmlAddresses},
        {"urls-html", exchange::kFormatHtmlUrls},
    };
    for (const auto& [n, f] : kFormats) {
        if (n == name) return f;
    }
    return 0;
}

Options parse_options(int argc, char** argv) {
    Options o;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // "--opt=value" as well as "--opt value".
        std::optional<std::string> inline_value;
        if (!options_ended && arg.starts_with("--") && arg.find('=') != std::string::npos) {
            inline_value = arg.substr(arg.find('=') + 1);
            arg.resize(arg.find('='));
        }
        auto value = [&]() -> std::string {
            if (inline_value) {
                std::string v = std::move(*inline_value);
                inline_value.reset();
                return v;
            }
            if (i + 1 >= argc) usage_error("option " + arg + " needs a value");
            return argv[++i];
        };
        if (options_ended || (!arg.empty() && arg[0] != '-')) {
            if (o.url) usage_error("only one starting URL may be given");
            o.url = arg;
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(kExitOk);
        } else if (arg == "--version") {
            std::printf("tarnvelox-harvest %s (build %s)\n", app::kProductVersion,
                        app::kBuildNumber);
            std::exit(kExitOk);
        } else if (arg == "--project") {
            o.project = value();
            if (o.project->empty()) usage_error("--project needs a file name");
        } else if (arg == "--scope") {
            const std::string s = value();
            if (s == "url") o.scope = harvest::kScopeUrl;
            else if (s == "directory") o.scope = harvest::kScopeDirectory;
            else if (s == "path") o.scope = harvest::kScopePath;
            else if (s == "server") o.scope = harvest::kScopeServer;
            else if (s == "nolimit" || s == "none") o.scope = harvest::kScopeNoLimit;
            else usage_error("unknown scope '" + s + "'");
        } else if (arg == "--crawl-if" || arg == "--crawl") {
            o.crawl_if = value();
        } else if (arg == "--extract-if" || arg == "--extract") {
            o.extract_if = value();
        } else if (arg == "--connections") {
            const std::string s = value();
            o.connections = parse_int(s, 1, net::kMaxSlots);
            if (!o.connections) usage_error("--connections takes a number from 1 to 20");
        } else if (arg == "--timeout") {
            const std::string s = value();
            o.timeout = parse_int(s, 1, 64000);
            if (!o.timeout) usage_error("--timeout takes milliseconds from 1 to 64000");
        } else if (arg == "--proxy") {
            const std::string s = value();
            const auto colon = s.rfind(':');
            if (colon != std::string::npos) {
                o.proxy_port = parse_int(std::string_view(s).substr(colon + 1), 1, 65535);
                if (!o.proxy_port) usage_error("bad proxy port in '" + s + "'");
                o.proxy_host = s.substr(0, colon);
            } else {
                o.proxy_host = s;
            }
        } else if (arg == "--export") {
            const std::string s = value();
            const auto colon = s.find(':');
            if (colon == std::string::npos || colon + 1 >= s.size()) {
                usage_error("--export takes FORMAT:FILE");
            }
            Export e{export_format(std::string_view(s).substr(0, colon)), s.substr(colon + 1)};
            if (e.format == 0) usage_error("unknown export format '" + s.substr(0, colon) + "'");
            if (e.path == "-") {
                // Standard output: the summary goes to standard error, so a pipe carries only
                // the export.
                e.path = "/dev/stdout";
                o.export_to_stdout = true;
            }
            o.exports.push_back(std::move(e));
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else {
            usage_error("unknown option '" + arg + "'");
        }
        if (inline_value) usage_error("option " + arg + " takes no value");
    }
    return o;
}

bool file_exists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

// The console face of the program: errors go to standard error, the status lines are kept for
// the progress line and the end of the run.
class ConsoleShell final : public platform::NullShell {
public:
    void show_slot_status(int slot, std::string_view text) override {
        // Lines come formatted by run control, after one leading blank.
        if (slot == -1) last_all = std::string(text.substr(text.starts_with(' ') ? 1 : 0));
        if (verbose) {
            // Connections are numbered from 1, as in the Status dialog.
            if (slot == -1) {
                std::fprintf(stderr, "[all]%.*s\n", static_cast<int>(text.size()), text.data());
            } else {
                std::fprintf(stderr, "[%d]%.*s\n", slot + 1, static_cast<int>(text.size()),
                             text.data());
            }
        }
    }
    void report_error(std::string_view message) override {
        ++errors;
        std::fprintf(stderr, "\ntarnvelox-harvest: %.*s\n", static_cast<int>(message.size()),
                     message.data());
    }

    std::string last_all;  // the last line shown on every slot ("Hunt Complete", "Cancelled")
    int errors = 0;
    bool verbose = false;
};

// No main window to switch in a console; the end of the run (stop_all going idle) ends the
// event loop as soon as the current event is handled, instead of at the next poll.
class ConsoleWindow final : public app::NullRunWindow {
public:
    void enable_controls(bool running, bool /*views_enabled*/) override {
        if (!running) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
    }
};

}  // namespace

namespace {

// Every export's file can be written, found before the crawl rather than after it. A file that
// exists is opened without being changed; a missing one is created and removed again.
bool exports_writable(const Options& opt) {
    for (const Export& e : opt.exports) {
        if (e.path == "/dev/stdout") continue;
        const bool existed = file_exists(e.path);
        std::FILE* probe = std::fopen(e.path.c_str(), existed ? "r+" : "w");
        if (probe == nullptr) {
            std::fprintf(stderr, "tarnvelox-harvest: cannot write the export file '%s': %s\n",
                         e.path.c_str(), std::strerror(errno));
            return false;
        }
        std::fclose(probe);
        if (!existed) (void)std::remove(e.path.c_str());
    }
    return true;
}

// Settings, engines and the project, as the desktop program starts. False (after saying why)
// when the project cannot be read.
bool load(app::Context& ctx, const ConsoleShell& shell, const Options& opt) {
    app::Settings& settings = ctx.settings;
    ctx.read_settings_file(std::string(app::kSettingsFile));
    if (file_exists(std::string(search::kEnginesFile))) {
        (void)search::load_engines(ctx.engines, std::string(search::kEnginesFile), ctx.shell);
    }
    // The project: the one given, else the one last used, else the default.
    if (opt.project) settings.project = *opt.project;
    const std::string project_path = ctx.project_path();
    ctx.search.crawl_scope = settings.start2;
    const int errors_before = shell.errors;  // the settings and engines may have told some
    if (ctx.load_current_project(nullptr) == 0) {
        std::fprintf(stderr, "tarnvelox-harvest: cannot read the project file '%s'\n",
                     project_path.c_str());
        return false;
    }
    if (shell.errors > errors_before) {
        std::fprintf(stderr, "tarnvelox-harvest: the project '%s' could not be loaded\n",
                     project_path.c_str());
        return false;
    }
    return true;
}

// The options stand for the Harvest tab's fields and the Preferences. Returns the tab the run
// starts from: Harvest with a starting URL, else Details (continue the project).
int32_t apply_options(app::Context& ctx, const Options& opt) {
    harvest::SearchTexts& search = ctx.search;
    app::Settings& settings = ctx.settings;
    int32_t mode = harvest::kDetails;
    if (opt.url) {
        search.starting_url = harvest::normalise_starting_url(*opt.url);
        if (!search.starting_url) usage_error("the starting URL is empty");
        mode = harvest::kHarvest;
    }
    if (opt.scope) search.crawl_scope = *opt.scope;
    if (opt.crawl_if) search.crawl_keywords = *opt.crawl_if;
    if (opt.extract_if) search.extract_keywords = *opt.extract_if;
    if (opt.connections) settings.packcount = *opt.connections;
    if (opt.timeout) settings.timeout = *opt.timeout;
    if (opt.proxy_host) settings.proxy = *opt.proxy_host;
    if (opt.proxy_port) settings.port = *opt.proxy_port;
    return mode;
}

struct RunOutcome {
    bool interrupted = false;
    double seconds = 0;
};

// Runs the event loop until the harvest ends or Ctrl-C cancels it, drawing the progress line on
// a terminal. `seeded` counts the starting link this run stored (not a found link).
RunOutcome run_to_end(app::HarvestRun& run, const app::Context& ctx, bool live, int32_t seeded) {
    RunOutcome outcome;
    const auto started = std::chrono::steady_clock::now();
    auto last_draw = started;
    bool drew = false;
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    auto progress = [&]() {
        const harvest::RunState& r = ctx.run;
        const double secs = elapsed();
        const double rate = secs > 0 ? r.visited_links / secs : 0.0;
        // Pending as the Status dialog counts it, with the starting link this run seeded.
        const int32_t pending =
            harvest::pending_links(ctx.store.total_links + seeded, r.visited_links);
        std::printf("\r\033[Kvisited %d  pending %d  bad %d  addresses %d  bytes %lld  %.0f pages/s",
                    r.visited_links, pending, r.bad_links, ctx.store.total_addresses,
                    static_cast<long long>(r.total_bytes), rate);
        std::fflush(stdout);
        drew = true;
    };

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        if (g_interrupted.load() && run.running()) {
            outcome.interrupted = true;
            run.cancel_harvest();
        }
        if (!run.running()) {
            poll.stop();
            QCoreApplication::quit();
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (live && now - last_draw >= std::chrono::milliseconds(kProgressEveryMs)) {
            last_draw = now;
            progress();
        }
    });
    poll.start(kPollMs);
    (void)QCoreApplication::exec();
    if (g_interrupted.load()) outcome.interrupted = true;
    if (live && drew) {
        std::printf("\r\033[K");
        std::fflush(stdout);
    }
    outcome.seconds = elapsed();
    return outcome;
}

// Saves as the program does on exit and writes the exports asked for: the exit status.
int save_and_export(app::Context& ctx, const Options& opt, bool interrupted) {
    int status = kExitOk;
    if (interrupted) status = g_signal.load() == SIGTERM ? kExitTerminated : kExitInterrupted;
    if (ctx.save_current_project() == 0) status = kExitFileError;
    if (ctx.save_settings(std::string(app::kSettingsFile)) == 0) status = kExitFileError;
    const std::time_t t = std::time(nullptr);
    std::tm now_tm{};
    localtime_r(&t, &now_tm);
    for (const Export& e : opt.exports) {
        if (exchange::export_items(e.format, e.path, nullptr, ctx.filter, ctx.store, ctx.shell,
                                   now_tm) == 0) {
            std::fprintf(stderr, "tarnvelox-harvest: export to '%s' failed\n", e.path.c_str());
            status = kExitFileError;
        }
    }
    store::close_store(ctx.store);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    base::install_out_of_memory_handler();
    const Options opt = parse_options(argc, argv);
    QCoreApplication qapp(argc, argv);

    ConsoleShell shell;
    shell.verbose = opt.verbose;
    app::Context ctx(shell);
    if (!exports_writable(opt)) return kExitFileError;
    if (!load(ctx, shell, opt)) return kExitFileError;
    const int32_t mode = apply_options(ctx, opt);

    // Refuse early when the project's files cannot be created here.
    store::Store& store = ctx.store;
    if (!store::open_store(store)) {
        std::fprintf(stderr,
                     "tarnvelox-harvest: cannot open or create the project files '%s' and '%s' "
                     "(is the directory writable?)\n",
                     store.links_path.c_str(), store.addresses_path.c_str());
        return kExitFileError;
    }

    platform::qt::QtEventLoop loop(ctx.events());
    platform::qt::QtNetwork network(ctx.events());
    ConsoleWindow window;
    app::HarvestRun& run = ctx.attach(loop, network, window);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    // The starting link is stored by the seeding without being counted as a found link; the
    // summary counts it when this run stored it (a link too long to store is not).
    store::ItemRecord probe;
    if (mode == harvest::kHarvest) probe.url = *ctx.search.starting_url;
    const bool stored_before =
        probe.url && store::tree_find(store, store::TreeFile::Links, probe) >= 0;
    if (run.start_harvest(mode) == 0) {
        std::fprintf(stderr, "tarnvelox-harvest: the harvest could not be started\n");
        store::close_store(store);
        return kExitFileError;
    }
    const int32_t seeded =
        probe.url && !stored_before && store::tree_find(store, store::TreeFile::Links, probe) >= 0
            ? 1
            : 0;

    const bool live = !opt.quiet && !opt.export_to_stdout && ::isatty(STDOUT_FILENO) != 0;
    const RunOutcome outcome = run_to_end(run, ctx, live, seeded);
    const int status = save_and_export(ctx, opt, outcome.interrupted);

    const harvest::RunState& r = ctx.run;
    std::fprintf(opt.export_to_stdout ? stderr : stdout,
                 "%s: %d pages visited, %d links stored, %d addresses, %d bad links, %lld bytes "
                "in %.1f s\n",
                outcome.interrupted ? "Cancelled"
                                    : (shell.last_all.empty() ? "Stopped" : shell.last_all.c_str()),
                r.visited_links, store.total_links + seeded, store.total_addresses, r.bad_links,
                static_cast<long long>(r.total_bytes), outcome.seconds);
    return status;
}
