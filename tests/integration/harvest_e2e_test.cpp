// End-to-end tests of tarnvelox-harvest: the real headless harvester is run as a child process
// against scripted loopback servers of the test's own (127.0.0.1 only), and its exit status,
// exports and project files are checked. Every wait is bounded; a child that outlives its
// deadline is killed and the test fails.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "fakes/scripted_server.h"
#include "fakes/self_signed_tls.h"
#include "store/item_record.h"
#include "store/link_tree_file.h"
#include "store/store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace tarnvelox::testing;

// A TLS server on 127.0.0.1 with a self-signed certificate, which the system's trust store does
// not accept. It counts the handshakes that were attempted and those that succeeded.
class UntrustedTlsServer {
public:
    UntrustedTlsServer() {
        listen_fd_ = listen_on_loopback(port_);
        thread_ = std::thread([this] { accept_loop(); });
    }
    ~UntrustedTlsServer() {
        stopping_ = true;
        thread_.join();
        ::close(listen_fd_);
    }
    UntrustedTlsServer(const UntrustedTlsServer&) = delete;
    UntrustedTlsServer& operator=(const UntrustedTlsServer&) = delete;

    [[nodiscard]] std::string base() const { return "https://127.0.0.1:" + std::to_string(port_); }
    std::atomic<int> attempts{0};
    std::atomic<int> accepted{0};

private:
    void accept_loop() {
        while (!stopping_.load()) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            timeval tv{2, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            ++attempts;
            SSL* ssl = SSL_new(context_.get());
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                ++accepted;
                const char answer[] = "HTTP/1.0 200 OK\r\n\r\nsecret@tls.example.com";
                SSL_write(ssl, answer, sizeof answer - 1);
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
            ::close(fd);
        }
    }

    tarnvelox::testing::SelfSignedServerContext context_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 that nobody listens on.
int refused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// ---------------------------------------------------------------------------------------------
// Running the harvester.

struct RunResult {
    bool finished = false;  // exited before the deadline
    int exit_code = -1;
    std::string out;
};

class Harvester {
public:
    // Starts the harvester in `dir` with `args`; standard output goes to a file there.
    // `file_size_limit`, when not 0, caps every file the harvester writes (a full disk).
    // `log` names the files of its standard output and error ("<log>.txt", "<log>.err").
    Harvester(const fs::path& dir, const std::vector<std::string>& args,
              rlim_t file_size_limit = 0, const std::string& log = "stdout")
        : dir_(dir) {
        out_path_ = dir / (log + ".txt");
        err_path_ = dir / (log == "stdout" ? std::string("stderr.txt") : log + ".err");
        std::vector<std::string> all{TARNVELOX_HARVEST_BIN};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(dir.c_str()) != 0) ::_exit(120);
            const int o = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o >= 0) ::dup2(o, 1);
            if (e >= 0) ::dup2(e, 2);
            if (file_size_limit != 0) {
                // Writes past the limit fail with EFBIG instead of killing the process.
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{file_size_limit, file_size_limit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }

    ~Harvester() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
    }

    void interrupt() const { ::kill(pid_, SIGINT); }
    void terminate() const { ::kill(pid_, SIGTERM); }
    void kill() const { ::kill(pid_, SIGKILL); }

    RunResult wait(std::chrono::milliseconds deadline) {
        RunResult r;
        const auto end = Clock::now() + deadline;
        int st = 0;
        while (true) {
            const pid_t w = ::waitpid(pid_, &st, WNOHANG);
            if (w == pid_) {
                reaped_ = true;
                r.finished = true;
                r.exit_code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (Clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &st, 0);
                reaped_ = true;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::ifstream in(out_path_);
        std::stringstream ss;
        ss << in.rdbuf();
        r.out = ss.str();
        std::ifstream err(err_path_);
        std::stringstream es;
        es << err.rdbuf();
        if (!es.str().empty()) r.out += "\n[stderr]\n" + es.str();
        return r;
    }

private:
    fs::path dir_;
    fs::path out_path_;
    fs::path err_path_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

std::set<std::string> read_lines(const fs::path& p) {
    std::set<std::string> lines;
    std::ifstream in(p);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.insert(line);
    }
    return lines;
}

// Every record of a link tree file, by key; and whether every record read in sequence is found
// again by its key, with no key twice and as many records as live keys.
struct TreeCheck {
    bool opened = false;
    bool consistent = false;
    std::string problems;
    std::map<std::string, std::pair<int32_t, std::string>> records;  // key -> status, http status
};

TreeCheck check_tree(const fs::path& path) {
    TreeCheck c;
    tarnvelox::store::LinkTreeFile file;
    if (!file.open(path.string())) return c;
    c.opened = true;
    int64_t pos = 0;
    int32_t node = 0;
    std::size_t count = 0;
    c.consistent = true;
    while (auto rec = file.read_next(pos, node)) {
        ++count;
        const std::string key = rec->url.value_or("");
        if (file.find(key) != rec->file_offset) {
            c.consistent = false;
            c.problems += "not found by key: " + key + "\n";
        }
        if (!c.records.emplace(key, std::make_pair(rec->status, rec->http_status.value_or("")))
                 .second) {
            c.consistent = false;
            c.problems += "duplicate key: " + key + "\n";
        }
    }
    if (count != file.live_count()) {
        c.consistent = false;
        c.problems += "records read " + std::to_string(count) + " != live keys " +
                      std::to_string(file.live_count()) + "\n";
    }
    (void)file.close();
    return c;
}

class HarvestE2E : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarnvelox-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        tarnvelox::store::Store s;
        tarnvelox::store::set_project_path(s, (dir_ / "proj.tvp").string());
        lin_ = s.links_path;
        mai_ = s.addresses_path;
        if (fs::path(lin_).is_relative()) lin_ = dir_ / lin_;
        if (fs::path(mai_).is_relative()) mai_ = dir_ / mai_;
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        } else {
            std::fprintf(stderr, "kept the working folder %s\n", dir_.c_str());
        }
    }

    std::vector<std::string> args(std::vector<std::string> extra) const {
        std::vector<std::string> a{"--project", "proj.tvp", "--quiet", "--export",
                                   "addresses-txt:addresses.txt", "--export", "urls-txt:urls.txt"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    void run_fault_harvest(bool modern = false);
    fs::path dir_;
    fs::path lin_;
    fs::path mai_;
};

// ---------------------------------------------------------------------------------------------

TEST_F(HarvestE2E, HarvestsLinksAndAddressesFollowingRedirects) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("<a href=\"/a.html\">a</a> <a href=\"sub/b.html\">b</a> "
                           "<a href=\"mailto:root@site.example.com\">mail</a> "
                           "<a href=\"/redir-abs\">ra</a> <a href=\"/redir-rel\">rr</a>"));
    server.route("/a.html", page("alpha@site.example.com <a href=\"/\">home</a>"));
    server.route("/sub/b.html", page("<a href=\"../c.html\">c</a> Mail beta@site.example.com"));
    server.route("/c.html", page("gamma@site.example.com"));
    server.route("/redir-abs", redirect(301, b + "/moved/abs.html"));
    server.route("/redir-rel", redirect(302, "moved/rel.html"));
    server.route("/moved/abs.html", page("absolute@site.example.com"));
    server.route("/moved/rel.html", page("relative@site.example.com"));
    server.start();

    Harvester h(dir_, args({"--timeout", "200", "--scope", "server", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;

    const auto addresses = read_lines(dir_ / "addresses.txt");
    for (const char* a : {"root@site.example.com", "alpha@site.example.com",
                          "beta@site.example.com", "gamma@site.example.com",
                          "absolute@site.example.com", "relative@site.example.com"}) {
        EXPECT_TRUE(addresses.count(a)) << "missing address " << a << "\n" << r.out;
    }
    EXPECT_EQ(addresses.size(), 6u);

    const auto urls = read_lines(dir_ / "urls.txt");
    for (const char* u : {"/", "/a.html", "/sub/b.html", "/c.html"}) {
        EXPECT_TRUE(urls.count(b + u)) << "missing link " << b << u;
    }
    // Each page fetched once, the redirect targets included.
    for (const char* p : {"/", "/a.html", "/sub/b.html", "/c.html", "/moved/abs.html",
                                "/moved/rel.html"}) {
        EXPECT_EQ(server.requests(p), 1) << p;
    }

    for (const fs::path& f : {lin_, mai_}) {
        const TreeCheck c = check_tree(f);
        ASSERT_TRUE(c.opened) << f;
        EXPECT_TRUE(c.consistent) << f << "\n" << c.problems;
    }
}

void HarvestE2E::run_fault_harvest(bool modern) {
    ScriptedServer server;
    const std::string b = server.base();
    const int dead = refused_port();
    const std::string dead_url = "http://127.0.0.1:" + std::to_string(dead) + "/gone.html";
    const std::vector<std::string> faults{"/e400.html",  "/e403.html",   "/e404.html",
                                          "/e500.html",  "/silent.html", "/stall.html",
                                          "/reset.html", "/huge.html",   "/garbage.html"};
    std::string links;
    for (const auto& f : faults) links += "<a href=\"" + f + "\">f</a> ";
    links += "<a href=\"" + dead_url + "\">dead</a> <a href=\"/after.html\">after</a>";
    server.route("/", page(links + " start@ok.example.com"));
    server.route("/after.html", page("after@ok.example.com <a href=\"/last.html\">l</a>"));
    server.route("/last.html", page("last@ok.example.com"));
    server.route("/e400.html", status(400, "Bad Request"));
    server.route("/e403.html", status(403, "Forbidden"));
    server.route("/e404.html", status(404, "Not Found"));
    server.route("/e500.html", status(500, "Internal Server Error"));
    server.route("/silent.html", behaviour(Route::Kind::NeverAnswer));
    server.route("/stall.html", behaviour(Route::Kind::PartialStall));
    server.route("/reset.html", behaviour(Route::Kind::Reset));
    server.route("/huge.html", behaviour(Route::Kind::Huge));
    server.route("/garbage.html", behaviour(Route::Kind::Garbage));
    server.start();

    std::vector<std::string> options{"--timeout", "100", "--scope", "nolimit", "--connections",
                                     "4", "--verbose", b + "/"};
    if (modern) options.insert(options.begin(), "--modern");
    Harvester h(dir_, args(options));
    const RunResult r = h.wait(60s);
    server.stop();
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;

    const auto addresses = read_lines(dir_ / "addresses.txt");
    for (const char* a : {"start@ok.example.com", "after@ok.example.com", "last@ok.example.com"}) {
        EXPECT_TRUE(addresses.count(a)) << "missing address " << a << "\n" << r.out;
    }

    const TreeCheck links_tree = check_tree(lin_);
    ASSERT_TRUE(links_tree.opened);
    EXPECT_TRUE(links_tree.consistent) << links_tree.problems;
    using namespace tarnvelox::store;
    auto rec = [&](const std::string& url) -> std::pair<int32_t, std::string> {
        auto it = links_tree.records.find(url);
        if (it == links_tree.records.end()) {
            ADD_FAILURE() << "link not stored: " << url;
            return {0, ""};
        }
        return it->second;
    };
    // Pages that answered with an error status, timed out or sent no HTTP: visited and bad.
    for (const char* f : {"/e400.html", "/e403.html", "/e404.html", "/e500.html",
                                "/silent.html", "/garbage.html"}) {
        const int32_t st = rec(b + std::string(f)).first;
        EXPECT_TRUE(st & STATUS_VISITED) << f << " status " << st;
        EXPECT_TRUE(st & STATUS_BAD) << f << " status " << st;
    }
    EXPECT_TRUE(rec(b + "/huge.html").first & STATUS_VISITED);
    // Every fault page was asked for exactly once: no retry storm.
    for (const auto& f : faults) EXPECT_EQ(server.requests(f), 1) << f;
    EXPECT_EQ(server.requests("/after.html"), 1);
    EXPECT_EQ(server.requests("/last.html"), 1);
    // A refused connect, a connection reset before any byte arrived or a body that stalled
    // short of its Content-Length leaves the link as it was stored: it is offered again by the
    // next run instead of being given up.
    for (const std::string& u : {b + "/reset.html", b + "/stall.html", dead_url}) {
        const int32_t st = rec(u).first;
        EXPECT_EQ(st & (STATUS_VISITED | STATUS_BAD), 0) << u << " status " << st;
    }
    EXPECT_EQ(rec(b + "/e400.html").second, "400");
    EXPECT_EQ(rec(b + "/e403.html").second, "403");
    EXPECT_EQ(rec(b + "/e404.html").second, "404");
    EXPECT_TRUE(rec(b + "/e404.html").first & STATUS_NOT_FOUND);
    EXPECT_TRUE(rec(b + "/silent.html").first & STATUS_TIMEOUT);
    EXPECT_FALSE(rec(b + "/after.html").first & STATUS_BAD);

    // Each fault was reported with its status text (--verbose writes them to standard error).
    for (const std::string line :
         {"Bad Request", "Forbidden Territory", "File not found",
          "Request Error (HTTP/1.0 500 Internal Server E)", "Timeout Error...(Abort)",
          "Connection Refused", modern ? "Transferred 5242" : "Transferred 250",
          "Hunt Complete"}) {
        EXPECT_NE(r.out.find("] " + line), std::string::npos) << "no status line " << line;
    }

    const TreeCheck addr_tree = check_tree(mai_);
    ASSERT_TRUE(addr_tree.opened);
    EXPECT_TRUE(addr_tree.consistent) << addr_tree.problems;
}

TEST_F(HarvestE2E, FaultyServersEndAsBadLinksAndTheHuntCompletes) { run_fault_harvest(); }
TEST_F(HarvestE2E, FaultyServersEndAsBadLinksTheModernWayToo) { run_fault_harvest(true); }

// The modern way over a server that keeps its connections and sends compressed and chunked
// pages: every page is read whole and asked for once, over a handful of connections.
TEST_F(HarvestE2E, TheModernWayKeepsConnectionsAndReadsCompressedAndChunkedPages) {
    ScriptedServer server;
    server.keep_alive();
    std::string links;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "/p" + std::to_string(i) + ".html";
        links += "<a href=\"" + name + "\">" + std::to_string(i) + "</a> ";
        Route r = page("Write to p" + std::to_string(i) + "@kept.example.com");
        r.gzip = i % 2 == 1;
        r.chunked = i % 3 == 1;
        server.route(name, r);
    }
    Route long_page = page(std::string(600000, ' ') + "late@kept.example.com");
    long_page.gzip = true;
    long_page.chunked = true;
    server.route("/long.html", long_page);
    server.route("/", page(links + "<a href=\"/long.html\">long</a> home@kept.example.com"));
    server.start();

    Harvester h(dir_, args({"--modern", "--timeout", "200", "--scope", "server",
                            "--connections", "4", server.base() + "/"}));
    const RunResult r = h.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    const auto addresses = read_lines(dir_ / "addresses.txt");
    EXPECT_EQ(addresses.size(), 26u) << r.out;
    for (const char* a : {"home@kept.example.com", "p0@kept.example.com", "p23@kept.example.com",
                          "late@kept.example.com"}) {
        EXPECT_TRUE(addresses.count(a)) << "missing address " << a << "\n" << r.out;
    }
    for (const auto& [path, count] : server.requested()) EXPECT_EQ(count, 1) << path;
    EXPECT_LE(server.connections(), 8);
}

// A run that could fetch nothing says why and fails; the proxy it was given is not kept, and
// the link is left for the next run.
TEST_F(HarvestE2E, ProxyThatIsDownFailsTheRunAndIsNotKept) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("never@fetched.example.com"));
    server.start();
    const int proxy_port = refused_port();

    {
        std::ofstream ini(dir_ / "tarnv.ini");
        ini << "start=0\nstart2=2\n";
    }
    Harvester h(dir_, args({"--timeout", "100", "--verbose", "--connections", "3", "--crawl-if",
                            "Reach", "--extract-if", "ann", "--scope", "server", "--proxy",
                            "127.0.0.1:" + std::to_string(proxy_port), b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 3) << r.out;
    EXPECT_NE(r.out.find("not one page could be fetched (Connection Refused)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Hunt Complete: this run: 0 pages, 1 bad links"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("] Contacting Proxy -> 127.0.0.1"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/"), 0);
    EXPECT_TRUE(read_lines(dir_ / "addresses.txt").empty());

    // The starting link is kept unvisited.
    const TreeCheck links = check_tree(lin_);
    ASSERT_TRUE(links.opened);
    EXPECT_TRUE(links.consistent) << links.problems;
    const auto it = links.records.find(b + "/");
    ASSERT_NE(it, links.records.end());
    EXPECT_EQ(it->second.first & (tarnvelox::store::STATUS_VISITED | tarnvelox::store::STATUS_BAD),
              0);
    // What the command line gave applied to that run only; the project keeps its new URL.
    const auto ini = read_lines(dir_ / "tarnv.ini");
    EXPECT_FALSE(ini.count("proxy=127.0.0.1")) << "the proxy was kept";
    for (const char* kept : {"packcount=10", "timeout=4000", "start=0", "start2=2"}) {
        EXPECT_TRUE(ini.count(kept)) << kept << " is not what it was before the run";
    }
    const auto project = read_lines(dir_ / "proj.tvp");
    EXPECT_TRUE(project.count("URL=" + b + "/"));
    EXPECT_TRUE(project.count("START=2"));
    for (const std::string& line : project) {
        EXPECT_FALSE(line.starts_with("CRAWL=") || line.starts_with("EXTRACT=")) << line;
    }

    // A plain run goes straight to the site and fetches the link.
    Harvester again(dir_, args({}));
    const RunResult r2 = again.wait(30s);
    server.stop();
    ASSERT_TRUE(r2.finished) << r2.out;
    EXPECT_EQ(r2.exit_code, 0) << r2.out;
    EXPECT_NE(r2.out.find("Hunt Complete: this run: 1 pages, 0 bad links, 1 new addresses"),
              std::string::npos)
        << r2.out;
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"),
              std::set<std::string>{"never@fetched.example.com"});
}

// Values kept in the files that narrow or redirect a run are told before it starts.
TEST_F(HarvestE2E, StoredValuesThatNarrowTheRunAreTold) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("ann@example.com"));
    server.start();
    {
        std::ofstream ini(dir_ / "tarnv.ini");
        ini << "packcount=2\nproxy=127.0.0.1\nport=9\nstart2=3\n";
        std::ofstream project(dir_ / "proj.tvp");
        project << "URL=" << b << "/\nCRAWL=Reach\nCOUNT=0\nSTART=3\nBODY=\n";
    }
    Harvester h(dir_, {"--project", "proj.tvp", "--no-proxy", b + "/"});
    const RunResult r = h.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("from tarnv.ini and proj.tvp: crawl if 'Reach', scope server, "
                         "2 connections\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(server.requests("/"), 1) << "--no-proxy went through the stored proxy";
    EXPECT_TRUE(read_lines(dir_ / "tarnv.ini").count("proxy=127.0.0.1"));
}

// The harvester never asks the update host: a proxy that records every request sees the
// site's pages only.
TEST_F(HarvestE2E, AHarvestThroughAProxyAsksNothingOfTheUpdateHost) {
    ScriptedServer proxy;
    const std::string b = proxy.base();
    // The server reads the path of a proxy request's absolute URL as its route.
    proxy.route("/", page("<a href=\"/a.html\">a</a> ann@site.example.com"));
    proxy.route("/a.html", page("bob@site.example.com"));
    proxy.start();
    const std::string via = "127.0.0.1:" + std::to_string(proxy.port());
    Harvester h(dir_, args({"--timeout", "200", "--proxy", via, b + "/"}));
    const RunResult r = h.wait(30s);
    proxy.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    const std::map<std::string, int> seen = proxy.requested();
    EXPECT_EQ(seen, (std::map<std::string, int>{{"/", 1}, {"/a.html", 1}})) << r.out;
}

// A run without a URL continues from the project's starting URL in the project's scope: a
// crawl limited to a folder stays there when it is continued.
TEST_F(HarvestE2E, AContinuedCrawlKeepsItsScope) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/a/index.html", page("<a href=\"p2.html\">p2</a>"));
    server.route("/a/p2.html", page("<a href=\"/b/out.html\">out</a> ann@example.com"));
    server.route("/b/out.html", page("out@example.com"));
    server.start();
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--scope", "directory", b + "/a/index.html"},
          std::vector<std::string>{"--refetch"}, std::vector<std::string>{}}) {
        std::vector<std::string> a{"--project", "proj.tvp"};
        a.insert(a.end(), extra.begin(), extra.end());
        Harvester h(dir_, a);
        const RunResult r = h.wait(30s);
        ASSERT_TRUE(r.finished) << r.out;
        EXPECT_EQ(r.exit_code, 0) << r.out;
    }
    server.stop();
    EXPECT_EQ(server.requests("/a/p2.html"), 2);
    EXPECT_EQ(server.requests("/b/out.html"), 0) << "the continued crawl left its folder";
}

// A folder that holds a project: which one is continued is told; the same URL again fetches
// nothing and says so; --refetch fetches again; --new refuses to overwrite without --force.
TEST_F(HarvestE2E, ContinuingRefetchingAndStartingAfresh) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("ann@example.com <a href=\"/b.html\">b</a>"));
    server.route("/b.html", page("bob@example.com"));
    server.route("/c.html", page("cy@example.com"));
    server.start();
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> a{"--project", "proj.tvp"};
        a.insert(a.end(), extra.begin(), extra.end());
        Harvester h(dir_, a);
        RunResult r = h.wait(30s);
        EXPECT_TRUE(r.finished) << r.out;
        return r;
    };
    RunResult r = run({});  // nothing to continue yet
    EXPECT_EQ(r.exit_code, 2) << r.out;
    EXPECT_NE(r.out.find("holds nothing to continue"), std::string::npos) << r.out;

    r = run({b + "/"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("this run: 2 pages, 0 bad links, 2 new addresses, 2 new links"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("project proj.tvp: 2 links (0 not yet visited), 2 addresses"),
              std::string::npos)
        << r.out;

    r = run({b + "/"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("continuing proj.tvp: 2 links (0 not yet visited), 2 addresses"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("nothing left to fetch"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/"), 1);

    r = run({"--refetch"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("this run: 2 pages, 0 bad links, 0 new addresses"), std::string::npos)
        << r.out;
    EXPECT_EQ(server.requests("/"), 2);
    EXPECT_EQ(server.requests("/b.html"), 2);

    r = run({"--new", "--force", " "});  // a usage error deletes nothing
    EXPECT_EQ(r.exit_code, 2) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "proj.tvp"));
    EXPECT_TRUE(fs::exists(lin_));

    r = run({"--new", b + "/c.html"});
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_NE(r.out.find("--new --force"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/c.html"), 0);

    r = run({"--new", "--force", "--export", "addresses-txt:a.txt", b + "/c.html"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(read_lines(dir_ / "a.txt"), std::set<std::string>{"cy@example.com"});
    EXPECT_NE(r.out.find("project proj.tvp: 1 links (0 not yet visited), 1 addresses"),
              std::string::npos)
        << r.out;

    // A starting page that is not there: a bad link, and nothing fetched.
    r = run({b + "/missing.html"});
    server.stop();
    EXPECT_EQ(r.exit_code, 3) << r.out;
    EXPECT_NE(r.out.find("not one page could be fetched (File not found)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("this run: 1 pages, 1 bad links"), std::string::npos) << r.out;
}

TEST_F(HarvestE2E, UntrustedCertificateFailsTheLinkAndTheHuntGoesOn) {
    UntrustedTlsServer tls;
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("<a href=\"" + tls.base() + "/secret.html\">s</a> "
                           "<a href=\"/after.html\">a</a>"));
    server.route("/after.html", page("after@plain.example.com"));
    server.start();

    Harvester h(dir_, args({"--timeout", "100", "--scope", "nolimit", "--verbose", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("] Secure Connect Failed (self-signed certificate)"), std::string::npos)
        << r.out;
    EXPECT_GE(tls.attempts.load(), 1);
    EXPECT_EQ(tls.accepted.load(), 0);  // nothing was sent over the untrusted connection

    const auto addresses = read_lines(dir_ / "addresses.txt");
    EXPECT_TRUE(addresses.count("after@plain.example.com"));
    EXPECT_FALSE(addresses.count("secret@tls.example.com"));
    const TreeCheck links = check_tree(lin_);
    ASSERT_TRUE(links.opened);
    const auto it = links.records.find(tls.base() + "/secret.html");
    ASSERT_NE(it, links.records.end());
    EXPECT_TRUE(it->second.first & tarnvelox::store::STATUS_BAD);
    EXPECT_TRUE(it->second.first & tarnvelox::store::STATUS_VISITED);
}

TEST_F(HarvestE2E, CancelThenStartAgainCompletesWithoutRefetching) {
    constexpr int kPages = 200;
    constexpr int kConnections = 4;
    auto path_of = [](int i) { return "/p" + std::to_string(i) + ".html"; };
    ScriptedServer server;
    const std::string b = server.base();
    for (int i = 0; i < kPages; ++i) {
        std::string body = "user" + std::to_string(i) + "@example.com";
        for (int t : {i + 1, (i * 7 + 3) % kPages, (i + 13) % kPages}) {
            if (t < kPages) body += " <a href=\"" + path_of(t) + "\">n</a>";
        }
        Route r = page(body);
        r.delay = std::chrono::milliseconds(5 + i % 6);
        server.route(path_of(i), r);
    }
    server.start();

    {
        Harvester h(dir_, args({"--timeout", "200", "--scope", "nolimit", "--connections",
                                std::to_string(kConnections), b + path_of(0)}));
        const auto end = Clock::now() + 30s;
        while (server.total_answered() < 40 && Clock::now() < end) std::this_thread::sleep_for(2ms);
        ASSERT_GE(server.total_answered(), 40) << "the first run did not get going";
        h.interrupt();
        const RunResult r = h.wait(30s);
        ASSERT_TRUE(r.finished) << "the interrupted run did not end in time\n" << r.out;
        EXPECT_EQ(r.exit_code, 130) << r.out;
        EXPECT_LT(server.total_answered(), kPages) << "the first run was not cut short";
    }
    const int answered_first = server.total_answered();

    Harvester again(dir_, args({}));
    const RunResult r2 = again.wait(60s);
    server.stop();
    ASSERT_TRUE(r2.finished) << "the continued run did not finish in time\n" << r2.out;
    EXPECT_EQ(r2.exit_code, 0) << r2.out;
    EXPECT_NE(r2.out.find("Hunt Complete"), std::string::npos) << r2.out;

    // Every page asked for; at most once, except a few cut by the Cancel.
    const auto requested = server.requested();
    int twice = 0;
    for (int i = 0; i < kPages; ++i) {
        const auto it = requested.find(path_of(i));
        const int n = it == requested.end() ? 0 : it->second;
        EXPECT_GE(n, 1) << path_of(i) << " never asked for";
        EXPECT_LE(n, 2) << path_of(i) << " asked for " << n << " times";
        if (n == 2) ++twice;
    }
    RecordProperty("first_run_answered", answered_first);
    RecordProperty("asked_twice", twice);
    EXPECT_LE(twice, kConnections) << "pages asked for twice (first run answered "
                                   << answered_first << ")\n" << r2.out;
    EXPECT_EQ(requested.size(), static_cast<std::size_t>(kPages)) << "unexpected paths asked for";

    const auto addresses = read_lines(dir_ / "addresses.txt");
    for (int i = 0; i < kPages; ++i) {
        const std::string a = "user" + std::to_string(i) + "@example.com";
        EXPECT_TRUE(addresses.count(a)) << "missing address " << a;
    }
    EXPECT_EQ(addresses.size(), static_cast<std::size_t>(kPages)) << r2.out;

    for (const fs::path& f : {lin_, mai_}) {
        const TreeCheck c = check_tree(f);
        ASSERT_TRUE(c.opened) << f;
        EXPECT_TRUE(c.consistent) << f << "\n" << c.problems;
    }
}

}  // namespace

namespace {

// The usual command-line conventions: --version, --opt=value, "--" before the URL, and
// SIGTERM ending the run with its own status after saving the project.
TEST_F(HarvestE2E, CommandLineConventionsAndSigterm) {
    {
        Harvester h(dir_, {"--version"});
        const RunResult r = h.wait(10s);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.out.find("tarnvelox-harvest 1.00"), std::string::npos) << r.out;
    }
    {
        Harvester h(dir_, {"--quiet=yes"});
        const RunResult r = h.wait(10s);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, 2) << r.out;
    }
    // A page limit from one byte to 1024M, in bytes or with K or M.
    const std::pair<const char*, int> page_limits[] = {
        {"1073741824", 0}, {"1024M", 0}, {"7k", 0}, {"1073741825", 2}, {"1025M", 2}, {"0", 2}};
    for (const auto& [limit, code] : page_limits) {
        SCOPED_TRACE(limit);
        Harvester h(dir_, {"--page-limit", limit, "--help"});
        const RunResult r = h.wait(10s);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, code) << r.out;
    }

    ScriptedServer server;
    server.route("/index.html", page("<a href=\"/slow.html\">s</a> ann@example.com"));
    server.route("/slow.html", behaviour(Route::Kind::NeverAnswer));
    server.start();
    Harvester h(dir_, args({"--connections=2", "--scope=server", "--timeout=200", "--",
                            server.base() + "/index.html"}));
    const auto end = Clock::now() + 20s;
    while (server.requests("/slow.html") < 1 && Clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(server.requests("/slow.html"), 1) << "the run did not get going";
    h.terminate();
    const RunResult r = h.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 143) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "proj.tvp"));
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"), std::set<std::string>{"ann@example.com"});
}

// The title of every record of a link tree file, by key.
std::map<std::string, std::string> stored_titles(const fs::path& path) {
    std::map<std::string, std::string> titles;
    tarnvelox::store::LinkTreeFile file;
    if (!file.open(path.string())) return titles;
    int64_t pos = 0;
    int32_t node = 0;
    while (auto rec = file.read_next(pos, node)) titles[rec->url.value_or("")] = rec->title.value_or("");
    (void)file.close();
    return titles;
}

// A site written as today's sites are, harvested with --modern and without: the modern reader
// reaches every page and address once, the classic one none of its links; --modern is not
// written back to tarnv.ini, where modern=1 reads every run the modern way.
TEST_F(HarvestE2E, ModernReaderHarvestsTodaysMarkupForThatRunOnly) {
    ScriptedServer server;
    const std::string b = server.base();
    Route home;
    home.body =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Caf&eacute; &amp; Co</title>"
        "<base href=\"/docs/\"></head><body><nav><a class=\"reference internal\" "
        "href=\"intro.html#start\">Intro</a> <a href='guide/' class=x>The &lt;guide&gt;</a></nav>"
        "<p>Write to jo<span>&#64;</span>site<span>&#46;</span>example.</p></body></html>";
    server.route("/", home);
    Route intro;
    intro.type = "text/html; charset=ISO-8859-1";
    intro.body = "<title>R\xE9sum\xE9</title><a HREF=\"mailto:a&#37;&#52;&#48;site&#46;example\""
                 ">mail</a> <a title=up href=\"./\">up</a>";
    server.route("/docs/intro.html", intro);
    Route guide;
    guide.body = "<title>Guide &amp; more</title>ann [at] site [dot] example "
                 "<a href=../intro.html>i</a>";
    server.route("/docs/guide/", guide);
    server.route("/docs/", page("<a target=_top href=/>home</a>"));
    server.start();

    Harvester classic(dir_, args({"--timeout", "200", "--scope", "server", b + "/"}));
    const RunResult c = classic.wait(30s);
    ASSERT_TRUE(c.finished) << c.out;
    EXPECT_EQ(c.exit_code, 0) << c.out;
    for (const char* p : {"/docs/intro.html", "/docs/guide/", "/docs/"}) {
        EXPECT_EQ(server.requests(p), 0) << p << ": the classic reader sees none of these links";
    }
    EXPECT_TRUE(read_lines(dir_ / "addresses.txt").empty());

    Harvester modern(dir_, args({"--modern", "--new", "--force", "--timeout", "200", "--scope",
                                 "server", b + "/"}));
    const RunResult r = modern.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"),
              (std::set<std::string>{"jo@site.example", "a@site.example", "ann@site.example"}));
    for (const char* p : {"/docs/intro.html", "/docs/guide/", "/docs/"}) {
        EXPECT_EQ(server.requests(p), 1) << p;
    }
    EXPECT_EQ(server.requests("/"), 2);  // once by each run so far
    const auto titles = stored_titles(lin_);
    EXPECT_EQ(titles.count(b + "/docs/intro.html") ? titles.at(b + "/docs/intro.html") : "",
              "R\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(titles.count(b + "/docs/guide/") ? titles.at(b + "/docs/guide/") : "",
              "Guide & more");
    EXPECT_EQ(titles.count(b + "/") ? titles.at(b + "/") : "", "Caf\xC3\xA9 & Co");
    for (const std::string& line : read_lines(dir_ / "tarnv.ini")) {
        EXPECT_EQ(line.rfind("modern=", 0), std::string::npos) << line;
    }
    for (const fs::path& f : {lin_, mai_}) {
        const TreeCheck check = check_tree(f);
        ASSERT_TRUE(check.opened) << f;
        EXPECT_TRUE(check.consistent) << f << "\n" << check.problems;
    }

    // modern=1 in tarnv.ini reads every run the modern way, and stays.
    std::ofstream(dir_ / "tarnv.ini", std::ios::app) << "modern=1\n";
    Harvester again(dir_, args({"--new", "--force", "--timeout", "200", "--scope", "server",
                                b + "/"}));
    const RunResult r2 = again.wait(30s);
    ASSERT_TRUE(r2.finished) << r2.out;
    EXPECT_EQ(r2.exit_code, 0) << r2.out;
    EXPECT_EQ(read_lines(dir_ / "addresses.txt").size(), 3u) << r2.out;
    EXPECT_TRUE(read_lines(dir_ / "tarnv.ini").count("modern=1"));
}

// Exports are checked before the crawl, and "-" sends one to standard output alone.
TEST_F(HarvestE2E, ExportsAreCheckedFirstAndDashIsStandardOutput) {
    ScriptedServer server;
    server.route("/index.html", page("ann@example.com <a href=\"/b.html\">b</a>"));
    server.route("/b.html", page("bob@example.com"));
    server.start();
    {
        Harvester h(dir_, {"--project", "proj.tvp", "--quiet", "--export",
                           "addresses-txt:no/such/folder/a.txt", server.base() + "/index.html"});
        const RunResult r = h.wait(20s);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exit_code, 1) << r.out;
        EXPECT_NE(r.out.find("cannot write the export file 'no/such/folder/a.txt'"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(server.requests("/index.html"), 0);  // nothing was crawled
    }
    Harvester h(dir_, {"--project", "proj.tvp", "--export", "addresses-txt:-",
                       server.base() + "/index.html"});
    const RunResult r = h.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    // Standard output holds the export and nothing else; the summary went to standard error.
    const std::string out = r.out.substr(0, r.out.find("\n[stderr]\n"));
    EXPECT_EQ(out, "ann@example.com\nbob@example.com\n");
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;
}

}  // namespace

namespace {

// A site of `pages` pages, /p0.html to /p<pages-1>.html, each with the address
// mail<i>@example.com and links to the next two pages (and, when `jump`, one further away).
// Returns every address the site holds.
std::set<std::string> serve_chained_site(ScriptedServer& server, int pages, bool jump,
                                         bool slow) {
    std::set<std::string> addresses;
    for (int i = 0; i < pages; ++i) {
        const std::string address = "mail" + std::to_string(i) + "@example.com";
        addresses.insert(address);
        std::string body = "<p>" + address + "</p>";
        std::vector<int> targets{i + 1, i + 2};
        if (jump) targets.push_back((i * 7 + 3) % pages);
        for (int t : targets) {
            if (t < pages) body += " <a href=\"/p" + std::to_string(t) + ".html\">n</a>";
        }
        Route r = page(body);
        if (slow) r.delay = std::chrono::milliseconds(1 + i % 3);
        server.route("/p" + std::to_string(i) + ".html", r);
    }
    server.start();
    return addresses;
}

// Both files of the project read back whole, every record found by its key.
void expect_sound_trees(const fs::path& lin, const fs::path& mai) {
    for (const fs::path& f : {lin, mai}) {
        const TreeCheck c = check_tree(f);
        ASSERT_TRUE(c.opened) << f;
        EXPECT_TRUE(c.consistent) << f << "\n" << c.problems;
    }
}

// kill -9 at random moments of one crawl, again and again, then a run to the end: the project
// must hold exactly what an uninterrupted run finds. A page marked visited in the links file
// before its addresses reached the addresses file would never be fetched again.
TEST_F(HarvestE2E, KillsAtAnyMomentLoseNothingFound) {
    constexpr int kPages = 300;
    auto path_of = [](int i) { return "/p" + std::to_string(i) + ".html"; };
    ScriptedServer server;
    const std::string b = server.base();
    const std::set<std::string> expected_addresses =
        serve_chained_site(server, kPages, /*jump=*/true, /*slow=*/true);

    const unsigned seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    // Each kill comes after a random number of pages of that run were answered, so that it
    // lands mid-crawl, at any point of a page's handling.
    std::uniform_int_distribution<int> pages_before_kill(1, 30);
    std::uniform_int_distribution<int> extra_us(0, 3000);
    int kills = 0;
    for (int round = 0; round < 12; ++round) {
        const int answered = server.total_answered();
        Harvester h(dir_, {"--project", "proj.tvp", "--quiet", "--timeout", "200", "--scope",
                           "nolimit", "--connections", "4", b + path_of(0)});
        const int target = answered + pages_before_kill(random);
        const auto end = Clock::now() + 10s;
        while (server.total_answered() < target && Clock::now() < end) {
            std::this_thread::sleep_for(200us);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(extra_us(random)));
        h.kill();
        const RunResult r = h.wait(30s);
        ASSERT_TRUE(r.finished) << r.out;
        if (r.exit_code == 128 + SIGKILL) ++kills;
    }
    EXPECT_GE(kills, 6) << "too few runs were killed mid-crawl (seed " << seed << ")";
    // A kill costs at most the pages of that run whose marks were not yet committed.
    EXPECT_LE(server.total_answered(), kPages + 12 * 60)
        << "the killed runs fetched again and again";

    Harvester last(dir_, args({b + path_of(0)}));
    const RunResult r = last.wait(60s);
    server.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;

    std::set<std::string> expected_urls;
    for (int i = 0; i < kPages; ++i) expected_urls.insert(b + path_of(i));
    auto differences = [](const std::set<std::string>& got, const std::set<std::string>& want) {
        std::string text;
        int missing = 0;
        for (const std::string& s : want) {
            if (got.count(s) == 0 && ++missing <= 5) text += " missing " + s;
        }
        for (const std::string& s : got) {
            if (want.count(s) == 0) text += " extra " + s;
        }
        return std::to_string(missing) + " missing:" + text;
    };
    const auto addresses = read_lines(dir_ / "addresses.txt");
    EXPECT_EQ(addresses, expected_addresses)
        << differences(addresses, expected_addresses) << "\nseed " << seed << ", " << kills
        << " kills\n" << r.out;
    const auto urls = read_lines(dir_ / "urls.txt");
    EXPECT_EQ(urls, expected_urls) << differences(urls, expected_urls) << "\nseed " << seed;
    expect_sound_trees(lin_, mai_);
}

}  // namespace

namespace {

// A disk that fills up during the crawl: the run stops at once with one message and a failing
// status, and nothing found is lost for good: the next run ends with the full sets.
TEST_F(HarvestE2E, FullDiskStopsTheRunAndTheNextRunFindsEverything) {
    constexpr int kPages = 200;
    auto path_of = [](int i) { return "/p" + std::to_string(i) + ".html"; };
    ScriptedServer server;
    const std::string b = server.base();
    const std::set<std::string> expected =
        serve_chained_site(server, kPages, /*jump=*/false, /*slow=*/false);

    Harvester full(dir_, args({"--connections", "2", b + path_of(0)}), 6 * 1024);
    const RunResult r = full.wait(30s);
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 1) << r.out;
    const std::string told = "Unable to write to";
    const std::size_t first = r.out.find(told);
    ASSERT_NE(first, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(told, first + 1), std::string::npos) << "told more than once\n" << r.out;
    EXPECT_NE(r.out.find("Stopped: the project files cannot be written: this run:"),
              std::string::npos)
        << r.out;
    EXPECT_LT(server.total_answered(), kPages) << "the run went on after the disk was full";

    Harvester again(dir_, args({}));
    const RunResult r2 = again.wait(60s);
    server.stop();
    ASSERT_TRUE(r2.finished) << r2.out;
    EXPECT_EQ(r2.exit_code, 0) << r2.out;
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"), expected) << r2.out;
    expect_sound_trees(lin_, mai_);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------------------------
// --robots: the site's robots.txt before its pages, its rules, its Crawl-delay and Retry-After.

Route robots_txt(const std::string& rules) {
    Route r;
    r.type = "text/plain";
    r.body = rules;
    return r;
}

Route busy(const std::string& retry_after) {
    Route r = status(503, "Service Unavailable");
    r.headers = "Retry-After: " + retry_after + "\r\n";
    return r;
}

TEST_F(HarvestE2E, RobotsFlagFetchesNothingTheRulesForbidAndIsNotSaved) {
    ScriptedServer other;  // a second site without a robots.txt: everything allowed
    other.route("/free.html", page("free@other.example.com"));
    other.start();
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/robots.txt",
                 robots_txt("User-agent: *\nDisallow: /\n\n"
                            "User-agent: Tarnvelox\nDisallow: /private/\nDisallow: /*.shtml$\n"
                            "Allow: /private/open.html\nDisallow: /wiki/File$\n"));
    // A path is sent up to its first ":": "/wiki/File:X" asks for "/wiki/File".
    server.route("/", page("<a href=\"/a.html\">a</a> <a href=\"/private/x.html\">x</a> "
                           "<a href=\"/private/open.html\">o</a> <a href=\"/news.shtml\">n</a> "
                           "<a href=\"/wiki/File:X\">w</a> "
                           "<a href=\"" + other.base() + "/free.html\">f</a> "
                           "root@site.example.com"));
    server.route("/wiki/File", page("wiki@hidden.example.com"));
    server.route("/a.html", page("<a href=\"/private/y.html\">y</a> alpha@site.example.com"));
    server.route("/private/x.html", page("x@hidden.example.com"));
    server.route("/private/y.html", page("y@hidden.example.com"));
    server.route("/private/open.html", page("open@site.example.com"));
    server.route("/news.shtml", page("news@hidden.example.com"));
    server.start();

    Harvester h(dir_, args({"--timeout", "100", "--scope", "nolimit", "--robots", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Hunt Complete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 0 bad links"), std::string::npos) << r.out;

    const char* forbidden[] = {"/private/x.html", "/private/y.html", "/news.shtml",
                               "/wiki/File:X"};
    for (const char* p : forbidden) EXPECT_EQ(server.requests(p), 0) << p;
    EXPECT_EQ(server.requests("/wiki/File"), 0);
    EXPECT_EQ(server.requests("/robots.txt"), 1);
    EXPECT_EQ(other.requests("/robots.txt"), 1);
    for (const char* p : {"/", "/a.html", "/private/open.html"}) {
        EXPECT_EQ(server.requests(p), 1) << p;
    }
    EXPECT_EQ(other.requests("/free.html"), 1);
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"),
              (std::set<std::string>{"root@site.example.com", "alpha@site.example.com",
                                     "open@site.example.com", "free@other.example.com"}));

    // Forbidden links are stored as found: neither visited nor bad.
    const TreeCheck links = check_tree(lin_);
    ASSERT_TRUE(links.opened);
    EXPECT_TRUE(links.consistent) << links.problems;
    for (const char* p : forbidden) {
        const auto it = links.records.find(b + p);
        ASSERT_NE(it, links.records.end()) << p;
        EXPECT_EQ(it->second.first, 0) << p;
    }
    // The flag was for that run: the settings file does not keep it, and the next run without
    // it fetches what was left.
    for (const std::string& line : read_lines(dir_ / "tarnv.ini")) {
        EXPECT_FALSE(line.starts_with("robots=")) << line;
    }
    Harvester again(dir_, args({"--timeout", "100"}));
    const RunResult r2 = again.wait(30s);
    ASSERT_TRUE(r2.finished) << r2.out;
    for (const char* p : {"/private/x.html", "/private/y.html", "/news.shtml", "/wiki/File"}) {
        EXPECT_EQ(server.requests(p), 1) << p;
    }
    EXPECT_EQ(server.requests("/robots.txt"), 1);
}

TEST_F(HarvestE2E, CrawlDelayKeepsOneConnectionToTheSite) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/robots.txt", robots_txt("User-agent: *\nCrawl-delay: 0.05\n"));
    std::string links;
    for (int i = 0; i < 8; ++i) {
        const std::string p = "/p" + std::to_string(i) + ".html";
        links += "<a href=\"" + p + "\">p</a> ";
        Route r = page("user" + std::to_string(i) + "@site.example.com");
        r.delay = 20ms;  // long enough for the connections to overlap, were they allowed to
        server.route(p, r);
    }
    server.route("/", page(links));
    server.start();

    Harvester h(dir_, args({"--timeout", "50", "--connections", "8", "--robots", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(server.max_concurrent(), 1);
    EXPECT_EQ(read_lines(dir_ / "addresses.txt").size(), 8u) << r.out;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(server.requests("/p" + std::to_string(i) + ".html"), 1);
}

TEST_F(HarvestE2E, RobotsServerErrorMakesThePagesWaitForTheNextAnswer) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route_sequence("/robots.txt", {status(500, "Internal Server Error"),
                                          robots_txt("User-agent: *\nDisallow: /no.html\n")});
    server.route("/", page("<a href=\"/no.html\">n</a> <a href=\"/yes.html\">y</a>"));
    server.route("/yes.html", page("yes@site.example.com"));
    server.route("/no.html", page("no@site.example.com"));
    server.start();

    Harvester h(dir_, args({"--timeout", "20", "--robots", "--verbose", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("] robots.txt unreachable: retried later"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/robots.txt"), 2);
    EXPECT_EQ(server.requests("/"), 1);
    EXPECT_EQ(server.requests("/yes.html"), 1);
    EXPECT_EQ(server.requests("/no.html"), 0);
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"), std::set<std::string>{"yes@site.example.com"});
}

// A site whose robots.txt cannot be read is left for a later run, and a run that fetched
// nothing because of it fails with the reason, however the robots.txt failed.
TEST_F(HarvestE2E, UnreadableRobotsTxtLeavesTheSiteAndFailsTheRun) {
    struct Row {
        const char* name;
        std::optional<Route> robots;  // none: nothing listens
        std::string reason;           // empty: any
    };
    const Row rows[] = {
        {"refused", std::nullopt, "Connection Refused"},
        {"server error", status(500, "Internal Server Error"), "HTTP 500"},
        {"reset", behaviour(Route::Kind::Reset), ""},
        {"hang", behaviour(Route::Kind::NeverAnswer), "no answer in time"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        if (row.robots) server.route("/robots.txt", *row.robots);
        server.route("/", page("never@site.example.com"));
        server.start();
        const std::string b =
            row.robots ? server.base() : "http://127.0.0.1:" + std::to_string(refused_port());
        Harvester h(dir_, args({"--new", "--force", "--timeout", "20", "--robots", b + "/"}));
        const RunResult r = h.wait(30s);
        server.stop();
        ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
        EXPECT_EQ(r.exit_code, 3) << r.out;
        const std::string told = "robots.txt of " + b.substr(7) + " could not be read (" +
                                 row.reason + (row.reason.empty() ? "" : ")");
        EXPECT_NE(r.out.find(told), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("; its links are left for a later run"), std::string::npos) << r.out;
        EXPECT_EQ(server.requests("/"), 0);
        const TreeCheck links = check_tree(lin_);
        ASSERT_TRUE(links.opened);
        const auto it = links.records.find(b + "/");
        ASSERT_NE(it, links.records.end());
        EXPECT_EQ(it->second.first, 0);
    }
}

TEST_F(HarvestE2E, RetryAfterPutsThePageBackInsteadOfFailingIt) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("<a href=\"/busy.html\">b</a>"));
    server.route_sequence("/busy.html", {busy("1"), page("busy@site.example.com")});
    server.start();

    Harvester h(dir_, args({"--timeout", "50", "--robots", "--verbose", b + "/"}));
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << "harvester did not finish in time\n" << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("] Server busy: asked again in 1 s"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/busy.html"), 2);
    EXPECT_EQ(server.requests("/robots.txt"), 1);  // not found: everything allowed
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"), std::set<std::string>{"busy@site.example.com"});
    EXPECT_NE(r.out.find(" 0 bad links"), std::string::npos) << r.out;
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------------------------
// One writer per project, and runs that are refused or stopped change nothing they should not.

std::string file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Waits (bounded) until `done` holds; whether it does.
bool wait_for(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A second harvester on a project in use says so, exits 1 and touches nothing; the first one
// carries on undisturbed.
TEST_F(HarvestE2E, ASecondHarvesterOnAProjectInUseTouchesNothing) {
    ScriptedServer server;
    server.route("/index.html", page("<a href=\"/slow.html\">s</a> ann@example.com"));
    server.route("/slow.html", behaviour(Route::Kind::NeverAnswer));
    server.route("/other.html", page("bob@example.com"));
    server.start();
    Harvester first(dir_, args({"--timeout=200", server.base() + "/index.html"}));
    ASSERT_TRUE(wait_for([&] { return server.requests("/slow.html") >= 1; }));
    const std::string project = file_bytes(dir_ / "proj.tvp");
    const std::string settings = file_bytes(dir_ / "tarnv.ini");

    Harvester second(dir_, {"--project", "proj.tvp", "--refetch", server.base() + "/other.html"},
                     0, "second");
    const RunResult r = second.wait(20s);
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_NE(r.out.find("'proj.tvp' is in use"), std::string::npos) << r.out;
    EXPECT_EQ(server.requests("/other.html"), 0);
    EXPECT_EQ(file_bytes(dir_ / "proj.tvp"), project);
    EXPECT_EQ(file_bytes(dir_ / "tarnv.ini"), settings);
    EXPECT_EQ(file_bytes(lin_).find("other.html"), std::string::npos);

    first.interrupt();
    EXPECT_EQ(first.wait(30s).exit_code, 130);
}

// A run refused because the addresses file is damaged leaves the links file as it was, even
// with --refetch, which would clear every visited mark.
TEST_F(HarvestE2E, ARefusedRunChangesNoFile) {
    ScriptedServer server;
    server.route("/", page("ann@example.com <a href=\"/b.html\">b</a>"));
    server.route("/b.html", page("bob@example.com"));
    server.start();
    Harvester h(dir_, {"--project", "proj.tvp", server.base() + "/"});
    const RunResult r = h.wait(30s);
    ASSERT_TRUE(r.finished) << r.out;
    ASSERT_EQ(r.exit_code, 0) << r.out;
    {
        // A node whose length is negative: nothing after it can be located.
        std::ofstream mai(mai_, std::ios::binary | std::ios::app);
        unsigned char header[tarnvelox::store::kNodeHeaderSize];
        tarnvelox::store::encode_header(header, {-1, -1, -5, 0});
        mai.write(reinterpret_cast<const char*>(header), sizeof header);
    }
    const std::string links = file_bytes(lin_);
    const std::string project = file_bytes(dir_ / "proj.tvp");

    Harvester refetch(dir_, {"--project", "proj.tvp", "--refetch"});
    const RunResult r2 = refetch.wait(30s);
    server.stop();
    ASSERT_TRUE(r2.finished) << r2.out;
    EXPECT_EQ(r2.exit_code, 1) << r2.out;
    EXPECT_NE(r2.out.find("is damaged"), std::string::npos) << r2.out;
    EXPECT_EQ(file_bytes(lin_), links) << "the refused run changed the links file";
    EXPECT_EQ(file_bytes(dir_ / "proj.tvp"), project);
}

// Damage the run meets where a found link must go stops it as a full disk does: one message,
// exit 1, nothing more fetched, and the page whose links could not be stored stays unvisited.
TEST_F(HarvestE2E, DamageMetDuringTheRunStopsItAsAFullDiskDoes) {
    using namespace tarnvelox::store;
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/", page("ann@example.com <a href=\"/a.html\">a</a>"));
    server.route("/a.html", page("bob@example.com"));
    server.start();
    {
        // The root holds the starting URL; its right link is turned to a node that sorts
        // before it, so the slot every later key needs holds a damaged link.
        LinkTreeFile file;
        ASSERT_TRUE(file.open(lin_.string()));
        ItemRecord rec;
        rec.kind = KIND_PAGE;
        rec.status = 0;
        for (const std::string& url : {b + "/", std::string("http://127.0.0.0/x.html")}) {
            rec.url = url;
            ASSERT_GE(file.insert(rec), 0);
        }
        ASSERT_TRUE(file.close());
        std::fstream lin(lin_, std::ios::binary | std::ios::in | std::ios::out);
        unsigned char bytes[kNodeHeaderSize];
        lin.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        NodeHeader root = decode_header(bytes);
        std::swap(root.left, root.right);
        encode_header(bytes, root);
        lin.seekp(0);
        lin.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
    Harvester h(dir_, args({b + "/"}));
    const RunResult r = h.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_EQ(count_of(r.out, "is damaged"), 1u) << r.out;
    EXPECT_NE(r.out.find("Stopped: the project files cannot be written: this run:"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(server.requests("/a.html"), 0);
    const TreeCheck c = check_tree(lin_);
    ASSERT_EQ(c.records.count(b + "/"), 1u);
    EXPECT_EQ(c.records.at(b + "/").first & STATUS_VISITED, 0) << "marked visited";
}

// A first run killed before its end leaves its project file: the next run without a URL
// continues from the starting URL, in its scope, instead of crawling every link stored.
TEST_F(HarvestE2E, AKilledFirstRunLeavesItsStartingUrlAndScope) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/a/index.html", page("<a href=\"p2.html\">p2</a>"));
    server.route("/a/p2.html", behaviour(Route::Kind::NeverAnswer));
    server.route("/b/out.html", page("out@example.com"));
    server.start();
    Harvester first(dir_, {"--project", "proj.tvp", "--timeout=200", b + "/a/index.html"});
    ASSERT_TRUE(wait_for([&] {
        return server.requests("/a/p2.html") >= 1 &&
               file_bytes(lin_).find("/a/p2.html") != std::string::npos;
    }));
    first.kill();
    ASSERT_TRUE(first.wait(10s).finished);
    EXPECT_TRUE(fs::exists(dir_ / "proj.tvp"));

    server.route("/a/p2.html", page("ann@example.com <a href=\"/b/out.html\">o</a>"));
    Harvester next(dir_, {"--project", "proj.tvp"});
    const RunResult r = next.wait(30s);
    server.stop();
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_GE(server.requests("/a/p2.html"), 2);
    EXPECT_EQ(server.requests("/b/out.html"), 0) << "the continued crawl left its scope";
}

}  // namespace

namespace {

// An import without a starting URL fetches nothing: it stores the file's items, saves the
// project and ends. A file that cannot be read is found before any import and exits 1.
TEST_F(HarvestE2E, ImportWithoutAStartingUrlStoresTheFileAndFetchesNothing) {
    ScriptedServer server;
    server.route("/p.html", page("carl@example.com"));
    server.start();
    std::ofstream(dir_ / "in.txt") << "ann@example.com, bob@example.com\n<a href=\""
                                   << server.base() << "/p.html\">p</a> ann@example.com\n";
    const auto addresses_on_disk = [&] {
        std::set<std::string> keys;
        for (const auto& [key, record] : check_tree(mai_).records) keys.insert(key);
        return keys;
    };
    Harvester h(dir_, {"--project", "proj.tvp", "--import", "text:in.txt", "--export",
                       "addresses-txt:out.txt"});
    RunResult r = h.wait(20s);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("2 addresses and 1 link imported, 1 refused as duplicates"),
              std::string::npos)
        << r.out;
    const std::set<std::string> both{"mailto:ann@example.com", "mailto:bob@example.com"};
    EXPECT_EQ(addresses_on_disk(), both);
    EXPECT_EQ(read_lines(dir_ / "out.txt").size(), 2u);

    Harvester refused(dir_, {"--project", "proj.tvp", "--import", "text:in.txt", "--merge",
                             "delete-only", "--import", "bookmarks:missing.htm"});
    r = refused.wait(20s);
    server.stop();
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_NE(r.out.find("cannot read the import file 'missing.htm'"), std::string::npos)
        << r.out;
    EXPECT_EQ(addresses_on_disk(), both);
    EXPECT_EQ(server.requests("/p.html"), 0);

    // Starting afresh deletes nothing when the imports cannot be done: a file that cannot be
    // read, or the project's own files, which --new would delete before reading them.
    for (const char* import : {"text:missing.txt", "project:proj.tvp"}) {
        SCOPED_TRACE(import);
        Harvester fresh(dir_, {"--project", "proj.tvp", "--new", "--force", "--import", import});
        r = fresh.wait(20s);
        ASSERT_TRUE(r.finished);
        EXPECT_NE(r.exit_code, 0) << r.out;
        EXPECT_TRUE(std::filesystem::exists(dir_ / "proj.tvp"));
        EXPECT_EQ(addresses_on_disk(), both);
    }
}

}  // namespace

namespace {

// A Web Search and a Name Search against fake engines of the test's own engines.dat. The
// engine and the sites it finds share the loopback host, on other paths: a result page is known
// by the engine's request path, so the pages it leads to are read for addresses, not followed.
TEST_F(HarvestE2E, WebAndNameSearchAskTheEnginesOfTheFolder) {
    ScriptedServer server;
    const std::string b = server.base();
    server.route("/find?q=jo%40x.org", page("<a href=\"/site/one.html\">one</a> "
                                            "<a href=\"" + b + "/site/two.html\">two</a> "
                                            "<a href=\"/find/about.html\">about</a>"));
    server.route("/site/one.html", page("jo@x.org and one@site.example <a href=\"/site/deep.html\">"
                                        "deeper</a>"));
    server.route("/site/two.html", page("two@site.example"));
    server.route("/people/Smith?first=Jo", page("jo.smith@people.example "
                                                "<a href=\"/site/deep.html\">deeper</a>"));
    server.start();
    std::ofstream(dir_ / "engines.dat")
        << "NAME=Finder\nREQ=" << b << "/find?q=$QUERY\nID=1\nTYP=S\n"
        << "NAME=Other\nREQ=" << b << "/other?q=$QUERY\nID=2\nTYP=S\n"
        << "NAME=People\nREQ=" << b << "/people/$SURNAME?first=$FIRST\nID=3\nTYP=D\n";

    Harvester web(dir_, args({"--timeout", "200", "--web-search", "jo@x.org", "--engines", "1"}));
    RunResult r = web.wait(30s);
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(server.requests("/other?q=jo%40x.org"), 0);  // not among --engines
    EXPECT_EQ(server.requests("/find/about.html"), 0);     // the engine's own page
    EXPECT_EQ(server.requests("/site/deep.html"), 0);      // a result's links are not followed
    EXPECT_EQ(read_lines(dir_ / "addresses.txt"),
              (std::set<std::string>{"jo@x.org", "one@site.example", "two@site.example"}));

    // Asked again, the search has nothing new to fetch.
    Harvester again(dir_, args({"--timeout", "200", "--web-search", "jo@x.org", "--engines", "1"}),
                    0, "again");
    r = again.wait(30s);
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 3) << r.out;
    EXPECT_EQ(server.requests("/find?q=jo%40x.org"), 1);

    Harvester names(dir_, args({"--timeout", "200", "--name-search", "Jo Smith"}), 0, "names");
    r = names.wait(30s);
    ASSERT_TRUE(r.finished) << r.out;
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(server.requests("/people/Smith?first=Jo"), 1);
    EXPECT_EQ(server.requests("/site/deep.html"), 0);  // a name search keeps no links
    EXPECT_TRUE(read_lines(dir_ / "addresses.txt").count("jo.smith@people.example"));
    server.stop();
}

}  // namespace
