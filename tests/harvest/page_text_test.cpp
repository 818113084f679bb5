#include "harvest/page_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "exchange/list_filter.h"
#include "harvest/crawl_scope.h"
#include "harvest/url_resolve.h"
#include "harvest/wildcard.h"
#include "store/item_record.h"

namespace tarnvelox::harvest {
namespace {

TEST(PageTextTest, MarkupIsStrippedAndLinkTextsCleaned) {
    struct Row {
        std::string text, url, expected;  // empty url: strip_markup alone
    };
    const Row rows[] = {
        {"<a title='>'>b</a> c", "", "b c"},
        {"a < b > c <unclosed", "", "a  c <unclosed"},
        {"&LT;b&gt;", "", "<b"},    // "&lt;" is decoded, other entities removed
        {"x&AMP;lt;y", "", "xy"},   // the decoded "&" starts an entity of its own
        {"a%20b &x; c & d", "", "a b  c & d"},
        {std::string("a\0<b>", 5), "", "a"},
        {"", "http://h.example/dir/file.html", "file.html"},
        {"", "http://h.example/dir/", "No Title"},
        {"<img src=x.gif>", "http://h.example/x.html", "No Title"},
        {"  a &lt;b&gt; c\t", "http://h.example/", "a  b c"},
        {std::string(60, 'n'), "http://h.example/", std::string(kMaxTitle, 'n')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text + " / " + row.url);
        std::string text = row.text;
        if (row.url.empty()) {
            strip_markup(text);
        } else {
            clean_link_text(text, row.url);
        }
        EXPECT_EQ(text, row.expected);
    }
    std::string spaced = "a\r\n\tb   c ";
    collapse_whitespace(spaced);
    EXPECT_EQ(spaced, "a b c ");
}

TEST(PageTextTest, QuotesAndFillerAreSkippedWhereTheyClose) {
    struct Row {
        std::string text;
        std::size_t quoted_gt, after_filler;  // find_outside_quotes '>', skip_filler from 0
    };
    // skip_filler ends a tag at its first ">", quoted or not.
    const Row rows[] = {
        {"<a href=\">\">", 11, 10},
        {"<a title='it>s'>x", 15, 13},
        {"<a title=\"open>", kNoPosition, 15},
        {std::string("<a\0>", 4), kNoPosition, 0},
        {"  &nbsp;<b> word", 10, 12},
        {"&NBSP;x", kNoPosition, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(find_outside_quotes(row.text, '>'), row.quoted_gt);
        EXPECT_EQ(skip_filler(row.text, 0), row.after_filler);
    }
}

TEST(PageTextTest, LinksAreClassifiedByScriptSchemeAndPath) {
    struct Row {
        std::string url;
        uint32_t expected;
    };
    const Row rows[] = {
        {"MAILTO:joe@x.example", store::KIND_ADDRESS},
        {"http://h.example/page.SHTML", store::KIND_PAGE},
        {"http://h.example/dir/", 0},
        {"http://h.example", 0},
        {"http://h.example/v1.0/readme", 0},
        {"http://h.example/doc.pdf", 0},
        {"ftp://h.example/a.html", 0},
        {"http://h.example/cgi-bin/run", 0},
        {"http://h.example/cgi-bin/list.htm", store::KIND_PAGE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(classify_link(row.url), row.expected);
    }
}

TEST(PageTextTest, PageMentionsOneOfTheSoughtEntries) {
    struct Row {
        std::string sought;
        bool expected;
    };
    const std::string page = "Contact: WEBMASTER@EXAMPLE.ORG, or x, y";
    const Row rows[] = {
        {"nobody@x.example, webmaster@example.org", true},
        {"\"x, y\"", true},
        {"\"nobody\" webmaster", false},  // no comma after the quoted entry
        {",", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sought);
        EXPECT_EQ(page_mentions_address(page, row.sought), row.expected);
    }
}

TEST(PageTextTest, ResultPagesAreKnownByTheRequestPrefixOfALoadedEngine) {
    struct Row {
        std::string url;
        bool expected;
    };
    const std::vector<std::string> prefixes = {"https://Search.example.com/web",
                                               "http://127.0.0.1:8080/find", "http://bare.example",
                                               "http://127.0.0.2:8080/"};
    const Row rows[] = {
        {"HTTPS://SEARCH.EXAMPLE.COM/web?q=jo", true},   // scheme and host in any letter case
        {"https://search.example.com/Web?q=jo", false},  // the path is exact
        {"http://127.0.0.1:8080/site/page.html", false},  // the engine's host, not its path
        {"http://127.0.0.1:8081/find?p=2", false},        // another port
        {"http://bare.example?q=1", true},
        {"http://bare.example.org/x.html", false},  // a prefix of the host only
        {"http://www.lycos.com/x.html", true},      // the old names still count
        // A template at the root names the host alone: only the root's queries are results.
        {"http://bare.example/x.html", false},
        {"http://127.0.0.2:8080/r.html", false},
        {"http://127.0.0.2:8080/?q=jo", true},
        {"http://127.0.0.2:8080?q=jo", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(is_search_engine_url(row.url, prefixes), row.expected);
    }
}

TEST(PageTextTest, LinearSearchAgreesWithTheDirectSearch) {
    // Texts and sought words made of one short repeated unit with a few letters changed give the
    // long partial matches and periodic words that a shifting search can get wrong.
    std::mt19937 random(20240607);
    const auto letters = [&random](std::size_t length, std::string_view unit, int changes) {
        static constexpr std::string_view kLetters = "aAbBc";
        std::string text(length, ' ');
        for (std::size_t i = 0; i < length; ++i) text[i] = unit[i % unit.size()];
        for (int k = 0; k < changes && length > 0; ++k) {
            text[random() % length] = kLetters[random() % kLetters.size()];
        }
        return text;
    };
    for (int round = 0; round < 4000; ++round) {
        const std::string unit = letters(1 + random() % 3, "aAbBc", 3);
        const std::string text = letters(random() % 300, unit, static_cast<int>(random() % 8));
        std::string sought = letters(random() % 24, unit, static_cast<int>(random() % 2));
        if (round % 3 == 0 && !text.empty()) {
            sought = text.substr(random() % text.size(), 8 + random() % 16);
        }
        const std::size_t from = random() % (text.size() + 2);
        SCOPED_TRACE(text + " / " + sought + std::string(" from ") + std::to_string(from));
        ASSERT_EQ(find_nocase_linear(text, sought, from), base::find_nocase(text, sought, from));
    }
}

// Every text helper run once over `page`, as a hostile page would reach them.
void exercise_every_helper(const std::string& page) {
    std::string copy = page;
    strip_markup(copy);
    copy = page;
    collapse_whitespace(copy);
    copy = page;
    clean_link_text(copy, page);
    (void)find_outside_quotes(page, '>');
    (void)skip_filler(page, 0);
    (void)classify_link(page);
    (void)page_mentions_address(page, std::string(2000, 'a') + "b, \"" + page.substr(0, 3000));

    KeywordList keywords;
    parse_keyword_list(keywords, page);
    parse_keyword_list(keywords, std::string("*") + std::string(1500, 'a') + std::string("b ") + std::string(300, '<') +
                                     std::string(" ") + std::string(200, 'a') + "* -b*b NOT z?z");
    (void)page_matches_keywords(keywords, page);
    (void)wildcard_match(page, std::string("*") + std::string(100000, 'a') + "b");
    (void)exchange::domain_allowed(page, "com,org");
    (void)exchange::passes_text_filter(page, exchange::ItemFilter{"", "*<*", std::string(5000, '&')});

    store::ItemRecord base;
    base.url = "http://h.example/" + page;
    copy = page;
    resolve_link(&base, copy);
    copy = page;
    collapse_parent_segments(copy);
}

TEST(PageTextTest, HostilePagesTakeLinearTime) {
    constexpr std::size_t kSize = 2 << 20;
    const auto repeat = [](std::string_view unit) {
        std::string text;
        while (text.size() < kSize) text.append(unit);
        return text;
    };
    struct Row {
        const char* shape;
        std::string page;
    };
    const Row rows[] = {
        {"one repeated letter", repeat("a")},
        {"\"<\" without \">\"", repeat("<")},
        {"tags opening a quote", repeat("<'")},
        {"unclosed double quote", "<\"" + repeat("x")},
        {"\"&\" without \";\"", repeat("&")},
        {"parent segments", repeat("../")},
        {"white space", repeat(" \r\n")},
    };
    // A quadratic pass over 2 MB takes minutes; a linear one well under a second, even with
    // sanitizers.
    constexpr double kGenerousSeconds = 5.0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shape);
        const auto start = std::chrono::steady_clock::now();
        exercise_every_helper(row.page);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), kGenerousSeconds);
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
