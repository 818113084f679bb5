#include "app/run_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/list_commands.h"
#include "fakes/scripted_network.h"
#include "harvest/harvest_fixture.h"
#include "harvest/list_rows.h"
#include "store/link_file_reader.h"
#include "store/link_tree_file.h"
#include "store/tree_test_util.h"

namespace tarnvelox::app {
namespace {

using store::ItemRecord;
using store::TreeFile;
using tarnvelox::testing::ScriptedNetwork;

// The main window's controls as run control switches them.
class RecordingWindow : public RunWindow {
public:
    void enable_controls(bool running, bool views) override {
        states.emplace_back(running, views);
    }
    bool confirm(std::string_view question) override {
        questions.emplace_back(question);
        return answer_yes;
    }
    bool version_dialog_open() override { return dialog_open; }
    void show_activity(std::string_view text) override { activity.emplace_back(text); }
    void post_transfer_ended() override { ++transfers_ended; }
    void busy_cursor(bool busy) override { busy_calls.push_back(busy); }
    void open_status_dialog() override { ++status_opened; }
    void open_page(const std::string& url) override { opened_pages.push_back(url); }

    std::vector<std::pair<bool, bool>> states;
    std::vector<std::string> questions;
    std::vector<std::string> activity;
    bool answer_yes = true;
    bool dialog_open = false;
    int transfers_ended = 0;
    int status_opened = 0;
    std::vector<bool> busy_calls;
    std::vector<std::string> opened_pages;
};

// A small site: every page links to the same four pages and names one address.
const std::string kSitePage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>Site</title></head><body>"
    "<a href=\"/index.html\">home</a> <a href=\"/a.html\">a</a> "
    "<a href=\"/b.html\">b</a> <a href=\"/c.html\">c</a> "
    "<a href=\"mailto:office@site.example\">write</a></body></html>";
const std::vector<std::string> kSitePaths{"/index.html", "/a.html", "/b.html", "/c.html"};
constexpr const char* kStart = "http://site.example/index.html";

class RunControlTest : public harvest::testing::HarvestFixture {
protected:
    RunControlTest() {
        settings_.packcount = 3;
        settings_.timeout = 3000;
        net_.folder = dir_.path();
        network_.resolve("site.example", "10.0.0.1");
        network_.serve("10.0.0.1", {kSitePage});
        search_.starting_url = kStart;
    }

    // Every GET request line sent, by path, counting only fetches that read the whole answer.
    std::map<std::string, int> completed_fetches() const {
        std::map<std::string, int> out;
        for (const auto& s : network_.sockets) {
            if (!s.eof_read) continue;
            const auto end = s.sent.find(' ', 4);
            ++out[s.sent.substr(4, end - 4)];
        }
        return out;
    }
    [[nodiscard]] std::string last_status(int at) const {
        for (auto it = shell_.statuses.rbegin(); it != shell_.statuses.rend(); ++it) {
            if (it->first == at) return it->second;
        }
        return {};
    }
    ItemRecord* listed(const std::string& url) {
        for (ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
            if (r->url && *r->url == url) return r;
        }
        return nullptr;
    }
    void run_all() { network_.run(control_); }
    // A ticked engine of the engines list (a web search engine unless `kind` says otherwise).
    ItemRecord& add_engine(const std::string& url,
                           uint32_t kind = store::KIND_PAGE | store::KIND_SEARCH_ENGINE) {
        store::RecordPtr rec = store::clear_record();
        rec->title = "Engine";
        rec->url = url;
        rec->kind = kind;
        rec->engine_id = 1;
        rec->selected = 1;
        return ctx_.engines.list.append(std::move(rec));
    }
    // Stores unvisited links, as an earlier harvest that was cut short leaves them.
    void store_pending(const std::vector<std::string>& urls) {
        ASSERT_TRUE(store::open_store(store_));
        for (const std::string& url : urls) {
            ItemRecord rec;
            rec.url = url;
            rec.kind = store::KIND_PAGE;
            ASSERT_GE(store::tree_insert(store_, TreeFile::Links, rec), 0);
        }
        store::close_store(store_);
    }
    // Saves the project and opens it again, as quitting and starting the program does.
    void reopen() {
        settings_.project = dir_.file("test.tvp");  // the fixture's project
        ASSERT_EQ(ctx_.save_current_project(), 1);
        ASSERT_EQ(ctx_.load_current_project(nullptr), 1);
        harvest::refill_views(lists_, shell_, maxlist_);
    }
    // The links on disk not marked visited, read apart from the store.
    int32_t unvisited_on_disk() {
        store::LinkFileReader file;
        if (!file.open(store_.links_path)) return -1;
        int32_t count = 0;
        while (store::RecordPtr rec = file.next()) {
            if ((rec->status & store::STATUS_VISITED) == 0) ++count;
        }
        return count;
    }

    net::SlotTable& slots_ = ctx_.slots;
    net::NetEnv& net_ = ctx_.net;
    ScriptedNetwork network_;
    Settings& settings_ = ctx_.settings;
    RecordingWindow window_;
    HarvestRun& control_ = ctx_.attach(network_, network_, window_);
};

// ---- a whole harvest ----------------------------------------------------------------------

TEST_F(RunControlTest, HarvestRunsFromStartToHuntCompleteAndFetchesEveryPageOnce) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    EXPECT_EQ(control_.running(), true);
    EXPECT_TRUE(network_.timer_running(platform::kHarvestTimer));
    EXPECT_TRUE(network_.timer_running(platform::kActivityTimer));
    EXPECT_EQ(settings_.start, harvest::kHarvest);
    // Nothing is fetched before the posted first tick is delivered.
    EXPECT_TRUE(network_.sockets.empty());

    run_all();  // no timer tick needed: the posted tick and the engine's own drives suffice

    EXPECT_FALSE(control_.running());
    EXPECT_FALSE(network_.timer_running(platform::kHarvestTimer));
    EXPECT_FALSE(network_.timer_running(platform::kActivityTimer));
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_EQ(network_.lookups.front().second, "site.example");
    std::map<std::string, int> once;
    for (const auto& p : kSitePaths) once[p] = 1;
    EXPECT_EQ(completed_fetches(), once);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:office@site.example"});
    EXPECT_EQ(window_.states, (std::vector<std::pair<bool, bool>>{{true, true}, {false, true}}));
    EXPECT_FALSE(store_.links.is_open());  // the stop closed the project's files
    for (int i = 0; i < net::kMaxSlots; ++i) {
        EXPECT_EQ(slots_.slots[static_cast<std::size_t>(i)].item.item, nullptr) << i;
    }

    // Every stored link ended visited in the file.
    for (const auto& rec : stored(TreeFile::Links)) {
        EXPECT_NE(rec->status & store::STATUS_VISITED, 0) << *rec->url;
    }
}

TEST_F(RunControlTest, DetailsTabQueuesNothingAndAFinishedProjectCompletesAtOnce) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    const std::size_t sockets = network_.sockets.size();

    ASSERT_EQ(control_.start_harvest(harvest::kDetails), 1);
    run_all();
    EXPECT_EQ(network_.sockets.size(), sockets);
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_FALSE(control_.running());
}

TEST_F(RunControlTest, StartWalksTheLinksFileFromItsStartAfterAnotherRead) {
    // A link stored unvisited, then the files opened and read to the end between runs (as an
    // export does), and left open.
    ItemRecord rec;
    rec.url = "http://site.example/a.html";
    rec.title = "a";
    rec.kind = store::KIND_PAGE;
    ASSERT_TRUE(store::open_store(store_));
    ASSERT_GE(store::tree_insert(store_, TreeFile::Links, rec), 0);
    while (store::read_next_link(store_, TreeFile::Links)) {
    }
    ASSERT_TRUE(store_.links.is_open());

    ASSERT_EQ(control_.start_harvest(harvest::kDetails), 1);
    run_all();
    EXPECT_EQ(completed_fetches()["/a.html"], 1);
}

TEST_F(RunControlTest, FailedSocketLayerLeavesTheWindowIdle) {
    network_.start_ok = false;
    EXPECT_EQ(control_.start_harvest(harvest::kHarvest), 0);
    EXPECT_FALSE(control_.running());
    EXPECT_TRUE(window_.states.empty());
    EXPECT_FALSE(network_.timer_running(platform::kHarvestTimer));
    EXPECT_FALSE(network_.timer_running(platform::kActivityTimer));
    EXPECT_EQ(network_.queued(), 0u);
    EXPECT_EQ(shell_.errors.size(), 1u);
    EXPECT_TRUE(stored(TreeFile::Links).empty());  // nothing was seeded
}

// A start whose connection fails is a bad link of the run, shown so in its row and counted,
// and the last line says why nothing came; the file keeps the link unvisited for the next run.
TEST_F(RunControlTest, AStartThatGetsNoConnectionEndsAsABadLinkWithTheReason) {
    ScriptedNetwork::Server refused;
    refused.connect_error = platform::kConnectionRefused;
    network_.serve("10.0.0.1", refused);
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();

    EXPECT_FALSE(control_.running());
    EXPECT_EQ(last_status(-1),
              " Hunt Complete: not one page could be fetched (Connection Refused)");
    EXPECT_EQ(control_.status_counters().bad, 1);
    EXPECT_EQ(control_.outcome().bad(), 1);
    EXPECT_TRUE(control_.outcome().nothing_fetched());
    const ItemRecord* rec = listed(kStart);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(harvest::link_icon(*rec), 3);
    const auto links = stored(TreeFile::Links);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0]->status & (store::STATUS_VISITED | store::STATUS_BAD), 0);

    // A run that fetched its pages keeps the plain last line.
    network_.serve("10.0.0.1", {kSitePage});
    search_.starting_url = "http://site.example/a.html";
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_FALSE(control_.outcome().nothing_fetched());
}

// Every way a link can go unanswered counts it as bad, in the window as in the summary: a
// connection closed or reset before any byte, and a body short of its length.
TEST_F(RunControlTest, ALinkLeftWithoutAWholeAnswerCountsAsBad) {
    struct Row {
        const char* name;
        ScriptedNetwork::Server server;
        int icon;
    };
    ScriptedNetwork::Server closed;
    ScriptedNetwork::Server reset;
    reset.end = ScriptedNetwork::End::Error;
    ScriptedNetwork::Server short_body{"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n<p>a"};
    const Row rows[] = {{"closed", closed, 3}, {"reset", reset, 3}, {"cut short", short_body, 4}};
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        network_.serve("10.0.0.1", row.server);
        const std::string url = "http://site.example/row" + std::to_string(++n) + ".html";
        search_.starting_url = url;
        const auto bad_before = control_.status_counters().bad;
        ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
        run_all();
        EXPECT_EQ(control_.status_counters().bad - bad_before, 1);
        EXPECT_EQ(control_.outcome().bad(), 1);
        EXPECT_TRUE(control_.outcome().nothing_fetched());
        const ItemRecord* rec = listed(url);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(harvest::link_icon(*rec), row.icon);
    }
}

// Verify fetches the one link again, alone, and the run ends saying its new state, which the
// file keeps too.
TEST_F(RunControlTest, VerifyFetchesOneLinkAgainAndEndsWithItsNewState) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    const std::size_t sockets = network_.sockets.size();
    ScriptedNetwork::Server gone{kSitePage};
    gone.by_target["/a.html"] = {"HTTP/1.0 404 Not Found\r\n\r\n"};
    network_.serve("10.0.0.1", gone);

    const ItemRecord* rec = listed("http://site.example/a.html");
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(control_.verify_link(*rec), 1);
    EXPECT_EQ(control_.verify_link(*rec), 0);  // one at a time
    run_all();
    EXPECT_FALSE(control_.running());
    EXPECT_EQ(network_.sockets.size(), sockets + 1);
    EXPECT_EQ(last_status(-1), " Verified http://site.example/a.html: not found (404)");
    EXPECT_EQ(settings_.start, harvest::kHarvest);  // the tab of the last harvest stays
    for (const auto& in_file : stored(TreeFile::Links)) {
        if (*in_file->url != *rec->url) continue;
        EXPECT_NE(in_file->status & store::STATUS_NOT_FOUND, 0);
    }
    // The next Start is a harvest again.
    ASSERT_EQ(control_.start_harvest(harvest::kDetails), 1);
    run_all();
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_TRUE(control_.verify_text().empty());
}

// Start says what is missing when it would have nothing to fetch.
TEST_F(RunControlTest, StartWithNothingToFetchSaysWhatIsMissing) {
    search_.starting_url.reset();
    EXPECT_NE(control_.missing_for_start(harvest::kHarvest).find("Starting URL"),
              std::string::npos);
    EXPECT_NE(control_.missing_for_start(harvest::kDetails), "");
    search_.starting_url = kStart;
    EXPECT_EQ(control_.missing_for_start(harvest::kHarvest), "");
    EXPECT_NE(control_.missing_for_start(harvest::kDetails), "");  // the URL is the Harvest tab's
    // A link left unvisited is something to fetch from any tab.
    ItemRecord rec;
    rec.url = "http://site.example/b.html";
    rec.kind = store::KIND_PAGE;
    ASSERT_TRUE(store::open_store(store_));
    ASSERT_GE(store::tree_insert(store_, TreeFile::Links, rec), 0);
    store::close_store(store_);
    EXPECT_EQ(control_.missing_for_start(harvest::kDetails), "");
    // A search fetches its own queries only: the pending link does not make up for a missing
    // name or an unticked engine.
    store::ItemRecord& engine = add_engine("http://engine.example/find?q=$QUERY");
    EXPECT_NE(control_.missing_for_start(harvest::kNameSearch).find("Name"), std::string::npos);
    search_.sought_addresses = "jo@x.org";
    engine.selected = 0;
    EXPECT_NE(control_.missing_for_start(harvest::kWebSearch).find("tick"), std::string::npos);
    engine.selected = 1;
    EXPECT_EQ(control_.missing_for_start(harvest::kWebSearch), "");
}

TEST_F(RunControlTest, StartWhileRunningIsRefused) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    EXPECT_EQ(control_.start_harvest(harvest::kHarvest), 0);
    run_all();
    EXPECT_EQ(completed_fetches().at("/index.html"), 1);
}

// Every Start reads pages the way the setting says at that moment.
TEST_F(RunControlTest, EachStartReadsPagesTheWayTheSettingSays) {
    // Links only the modern reader sees: the class comes before the href.
    network_.serve("10.0.0.1", {"HTTP/1.0 200 OK\r\n\r\n<a class=n href=\"/a.html\">a</a> "
                                "<a class=n href=\"/b.html#top\">b</a>"});
    const struct {
        int32_t setting;
        std::size_t fetches;
    } rows[] = {{0, 1}, {1, 3}, {0, 1}};
    int project = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.setting);
        store::set_project_path(store_, dir_.file("m" + std::to_string(++project) + ".tvp"));
        lists_.links.clear();
        settings_.modern = row.setting;
        const std::size_t sockets = network_.sockets.size();
        ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
        EXPECT_EQ(run_.modern_reader, row.setting != 0);
        run_all();
        EXPECT_EQ(network_.sockets.size() - sockets, row.fetches);
    }
}

// ---- searches and the single page -----------------------------------------------------------

TEST_F(RunControlTest, ASearchFetchesItsQueriesAndResultsAndLeavesEarlierLinksPending) {
    network_.resolve("engine.example", "10.0.0.2");
    network_.resolve("results.example", "10.0.0.3");
    const std::string query = "/find?q=jo%40x.org";
    ScriptedNetwork::Server engine;
    engine.by_target[query] = {"HTTP/1.0 200 OK\r\n\r\n<a href=\"http://results.example/r.html\">"
                               "r</a> <a href=\"/find/help.html\">help</a>"};
    network_.serve("10.0.0.2", engine);
    network_.serve("10.0.0.3", {"HTTP/1.0 200 OK\r\n\r\nWrite to hit@results.example. "
                                "<a href=\"http://results.example/deeper.html\">on</a>"});
    add_engine("http://engine.example/find?q=$QUERY");
    // An earlier harvest left two links; an earlier search stored its query and was cancelled.
    store_pending({"http://site.example/a.html", "http://site.example/b.html",
                   "http://engine.example" + query});
    search_.sought_addresses = "jo@x.org";

    ASSERT_EQ(control_.start_harvest(harvest::kWebSearch), 1);
    run_all();

    EXPECT_EQ(last_status(-1), " Hunt Complete");
    // The query is asked again and its result followed; the engine's own pages and the
    // result's links are not.
    EXPECT_EQ(completed_fetches(), (std::map<std::string, int>{{query, 1}, {"/r.html", 1}}));
    EXPECT_EQ(unvisited_on_disk(), 2);  // a.html and b.html wait for the next harvest
    EXPECT_EQ(stored_urls(TreeFile::Addresses),
              (std::vector<std::string>{"mailto:hit@results.example"}));
}

TEST_F(RunControlTest, TheSinglePageIsFetchedAloneSavedAndHandedToTheBrowser) {
    network_.resolve("engine.example", "10.0.0.2");
    const std::string target = "/dir?who=Jo+Smith";
    ScriptedNetwork::Server engine;
    // A redirect is not followed: the same request is made again and its answer is the page.
    engine.by_target[target] = {"HTTP/1.0 302 Found\r\nLocation: /elsewhere.html\r\n\r\n<p>moved"};
    network_.serve("10.0.0.2", engine);
    store_pending({"http://site.example/a.html"});
    const ItemRecord& dir =
        add_engine("http://engine.example/dir?who=$NAME", store::KIND_PAGE | store::KIND_DIRECTORY);
    search_.person_name = "Jo Smith";
    search_.starting_url.reset();

    ASSERT_EQ(control_.fetch_single_page(dir, harvest::kNameSearch), 1);
    EXPECT_EQ(run_.engine_mode, harvest::kModeSinglePagePending);
    run_all();

    EXPECT_FALSE(control_.running());
    EXPECT_EQ(run_.engine_mode, harvest::kModeHarvest);
    ASSERT_EQ(network_.requests.size(), 2u);
    for (const auto& s : network_.sockets) EXPECT_EQ(s.sent.rfind("GET " + target + " ", 0), 0u);
    EXPECT_EQ(unvisited_on_disk(), 1);  // no other slot took the waiting link
    const std::string page = dir_.file("page.htm");
    std::ifstream saved(page);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "<p>moved");
    EXPECT_EQ(window_.opened_pages, (std::vector<std::string>{"file://" + page}));

    // A page that fails to come opens nothing, not the page of the last fetch.
    network_.serve("10.0.0.2", {"HTTP/1.0 404 Not Found\r\n\r\n"});
    ASSERT_EQ(control_.fetch_single_page(dir, harvest::kNameSearch), 1);
    run_all();
    EXPECT_EQ(window_.opened_pages.size(), 1u);
}

// ---- Cancel and Start again ---------------------------------------------------------------

// Cancelled after a given number of events, one byte per read so that fetches are in flight.
class CancelTest : public RunControlTest, public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(CutPoints, CancelTest, ::testing::Values(3, 12, 40, 150, 400, 900));

TEST_P(CancelTest, CancelThenStartCompletesWithoutFetchingAFinishedLinkTwice) {
    network_.read_limit = 1;
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_, GetParam());
    ASSERT_TRUE(control_.running());

    std::vector<ItemRecord*> held;
    for (auto& s : slots_.slots) {
        if (s.item.item != nullptr && s.state != net::SlotState::Idle) held.push_back(s.item.item);
    }
    if (GetParam() >= 12) {
        ASSERT_FALSE(held.empty());  // the cut falls inside a fetch
    }
    const std::map<std::string, int> before = completed_fetches();

    control_.on_command(cmd::kCancel);  // routed as the Cancel button's command
    EXPECT_FALSE(control_.running());
    EXPECT_EQ(last_status(-1), " Cancelled");
    for (int i = 0; i < settings_.packcount; ++i) EXPECT_EQ(control_.slot_line(i), " Cancelled");
    for (const auto& s : slots_.slots) {
        EXPECT_EQ(s.item.item, nullptr);
        EXPECT_EQ(s.state, net::SlotState::Idle);
    }
    for (ItemRecord* r : held) {
        if (!lists_.links.contains(*r)) continue;  // the starting link is in no list
        EXPECT_EQ(r->status & (store::STATUS_VISITED | store::STATUS_ACTIVE), 0) << *r->url;
    }
    EXPECT_EQ(network_.open_count(), 0u);
    run_all();  // stale events of the cancelled run change nothing
    EXPECT_EQ(completed_fetches(), before);

    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    EXPECT_EQ(control_.slot_line(0), " ");  // Start blanks every line
    run_all();
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    std::map<std::string, int> once;
    for (const auto& p : kSitePaths) once[p] = 1;
    EXPECT_EQ(completed_fetches(), once);
    for (ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
        EXPECT_NE(r->status & store::STATUS_VISITED, 0) << *r->url;
        EXPECT_EQ(r->status & store::STATUS_ACTIVE, 0) << *r->url;
    }
}

// ---- a lower connection count during a run ------------------------------------------------

// Twelve pages that come only as the test lets their bytes through, fetched by ten slots; then
// the count goes down to three while every slot waits for its page.
TEST_F(RunControlTest, SlotsDroppedByALowerCountGiveTheirLinksBackAndTheRunCompletes) {
    std::string index = "HTTP/1.0 200 OK\r\n\r\n<html><body>";
    std::vector<std::string> targets{"/index.html"};
    for (int i = 0; i < 12; ++i) {
        targets.push_back("/p" + std::to_string(i) + ".html");
        index += "<a href=\"" + targets.back() + "\">p</a> ";
    }
    ScriptedNetwork::Server slow{"HTTP/1.0 200 OK\r\n\r\n<html>a page</html>"};
    slow.trickle = true;
    slow.by_target["/index.html"] = {index};
    network_.serve("10.0.0.1", slow);
    settings_.packcount = 10;
    const auto release_all = [&] {
        for (const auto& sock : network_.sockets) {
            if (!sock.closed) network_.release(sock.id, 1 << 16);
        }
        run_all();
    };
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    release_all();  // the index, with the links of the twelve pages
    for (int i = 0; i < 10; ++i) {
        ASSERT_NE(slots_.slots[static_cast<std::size_t>(i)].item.item, nullptr) << i;
    }
    std::vector<ItemRecord*> dropped;
    for (int i = 3; i < 10; ++i) {
        dropped.push_back(slots_.slots[static_cast<std::size_t>(i)].item.item);
    }

    settings_.packcount = 3;
    control_.apply_settings();

    for (int i = 3; i < net::kMaxSlots; ++i) {
        SCOPED_TRACE(i);
        const net::Slot& s = slots_.slots[static_cast<std::size_t>(i)];
        EXPECT_EQ(s.state, net::SlotState::Idle);
        EXPECT_EQ(s.item.item, nullptr);
        if (i < 10) {
            EXPECT_EQ(control_.slot_line(i), " ");
        }
    }
    for (ItemRecord* r : dropped) {
        EXPECT_EQ(r->status & (store::STATUS_VISITED | store::STATUS_ACTIVE), 0) << *r->url;
    }
    EXPECT_EQ(network_.open_count(), 3u);
    // No connection holds a dropped link: its row can be deleted during the run.
    const std::string deleted = *dropped.back()->url;
    std::vector<int32_t> rows{lists_.links.index_of(*dropped.back())};
    // Deleting opens the store again, which restarts the walk of the links file; it goes on
    // from where the run left it, so that only the drop itself can offer the links again.
    const int64_t walked_to = store_.read_position;
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Links, rows), 1);
    store_.read_position = walked_to;
    dropped.pop_back();

    for (int round = 0; round < 20 && control_.running(); ++round) release_all();
    EXPECT_FALSE(control_.running());
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_LE(network_.max_open, 10u);
    // A dropped page was asked for once and its answer cut off; the remaining slots fetch it
    // again, whole, and nothing else twice.
    std::map<std::string, int> once;
    for (const auto& t : targets) once[t] = 1;
    once.erase(deleted.substr(deleted.rfind('/')));
    EXPECT_EQ(completed_fetches(), once);
    for (const auto& rec : stored(TreeFile::Links)) {
        EXPECT_NE(rec->status & store::STATUS_VISITED, 0) << *rec->url;
    }

}

// A search asks again the queries an earlier one stored and never fetched; those sit before
// the links the run walks, so a dropped slot's query must be handed out again some other way.
TEST_F(RunControlTest, ADroppedSlotsEarlierQueryIsStillAskedInTheSameSearch) {
    network_.resolve("engine.example", "10.0.0.2");
    ScriptedNetwork::Server engine{"HTTP/1.0 200 OK\r\n\r\n<html>no results</html>"};
    engine.trickle = true;
    network_.serve("10.0.0.2", engine);
    std::vector<std::string> queries;
    for (int i = 0; i < 3; ++i) {
        const std::string path = "/find" + std::to_string(i);
        add_engine("http://engine.example" + path + "?q=$QUERY");
        queries.push_back(path + "?q=jo%40x.org");
    }
    store_pending({"http://engine.example" + queries[0], "http://engine.example" + queries[1],
                   "http://engine.example" + queries[2]});
    search_.sought_addresses = "jo@x.org";
    ASSERT_EQ(control_.start_harvest(harvest::kWebSearch), 1);
    run_all();
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(slots_.slots[static_cast<std::size_t>(i)].item.item, nullptr) << i;
    }

    settings_.packcount = 1;
    control_.apply_settings();
    for (int round = 0; round < 10 && control_.running(); ++round) {
        for (const auto& sock : network_.sockets) {
            if (!sock.closed) network_.release(sock.id, 1 << 16);
        }
        run_all();
    }

    EXPECT_EQ(last_status(-1), " Hunt Complete");
    std::map<std::string, int> once;
    for (const auto& q : queries) once[q] = 1;
    EXPECT_EQ(completed_fetches(), once);
    EXPECT_EQ(unvisited_on_disk(), 0);
}

// A proxy named while the starting page is being looked up: that fetch goes on as it began,
// straight to the site; the pages found on it go through the proxy.
TEST_F(RunControlTest, AProxyNamedDuringARunServesTheFetchesStartedAfterIt) {
    network_.resolve("proxy.example", "10.0.0.9");
    network_.serve("10.0.0.9", {kSitePage});
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_, 1);  // the first tick: slot 0 looks the site up
    ASSERT_EQ(slots_.slots[0].state, net::SlotState::LookingUp);
    settings_.proxy = "proxy.example";
    settings_.port = 3128;
    control_.apply_settings();
    run_all();

    EXPECT_EQ(last_status(-1), " Hunt Complete");
    ASSERT_EQ(network_.sockets.size(), kSitePaths.size());
    EXPECT_EQ(network_.sockets[0].address, "10.0.0.1");
    EXPECT_EQ(network_.sockets[0].port, 80);
    EXPECT_EQ(network_.requests[0].target, "/index.html");
    for (std::size_t i = 1; i < network_.sockets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(network_.sockets[i].address, "10.0.0.9");
        EXPECT_EQ(network_.sockets[i].port, 3128);
        EXPECT_EQ(network_.requests[i].target.rfind("http://site.example/", 0), 0u);
    }
}

// ---- a reopened project ---------------------------------------------------------------------

TEST_F(RunControlTest, AVisitedLinkOfAReopenedProjectIsDeletedFromTheFile) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    reopen();
    int32_t row = -1;
    for (int32_t i = 0; i < lists_.links.size(); ++i) {
        const ItemRecord& rec = lists_.links.at(i);
        EXPECT_EQ(rec.status & store::STATUS_ACTIVE, 0) << *rec.url;  // no slot holds it now
        if (*rec.url == "http://site.example/a.html") row = i;
    }
    ASSERT_GE(row, 0);
    ASSERT_NE(lists_.links.at(row).status & store::STATUS_VISITED, 0);
    std::vector<int32_t> selected{row};
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Links, selected), 1);
    EXPECT_TRUE(selected.empty());
    const std::vector<std::string> urls = stored_urls(TreeFile::Links);
    EXPECT_EQ(std::count(urls.begin(), urls.end(), "http://site.example/a.html"), 0);
}

TEST_F(RunControlTest, PendingIsTheFilesUnvisitedCountAfterAReopenAndInTheNextRun) {
    network_.read_limit = 1;
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_, 400);
    ASSERT_TRUE(control_.running());
    control_.on_command(cmd::kCancel);
    reopen();
    const int32_t unvisited = unvisited_on_disk();
    ASSERT_GT(unvisited, 0);
    EXPECT_EQ(control_.status_counters().pending, unvisited);

    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    int events = 0;
    network_.run(control_, 1'000'000, [&] {
        if (++events % 25 != 0 || !control_.running()) return;
        // What the run keeps back goes to the disk, so that the file can be read apart.
        ASSERT_TRUE(store_.links.flush());
        ASSERT_TRUE(store::commit(store_));
        EXPECT_EQ(control_.status_counters().pending, unvisited_on_disk()) << events;
    });
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_EQ(control_.status_counters().pending, 0);
    EXPECT_EQ(unvisited_on_disk(), 0);
}

// ---- Reset Link Status --------------------------------------------------------------------

TEST_F(RunControlTest, ResetLinkStatusClearsTheListsStatusButNotTheFile) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    const int32_t rows = lists_.links.row_count;
    ASSERT_GT(rows, 0);
    settings_.modrep = 0;

    window_.answer_yes = false;
    control_.reset_link_status();
    ASSERT_EQ(window_.questions, std::vector<std::string>{std::string(kResetQuestion)});
    EXPECT_NE(listed("http://site.example/a.html")->status & store::STATUS_VISITED, 0);
    EXPECT_EQ(settings_.modrep, 0);
    EXPECT_EQ(shell_.views_cleared_count, 0);

    window_.answer_yes = true;
    control_.reset_link_status();
    EXPECT_EQ(settings_.modrep, 1);
    for (ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
        EXPECT_EQ(r->status, 0) << *r->url;
    }
    EXPECT_EQ(shell_.views_cleared_count, 1);
    EXPECT_EQ(lists_.links.row_count, rows);
    EXPECT_EQ(static_cast<int32_t>(shell_.link_rows.size()), rows);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:office@site.example"});

    // The file keeps its visited marks: a continuing run fetches nothing again.
    const std::size_t sockets = network_.sockets.size();
    ASSERT_EQ(control_.start_harvest(harvest::kDetails), 1);
    run_all();
    EXPECT_EQ(network_.sockets.size(), sockets);
}

TEST_F(RunControlTest, ResetLinkStatusWithAnEmptyViewAsksNothing) {
    control_.reset_link_status();
    EXPECT_TRUE(window_.questions.empty());
    EXPECT_EQ(shell_.views_cleared_count, 0);
}

TEST_F(RunControlTest, ResetLinkStatusDuringARunStopsItAndLeavesNoStopRequest) {
    network_.read_limit = 1;
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_, 400);
    ASSERT_TRUE(control_.running());
    ASSERT_GT(lists_.links.row_count, 0);
    control_.reset_link_status();
    EXPECT_FALSE(control_.running());
    EXPECT_EQ(run_.stop_requested, 0);
}

TEST_F(RunControlTest, AStartingUrlTooLongToStoreIsNotSilentlyDropped) {
    search_.starting_url = "http://site.example/" + std::string(2100, 'a') + ".html";
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    ASSERT_EQ(shell_.errors.size(), 1u);
    EXPECT_NE(shell_.errors[0].find("The starting URL cannot be stored"), std::string::npos);
    EXPECT_NE(shell_.errors[0].find("longer than a stored link may be"), std::string::npos);
    run_all();
    EXPECT_FALSE(control_.running());
    EXPECT_TRUE(network_.sockets.empty());

    // A starting URL that is stored already is no error.
    shell_.errors.clear();
    search_.starting_url = kStart;
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    EXPECT_TRUE(shell_.errors.empty());
}

TEST_F(RunControlTest, ADamagedFileStartsNoHarvestAndSaysSoOnce) {
    // The addresses file is cut where its last node starts, so that its parent's link points
    // at the end of the file: the file can be read but takes nothing new.
    store::close_store(store_);
    int32_t last = -1;
    {
        store::LinkTreeFile file;
        ASSERT_TRUE(file.open(store_.addresses_path));
        ASSERT_EQ(file.insert(store::testing::link("mailto:m@x.example")), 0);
        last = file.insert(store::testing::link("mailto:z@x.example"));
        ASSERT_GT(last, 0);
        ASSERT_TRUE(file.close());
    }
    std::filesystem::resize_file(store_.addresses_path, static_cast<std::uintmax_t>(last));

    EXPECT_EQ(control_.start_harvest(harvest::kHarvest), 0);
    EXPECT_FALSE(control_.running());
    ASSERT_EQ(shell_.errors.size(), 1u);
    EXPECT_NE(shell_.errors[0].find(store_.addresses_path), std::string::npos);
    EXPECT_NE(shell_.errors[0].find("Export what it holds"), std::string::npos);
    run_all();
    EXPECT_TRUE(network_.sockets.empty());
    EXPECT_TRUE(shell_.link_rows.empty());
    // Again, with the files left open: still refused, still told once more.
    EXPECT_EQ(control_.start_harvest(harvest::kHarvest), 0);
    EXPECT_EQ(shell_.errors.size(), 2u);
}

// ---- status lines -------------------------------------------------------------------------

TEST_F(RunControlTest, StatusLinesAreBlankPrefixedCutAndKeptPerSlot) {
    control_.set_slot_status(2, "Reading: 7");
    EXPECT_EQ(shell_.statuses.back(), (std::pair<int, std::string>{2, " Reading: 7"}));
    EXPECT_EQ(control_.slot_line(2), " Reading: 7");
    EXPECT_EQ(shell_.counter_refreshes, 1);

    const std::string longer(200, 'x');
    control_.set_slot_status(1, longer);
    EXPECT_EQ(control_.slot_line(1), " " + std::string(harvest::kMaxStatusLine - 1, 'x'));

    // Every slot in use; slots at or above packcount keep nothing.
    control_.set_slot_status(-1, "All");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(control_.slot_line(i), " All") << i;
    EXPECT_EQ(control_.slot_line(3), "");

    const std::size_t shown = shell_.statuses.size();
    control_.set_slot_status(20, "out of range");
    control_.set_slot_status(-2, "out of range");
    run_.engine_mode = harvest::kModeVersionCheck;
    control_.set_slot_status(0, "vendor");
    EXPECT_EQ(shell_.statuses.size(), shown);
    EXPECT_EQ(control_.slot_line(0), " All");
    run_.engine_mode = harvest::kModeSinglePage;
    control_.set_slot_status(0, "page");
    EXPECT_EQ(control_.slot_line(0), " page");
}

TEST_F(RunControlTest, EngineAndScannerLinesComeFormattedThroughRunControl) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    // Every line the shell saw went through set_slot_status: one leading blank.
    ASSERT_FALSE(shell_.statuses.empty());
    for (const auto& [slot, text] : shell_.statuses) {
        if (!text.empty()) {
            EXPECT_EQ(text.front(), ' ') << slot << ": " << text;
        }
    }
    bool found_line = false;
    for (int i = 0; i < 3; ++i) found_line |= control_.slot_line(i) == " Hunt Complete";
    EXPECT_TRUE(found_line);
}

TEST_F(RunControlTest, StartWhileRunningOpensTheStatusDialogWithLiveCounters) {
    control_.on_command(cmd::kStart);  // idle: Start is not "Status"
    EXPECT_EQ(window_.status_opened, 0);
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    control_.on_command(cmd::kStart);
    EXPECT_EQ(window_.status_opened, 1);

    const int refreshes_before = shell_.counter_refreshes;
    run_all();
    EXPECT_GT(shell_.counter_refreshes, refreshes_before);  // every chunk and line refreshes
    const StatusCounters last = control_.status_counters();
    EXPECT_EQ(last.visited, run_.visited_links);
    EXPECT_EQ(last.bad, run_.bad_links);
    EXPECT_EQ(last.bytes, run_.total_bytes);
    EXPECT_GT(last.bytes, 0);
    EXPECT_EQ(last.pending, 0);  // every stored link was handed out
    // "Hunt Complete" reached every slot line in use, and no line of a slot beyond them.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(control_.slot_line(i), " Hunt Complete") << i;
    EXPECT_EQ(control_.slot_line(3), "");
    // The busy cursor was shown and restored as often.
    EXPECT_EQ(std::count(window_.busy_calls.begin(), window_.busy_calls.end(), true),
              std::count(window_.busy_calls.begin(), window_.busy_calls.end(), false));

    // Pending never goes below zero.
    run_.visited_links = store_.total_links + 5;
    EXPECT_EQ(control_.status_counters().pending, 0);
}

// ---- timers -------------------------------------------------------------------------------

TEST_F(RunControlTest, ActivityMarkerBouncesBetweenTheFieldEnds) {
    control_.on_timer(platform::kActivityTimer);
    EXPECT_TRUE(window_.activity.empty());  // no dialog: nothing shown

    window_.dialog_open = true;
    std::vector<int> positions;
    for (int i = 0; i < 40; ++i) {
        control_.on_timer(platform::kActivityTimer);
        const std::string& text = window_.activity.back();
        ASSERT_EQ(text.size(), 19u);
        positions.push_back(static_cast<int>(text.find(static_cast<char>(127))));
        ASSERT_EQ(text.find_first_not_of(' '), text.find_last_not_of(' '));
    }
    std::vector<int> expected;
    for (int p = 0; p <= 18; ++p) expected.push_back(p);
    for (int p = 17; p >= 0; --p) expected.push_back(p);
    for (int p = 1; expected.size() < 40; ++p) expected.push_back(p);
    EXPECT_EQ(positions, expected);
}

TEST_F(RunControlTest, StopKillsBothTimersAndTellsTheVendorDialogs) {
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    control_.stop_all();
    EXPECT_FALSE(network_.timer_running(platform::kHarvestTimer));
    EXPECT_FALSE(network_.timer_running(platform::kActivityTimer));
    EXPECT_EQ(window_.transfers_ended, 1);
    EXPECT_EQ(env_.run.engine_mode, harvest::kModeHarvest);
    // The posted first tick finds the run stopped and opens nothing.
    run_all();
    EXPECT_TRUE(network_.sockets.empty());
    // What Start seeded: the starting link, unvisited.
    const auto seeded = stored(TreeFile::Links);
    ASSERT_EQ(seeded.size(), 1u);
    EXPECT_EQ(seeded[0]->url, kStart);
    EXPECT_EQ(seeded[0]->title, "Starting URL");
    EXPECT_EQ(seeded[0]->source, "******");
    EXPECT_EQ(seeded[0]->kind, store::KIND_PAGE);
    EXPECT_EQ(seeded[0]->status, 0);
}

// ---- the update host -------------------------------------------------------------------------

// Boxes the update host's answers ask for, and the setup download's end.
class RecordingVendorView : public update::VendorView {
public:
    void show_vendor_message(const update::VendorMessage& message) override {
        messages.push_back(message.text);
    }
    void download_finished(const std::string& path) override { finished.push_back(path); }
    std::vector<std::string> messages;
    std::vector<std::string> finished;
};

class VendorRunTest : public RunControlTest {
protected:
    VendorRunTest() {
        // The update host is reached through the proxy, which needs no look-up of it.
        network_.resolve("proxy.example", "10.0.0.9");
        proxy_.reply = kSitePage;
        settings_.proxy = "proxy.example";
        settings_.port = 3128;
        ctx_.vendor_service.set_view(&view_);
    }
    void serve(const std::string& target, const std::string& reply) {
        proxy_.by_target[target] = {reply};
        network_.serve("10.0.0.9", proxy_);
    }
    int vendor_requests() const {
        return static_cast<int>(std::count_if(
            network_.requests.begin(), network_.requests.end(),
            [](const auto& r) { return r.target.find("tarnvelox.example") != std::string::npos; }));
    }
    ScriptedNetwork::Server proxy_;
    RecordingVendorView view_;
    const std::string check_url_{update::kCheckUrl};
};

// A newer upgrade level announced in the middle of a harvest is noted; the harvest goes on to
// its end, and a later harvest of the same program run asks no more.
TEST_F(VendorRunTest, TheWindowsFirstHarvestAsksOnceAndFetchesEveryPage) {
    serve(check_url_, "HTTP/1.0 200 OK\r\n\r\n#VER1=101;Newer\n#UPGRADE=9\n#MESSAGE=hi\n");
    control_.set_vendor_checks(true);
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    ASSERT_FALSE(network_.requests.empty());
    EXPECT_EQ(network_.requests[0].target, check_url_);
    for (const std::string& path : kSitePaths) {
        EXPECT_EQ(network_.requests_for("http://site.example" + path), 1) << path;
    }
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_EQ(ctx_.vendor.latest_version, 101);
    EXPECT_EQ(settings_.upgradenew, 9);
    EXPECT_EQ(view_.messages, (std::vector<std::string>{"Newer", "hi"}));
    EXPECT_EQ(control_.status_counters().bad, 0);

    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    EXPECT_EQ(vendor_requests(), 1);
}

// The headless harvester never turns the checks on: no request goes to the update host.
TEST_F(VendorRunTest, AHarvestWithoutVendorChecksAsksNothingOfTheUpdateHost) {
    serve(check_url_, "HTTP/1.0 200 OK\r\n\r\n#MESSAGE=hi\n");
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    EXPECT_EQ(vendor_requests(), 0);
    EXPECT_TRUE(view_.messages.empty());
}

// Without a proxy the update host cannot be reached: it is not looked up, and its failure is
// no bad link of the person's.
TEST_F(RunControlTest, AnUnreachableUpdateHostCountsNoBadLink) {
    control_.set_vendor_checks(true);
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    run_all();
    EXPECT_EQ(last_status(-1), " Hunt Complete");
    for (const auto& [id, host] : network_.lookups) EXPECT_EQ(host, "site.example");
    EXPECT_EQ(control_.status_counters().bad, 0);
    EXPECT_EQ(ctx_.vendor.check_counter, 1);
}

// A Cancel leaves the stop request raised until the next Start; the dialog's check must not
// wait for that Start.
TEST_F(VendorRunTest, TheDialogsCheckRunsAfterACancel) {
    serve(check_url_, "HTTP/1.0 200 OK\r\n\r\n#BUILD=7;https://dl.tarnvelox.example/s.run\n");
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    control_.on_command(cmd::kCancel);
    ASSERT_EQ(control_.start_version_check(), 1);
    EXPECT_EQ(env_.run.engine_mode, harvest::kModeVersionCheck);
    run_all();
    EXPECT_EQ(network_.requests_for(check_url_), 1);
    EXPECT_EQ(ctx_.vendor.answers_received, 1);
    EXPECT_EQ(ctx_.vendor.setup_url, "https://dl.tarnvelox.example/s.run");
    EXPECT_FALSE(control_.running());
    EXPECT_EQ(env_.run.engine_mode, harvest::kModeHarvest);
    EXPECT_GE(window_.transfers_ended, 2);
}

TEST_F(VendorRunTest, TheSetupFileIsDownloadedIntoDownloadsAndNamedForDeletion) {
    const std::string url = "https://dl.tarnvelox.example/files/tarnv.ini";
    serve(url, "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    std::ofstream(dir_.file("tarnv.ini")) << "keep";
    EXPECT_EQ(control_.start_vendor_download("http://dl.tarnvelox.example/files/s.run"), 0);
    ASSERT_EQ(control_.start_vendor_download(url), 1);
    run_all();
    EXPECT_EQ(network_.requests_for(url), 1);
    const std::string saved = dir_.file("downloads/tarnv.ini");
    EXPECT_EQ(view_.finished, std::vector<std::string>{saved});
    std::ifstream in(saved);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "body");
    std::ifstream kept(dir_.file("tarnv.ini"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    EXPECT_EQ(settings_.delete_file, "tarnv.ini");
    EXPECT_EQ(env_.run.engine_mode, harvest::kModeHarvest);
}

// Without a setup URL the upgrade mode fetches the index file, which is saved under its own
// name, read, and its announced level taken over.
TEST_F(VendorRunTest, TheIndexDownloadIsSavedReadAndItsLevelTakenOver) {
    serve(std::string(update::kIndexUrl), "HTTP/1.0 200 OK\r\n\r\n%%*01\nnews\n|\n");
    ctx_.vendor.answers_received = 1;  // the check of this run is done
    settings_.upgradenew = 4;
    ASSERT_EQ(control_.start_vendor_download(""), 1);
    run_all();
    EXPECT_EQ(vendor_requests(), 1);
    EXPECT_EQ(settings_.upgrade, 4);
    EXPECT_EQ(ctx_.vendor.index_sections[1], "news\n");
    EXPECT_TRUE(std::filesystem::exists(dir_.file("tarnv.idx")));
    EXPECT_FALSE(settings_.delete_file.has_value());
}

}  // namespace
}  // namespace tarnvelox::app
