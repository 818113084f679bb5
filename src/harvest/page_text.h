#pragma once

// Text helpers of the page scanner, shared with address recording and the keyword test: markup
// and entity removal, link text cleaning, quote-aware searching, and link classification.
// Texts are bytes; a NUL byte ends a text, as it would for a zero-terminated string.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvelox::harvest {

inline constexpr std::size_t kNoPosition = std::string_view::npos;
inline constexpr std::size_t kMaxTitle = 50;       // titles and link texts
inline constexpr std::size_t kWorkBuffer = 2048;   // attribute values and link texts
inline constexpr std::string_view kNoTitle = "No Title";

// Removes tags (up to their ">" found outside quotes; stops at a tag without one), turns
// "&lt;" into "<" and "&amp;" into "&" (any case), "%20" into a blank, then removes every
// entity from "&" through the next ";" (stops at an "&" without one).
void strip_markup(std::string& text);

// Line feeds, tabs and carriage returns become blanks, then runs of blanks become one.
void collapse_whitespace(std::string& text);

// Cleans a link text: empty text with a URL takes the URL's last segment; markup stripped;
// "<" and ">" become blanks; trimmed; cut to 50 characters; "No Title" when nothing is left.
void clean_link_text(std::string& text, std::string_view url);

// Position of the first `c` in `text` at or after `from` that is outside double-quoted and
// single-quoted runs; kNoPosition at the end or inside an unclosed quote.
[[nodiscard]] std::size_t find_outside_quotes(std::string_view text, char c, std::size_t from = 0);

// From `pos`, skips white space, "&nbsp;" (exact case) and whole tags that have a ">", as long
// as any of them follows; returns the position reached.
[[nodiscard]] std::size_t skip_filler(std::string_view text, std::size_t pos);

// KIND_ADDRESS for "mailto:" links, KIND_PAGE for crawlable pages, 0 for everything else.
[[nodiscard]] uint32_t classify_link(std::string_view url);

// True for the URLs of the web search engines whose result pages are followed.
[[nodiscard]] bool is_search_engine_url(std::string_view url);

// True when one of the comma-separated (optionally double-quoted) entries of `sought` occurs in
// `page`, ignoring case. An empty entry never matches.
[[nodiscard]] bool page_mentions_address(std::string_view page, std::string_view sought);

}  // namespace tarnvelox::harvest
