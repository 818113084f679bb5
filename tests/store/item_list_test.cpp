#include "store/item_list.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

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

// Trimming's answer, whatever happened to the list before: the first visited record in list
// order that no slot holds. A random run of what the harvest does to the links list (append,
// take, let go, trim, reset) compares it with a walk of the whole chain after every step.
TEST(ItemListTest, FirstRemovableIsAlwaysTheFirstVisitedRecordNoSlotHolds) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        ItemList list;
        int appended = 0;
        auto walk = [&]() -> ItemRecord* {
            for (ItemRecord* r = list.head(); r != nullptr; r = r->next.get()) {
                if ((r->status & STATUS_VISITED) != 0 && (r->status & STATUS_ACTIVE) == 0) return r;
            }
            return nullptr;
        };
        auto any = [&]() -> ItemRecord& {
            return list.at(static_cast<int32_t>(random() % static_cast<unsigned>(list.size())));
        };
        for (int step = 0; step < 3000; ++step) {
            const unsigned what = random() % 100;
            if (list.size() < 3 || what < 30) {
                list.append(numbered(appended++, random() % 4 == 0 ? STATUS_VISITED : 0));
            } else if (what < 55) {  // a slot takes a link
                ItemRecord& r = any();
                r.status |= STATUS_VISITED | STATUS_ACTIVE;
                list.status_changed(r);
            } else if (what < 80) {  // a slot lets go of its link
                ItemRecord& r = any();
                r.status &= ~STATUS_ACTIVE;
                list.status_changed(r);
            } else if (what < 95) {  // trimming
                if (ItemRecord* r = list.first_removable()) {
                    ASSERT_NE(list.unlink(*r), nullptr);
                }
            } else if (what < 98) {  // unannounced changes, then the whole list is looked at
                for (int i = 0; i < 5; ++i) any().status ^= STATUS_VISITED;
                list.status_changed();
            } else {
                ASSERT_NE(list.unlink(any()), nullptr);
            }
            ASSERT_EQ(list.first_removable(), walk()) << "step " << step;
            for (int32_t i = 0; i < list.size(); i += 7) ASSERT_EQ(list.index_of(list.at(i)), i);
        }
    }
}

}  // namespace
}  // namespace tarnvelox::store
