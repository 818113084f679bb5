#include "store/item_list.h"

#include <gtest/gtest.h>

#include "fakes/recording_shell.h"

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

TEST(ItemListTest, TrimmingKeepsTheViewAtMaxlistPlusOne) {
    testing::RecordingShell shell;
    ItemList links;
    const int32_t maxlist = 100;
    for (int i = 0; i < 102; ++i) {
        // Every third link was visited; one visited link is still held by a slot.
        int32_t status = i % 3 == 0 ? STATUS_VISITED : 0;
        if (i == 0) status |= STATUS_ACTIVE;
        add_link_row(links, shell, maxlist, links.append(numbered(i, status)));
    }
    EXPECT_EQ(links.row_count, 101);
    EXPECT_EQ(links.size(), 101);
    EXPECT_EQ(shell.removed_rows, std::vector<int>{3});  // the first visited, inactive one
    EXPECT_EQ(links.find_by_offset(300), nullptr);
    EXPECT_NE(links.find_by_offset(0), nullptr);

    for (int32_t small : {0, 1}) {
        testing::RecordingShell quiet;
        ItemList few;
        for (int i = 0; i < 5; ++i) {
            add_link_row(few, quiet, small, few.append(numbered(i, STATUS_VISITED)));
        }
        EXPECT_EQ(few.row_count, 5) << "maxlist " << small;
        EXPECT_TRUE(quiet.removed_rows.empty());
    }
}

TEST(ItemListTest, IconFollowsTheFirstStatusThatHolds) {
    struct Row {
        uint32_t kind;
        int32_t status;
        int icon;
    };
    const Row rows[] = {
        {KIND_PAGE, 0, 1},
        {KIND_PAGE, STATUS_VISITED, 2},
        {KIND_PAGE, STATUS_VISITED | STATUS_BAD, 3},
        {KIND_PAGE, STATUS_TIMEOUT | STATUS_MOVED | STATUS_BAD | STATUS_VISITED, 4},
        {KIND_PAGE, STATUS_MOVED | STATUS_BAD, 5},
        {KIND_PAGE | KIND_ADDRESS, STATUS_BAD, 0},
        {KIND_ADDRESS, 0, 0},
    };
    for (const Row& row : rows) {
        ItemRecord rec;
        rec.kind = row.kind;
        rec.status = row.status;
        EXPECT_EQ(link_icon(rec), row.icon) << row.kind << "/" << row.status;
    }
}

}  // namespace
}  // namespace tarnvelox::store
