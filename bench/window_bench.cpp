// The desktop program under load, offscreen, side by side with the headless run of the same
// core in the same process:
//   - a whole harvest of a generated site (the crawl benchmark's shape: 5,000 pages of about
//     10 KB, two addresses each) served from memory by a loopback server of this program's own;
//     pages per second for the headless context and for the window, the window's longest gap
//     between two turns of its event loop, and how often it painted the status line;
//   - opening a project of 1,000,000 links, with the display maximum at its default (2,500)
//     and at 1,000,000 (every link in memory and in the view);
//   - scrolling a view of 100,000 rows against one of 1,000 rows;
//   - with TARNVELOX_BENCH_URL set, a site served from outside (bench/window_bench.sh serves
//     the crawl benchmark's 50,000 pages with nginx): one warm-up crawl, then rounds that take
//     the headless context and the window in turn, with the medians of both side by side.
// Run: build/bench/window_bench (QT_QPA_PLATFORM=offscreen unless set).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/context.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_network.h"
#include "platform/shell.h"
#include "store/store.h"
#include "ui/item_models.h"
#include "ui/main_window.h"
#include "ui/pages/harvest_page.h"

namespace {

namespace fs = std::filesystem;
using namespace tarnvelox;

constexpr int kPages = 5000;
constexpr int kServerThreads = 4;

// The crawl benchmark's site: page p links home, to its eight children, to twelve pages spread
// over the site, and names two addresses in about 10 KB of text.
std::vector<std::string> make_site(int pages) {
    const std::string filler =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
        "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
        "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. ";
    std::vector<std::string> site;
    for (int p = 0; p < pages; ++p) {
        std::string f = "<html><head><title>Page " + std::to_string(p) +
                        " of the benchmark site</title></head><body>\n<h1>Page " +
                        std::to_string(p) + "</h1>\n<p><a href=\"p0.html\">Home</a></p>\n";
        for (int c = 1; c <= 8; ++c) {
            const int child = p * 8 + c;
            if (child < pages) {
                f += "<p><a href=\"p" + std::to_string(child) + ".html\">Child page " +
                     std::to_string(child) + "</a></p>\n";
            }
        }
        for (int k = 1; k <= 12; ++k) {
            const long other = (static_cast<long>(p) * 7919 + k * 104729L) % pages;
            f += "<li><a href=\"/p" + std::to_string(other) + ".html\">See also " +
                 std::to_string(other) + "</a></li>\n";
        }
        f += "<p>Write to <a href=\"mailto:staff" + std::to_string(p) + "@bench.example\">staff" +
             std::to_string(p) + "@bench.example</a> or sales" + std::to_string(p) +
             "@bench.example.</p>\n";
        for (std::size_t size = 1200; size < 10000; size += filler.size() + 8) {
            f += "<p>" + filler + "</p>\n";
        }
        f += "</body></html>\n";
        site.push_back(std::move(f));
    }
    return site;
}

// Serves the site from memory on 127.0.0.1: one acceptor, a few workers, one request per
// connection, closed after the answer.
class SiteServer {
  public:
    explicit SiteServer(const std::vector<std::string>& pages) : pages_(pages) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 256) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::abort();
        }
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
        for (int i = 0; i < kServerThreads; ++i) workers_.emplace_back([this] { work(); });
    }
    ~SiteServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        cv_.notify_all();
        acceptor_.join();
        for (auto& t : workers_) t.join();
    }
    std::string url(int page) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/p" + std::to_string(page) + ".html";
    }

  private:
    void accept_loop() {
        while (!stop_) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::lock_guard<std::mutex> g(mu_);
            queue_.push_back(c);
            cv_.notify_one();
        }
    }
    void work() {
        for (;;) {
            int c = -1;
            {
                std::unique_lock<std::mutex> g(mu_);
                cv_.wait(g, [this] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                c = queue_.front();
                queue_.pop_front();
            }
            answer(c);
            ::close(c);
        }
    }
    void answer(int c) {
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            request.append(buf, static_cast<std::size_t>(n));
        }
        const std::size_t p = request.find("/p");
        const int page = p == std::string::npos ? -1 : std::atoi(request.c_str() + p + 2);
        std::string out;
        if (page >= 0 && page < static_cast<int>(pages_.size())) {
            const std::string& body = pages_[static_cast<std::size_t>(page)];
            out = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body;
        } else {
            out = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nnone";
        }
        for (std::size_t sent = 0; sent < out.size();) {
            const ssize_t n = ::send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }

    const std::vector<std::string>& pages_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<int> queue_;
};

const std::vector<std::string>& site() {
    static const std::vector<std::string> pages = make_site(kPages);
    return pages;
}

SiteServer& server() {
    static SiteServer s(site());
    return s;
}

// A fresh working folder per run, entered for the run and removed after it.
class WorkFolder {
  public:
    WorkFolder() : old_(fs::current_path()) {
        char pattern[] = "/tmp/tarnv-wbench-XXXXXX";
        path_ = ::mkdtemp(pattern);
        fs::current_path(path_);
    }
    ~WorkFolder() {
        fs::current_path(old_);
        fs::remove_all(path_);
    }

  private:
    fs::path old_;
    std::string path_;
};

void run_until_idle(app::HarvestRun& run) {
    while (run.running()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// CPU time of the calling thread, in microseconds: it stands still while the thread waits or
// another program has the processor.
qint64 thread_cpu_us() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

// A 1 ms heartbeat: the longest time between two of its beats is the longest stretch the event
// loop was kept from its turn. On a shared machine that includes the time other programs had the
// processor; the event loop's own share is the CPU time its thread used between two beats.
class Heartbeat {
  public:
    Heartbeat() {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            if (now - last_ > gap_) {
                gap_ = now - last_;
                gap_at_ = last_;
            }
            last_ = now;
            const qint64 cpu = thread_cpu_us();
            cpu_gap_us_ = std::max(cpu_gap_us_, cpu - last_cpu_us_);
            last_cpu_us_ = cpu;
        });
        clock_.start();
        last_cpu_us_ = thread_cpu_us();
        timer_.start();
    }
    [[nodiscard]] qint64 longest_gap_ms() const { return gap_; }
    // When the longest gap began, in ms from the start.
    [[nodiscard]] qint64 longest_gap_at_ms() const { return gap_at_; }
    // The most CPU time the event loop's thread spent between two beats.
    [[nodiscard]] double longest_busy_ms() const { return cpu_gap_us_ / 1000.0; }

  private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    qint64 gap_ = 0;
    qint64 gap_at_ = 0;
    qint64 last_cpu_us_ = 0;
    qint64 cpu_gap_us_ = 0;
};

// CPU time the process has used so far: unlike elapsed time, hardly changed by other programs
// that share the machine.
double cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One whole harvest from `url` with scope Server: the pages it visited, how long it took and
// the longest event-loop gap.
struct HarvestFigures {
    int32_t pages = 0;
    double seconds = 0;
    double cpu_seconds = 0;  // the process's, every thread (the accessibility bus has its own)
    qint64 longest_gap_ms = 0;
    qint64 longest_gap_at_ms = 0;
    double longest_busy_ms = 0;  // the event loop's thread's own CPU time in its longest stretch
    double status_paints_per_s = 0;
    double view_paints_per_s = 0;  // both list views'
    double status_bar_paints_per_s = 0;
    [[nodiscard]] double pages_per_s() const { return seconds > 0 ? pages / seconds : 0; }
};

HarvestFigures harvest_headless(const std::string& url) {
    WorkFolder folder;
    platform::NullShell shell;
    app::Context ctx(shell);
    ctx.settings.packcount = 20;
    store::set_project_path(ctx.store, ctx.project_path());
    platform::qt::QtEventLoop loop(ctx.events());
    platform::qt::QtNetwork network(ctx.events());
    app::NullRunWindow window;
    app::HarvestRun& run = ctx.attach(loop, network, window);
    ctx.search.starting_url = url;
    ctx.search.crawl_scope = harvest::kScopeServer;
    QElapsedTimer clock;
    clock.start();
    const double cpu_before = cpu_seconds();
    Heartbeat heartbeat;
    if (run.start_harvest(harvest::kHarvest) != 1) std::abort();
    run_until_idle(run);
    HarvestFigures f;
    f.seconds = clock.elapsed() / 1000.0;
    f.cpu_seconds = cpu_seconds() - cpu_before;
    f.pages = ctx.run.visited_links;
    f.longest_gap_ms = heartbeat.longest_gap_ms();
    f.longest_gap_at_ms = heartbeat.longest_gap_at_ms();
    f.longest_busy_ms = heartbeat.longest_busy_ms();
    return f;
}

class NoDesktop final : public platform::Desktop {
  public:
    void message_box(std::string_view, std::string_view, platform::MessageIcon) override {}
    bool confirm(std::string_view, std::string_view) override { return false; }
    std::optional<platform::FileDialogAnswer> file_dialog(
        const platform::FileDialogRequest&) override {
        return {};
    }
    bool set_clipboard_text(std::string_view) override { return true; }
    bool clipboard_has_text() override { return false; }
    void busy_cursor(bool) override {}
    bool open_url(std::string_view) override { return true; }
    bool start_program(std::string_view, const std::vector<std::string>&) override { return true; }
};

// Counts the paints of one widget.
class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

HarvestFigures harvest_window(const std::string& url) {
    WorkFolder folder;
    NoDesktop desktop;
    ui::MainWindow window(desktop, "tarnv.ini");
    window.start_up();
    window.context().settings.packcount = 20;
    window.show();
    window.dispatch(ui::cmd::kLoadProject);
    window.tabs()->setCurrentIndex(ui::kHarvestTab);
    window.harvest_page()->url_field()->setText(QString::fromStdString(url));
    window.harvest_page()->scope_button(harvest::kScopeServer)->setChecked(true);
    // The window's first layout and paint belong to opening it, not to the harvest.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    PaintCounter counter;
    window.status_text()->installEventFilter(&counter);
    PaintCounter views;
    window.links_view()->viewport()->installEventFilter(&views);
    window.addresses_view()->viewport()->installEventFilter(&views);
    PaintCounter bar;
    window.statusBar()->installEventFilter(&bar);
    QElapsedTimer clock;
    clock.start();
    const double cpu_before = cpu_seconds();
    Heartbeat heartbeat;
    window.start_button()->click();
    run_until_idle(*window.context().harvest_run());
    HarvestFigures f;
    f.seconds = clock.elapsed() / 1000.0;
    f.cpu_seconds = cpu_seconds() - cpu_before;
    f.pages = window.context().run.visited_links;
    f.longest_gap_ms = heartbeat.longest_gap_ms();
    f.longest_gap_at_ms = heartbeat.longest_gap_at_ms();
    f.longest_busy_ms = heartbeat.longest_busy_ms();
    if (f.seconds > 0) {
        f.status_paints_per_s = counter.paints / f.seconds;
        f.view_paints_per_s = views.paints / f.seconds;
        f.status_bar_paints_per_s = bar.paints / f.seconds;
    }
    window.close();
    return f;
}

void BM_HeadlessHarvest(benchmark::State& state) {
    const std::string url = server().url(0);
    int32_t visited = 0;
    for (auto _ : state) visited = harvest_headless(url).pages;
    state.counters["pages"] = visited;
    state.counters["pages_per_s"] = benchmark::Counter(
        static_cast<double>(visited) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HeadlessHarvest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WindowHarvest(benchmark::State& state) {
    const std::string url = server().url(0);
    HarvestFigures f;
    qint64 longest_gap_ms = 0;
    for (auto _ : state) {
        f = harvest_window(url);
        longest_gap_ms = std::max(longest_gap_ms, f.longest_gap_ms);
    }
    state.counters["pages"] = f.pages;
    state.counters["pages_per_s"] = benchmark::Counter(
        static_cast<double>(f.pages) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["longest_gap_ms"] = static_cast<double>(longest_gap_ms);
    state.counters["status_paints_per_s"] = f.status_paints_per_s;
}
BENCHMARK(BM_WindowHarvest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The served site: a warm-up crawl (a cold page cache halves the first crawl's speed), then
// rounds of headless and window in turn, so that load from outside falls on both alike. Rounds:
// TARNVELOX_BENCH_ROUNDS (3 unless set); TARNVELOX_BENCH_WINDOW_ONLY=1 runs only the window's
// crawls (for a profiler). Every crawl is printed to standard error.
void BM_ServedSiteWindowVsHeadless(benchmark::State& state) {
    const char* url_env = std::getenv("TARNVELOX_BENCH_URL");
    if (url_env == nullptr || *url_env == '\0') {
        state.SkipWithError("TARNVELOX_BENCH_URL is not set (bench/window_bench.sh sets it)");
        for (auto _ : state) {
        }
        return;
    }
    const std::string url = url_env;
    const char* rounds_env = std::getenv("TARNVELOX_BENCH_ROUNDS");
    const int rounds = std::max(1, rounds_env != nullptr ? std::atoi(rounds_env) : 3);
    const bool window_only = qEnvironmentVariableIntValue("TARNVELOX_BENCH_WINDOW_ONLY") == 1;
    std::vector<double> headless_pps, window_pps, ratio, cpu_ratio, headless_gap, window_gap;
    std::vector<double> headless_busy, window_busy;
    int32_t pages = 0;
    auto show = [](const char* what, const HarvestFigures& f) {
        std::fprintf(stderr,
                     "%s %.0f pages/s (%d pages, CPU %.1f s, longest gap %lld ms at %.1f s, "
                     "longest busy stretch %.1f ms; paints a second: views %.0f, status bar "
                     "%.0f)\n",
                     what, f.pages_per_s(), f.pages, f.cpu_seconds,
                     static_cast<long long>(f.longest_gap_ms), f.longest_gap_at_ms / 1000.0,
                     f.longest_busy_ms, f.view_paints_per_s, f.status_bar_paints_per_s);
    };
    for (auto _ : state) {
        if (!window_only) show("warm-up: headless", harvest_headless(url));
        for (int r = 1; r <= rounds; ++r) {
            std::fprintf(stderr, "round %d\n", r);
            HarvestFigures h;
            if (!window_only) {
                h = harvest_headless(url);
                show("  headless", h);
            }
            const HarvestFigures w = harvest_window(url);
            show("  window  ", w);
            pages = w.pages;
            window_pps.push_back(w.pages_per_s());
            window_gap.push_back(static_cast<double>(w.longest_gap_ms));
            window_busy.push_back(w.longest_busy_ms);
            if (window_only) continue;
            headless_pps.push_back(h.pages_per_s());
            headless_gap.push_back(static_cast<double>(h.longest_gap_ms));
            headless_busy.push_back(h.longest_busy_ms);
            ratio.push_back(h.pages_per_s() > 0 ? w.pages_per_s() / h.pages_per_s() : 0);
            cpu_ratio.push_back(w.cpu_seconds > 0 ? h.cpu_seconds / w.cpu_seconds : 0);
            std::fprintf(stderr, "  window/headless: %.0f%% of the pages per second, %.0f%% of "
                         "the pages per CPU second\n", 100 * ratio.back(), 100 * cpu_ratio.back());
        }
    }
    state.counters["pages"] = pages;
    state.counters["window_pages_per_s"] = median(window_pps);
    state.counters["window_gap_ms"] = median(window_gap);
    state.counters["window_gap_max_ms"] = *std::max_element(window_gap.begin(), window_gap.end());
    state.counters["window_busy_ms"] = median(window_busy);
    if (!window_only) {
        state.counters["headless_pages_per_s"] = median(headless_pps);
        state.counters["headless_gap_ms"] = median(headless_gap);
        state.counters["headless_busy_ms"] = median(headless_busy);
        state.counters["window_pct"] = 100 * median(ratio);
        state.counters["window_cpu_pct"] = 100 * median(cpu_ratio);
    }
    // 1 when an assistive-technology bridge was listening (a screen reader's view of the run).
    state.counters["accessibility"] = QAccessible::isActive() ? 1 : 0;
}
BENCHMARK(BM_ServedSiteWindowVsHeadless)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

// A project of `links` links (and no addresses) in the current folder.
void write_project(int links) {
    store::Store st;
    store::set_project_path(st, "default.tvp");
    if (!store::open_store(st)) std::abort();
    store::ItemRecord rec;
    rec.kind = store::KIND_PAGE;
    rec.title = "A page of the large project";
    rec.source = "http://large.example/";
    for (int i = 0; i < links; ++i) {
        rec.url = "http://large.example/d" + std::to_string(i % 97) + "/page" + std::to_string(i) +
                  ".html";
        if (store::tree_insert(st, store::TreeFile::Links, rec) < 0) std::abort();
    }
    store::close_store(st);
    std::ofstream("default.tvp") << "OWNER=Tarnvelox 100\nSTART=2\n";
}

// Opening the project: from the load command to a window that answers (the views filled).
void BM_OpenMillionLinkProject(benchmark::State& state) {
    const int maxlist = static_cast<int>(state.range(0));
    WorkFolder folder;
    write_project(1'000'000);
    std::ofstream("tarnv.ini") << "maxlist=" << maxlist << "\n";
    int rows = 0;
    for (auto _ : state) {
        NoDesktop desktop;
        ui::MainWindow window(desktop, "tarnv.ini");
        window.start_up();
        window.show();
        window.dispatch(ui::cmd::kLoadProject);
        QApplication::processEvents();
        rows = window.links_model()->rowCount();
        state.PauseTiming();
        window.close();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_OpenMillionLinkProject)
    ->Arg(2500)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// Scrolling: one page down and a repaint of the view, in a view of N rows.
void BM_ScrollView(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    store::ItemList list;
    for (int i = 0; i < rows; ++i) {
        store::RecordPtr rec = store::clear_record();
        rec->url = "http://scroll.example/page" + std::to_string(i) + ".html";
        rec->title = "Row " + std::to_string(i);
        rec->source = "http://scroll.example/";
        rec->kind = store::KIND_PAGE;
        list.append(std::move(rec));
    }
    harvest::SearchTexts search;
    ui::ItemListModel model(list, ui::ItemListModel::Kind::Links, search);
    for (int i = 0; i < rows; ++i) model.row_added();
    model.flush();
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.resize(640, 400);
    view.show();
    QApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    int at = 0;
    for (auto _ : state) {
        at = (at + bar->pageStep()) % std::max(1, bar->maximum());
        bar->setValue(at);
        view.viewport()->repaint();
    }
}
BENCHMARK(BM_ScrollView)->Arg(1000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
