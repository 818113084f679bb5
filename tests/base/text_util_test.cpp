#include "base/text_util.h"

#include <gtest/gtest.h>

#include <climits>

namespace tarnvelox::base {
namespace {

TEST(TextUtilTest, FindNocaseMatchesAnyLetterCase) {
    struct Row {
        std::string_view text, sought;
        std::size_t expected;
    };
    const Row rows[] = {
        {"Write to MAILTO:a@b.c", "mailto:", 9},
        {"mailto:", "MAILTO:", 0},
        {"abc", "", 0},
        {"", "a", kNotFound},
        {"ab", "abc", kNotFound},
        {"xxAbAbc", "abc", 4},
        {"\xC4\xE4", "\xE4\xE4", kNotFound},  // bytes above 0x7F are not letters
        {std::string_view("a\0bc", 4), "bc", 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.text) + " / " + std::string(row.sought));
        EXPECT_EQ(find_nocase(row.text, row.sought), row.expected);
    }
    EXPECT_EQ(find_nocase("abcabc", "ABC", 1), 3u);
    EXPECT_EQ(find_nocase("abc", "a", 4), kNotFound);
}

TEST(TextUtilTest, ReplaceFirstMovesTheTailAndReturnsPositionAfterInsert) {
    std::string text = "a&b&c";
    EXPECT_EQ(replace_first(text, "&", "&amp;"), 6u);
    EXPECT_EQ(text, "a&amp;b&c");
    // Continuing after the inserted text replaces the next one, not the inserted one again.
    EXPECT_EQ(replace_first(text, "&", "&amp;", 6), 12u);
    EXPECT_EQ(text, "a&amp;b&amp;c");
    EXPECT_EQ(replace_first(text, "#", "x"), kNotFound);
    EXPECT_EQ(text, "a&amp;b&amp;c");

    std::string shrink = "one  two";
    EXPECT_EQ(replace_first(shrink, "  ", " "), 4u);
    EXPECT_EQ(shrink, "one two");

    std::string mixed = "see MailTo:x";
    EXPECT_EQ(replace_first(mixed, "mailto:", ""), kNotFound);  // exact case only
    EXPECT_EQ(replace_first_nocase(mixed, "mailto:", ""), 4u);
    EXPECT_EQ(mixed, "see x");
}

TEST(TextUtilTest, TrimRemovesAsciiWhiteSpaceOnly) {
    std::string all_space = " \t\n\v\f\r";
    EXPECT_EQ(trim(all_space), "");
    std::string both = "\r\n  title \t";
    EXPECT_EQ(trim(both), "title");
    std::string right = "  keep left  \n";
    EXPECT_EQ(trim_right(right), "  keep left");
    std::string high = "\xA0x\xA0";  // 0xA0 is an ordinary byte
    EXPECT_EQ(trim(high), "\xA0x\xA0");
    EXPECT_EQ(trimmed("  a b  "), "a b");
}

TEST(TextUtilTest, NumbersAndRepeats) {
    EXPECT_EQ(number_text(0), "0");
    EXPECT_EQ(number_text(INT32_MIN + 1), "-2147483647");
    EXPECT_EQ(number_text(-5), "-5");
    EXPECT_EQ(repeat_char('-', 3), "---");
    EXPECT_EQ(repeat_char('-', 0), "");
    EXPECT_EQ(repeat_char('-', -4), "");
}

TEST(TextUtilTest, BoundedCopiesStopAtTheCapOrTheCharacter) {
    EXPECT_EQ(copy_bounded("abcdef", 3), "abc");
    EXPECT_EQ(copy_bounded("ab", 3), "ab");
    EXPECT_EQ(copy_until("host:80/x", ':'), "host");
    EXPECT_EQ(copy_until("host", ':'), "host");
    EXPECT_EQ(copy_until_bounded("abcdef:1", ':', 4), "abcd");
    EXPECT_EQ(c_text(std::string_view("ab\0cd", 5)), "ab");
}

TEST(TextUtilTest, ReadIntFollowsTheStoredNumberRule) {
    struct Row {
        std::string_view text;
        int32_t expected;
    };
    const Row rows[] = {
        {"   64", 64},      {"\t-12x", -12},        {"+7", 7},          {"", 0},
        {"abc", 0},         {"- 5", 0},             {"00042", 42},      {"12 34", 12},
        {"99999999999999999999", INT32_MAX},        {"-99999999999", INT32_MIN},
        {"2147483647", INT32_MAX},                  {"-2147483648", INT32_MIN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(read_int(row.text), row.expected);
    }
}

}  // namespace
}  // namespace tarnvelox::base
