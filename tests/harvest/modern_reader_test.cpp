#include "harvest/modern_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/harvest_fixture.h"
#include "harvest/page_scanner.h"
#include "store/store.h"

namespace tarnvelox::harvest {
namespace {

using namespace std::literals;

class ModernReaderTest : public testing::HarvestFixture {
  protected:
    ModernReaderTest() { page_.url = "http://h.test/d/p.html"; }

    // Points the store at a new empty project, so that each page starts from nothing.
    void fresh_project() {
        store::set_project_path(store_, dir_.file("p" + std::to_string(++project_) + ".tvp"));
        lists_.links.clear();
        lists_.addresses.clear();
        shell_ = {};
    }
    // Scans `text` into a fresh project, read the modern way or the classic way.
    void scan(std::string_view text, bool modern, PageEnd end = PageEnd::Whole) {
        fresh_project();
        run_.modern_reader = modern;
        scan_page(env_, 0, &page_, text, end);
    }
    // "url|title; " for every stored link, then "url; " for every stored address.
    std::string summary() {
        std::string out;
        for (const auto& rec : stored(store::TreeFile::Links)) {
            out += *rec->url + "|" + rec->title.value_or("") + "; ";
        }
        for (const auto& rec : stored(store::TreeFile::Addresses)) out += *rec->url + "; ";
        return out;
    }
    std::set<std::string> stored_set(store::TreeFile which) {
        const std::vector<std::string> urls = stored_urls(which);
        return {urls.begin(), urls.end()};
    }

    int project_ = 0;
};

std::string repeated(std::string_view text, int times) {
    std::string out;
    while (times-- > 0) out.append(text);
    return out;
}

struct Row {
    std::string page;
    std::string classic;  // what the classic scanner stores
    std::string modern;   // what the modern reader stores
};

// The page corpus: each rule of the modern reader next to what the classic scanner makes of
// the same markup.
TEST_F(ModernReaderTest, EachRuleUnderBothWaysOfReading) {
    const Row rows[] = {
        // Attributes anywhere, any quotes, any case.
        {"<a class=\"ref\" href=\"x.html\">X</a>", "", "http://h.test/d/x.html|X; "},
        {"<A TITLE='t' HREF='y.html' CLASS=z>Y</A>", "", "http://h.test/d/y.html|Y; "},
        {"<a href=z.html title=\"a>b\">Z</a>", "http://h.test/d/z.html title=\"a|b\" Z; ",
         "http://h.test/d/z.html|Z; "},
        {"<a\nhref\n=\n'q.html'\n>Q</a>", "http://h.test/d/'q.html'|Q; ",
         "http://h.test/d/q.html|Q; "},
        // Fragments are cut and followed; a bare fragment is this page.
        {"<a href=\"s.html#sec\">S</a><a href=\"#top\">T</a>", "", "http://h.test/d/s.html|S; "},
        // Links ending in "/" are pages.
        {"<a href=\"sub/\">Sub</a><a href=\"/\">Home</a>", "",
         "http://h.test/d/sub/|Sub; http://h.test/|Home; "},
        // ...that the file-type rules allow.
        {"<a href=\"v1.0/\">V</a><a href=\"pics.zip/\">P</a><a href=\"a.htm/\">A</a>", "",
         "http://h.test/d/a.htm/|A; "},
        // <base href> decides what relative links are relative to.
        {"<base href=\"http://o.test/b/\"><a href=\"q.html\">Q</a>", "http://h.test/d/q.html|Q; ",
         "http://o.test/b/q.html|Q; "},
        {"<area alt=\"Map\" shape=rect href='m.html#x'>", "http://h.test/d/'m.html|Map; ",
         "http://h.test/d/m.html|Map; "},
        // A <link> to another page of the site is a link; style sheets and icons are not.
        {"<link rel=\"Next\" href=\"n.html\" title=\"On\"><link rel=stylesheet href=s.html>"
         "<link rel=\"icon search\" href='find.html'>",
         "", "http://h.test/d/n.html|On; http://h.test/d/find.html|find.html; "},
        {"<iframe width=1 src=\"f.html\">fallback</iframe><frame name=a src=g.html>",
         "http://h.test/d/g.html|g.html; ",
         "http://h.test/d/f.html|f.html; http://h.test/d/g.html|g.html; "},
        // Other schemes are not followed; inputs and options are not links to a browser.
        {"<a href=\"javascript:go()\">J</a><a href=tel:1>T</a><a href=\"ftp://f.test/x.html\">F",
         "http://h.test/d/javascript:go()|J; http://h.test/d/tel:1|T; ", ""},
        {"<input value=\"v.html\"><option value=\"o.html\">O</option>",
         "http://h.test/d/v.html|No Title; http://h.test/d/o.html|O; ", ""},
        // Character references in values and texts.
        {"<a href=\"a.html?x=1&amp;y=2\">A &amp; B</a>", "http://h.test/d/a.html|A & B; ",
         "http://h.test/d/a.html|A & B; "},
        {"<a href=\"&#x2F;abs&#46;html\">&lt;abs&gt;</a>", "", "http://h.test/abs.html|abs; "},
        {"<a href=\"caf&eacute;.html\">Caf&eacute;</a>", "http://h.test/d/caf&eacute;.html|Caf; ",
         "http://h.test/d/caf%C3%A9.html|Caf\xC3\xA9; "},
        // A link text is what the anchor shows; a new anchor ends the open one.
        {"<a href=t.html><img src=i.gif alt=x> <b>Bold</b> &amp; <i>it</i></a>",
         "http://h.test/d/t.html|Bold & it; ", "http://h.test/d/t.html|Bold & it; "},
        {"<a href=one.html>One<a href=two.html>Two</a>",
         "http://h.test/d/one.html|OneTwo; http://h.test/d/two.html|Two; ",
         "http://h.test/d/one.html|One; http://h.test/d/two.html|Two; "},
        {"<a href=\"e/\"></a>", "", "http://h.test/d/e/|No Title; "},
        // Link texts are cut to 50 bytes, without splitting a character when read the modern way.
        {"<a href=l.html>x" + std::string(30, '\xE9') + "</a>",
         "http://h.test/d/l.html|x" + std::string(30, '\xE9') + "; ",
         "http://h.test/d/l.html|x" + repeated("\xC3\xA9", 24) + "; "},
        // Markup inside an address is seen through; block markup separates.
        {"a<span>@</span>b.org", "", "mailto:a@b.org; "},
        {"a<span>&#64;</span>b<span>&#46;</span>org", "", "mailto:a@b.org; "},
        {"jo@<!-- x -->example.org", "", "mailto:jo@example.org; "},
        {"<td>a@b.org</td><td>uk</td>", "mailto:a@b.org; ", "mailto:a@b.org; "},
        {"<p>jo@example.org<br>next</p>", "mailto:jo@example.org; ", "mailto:jo@example.org; "},
        // Entity-coded "mailto:" links, several addresses, a query.
        {"<a href=\"mailto:a&#37;&#52;&#48;b&#46;org\">x</a>", "", "mailto:a@b.org; "},
        {"<a href=\"mailto:a@x.org,%20B@y.org?subject=hi\">x</a>", "mailto:a@x.org,; ",
         "mailto:a@x.org; mailto:b@y.org; "},
        {"<a href=\"MAILTO:Jo%20Doe@x.org\">x</a><a href=\"mailto:%E9@x.org\">y</a>", "", ""},
        // Written-out forms.
        {"jo [at] example [dot] org, ann(at)example.org, bo {AT} ex {dot} co {dot} uk.", "",
         "mailto:jo@example.org; mailto:ann@example.org; mailto:bo@ex.co.uk; "},
        {"cy AT ex DOT org; dee [@] ex.org", "", "mailto:cy@ex.org; mailto:dee@ex.org; "},
        // ...without taking prose or file names for addresses.
        {"look at example dot com. Available AT Amazon.com. See [at] noon. f(at)x. "
         "logo@2x.png u(at)host.png",
         "", ""},
        // Scripts, styles and comments are searched as plain text; attributes are not.
        {"<script>var m = \"js@example.org\"; if (a<b) x();</script>", "mailto:js@example.org; ",
         "mailto:js@example.org; "},
        // A comment runs to its first ">" for the classic scanner.
        {"<style>@media print { a { b: c } }</style><!-- old: ol@example.org -->", "",
         "mailto:ol@example.org; "},
        {"<p title=\"t@example.org\">x</p>", "", ""},
        {"&lt;jo@example.org&gt;", "mailto:jo@example.org; ", "mailto:jo@example.org; "},
        // "+" and "=" between address characters belong to the local part; alone they do not.
        {"write to hana+bugs@dept58.example.net, srs=x=jo@y.org or +lead@x.org.",
         "mailto:hana+bugs@dept58.example.net; mailto:srs=x=jo@y.org; mailto:lead@x.org; ",
         "mailto:hana+bugs@dept58.example.net; mailto:srs=x=jo@y.org; mailto:lead@x.org; "},
        {"hana+bugs [at] example [dot] org", "", "mailto:hana+bugs@example.org; "},
        // ... but a query's "name=" is not: the address is the value.
        {"see /form?email=jo@x.org&cc=al@y.org", "mailto:jo@x.org; mailto:al@y.org; ",
         "mailto:jo@x.org; mailto:al@y.org; "},

        // A quote or bracket around a "mailto:" address is not part of it.
        {"<a href=\"mailto:'ath10k@lists.infradead.org'\">a</a>"
         "<a href=\"mailto:(vicente_polo@yahoo.es)\">v</a>",
         "mailto:'ath10k@lists.infradead.org'; mailto:(vicente_polo@yahoo.es); ",
         "mailto:ath10k@lists.infradead.org; mailto:vicente_polo@yahoo.es; "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        scan(row.page, false);
        EXPECT_EQ(summary(), row.classic) << "classic";
        scan(row.page, true);
        EXPECT_EQ(summary(), row.modern) << "modern";
    }
}

// A page cut at the size limit may end inside an address: what runs to the cut is not taken.
TEST_F(ModernReaderTest, NoAddressIsTakenFromTheEndOfACutPage) {
    const Row rows[] = {
        {repeated("var a=\"q@x.example\";", 3) + "var a=\"q@x.exam", "mailto:q@x.example; ",
         "mailto:q@x.example; "},
        {"<p>jo@x.example", "", ""},
        {"<p>jo@x.example ", "mailto:jo@x.example; ", "mailto:jo@x.example; "},
        {"<title>jo@x.exam", "", ""},
        {"<textarea>jo@x.exam", "", ""},
        {"<!-- jo@x.exam", "", ""},
        {"<a href=\"mailto:jo@x.exam", "", ""},
        {"<b>jo</b>&#64;x.example&#4", "", ""},
        {"jo<span>@</span>x.example<span>.</sp", "", ""},
        {"ann [at] example [dot] org\njo [at] x [dot] example [dot] co", "",
         "mailto:ann@example.org; "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        scan(row.page, false, PageEnd::Cut);
        EXPECT_EQ(summary(), row.classic) << "classic";
        scan(row.page, true, PageEnd::Cut);
        EXPECT_EQ(summary(), row.modern) << "modern";
    }
    // The same end on a page that came whole is an address.
    scan("<p>jo@x.example", true);
    EXPECT_EQ(summary(), "mailto:jo@x.example; ");
}

TEST_F(ModernReaderTest, TitlesAreDecodedInThePagesCharacterSetAndStoredAsUtf8) {
    const struct {
        std::string page;
        std::string_view title;
    } rows[] = {
        {"<title>Fish &amp; Chips &lt;3</title>", "Fish & Chips 3"},
        {"<TITLE>\n  Two\n lines\t</TITLE><title>Second</title>", "Two lines"},
        {"HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=ISO-8859-1\r\n\r\n"
         "<title>Caf\xE9</title>",
         "Caf\xC3\xA9"},
        {"<meta charset=\"windows-1252\"><title>\x93Hi\x94 &eacute;</title>",
         "\xE2\x80\x9CHi\xE2\x80\x9D \xC3\xA9"},
        {"<meta http-equiv=Content-Type content='text/html; charset=latin1'><title>\xFC</title>",
         "\xC3\xBC"},
        {"<title>\xE9t\xE9</title>", "\xC3\xA9t\xC3\xA9"},  // not UTF-8: read as Latin-1
        {"<title>\xC3\xA9t\xC3\xA9</title>", "\xC3\xA9t\xC3\xA9"},
        {"HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<title>a\xE9</title>",
         "a\xEF\xBF\xBD"},
        {"\xEF\xBB\xBF<meta charset=latin1><title>\xC3\xA9</title>", "\xC3\xA9"},
        {"<title>" + std::string(30, 'x') + std::string(20, '\xE9') + "</title>",
         std::string_view("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                          "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9")},
        {"<title>  </title>", "Old"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        fresh_project();
        run_.modern_reader = true;
        store::ItemRecord& page = lists_.links.append(store::clear_record());
        page.url = "http://h.test/d/p.html";
        page.title = "Old";
        scan_page(env_, 0, &page, row.page);
        EXPECT_EQ(page.title, row.title);
        EXPECT_EQ(shell_.changed_rows.size(), row.title == "Old" ? 0u : 1u);
    }
}

// The rules the two readers share: keywords, search modes, the status line.
TEST_F(ModernReaderTest, KeywordsAndSearchModesDecideAsForTheClassicScanner) {
    const std::string page =
        "HTTP/1.0 200 OK\r\n\r\n<p>fish</p><a class=x href=n.html>N</a> jo&#64;example.org";
    run_.search_mode = kNameSearch;
    scan(page, true);
    EXPECT_EQ(summary(), "mailto:jo@example.org; ");
    run_.search_mode = kHarvest;

    search_.crawl_keywords = "chips";
    search_.crawl_list = {"chips"};
    scan(page, true);
    EXPECT_EQ(summary(), "mailto:jo@example.org; ");
    EXPECT_EQ(shell_.statuses.back().second, " Found 0 links, 1 emails");

    search_.extract_keywords = "chips";
    search_.extract_list = {"chips"};
    scan(page, true);
    EXPECT_EQ(summary(), "");
    EXPECT_EQ(shell_.statuses.back().second, " " + std::string(kNoKeywordMatch));
}

// Unterminated tags, quotes, comments, scripts and references, stray bytes: the read ends
// cleanly (the sanitizer build checks that nothing outside the text is read), and what came
// before the break is kept.
TEST_F(ModernReaderTest, BrokenMarkupEndsTheReadCleanly) {
    const std::string_view pages[] = {
        "",
        "<",
        "</",
        "<!",
        "<!-",
        "<!--",
        "<!-->",
        "<?",
        "<a",
        "<a href",
        "<a href=",
        "<a href='x.html",
        "<a href=\"x.html\" ",
        "<a href=x.html>&",
        "<a href=x.html>&#",
        "&#x110000000000000;",
        "&#",
        "&",
        "<title",
        "<title>",
        "<title>x</title",
        "<script>",
        "<script>a@b.org</scrip",
        "<plaintext>a@b.org<p>",
        "<textarea>&lt;",
        "<base href=",
        "<base href=\"javascript:x\"><a href=y.html>y</a>",
        "<meta charset=",
        "<a href=\"x.html\"\0>"sv,
        "\xFF\xFE<\x80 @\x80",
        "HTTP/1.0 200",
        "HTTP/1.0 200\r\n\r\n",
        "<area href=\"mailto:\">",
        "<a href=\"mailto:%\">",
        "<a href=\"mailto:,,?\">",
        "jo [at]",
        "[at] x.org",
        "x [at] y [dot]",
        "x AT y DOT",
        "@",
        "a@",
        "@a.b",
    };
    for (std::string_view page : pages) {
        SCOPED_TRACE(page);
        scan(page, true);
        ASSERT_FALSE(shell_.statuses.empty());
        EXPECT_EQ(shell_.statuses.back().second.rfind(" Found ", 0), 0u);
    }
    scan("<p>jo@example.org</p><a href=\"x.html\" title='unclosed>", true);
    EXPECT_EQ(summary(), "mailto:jo@example.org; ");
}

// Pages built from random pieces, each address hidden in one of the ways pages hide them and
// each link written in one of the ways pages write them: the reader finds exactly what was
// hidden, nothing less and nothing more.
// Inline markup keeps a word together only where it stands next to the '@' or a '.' of an
// address; elsewhere the word ends at the tag, as neighbouring elements show separate words.
TEST_F(ModernReaderTest, InlineMarkupJoinsWordsOnlyAtTheSignsOfAnAddress) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a href=/impressum>Impressum</a><a href=\"mailto:info@x.de\">info@x.de</a>",
         "http://h.test/impressum|Impressum; mailto:info@x.de; "},
        {"<span>Contact</span><span>jo@x.org</span>", "mailto:jo@x.org; "},
        {"<b>Mail</b>jo@x.org <i>ann@y.org</i><b>Fax</b>", "mailto:jo@x.org; mailto:ann@y.org; "},
        {"a<span>@</span>b.org", "mailto:a@b.org; "},
        {"a<span>&#64;</span>b<span>&#46;</span>org", "mailto:a@b.org; "},
        {"jo<b>@</b><i>x</i>.org", "mailto:jo@x.org; "},
        {"jo @ <b>x.org</b>", ""},
        {"<a href=t.html>Con<b>tact</b></a>", "http://h.test/d/t.html|Contact; "},
    };
    for (const auto& [page, modern] : cases) {
        SCOPED_TRACE(page);
        scan(page, true);
        EXPECT_EQ(summary(), modern);
    }
}

// Program text shown on a page is no place for spelled-out addresses; plain "@" ones in it
// still count, and the prose around it is searched as before.
TEST_F(ModernReaderTest, SpelledOutFormsAreNotSoughtInCode) {
    const std::pair<std::string, std::string> cases[] = {
        {"<pre>x = items[at] name.first;</pre>", ""},
        {"<p>Use <code>row (at) db.rows</code> or <kbd>k{at}ex.org</kbd>.</p>", ""},
        {"<samp>out [at] log.txt</samp> <PRE><b>a [at] b.org</b></PRE>", ""},
        {"<pre>mail jo@ex.org</pre>", "mailto:jo@ex.org; "},
        {"<code>x</code> jo [at] ex.org <pre>y</pre> ann(at)ex.org",
         "mailto:jo@ex.org; mailto:ann@ex.org; "},
        {"<pre><code>a</code> b [at] c.org</pre> d [at] e.org", "mailto:d@e.org; "},
    };
    for (const auto& [page, modern] : cases) {
        SCOPED_TRACE(page);
        scan(page, true);
        EXPECT_EQ(summary(), modern);
    }
}

// Addresses are stored in the order the page has them, whether shown, in a comment or in a
// script.
TEST_F(ModernReaderTest, AddressesKeepThePagesOrder) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"<p>a@first.org</p><script>'b@second.org'</script>",
         {"mailto:a@first.org", "mailto:b@second.org"}},
        {"a@first.org <!-- b@second.org --> c [at] third.org <style>/* d@fourth.org */</style>",
         {"mailto:a@first.org", "mailto:b@second.org", "mailto:c@third.org",
          "mailto:d@fourth.org"}},
        {"<pre>a@first.org x(at)y.org</pre> <!-- b@second.org --> c [at] third.org",
         {"mailto:a@first.org", "mailto:b@second.org", "mailto:c@third.org"}},
        {"jo@<!-- b@second.org -->example.org", {"mailto:b@second.org", "mailto:jo@example.org"}},
    };
    for (const auto& [page, addresses] : cases) {
        SCOPED_TRACE(page);
        scan(page, true);
        EXPECT_EQ(stored_urls(store::TreeFile::Addresses), addresses);
    }
}

// Link texts lose the controls of both sets; a "mailto:" link names an address only when it
// passes the checks an address in the text passes.
TEST_F(ModernReaderTest, LinkTextsAndMailtoLinksAreCleaned) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a href=t.html>A\xC2\x85"
         "B\xC2\x9F</a>",
         "http://h.test/d/t.html|A B; "},
        {"<a href=u.html>\xC2\xA0\xC2\xA9 C\xC2\x80</a>",
         "http://h.test/d/u.html|\xC2\xA0\xC2\xA9 C; "},
        {"<a href=\"mailto:@\">a</a><a href=\"mailto:jo@\">b</a><a href=\"mailto:@x.org\">c</a>"
         "<a href=\"mailto:jo@x\">d</a><a href=\"mailto:a@b@x.org\">e</a>"
         "<a href=\"mailto:jo@x.org\">f</a>",
         "mailto:jo@x.org; "},
    };
    for (const auto& [page, modern] : cases) {
        SCOPED_TRACE(page);
        scan(page, true);
        EXPECT_EQ(summary(), modern);
    }
}

TEST_F(ModernReaderTest, FindsExactlyWhatRandomPagesHide) {
    std::mt19937 rng(20240611);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    const auto word = [&](std::size_t min, std::size_t max) {
        std::string w(1, letters[pick(26)]);
        for (std::size_t k = pick(max - min + 1) + min; k > 1; --k) w += letters[pick(36)];
        return w;
    };
    // One character as pages write it: as it is, as a number, or in inline markup.
    const auto hide_char = [&](char c) -> std::string {
        switch (pick(c == '@' || c == '.' ? 7 : 5)) {
            case 0:
                return "&#" + std::to_string(static_cast<int>(c)) + ";";
            case 1: {
                char hex[8];
                std::snprintf(hex, sizeof hex, "&#x%X;", static_cast<unsigned>(c));
                return hex;
            }
            case 2:  // inline markup joins a word only next to its '@' or '.'
                if (c != '@' && c != '.') return std::string(1, c);
                return "<span>" + std::string(1, c) + "</span>";
            case 3:
                return "<!-- x -->" + std::string(1, c);
            case 5:
                return c == '@' ? "&commat;" : "&period;";
            case 6:
                return c == '@' ? "<b>&commat;</b>" : "<i>&#46;</i>";
            default:
                return std::string(1, c);
        }
    };
    const std::string_view separators[] = {" ", "<p>", "</td><td>", "<br>", ", ", "<div>\n"};
    const std::string_view noise[] = {"Hello world.",
                                      "<b>bold</b> text",
                                      "3 @ 4",
                                      "a.b",
                                      "<img src=x.gif alt=\"a@b\">",
                                      "&copy; 2024 &amp; more",
                                      "<a name=top></a>",
                                      "email me (at) home."};

    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::set<std::string> addresses;
        std::set<std::string> links;
        std::string page = "<html><head><title>t</title></head><body>";
        for (int item = 0; item < 12; ++item) {
            page += separators[pick(std::size(separators))];
            page += noise[pick(std::size(noise))];
            page += separators[pick(std::size(separators))];
            const std::string local = word(1, 8);
            std::string top;  // never the ending of a web file, which no address has
            while (top.empty() || top == "js" || top == "css" || top == "png" || top == "jpg" ||
                   top == "gif" || top == "svg" || top == "ico") {
                top = std::string(1, letters[pick(26)]) + letters[pick(26)] + (pick(2) ? "" : "m");
            }
            const std::string domain = word(1, 8) + "." + top;
            const std::string address = local + "@" + domain;
            switch (pick(5)) {
                case 0:
                    for (char c : address) page += hide_char(c);
                    addresses.insert("mailto:" + address);
                    break;
                case 1: {  // a "mailto:" link, percent-encoded, the "%" itself a reference
                    page += "<a href=\"mailto:";
                    for (char c : address) {
                        char hex[16];
                        std::snprintf(hex, sizeof hex, pick(2) ? "&#37;%02X" : "%%%02x",
                                      static_cast<unsigned>(c));
                        page += pick(2) ? std::string(1, c) : std::string(hex);
                    }
                    page += "\">write</a>";
                    addresses.insert("mailto:" + address);
                    break;
                }
                case 2: {  // written out
                    const std::string name = word(1, 6);
                    page += local + (pick(2) ? " [at] " : "(AT)") + name +
                            (pick(2) ? " [dot] " : ".") + "org";
                    addresses.insert("mailto:" + local + "@" + name + ".org");
                    break;
                }
                default: {  // a link, its attributes in any order and case
                    const std::string file = word(1, 6) + (pick(3) ? ".html" : "/");
                    const char q = "\"' "[pick(3)];
                    std::string href = std::string(pick(2) ? "href" : "HREF") + "=" +
                                       (q == ' ' ? "" : std::string(1, q)) + file +
                                       (pick(2) ? "#f" + word(1, 3) : "") +
                                       (q == ' ' ? "" : std::string(1, q));
                    std::string tag = pick(2) ? "<a" : "<A";
                    if (pick(2)) tag += " class=\"c" + word(1, 3) + "\"";
                    tag += " " + href;
                    if (pick(2)) tag += " title='" + word(1, 5) + "'";
                    page += tag + ">" + word(1, 5) + "</a>";
                    links.insert("http://h.test/d/" + file);
                    break;
                }
            }
        }
        page += "</body></html>";
        scan(page, true);
        EXPECT_EQ(stored_set(store::TreeFile::Addresses), addresses) << page;
        EXPECT_EQ(stored_set(store::TreeFile::Links), links) << page;
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
