#include "net/robots_txt.h"

#include <algorithm>

#include "base/text_util.h"

namespace tarnvelox::net {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The characters a URL never needs to escape; an escape of one of them is the character.
bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

void append_escape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0x0F]);
}

// See normalise_robots_path. In a pattern "*" and a final "$" are the pattern's own; in a
// path they are characters, which a pattern names by their escapes. A "$" anywhere else in a
// pattern is the character, so it is escaped as a path's is.
std::string normalise(std::string_view text, bool pattern) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            const auto decoded =
                static_cast<unsigned char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            if (unreserved(decoded)) {
                out.push_back(static_cast<char>(decoded));
            } else {
                append_escape(out, decoded);
            }
            i += 2;
        } else if (c <= 0x20 || c >= 0x7F || (!pattern && c == '*') ||
                   (c == '$' && (!pattern || i + 1 != text.size()))) {
            append_escape(out, c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// The leading run of letters, "-" and "_": a user-agent value's product token.
std::string_view product_token_of(std::string_view value) {
    std::size_t n = 0;
    while (n < value.size()) {
        const char c = value[n];
        const bool token_char =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
        if (!token_char) break;
        ++n;
    }
    return value.substr(0, n);
}

// Seconds, "12" or "1.5" or ".5", as milliseconds (capped); -1 when the value is not one.
int64_t delay_ms(std::string_view value) {
    int64_t whole = 0;
    std::size_t i = 0;
    bool digits = false;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        digits = true;
        whole = std::min<int64_t>(whole * 10 + (value[i] - '0'), kMaxRobotsDelayMs);
    }
    int64_t ms = std::min<int64_t>(whole * 1000, kMaxRobotsDelayMs);
    if (i < value.size() && value[i] == '.') {
        int64_t scale = 100;
        for (++i; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
            digits = true;
            ms += (value[i] - '0') * scale;  // digits past the millisecond count nothing
            scale /= 10;
        }
    }
    if (!digits || i != value.size()) return -1;
    return std::min(ms, kMaxRobotsDelayMs);
}

enum class Key { UserAgent, Allow, Disallow, CrawlDelay, Other };

Key key_of(std::string_view name) {
    if (base::equal_nocase(name, "user-agent")) return Key::UserAgent;
    if (base::equal_nocase(name, "allow")) return Key::Allow;
    if (base::equal_nocase(name, "disallow")) return Key::Disallow;
    if (base::equal_nocase(name, "crawl-delay")) return Key::CrawlDelay;
    return Key::Other;
}

// Where the rules of the groups seen so far go.
struct Collector {
    RobotsRules rules;
    bool named = false;  // a group named the crawler (for the product token's collector)

    void add(const Key key, std::string_view value) {
        if (key == Key::CrawlDelay) {
            const int64_t ms = delay_ms(value);
            if (ms >= 0) rules.crawl_delay_ms = std::max(rules.crawl_delay_ms, ms);
            return;
        }
        if (value.empty()) return;  // an empty value is no rule
        RobotsRule rule;
        rule.allow = key == Key::Allow;
        if (value.front() != '/' && value.front() != '*') rule.pattern = "/";
        rule.pattern += normalise_robots_pattern(value);
        rules.rules.push_back(std::move(rule));
    }
};

// The next line of `text` from `pos` (which moves past its end: CR, LF or CR LF).
std::string_view next_line(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    return text.substr(start, end - start);
}

}  // namespace

std::string normalise_robots_path(std::string_view path) { return normalise(path, false); }

std::string normalise_robots_pattern(std::string_view pattern) { return normalise(pattern, true); }

bool robots_pattern_matches(std::string_view pattern, std::string_view path) {
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored) pattern.remove_suffix(1);
    // Greedy, going back to the last "*" on a mismatch: a later "*" can absorb whatever an
    // earlier one could, so no earlier choice needs revisiting. At worst pattern x path steps.
    std::size_t p = 0;
    std::size_t s = 0;
    std::size_t star = std::string_view::npos;  // the last "*" passed in the pattern
    std::size_t star_s = 0;                     // where the path stood after that "*"
    for (;;) {
        if (p == pattern.size()) {
            if (!anchored || s == path.size()) return true;
        } else if (pattern[p] == '*') {
            star = p++;
            star_s = s;
            continue;
        } else if (s < path.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
            continue;
        }
        // A mismatch, or the pattern ended before an anchored path: let the last "*" take one
        // character more.
        if (star == std::string_view::npos || star_s >= path.size()) return false;
        p = star + 1;
        s = ++star_s;
    }
}

RobotsRules parse_robots_txt(std::string_view text, std::string_view product_token) {
    if (text.size() > kMaxRobotsBytes) {
        // The line the cut falls into is incomplete: a rule cut short could say more than its
        // writer meant (an allow of "/a" from "/about/"), so it goes.
        text = text.substr(0, kMaxRobotsBytes);
        const std::size_t last_end = text.find_last_of("\r\n");
        text = text.substr(0, last_end == std::string_view::npos ? 0 : last_end);
    }
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());

    Collector ours;
    Collector everyone;
    bool names_us = false;        // the current group names the crawler
    bool names_everyone = false;  // the current group names "*"
    bool in_rules = false;        // a rule has followed the current group's user-agent lines
    bool in_group = false;        // a user-agent line has been seen
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::string_view line = next_line(text, pos);
        line = line.substr(0, line.find('#'));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const Key key = key_of(base::trimmed(line.substr(0, colon)));
        const std::string_view value = base::trimmed(line.substr(colon + 1));
        switch (key) {
            case Key::UserAgent:
                if (in_rules) {  // a new group begins
                    names_us = false;
                    names_everyone = false;
                    in_rules = false;
                }
                in_group = true;
                if (value.starts_with('*')) {
                    names_everyone = true;
                } else if (base::equal_nocase(product_token_of(value), product_token) &&
                           !product_token.empty()) {
                    names_us = true;
                    ours.named = true;
                }
                break;
            case Key::Allow:
            case Key::Disallow:
            case Key::CrawlDelay:
                if (!in_group) break;  // before any user-agent line: no group's
                in_rules = true;
                if (names_us) ours.add(key, value);
                if (names_everyone) everyone.add(key, value);
                break;
            case Key::Other:
                break;
        }
    }
    return ours.named ? std::move(ours.rules) : std::move(everyone.rules);
}

bool robots_allows(const RobotsRules& rules, std::string_view path) {
    if (rules.rules.empty()) return true;
    const std::string normal = normalise_robots_path(path.empty() ? std::string_view("/") : path);
    std::size_t best = 0;
    bool matched = false;
    bool allowed = true;
    for (const RobotsRule& rule : rules.rules) {
        const std::size_t length = rule.pattern.size();
        // Only a longer match, or an allow of the same length, can change the verdict.
        if (matched && (length < best || (length == best && (allowed || !rule.allow)))) continue;
        if (!robots_pattern_matches(rule.pattern, normal)) continue;
        matched = true;
        best = length;
        allowed = rule.allow;
    }
    return allowed;
}

}  // namespace tarnvelox::net
