#pragma once

// PendingIndex: which nodes of a links file, in file order, the crawl frontier could still hand
// out, and on which host each lies. A segment tree over node ordinals whose every range holds
// a summary: no pending node, pending nodes of one host (its id), or of several hosts. "The
// first pending node at or after a position whose host is not H" is then found in O(log n)
// instead of reading the file forward node by node.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnvelox::store {

class PendingIndex {
public:
    static constexpr uint32_t kNotPending = 0xFFFFFFFF;
    static constexpr uint32_t kSeveralHosts = 0xFFFFFFFE;
    static constexpr uint32_t kAnyHost = 0xFFFFFFFD;  // a host id that no node carries

    void clear();
    // Node `ordinal` is pending on host `host`, or not pending (kNotPending).
    void set(uint32_t ordinal, uint32_t host);
    // The first ordinal at or after `from` that is pending on a host other than `excluded`
    // (kAnyHost: on any host), or kNotPending.
    [[nodiscard]] uint32_t first_pending(uint32_t from, uint32_t excluded) const;
    // How many nodes are pending.
    [[nodiscard]] std::size_t count() const { return count_; }

private:
    [[nodiscard]] uint32_t find(std::size_t node, std::size_t lo, std::size_t hi, uint32_t from,
                                uint32_t excluded) const;
    void grow(uint32_t ordinal);

    std::vector<uint32_t> tree_;  // tree_[1] is the root; leaves at [leaves_, 2 * leaves_)
    std::size_t leaves_ = 0;
    std::size_t count_ = 0;
};

}  // namespace tarnvelox::store
