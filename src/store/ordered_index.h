#pragma once

// OrderedIndex: a set of node indices kept in the order of their keys, for the link tree
// file's in-memory index. Sorted chunks of at most 2 * kChunk indices: a look-up is a binary
// search over the chunks' last keys and one inside a chunk, which touches far fewer cache lines
// than a node-per-key tree, and an insert moves at most one chunk's indices. Keys are read
// through KeyOf (index -> std::string_view) and compare as unsigned bytes; they must be unique
// and must not change while their index is in the set.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnvelox::store {

template <typename KeyOf>
class OrderedIndex {
public:
    static constexpr uint32_t kNoIndex = 0xFFFFFFFF;
    static constexpr std::size_t kChunk = 256;

    explicit OrderedIndex(KeyOf key_of) : key_of_(key_of) {}

    [[nodiscard]] std::size_t size() const { return size_; }
    void clear() {
        chunks_.clear();
        size_ = 0;
    }

    // Adds an index whose key sorts above every key in the set.
    void push_back(uint32_t index) {
        if (chunks_.empty() || chunks_.back().size() >= kChunk) chunks_.emplace_back();
        chunks_.back().push_back(index);
        ++size_;
    }

    // The indices with the greatest key below `key` and the least key at or above it
    // (kNoIndex where there is none).
    [[nodiscard]] std::pair<uint32_t, uint32_t> neighbours(std::string_view key) const {
        const std::size_t c = chunk_for(key);
        if (c == chunks_.size()) {
            return {chunks_.empty() ? kNoIndex : chunks_.back().back(), kNoIndex};
        }
        const std::vector<uint32_t>& chunk = chunks_[c];
        const std::size_t i = position_in(chunk, key);
        const uint32_t before =
            i > 0 ? chunk[i - 1] : (c > 0 ? chunks_[c - 1].back() : kNoIndex);
        return {before, chunk[i]};
    }

    void insert(uint32_t index) {
        const std::string_view key = key_of_(index);
        if (chunks_.empty()) {
            push_back(index);
            return;
        }
        std::size_t c = std::min(chunk_for(key), chunks_.size() - 1);
        std::vector<uint32_t>& chunk = chunks_[c];
        chunk.insert(chunk.begin() + static_cast<std::ptrdiff_t>(position_in(chunk, key)), index);
        ++size_;
        if (chunk.size() > 2 * kChunk) {
            std::vector<uint32_t> upper(chunk.begin() + kChunk, chunk.end());
            chunk.resize(kChunk);
            chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(c + 1), std::move(upper));
        }
    }

    // Removes `index` (found by its key); nothing happens when it is not in the set.
    void erase(uint32_t index) {
        const std::string_view key = key_of_(index);
        const std::size_t c = chunk_for(key);
        if (c == chunks_.size()) return;
        std::vector<uint32_t>& chunk = chunks_[c];
        const std::size_t i = position_in(chunk, key);
        if (i == chunk.size() || chunk[i] != index) return;
        chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(i));
        --size_;
        if (chunk.empty()) chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(c));
    }

private:
    // The first chunk whose last key is at or above `key`; chunks_.size() when none is.
    [[nodiscard]] std::size_t chunk_for(std::string_view key) const {
        std::size_t lo = 0;
        std::size_t hi = chunks_.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (key_of_(chunks_[mid].back()) < key) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo;
    }
    [[nodiscard]] std::size_t position_in(const std::vector<uint32_t>& chunk,
                                          std::string_view key) const {
        return static_cast<std::size_t>(
            std::lower_bound(chunk.begin(), chunk.end(), key,
                             [this](uint32_t i, std::string_view k) { return key_of_(i) < k; }) -
            chunk.begin());
    }

    KeyOf key_of_;
    std::vector<std::vector<uint32_t>> chunks_;  // every chunk sorted and not empty
    std::size_t size_ = 0;
};

}  // namespace tarnvelox::store
