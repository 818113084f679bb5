#include "net/fetch_engine.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "fakes/scripted_network.h"
#include "net/content_decoder.h"
#include "harvest/harvest_fixture.h"

namespace tarnvelox::net {
namespace {

using store::ItemRecord;
using store::TreeFile;
using tarnvelox::testing::ScriptedNetwork;

// What run control does for the engine: the common stop, counted.
class FakeRun : public RunHooks {
public:
    FakeRun(NetEnv& env, ScriptedNetwork& loop) : env_(env), loop_(loop) {}
    void stop_all() override {
        ++stops;
        env_.harvest.run.harvest_running = 0;
        env_.harvest.run.engine_mode = harvest::kModeHarvest;
        loop_.kill_timer(platform::kHarvestTimer);
        for (int i = 0; i < kMaxSlots; ++i) {
            Slot& s = env_.slots.slots[static_cast<std::size_t>(i)];
            if (s.item.item == nullptr) continue;
            close_slot(env_, i);
            if (env_.harvest.run.stop_requested != 0) s.item.item->status &= ~store::STATUS_VISITED;
        }
    }
    void open_single_page() override { ++pages_opened; }
    int stops = 0;
    int pages_opened = 0;

private:
    NetEnv& env_;
    ScriptedNetwork& loop_;
};

// Routes events to the engine as run control does.
class EngineSink : public platform::EventSink {
public:
    explicit EngineSink(FetchEngine*& engine) : engine_(engine) {}
    void on_timer(int id) override {
        if (id == platform::kHarvestTimer) engine_->on_tick();
    }
    void on_command(int id) override { EXPECT_TRUE(engine_->on_command(id)); }
    void on_connect_done(int socket, int error) override { engine_->on_connect_done(socket, error); }
    void on_data_ready(int socket, int error) override { engine_->on_data_ready(socket, error); }
    void on_lookup_done(int id, int error, std::string_view address) override {
        engine_->on_lookup_done(id, error, address);
    }

private:
    FetchEngine*& engine_;
};

const std::string kPage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>Contact</title></head><body>"
    "<a href=\"mailto:someone@mail.example\">write</a></body></html>";

class RecordingVendor : public VendorHandler {
public:
    void download_started(int32_t expected) override { started.push_back(expected); }
    void download_progress(int32_t written, int32_t) override { last_written = written; }
    void download_finished(std::string_view name) override { finished.emplace_back(name); }
    std::vector<int32_t> started;
    int32_t last_written = -1;
    std::vector<std::string> finished;
};

// Every test runs twice: servers answer in one read, and one byte per read.
class FetchEngineTest : public harvest::testing::HarvestFixture,
                        public ::testing::WithParamInterface<std::size_t> {
protected:
    FetchEngineTest() {
        net_.folder = dir_.path();
        net_.vendor = &vendor_;
        EXPECT_TRUE(store::open_store(store_));
        network_.read_limit = GetParam();
    }
    ~FetchEngineTest() override { delete engine_; }

    void add(const std::string& url, uint32_t kind = store::KIND_PAGE) {
        ItemRecord rec;
        rec.url = url;
        rec.title = "T";
        rec.kind = kind;
        EXPECT_GE(store::tree_insert(store_, TreeFile::Links, rec), 0);
    }
    void make(int32_t packcount = 10, RequestOptions options = {}, std::string person = "") {
        delete engine_;
        engine_ = new FetchEngine(net_, frontier_, network_, network_, std::move(options),
                                  std::move(person), packcount, run_hooks_);
    }
    // Starts a harvest as run control does: timer created, first tick delivered at once.
    void start(int32_t packcount = 10, RequestOptions options = {}) {
        if (engine_ == nullptr) make(packcount, std::move(options));
        run_.harvest_running = 1;
        network_.start_timer(platform::kHarvestTimer, 4000);
        tick();
    }
    void tick() { network_.fire(sink_, platform::kHarvestTimer, false, watch_); }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    Slot& slot(int i) { return slots_.slots[static_cast<std::size_t>(i)]; }
    // Status lines are shown after one blank; these compare the message after it.
    bool saw(const std::string& text, int at = -2) const {
        return std::any_of(shell_.statuses.begin(), shell_.statuses.end(), [&](const auto& s) {
            return s.second == " " + text && (at == -2 || s.first == at);
        });
    }
    std::string last_status(int at) const {
        for (auto it = shell_.statuses.rbegin(); it != shell_.statuses.rend(); ++it) {
            if (it->first == at) return it->second.substr(it->second.empty() ? 0 : 1);
        }
        return {};
    }
    std::string request_for(const std::string& host, const std::string& path) const {
        return "GET " + path +
               " HTTP/1.0\r\nConnection: close\r\nUser-Agent: Tarnvelox 1.00\r\n"
               "Host: " + host + "\r\nAccept: */*\r\nAccept-Charset: iso-8859-1,*,utf-8\r\n\r\n";
    }
    ItemRecord* listed(const std::string& url) {
        for (ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
            if (r->url && *r->url == url) return r;
        }
        return nullptr;
    }

    SlotTable& slots_ = ctx_.slots;
    RecordingVendor vendor_;
    Download& download_ = ctx_.download;
    NetEnv& net_ = ctx_.net;
    harvest::FrontierState& frontier_ = ctx_.frontier;
    ScriptedNetwork network_;
    FakeRun run_hooks_{net_, network_};
    FetchEngine* engine_ = nullptr;
    EngineSink sink_{engine_};
    // Checked after every event: buffers grow in whole steps and keep the margin.
    std::function<void()> watch_ = [this] {
        for (const Slot& s : slots_.slots) {
            if (s.reader != nullptr) continue;  // the modern way's reader holds the page
            ASSERT_EQ(s.response.size() % kBufferStep, 0u);
            if (s.state == SlotState::Receiving) {
                ASSERT_LE(s.received, static_cast<int32_t>(s.response.size()));
            }
        }
    };
};

INSTANTIATE_TEST_SUITE_P(Reads, FetchEngineTest, ::testing::Values(std::size_t{0}, std::size_t{1}),
                         [](const auto& info) { return info.param == 0 ? "Whole" : "OneByte"; });

// ---- a whole fetch ------------------------------------------------------------------------

TEST_P(FetchEngineTest, DottedHostIsFetchedWithoutLookupAndTheRunCompletes) {
    add("http://127.0.0.1/dir/page.html");
    network_.serve("127.0.0.1", {kPage});
    start();

    EXPECT_TRUE(network_.lookups.empty());
    ASSERT_EQ(network_.sockets.size(), 1u);
    const auto& sock = network_.sockets[0];
    EXPECT_EQ(sock.port, 80);
    EXPECT_FALSE(sock.tls);
    EXPECT_EQ(sock.sent, request_for("127.0.0.1", "/dir/page.html"));
    EXPECT_TRUE(sock.closed);
    EXPECT_TRUE(saw("Contacting 127.0.0.1", 0));
    EXPECT_TRUE(saw("Requesting Object Header", 0));
    EXPECT_TRUE(saw("Connecting to http://127.0.0.1/dir/page.html", 0));
    EXPECT_TRUE(saw("Transferred " + std::to_string(kPage.size()) + " Bytes", 0));
    EXPECT_EQ(saw("Reading: 1", 0), GetParam() == 1);
    EXPECT_EQ(run_.total_bytes, static_cast<int64_t>(kPage.size()));

    ItemRecord* item = listed("http://127.0.0.1/dir/page.html");
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->status & store::STATUS_VISITED, 0);
    EXPECT_EQ(item->status & store::STATUS_BAD, 0);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:someone@mail.example"});
    // Completion came from the posted drive, without waiting for another tick.
    EXPECT_EQ(run_hooks_.stops, 1);
    EXPECT_EQ(last_status(-1), "Hunt Complete");
    EXPECT_EQ(run_.harvest_running, 0);
}

TEST_P(FetchEngineTest, NamedHostIsLookedUpWithTheSlotsEventIdAndHttpsUsesTls) {
    add("https://www.site.example/a");
    network_.resolve("www.site.example", "10.0.0.7");
    network_.serve("10.0.0.7", {kPage});
    start();

    ASSERT_EQ(network_.lookups.size(), 1u);
    EXPECT_EQ(network_.lookups[0], (std::pair<int, std::string>{1332, "www.site.example"}));
    EXPECT_TRUE(saw("Contacting www.site.example", 0));
    ASSERT_EQ(network_.sockets.size(), 1u);
    EXPECT_EQ(network_.sockets[0].address, "10.0.0.7");
    EXPECT_EQ(network_.sockets[0].port, 443);
    EXPECT_TRUE(network_.sockets[0].tls);
    EXPECT_EQ(network_.sockets[0].host_name, "www.site.example");
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(FetchEngineTest, ProxyIsContactedInsteadOfTheSite) {
    add("http://www.site.example/a");
    network_.serve("10.1.1.1", {kPage});
    RequestOptions options;
    options.proxy = "10.1.1.1";
    options.port = 3128;
    start(10, options);
    EXPECT_TRUE(saw("Contacting Proxy -> 10.1.1.1", 0));
    ASSERT_EQ(network_.sockets.size(), 1u);
    EXPECT_EQ(network_.sockets[0].port, 3128);
    EXPECT_EQ(network_.sockets[0].sent.rfind("GET http://www.site.example/a HTTP/1.0\r\n", 0), 0u);
}

TEST_P(FetchEngineTest, LargePageIsCutJustPastTheLimitAndBuffersGrowInSteps) {
    add("http://127.0.0.1/big");
    std::string big = "HTTP/1.0 200 OK\r\n\r\n";
    big.resize(kMaxPageBytes + 50000, 'x');
    network_.serve("127.0.0.1", {big});
    int32_t most = 0;
    std::size_t size_then = 0;
    watch_ = [&] {
        if (slot(0).received > most) {
            most = slot(0).received;
            size_then = slot(0).response.size();
        }
    };
    start();
    EXPECT_GT(most, kMaxPageBytes);
    EXPECT_LE(most, kMaxPageRead);
    EXPECT_EQ(size_then % kBufferStep, 0u);
    EXPECT_GE(size_then, static_cast<std::size_t>(most));
    EXPECT_EQ(run_.total_bytes, most);
    EXPECT_TRUE(saw("Transferred " + std::to_string(most) + " Bytes", 0));
}

TEST_P(FetchEngineTest, AnAddressTheLimitCutsIsNotStored) {
    add("http://127.0.0.1/big");
    // Wherever past the limit the read stops, it stops inside the second address.
    std::string big = "HTTP/1.0 200 OK\r\n\r\njo@x.example ";
    big.resize(kMaxPageBytes - 4, ' ');
    big += "q@a." + std::string(kMaxPageRead - kMaxPageBytes + 2, 'b') + ".org ";
    network_.serve("127.0.0.1", {big});
    start();
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:jo@x.example"});
}

TEST_P(FetchEngineTest, ReadsTakeAtMostTheChunkSize) {
    add("http://127.0.0.1/p");
    network_.serve("127.0.0.1", {std::string("HTTP/1.0 200 OK\r\n\r\n") + std::string(1000, 'y')});
    int32_t previous = 0;
    watch_ = [&] {
        ASSERT_LE(slot(0).received - previous, kReadChunk);
        previous = slot(0).received;
    };
    start();
    EXPECT_EQ(run_hooks_.stops, 1);
}

// ---- failures -------------------------------------------------------------------------------

TEST_P(FetchEngineTest, FailedLookupFailsTheItemAsHostNotFound) {
    add("http://nowhere.example/");
    start();
    EXPECT_EQ(last_status(0), "Host Not Found");
    ItemRecord* item = listed("http://nowhere.example/");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status & (store::STATUS_HOST_NOT_FOUND | store::STATUS_BAD),
              store::STATUS_HOST_NOT_FOUND | store::STATUS_BAD);
    EXPECT_EQ(run_.bad_links, 1);
    tick();
    EXPECT_EQ(run_hooks_.stops, 1);
}

// Many links to one dead host cost one look-up; a minute later it is asked again.
TEST_P(FetchEngineTest, DeadHostIsNotLookedUpAgainForAMinute) {
    make(1);
    engine_->configure({}, "", 1, 1000);
    for (int i = 0; i < 6; ++i) add("http://gone.example/" + std::to_string(i));
    start(1);
    EXPECT_EQ(network_.lookups.size(), 1u);
    EXPECT_EQ(run_.bad_links, 6);
    EXPECT_EQ(run_hooks_.stops, 1);

    // The harvest ticks count the minute, also while the run idles.
    const auto resume = [&](const std::string& url) {
        add(url);
        run_hooks_.stops = 0;
        run_.harvest_running = 1;
        network_.start_timer(platform::kHarvestTimer, 1000);
        tick();
    };
    resume("http://gone.example/late");
    EXPECT_EQ(network_.lookups.size(), 1u);
    EXPECT_EQ(run_.bad_links, 7);
    for (int i = 2; i < kDeadHostMs / 1000; ++i) {
        network_.fire(sink_, platform::kHarvestTimer, true);
    }
    resume("http://gone.example/later");
    EXPECT_EQ(network_.lookups.size(), 2u);
}

TEST_P(FetchEngineTest, RefusedConnectLeavesTheItemUnfailed) {
    add("http://127.0.0.1/x");
    ScriptedNetwork::Server refusing;
    refusing.connect_error = platform::kConnectionRefused;
    network_.serve("127.0.0.1", refusing);
    start();
    EXPECT_EQ(last_status(0), "Connection Refused");
    EXPECT_EQ(slot(0).state, SlotState::Idle);
    ItemRecord* item = listed("http://127.0.0.1/x");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status & store::STATUS_BAD, 0);
    EXPECT_NE(item->status & store::STATUS_VISITED, 0);
    // The slot was driven again at once, found nothing left, and the run ended.
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(FetchEngineTest, ConnectEventErrorsNameTheirCause) {
    add("http://127.0.0.1/a");
    add("http://127.0.0.2/b");
    ScriptedNetwork::Server slow;
    slow.connect_error = platform::kConnectTimedOut;
    network_.serve("127.0.0.1", slow);
    ScriptedNetwork::Server odd;
    odd.connect_error = 10050;
    network_.serve("127.0.0.2", odd);
    start(1);  // one slot takes both links, the second without waiting for a tick
    EXPECT_TRUE(saw("Connect Timeout", 0));
    EXPECT_TRUE(saw("Winsock Error 10050 (1499)", 0));
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(FetchEngineTest, ConnectFailingAtOnceFailsTheItem) {
    add("http://127.0.0.1/x");
    ScriptedNetwork::Server down;
    down.connect_now = 10051;
    network_.serve("127.0.0.1", down);
    start();
    EXPECT_TRUE(saw("Connect Failed (http://127.0.0.1/x)", 0));
    ItemRecord* item = listed("http://127.0.0.1/x");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status & (store::STATUS_BAD | store::STATUS_TIMEOUT), store::STATUS_BAD);
}

TEST_P(FetchEngineTest, UntranslatableAddressDropsTheFetch) {
    add("http://1.2.3.4.5/x");
    start();
    EXPECT_EQ(last_status(0), "Address translation error");
    EXPECT_EQ(slot(0).state, SlotState::Idle);
}

TEST_P(FetchEngineTest, SilentServerIsRetriedAtTenTicksAndAbortedAfterTwenty) {
    add("http://127.0.0.1/slow");
    ScriptedNetwork::Server silent;
    silent.end = ScriptedNetwork::End::Stall;
    network_.serve("127.0.0.1", silent);
    start();
    ASSERT_EQ(network_.sockets.size(), 1u);
    const std::string request = request_for("127.0.0.1", "/slow");
    ASSERT_EQ(network_.sockets[0].sent, request);

    ticks(9);
    EXPECT_EQ(network_.sockets[0].sent, request);
    tick();  // the 10th without progress
    EXPECT_TRUE(saw("Timeout Error...(Retry)", 0));
    EXPECT_EQ(network_.sockets[0].sent, request + request);

    ticks(10);
    ItemRecord* item = listed("http://127.0.0.1/slow");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status & store::STATUS_BAD, 0);
    EXPECT_FALSE(network_.sockets[0].closed);
    tick();  // the 21st
    EXPECT_TRUE(saw("Timeout Error...(Abort)", 0));
    EXPECT_EQ(item->status & (store::STATUS_TIMEOUT | store::STATUS_BAD),
              store::STATUS_TIMEOUT | store::STATUS_BAD);
    EXPECT_TRUE(network_.sockets[0].closed);
    EXPECT_EQ(run_hooks_.stops, 1);  // driven at once after the abort: nothing left
}

// A server that sends one byte a tick keeps restarting the retry and abort count; the response
// as a whole still has a deadline (at the default tick, five minutes), and the link times out.
TEST_P(FetchEngineTest, TricklingServerTimesOutAtTheResponseDeadline) {
    add("http://127.0.0.1/trickle");
    ScriptedNetwork::Server trickle;
    trickle.reply = kPage;
    trickle.trickle = true;
    network_.serve("127.0.0.1", trickle);
    start();
    ASSERT_EQ(network_.sockets.size(), 1u);
    const int id = network_.sockets[0].id;
    const int32_t deadline = response_deadline_ticks(4000);
    EXPECT_EQ(deadline, 75);  // 300 s of 4 s ticks: less than ten abort times
    for (int32_t i = 0; i < deadline; ++i) {
        network_.release(id, 1);
        network_.run(sink_);
        tick();
    }
    ItemRecord* item = listed("http://127.0.0.1/trickle");
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(network_.sockets[0].closed);  // never a retry or an abort: bytes kept coming
    EXPECT_FALSE(saw("Timeout Error...(Abort)", 0));
    network_.release(id, 1);
    network_.run(sink_);
    tick();
    EXPECT_TRUE(saw("Timeout Error...(Too Slow)", 0));
    EXPECT_TRUE(network_.sockets[0].closed);
    EXPECT_EQ(item->status & (store::STATUS_TIMEOUT | store::STATUS_BAD),
              store::STATUS_TIMEOUT | store::STATUS_BAD);
    // A short tick period caps the deadline at ten abort times.
    EXPECT_EQ(response_deadline_ticks(100), 10 * (kAbortTicks + 1));
}

TEST_P(FetchEngineTest, StalledPartialResponseIsJudgedAtTheAbortTick) {
    add("http://127.0.0.1/part");
    ScriptedNetwork::Server partial;
    partial.reply = std::string(100, 'z');
    partial.end = ScriptedNetwork::End::Stall;
    network_.serve("127.0.0.1", partial);
    start();
    EXPECT_EQ(last_status(0), "Reading: 100");
    ticks(20);
    EXPECT_EQ(run_hooks_.stops, 0);
    tick();
    EXPECT_TRUE(saw("Timeout Error...(Abort)", 0));
    EXPECT_EQ(last_status(0).rfind("Request Error (", 0), 0u);
    ItemRecord* item = listed("http://127.0.0.1/part");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status & (store::STATUS_TIMEOUT | store::STATUS_BAD), store::STATUS_BAD);
    EXPECT_TRUE(network_.sockets[0].closed);
}

TEST_P(FetchEngineTest, ReadErrorAfterBytesStillJudgesThem) {
    add("http://127.0.0.1/r");
    ScriptedNetwork::Server reset;
    reset.reply = kPage;
    reset.end = ScriptedNetwork::End::Error;
    network_.serve("127.0.0.1", reset);
    start();
    EXPECT_TRUE(saw("Winsock Error (10054)", 0));
    EXPECT_EQ(shell_.address_rows.size(), 1u);
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(FetchEngineTest, DataReadyErrorDropsTheFetch) {
    add("http://127.0.0.1/r");
    ScriptedNetwork::Server silent;
    silent.end = ScriptedNetwork::End::Stall;
    network_.serve("127.0.0.1", silent);
    start();
    network_.data_error(network_.sockets[0].id, 10053);
    network_.run(sink_);
    EXPECT_EQ(last_status(0), "Winsock Error 10053 (1100)");
    EXPECT_EQ(slot(0).state, SlotState::Idle);
}

TEST_P(FetchEngineTest, NoSocketLeavesTheSlotWaiting) {
    add("http://127.0.0.1/x");
    network_.sockets_available = false;
    start();
    EXPECT_EQ(last_status(0), "Unable to get socket (waiting)");
    EXPECT_EQ(slot(0).state, SlotState::Idle);
}

TEST_P(FetchEngineTest, OverlongExpansionFailsTheItemWithItsReason) {
    std::string url = "http://127.0.0.1/s?q=";
    for (int i = 0; i < 10; ++i) url += "$NAME";
    add(url);
    network_.serve("127.0.0.1", {kPage});
    make(10, {}, std::string(300, 'n'));
    start();
    EXPECT_TRUE(saw(std::string(expand_error_text(ExpandError::TooLong)), 0));
    EXPECT_TRUE(network_.sockets[0].sent.empty());
    EXPECT_EQ(run_.bad_links, 1);
}

// ---- many slots -----------------------------------------------------------------------------

TEST_P(FetchEngineTest, TwentySlotsShareALongQueueAndEachLinkIsFetchedOnce) {
    constexpr int kLinks = 45;
    std::set<std::string> urls;
    for (int i = 0; i < kLinks; ++i) {
        const std::string host = "127.0.0." + std::to_string(1 + i % 7);
        const std::string url = "http://" + host + "/p" + std::to_string(i);
        add(url);
        urls.insert(url);
        network_.serve(host, {kPage});
    }
    start(20);  // one tick only: the rest is driven by posted commands

    EXPECT_EQ(network_.sockets.size(), static_cast<std::size_t>(kLinks));
    EXPECT_LE(network_.max_open, 20u);
    EXPECT_GT(network_.max_open, 1u);
    std::set<std::string> requested;
    for (const auto& s : network_.sockets) {
        requested.insert(s.sent.substr(4, s.sent.find(' ', 4) - 4));
        EXPECT_TRUE(s.closed);
    }
    EXPECT_EQ(requested.size(), static_cast<std::size_t>(kLinks));
    for (const std::string& url : urls) {
        ItemRecord* item = listed(url);
        ASSERT_NE(item, nullptr) << url;
        EXPECT_EQ(item->status & (store::STATUS_VISITED | store::STATUS_BAD),
                  store::STATUS_VISITED) << url;
    }
    EXPECT_EQ(run_.visited_links, kLinks);
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(FetchEngineTest, OneSlotFetchesOneLinkAtATime) {
    for (int i = 0; i < 3; ++i) add("http://127.0.0.1/p" + std::to_string(i));
    network_.serve("127.0.0.1", {kPage});
    start(1);
    EXPECT_EQ(network_.sockets.size(), 3u);
    EXPECT_EQ(network_.max_open, 1u);
    for (int i = 1; i < kMaxSlots; ++i) EXPECT_EQ(slot(i).item.item, nullptr);
    EXPECT_EQ(run_hooks_.stops, 1);
}

// ---- run control ------------------------------------------------------------------------------

TEST_P(FetchEngineTest, EmptyProjectCompletesAtTheFirstTick) {
    start();
    EXPECT_EQ(last_status(-1), "Hunt Complete");
    EXPECT_EQ(run_hooks_.stops, 1);
    EXPECT_TRUE(network_.sockets.empty());
}

TEST_P(FetchEngineTest, CompletionNeedsTheHarvestTimer) {
    make();
    run_.harvest_running = 1;
    network_.fire(sink_, platform::kHarvestTimer, true);
    EXPECT_EQ(run_hooks_.stops, 0);
}

TEST_P(FetchEngineTest, SinglePageModeOpensThePageAfterStopping) {
    run_.engine_mode = harvest::kModeSinglePage;
    start();
    EXPECT_EQ(run_hooks_.stops, 1);
    EXPECT_EQ(run_hooks_.pages_opened, 1);
    EXPECT_EQ(run_.engine_mode, harvest::kModeHarvest);
    EXPECT_FALSE(saw("Hunt Complete"));
}

TEST_P(FetchEngineTest, StopRequestAndNestingLimitKeepSlotsStill) {
    add("http://127.0.0.1/x");
    network_.serve("127.0.0.1", {kPage});
    make();
    run_.harvest_running = 1;
    network_.start_timer(platform::kHarvestTimer, 4000);
    run_.stop_requested = 1;
    engine_->drive_slot(0);
    run_.stop_requested = 0;
    slots_.nesting = kMaxNesting + 1;
    engine_->drive_slot(0);
    EXPECT_TRUE(network_.sockets.empty());
    slots_.nesting = kMaxNesting;
    engine_->drive_slot(0);
    EXPECT_EQ(network_.sockets.size(), 1u);
    EXPECT_EQ(slots_.nesting, kMaxNesting);
}

TEST_P(FetchEngineTest, SocketLayerFailureIsReported) {
    make();
    network_.start_ok = false;
    EXPECT_EQ(engine_->start_sockets(), 0);
    EXPECT_EQ(last_status(0), "ERROR: Failed to initialize Winsock");
    EXPECT_EQ(shell_.errors, std::vector<std::string>{"Failed to initialize Winsock"});
    network_.start_ok = true;
    EXPECT_EQ(engine_->start_sockets(), 1);
}

TEST_P(FetchEngineTest, FailedTlsHandshakeFailsTheItemAndSaysWhy) {
    add("https://127.0.0.1/late.html");
    add("https://127.0.0.2/early.html");
    ScriptedNetwork::Server untrusted;
    untrusted.connect_error = platform::kTlsFailed;
    untrusted.tls_error = "certificate verify failed";
    network_.serve("127.0.0.1", untrusted);
    ScriptedNetwork::Server refused_at_once;
    refused_at_once.connect_now = platform::kTlsFailed;  // no reason known
    network_.serve("127.0.0.2", refused_at_once);
    start(2);

    EXPECT_TRUE(saw("Secure Connect Failed (certificate verify failed)"));
    EXPECT_TRUE(saw("Secure Connect Failed (https://127.0.0.2/early.html)"));
    for (const char* url : {"https://127.0.0.1/late.html", "https://127.0.0.2/early.html"}) {
        ItemRecord* item = listed(url);
        ASSERT_NE(item, nullptr) << url;
        EXPECT_NE(item->status & store::STATUS_BAD, 0) << url;
        EXPECT_NE(item->status & store::STATUS_VISITED, 0) << url;
    }
    EXPECT_EQ(run_.bad_links, 2);
    EXPECT_EQ(run_hooks_.stops, 1);  // the run went on to its end
}

// Files that can no longer be written stop the run at the engine's next turn, whichever way
// the fetch in hand ended, and no further link is handed out.
TEST_P(FetchEngineTest, UnwritableFilesStopTheRunAtTheNextTurn) {
    add("http://127.0.0.1/slow");
    add("http://127.0.0.2/next");
    ScriptedNetwork::Server silent;
    silent.end = ScriptedNetwork::End::Stall;
    network_.serve("127.0.0.1", silent);
    network_.serve("127.0.0.2", {kPage});
    start(1);
    ASSERT_EQ(network_.sockets.size(), 1u);
    store_.write_failing = true;  // a write has just failed and was told
    ticks(21);                    // the silent fetch is given up: the slot would take the next
    EXPECT_EQ(run_hooks_.stops, 1);
    EXPECT_EQ(last_status(-1), std::string(kWriteFailedStatus));
    EXPECT_EQ(network_.sockets.size(), 1u) << "a link was fetched after the failure";
    EXPECT_EQ(run_.stop_requested, 1);
    ticks(3);
    EXPECT_EQ(run_hooks_.stops, 1);
}

// A slot left idle by a failure takes the next link at once: a run of links that all fail
// ends within the tick that started it, whatever the failure.
TEST_P(FetchEngineTest, FailuresLeaveNoSlotIdleUntilTheNextTick) {
    struct Row {
        const char* name;
        const char* url;  // "%" is replaced by the link's number
    };
    const Row rows[] = {
        {"host not found", "http://www.nohost%.example.org/x.html"},
        {"address translation", "http://1.2.3.%.5/x.html"},
        {"refused", "http://127.0.0.1/%.html"},
    };
    ScriptedNetwork::Server refusing;
    refusing.connect_error = platform::kConnectionRefused;
    network_.serve("127.0.0.1", refusing);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < 12; ++i) {
            std::string url = row.url;
            url.replace(url.find('%'), 1, std::to_string(i));
            add(url);
        }
        const int32_t visited_before = run_.visited_links;
        run_hooks_.stops = 0;
        start(4);
        EXPECT_EQ(run_hooks_.stops, 1);
        EXPECT_EQ(run_.visited_links - visited_before, 12);
    }
}

// A body shorter than its Content-Length is no page: nothing of it is read, the link shows as
// timed out and stays unvisited in the links file for the next run. Without a Content-Length
// (or with the whole body) the end of the connection ends the page.
TEST_P(FetchEngineTest, BodyShortOfItsContentLengthIsLeftForALaterRun) {
    struct Row {
        const char* name;
        int length_over;  // the Content-Length less the body's size; -1: no Content-Length
        ScriptedNetwork::End end;
        int ticks;  // after the first, until the fetch ends
        bool fetched;
    };
    const Row rows[] = {
        {"stalls", 900, ScriptedNetwork::End::Stall, kAbortTicks + 1, false},
        {"reset", 900, ScriptedNetwork::End::Error, 0, false},
        {"closed early", 900, ScriptedNetwork::End::Close, 0, false},
        {"whole", 0, ScriptedNetwork::End::Close, 0, true},
        {"no length", -1, ScriptedNetwork::End::Close, 0, true},
    };
    int n = 0;
    for (const bool modern : {false, true}) {
        run_.modern_reader = modern;
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (modern ? ", the modern way" : ""));
            const std::string address = "127.0.0." + std::to_string(++n);
            const std::string url = "http://" + address + "/page.html";
            const std::string body =
                "<a href=\"mailto:cut" + std::to_string(n) + "@mail.example\">w</a>";
            std::string reply = "HTTP/1.0 200 OK\r\n";
            if (row.length_over >= 0) {
                reply += "Content-Length: " + std::to_string(body.size() + row.length_over) +
                         "\r\n";
            }
            reply += "\r\n" + body;
            add(url);
            ScriptedNetwork::Server server;
            server.reply = reply;
            server.end = row.end;
            network_.serve(address, server);
            shell_.address_rows.clear();
            shell_.statuses.clear();
            run_hooks_.stops = 0;
            start(1);
            ticks(row.ticks);
            EXPECT_EQ(run_hooks_.stops, 1);
            EXPECT_EQ(shell_.address_rows.size(), row.fetched ? 1u : 0u);
            ItemRecord* item = listed(url);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ((item->status & store::STATUS_TIMEOUT) != 0, !row.fetched);
            EXPECT_EQ(item->status & store::STATUS_BAD, 0);
            EXPECT_EQ(saw("Response cut short (900 bytes missing): left for a later run", 0),
                      !row.fetched);
            int32_t on_disk = -1;
            for (const auto& rec : stored(TreeFile::Links)) {
                if (*rec->url == url) on_disk = rec->status;
            }
            EXPECT_EQ((on_disk & store::STATUS_VISITED) != 0, row.fetched) << on_disk;
        }
    }
}

TEST_P(FetchEngineTest, SlotsWithoutLinksStartAsSoonAsAPageBringsSome) {
    // One page at the start; the other slots found nothing at the first tick.
    add("http://127.0.0.1/index.html");
    std::string index = "HTTP/1.0 200 OK\r\n\r\n";
    for (int i = 0; i < 6; ++i) index += "<a href=\"/p" + std::to_string(i) + ".html\">p</a>";
    network_.serve("127.0.0.1", {index});  // every page answers the same
    start(4);
    // No second tick: the new links were taken by the idle slots at once, side by side.
    EXPECT_EQ(network_.sockets.size(), 7u);
    EXPECT_GE(network_.max_open, 3u);
    EXPECT_EQ(run_hooks_.stops, 1);
    EXPECT_EQ(last_status(-1), "Hunt Complete");
}

// The vendor's setup file, handed out before any link as the update service does.
class DownloadRequest : public harvest::SpecialRequests {
public:
    explicit DownloadRequest(std::string url,
                             uint32_t kind = store::KIND_VENDOR | store::KIND_DOWNLOAD)
        : url_(std::move(url)), kind_(kind) {}
    Result serve(int, harvest::SlotItem& slot_item) override {
        if (given_) return Result::None;
        given_ = true;
        slot_item.owned = std::make_unique<ItemRecord>();
        slot_item.owned->url = url_;
        slot_item.owned->title = "Velox HQ";
        slot_item.owned->kind = kind_;
        slot_item.item = slot_item.owned.get();
        return Result::Given;
    }

private:
    std::string url_;
    uint32_t kind_;
    bool given_ = false;
};

class DownloadTest : public FetchEngineTest {
protected:
    DownloadTest() {
        download_.url = "https://127.0.0.1/files/setup.exe";
        watch_ = nullptr;  // the received count is of body bytes once the file is open
    }
    void start_download() {
        make(2);
        engine_->set_special_requests(&request_);
        run_.engine_mode = harvest::kModeUpgrade;
        start(2);
    }
    std::string downloaded(const std::string& name) const {
        return std::string(dir_.path()) + "/downloads/" + name;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string written() const { return read(downloaded("setup.exe")); }
    DownloadRequest request_{"https://127.0.0.1/files/setup.exe"};
};

// Whole answers, pieces that split the header, and pieces that end in the body.
INSTANTIATE_TEST_SUITE_P(Reads, DownloadTest,
                         ::testing::Values(std::size_t{0}, std::size_t{7}, std::size_t{1000}),
                         [](const auto& info) { return "Reads" + std::to_string(info.param); });

TEST_P(DownloadTest, BodyGoesToTheFileWithoutThePageLimit) {
    std::string body(kMaxPageBytes + 40000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + 3);
    network_.serve("127.0.0.1",
                   {"HTTP/1.0 200 OK\r\ncontent-length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body});
    start_download();

    EXPECT_EQ(vendor_.started, std::vector<int32_t>{static_cast<int32_t>(body.size())});
    EXPECT_EQ(vendor_.last_written, static_cast<int32_t>(body.size()));
    EXPECT_EQ(vendor_.finished, std::vector<std::string>{downloaded("setup.exe")});
    EXPECT_EQ(written(), body);
    EXPECT_FALSE(download_.open());
    EXPECT_TRUE(download_.url.empty());
    EXPECT_EQ(run_hooks_.stops, 1);
}

TEST_P(DownloadTest, FailedWriteStopsTheTransferAndReportsNoFinishedFile) {
    // The file may not grow past 1000 bytes: the write fails as on a full disk.
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit small_limit {1000, old_limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small_limit), 0);
    network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'z')});
    start_download();
    (void)::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(run_.stop_requested, 1);
    EXPECT_FALSE(download_.open());
    EXPECT_TRUE(vendor_.finished.empty());
    EXPECT_EQ(shell_.errors, std::vector<std::string>{"Unable to write upgrade file"});
}

// A transfer that ends short of its length is no setup file: the wizard never hears of a
// finished download.
TEST_P(DownloadTest, ABodyShortOfItsLengthIsNoFinishedFile) {
    network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" +
                                 std::string(1200, 'z')});
    start_download();
    EXPECT_TRUE(vendor_.finished.empty());
    EXPECT_FALSE(download_.open());
    EXPECT_FALSE(std::filesystem::exists(downloaded("setup.exe")));
    EXPECT_EQ(shell_.errors, std::vector<std::string>{"The upgrade file arrived incomplete (1200 "
                                                      "of 5000 bytes); nothing was kept. Please "
                                                      "try again."});
}

// A setup file of a few bytes is a document like any other (its status line is in the buffer
// even though the received count is of the body only).
TEST_P(DownloadTest, FileIsNamedAsTheWizardIsTold) {
    download_.url = "https://127.0.0.1/files/setup 2.exe ";
    request_ = DownloadRequest("https://127.0.0.1/files/setup 2.exe ");
    network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\nContent-Length: junk\r\n\r\nbody"});
    start_download();
    ASSERT_EQ(vendor_.finished, std::vector<std::string>{downloaded("setup 2.exe ")});
    EXPECT_EQ(read(downloaded("setup 2.exe ")), "body");
    EXPECT_EQ(vendor_.started, std::vector<int32_t>{0});  // an unreadable length counts as none
}

TEST_P(DownloadTest, UncreatableFileRaisesTheStopRequest) {
    net_.folder = std::string(dir_.path()) + "/missing/folder";
    network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\n\r\nbody"});
    start_download();
    EXPECT_EQ(run_.stop_requested, 1);
    EXPECT_FALSE(download_.open());
    EXPECT_EQ(shell_.errors, std::vector<std::string>{"Unable to write upgrade file"});
}

// The URL comes from the vendor's answer: whatever it ends in, the data folder's own files stay
// as they are, and no file is ever replaced.
TEST_P(DownloadTest, DownloadNeverReplacesAFile) {
    const std::string settings = std::string(dir_.path()) + "/tarnv.ini";
    std::ofstream(settings) << "keep";
    std::filesystem::create_directory(std::string(dir_.path()) + "/downloads");
    std::ofstream(downloaded("tarnv.ini")) << "earlier";
    download_.url = "https://127.0.0.1/files/tarnv.ini";
    request_ = DownloadRequest(download_.url);
    network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\n\r\nnew"});
    start_download();
    ASSERT_EQ(vendor_.finished, std::vector<std::string>{downloaded("tarnv-2.ini")});
    EXPECT_EQ(read(downloaded("tarnv-2.ini")), "new");
    EXPECT_EQ(read(downloaded("tarnv.ini")), "earlier");
    EXPECT_EQ(read(settings), "keep");
}

TEST_P(DownloadTest, RefusedUrlsWriteNoFile) {
    for (const std::string url : {"http://127.0.0.1/files/setup.exe", "https://127.0.0.1/files/..",
                                  "https://127.0.0.1/files/"}) {
        SCOPED_TRACE(url);
        download_.url = url;
        request_ = DownloadRequest(url);
        run_.stop_requested = 0;
        network_.serve("127.0.0.1", {"HTTP/1.0 200 OK\r\n\r\nnew"});
        start_download();
        EXPECT_EQ(run_.stop_requested, 1);
        EXPECT_TRUE(vendor_.finished.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(std::string(dir_.path()) + "/downloads/setup.exe"));
}

// The vendor's domain is reserved and never resolves: no name query goes out for it, and its
// failure is no bad link of the person's.
TEST_P(FetchEngineTest, VendorHostFailsWithoutLookUpOrBadLink) {
    DownloadRequest check("http://update.TARNVELOX.example/cgi-bin/msw/getfile?filename=tv",
                          store::KIND_VENDOR);
    make(1);
    engine_->set_special_requests(&check);
    start(1);
    ticks(3);
    EXPECT_TRUE(network_.lookups.empty());
    EXPECT_TRUE(saw("Host Not Found", 0));
    EXPECT_EQ(run_.bad_links, 0);
}

// ---- the modern way: HTTP/1.1, kept connections, whole pages -------------------------------

std::string kept_reply(const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

TEST_P(FetchEngineTest, TheModernWayKeepsAConnectionForTheNextLinkOfItsHost) {
    run_.modern_reader = true;
    for (const char* path : {"/a", "/b", "/c"}) add(std::string("http://127.0.0.1") + path);
    add("http://10.0.0.2/d");
    ScriptedNetwork::Server server;
    server.reply = kept_reply("<a href=\"mailto:kept@mail.example\">w</a>");
    server.keep_alive = true;
    network_.serve("127.0.0.1", server);
    network_.serve("10.0.0.2", server);
    start(1);

    // One connection per host, each link asked for once, as HTTP/1.1 with keep-alive.
    ASSERT_EQ(network_.sockets.size(), 2u);
    EXPECT_EQ(network_.requests.size(), 4u);
    EXPECT_EQ(network_.sockets[0].sent.substr(0, network_.sockets[0].sent.find("\r\n\r\n") + 4),
              "GET /a HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Tarnvelox 1.00\r\n"
              "Accept: */*\r\nAccept-Encoding: " + std::string(accept_encoding()) +
                  "\r\nConnection: keep-alive\r\n\r\n");
    for (const char* url : {"http://127.0.0.1/a", "http://127.0.0.1/b", "http://127.0.0.1/c",
                            "http://10.0.0.2/d"}) {
        SCOPED_TRACE(url);
        ItemRecord* item = listed(url);
        ASSERT_NE(item, nullptr);
        EXPECT_NE(item->status & store::STATUS_VISITED, 0);
        EXPECT_EQ(item->status & (store::STATUS_BAD | store::STATUS_TIMEOUT), 0);
    }
    EXPECT_EQ(run_hooks_.stops, 1);
    // Kept until the run's end lets them go.
    EXPECT_EQ(engine_->idle_connections(), 2u);
    engine_->close_idle_connections();
    EXPECT_EQ(network_.open_count(), 0u);
}

// Whatever a server sends beyond its answer, or sends unasked on an idle connection, ends the
// connection: it is never read as the answer to a later request. A kept connection that its
// server closed before answering is asked again once, on a fresh connection.
TEST_P(FetchEngineTest, AKeptConnectionCarriesNothingButTheAnswerAskedFor) {
    run_.modern_reader = true;
    struct Row {
        const char* name;
        std::string reply;
        int keep_requests;
        std::size_t sockets;  // opened for the two links
        int asked_b;          // requests for /b
        ScriptedNetwork::End end = ScriptedNetwork::End::Close;  // after keep_requests
    };
    const std::string body = "<a href=\"mailto:kept@mail.example\">w</a>";
    const Row rows[] = {
        {"kept", kept_reply(body), 0, 1, 1},
        {"a second answer follows", kept_reply(body) + kept_reply(body), 0, 2, 1},
        {"a body past its length", kept_reply(body) + "tail", 0, 2, 1},
        {"closed before the second answer", kept_reply(body), 1, 2, 2},
        {"silent before the second answer", kept_reply(body), 1, 2, 2,
         ScriptedNetwork::End::Stall},
        {"asked to close", kept_reply(body, "Connection: close\r\n"), 0, 2, 1},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body, 0, 2, 1},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string address = "127.0.1." + std::to_string(++n);
        add("http://" + address + "/a");
        add("http://" + address + "/b");
        ScriptedNetwork::Server server;
        server.reply = row.reply;
        server.keep_alive = true;
        server.keep_requests = row.keep_requests;
        server.end = row.end;
        network_.serve(address, server);
        const std::size_t sockets_before = network_.sockets.size();
        const int asked_before = network_.requests_for("/b");
        run_hooks_.stops = 0;
        start(1);
        if (row.end == ScriptedNetwork::End::Stall) ticks(kAbortTicks + 1);
        EXPECT_EQ(run_hooks_.stops, 1);
        EXPECT_EQ(network_.sockets.size() - sockets_before, row.sockets);
        EXPECT_EQ(network_.requests_for("/b") - asked_before, row.asked_b);
        for (const char* path : {"/a", "/b"}) {
            ItemRecord* item = listed("http://" + address + path);
            ASSERT_NE(item, nullptr);
            EXPECT_NE(item->status & store::STATUS_VISITED, 0) << path;
            EXPECT_EQ(item->status & (store::STATUS_BAD | store::STATUS_TIMEOUT), 0) << path;
        }
        engine_->close_idle_connections();
    }

    // An idle kept connection that becomes readable is closed at once.
    add("http://127.0.2.1/a");
    ScriptedNetwork::Server server;
    server.reply = kept_reply(body);
    server.keep_alive = true;
    network_.serve("127.0.2.1", server);
    start(1);
    ASSERT_EQ(engine_->idle_connections(), 1u);
    network_.data_error(network_.sockets.back().id, 0);
    network_.run(sink_);
    EXPECT_EQ(engine_->idle_connections(), 0u);
    EXPECT_TRUE(network_.sockets.back().closed);
}

// The classic retry sends the request again; on a connection that stays open, a server
// answers both, and the second answer would be read as the next link's. One request, one answer.
TEST_P(FetchEngineTest, TheModernWayAsksOncePerLinkWhenTheServerIsSlow) {
    run_.modern_reader = true;
    add("http://127.0.0.1/a");
    add("http://127.0.0.1/b");
    ScriptedNetwork::Server server;
    server.reply = kept_reply("<a href=\"mailto:kept@mail.example\">w</a>");
    server.keep_alive = true;
    server.trickle = true;
    network_.serve("127.0.0.1", server);
    start(1);
    ticks(kRetryTicks);
    EXPECT_TRUE(saw("Timeout Error...(Retry)", 0));
    network_.release(network_.sockets[0].id, 2 * server.reply.size());
    network_.run(sink_);
    EXPECT_EQ(network_.requests_for("/a"), 1);
    EXPECT_EQ(network_.requests_for("/b"), 1);
    EXPECT_EQ(run_hooks_.stops, 1);
}

// A kept connection that stays silent until the abort is asked again on a fresh one, which
// gets a deadline of its own: with long ticks the deadline is the abort time itself.
TEST_P(FetchEngineTest, ARetryOnAFreshConnectionHasADeadlineOfItsOwn) {
    run_.modern_reader = true;
    add("http://127.0.0.1/a");
    add("http://127.0.0.1/b");
    ScriptedNetwork::Server server;
    server.reply = kept_reply("<a href=\"mailto:kept@mail.example\">w</a>");
    server.keep_alive = true;
    server.keep_requests = 1;
    server.end = ScriptedNetwork::End::Stall;
    server.trickle = true;
    network_.serve("127.0.0.1", server);
    make(1);
    engine_->configure({}, "", 1, 20000);
    ASSERT_EQ(response_deadline_ticks(20000), kAbortTicks + 1);
    start(1);
    network_.release(network_.sockets[0].id, server.reply.size());
    network_.run(sink_);
    ASSERT_EQ(network_.requests_for("/b"), 1);
    ticks(kAbortTicks + 2);
    ASSERT_EQ(network_.sockets.size(), 2u);
    network_.release(network_.sockets[1].id, server.reply.size());
    network_.run(sink_);
    ItemRecord* item = listed("http://127.0.0.1/b");
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->status & store::STATUS_VISITED, 0);
    EXPECT_EQ(item->status & (store::STATUS_BAD | store::STATUS_TIMEOUT), 0);
    EXPECT_EQ(network_.requests_for("/b"), 2);
}

// The modern way reads a page whole up to its limit; a longer one is cut there, and its status
// line says so.
TEST_P(FetchEngineTest, TheModernWayReadsWholePagesUpToTheLimit) {
    run_.modern_reader = true;
    std::string body(kMaxPageBytes + 100000, ' ');
    body += "<a href=\"mailto:late@mail.example\">w</a>";
    add("http://127.0.0.1/long");
    ScriptedNetwork::Server server;
    server.reply = kept_reply(body);
    network_.serve("127.0.0.1", server);
    start(1);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:late@mail.example"});
    EXPECT_TRUE(saw("Transferred " + std::to_string(server.reply.size()) + " Bytes", 0));
    EXPECT_EQ(last_status(0).find("page cut"), std::string::npos);

    shell_.address_rows.clear();
    add("http://127.0.0.1/cut");
    run_.page_limit = kMaxPageBytes;
    start(1);
    EXPECT_TRUE(shell_.address_rows.empty());
    EXPECT_EQ(last_status(0), "Found 0 links, 0 emails; page cut at " +
                                  std::to_string(kMaxPageBytes) + " bytes");
    EXPECT_LT(run_.total_bytes, static_cast<int64_t>(2 * server.reply.size()));

    // A NUL ends the page's text before the cut: what runs up to it was not cut.
    add("http://127.0.0.1/nul");
    server.reply = kept_reply("<p>nul@mail.example" + std::string(1, '\0') + body);
    network_.serve("127.0.0.1", server);
    start(1);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:nul@mail.example"});
    EXPECT_EQ(last_status(0), "Found 0 links, 1 emails; page cut at " +
                                  std::to_string(kMaxPageBytes) + " bytes");
}

TEST(FetchEngineIds, LookupIdsMapBackToTheirSlots) {
    EXPECT_EQ(FetchEngine::lookup_slot(1332), 0);
    EXPECT_EQ(FetchEngine::lookup_slot(1337), 5);
    EXPECT_EQ(FetchEngine::lookup_slot(1341), 6);
    EXPECT_EQ(FetchEngine::lookup_slot(1348), 12);
    EXPECT_EQ(FetchEngine::lookup_slot(1355), 19);
    EXPECT_EQ(FetchEngine::lookup_slot(1338), -1);
    EXPECT_EQ(FetchEngine::lookup_slot(1347), -1);
}

}  // namespace
}  // namespace tarnvelox::net
