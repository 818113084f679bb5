// "Obey robots.txt" in whole harvest runs over the scripted network: run control, the fetch
// engine and response handling as the program wires them, servers answering by request target,
// ticks fired by the test. Every wait is counted in ticks, never in time.

#include "net/politeness.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fakes/scripted_network.h"
#include "harvest/harvest_fixture.h"

namespace tarnvelox::net {
namespace {

using tarnvelox::testing::ScriptedNetwork;

std::string ok(const std::string& body, const std::string& type = "text/html") {
    return "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body;
}
std::string robots(const std::string& rules) { return ok(rules, "text/plain"); }
std::string links_page(const std::vector<std::string>& hrefs, const std::string& extra = "") {
    std::string body = "<html><head><title>t</title></head><body>" + extra;
    for (const std::string& h : hrefs) body += " <a href=\"" + h + "\">x</a>";
    return ok(body + "</body></html>");
}
const std::string kNotFound = "HTTP/1.0 404 Not Found\r\n\r\n<html>missing</html>";
const std::string kServerError = "HTTP/1.0 500 Internal Server Error\r\n\r\n";

class PolitenessTest : public harvest::testing::HarvestFixture {
protected:
    PolitenessTest() {
        settings_.packcount = 4;
        settings_.timeout = 1000;  // one tick a second: waits in seconds are waits in ticks
        settings_.robots = 1;
        net_.folder = dir_.path();
        network_.resolve("site.example", "10.0.0.1");
        search_.starting_url = "http://site.example/index.html";
    }

    // Serves `by_target` at `address`; anything else is not found.
    void serve(const std::string& address,
               std::map<std::string, std::vector<std::string>> by_target,
               ScriptedNetwork::End end = ScriptedNetwork::End::Close) {
        ScriptedNetwork::Server server;
        server.reply = kNotFound;
        server.end = end;
        server.by_target = std::move(by_target);
        network_.serve(address, std::move(server));
    }

    void tick() {
        ++ticks_;
        network_.fire(control_, platform::kHarvestTimer, false, note_requests_);
    }
    // Starts a run and fires ticks until it ends (bounded).
    void run(int32_t tab = harvest::kHarvest) {
        ASSERT_EQ(control_.start_harvest(tab), 1);
        network_.run(control_, 10'000'000, note_requests_);
        for (int i = 0; i < 500 && control_.running(); ++i) tick();
        ASSERT_FALSE(control_.running()) << "the run did not end";
        // A run whose every page failed says why after it.
        EXPECT_TRUE(ctx_.status.line(0).starts_with(" Hunt Complete")) << ctx_.status.line(0);
    }
    // The ticks at which `target` was asked for, in order.
    std::vector<int> asked_at(const std::string& target) const {
        std::vector<int> at;
        for (const auto& [t, when] : sent_at_) {
            if (t == target) at.push_back(when);
        }
        return at;
    }
    // The status word of every stored link, by URL.
    std::map<std::string, int32_t> stored_status() {
        std::map<std::string, int32_t> out;
        for (const auto& rec : stored(store::TreeFile::Links)) out[*rec->url] = rec->status;
        return out;
    }
    bool saw(const std::string& text) const {
        for (const auto& [slot, line] : shell_.statuses) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

    app::Settings& settings_ = ctx_.settings;
    NetEnv& net_ = ctx_.net;
    ScriptedNetwork network_;
    app::NullRunWindow window_;
    app::HarvestRun& control_ = ctx_.attach(network_, network_, window_);
    int ticks_ = 0;
    std::vector<std::pair<std::string, int>> sent_at_;  // request target, tick
    std::function<void()> note_requests_ = [this] {
        while (sent_at_.size() < network_.requests.size()) {
            sent_at_.emplace_back(network_.requests[sent_at_.size()].target, ticks_);
        }
    };
};

constexpr int32_t kUnvisited = 0;

TEST_F(PolitenessTest, RobotsTxtComesFirstAndForbiddenLinksAreNeverAsked) {
    serve("10.0.0.1",
          {{"/robots.txt",
            {robots("User-agent: *\nDisallow: /private/\nDisallow: /*.shtml$\n"
                    "User-agent: OtherBot\nDisallow: /\n")}},
           {"/index.html",
            {links_page({"/a.html", "/private/x.html", "/private/y.html", "/news.shtml",
                         "/news.shtml.html"},
                        "office@site.example")}},
           {"/a.html", {links_page({"/b.html", "/private/z.html"})}},
           {"/b.html", {links_page({})}},
           {"/news.shtml.html", {links_page({})}}});
    run();

    ASSERT_FALSE(network_.requests.empty());
    EXPECT_EQ(network_.requests.front().target, "/robots.txt");
    EXPECT_EQ(network_.requests_for("/robots.txt"), 1);
    for (const char* allowed : {"/index.html", "/a.html", "/b.html", "/news.shtml.html"}) {
        EXPECT_EQ(network_.requests_for(allowed), 1) << allowed;
    }
    const char* forbidden[] = {"/private/x.html", "/private/y.html", "/private/z.html",
                               "/news.shtml"};
    for (const char* path : forbidden) EXPECT_EQ(network_.requests_for(path), 0) << path;
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:office@site.example"});

    // Forbidden links stay as stored: not visited, not bad, not counted.
    const auto status = stored_status();
    for (const char* path : forbidden) {
        EXPECT_EQ(status.at("http://site.example" + std::string(path)), kUnvisited) << path;
    }
    EXPECT_EQ(run_.bad_links, 0);
    EXPECT_EQ(run_.visited_links, 4);
    EXPECT_TRUE(saw("Disallowed by robots.txt (http://site.example/private/x.html)"));

    // With the setting off the next run fetches them, and asks for no robots.txt.
    settings_.robots = 0;
    run(harvest::kDetails);
    for (const char* path : forbidden) EXPECT_EQ(network_.requests_for(path), 1) << path;
    EXPECT_EQ(network_.requests_for("/robots.txt"), 1);
}

TEST_F(PolitenessTest, EachSiteHasItsOwnRobotsTxtAskedOnce) {
    network_.resolve("other.example", "10.0.0.2");
    network_.resolve("moved.example", "10.0.0.3");
    serve("10.0.0.1",
          {{"/robots.txt", {kNotFound}},  // no robots.txt: everything allowed
           {"/index.html",
            {links_page({"/a.html", "http://other.example:8080/o1.html",
                         "http://other.example:8080/o2.html", "http://moved.example/m.html",
                         "http://moved.example/n.html"})}},
           {"/a.html", {links_page({"/index.html"})}}});
    // A robots.txt for this crawler alone, which every other crawler may ignore.
    serve("10.0.0.2",
          {{"/robots.txt", {robots("User-agent: *\nAllow: /\n\nUser-agent: tarnvelox\n"
                                   "Disallow: /o2\n")}},
           {"/o1.html", {links_page({})}}});
    // A robots.txt that has moved (relative Location), once.
    serve("10.0.0.3", {{"/robots.txt",
                        {"HTTP/1.0 301 Moved\r\nLocation: /new-robots.txt\r\n\r\n"}},
                       {"/new-robots.txt", {robots("User-agent: *\nDisallow: /n\n")}},
                       {"/m.html", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/robots.txt"), 3);  // one per site
    EXPECT_EQ(network_.requests_for("/new-robots.txt"), 1);
    for (const char* path : {"/index.html", "/a.html", "/o1.html", "/m.html"}) {
        EXPECT_EQ(network_.requests_for(path), 1) << path;
    }
    EXPECT_EQ(network_.requests_for("/o2.html"), 0);
    EXPECT_EQ(network_.requests_for("/n.html"), 0);
    // The other site was asked on its own port.
    for (const auto& s : network_.sockets) {
        if (s.address == "10.0.0.2") {
            EXPECT_EQ(s.port, 8080);
        }
    }
}

// A redirect's target is a new link like any other: judged before it is fetched.
TEST_F(PolitenessTest, RedirectToAForbiddenPathIsNotFollowed) {
    serve("10.0.0.1",
          {{"/robots.txt", {robots("User-agent: *\nDisallow: /private/\n")}},
           {"/index.html", {links_page({"/old.html"})}},
           {"/old.html",
            {"HTTP/1.0 301 Moved Permanently\r\nLocation: /private/new.html\r\n\r\n"}},
           {"/private/new.html", {links_page({})}}});
    run();
    EXPECT_EQ(network_.requests_for("/old.html"), 1);
    EXPECT_EQ(network_.requests_for("/private/new.html"), 0);
    EXPECT_EQ(stored_status().at("http://site.example/private/new.html"), kUnvisited);
}

// A robots.txt that moves to another host is read there, and its rules hold for the site that
// was asked; one that moves more often than kMaxRobotsRedirects times in a row is taken as
// missing: everything is allowed, as for a 404.
TEST_F(PolitenessTest, RobotsTxtMovesAreFollowedAFewTimes) {
    network_.resolve("rules.example", "10.0.0.2");
    network_.resolve("loop.example", "10.0.0.3");
    serve("10.0.0.1",
          {{"/robots.txt",
            {"HTTP/1.0 301 Moved\r\nLocation: http://rules.example/site-robots.txt\r\n\r\n"}},
           {"/index.html",
            {links_page({"/private/x.html", "/a.html", "http://loop.example/private/y.html"})}},
           {"/a.html", {links_page({})}}});
    serve("10.0.0.2",
          {{"/site-robots.txt", {robots("User-agent: *\nDisallow: /private/\n")}}});
    serve("10.0.0.3",
          {{"/robots.txt", {"HTTP/1.0 302 Found\r\nLocation: /robots.txt\r\n\r\n"}},
           {"/private/y.html", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/site-robots.txt"), 1);
    EXPECT_EQ(network_.requests_for("/a.html"), 1);
    EXPECT_EQ(network_.requests_for("/private/x.html"), 0);
    int loop_asked = 0;
    for (const auto& r : network_.requests) {
        if (r.address == "10.0.0.3" && r.target == "/robots.txt") ++loop_asked;
    }
    EXPECT_EQ(loop_asked, kMaxRobotsRedirects + 1);
    EXPECT_EQ(network_.requests_for("/private/y.html"), 1);
    EXPECT_TRUE(saw("No robots.txt: all allowed (http://loop.example/robots.txt)"));
}

// Pages of a site with a Crawl-delay, and how far apart (in ticks) they were asked for.
struct DelayRun {
    std::size_t most_open = 0;
    std::vector<int> page_ticks;
};

class CrawlDelayTest : public PolitenessTest {
protected:
    DelayRun crawl(const std::string& robots_txt) {
        std::vector<std::string> pages;
        std::map<std::string, std::vector<std::string>> site{{"/robots.txt", {robots(robots_txt)}}};
        for (int i = 0; i < 6; ++i) {
            pages.push_back("/p" + std::to_string(i) + ".html");
            site[pages.back()] = {links_page({})};
        }
        site["/index.html"] = {links_page(pages)};
        serve("10.0.0.1", site);
        run();
        DelayRun out;
        out.most_open = network_.max_open;
        for (const auto& [target, tick] : sent_at_) {
            if (target != "/robots.txt") out.page_ticks.push_back(tick);
        }
        EXPECT_EQ(out.page_ticks.size(), 7u);
        return out;
    }
};

TEST_F(CrawlDelayTest, CrawlDelayAllowsOneConnectionAndWaitsBetweenPages) {
    const DelayRun r = crawl("User-agent: *\nCrawl-delay: 2\n");
    EXPECT_EQ(r.most_open, 1u);
    for (std::size_t i = 1; i < r.page_ticks.size(); ++i) {
        EXPECT_GE(r.page_ticks[i] - r.page_ticks[i - 1], 2) << "page " << i;
    }
}

// The same site without a delay is fetched over several connections at once: the test above
// would see it if the limit were lost.
// A Crawl-delay past the cap waits the cap: the run ends, the pages still one at a time.
TEST_F(CrawlDelayTest, CrawlDelayAboveTheCapWaitsTheCap) {
    const DelayRun r = crawl("User-agent: *\nCrawl-delay: 3600\n");
    const int cap_ticks = static_cast<int>(kMaxCrawlDelayMs / settings_.timeout);
    EXPECT_EQ(r.most_open, 1u);
    for (std::size_t i = 1; i < r.page_ticks.size(); ++i) {
        EXPECT_GE(r.page_ticks[i] - r.page_ticks[i - 1], cap_ticks) << "page " << i;
        EXPECT_LE(r.page_ticks[i] - r.page_ticks[i - 1], cap_ticks + 2) << "page " << i;
    }
}

TEST_F(CrawlDelayTest, WithoutCrawlDelayPagesGoTogether) {
    const DelayRun r = crawl("User-agent: *\nDisallow: /nothing\n");
    EXPECT_GT(r.most_open, 1u);
    EXPECT_EQ(r.page_ticks.front(), r.page_ticks.back());
}

// Without the in-memory list the held records are the only copies, and the frontier's second
// pass can offer a held link again: each page is still fetched once.
TEST_F(PolitenessTest, WithoutTheListHeldLinksAreFetchedOnce) {
    maxlist_ = 0;
    network_.resolve("slow.example", "10.0.0.2");
    std::vector<std::string> links;
    std::map<std::string, std::vector<std::string>> fast{{"/robots.txt", {kNotFound}}};
    std::map<std::string, std::vector<std::string>> slow{
        {"/robots.txt", {robots("User-agent: *\nCrawl-delay: 1\n")}}};
    for (int i = 0; i < 4; ++i) {
        const std::string n = std::to_string(i);
        links.push_back("/a" + n + ".html");
        links.push_back("http://slow.example/b" + n + ".html");
        fast["/a" + n + ".html"] = {links_page({})};
        slow["/b" + n + ".html"] = {links_page({})};
    }
    fast["/index.html"] = {links_page(links)};
    serve("10.0.0.1", fast);
    serve("10.0.0.2", slow);
    run();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(network_.requests_for("/a" + std::to_string(i) + ".html"), 1) << i;
        EXPECT_EQ(network_.requests_for("/b" + std::to_string(i) + ".html"), 1) << i;
    }
    EXPECT_EQ(run_.visited_links, 9);
}

TEST_F(PolitenessTest, UnansweredRobotsTxtIsAskedAgainThenTheSiteIsSkipped) {
    // A 500, a connection that fails before any byte, a 503: three times nothing usable.
    serve("10.0.0.1",
          {{"/robots.txt",
            {kServerError, "", "HTTP/1.0 503 Service Unavailable\r\n\r\n"}},
           {"/index.html", {links_page({})}}},
          ScriptedNetwork::End::Error);
    run();

    const std::vector<int> asked = asked_at("/robots.txt");
    ASSERT_EQ(asked.size(), static_cast<std::size_t>(kMaxRobotsAttempts));
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_GE(asked[i] - asked[i - 1], kRobotsRetryTicks);
    }
    EXPECT_EQ(network_.requests_for("/index.html"), 0);
    EXPECT_EQ(stored_status().at("http://site.example/index.html"), kUnvisited);
    EXPECT_EQ(run_.bad_links, 0);
    EXPECT_EQ(run_.visited_links, 0);
    EXPECT_TRUE(saw("robots.txt unreachable: site skipped"));
}

// A site skipped because its robots.txt could not be read is told with the reason of its last
// try and the count of its links left, whatever the failure was.
TEST_F(PolitenessTest, SkippedSiteSaysWhyItsRobotsTxtCouldNotBeRead) {
    struct Row {
        const char* reason;
        std::string reply;
        ScriptedNetwork::End end;
        int connect_error;
    };
    const Row rows[] = {
        {"Connection Refused", "", ScriptedNetwork::End::Close, platform::kConnectionRefused},
        {"HTTP 500", kServerError, ScriptedNetwork::End::Close, 0},
        {"Winsock Error (10054)", "", ScriptedNetwork::End::Error, 0},
        {"no answer in time", "", ScriptedNetwork::End::Stall, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason);
        ScriptedNetwork::Server server;
        server.reply = row.reply;
        server.end = row.end;
        server.connect_error = row.connect_error;
        network_.serve("10.0.0.1", server);
        run();
        const std::vector<Politeness::LeftSite> left = net_.politeness->left_sites();
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].why, "robots.txt of site.example:80 could not be read (" +
                                   std::string(row.reason) +
                                   "); its links are left for a later run");
        EXPECT_EQ(left[0].links, 1);
        EXPECT_EQ(network_.requests_for("/index.html"), 0);
    }
}

// A robots.txt answered "too many requests" is no permission: nothing of the site is asked
// for until it is read, and then nothing it forbids. A Retry-After longer than the usual
// retry is waited for.
TEST_F(PolitenessTest, TooManyRequestsForRobotsTxtHoldsTheSiteUntilItIsRead) {
    const std::string allowed = robots("User-agent: *\nDisallow: /private\n");
    const int64_t kLongWait = 3 * kRobotsRetryTicks;
    struct Row {
        const char* name;
        std::string busy;
        int64_t least_gap;
    };
    const Row rows[] = {
        {"no Retry-After", "HTTP/1.0 429 Too Many Requests\r\n\r\n", kRobotsRetryTicks},
        {"Retry-After", "HTTP/1.0 429 Too Many Requests\r\nRetry-After: " +
                            std::to_string(kLongWait) + "\r\n\r\n",
         kLongWait},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A site of its own for each row.
        const std::string host = "s" + std::to_string(++n) + ".example";
        const std::string address = "10.0.1." + std::to_string(n);
        network_.resolve(host, address);
        search_.starting_url = "http://" + host + "/index.html";
        serve(address, {{"/robots.txt", {row.busy, allowed}},
                        {"/index.html", {links_page({"/private/x.html", "/open.html"})}},
                        {"/open.html", {links_page({})}}});
        run();
        // What this row's site was asked for, with the tick of each (in order).
        std::vector<std::pair<std::string, int>> site_asked;
        for (std::size_t i = 0; i < network_.requests.size(); ++i) {
            if (network_.requests[i].address == address) site_asked.push_back(sent_at_[i]);
        }
        ASSERT_EQ(site_asked.size(), 4u);
        EXPECT_EQ(site_asked[0].first, "/robots.txt");
        EXPECT_EQ(site_asked[1].first, "/robots.txt");
        EXPECT_GE(site_asked[1].second - site_asked[0].second, row.least_gap);
        EXPECT_EQ(site_asked[2].first, "/index.html");
        EXPECT_EQ(site_asked[3].first, "/open.html");  // and never /private/x.html
        EXPECT_TRUE(net_.politeness->left_sites().empty());
    }
}

TEST_F(PolitenessTest, ServerErrorThenRobotsTxtFetchesThePagesAfterTheWait) {
    serve("10.0.0.1",
          {{"/robots.txt", {kServerError, robots("User-agent: *\nDisallow: /no.html\n")}},
           {"/index.html", {links_page({"/yes.html", "/no.html"})}},
           {"/yes.html", {links_page({})}}});
    run();

    const std::vector<int> asked = asked_at("/robots.txt");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked[1] - asked[0], kRobotsRetryTicks);
    ASSERT_EQ(asked_at("/index.html").size(), 1u);
    EXPECT_GE(asked_at("/index.html")[0], asked[1]);
    EXPECT_EQ(network_.requests_for("/yes.html"), 1);
    EXPECT_EQ(network_.requests_for("/no.html"), 0);
}

// What the rules judge is what is sent: a path up to its first colon, to the port a colon in
// the path names, that port's own robots.txt asked first.
TEST_F(PolitenessTest, RulesJudgeTheRequestAsItIsSent) {
    serve("10.0.0.1",
          {{"/robots.txt", {robots("User-agent: *\nDisallow: /wiki/File$\n")}},
           {"/index.html", {links_page({"/wiki/File:X", "/wiki/Page:Y", "/clock/12:30"})}},
           {"/wiki/Page", {links_page({})}},
           {"/clock/12", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/wiki/File"), 0);  // the request "/wiki/File:X" makes
    EXPECT_EQ(network_.requests_for("/wiki/Page"), 1);
    std::vector<std::string> on_port_30;
    for (const ScriptedNetwork::Socket& s : network_.sockets) {
        if (s.port != 30) continue;
        const std::size_t start = s.sent.find(' ') + 1;
        on_port_30.push_back(s.sent.substr(start, s.sent.find(' ', start) - start));
    }
    EXPECT_EQ(on_port_30, (std::vector<std::string>{"/robots.txt", "/clock/12"}));
    EXPECT_EQ(network_.requests_for("/robots.txt"), 2);
}

// A typed starting URL without a scheme is still sent to its host, and judged as such; a link
// that names no host a robots.txt could be asked of is not fetched while the setting is on.
TEST_F(PolitenessTest, UrlsWithoutASchemeAreJudgedToo) {
    search_.starting_url = "//site.example/private/start.html";
    serve("10.0.0.1", {{"/robots.txt", {robots("User-agent: *\nDisallow: /private/\n")}},
                       {"/private/start.html", {links_page({})}}});
    run();
    EXPECT_EQ(network_.requests_for("/robots.txt"), 1);
    EXPECT_EQ(network_.requests_for("/private/start.html"), 0);
    EXPECT_EQ(stored_status().at("//site.example/private/start.html"), kUnvisited);
}

// A robots.txt is read only when it came whole: one cut short could have lost its Disallow
// lines. Here the first answer stops before its Content-Length, the second inside its header;
// the third is whole.
TEST_F(PolitenessTest, RobotsTxtCutShortIsAskedAgain) {
    const std::string whole = "User-agent: *\nAllow: /index.html\nDisallow: /private/\n";
    const std::string cut = "User-agent: *\nAllow: /index.html\n";
    serve("10.0.0.1",
          {{"/robots.txt",
            {"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(whole.size()) +
                 "\r\n\r\n" + cut,
             "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n", robots(whole)}},
           {"/index.html", {links_page({"/private/x.html", "/yes.html"})}},
           {"/yes.html", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/robots.txt"), 3);
    EXPECT_EQ(network_.requests_for("/index.html"), 1);
    EXPECT_EQ(network_.requests_for("/yes.html"), 1);
    EXPECT_EQ(network_.requests_for("/private/x.html"), 0);
    EXPECT_TRUE(saw("robots.txt cut short: retried later"));
}

// A header that ends in bare line feeds is a header all the same.
TEST_F(PolitenessTest, RobotsTxtWithBareLineFeedsIsRead) {
    serve("10.0.0.1",
          {{"/robots.txt",
            {"HTTP/1.0 200 OK\nContent-Type: text/plain\nContent-Length: 34\n\n"
             "User-agent: *\nDisallow: /private/\n"}},
           {"/index.html", {links_page({"/private/x.html", "/yes.html"})}},
           {"/yes.html", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/robots.txt"), 1);
    EXPECT_EQ(network_.requests_for("/yes.html"), 1);
    EXPECT_EQ(network_.requests_for("/private/x.html"), 0);
}

// The modern way decodes a gzip-coded robots.txt: its Content-Length counts the coded bytes,
// which for a short file are more than the decoded ones, and the file came whole all the same.
TEST_F(PolitenessTest, ShortGzipCodedRobotsTxtIsReadTheModernWay) {
    // "User-agent: *\nDisallow: /private/\n" (34 bytes) gzip-coded in 54.
    const std::string coded(
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x0b\x2d\x4e\x2d\xd2\x4d\x4c\x4f\xcd\x2b\xb1"
        "\x52\xd0\xe2\x72\xc9\x2c\x4e\xcc\xc9\xc9\x2f\xb7\x52\xd0\x2f\x28\xca\x2c\x4b\x2c\x49"
        "\xd5\xe7\x02\x00\x61\x29\x8f\x77\x22\x00\x00\x00",
        54);
    settings_.modern = 1;
    serve("10.0.0.1",
          {{"/robots.txt",
            {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Encoding: gzip\r\n"
             "Content-Length: 54\r\n\r\n" + coded}},
           {"/index.html", {links_page({"/private/x.html", "/yes.html"})}},
           {"/yes.html", {links_page({})}}});
    run();

    EXPECT_EQ(network_.requests_for("/robots.txt"), 1);
    EXPECT_EQ(network_.requests_for("/yes.html"), 1);
    EXPECT_EQ(network_.requests_for("/private/x.html"), 0);
}

class UncleanEndTest : public PolitenessTest,
                       public ::testing::WithParamInterface<ScriptedNetwork::End> {};

// A robots.txt whose connection fails after some bytes (a read error, or silence until the
// abort) may have lost its end: it is no answer, however much came. The classic way, then the
// modern way, where a body without a length is read until the connection ends.
TEST_P(UncleanEndTest, RobotsTxtThatDoesNotEndCleanlyIsNoAnswer) {
    serve("10.0.0.1",
          {{"/robots.txt", {robots("User-agent: *\nAllow: /index.html\n")}},  // Disallow lost
           {"/index.html", {links_page({"/private/x.html"})}},
           {"/private/x.html", {links_page({})}}},
          GetParam());
    for (const int32_t modern : {0, 1}) {
        SCOPED_TRACE(modern != 0 ? "modern" : "classic");
        settings_.modern = modern;
        shell_.statuses.clear();
        const int asked = network_.requests_for("/robots.txt");
        run();

        EXPECT_EQ(network_.requests_for("/robots.txt") - asked, kMaxRobotsAttempts);
        EXPECT_EQ(network_.requests_for("/index.html"), 0);
        EXPECT_EQ(network_.requests_for("/private/x.html"), 0);
        EXPECT_TRUE(saw("robots.txt unreachable: site skipped"));
        EXPECT_EQ(run_.bad_links, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(ReadErrorOrAbort, UncleanEndTest,
                         ::testing::Values(ScriptedNetwork::End::Error,
                                           ScriptedNetwork::End::Stall),
                         [](const auto& info) {
                             return info.param == ScriptedNetwork::End::Error ? "ReadError"
                                                                              : "Abort";
                         });

std::string busy_answer(int64_t seconds) {
    return "HTTP/1.0 503 Service Unavailable\r\nRetry-After: " + std::to_string(seconds) +
           "\r\n\r\n";
}

TEST_F(PolitenessTest, RetryAfterPutsTheLinkBackInsteadOfFailingIt) {
    serve("10.0.0.1",
          {{"/robots.txt", {kNotFound}},
           {"/index.html", {links_page({"/busy.html"})}},
           // Seconds, then an HTTP date two seconds after the answer's own date, then the page.
           {"/busy.html",
            {busy_answer(3),
             "HTTP/1.0 429 Too Many Requests\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
             "Retry-After: Sun, 06 Nov 1994 08:49:39 GMT\r\n\r\n",
             links_page({}, "busy@site.example")}}});
    run();

    const std::vector<int> busy = asked_at("/busy.html");
    ASSERT_EQ(busy.size(), 3u);
    EXPECT_GE(busy[1] - busy[0], 3);
    EXPECT_GE(busy[2] - busy[1], 2);
    EXPECT_EQ(shell_.address_rows, std::vector<std::string>{"mailto:busy@site.example"});
    const auto status = stored_status();
    EXPECT_EQ(status.at("http://site.example/busy.html") & store::STATUS_BAD, 0);
    EXPECT_NE(status.at("http://site.example/busy.html") & store::STATUS_VISITED, 0);
    EXPECT_EQ(run_.bad_links, 0);
    EXPECT_TRUE(saw("Server busy: asked again in 3 s (http://site.example/busy.html)"));
}

// One link that is always busy while the rest of its site answers: put back kMaxPutBacks
// times, then failed as any such answer is.
TEST_F(PolitenessTest, ALinkIsPutBackABoundedNumberOfTimes) {
    std::vector<std::string> links{"/always.html"};
    std::map<std::string, std::vector<std::string>> site{{"/robots.txt", {kNotFound}},
                                                         {"/always.html", {busy_answer(1)}}};
    for (int i = 0; i < 9; ++i) {
        links.push_back("/p" + std::to_string(i) + ".html");
        site[links.back()] = {links_page({})};
    }
    site["/index.html"] = {links_page(links)};
    serve("10.0.0.1", site);
    run();

    EXPECT_EQ(network_.requests_for("/always.html"), kMaxPutBacks + 1);
    EXPECT_NE(stored_status().at("http://site.example/always.html") & store::STATUS_BAD, 0);
    EXPECT_EQ(run_.bad_links, 1);
    for (std::size_t i = 1; i < links.size(); ++i) {
        EXPECT_EQ(network_.requests_for(links[i]), 1) << links[i];
    }
}

// A site that answers every page "busy" is left after a few such answers in a row: its links
// are not put back one after another for hours.
TEST_F(PolitenessTest, ASiteThatStaysBusyIsLeftForALaterRun) {
    constexpr int64_t kWait = 5;
    network_.resolve("busy.example", "10.0.0.2");
    std::vector<std::string> links;
    for (int i = 0; i < 20; ++i) links.push_back("http://busy.example/b" + std::to_string(i));
    serve("10.0.0.1", {{"/robots.txt", {kNotFound}}, {"/index.html", {links_page(links)}}});
    ScriptedNetwork::Server busy;
    busy.reply = busy_answer(kWait);
    busy.by_target = {{"/robots.txt", {kNotFound}}};
    network_.serve("10.0.0.2", busy);
    run();

    // The answers of the fetches under way when the site was left are the most beyond the
    // bound; no link was asked for again.
    int asked = 0;
    for (const auto& r : network_.requests) {
        if (r.address == "10.0.0.2" && r.target != "/robots.txt") ++asked;
    }
    EXPECT_GE(asked, kMaxBusyInRow);
    EXPECT_LE(asked, kMaxBusyInRow + settings_.packcount - 1);
    EXPECT_LE(ticks_, kMaxBusyInRow * (kWait + 2));
    const auto status = stored_status();
    for (const std::string& link : links) EXPECT_EQ(status.at(link), kUnvisited) << link;
    EXPECT_EQ(run_.bad_links, 0);
    EXPECT_TRUE(saw("Server busy 3 times in a row: site left for a later run"));
    const std::vector<Politeness::LeftSite> left = net_.politeness->left_sites();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].why,
              "busy.example:80 answered busy 3 times in a row; its links are left for a later run");
    EXPECT_EQ(left[0].links, static_cast<int32_t>(links.size()));
}

// A long Retry-After leaves the site; the busy answers of its fetches still under way do not
// put their links back (into a site that is no longer fetched from).
TEST_F(PolitenessTest, RetryAfterBeyondTheBoundLeavesTheSiteForALaterRun) {
    serve("10.0.0.1",
          {{"/robots.txt", {kNotFound}},
           {"/index.html", {links_page({"/long.html", "/short1.html", "/short2.html"})}},
           {"/long.html", {busy_answer(kMaxRetryAfterSeconds + 1)}},
           {"/short1.html", {busy_answer(1)}},
           {"/short2.html", {busy_answer(1)}}});
    run();
    const auto status = stored_status();
    for (const char* path : {"/long.html", "/short1.html", "/short2.html"}) {
        EXPECT_EQ(network_.requests_for(path), 1) << path;
        EXPECT_EQ(status.at("http://site.example" + std::string(path)), kUnvisited) << path;
    }
    EXPECT_EQ(run_.bad_links, 0);
}

TEST_F(PolitenessTest, CancelLetsHeldLinksGoForTheNextRun) {
    serve("10.0.0.1", {{"/robots.txt", {""}}, {"/index.html", {links_page({})}}},
          ScriptedNetwork::End::Stall);  // the robots.txt never comes
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_);
    tick();
    ASSERT_TRUE(control_.running());
    store::ItemRecord* start = lists_.links.head();
    ASSERT_NE(start, nullptr);
    EXPECT_NE(start->status & store::STATUS_ACTIVE, 0);  // held, safe from the list's trimming
    EXPECT_EQ(run_.visited_links, 0);                      // but not fetched yet

    control_.cancel_harvest();
    EXPECT_EQ(start->status & (store::STATUS_VISITED | store::STATUS_ACTIVE), 0);
    EXPECT_EQ(run_.visited_links, 0);
    EXPECT_EQ(network_.requests_for("/index.html"), 0);

    settings_.robots = 0;
    run(harvest::kDetails);
    EXPECT_EQ(network_.requests_for("/index.html"), 1);
}

// A list of two rows while a Crawl-delay site holds many links: the list is trimmed under the
// held records, which it must never free. A Cancel lets them go, and a later run fetches each
// page that was not fetched, once.
TEST_F(PolitenessTest, HeldLinksSurviveTrimmingAndCancel) {
    maxlist_ = 2;
    std::vector<std::string> pages;
    std::map<std::string, std::vector<std::string>> site{
        {"/robots.txt", {robots("User-agent: *\nCrawl-delay: 2\n")}}};
    for (int i = 0; i < 12; ++i) {
        pages.push_back("/p" + std::to_string(i) + ".html");
        // Each page finds two links of its own, which the list takes and trims.
        site[pages.back()] = {links_page({"/q" + std::to_string(2 * i) + ".html",
                                          "/q" + std::to_string(2 * i + 1) + ".html"})};
    }
    site["/index.html"] = {links_page(pages)};
    serve("10.0.0.1", site);
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_, 10'000'000, note_requests_);
    for (int i = 0; i < 12 && control_.running(); ++i) tick();
    ASSERT_TRUE(control_.running());
    int fetched = 0;
    for (const std::string& page : pages) fetched += network_.requests_for(page);
    ASSERT_GT(fetched, 1);
    ASSERT_LT(fetched, static_cast<int>(pages.size()));  // some are still held
    EXPECT_FALSE(shell_.removed_rows.empty());             // and the list was trimmed
    // Every page not asked for yet is held: in the list, taken.
    std::map<std::string, store::ItemRecord*> listed;
    for (store::ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
        listed[*r->url] = r;
    }
    std::vector<store::ItemRecord*> held;
    for (const std::string& page : pages) {
        if (network_.requests_for(page) != 0) continue;
        const auto it = listed.find("http://site.example" + page);
        ASSERT_NE(it, listed.end()) << page;
        EXPECT_NE(it->second->status & store::STATUS_ACTIVE, 0) << page;
        held.push_back(it->second);
    }

    control_.cancel_harvest();
    for (const store::ItemRecord* r : held) {
        EXPECT_EQ(r->status & (store::STATUS_ACTIVE | store::STATUS_VISITED), 0) << *r->url;
    }
    for (store::ItemRecord* r = lists_.links.head(); r != nullptr; r = r->next.get()) {
        EXPECT_EQ(r->status & store::STATUS_ACTIVE, 0) << *r->url;
    }

    settings_.robots = 0;
    run(harvest::kDetails);
    for (const std::string& page : pages) EXPECT_EQ(network_.requests_for(page), 1) << page;
}

// The site and path judged are those of the request as it is sent, quirks and all.
TEST(RequestSiteTest, SiteAndPathOfTheRequestSent) {
    struct Row {
        const char* url;
        const char* proxy;
        const char* key;
        const char* robots_url;
        const char* path;
    };
    const Row rows[] = {
        {"http://Site.Example/a/b.html?q=1#top", "", "http://site.example:80",
         "http://site.example/robots.txt", "/a/b.html?q=1"},
        {"HTTPS://site.example:8443", "", "https://site.example:8443",
         "https://site.example:8443/robots.txt", "/"},
        // The port is read after the first colon, the user-info's here: it is not a number.
        {"https://user:pw@site.example:8443/", "", "https://site.example:443",
         "https://site.example/robots.txt", "/"},
        {"http://site.example:0/p", "", "http://site.example:80",
         "http://site.example/robots.txt", "/p"},
        {"http://10.0.0.1:99999/p", "", "http://10.0.0.1:80", "http://10.0.0.1/robots.txt",
         "/p"},
        // A path is sent up to its first colon; a colon in the query names the port.
        {"http://h.example/wiki/File:X.png", "", "http://h.example:80",
         "http://h.example/robots.txt", "/wiki/File"},
        {"http://h.example/t?at=12:30", "", "http://h.example:30",
         "http://h.example:30/robots.txt", "/t?at=12"},
        // Without a scheme, "//" is enough to be sent to the host.
        {"//h.example/private/x", "", "http://h.example:80", "http://h.example/robots.txt",
         "/private/x"},
        {"ftp://h.example/f", "", "http://h.example:80", "http://h.example/robots.txt", "/f"},
        // A form asks for the target after its marker.
        {"http://h.example/POST /cgi/find $HTTPq=$NAME", "", "http://h.example:80",
         "http://h.example/robots.txt", "/cgi/find"},
        {"http://h.example/POST  /cgi/find?x=1 $HTTP", "", "http://h.example:80",
         "http://h.example/robots.txt", "/cgi/find?x=1"},
        // The expanded URL: a placeholder of the host is gone.
        {"http://h$DOMAIN.example/$NAME", "", "http://h.example:80",
         "http://h.example/robots.txt", "/Ann+Lee"},
        // Through a proxy the whole URL is sent, and the proxy reads it as a URL.
        {"http://h.example/t?at=12:30#x", "proxy.example", "http://h.example:80",
         "http://h.example/robots.txt", "/t?at=12:30"},
        {"https://u:p@H.example:8443/wiki/File:X", "proxy.example", "https://h.example:8443",
         "https://h.example:8443/robots.txt", "/wiki/File:X"},
        {"http://h.example/POST /cgi/find $HTTPq=1", "proxy.example", "http://h.example:80",
         "http://h.example/robots.txt", "/cgi/find"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.url) + " by " + row.proxy);
        store::ItemRecord item;
        item.url = row.url;
        RequestOptions options;
        options.proxy = row.proxy;
        UrlSite site;
        ASSERT_TRUE(request_site(item, "Ann Lee", options, site));
        EXPECT_EQ(site.key, row.key);
        EXPECT_EQ(site.robots_url, row.robots_url);
        EXPECT_EQ(site.path, row.path);
        // The robots.txt is asked of the same site.
        store::ItemRecord robots;
        robots.url = site.robots_url;
        UrlSite again;
        ASSERT_TRUE(request_site(robots, "", options, again));
        EXPECT_EQ(again.key, site.key);
        EXPECT_EQ(again.path, "/robots.txt");
    }
    for (const char* url : {"mailto:a@b.example", "http:///path", "site.example/a", "",
                            "http://h.example?x/"}) {
        SCOPED_TRACE(url);
        store::ItemRecord item;
        item.url = url;
        UrlSite site;
        EXPECT_FALSE(request_site(item, "", RequestOptions{}, site));
    }
    store::ItemRecord item;
    item.url = "//h.example/x";
    RequestOptions proxied;
    proxied.proxy = "proxy.example";
    UrlSite site;
    EXPECT_FALSE(request_site(item, "", proxied, site));  // the proxy is asked for no URL
    item.url = "http://h.example/" + std::string(kMaxExpandedUrl, 'x');
    EXPECT_FALSE(request_site(item, "", RequestOptions{}, site));  // never sent
}

}  // namespace
}  // namespace tarnvelox::net
