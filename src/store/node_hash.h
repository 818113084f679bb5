#pragma once

// NodeHash: an open-addressing hash set of node numbers keyed by the nodes' keys, which it does
// not keep: `KeyOf` gives the key of a node number (as OrderedIndex does), so a set of a
// million nodes costs eight bytes a slot. Linear probing over a power-of-two table kept at most
// half full; an erased node leaves a tombstone until the next growth. Each distinct key has one
// slot: further nodes with an equal key (only a damaged file has them) wait in a list beside
// it, so that any number of them costs no more probing than one. Single-threaded; the keys must
// not change while their nodes are in the set.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnvelox::store {

template <typename KeyOf>
class NodeHash {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFF;

    explicit NodeHash(KeyOf key_of) : key_of_(key_of) {}

    // A node with `key` that `accept(node)` takes, or kNone.
    template <typename Accept>
    [[nodiscard]] uint32_t find(std::string_view key, Accept accept) const {
        if (slots_.empty()) return kNone;
        const uint32_t h = hash_of(key);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.node == kEmpty) return kNone;
            if (slot.node == kErased || slot.hash != h || key_of_(slot.node) != key) continue;
            // The one slot of this key: its node, then the others with the same key.
            if (accept(slot.node)) return slot.node;
            const auto more = same_key_.find(slot.node);
            if (more == same_key_.end()) return kNone;
            for (const uint32_t other : more->second) {
                if (accept(other)) return other;
            }
            return kNone;
        }
    }

    void insert(uint32_t node) {
        if ((used_ + 1) * 2 > slots_.size()) {
            // Sized for the entries still in use: tombstones are dropped, not carried along.
            std::size_t in_use = 1;
            for (const Slot& slot : slots_) in_use += slot.node < kErased;
            resize(table_size(in_use * 2));
        }
        const std::string_view key = key_of_(node);
        const uint32_t h = hash_of(key);
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        for (; slots_[i].node != kEmpty; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.node != kErased && slot.hash == h && key_of_(slot.node) == key) {
                same_key_[slot.node].push_back(node);
                return;
            }
        }
        slots_[i] = Slot{h, node};
        ++used_;
    }

    void erase(uint32_t node) {
        if (slots_.empty()) return;
        const std::string_view key = key_of_(node);
        const uint32_t h = hash_of(key);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask; slots_[i].node != kEmpty; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.node == kErased || slot.hash != h || key_of_(slot.node) != key) continue;
            const auto more = same_key_.find(slot.node);
            if (slot.node == node) {
                if (more == same_key_.end()) {
                    slot.node = kErased;  // still counted in used_ until the next growth
                    return;
                }
                // Another node of the key takes the slot, and the list with it.
                std::vector<uint32_t> others = std::move(more->second);
                same_key_.erase(more);
                slot.node = others.back();
                others.pop_back();
                if (!others.empty()) same_key_.emplace(slot.node, std::move(others));
                return;
            }
            if (more == same_key_.end()) return;
            std::vector<uint32_t>& others = more->second;
            const auto it = std::find(others.begin(), others.end(), node);
            if (it == others.end()) return;
            *it = others.back();
            others.pop_back();
            if (others.empty()) same_key_.erase(more);
            return;
        }
    }

    // An empty table with room for `keys` entries before it grows.
    void reset(std::size_t keys) {
        slots_.assign(table_size(keys), Slot{0, kEmpty});
        same_key_.clear();
        used_ = 0;
    }

    void clear() {
        slots_.clear();
        slots_.shrink_to_fit();
        same_key_.clear();
        used_ = 0;
    }

private:
    static constexpr uint32_t kEmpty = kNone;
    static constexpr uint32_t kErased = 0xFFFFFFFE;
    static constexpr std::size_t kMinSlots = 64;

    struct Slot {
        uint32_t hash;
        uint32_t node;  // a node number, or kEmpty / kErased
    };

    static uint32_t hash_of(std::string_view key) {
        return static_cast<uint32_t>(std::hash<std::string_view>{}(key));
    }
    // The smallest power of two that keeps `keys` entries at most half full.
    static std::size_t table_size(std::size_t keys) {
        std::size_t slots = kMinSlots;
        while (slots < keys * 2 + 2) slots *= 2;
        return slots;
    }

    void resize(std::size_t slots) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(slots, Slot{0, kEmpty});
        used_ = 0;
        for (const Slot& slot : old) {
            if (slot.node < kErased) place(slot);
        }
    }

    // Into a table known to have room, for a key it does not hold yet.
    void place(Slot entry) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = entry.hash & mask;
        while (slots_[i].node != kEmpty) i = (i + 1) & mask;
        slots_[i] = entry;
        ++used_;
    }

    KeyOf key_of_;
    std::vector<Slot> slots_;  // power-of-two size, at most half used
    std::size_t used_ = 0;     // slots not empty (tombstones included)
    // The other nodes of a key, by the node that holds the key's slot.
    std::unordered_map<uint32_t, std::vector<uint32_t>> same_key_;
};

}  // namespace tarnvelox::store
