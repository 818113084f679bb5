#pragma once

// NodeHash: an open-addressing hash set of node numbers keyed by the nodes' keys, which it does
// not keep: `KeyOf` gives the key of a node number (as OrderedIndex does), so a set of a
// million nodes costs eight bytes a slot. Linear probing over a power-of-two table kept at most
// half full; an erased node leaves a tombstone until the next growth. Single-threaded; the
// keys must not change while their nodes are in the set.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
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
            if (slot.node == kErased || slot.hash != h) continue;
            if (key_of_(slot.node) == key && accept(slot.node)) return slot.node;
        }
    }

    void insert(uint32_t node) {
        if ((used_ + 1) * 2 > slots_.size()) {
            // Sized for the entries still in use: tombstones are dropped, not carried along.
            std::size_t in_use = 1;
            for (const Slot& slot : slots_) in_use += slot.node < kErased;
            resize(table_size(in_use * 2));
        }
        place(Slot{hash_of(key_of_(node)), node});
    }

    void erase(uint32_t node) {
        if (slots_.empty()) return;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash_of(key_of_(node)) & mask; slots_[i].node != kEmpty;
             i = (i + 1) & mask) {
            if (slots_[i].node == node) {
                slots_[i].node = kErased;  // still counted in used_ until the next growth
                return;
            }
        }
    }

    // An empty table with room for `keys` entries before it grows.
    void reset(std::size_t keys) {
        slots_.assign(table_size(keys), Slot{0, kEmpty});
        used_ = 0;
    }

    void clear() {
        slots_.clear();
        slots_.shrink_to_fit();
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

    // Into a table known to have room.
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
};

}  // namespace tarnvelox::store
