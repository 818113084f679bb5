#pragma once

// Reading a site's robots.txt and judging paths by it, as the robots exclusion protocol of
// RFC 9309 has it. parse_robots_txt keeps only what applies to one crawler (the groups naming
// its product token, else the "*" groups); robots_allows answers for one path. Pure functions
// over texts; arguments are borrowed for the duration of the call only, and any bytes are
// taken (junk lines are skipped, never an error).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::net {

// The product token a robots.txt names this crawler by; matched without regard to case.
inline constexpr std::string_view kRobotsProductToken = "Tarnvelox";
// The most of a robots.txt that is read: the least a crawler must read by the protocol
// (500 KiB). A file cut here loses its last, incomplete line as well.
inline constexpr std::size_t kMaxRobotsBytes = 500 * 1024;
// Crawl-delay values are kept in milliseconds up to this (about 11 days): anything larger is
// no different for a run, and the sum stays far from overflowing.
inline constexpr int64_t kMaxRobotsDelayMs = 1'000'000'000;

struct RobotsRule {
    // The path pattern, percent-encoding normalised (normalise_robots_pattern): "*" stands for
    // any run of characters, a "$" at its end for the end of the path.
    std::string pattern;
    bool allow = false;
};

// What a robots.txt says to one crawler. No rules: everything is allowed.
struct RobotsRules {
    std::vector<RobotsRule> rules;
    int64_t crawl_delay_ms = -1;  // the largest "Crawl-delay" of its groups; -1: none
};

// The rules of `text` for the crawler called `product_token`:
// - Lines end at CR, LF or CR LF; a UTF-8 byte order mark at the start is skipped; "#" starts
//   a comment. A line is "key: value" with blanks allowed around both; the keys user-agent,
//   allow, disallow and crawl-delay are known (in any letter case), every other line is
//   skipped.
// - A group is a run of user-agent lines and the rules after it, up to the next user-agent
//   line that follows a rule; rules before the first user-agent line belong to no group. A
//   user-agent value names this crawler when its leading run of letters, "-" and "_" equals the
//   product token (ignoring case), and every crawler when it begins with "*".
// - Every group that names this crawler counts, combined into one, even when none of them has
//   a rule; only when no group names it do the "*" groups count instead.
// - An empty allow or disallow value is no rule. A pattern that begins with neither "/" nor "*"
//   gets a "/" in front.
// - Crawl-delay takes seconds, with or without a decimal fraction; any other value is skipped.
// Only the first kMaxRobotsBytes of `text` are read.
[[nodiscard]] RobotsRules parse_robots_txt(std::string_view text,
                                           std::string_view product_token = kRobotsProductToken);

// Whether `path` (a URL's path and query, without its fragment; empty counts as "/") may be
// fetched: the rule with the longest pattern that matches the start of the path decides, an
// allow rule winning a tie; with no matching rule the path is allowed.
[[nodiscard]] bool robots_allows(const RobotsRules& rules, std::string_view path);

// The forms in which paths and patterns are compared. A "%" with two hexadecimal digits that
// stands for a letter, a digit, "-", ".", "_" or "~" is decoded; any other such escape keeps
// its "%" with the digits in upper case; bytes outside printable ASCII (controls, blank, 0x7F
// and up) are percent-encoded. So "/a%7eb" and "/a~b" compare equal, "/a%2fb" and "/a/b" do
// not. In a path "*" and "$" are encoded too: a pattern's "*" is its wildcard and its final
// "$" its anchor, and its "%2A" and "%24" name the characters. A "$" before a pattern's end
// anchors nothing: it is encoded, and so matches a "$" in the path.
[[nodiscard]] std::string normalise_robots_path(std::string_view path);
[[nodiscard]] std::string normalise_robots_pattern(std::string_view pattern);

// Whether `pattern` (normalised) matches the start of `path` (normalised), or with a final "$"
// the whole of it.
[[nodiscard]] bool robots_pattern_matches(std::string_view pattern, std::string_view path);

}  // namespace tarnvelox::net
