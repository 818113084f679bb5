#include "harvest/crawl_scope.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>


#include "harvest/keyword_reference.h"
#include "harvest/page_text.h"

namespace tarnvelox::harvest {
namespace {

using testing::literal_keyword_test;

constexpr const char* kStart = "http://h.example/dir/page.html";

TEST(CrawlScopeTest, ScopeBaseFollowsTheStartingUrlAndScope) {
    struct Row {
        std::optional<std::string> start;
        int32_t scope, mode;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {kStart, kScopeUrl, kHarvest, kStart},
        {kStart, kScopeDirectory, kHarvest, "h.example/dir"},
        {kStart, kScopeServer, kHarvest, "h.example"},
        {kStart, kScopeNoLimit, kHarvest, std::nullopt},
        {"http://h.example:8080", kScopeServer, kHarvest, "h.example:8080"},
        {kStart, kScopePath, kWebSearch, std::nullopt},
        {std::nullopt, kScopePath, kHarvest, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.start.value_or("(none)") + std::string(" scope ") + std::to_string(row.scope));
        SearchTexts search;
        search.starting_url = row.start;
        search.crawl_scope = row.scope;
        search.scope_base = "stale";
        compute_scope_base(search, row.mode);
        EXPECT_EQ(search.scope_base, row.expected);
    }
}

TEST(CrawlScopeTest, ScopeAdmitsOnlyLinksInsideIt) {
    struct Row {
        int32_t scope;
        std::string link;
        bool expected;
    };
    const Row rows[] = {
        {kScopeDirectory, "http://h.example/dir/other.html", true},
        {kScopeDirectory, "http://h.example/dir/sub/x.html", false},
        {kScopePath, "http://h.example/dir/sub/x.html", true},
        {kScopePath, "http://mirror.example/h.example/dir/x.html", true},
        {kScopePath, "http://H.example/dir/x.html", false},
        {kScopeServer, "http://other.example/x.html", false},
        {kScopeUrl, kStart, false},
        {kScopeNoLimit, "http://anywhere.example/x.html", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link + std::string(" scope ") + std::to_string(row.scope));
        SearchTexts search;
        search.starting_url = kStart;
        search.crawl_scope = row.scope;
        compute_scope_base(search, kHarvest);
        EXPECT_EQ(scope_admits(search, row.link), row.expected);
    }
}

TEST(CrawlScopeTest, KeywordTextsParseIntoRoleMarkedEntries) {
    struct Row {
        std::optional<std::string> text;
        KeywordList expected;
    };
    const Row rows[] = {
        {"fish AND chips NOT vinegar", {"fish", "+chips", "-vinegar"}},
        {"red or blue", {"red", "or", "blue"}},  // operators are upper case only
        {"a  b,\tc", {"a", "b", "c"}},
        {" red,", {"", "red"}},
        {std::nullopt, {}},
        {std::string("a b\0c d", 7), {"a", "b"}},
        // The text is cut before it is split: the word across the cut loses its end.
        {std::string(kMaxKeywordText - 3, 'x') + " tail",
         {std::string(kMaxKeywordText - 3, 'x'), "ta"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.value_or("(none)").substr(0, 40));
        KeywordList list = {"old", "entries", "here", "and", "more"};
        parse_keyword_list(list, row.text);
        EXPECT_EQ(list, row.expected);
    }
    std::string words;
    for (int i = 0; i < 300; ++i) {
        words += 'w';
        words += std::to_string(i);
        words += ' ';
    }
    KeywordList list;
    parse_keyword_list(list, words);
    ASSERT_EQ(list.size(), kMaxKeywords);
    EXPECT_EQ(list.back(), "w254");
}

TEST(CrawlScopeTest, PageMatchesWhenItsWordsSatisfyTheKeywords) {
    struct Row {
        std::string keywords, page;
        bool expected;
    };
    const Row rows[] = {
        {"fish AND chips", "<p>Fish and CHIPS</p>", true},
        {"fish NOT vinegar", "fish with vinegar", false},
        {"*mail", "email me", true},
        {"caf", "caf\xE9 au lait", true},  // 8-bit bytes end words
        {"secret", "HTTP/1.0 200 OK\r\nX-Note: secret\r\n\r\n<p>public</p>", false},
        {"href", "<a href=\"x.html\">link</a>", false},
        {"nbsp", "a&nbsp;b", false},
        {"b", "a < b", true},  // a "<" without ">" is ordinary
        {"inside", "x <not a tag inside> y", false},
        {"fish", std::string("a\0 fish", 7), false},
        {" fish", "nothing relevant", true},  // empty first entry: every page
        // Entries that cannot start a word match nothing, wherever their first byte occurs.
        {"fish NOT .net", "fish.net fish .net", true},
        {"fish NOT \xC4rger", "fish \xC4rger", true},
        {"fish AND \"chips\"", "fish \"chips\"", false},
        {".net OR fish", "a.net", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keywords + " / " + row.page);
        KeywordList list;
        parse_keyword_list(list, row.keywords);
        EXPECT_EQ(page_matches_keywords(list, row.page), row.expected);
    }
    // A required entry alone never makes a page a candidate.
    EXPECT_FALSE(page_matches_keywords({"+chips"}, "chips"));
}

TEST(KeywordDifferentialTest, MatchesTheWordByWordTest) {
    std::mt19937 rng(5);
    const char* const words[] = {"fish", "chips", "Vinegar", "salt", "f1sh", "ship", "fi",
                                 "chipshop", "SALT", "x"};
    const char* const patterns[] = {"fish", "chip*", "*gar", "s?lt", "f*h", "*", "?", "sh*p",
                                    "x", "salt*", "c*s*p"};
    const char* const filler[] = {" ", "  ", "\n", "<b>", "</b>", "&nbsp;", "<", ">", "&amp;",
                                  ",", "<a href=\"x y\">", "\r\n\r\n", "'", "\""};
    for (int round = 0; round < 20000; ++round) {
        std::string keywords;
        const int entries = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < entries; ++e) {
            if (e > 0) {
                const char* const joins[] = {" ", " OR ", " AND ", " NOT ", ","};
                keywords += joins[rng() % 5];
            }
            keywords += patterns[rng() % std::size(patterns)];
        }
        std::string page;
        const int parts = static_cast<int>(rng() % 12);
        for (int i = 0; i < parts; ++i) {
            page += rng() % 2 ? words[rng() % std::size(words)] : filler[rng() % std::size(filler)];
        }
        KeywordList list;
        parse_keyword_list(list, keywords);
        SCOPED_TRACE("keywords '" + keywords + "' page '" + page + "'");
        ASSERT_EQ(page_matches_keywords(list, page), literal_keyword_test(list, page));
    }
}

// Long pages with a list that decides early whether the page is a candidate and then only
// looks out for forbidden words: the test jumps between the bytes those words start with, and
// must still see exactly the words the walk sees (not inside tags, not "nbsp" of a skipped
// "&nbsp;", not the tail of a longer word).
TEST(KeywordDifferentialTest, LongPagesWithForbiddenWordsMatchTheWordByWordTest) {
    std::mt19937 rng(11);
    const char* const words[] = {"fish", "spam", "Spam", "spams", "xspam", "sp", "salt",
                                 "nbsp", "s", "chips", "SPAM", "s1", "sales", "ham", ".net",
                                 "\xC4rger", "#s", "\"spam\""};
    const char* const patterns[] = {"fish", "spam", "s*", "sp?m", "salt", "nbsp", "n*",
                                    "*m", "chips", "sales", "ham", "s", ".net", "\"spam\"",
                                    "\xC4rger", "#s"};
    const char* const filler[] = {" ", "\n", "<b>", "</b>", "&nbsp;", ".&nbsp;", "<", ">",
                                  "&amp;", ",", "<a href=\"spam\">", "<!-- spam -->", "'",
                                  "<spam", "spam>", "\r\n\r\n", "&", ";", "<<", "<a t='<'>",
                                  "<b x=spam y>", "< spam", "<i>spam</i>"};
    int decided_early = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string keywords = patterns[rng() % std::size(patterns)];
        const int more = static_cast<int>(rng() % 3);
        for (int e = 0; e < more; ++e) {
            keywords += rng() % 2 ? " OR " : " AND ";
            keywords += patterns[rng() % std::size(patterns)];
        }
        const int forbidden = 1 + static_cast<int>(rng() % 2);
        for (int e = 0; e < forbidden; ++e) {
            keywords += " NOT ";
            keywords += patterns[rng() % std::size(patterns)];
        }
        std::string page;
        const int parts = 20 + static_cast<int>(rng() % 60);
        for (int i = 0; i < parts; ++i) {
            page += rng() % 2 ? words[rng() % std::size(words)] : filler[rng() % std::size(filler)];
        }
        KeywordList list;
        parse_keyword_list(list, keywords);
        SCOPED_TRACE("keywords '" + keywords + "' page '" + page + "'");
        const bool expected = literal_keyword_test(list, page);
        ASSERT_EQ(page_matches_keywords(list, page), expected);
        decided_early += expected ? 1 : 0;
    }
    EXPECT_GT(decided_early, 1000);  // both verdicts are well represented
}

}  // namespace
}  // namespace tarnvelox::harvest
