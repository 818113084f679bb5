// Arbitrary bytes as a robots.txt: the text up to the first 0x01 byte is the file, the rest a
// path to judge. Every rule kept must be well formed, the matcher must agree with the plain
// reference, and the verdict must be the one the longest-match rule gives.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/robots_reference.h"
#include "net/robots_txt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnvelox::net;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\x01');
    const std::string_view text = input.substr(0, split);
    const std::string_view path = split == std::string_view::npos ? "/" : input.substr(split + 1);

    // Both the crawler's own groups and everyone's.
    for (const std::string_view token : {kRobotsProductToken, std::string_view("*")}) {
        const RobotsRules rules = parse_robots_txt(text, token);
        if (rules.crawl_delay_ms < -1 || rules.crawl_delay_ms > kMaxRobotsDelayMs) {
            __builtin_trap();
        }
        const std::string normal = normalise_robots_path(path.empty() ? "/" : path);
        std::size_t best = 0;
        bool matched = false;
        bool allowed = true;
        for (const RobotsRule& rule : rules.rules) {
            if (rule.pattern.empty()) __builtin_trap();
            if (rule.pattern.front() != '/' && rule.pattern.front() != '*') __builtin_trap();
            // The reference costs pattern x path steps: keep it to small cases.
            if (rule.pattern.size() * normal.size() > 200'000) return 0;
            const bool hit = tarnvelox::net::testing::reference_pattern_match(rule.pattern, normal);
            if (hit != robots_pattern_matches(rule.pattern, normal)) __builtin_trap();
            if (!hit) continue;
            const std::size_t length = rule.pattern.size();
            if (!matched || length > best) {
                best = length;
                allowed = rule.allow;
                matched = true;
            } else if (length == best && rule.allow) {
                allowed = true;
            }
        }
        if (robots_allows(rules, path) != allowed) __builtin_trap();
    }
    return 0;
}
