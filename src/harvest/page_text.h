#pragma once

// Text helpers of the page scanner, shared with address recording and the keyword test: markup
// and entity removal, link text cleaning, quote-aware searching, and link classification.
// Texts are bytes; a NUL byte ends a text, as it would for a zero-terminated string. Every
// helper runs in time linear in its input, however hostile the page (runs of "<" without ">",
// unclosed quotes, "&" without ";").

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::harvest {

inline constexpr std::size_t kNoPosition = std::string_view::npos;
inline constexpr std::size_t kMaxTitle = 50;      // titles and link texts
inline constexpr std::size_t kWorkBuffer = 2048;  // attribute values and link texts
inline constexpr std::string_view kNoTitle = "No Title";

// Removes tags (up to their ">" found outside quotes; stops at a tag without one), turns
// "&lt;" into "<" and "&amp;" into "&" (any case), "%20" into a blank, then removes every
// entity from "&" through the next ";" (stops at an "&" without one).
void strip_markup(std::string& text);

// Line feeds, tabs and carriage returns become blanks, then runs of blanks become one.
void collapse_whitespace(std::string& text);

// Cleans a link text: empty text with a URL takes the URL's text after its last "/" (nothing
// when the URL has no "/"); markup stripped; "<" and ">" become blanks; trimmed; cut to 50
// characters; "No Title" when nothing is left.
void clean_link_text(std::string& text, std::string_view url);

// Position of the first `c` in `text` at or after `from` that is outside double-quoted and
// single-quoted runs; kNoPosition at the end or inside an unclosed quote. `c` is tested before
// the quotes, so searching for a quote character finds the first one.
[[nodiscard]] std::size_t find_outside_quotes(std::string_view text, char c, std::size_t from = 0);

// From `pos`, skips white space, "&nbsp;" (exact case) and whole tags that have a ">", as long
// as any of them follows; returns the position reached. One call is linear in the text; callers
// that call it again and again over one text use FillerSkipper instead.
[[nodiscard]] std::size_t skip_filler(std::string_view text, std::size_t pos);

// skip_filler for many calls over one text. It remembers where the last ">" search ended, so a
// text with many "<" and no ">" after them is scanned once, not once per "<". Borrows `text`
// for its lifetime.
class FillerSkipper {
public:
    explicit FillerSkipper(std::string_view text) : text_(text) {}

    [[nodiscard]] std::size_t skip(std::size_t pos);

private:
    // First ">" at or after `from`, before any NUL; kNoPosition when there is none.
    std::size_t tag_end(std::size_t from);

    std::string_view text_;
    std::size_t searched_from_ = kNoPosition;  // the last search started here...
    std::size_t found_at_ = kNoPosition;       // ...and found this (valid for every start up to it)
};

// KIND_ADDRESS for "mailto:" links, KIND_PAGE for crawlable pages, 0 for everything else. Links
// to directories (a path ending in "/") are pages only with `follow_directories`.
[[nodiscard]] uint32_t classify_link(std::string_view url, bool follow_directories = false);

// True for the URLs of the web search engines whose result pages are followed: a URL naming
// one of four engines of old (any letter case), or one that begins with an entry of
// `engine_prefixes` (request templates cut at their first "?" or "$"), its scheme and host in
// any letter case. A prefix whose path is empty or "/" names the host alone: it takes only
// the root, with or without a query or fragment ("http://engine" is no prefix of
// "http://engine.example/", nor "http://engine/" of "http://engine/page.html").
[[nodiscard]] bool is_search_engine_url(std::string_view url,
                                        const std::vector<std::string>& engine_prefixes);

// True when one of the comma-separated (optionally double-quoted) entries of `sought` occurs in
// `page`, ignoring case. An empty entry never matches; entries are cut to kWorkBuffer
// characters.
[[nodiscard]] bool page_mentions_address(std::string_view page, std::string_view sought);

// The answer of base::find_nocase (first case-insensitive occurrence of `sought` at or after
// `from`), found in time linear in both lengths and without allocating, so that a long sought
// text that almost matches everywhere (a run of one letter) costs one pass over `text`.
[[nodiscard]] std::size_t find_nocase_linear(std::string_view text, std::string_view sought,
                                             std::size_t from = 0);

}  // namespace tarnvelox::harvest
