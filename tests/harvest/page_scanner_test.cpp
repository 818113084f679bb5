#include "harvest/page_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harvest/harvest_fixture.h"
#include "store/store.h"

namespace tarnvelox::harvest {
namespace {

using namespace std::literals;

class PageScannerTest : public testing::HarvestFixture {
protected:
    PageScannerTest() { page_.url = "http://h.test/d/p.html"; }

    // Points the store at a new empty project, so that each table row starts from nothing.
    void fresh_project() {
        store::set_project_path(store_, dir_.file("row" + std::to_string(++project_) + ".tvp"));
        lists_.links.clear();
        lists_.addresses.clear();
        shell_ = {};
    }
    int scan(std::string_view text, int slot = 0) { return scan_page(env_, slot, &page_, text); }
    // "url|title; " for every stored link, then "url; " for every stored address.
    std::string summary() {
        std::string out;
        for (const auto& rec : stored(store::TreeFile::Links)) {
            out += *rec->url + "|" + rec->title.value_or("") + "; ";
        }
        for (const auto& rec : stored(store::TreeFile::Addresses)) out += *rec->url + "; ";
        return out;
    }

    int project_ = 0;
};

struct Row {
    std::string_view text;
    std::string_view expected;
};

TEST_F(PageScannerTest, TagsYieldLinksAndTextsByTheirOwnRules) {
    const Row rows[] = {
        {"<a href=\"next.html\">Next \n page</a>", "http://h.test/d/next.html|Next page; "},
        {"< A\tHREF = \"Up.html\" >Up</A>", "http://h.test/d/Up.html|Up; "},
        {"<a name=top href=\"x.html\">X</a>", ""},  // HREF must come first
        {"<a href=\"x.html#s\">X</a><a href=\"#top\">T</a>", ""},
        {"<a href=x.html target=_top>X</a>", "http://h.test/d/x.html target=_top|X; "},
        {"<a href=\"sub/\">S</a><a href=f.txt>F</a><a href=plain>P</a>",
         "http://h.test/d/plain|P; "},
        {"<a href=t.html><img src=i.gif> <b>Bold</b> move</a>",
         "http://h.test/d/t.html|Bold move; "},
        {"<a href=t.html>&copy; 2024</a>", "http://h.test/d/t.html|2024; "},
        {"<a href=u.html>never closed", "http://h.test/d/u.html|No Title; "},
        // A link text runs to the first "/A" after its first tag, across any anchor between.
        {"<a href=\"v.html\">V<a href=w.html>W</a>",
         "http://h.test/d/v.html|VW; http://h.test/d/w.html|W; "},
        {"<area shape=rect href=map.html alt=\"Map one\">", "http://h.test/d/map.html|Map one; "},
        {"<area href=m2.html target=x>", "http://h.test/d/m2.html|m2.html; "},
        {"<area href=\"m3.html#p\">", "http://h.test/d/m3.html|m3.html#p; "},
        {"<input type=\"submit\" value=\"go.html\"><input TYPE=hidden value=\"h.html\">", ""},
        {"<input src=\"pic.html\" name=\"Pic\">", "http://h.test/d/pic.html|Pic; "},
        {"<input value=\"v.html\" src=\"s.html\">", "http://h.test/d/v.html|No Title; "},
        {"<option value=\"o.html\"> First one</option><option value=o2.html>Two",
         "http://h.test/d/o.html|First one; "},
        {"<frame src=\"left.html\"><frameset src=fs.html><iframe src=if.html>",
         "http://h.test/d/left.html|left.html; "},
        {"<frame srcdoc=1 src=f.html><frame src=\"g.html#x\">", "http://h.test/d/f.html|f.html; "},
        {"<a href=\"MAILTO:Jo@Example.org?subject=hi\">mail</a>", "mailto:jo@example.org; "},
        {"<img alt=\"jo@example.org\"> write to ann@example.org now", "mailto:ann@example.org; "},
        // An apostrophe in a comment runs to the next apostrophe, then to the next ">".
        {"<!-- don't --><a href=x.html>X</a>' ><a href=y.html>Y</a>", "http://h.test/d/y.html|Y; "},
        // An entity hides what lies up to its ";", but only within seven characters.
        {"&a@b.cd; &abcdef@g.hi;", "mailto:abcdef@g.hi; "},
        {"x<title jo@example.org", ""},  // a title without ">" ends the scan
        {"<a href=a.html>A</a>\0<a href=b.html>B</a>"sv, "http://h.test/d/a.html|A; "},
        {"caf\xE9 jo@example.org <a href=\"\xE9.html\">\xE9</a>",
         "http://h.test/d/\xE9.html|\xE9; mailto:jo@example.org; "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        fresh_project();
        scan(row.text);
        EXPECT_EQ(summary(), row.expected);
    }
}

TEST_F(PageScannerTest, TitleReplacesThePageTitleAndRedrawsItsRow) {
    struct TitleRow {
        std::string text;
        std::string_view expected;
    };
    const TitleRow rows[] = {
        {"<title>Home</title>", "Home"},
        {"<TITLE>\r\n  Two\n lines  </TITLE>", "Two lines"},
        {"<title>" + std::string(60, 'x'), "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"<title><b>Bold</b> name</title>", "Bold name"},
        {"<title>Cut <i", "Cut"},
        {"<title>  </title>", "Old"},
    };
    for (const TitleRow& row : rows) {
        SCOPED_TRACE(row.text);
        fresh_project();
        store::ItemRecord& page = lists_.links.append(store::clear_record());
        page.url = "http://h.test/d/p.html";
        page.title = "Old";
        scan_page(env_, 0, &page, row.text);
        EXPECT_EQ(page.title, row.expected);
        EXPECT_EQ(shell_.changed_rows.size(), row.expected == "Old" ? 0u : 1u);
    }
    fresh_project();
    EXPECT_EQ(scan_page(env_, 0, nullptr, "<title>T</title>jo@example.org"), 1);
}

TEST_F(PageScannerTest, SearchModeDecidesWhatIsTaken) {
    const std::string page = "<a href=r.html>R</a><a href=mailto:ann@example.org>M</a> bob@ex.org";
    struct ModeRow {
        int32_t mode;
        std::string_view page_url, expected;
        bool page_carries_address;
    };
    const ModeRow rows[] = {
        {kHarvest, "http://h.test/d/p.html",
         "http://h.test/d/r.html|R; mailto:ann@example.org; mailto:bob@ex.org; ", false},
        {kNameSearch, "http://h.test/d/p.html", "mailto:ann@example.org; mailto:bob@ex.org; ",
         false},
        {kWebSearch, "http://h.test/d/p.html", "mailto:ann@example.org; mailto:bob@ex.org; ",
         true},
        {kWebSearch, "http://www.hotbot.test/q.html?x", "", false},  // links without "?"
    };
    search_.sought_addresses = "Bob@Ex.org";
    for (const ModeRow& row : rows) {
        SCOPED_TRACE(row.mode);
        fresh_project();
        run_.search_mode = row.mode;
        page_.url = std::string(row.page_url);
        page_.kind = store::KIND_PAGE;
        scan(page);
        EXPECT_EQ(summary(), row.expected);
        EXPECT_EQ((page_.kind & store::KIND_ADDRESS) != 0, row.page_carries_address);
    }
}

TEST_F(PageScannerTest, EngineResultPagesFollowOnlyQueriesForTheSoughtAddress) {
    run_.search_mode = kWebSearch;
    page_.url = "http://www.altavista.test/q.html?x";
    search_.sought_addresses = "ann";
    scan("<a href=\"http://www.altavista.test/a.html?ann\">"
         "<a href=\"http://www.altavista.test/b.html?bob\">"
         "<a href=\"http://www.altavista.test/translate.html?ann\">"
         "<a href=\"http://www.infoseek.test/c.html?Ann\">"
         "<a href=\"http://www.infoseek.test/d.html?ann\">"
         "<a href=\"http://www.lycos.test/e.html\"><a href=\"http://www.lycos.test/f.html?q\">"
         "<a href=\"http://other.test/g.html\">");
    EXPECT_EQ(stored_urls(store::TreeFile::Links),
              (std::vector<std::string>{
                  "http://www.altavista.test/a.html", "http://www.infoseek.test/d.html",
                  "http://www.lycos.test/f.html", "http://other.test/g.html"}));
}

TEST_F(PageScannerTest, KeywordMissesSkipLinksOrTheWholePage) {
    const std::string page = "Header: fish\r\n\r\n<a href=n.html>N</a> jo@example.org";
    search_.crawl_keywords = "fish";
    search_.crawl_list = {"fish"};
    EXPECT_EQ(scan(page, 4), 1);
    EXPECT_EQ(summary(), "mailto:jo@example.org; ");

    fresh_project();
    search_.extract_keywords = "chips";
    search_.extract_list = {"chips"};
    EXPECT_EQ(scan(page, 4), 0);
    EXPECT_EQ(summary(), "");
    ASSERT_EQ(shell_.statuses.size(), 1u);
    EXPECT_EQ(shell_.statuses[0], (std::pair<int, std::string>{4, " " + std::string(kNoKeywordMatch)}));

    fresh_project();
    search_.crawl_keywords = "";  // an empty field tests nothing
    EXPECT_EQ(scan(page, 4), 0);
    EXPECT_EQ(summary(), "http://h.test/d/n.html|N; ");
}

TEST_F(PageScannerTest, StatusLineCountsThePageUnlessImporting) {
    const std::string page = "<a href=a.html>A</a><a href=a.html>A</a> jo@x.org ann@x.org jo@x.org";
    EXPECT_EQ(scan(page, 3), 2);
    EXPECT_EQ(shell_.statuses.back(), (std::pair<int, std::string>{3, " Found 1 links, 2 emails"}));
    EXPECT_EQ(shell_.counter_refreshes, 1);

    fresh_project();
    run_.import_in_progress = true;
    EXPECT_EQ(scan(page, 3), 2);
    EXPECT_TRUE(shell_.statuses.empty());
    EXPECT_EQ(shell_.counter_refreshes, 0);
}

// Unterminated tags, quotes, values and entities, stray bytes: the scan ends cleanly (the
// sanitizer build checks that nothing outside the text is read).
TEST_F(PageScannerTest, BrokenMarkupEndsTheScanCleanly) {
    const std::string_view pages[] = {
        "",  "<", "<a", "<a href=", "<a href=\"", "<a href='x.html'", "<a href=x.html>&",
        "<a href=x.html><", "<title", "<title>", "&", "&;", "@", "a@", ".@", "@a.b",
        "<input value=\"", "<input name=\"n\" src=", "<area href=\"x", "<area href=x alt=",
        "<option value=\"x", "<option value=\"x\">", "<frame src=", "<frame src=\"x", "\"'<>",
        "<a href=\"x.html\"\0>"sv, "\xFF\xFE<\x80 @\x80", "<a href=x.html>t</a", "<a href=x>t/a",
    };
    for (std::string_view page : pages) {
        SCOPED_TRACE(page);
        fresh_project();
        scan(page);
        ASSERT_FALSE(shell_.statuses.empty());
        EXPECT_EQ(shell_.statuses.back().second.rfind(" Found ", 0), 0u);
    }
}

// Each shape repeated to a megabyte. A scan that searched ahead from every tag, or back over
// every character, would take minutes here, or at least sixteen times as long as on a quarter of
// the page; a linear one takes milliseconds, and four times as long.
TEST_F(PageScannerTest, HostilePagesScanInLinearTime) {
    constexpr std::size_t kPageSize = 1 << 20;
    constexpr double kSecondsAllowed = 5.0;
    constexpr double kNoiseFloor = 0.5;  // shorter times say nothing about growth
    const std::string_view shapes[] = {
        "a", " ", "<", "@", "\"", "'", "&", "a.b@", "<a href=x>", "<a href=x>text",
        "<a href=\"", "<a href=x>&amp;", "<a href=x><b>", "< option value=\"x\">",
        "<input name=a value=b>", "<area href=x alt=y>", "<frame src=x>", "<title>t",
    };
    for (std::string_view shape : shapes) {
        SCOPED_TRACE(shape);
        const auto cpu_seconds = [&](std::size_t size) {
            fresh_project();
            std::string page;
            while (page.size() < size) page += shape;
            page += "</a>";
            const std::clock_t begin = std::clock();  // processor time: other load does not count
            scan(page);
            return static_cast<double>(std::clock() - begin) / CLOCKS_PER_SEC;
        };
        const double quarter = cpu_seconds(kPageSize / 4);
        const double whole = cpu_seconds(kPageSize);
        EXPECT_LT(whole, kSecondsAllowed);
        EXPECT_LT(whole, std::max(kNoiseFloor, 8 * quarter));
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
