#include "store/node_hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvelox::store {
namespace {

struct KeyOf {
    const std::vector<std::string>* keys;
    std::string_view operator()(uint32_t node) const { return (*keys)[node]; }
};

// A damaged file can hold any number of nodes with one key (a zeroed file: the empty key).
// They cost no more probing than one, each stays findable, and erasing the one that holds the
// key's slot hands the slot to another. With linear probing alone this takes over a minute.
TEST(NodeHashTest, ManyEqualKeysStayFindableAndCheap) {
    constexpr uint32_t kNodes = 400'000;
    std::vector<std::string> keys(kNodes);
    for (uint32_t i = 0; i < kNodes; ++i) keys[i] = i % 4 == 0 ? "k" + std::to_string(i) : "";
    NodeHash<KeyOf> hash{KeyOf{&keys}};
    for (uint32_t i = 0; i < kNodes; ++i) hash.insert(i);

    const auto only = [](uint32_t want) { return [want](uint32_t node) { return node == want; }; };
    const auto any = [](uint32_t) { return true; };
    EXPECT_EQ(hash.find("", only(kNodes - 1)), kNodes - 1);
    EXPECT_EQ(hash.find("k400", any), 400u);
    EXPECT_EQ(hash.find("k401", any), NodeHash<KeyOf>::kNone);
    for (const uint32_t gone : {1u, 2u, kNodes - 1}) {
        SCOPED_TRACE(gone);
        ASSERT_NE(hash.find("", any), NodeHash<KeyOf>::kNone);
        const uint32_t holder = hash.find("", any);
        hash.erase(holder);
        hash.erase(gone);
        EXPECT_EQ(hash.find("", only(holder)), NodeHash<KeyOf>::kNone);
        EXPECT_EQ(hash.find("", only(gone)), NodeHash<KeyOf>::kNone);
        EXPECT_EQ(hash.find("", only(kNodes - 3)), kNodes - 3);
    }
    hash.erase(400);
    EXPECT_EQ(hash.find("k400", any), NodeHash<KeyOf>::kNone);
    EXPECT_EQ(hash.find("k404", any), 404u);
}

}  // namespace
}  // namespace tarnvelox::store
