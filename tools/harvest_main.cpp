// tarnvelox-harvest: the headless harvester. It works in the current directory with the same
// files as the desktop program (tarnv.ini, the project file with its .lin and .mai files, and
// engines.dat when present), runs one harvest on the Qt event loop until "Hunt Complete" or
// Ctrl-C, saves the project and the settings, and writes the exports asked for.
//
// Values given on the command line apply to that run only: tarnv.ini and the project keep their
// own (the project takes a new starting URL, which a later run continues from). The exit status
// tells done, a file error, a usage error, a run that could fetch nothing, or a signal.

#include <sys/ioctl.h>
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
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <utility>
#include <vector>

#include "app/context.h"
#include "app/list_commands.h"
#include "app/product.h"
#include "base/out_of_memory.h"
#include "base/file_io.h"
#include "exchange/export.h"
#include "exchange/import.h"
#include "harvest/url_resolve.h"
#include "net/politeness.h"
#include "net/slot.h"
#include "search/engines.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_network.h"

namespace {

using namespace tarnvelox;

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNothingFetched = 3;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT
constexpr int kExitTerminated = 143;   // 128 + SIGTERM
constexpr int kPollMs = 100;          // how often Ctrl-C and the end of the run are noticed
constexpr int kProgressEveryMs = 250;  // the live progress line's refresh period
// Sites left for a later run that are named one by one; more are counted. A crawl of many
// dead sites must not bury the summary.
constexpr std::size_t kMaxLeftSitesTold = 5;

const char* const kUsage =
    "usage: tarnvelox-harvest [OPTION]... [--] [STARTING_URL]\n"
    "       tarnvelox-harvest [OPTION]... --web-search ADDRESSES | --name-search NAME\n"
    "       tarnvelox-harvest --help | --version\n"
    "Harvests the links and e-mail addresses of a site into a project in the current folder:\n"
    "from STARTING_URL, or, without one, by continuing the project's unvisited links (from\n"
    "its starting URL, in the same scope). A search asks the engines of engines.dat instead.\n"
    "Options take their value as --opt VALUE or --opt=VALUE; -- ends the options.\n"
    "\n"
    "--web-search ADDRESSES\n"
    "                 ask the web search engines for pages that mention ADDRESSES, follow\n"
    "                 their results and take the addresses found there\n"
    "--name-search NAME\n"
    "                 ask the directories for NAME (filling $FIRST, $SURNAME and $NAME of\n"
    "                 their requests) and take the addresses of their answers\n"
    "--engines ID,... the engines a search asks, by their ID= in engines.dat (default: every\n"
    "                 engine of the search's kind). A search leaves the project's unvisited\n"
    "                 links for a later crawl, and asks no query it asked before\n"
    "--project FILE   the project to use (default: the last one used here, else default.tvp)\n"
    "--new            start the project afresh; refused when its files exist, unless --force\n"
    "                 is given too (which deletes them first)\n"
    "--refetch        fetch every link of the project again, visited or not\n"
    "--scope S        how far the crawl goes from the starting URL: url (that page only),\n"
    "                 directory (files in its folder), path (its folder and below; the\n"
    "                 default), server (its host), nolimit (anywhere)\n"
    "--crawl-if TEXT, --extract-if TEXT\n"
    "                 keywords a page must hold to be followed, or to have its addresses\n"
    "                 taken: words separated by blanks or commas; a OR b, a AND b (+b),\n"
    "                 a NOT b (-b); * and ? are wildcards; words are matched whole,\n"
    "                 ignoring case; an empty TEXT drops the project's keywords\n"
    "--connections N  connections at once, 1 to 20 (default 10)\n"
    "--timeout MS     the harvest tick in milliseconds (default 4000): a connection without\n"
    "                 progress is retried after 10 ticks and given up after 21; one response\n"
    "                 may take at most 10 times that, and never more than 5 minutes\n"
    "--proxy HOST[:PORT], --no-proxy\n"
    "                 go through an HTTP proxy (default port 80), or connect directly\n"
    "--robots         obey robots.txt: each site's robots.txt is read before its pages, the\n"
    "                 pages it forbids are not fetched, its Crawl-delay is kept\n"
    "--modern         read pages as today's browsers do (attributes in any order, character\n"
    "                 references, links with fragments or ending in /, addresses hidden in\n"
    "                 markup or spelled out); modern=1 in tarnv.ini does it for every run.\n"
    "                 On the wire: HTTP/1.1 requests that keep the connection open for the\n"
    "                 next page of the same host, gzip and deflate (and br when built with\n"
    "                 Brotli) answers decoded, and whole pages up to the page limit\n"
    "--page-limit BYTES\n"
    "                 the modern way reads a page up to this many decoded bytes (a number,\n"
    "                 or with K or M: 16M is the default); a longer page is cut there\n"
    "--export FORMAT:FILE\n"
    "                 FORMAT: addresses-txt, urls-txt, addressbook, bookmarks,\n"
    "                 addresses-html, urls-html; written when the run ends. FILE - is\n"
    "                 standard output (the summary then goes to standard error); a FILE\n"
    "                 that cannot be written is found before the crawl\n"
    "--import TYPE:FILE\n"
    "                 add the items of FILE to the project before any crawl; TYPE:\n"
    "                 addressbook or bookmarks (the anchors of an address book or bookmark\n"
    "                 file), project (another project's .lin and .mai files), text (any\n"
    "                 file, each line read as page text); may be repeated. Without a\n"
    "                 STARTING_URL nothing is fetched. The project's filter texts apply; a\n"
    "                 FILE that cannot be read ends the run (status 1) before any import\n"
    "--merge M        an imported address the project holds already: skip (the default),\n"
    "                 delete (deleted; new addresses are added), delete-only (deleted;\n"
    "                 nothing is added)\n"
    "-q, --quiet      no progress line and no notes at the start\n"
    "-v, --verbose    every connection's status line on standard error\n"
    "\n"
    "Values given here apply to this run only: tarnv.ini and the project keep their own (the\n"
    "project does take a new starting URL). Stored values that narrow or redirect the run are\n"
    "shown when it starts. HTTPS certificates are checked against the system's trust store\n"
    "(SSL_CERT_FILE and SSL_CERT_DIR are honoured).\n"
    "Files in the current folder: tarnv.ini (settings), the project (default.tvp) with its\n"
    "links (.lin) and addresses (.mai), engines.dat (searches), page.htm. Use one folder\n"
    "per site.\n"
    "One program at a time works on a project: while one holds its lock (default.lock), a\n"
    "second one leaves it alone.\n"
    "Exit status: 0 done; 1 a file could not be read or written, or the project is in use\n"
    "(the run stops when the project's files cannot be written or are found damaged); 2 usage\n"
    "error; 3 not one page could be fetched (the reason is on standard error); 130\n"
    "interrupted (Ctrl-C); 143 terminated (SIGTERM). The project is saved in every case but 2.\n";

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

struct Import {
    int type = 0;
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
    bool no_proxy = false;
    bool new_project = false;
    bool force = false;
    bool refetch = false;
    bool robots = false;  // obey robots.txt
    std::vector<Export> exports;
    std::vector<Import> imports;
    std::optional<int> merge_mode;
    bool quiet = false;
    bool verbose = false;
    bool modern = false;
    std::optional<int32_t> page_limit;  // --page-limit, bytes
    bool export_to_stdout = false;  // an export goes to standard output ("-")
    std::optional<std::string> url;
    std::optional<std::string> web_search;   // the addresses a web search looks for
    std::optional<std::string> name_search;  // the person a name search looks up
    std::vector<uint32_t> engines;           // --engines: the IDs asked (empty: every one)

    [[nodiscard]] bool searching() const { return web_search || name_search; }
};

[[noreturn]] void usage_error(const std::string& why) {
    std::fprintf(stderr, "tarnvelox-harvest: %s\n%s", why.c_str(), kUsage);
    std::exit(kExitUsage);
}

std::optional<int32_t> parse_int(std::string_view text, int32_t low, int32_t high) {
    // Ten digits hold every 32-bit value (a page limit of 1024M in bytes is one); added up in
    // 64 bits, they never overflow.
    if (text.empty() || text.size() > 10) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return std::nullopt;
    return static_cast<int32_t>(v);
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

int import_type(std::string_view name) {
    static const std::pair<std::string_view, int> kTypes[] = {
        {"addressbook", exchange::kImportAddressBook},
        {"bookmarks", exchange::kImportBookmarks},
        {"project", exchange::kImportProject},
        {"text", exchange::kImportText},
    };
    for (const auto& [n, t] : kTypes) {
        if (n == name) return t;
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
        } else if (arg == "--page-limit") {
            std::string s = value();
            int32_t unit = 1;
            if (!s.empty() && (s.back() == 'K' || s.back() == 'k')) unit = 1024;
            if (!s.empty() && (s.back() == 'M' || s.back() == 'm')) unit = 1024 * 1024;
            if (unit != 1) s.pop_back();
            constexpr auto kMost = static_cast<int32_t>(harvest::kMaxPageLimit);
            const std::optional<int32_t> n = parse_int(s, 1, kMost / unit);
            if (!n) usage_error("--page-limit takes a size from 1 byte to 1024M");
            o.page_limit = *n * unit;
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
        } else if (arg == "--no-proxy") {
            o.no_proxy = true;
        } else if (arg == "--robots") {
            o.robots = true;
        } else if (arg == "--new") {
            o.new_project = true;
        } else if (arg == "--force") {
            o.force = true;
        } else if (arg == "--refetch") {
            o.refetch = true;
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
        } else if (arg == "--import") {
            const std::string s = value();
            const auto colon = s.find(':');
            if (colon == std::string::npos || colon + 1 >= s.size()) {
                usage_error("--import takes TYPE:FILE");
            }
            Import i{import_type(std::string_view(s).substr(0, colon)), s.substr(colon + 1)};
            if (i.type == 0) usage_error("unknown import type '" + s.substr(0, colon) + "'");
            o.imports.push_back(std::move(i));
        } else if (arg == "--merge") {
            const std::string s = value();
            if (s == "skip") o.merge_mode = exchange::kMergeAddUnique;
            else if (s == "delete") o.merge_mode = exchange::kMergeDeleteDuplicates;
            else if (s == "delete-only") o.merge_mode = exchange::kMergeDeleteOnly;
            else usage_error("unknown merge rule '" + s + "'");
        } else if (arg == "--web-search" || arg == "--name-search") {
            std::string text = value();
            if (text.empty()) usage_error(arg + " needs a text to search for");
            (arg == "--web-search" ? o.web_search : o.name_search) = std::move(text);
        } else if (arg == "--engines") {
            const std::string s = value();
            std::size_t from = 0;
            while (from <= s.size()) {
                const std::size_t comma = std::min(s.find(',', from), s.size());
                const std::optional<int32_t> id =
                    parse_int(std::string_view(s).substr(from, comma - from), 0, 999999999);
                if (!id) usage_error("--engines takes engine IDs separated by commas");
                o.engines.push_back(static_cast<uint32_t>(*id));
                from = comma + 1;
            }
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (arg == "--modern") {
            o.modern = true;
        } else {
            usage_error("unknown option '" + arg + "'");
        }
        if (inline_value) usage_error("option " + arg + " takes no value");
    }
    if (o.no_proxy && o.proxy_host) usage_error("--proxy and --no-proxy exclude each other");
    if (o.url && !harvest::normalise_starting_url(*o.url)) usage_error("the starting URL is empty");
    if (o.web_search && o.name_search) usage_error("one search at a time");
    if (o.searching() && o.url) usage_error("a search takes no starting URL");
    if (!o.engines.empty() && !o.searching()) {
        usage_error("--engines goes with --web-search or --name-search");
    }
    if (o.new_project && !o.url && !o.searching() && o.imports.empty()) {
        usage_error("--new needs a starting URL, a search or an import");
    }
    if (o.merge_mode && o.imports.empty()) usage_error("--merge goes with --import");
    if (o.force && !o.new_project) usage_error("--force goes with --new");
    return o;
}

bool file_exists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

// The console face of the program: errors go to standard error, the status lines are kept for
// the progress line and the end of the run. A progress line on the terminal is wiped before
// anything else is written, so the two never run into each other.
class ConsoleShell final : public platform::NullShell {
public:
    void show_slot_status(int slot, std::string_view text) override {
        // Lines come formatted by run control, after one leading blank.
        const std::string_view message = text.substr(text.starts_with(' ') ? 1 : 0);
        if (slot == -1) last_all = std::string(message);
        if (verbose) {
            wipe_progress();
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
        wipe_progress();
        std::fprintf(stderr, "tarnvelox-harvest: %.*s\n", static_cast<int>(message.size()),
                     message.data());
    }
    void wipe_progress() {
        if (!progress_shown) return;
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        progress_shown = false;
    }

    std::string last_all;  // the last line shown on every slot ("Hunt Complete", "Cancelled")
    int errors = 0;
    bool verbose = false;
    bool progress_shown = false;  // a progress line stands on the terminal
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

// The project file and its links and addresses files (not its lock, which stays).
std::vector<std::string> project_files(const std::string& project_path) {
    return {project_path, store::links_file_name(project_path),
            store::addresses_file_name(project_path)};
}

// "--new" without --force: refused (after saying why) when the project's files exist. Nothing
// is touched here, so it needs no lock.
bool may_start_afresh(const std::string& project_path, bool force) {
    if (force) return true;
    std::string existing;
    for (const std::string& f : project_files(project_path)) {
        if (file_exists(f)) existing += (existing.empty() ? "" : ", ") + f;
    }
    if (existing.empty()) return true;
    std::fprintf(stderr,
                 "tarnvelox-harvest: the project '%s' exists (%s); --new --force deletes it and "
                 "starts afresh\n",
                 project_path.c_str(), existing.c_str());
    return false;
}

// "--new --force": the project's files are deleted, under the project's lock. False (after
// saying why) when one cannot be deleted.
bool delete_project(const std::string& project_path) {
    for (const std::string& f : project_files(project_path)) {
        if (std::remove(f.c_str()) != 0 && errno != ENOENT) {
            std::fprintf(stderr, "tarnvelox-harvest: cannot delete '%s': %s\n", f.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    return true;
}

// The project, as the desktop program loads it. False (after saying why) when the project
// cannot be read.
bool load(app::Context& ctx, const ConsoleShell& shell, std::FILE* report, bool quiet) {
    const std::string project_path = ctx.project_path();
    const int errors_before = shell.errors;  // the settings and engines may have told some
    const int loaded = ctx.load_current_project(nullptr);
    if (loaded == 0) {
        std::fprintf(stderr, "tarnvelox-harvest: cannot read the project file '%s'\n",
                     project_path.c_str());
        return false;
    }
    if (loaded == app::Context::kLoadedWithoutProjectFile && !quiet) {
        std::fprintf(report, "%s: %s\n", project_path.c_str(),
                     std::string(app::kProjectFileMissingNote).c_str());
    }
    if (shell.errors > errors_before) {
        std::fprintf(stderr, "tarnvelox-harvest: the project '%s' could not be loaded\n",
                     project_path.c_str());
        return false;
    }
    return true;
}

// The stored values the command line may stand in for; they are put back before saving, so a
// value given for one run is not kept for the next.
struct StoredValues {
    int32_t packcount = 0;
    int32_t timeout = 0;
    std::optional<std::string> proxy;
    int32_t port = 0;
    int32_t start = 0;
    int32_t modern = 0;
    int32_t pagelimit = 0;
    int32_t start2 = 0;
    int32_t crawl_scope = 0;
    std::optional<std::string> crawl_keywords;
    std::optional<std::string> extract_keywords;
    int32_t robots = 0;
    std::optional<std::string> sought_addresses;
    std::optional<std::string> person_name;
    std::vector<int32_t> ticks;  // `selected` of every engines record, in list order

    explicit StoredValues(const app::Context& ctx)
        : packcount(ctx.settings.packcount), timeout(ctx.settings.timeout),
          proxy(ctx.settings.proxy), port(ctx.settings.port), start(ctx.settings.start),
          modern(ctx.settings.modern), pagelimit(ctx.settings.pagelimit),
          start2(ctx.settings.start2),
          crawl_scope(ctx.search.crawl_scope), crawl_keywords(ctx.search.crawl_keywords),
          extract_keywords(ctx.search.extract_keywords), robots(ctx.settings.robots),
          sought_addresses(ctx.search.sought_addresses), person_name(ctx.search.person_name) {
        for (const store::ItemRecord* r = ctx.engines.list.head(); r != nullptr;
             r = r->next.get()) {
            ticks.push_back(r->selected);
        }
    }

    void restore(app::Context& ctx) const {
        ctx.settings.packcount = packcount;
        ctx.settings.timeout = timeout;
        ctx.settings.proxy = proxy;
        ctx.settings.port = port;
        ctx.settings.start = start;
        ctx.settings.modern = modern;
        ctx.settings.pagelimit = pagelimit;
        ctx.settings.start2 = start2;
        ctx.search.crawl_scope = crawl_scope;
        ctx.search.crawl_keywords = crawl_keywords;
        ctx.search.extract_keywords = extract_keywords;
        ctx.settings.robots = robots;
        ctx.search.sought_addresses = sought_addresses;
        ctx.search.person_name = person_name;
        std::size_t i = 0;
        for (store::ItemRecord* r = ctx.engines.list.head(); r != nullptr && i < ticks.size();
             r = r->next.get()) {
            r->selected = ticks[i++];
        }
    }
};

// Ticks the engines a search asks, as the search tabs do: those of `ids`, else every engine of
// `kind` (KIND_SEARCH_ENGINE or KIND_DIRECTORY); every other engine is unticked. What is
// wrong with the request (engines.dat lists nothing it could ask), or empty.
std::string tick_engines(search::Engines& engines, uint32_t kind,
                         const std::vector<uint32_t>& ids) {
    const char* const what = kind == store::KIND_DIRECTORY ? "directory" : "web search engine";
    const auto asked = [&](const store::ItemRecord& r) {
        return (r.kind & kind) != 0 && r.url &&
               (ids.empty() || std::find(ids.begin(), ids.end(), r.engine_id) != ids.end());
    };
    bool any = false;
    for (store::ItemRecord* r = engines.list.head(); r != nullptr; r = r->next.get()) {
        r->selected = asked(*r) ? 1 : 0;
        any = any || r->selected != 0;
    }
    for (const uint32_t id : ids) {
        bool found = false;
        for (const store::ItemRecord* r = engines.list.head(); r != nullptr; r = r->next.get()) {
            found = found || (r->engine_id == id && asked(*r));
        }
        if (!found) {
            return std::string(search::kEnginesFile) + " here lists no " + what + " with ID=" +
                   std::to_string(id);
        }
    }
    if (!any) return std::string(search::kEnginesFile) + " here lists no " + what;
    return {};
}

// The options stand for the fields of a tab and the Preferences. Returns the tab the run
// starts from: Web Search or Name Search for a search; Harvest with a starting URL (the one
// given, else the project's, so a continued crawl keeps its scope), else Details (continue
// whatever the project holds).
int32_t apply_options(app::Context& ctx, const Options& opt) {
    harvest::SearchTexts& search = ctx.search;
    app::Settings& settings = ctx.settings;
    if (opt.url) search.starting_url = harvest::normalise_starting_url(*opt.url);
    const bool has_url = search.starting_url && !search.starting_url->empty();
    int32_t mode = has_url ? harvest::kHarvest : harvest::kDetails;
    if (opt.web_search) {
        search.sought_addresses = *opt.web_search;
        mode = harvest::kWebSearch;
    } else if (opt.name_search) {
        search.person_name = *opt.name_search;
        mode = harvest::kNameSearch;
    }
    if (opt.scope) search.crawl_scope = *opt.scope;
    if (opt.crawl_if) search.crawl_keywords = *opt.crawl_if;
    if (opt.extract_if) search.extract_keywords = *opt.extract_if;
    if (opt.connections) settings.packcount = *opt.connections;
    if (opt.timeout) settings.timeout = *opt.timeout;
    if (opt.proxy_host) settings.proxy = *opt.proxy_host;
    if (opt.proxy_port) settings.port = *opt.proxy_port;
    if (opt.no_proxy) settings.proxy.reset();
    if (opt.robots) settings.robots = 1;
    if (opt.modern) settings.modern = 1;
    if (opt.page_limit) {
        settings.pagelimit =
            *opt.page_limit == harvest::kDefaultPageLimit ? 0 : *opt.page_limit;
    }
    return mode;
}

// What the project's files hold, read from the files themselves.
struct Figures {
    int64_t links = 0;
    int64_t pending = 0;  // links not yet visited
    int64_t addresses = 0;
    [[nodiscard]] int64_t visited() const { return links - pending; }
};

Figures stored_figures(const store::Store& store) {
    Figures f;
    f.links = static_cast<int64_t>(store.links.live_count());
    f.pending = static_cast<int64_t>(store.links.pending_count());
    f.addresses = static_cast<int64_t>(store.addresses.live_count());
    return f;
}

std::string project_figures(const Figures& f) {
    return std::to_string(f.links) + " links (" + std::to_string(f.pending) +
           " not yet visited), " + std::to_string(f.addresses) + " addresses";
}

bool has_text(const std::optional<std::string>& text) { return text && !text->empty(); }

// Which project the run continues, and the stored values that narrow or redirect it, so a
// value kept from an earlier run is never a surprise.
void tell_start(std::FILE* out, const app::Context& ctx, const Options& opt,
                const std::string& project_path, const Figures& before) {
    if (before.links > 0) {
        std::fprintf(out, "continuing %s: %s\n", project_path.c_str(),
                     project_figures(before).c_str());
    }
    std::vector<std::string> notes;
    if (!opt.crawl_if && has_text(ctx.search.crawl_keywords)) {
        notes.push_back("crawl if '" + *ctx.search.crawl_keywords + "'");
    }
    if (!opt.extract_if && has_text(ctx.search.extract_keywords)) {
        notes.push_back("extract if '" + *ctx.search.extract_keywords + "'");
    }
    static const char* const kScopes[] = {"url", "directory", "path", "server", "nolimit"};
    const int32_t scope = ctx.search.crawl_scope;
    if (has_text(ctx.search.starting_url) && !opt.scope && scope != harvest::kScopePath &&
        scope >= 0 && scope <= 4) {
        notes.push_back(std::string("scope ") + kScopes[scope]);
    }
    if (!opt.proxy_host && !opt.no_proxy && has_text(ctx.settings.proxy)) {
        notes.push_back("proxy " + *ctx.settings.proxy + ":" + std::to_string(ctx.settings.port));
    }
    if (!opt.connections && ctx.settings.packcount < harvest::kDefaultConnections) {
        notes.push_back(std::to_string(ctx.settings.packcount) + " connections");
    }
    if (!opt.timeout && ctx.settings.timeout != app::Settings{}.timeout) {
        notes.push_back("tick " + std::to_string(ctx.settings.timeout) + " ms");
    }
    if (!opt.robots && ctx.settings.robots != 0) notes.push_back("robots.txt obeyed");
    if (!opt.modern && ctx.settings.modern != 0) notes.push_back("pages read the modern way");
    if (!opt.page_limit && ctx.settings.pagelimit != 0 &&
        (opt.modern || ctx.settings.modern != 0)) {
        notes.push_back("page limit " + std::to_string(ctx.settings.pagelimit) + " bytes");
    }
    if (notes.empty()) return;
    std::string text;
    for (const std::string& n : notes) text += (text.empty() ? "" : ", ") + n;
    std::fprintf(out, "from %s and %s: %s\n", std::string(app::kSettingsFile).c_str(),
                 project_path.c_str(), text.c_str());
}

struct RunOutcome {
    bool interrupted = false;
    double seconds = 0;
};

// The terminal's width in columns, or 80 when it cannot be told.
int terminal_columns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// Runs the event loop until the harvest ends or Ctrl-C cancels it, drawing the progress line on
// a terminal.
RunOutcome run_to_end(app::HarvestRun& run, const app::Context& ctx, ConsoleShell& shell,
                      bool live, int64_t visited_before) {
    RunOutcome outcome;
    const auto started = std::chrono::steady_clock::now();
    auto last_draw = started;
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    auto progress = [&]() {
        const harvest::RunState& r = ctx.run;
        const double secs = elapsed();
        const double rate =
            secs > 0 ? static_cast<double>(r.visited_links - visited_before) / secs : 0.0;
        // Pending as the Status dialog counts it: the links file's unvisited links.
        const int32_t pending = store::unvisited_links(ctx.store);
        char line[256];
        std::snprintf(line, sizeof line,
                      "visited %d  pending %d  bad %d  addresses %d  bytes %lld  %.0f pages/s",
                      r.visited_links, pending, r.bad_links, ctx.store.total_addresses,
                      static_cast<long long>(r.total_bytes), rate);
        // Never wider than the terminal: a wrapped line could not be drawn over.
        std::string text(line);
        const auto columns = static_cast<std::size_t>(std::max(terminal_columns() - 1, 1));
        if (text.size() > columns) text.resize(columns);
        std::printf("\r\033[K%s", text.c_str());
        std::fflush(stdout);
        shell.progress_shown = true;
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
    shell.wipe_progress();
    outcome.seconds = elapsed();
    return outcome;
}

// Writes the project file and the settings with the stored values the command line stands in
// for (the run's own are kept for the run). False when either could not be written (told).
bool save_stored(app::Context& ctx, const StoredValues& stored) {
    const StoredValues run_values(ctx);
    stored.restore(ctx);
    const bool saved = ctx.save_current_project() != 0 &&
                       ctx.save_settings(std::string(app::kSettingsFile)) != 0;
    run_values.restore(ctx);
    return saved;
}

// Saves as the program does on exit, with the stored values the command line stood in for put
// back, and writes the exports asked for: the exit status.
int save_and_export(app::Context& ctx, const Options& opt, const StoredValues& stored,
                    bool interrupted) {
    int status = kExitOk;
    if (interrupted) status = g_signal.load() == SIGTERM ? kExitTerminated : kExitInterrupted;
    stored.restore(ctx);
    if (!ctx.shut_down(std::string(app::kSettingsFile))) status = kExitFileError;
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
    return status;
}

// Whether an import's file can be read: for another project, one of its two files.
bool import_readable(const Import& i) {
    const std::vector<std::string> files =
        i.type == exchange::kImportProject
            ? std::vector<std::string>{store::addresses_file_name(i.path),
                                       store::links_file_name(i.path)}
            : std::vector<std::string>{i.path};
    for (const std::string& f : files) {
        if (std::FILE* file = base::fopen_regular(f)) {
            std::fclose(file);
            return true;
        }
    }
    return false;
}

// Whether the projects at `a` and `b` keep their items in the same files.
bool same_companions(const std::string& a, const std::string& b) {
    std::error_code missing;
    return store::companion_base(a) == store::companion_base(b) ||
           std::filesystem::equivalent(store::links_file_name(a), store::links_file_name(b),
                                       missing) ||
           std::filesystem::equivalent(store::addresses_file_name(a),
                                       store::addresses_file_name(b), missing);
}

// Every import's file can be read, found before anything changes (--new deletes the project
// first). With --new, an import of the project's own files is refused: they would be gone.
bool imports_readable(const Options& opt, const std::string& project_path) {
    for (const Import& i : opt.imports) {
        if (opt.new_project && i.type == exchange::kImportProject &&
            same_companions(i.path, project_path)) {
            std::fprintf(stderr,
                         "tarnvelox-harvest: --new deletes the project '%s' that the import of "
                         "'%s' would read\n",
                         project_path.c_str(), i.path.c_str());
            return false;
        }
        if (!import_readable(i)) {
            std::fprintf(stderr, "tarnvelox-harvest: cannot read the import file '%s'\n",
                         i.path.c_str());
            return false;
        }
    }
    return true;
}

// The imports asked for, in order, before any crawl (imports_readable() has passed); each says
// what it stored and refused. Without a starting URL nothing is fetched: the project is saved,
// the exports are written, the summary is told, and the exit status is the result. Otherwise
// none: the crawl follows.
std::optional<int> import_files(app::Context& ctx, const Options& opt,
                                const StoredValues& stored, std::FILE* report) {
    if (opt.imports.empty()) return std::nullopt;
    exchange::ImportResult total;
    for (const Import& i : opt.imports) {
        const exchange::ImportRequest request{
            i.path, i.type, opt.merge_mode.value_or(exchange::kMergeAddUnique),
            ctx.settings.modern != 0};
        const exchange::ImportResult r = exchange::import_file(ctx.harvest, request, ctx.filter);
        if (r.outcome != exchange::ImportOutcome::Done || ctx.store.write_failing) {
            std::fprintf(stderr, "tarnvelox-harvest: the import of '%s' failed\n",
                         i.path.c_str());
            (void)save_and_export(ctx, Options{}, stored, false);
            store::close_store(ctx.store);
            return kExitFileError;
        }
        if (r.lists_stale) exchange::reload_lists(ctx.harvest);
        std::fprintf(report, "%s: %s\n", i.path.c_str(), exchange::import_result_text(r).c_str());
        total.tally.addresses += r.tally.addresses;
        total.tally.links += r.tally.links;
        total.tally.duplicates += r.tally.duplicates;
        total.tally.filtered += r.tally.filtered;
        total.tally.deleted += r.tally.deleted;
    }
    if (opt.url || opt.searching()) return std::nullopt;
    const int status = save_and_export(ctx, opt, stored, false);
    if (!store::open_store(ctx.store)) {
        store::close_store(ctx.store);
        return kExitFileError;
    }
    const Figures after = stored_figures(ctx.store);
    store::close_store(ctx.store);
    std::fprintf(report, "Import Complete: this run: %s; project %s: %s\n",
                 exchange::import_result_text(total).c_str(), ctx.project_path().c_str(),
                 project_figures(after).c_str());
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
    // Notes and the summary stay off standard output when an export goes there.
    std::FILE* const report = opt.export_to_stdout ? stderr : stdout;
    if (!exports_writable(opt)) return kExitFileError;
    // Settings and engines as the desktop program reads them; the harvester needs no engines.
    ctx.start_up(std::string(app::kSettingsFile), app::Context::EnginesFile::Optional);
    // The project: the one given, else the one last used, else the default.
    if (opt.project) ctx.settings.project = *opt.project;
    const std::string project_path = ctx.project_path();
    if (!imports_readable(opt, project_path)) return kExitFileError;
    if (opt.new_project && !may_start_afresh(project_path, opt.force)) return kExitFileError;
    // One writer per project: a window or another harvester working on it is left alone.
    if (ctx.lock_current_project() == app::Context::ProjectLock::InUse) {
        shell.report_error(ctx.project_in_use_message());
        return kExitFileError;
    }
    if (opt.new_project && !delete_project(project_path)) return kExitFileError;
    if (!load(ctx, shell, report, opt.quiet)) return kExitFileError;
    const StoredValues stored(ctx);
    const int32_t mode = apply_options(ctx, opt);
    if (opt.searching()) {
        const std::string wrong =
            tick_engines(ctx.engines,
                         opt.web_search ? store::KIND_SEARCH_ENGINE : store::KIND_DIRECTORY,
                         opt.engines);
        if (!wrong.empty()) {
            std::fprintf(stderr, "tarnvelox-harvest: %s\n", wrong.c_str());
            return kExitUsage;
        }
    }

    // Refuse before anything changes when the project's files cannot be created here or cannot
    // take what a harvest finds (damage): the run would be refused after the changes.
    store::Store& store = ctx.store;
    if (!ctx.open_project_files()) {
        std::fprintf(stderr, "tarnvelox-harvest: the harvest could not be started\n");
        store::close_store(store);
        return kExitFileError;
    }
    if (opt.refetch && app::refetch_all_links(ctx) < 0) {
        std::fprintf(stderr, "tarnvelox-harvest: the links of '%s' could not be reset\n",
                     store.links_path.c_str());
        return kExitFileError;
    }
    if (const std::optional<int> done = import_files(ctx, opt, stored, report)) return *done;
    const Figures before = stored_figures(store);
    if (mode == harvest::kDetails && before.links == 0) {
        store::close_store(store);
        usage_error("the project " + project_path + " holds nothing to continue: give a starting URL");
    }
    if (!opt.quiet) tell_start(report, ctx, opt, project_path, before);
    // The project file and the settings are written before the first page is fetched, so a
    // run that never ends the ordinary way (kill -9, a crash) still leaves its starting URL
    // and scope for the next run.
    if (!save_stored(ctx, stored)) {
        std::fprintf(stderr, "tarnvelox-harvest: the harvest could not be started\n");
        store::close_store(store);
        return kExitFileError;
    }

    platform::qt::QtEventLoop loop(ctx.events());
    platform::qt::QtNetwork network(ctx.events());
    ConsoleWindow window;
    app::HarvestRun& run = ctx.attach(loop, network, window);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);

    // The starting link is stored by the seeding without being counted as a found link; the
    // progress line counts it when this run stored it (a link too long to store is not).
    store::ItemRecord probe;
    if (mode == harvest::kHarvest) probe.url = *ctx.search.starting_url;
    const bool stored_before =
        probe.url && store::tree_find(store, store::TreeFile::Links, probe) >= 0;
    // The run's counters carry on from the project's: this run's share is the difference.
    const int64_t handed_out_before = ctx.run.visited_links;
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
    const RunOutcome outcome = run_to_end(run, ctx, shell, live, handed_out_before);
    // The project's files could not be written: the run stopped, and what it found since is
    // fetched again next time. Not a success.
    const bool run_failed = ctx.store.write_failing;
    // A starting URL that could not be stored was told why; nothing of it can be fetched.
    const bool start_refused = probe.url && !stored_before && seeded == 0;
    int status = save_and_export(ctx, opt, stored, outcome.interrupted);
    if (status == kExitOk && run_failed) status = kExitFileError;

    // The figures come from the files as they now are.
    if (!store::open_store(store)) {
        store::close_store(store);
        return status == kExitOk ? kExitFileError : status;
    }
    const Figures after = stored_figures(store);
    store::close_store(store);

    // The run's share of the figures, judged by run control as the window judges it.
    const app::RunOutcome& o = run.outcome();
    const int64_t pages = std::max<int64_t>(after.visited() - before.visited(), 0);
    const int64_t bad = o.bad();
    const int64_t fetched = std::max<int64_t>(pages - o.failed, 0);
    const std::string ending =
        outcome.interrupted ? "Cancelled"
                            : (o.completed ? std::string(app::kHuntComplete)
                                           : (shell.last_all.empty() ? "Stopped" : shell.last_all));
    std::fprintf(report,
                 "%s: this run: %lld pages, %lld bad links, %lld new addresses, %lld new links, "
                 "%lld bytes in %.1f s; project %s: %s\n",
                 ending.c_str(), static_cast<long long>(pages), static_cast<long long>(bad),
                 static_cast<long long>(after.addresses - before.addresses),
                 static_cast<long long>(after.links - before.links),
                 static_cast<long long>(ctx.run.total_bytes), outcome.seconds, project_path.c_str(),
                 project_figures(after).c_str());

    if (outcome.interrupted || status != kExitOk) return status;
    if (start_refused && fetched == 0) return kExitNothingFetched;
    // Sites left out under the robots.txt rules (unreadable robots.txt, a site that stays
    // busy): their links were never handed out, but they were not fetched either.
    int64_t left_links = 0;
    if (ctx.net.politeness != nullptr) {
        const std::vector<net::Politeness::LeftSite> left = ctx.net.politeness->left_sites();
        for (std::size_t i = 0; i < left.size(); ++i) {
            left_links += left[i].links;
            if (i < kMaxLeftSitesTold) {
                std::fprintf(stderr, "tarnvelox-harvest: %s\n", left[i].why.c_str());
            }
        }
        if (left.size() > kMaxLeftSitesTold) {
            std::fprintf(stderr, "tarnvelox-harvest: %zu more sites are left for a later run\n",
                         left.size() - kMaxLeftSitesTold);
        }
    }
    if (left_links > 0 && o.handed_out == 0) return kExitNothingFetched;
    if (opt.searching() && o.handed_out == 0) {
        std::fprintf(stderr,
                     "tarnvelox-harvest: nothing to fetch: every query of this search was asked "
                     "before (%s holds its answers)\n",
                     project_path.c_str());
        return kExitNothingFetched;
    }
    if (o.handed_out > 0 && fetched == 0) {
        std::fprintf(stderr, "tarnvelox-harvest: %s\n",
                     app::nothing_fetched_text(o.reason).c_str());
        return kExitNothingFetched;
    }
    if (o.handed_out == 0 && after.links > 0 && after.pending == 0 && !opt.quiet) {
        std::fprintf(report,
                     "nothing left to fetch: every link of %s has been visited (--refetch "
                     "fetches them again, --new starts afresh)\n",
                     project_path.c_str());
    }
    return status;
}
