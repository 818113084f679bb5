#include "harvest/url_resolve.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarnvelox::harvest {
namespace {

TEST(UrlResolveTest, LinksResolveAgainstThePageTheyWereFoundOn) {
    struct Row {
        std::optional<std::string> base;  // none: no page record
        std::string link, expected;
    };
    const std::string deep = "http://h.example/a/b/page.html";
    const Row rows[] = {
        {deep, "other.html", "http://h.example/a/b/other.html"},
        {deep, "/top.html", "http://h.example/top.html"},
        {"http://h.example", "x.html", "http://h.example/x.html"},
        {deep, "../../x.html", "http://h.example/x.html"},
        {deep, "./sub/../x.html", "http://h.example/a/b/x.html"},
        // Climbing above the host root keeps scheme, host and port.
        {"http://h.example:8080/a.html", "../../x.html", "http://h.example:8080/x.html"},
        // Absolute links keep their text; a "../" in them is only hit by the "./" removal.
        {deep, "HTTP://Other.example/Y.html", "HTTP://Other.example/Y.html"},
        {deep, "http://o.example/a/../b.html", "http://o.example/a/.b.html"},
        {deep, "MailTo:Joe@x.example%20(Joe)", "MailTo:Joe@x.example"},
        {deep, "httpfoo.html", "http://h.example/a/b/httpfoo.html"},
        {std::nullopt, "sub/./x.html", "sub/x.html"},
        {deep, std::string("x.html\0/../y", 12), "http://h.example/a/b/x.html"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.base.value_or("(no page)") + " + " + row.link);
        store::ItemRecord page;
        page.url = row.base;
        std::string link = row.link;
        resolve_link(row.base ? &page : nullptr, link);
        EXPECT_EQ(link, row.expected);
    }
}

TEST(UrlResolveTest, JoinedLinkNeverExceedsTheCap) {
    store::ItemRecord page;
    page.url = "http://h.example/d/page.html";
    // Directory (19 characters) plus link fill the cap exactly: nothing is lost.
    std::string exact(kMaxResolvedLink - 19, 'x');
    resolve_link(&page, exact);
    EXPECT_EQ(exact, "http://h.example/d/" + std::string(kMaxResolvedLink - 19, 'x'));
    // A base without a path gets a "/" that pushes the text one over: the end is cut.
    page.url = "http://h.example";
    std::string over(kMaxResolvedLink - 16, 'y');
    resolve_link(&page, over);
    EXPECT_EQ(over.size(), kMaxResolvedLink);
    EXPECT_EQ(over.substr(0, 18), "http://h.example/y");
}

TEST(UrlResolveTest, ParentSegmentsCollapseFirstOneFirst) {
    struct Row {
        std::string url, expected;
    };
    const Row rows[] = {
        {"a/b/../c", "a/c"},
        {"http://h.example/../c/../d", "http://h.example/d"},
        {"http://h.example/a/b/../", "http://h.example/a/"},
        {"x/y/..//z", "x//z"},
        // Nothing to climb out of: that "../" goes, the rest stays as it is.
        {"/../x/../y", "/x/../y"},
        {std::string("a/b/../c\0/../", 13), "a/c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        std::string url = row.url;
        collapse_parent_segments(url);
        EXPECT_EQ(url, row.expected);
    }
}

TEST(UrlResolveTest, ModernLinksResolveAsBrowsersResolveThem) {
    struct Row {
        std::string base, ref;
        std::optional<std::string> expected;
    };
    const std::string page = "http://h.example/a/b/page.html";
    const Row rows[] = {
        {page, "other.html", "http://h.example/a/b/other.html"},
        {page, "../../../../x.html", "http://h.example/x.html"},
        {page, "./sub/./../x.html#part", "http://h.example/a/b/x.html"},
        {page, "sub/", "http://h.example/a/b/sub/"},
        {page, "..", "http://h.example/a/"},
        {page, "/top.html?q=1#f", "http://h.example/top.html?q=1"},
        {page, "?q=2", "http://h.example/a/b/page.html?q=2"},
        {page, "#only", "http://h.example/a/b/page.html"},
        {page, "", "http://h.example/a/b/page.html"},
        {page, "//other.example/p.html", "http://other.example/p.html"},
        {"https://h.example:8443/d/", "//o.example", "https://o.example/"},
        {page, "HTTPS://O.example", "https://O.example/"},
        {page, "Http://o.example/x/../y/./z.html", "http://o.example/y/z.html"},
        {page, "http:rel.html", "http://h.example/a/b/rel.html"},
        {page, " \t\n x y\t.html\r\n ", "http://h.example/a/b/x%20y.html"},
        {page, "caf\xC3\xA9 \"<q>`.html", "http://h.example/a/b/caf%C3%A9%20%22%3Cq%3E%60.html"},
        {page, "a%20b.html", "http://h.example/a/b/a%20b.html"},
        {page, "d\\e.html?x\\y", "http://h.example/a/b/d/e.html?x\\y"},
        {page, "%2e%2E/x.html", "http://h.example/a/x.html"},
        {page, "mailto:a@b.example", std::nullopt},
        {page, "javascript:void(0)", std::nullopt},
        {page, "ftp://f.example/x.html", std::nullopt},
        {page, "tel:+1-555", std::nullopt},
        {"no base", "x/../y.html", "x/../y.html"},
        {"no base", "/y.html", "/y.html"},
        {"ftp://f.example/d/", "x.html", "ftp://f.example/d/x.html"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.base + " + " + row.ref);
        EXPECT_EQ(resolve_reference(row.base, row.ref), row.expected);
    }
    const std::optional<std::string> long_link =
        resolve_reference(page, std::string(3000, 'x') + ".html");
    ASSERT_TRUE(long_link);
    EXPECT_EQ(long_link->size(), kMaxResolvedLink);
}

TEST(UrlResolveTest, StartingUrlGetsSchemeAndLosesSurroundingBlanks) {
    struct Row {
        std::string typed;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {" \twww.example.com/ \r\n", "http://www.example.com/"},
        {"ftp://files.example/", "ftp://files.example/"},
        {" \t ", std::nullopt},
        {std::string("\0http://x", 9), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        EXPECT_EQ(normalise_starting_url(row.typed), row.expected);
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
