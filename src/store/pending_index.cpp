#include "store/pending_index.h"

namespace tarnvelox::store {

namespace {

uint32_t merge(uint32_t a, uint32_t b) {
    if (a == PendingIndex::kNotPending) return b;
    if (b == PendingIndex::kNotPending || a == b) return a;
    return PendingIndex::kSeveralHosts;
}

// Whether a range with this summary holds a pending node on a host other than `excluded`.
bool admits(uint32_t summary, uint32_t excluded) {
    return summary != PendingIndex::kNotPending && summary != excluded;
}

}  // namespace

void PendingIndex::clear() {
    tree_.clear();
    leaves_ = 0;
    count_ = 0;
}

void PendingIndex::grow(uint32_t ordinal) {
    std::size_t leaves = leaves_ == 0 ? 1024 : leaves_;
    while (leaves <= ordinal) leaves *= 2;
    std::vector<uint32_t> tree(2 * leaves, kNotPending);
    for (std::size_t i = 0; i < leaves_; ++i) tree[leaves + i] = tree_[leaves_ + i];
    for (std::size_t i = leaves - 1; i >= 1; --i) tree[i] = merge(tree[2 * i], tree[2 * i + 1]);
    tree_ = std::move(tree);
    leaves_ = leaves;
}

void PendingIndex::set(uint32_t ordinal, uint32_t host) {
    if (ordinal >= leaves_) {
        if (host == kNotPending) return;
        grow(ordinal);
    }
    std::size_t i = leaves_ + ordinal;
    if (tree_[i] == kNotPending && host != kNotPending) ++count_;
    if (tree_[i] != kNotPending && host == kNotPending) --count_;
    tree_[i] = host;
    for (i /= 2; i >= 1; i /= 2) {
        const uint32_t merged = merge(tree_[2 * i], tree_[2 * i + 1]);
        if (tree_[i] == merged) break;  // nothing above changes either
        tree_[i] = merged;
    }
}

uint32_t PendingIndex::first_pending(uint32_t from, uint32_t excluded) const {
    if (from >= leaves_) return kNotPending;
    return find(1, 0, leaves_, from, excluded);
}

uint32_t PendingIndex::find(std::size_t node, std::size_t lo, std::size_t hi, uint32_t from,
                            uint32_t excluded) const {
    // A range that lies wholly at or after `from` and admits holds the answer; only the ranges
    // along the left boundary are searched without that certainty, so this is O(log n).
    if (hi <= from || !admits(tree_[node], excluded)) return kNotPending;
    if (hi - lo == 1) return static_cast<uint32_t>(lo);
    const std::size_t mid = (lo + hi) / 2;
    const uint32_t left = find(2 * node, lo, mid, from, excluded);
    if (left != kNotPending) return left;
    return find(2 * node + 1, mid, hi, from, excluded);
}

}  // namespace tarnvelox::store
