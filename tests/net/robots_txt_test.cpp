#include "net/robots_txt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "net/robots_reference.h"

namespace tarnvelox::net {
namespace {

struct Verdict {
    const char* token;
    const char* path;
    bool allowed;
};

void expect_verdicts(std::string_view text, const std::vector<Verdict>& rows) {
    for (const Verdict& row : rows) {
        SCOPED_TRACE(std::string(row.token) + " " + row.path);
        EXPECT_EQ(robots_allows(parse_robots_txt(text, row.token), row.path), row.allowed);
    }
}

// The protocol's own worked example: each crawler follows its group, the rest follow "*".
TEST(RobotsTxtTest, EachCrawlerFollowsItsGroupOrTheStarGroup) {
    constexpr std::string_view kText =
        "User-Agent: *\n"
        "Disallow: *.gif$\n"
        "Disallow: /example/\n"
        "Allow: /publications/\n"
        "\n"
        "User-Agent: foobot\n"
        "Disallow:/\n"
        "Allow:/example/page.html\n"
        "Allow:/example/allowed.gif\n"
        "\n"
        "User-Agent: barbot\n"
        "User-Agent: bazbot\n"
        "Disallow: /example/page.html\n"
        "\n"
        "User-Agent: quxbot\n"
        "\n"
        "EOF\n";
    expect_verdicts(kText, {
                               {"foobot", "/example/page.html", true},
                               {"foobot", "/example/allowed.gif", true},
                               {"foobot", "/example/other.html", false},
                               {"foobot", "/", false},
                               {"FooBot", "/publications/", false},
                               {"barbot", "/example/page.html", false},
                               {"bazbot", "/example/page.html", false},
                               {"bazbot", "/example/page.htm", true},
                               {"barbot", "/pic.gif", true},
                               {"quxbot", "/example/page.html", true},
                               {"quxbot", "/pic.gif", true},
                               {"otherbot", "/pic.gif", false},
                               {"otherbot", "/pic.gif?x=1", true},
                               {"otherbot", "/dir/pic.gif", false},
                               {"otherbot", "/example/", false},
                               {"otherbot", "/example", true},
                               {"otherbot", "/publications/", true},
                               {"otherbot", "/publications/a.gif", true},  // the longer allow wins
                           });
}

TEST(RobotsTxtTest, GroupsNamingTheCrawlerCombineAndHideTheStarGroup) {
    constexpr std::string_view kText =
        "Disallow: /before-any-agent\n"
        "user-agent: a\n"
        "disallow: /c\n"
        "\n"
        "user-agent: e\n"
        "user-agent: f\n"
        "disallow: /g\n"
        "\n"
        "User-agent: ExampleBot\n"
        "Disallow: /foo\n"
        "Disallow: /bar\n"
        "User-agent: *\n"
        "Disallow: /star\n"
        "User-Agent: examplebot/2.1 (+https://bot.example.com/)\n"
        "Allow: /bar\n"
        "User-agent: ExampleBotNext\n"
        "Disallow: /next\n";
    expect_verdicts(kText, {
                               {"a", "/c", false},
                               {"a", "/g", true},
                               {"e", "/g", false},
                               {"f", "/g", false},
                               {"f", "/c", true},
                               // Two groups name ExampleBot: their rules count together, and the
                               // allow wins the tie on /bar.
                               {"ExampleBot", "/foo", false},
                               {"ExampleBot", "/bar", true},
                               {"ExampleBot", "/star", true},
                               {"ExampleBot", "/next", true},
                               {"ExampleBotNext", "/next", false},
                               {"nobody", "/star", false},
                               {"nobody", "/before-any-agent", true},
                           });
    // A group that names the crawler without any rule still hides the star group.
    expect_verdicts("User-agent: *\nDisallow: /\n\nUser-agent: Tarnvelox\n",
                    {{"Tarnvelox", "/anything", true}, {"other", "/anything", false}});
    EXPECT_FALSE(robots_allows(parse_robots_txt("User-agent: TARNVELOX\nDisallow: /x\n"), "/x"));
}

TEST(RobotsTxtTest, LongestMatchDecidesAndAllowWinsATie) {
    constexpr std::string_view kText =
        "User-agent: *\n"
        "Allow: /example/page/\n"
        "Disallow: /example/page/disallowed.gif\n"
        "Disallow: /tie\n"
        "Allow: /tie\n"
        "Disallow: /*.php$\n"
        "Allow: /x/*.php$\n"
        "Disallow: /folder/*\n"
        "Allow: /folder/\n"
        "Disallow:\n"
        "Allow:\n";
    expect_verdicts(kText, {
                               {"bot", "/example/page/", true},
                               {"bot", "/example/page/disallowed.gif", false},
                               {"bot", "/example/page/allowed.gif", true},
                               {"bot", "/tie/and/more", true},
                               {"bot", "/a/b.php", false},
                               {"bot", "/a/b.php5", true},
                               {"bot", "/x/b.php", true},
                               // "/folder/*" is one octet longer than "/folder/": it wins.
                               {"bot", "/folder/page", false},
                               {"bot", "/elsewhere", true},
                               {"bot", "", true},
                           });
    // An empty Disallow is no rule: everything may be fetched.
    EXPECT_TRUE(robots_allows(parse_robots_txt("User-agent: *\nDisallow:\n"), "/"));
}

TEST(RobotsTxtTest, PatternsMatchWithWildcardsAndEndAnchor) {
    struct Row {
        const char* pattern;
        const char* path;
        bool matches;
    };
    const Row rows[] = {
        {"/", "/", true},
        {"/fish", "/fish.html", true},
        {"/fish", "/Fish.asp", false},
        {"/fish*", "/fishheads/yummy.html", true},
        {"/fish/", "/fish", false},
        {"/*.php", "/folder/filename.php?parameters", true},
        {"/*.php$", "/filename.php?parameters", false},
        {"/*.php$", "/filename.php", true},
        {"/fish*.php", "/fishheads/catfish.php?parameters", true},
        {"/fish*.php", "/Fish.PHP", false},
        {"/this/*/exactly", "/this/a/b/exactly", true},
        {"/this/path/exactly$", "/this/path/exactly/", false},
        {"/a*b*c$", "/aXbYbZc", true},
        {"/a*b*c$", "/aXbYbZcd", false},
        {"*", "", true},
        {"$", "", true},
        {"/$", "/x", false},
        {"/**x", "/abcx", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.path);
        EXPECT_EQ(robots_pattern_matches(row.pattern, row.path), row.matches);
        EXPECT_EQ(testing::reference_pattern_match(row.pattern, row.path), row.matches);
    }
}

// Patterns and paths compared after percent-encoding is normalised on both sides.
TEST(RobotsTxtTest, PercentEncodingIsNormalisedOnBothSides) {
    struct Row {
        const char* pattern;
        const char* path;
        bool allowed;  // under "Disallow: <pattern>"
    };
    const Row rows[] = {
        {"/foo/bar?baz=quz", "/foo/bar?baz=quz", false},
        {"/foo/bar/\xE3\x83\x84", "/foo/bar/%E3%83%84", false},
        {"/foo/bar/%E3%83%84", "/foo/bar/\xE3\x83\x84", false},
        {"/foo/bar/%e3%83%84", "/foo/bar/%E3%83%84", false},
        {"/foo/bar/%62%61%7A", "/foo/bar/baz", false},
        {"/foo/bar/baz", "/foo/bar/%62%61%7a", false},
        {"/a~b", "/a%7Eb", false},
        // An escaped "/" is not a "/".
        {"/a/b", "/a%2Fb", true},
        {"/a%2fb", "/a%2Fb", false},
        // A pattern names a literal "*" or "$" by its escape.
        {"/path/file-with-a-%2A.html", "/path/file-with-a-*.html", false},
        {"/path/foo-%24", "/path/foo-$", false},
        {"/path/foo-$", "/path/foo-$", true},
        // Only a final "$" anchors: one before the end is the character.
        {"/a$b", "/a$b", false},
        {"/a$b", "/a%24b/c", false},
        {"/a$b", "/ab", true},
        {"/a$b$", "/a$b", false},
        {"/a$b$", "/a$bc", true},
        {"/a$$", "/a$", false},
        {"/a$$", "/a$b", true},
        // A "%" that starts no escape is itself.
        {"/100%", "/100%", false},
        {"/100%zz", "/100%zz", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.path);
        const RobotsRules rules =
            parse_robots_txt("User-agent: *\nDisallow: " + std::string(row.pattern) + "\n");
        ASSERT_EQ(rules.rules.size(), 1u);
        EXPECT_EQ(robots_allows(rules, row.path), row.allowed);
    }
}

// The same file with every kind of line end, a byte order mark, comments and junk gives the
// same rules.
TEST(RobotsTxtTest, LineEndsMarksCommentsAndJunkDoNotChangeTheRules) {
    constexpr char kJunk[] = "\x01\xFF\xFE garbage \0 with a NUL";
    const std::string lines[] = {
        "# a comment line",
        "User-agent: *   # everyone",
        "this line has no colon",
        "Sitemap: https://site.example.com/sitemap.xml",
        "Unknown-key: /secret",
        std::string(kJunk, sizeof kJunk - 1),
        "  DISALLOW  :  /private/  # trailing",
        "disallow:/tmp",
        "Allow: /private/open # comment",
        ":",
        "Crawl-delay: 2.5",
    };
    for (const std::string_view end : {"\n", "\r", "\r\n"}) {
        for (const bool bom : {false, true}) {
            SCOPED_TRACE(std::string(end == "\n" ? "LF" : end == "\r" ? "CR" : "CRLF") +
                         (bom ? " with BOM" : ""));
            std::string text = bom ? "\xEF\xBB\xBF" : "";
            for (const std::string& line : lines) text += line + std::string(end);
            const RobotsRules rules = parse_robots_txt(text);
            ASSERT_EQ(rules.rules.size(), 3u);
            EXPECT_EQ(rules.rules[0].pattern, "/private/");
            EXPECT_FALSE(rules.rules[0].allow);
            EXPECT_EQ(rules.rules[1].pattern, "/tmp");
            EXPECT_EQ(rules.rules[2].pattern, "/private/open");
            EXPECT_TRUE(rules.rules[2].allow);
            EXPECT_EQ(rules.crawl_delay_ms, 2500);
            EXPECT_FALSE(robots_allows(rules, "/private/x"));
            EXPECT_TRUE(robots_allows(rules, "/private/open/x"));
            EXPECT_TRUE(robots_allows(rules, "/secret"));
        }
    }
    // A pattern without its leading "/" gets one.
    EXPECT_EQ(parse_robots_txt("User-agent: *\nDisallow: fish\n").rules.at(0).pattern, "/fish");
    EXPECT_TRUE(parse_robots_txt("").rules.empty());
    EXPECT_TRUE(parse_robots_txt("\xEF\xBB\xBF").rules.empty());
}

TEST(RobotsTxtTest, CrawlDelayTakesSecondsAndTheLargestOfTheGroups) {
    struct Row {
        const char* value;
        int64_t ms;
    };
    const Row rows[] = {
        {"5", 5000},
        {"0", 0},
        {"0.5", 500},
        {".25", 250},
        {"1.2345", 1234},
        {"7.", 7000},
        {"", -1},
        {".", -1},
        {"-1", -1},
        {"1e3", -1},
        {"inf", -1},
        {"NaN", -1},
        {"0x10", -1},
        {"ten", -1},
        {"99999999999999999999", kMaxRobotsDelayMs},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        const std::string text = "User-agent: *\nCrawl-delay: " + std::string(row.value) + "\n";
        EXPECT_EQ(parse_robots_txt(text).crawl_delay_ms, row.ms);
    }
    const RobotsRules combined = parse_robots_txt(
        "User-agent: Tarnvelox\nCrawl-delay: 3\nUser-agent: *\nCrawl-delay: 9\n"
        "User-agent: tarnvelox\nCrawl-delay: 4\n");
    EXPECT_EQ(combined.crawl_delay_ms, 4000);
}

TEST(RobotsTxtTest, OnlyTheFirst500KiBAreReadAndACutLineIsDropped) {
    const std::string head = "User-agent: *\nDisallow: /kept\n";
    const auto padded_to = [&](std::size_t size, const std::string& tail) {
        std::string text = head;
        text += "#" + std::string(size - head.size() - tail.size() - 2, 'x') + "\n";
        return text + tail;
    };
    {
        // The last line ends exactly at the limit: it is read.
        const std::string text = padded_to(kMaxRobotsBytes, "Disallow: /last\n");
        ASSERT_EQ(text.size(), kMaxRobotsBytes);
        EXPECT_FALSE(robots_allows(parse_robots_txt(text), "/last"));
    }
    {
        // One byte more and the limit falls inside the line (before its line end): it goes.
        const std::string text = padded_to(kMaxRobotsBytes + 1, "Allow: /last/page.html\n");
        const RobotsRules rules = parse_robots_txt(text);
        ASSERT_EQ(rules.rules.size(), 1u);
        EXPECT_EQ(rules.rules[0].pattern, "/kept");
    }
    {
        // Rules past the limit are never seen.
        const std::string text = padded_to(kMaxRobotsBytes, "") + "Disallow: /late\n";
        EXPECT_TRUE(robots_allows(parse_robots_txt(text), "/late"));
        EXPECT_FALSE(robots_allows(parse_robots_txt(text), "/kept"));
    }
}

// The matcher against the reference on many small random patterns and paths over a tiny
// alphabet, where wildcards and repeats meet most often.
TEST(RobotsTxtTest, MatcherAgreesWithTheReference) {
    std::mt19937 random(20240601);
    const std::string alphabet = "ab*$/";
    const auto text = [&](std::size_t most) {
        std::string s;
        const std::size_t n = random() % (most + 1);
        for (std::size_t i = 0; i < n; ++i) s += alphabet[random() % alphabet.size()];
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string pattern = text(7);
        std::string path = text(9);
        std::erase(path, '*');
        ASSERT_EQ(robots_pattern_matches(pattern, path),
                  testing::reference_pattern_match(pattern, path))
            << "pattern '" << pattern << "' path '" << path << "'";
    }
}

}  // namespace
}  // namespace tarnvelox::net
