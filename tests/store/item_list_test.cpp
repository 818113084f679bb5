#include "store/item_list.h"

#include <gtest/gtest.h>


namespace tarnvelox::store {
namespace {

RecordPtr numbered(int n, int32_t status = 0) {
    RecordPtr rec = clear_record();
    rec->url = "http://h.example/" + std::to_string(n) + ".html";
    rec->file_offset = n * 100;
    rec->status = status;
    rec->kind = KIND_PAGE;
    return rec;
}

TEST(ItemListTest, UnlinkKeepsHeadAndTailRight) {
    ItemList list;
    std::vector<ItemRecord*> recs;
    for (int i = 0; i < 5; ++i) recs.push_back(&list.append(numbered(i)));
    EXPECT_NE(list.unlink(*recs[0]), nullptr);  // the head
    EXPECT_EQ(list.head(), recs[1]);
    ItemRecord& added = list.append(numbered(5));
    EXPECT_EQ(recs[4]->next.get(), &added);
    EXPECT_NE(list.unlink(added), nullptr);  // the tail
    EXPECT_EQ(list.tail(), recs[4]);
    EXPECT_NE(list.unlink(*recs[2]), nullptr);  // the middle
    EXPECT_EQ(recs[1]->next.get(), recs[3]);
    EXPECT_EQ(list.size(), 3);
    EXPECT_EQ(list.find_by_offset(300), recs[3]);
    EXPECT_EQ(list.find_by_offset(200), nullptr);
    EXPECT_EQ(list.index_of(*recs[4]), 2);
    ItemRecord stranger;
    EXPECT_EQ(list.unlink(stranger), nullptr);
    for (ItemRecord* r : {recs[1], recs[3], recs[4]}) list.unlink(*r);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.tail(), nullptr);
    EXPECT_EQ(list.find_tail(), nullptr);
}

TEST(ItemListTest, PositionsFollowAppendAndUnlink) {
    ItemList list;
    for (int i = 0; i < 6; ++i) list.append(numbered(i));
    list.unlink(list.at(1));
    list.unlink(list.at(4));  // record 5
    const int expected[] = {0, 2, 3, 4};
    ASSERT_EQ(list.size(), 4);
    for (int32_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list.at(i).file_offset, expected[i] * 100) << i;
        EXPECT_EQ(list.index_of(list.at(i)), i);
    }
    list.clear();
    EXPECT_EQ(list.size(), 0);
    list.append(numbered(9));
    EXPECT_EQ(list.at(0).file_offset, 900);
}

}  // namespace
}  // namespace tarnvelox::store
