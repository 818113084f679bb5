#pragma once

// HostTable: the hosts of a links file's links, each with a small number, so that the crawl
// frontier compares hosts as numbers. Hosts are compared without regard to case. One thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarnvelox::store {

// The host of a link as the crawl frontier compares it: the text after the first "//" up to the
// next "/" (empty when there is no "//").
[[nodiscard]] std::string_view link_host(std::string_view url);

class HostTable {
public:
    // `unknown` is the number id() gives for a host that no link has.
    explicit HostTable(uint32_t unknown) : unknown_(unknown) {}

    // The number of the host of `url`, given a new one when it is the first link on it.
    uint32_t intern(std::string_view url);
    // The number of `host` (a link_host text, any letter case), or the unknown number.
    [[nodiscard]] uint32_t id(std::string_view host) const;
    void clear() { ids_.clear(); }

private:
    uint32_t unknown_;
    std::unordered_map<std::string, uint32_t> ids_;  // lower-case host -> number
};

}  // namespace tarnvelox::store
