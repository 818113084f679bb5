#include "harvest/html_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tarnvelox::harvest {
namespace {

using namespace std::literals;

struct Case {
    std::string_view text;
    std::string_view expected;
};

// Every name of the table, with and without its ";", and numbers at every edge, against what a
// reference decoder of running text (Python's html.unescape) made of them; the generator keeps
// noncharacters, which that decoder drops and the standard keeps.
TEST(HtmlTextTest, TextDecodesLikeTheReferenceDecoder) {
    const Case cases[] = {
#include "harvest/char_ref_cases.inc"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decoded(c.text, Charset::Utf8, RefPlace::Text), c.expected);
    }
}

TEST(HtmlTextTest, AttributeValuesKeepOldStyleNamesThatRunIntoMoreText) {
    const Case cases[] = {
        {"?a=1&copy=2&lang=en", "?a=1&copy=2&lang=en"},
        {"?a=1&copy;=2", "?a=1\xC2\xA9=2"},
        {"x&amp;y &amp=z &ampy", "x&y &amp=z &ampy"},
        {"&lt &gt", "< >"},
        {"&lt", "<"},
        {"&commat;&#64;&#x40", "@@@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decoded(c.text, Charset::Utf8, RefPlace::Attribute), c.expected);
    }
}

TEST(HtmlTextTest, PageBytesBecomeWellFormedUtf8) {
    const struct {
        std::string_view raw;
        Charset charset;
        std::string_view expected;
    } cases[] = {
        {"caf\xE9 \x80 \x81 \xFF", Charset::Windows1252,
         "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81 \xC3\xBF"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", Charset::Utf8, "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"a\xC3(b", Charset::Utf8, "a\xEF\xBF\xBD(b"},
        {"\xC0\xAF", Charset::Utf8, "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
        {"\xED\xA0\x80", Charset::Utf8, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80", Charset::Utf8,
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // beyond U+10FFFF
        {"end \xE2\x82", Charset::Utf8, "end \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"&eacute; \xE9", Charset::Windows1252, "\xC3\xA9 \xC3\xA9"},
        {"a\0b"sv, Charset::Utf8, "a\0b"sv},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const std::string out = decoded(c.raw, c.charset, RefPlace::Text);
        EXPECT_EQ(out, c.expected);
        EXPECT_TRUE(is_valid_utf8(out));
    }
    EXPECT_FALSE(is_valid_utf8("\xE9"));
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));
    EXPECT_TRUE(is_valid_utf8(""));
}

TEST(HtmlTextTest, CutsNeverSplitACharacter) {
    const std::string text = "ab\xC3\xA9\xE2\x82\xAC";  // a b é €
    const std::size_t expected[] = {0, 1, 2, 2, 4, 4, 4, 7, 7};
    for (std::size_t max = 0; max < std::size(expected); ++max) {
        EXPECT_EQ(utf8_prefix_length(text, max), expected[max]) << max;
    }
}

TEST(HtmlTextTest, CharsetLabelsAsPagesAndServersWriteThem) {
    EXPECT_EQ(charset_from_label("utf-8"), Charset::Utf8);
    EXPECT_EQ(charset_from_label(" \"UTF8\" "), Charset::Utf8);
    EXPECT_EQ(charset_from_label("ISO-8859-1"), Charset::Windows1252);
    EXPECT_EQ(charset_from_label("'latin1'"), Charset::Windows1252);
    EXPECT_EQ(charset_from_label("windows-1252"), Charset::Windows1252);
    EXPECT_EQ(charset_from_label("us-ascii"), Charset::Windows1252);
    EXPECT_EQ(charset_from_label("shift_jis"), std::nullopt);
    EXPECT_EQ(charset_from_label(""), std::nullopt);
    EXPECT_EQ(charset_from_label("utf-8x"), std::nullopt);
}

}  // namespace
}  // namespace tarnvelox::harvest
