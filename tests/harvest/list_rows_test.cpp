#include "harvest/list_rows.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/recording_shell.h"

namespace tarnvelox::harvest {
namespace {

using store::ItemList;
using store::ItemLists;
using store::ItemRecord;
using store::KIND_ADDRESS;
using store::KIND_PAGE;
using store::RecordPtr;
using store::STATUS_ACTIVE;
using store::STATUS_BAD;
using store::STATUS_MOVED;
using store::STATUS_TIMEOUT;
using store::STATUS_VISITED;

RecordPtr numbered(int n, int32_t status = 0) {
    RecordPtr rec = store::clear_record();
    rec->url = "http://h.example/" + std::to_string(n) + ".html";
    rec->file_offset = n * 100;
    rec->status = status;
    rec->kind = KIND_PAGE;
    return rec;
}

TEST(ListRowsTest, TrimmingKeepsTheViewAtMaxlistPlusOne) {
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

TEST(ListRowsTest, IconFollowsTheFirstStatusThatHolds) {
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

// A view model reads row i as at(i): positions must follow every append, unlink and trim, and
// the removal notice must come while the leaving record is still at its row.
class PositionCheckingShell : public platform::NullShell {
public:
    explicit PositionCheckingShell(const ItemList& list) : list_(list) {}
    void link_row_removing(int row) override {
        ASSERT_LT(row, list_.size());
        removing_url = list_.at(row).url.value_or("");
    }
    std::string removing_url;

private:
    const ItemList& list_;
};

TEST(ListRowsTest, PositionsFollowAppendUnlinkAndTrimming) {
    ItemList links;
    PositionCheckingShell shell(links);
    for (int i = 0; i < 6; ++i) {
        add_link_row(links, shell, 4, links.append(numbered(i, i == 1 ? STATUS_VISITED : 0)));
    }
    // Six rows with maxlist 4: the sixth addition found five rows and trimmed record 1.
    EXPECT_EQ(shell.removing_url, "http://h.example/1.html");
    ASSERT_EQ(links.size(), 5);
    const int expected[] = {0, 2, 3, 4, 5};
    for (int32_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(links.at(i).file_offset, expected[i] * 100) << i;
        EXPECT_EQ(links.index_of(links.at(i)), i);
    }
    links.unlink(links.at(0));
    EXPECT_EQ(links.at(0).file_offset, 200);
    EXPECT_EQ(links.at(links.size() - 1).file_offset, 500);
    links.clear();
    EXPECT_EQ(links.size(), 0);
    links.append(numbered(9));
    EXPECT_EQ(links.at(0).file_offset, 900);
}

TEST(ListRowsTest, FileNameColumnFollowsTheStartingUrl) {
    struct Row {
        const char* url;
        std::optional<std::string> start;
        const char* shown;
    };
    const Row rows[] = {
        {"http://h.example/site", "http://h.example/site", "index.html"},
        {"http://h.example/site/docs/", "http://h.example/site", "docs/index.html"},
        {"http://h.example/site/a/b.html", "http://h.example/site", "a/b.html"},
        {"http://other.example/x/y.html", "http://h.example/site", "y.html"},
        {"http://other.example/x/", std::nullopt, "index.html"},
        {"no-slash", std::nullopt, "no-slash"},
        {"http://H.EXAMPLE/site/p.html", "http://h.example/site", "p.html"},  // exact case only
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        ItemRecord rec;
        rec.url = row.url;
        rec.kind = KIND_PAGE;
        EXPECT_EQ(link_file_name(rec, row.start), row.shown);
    }
    ItemRecord address;
    address.url = "mailto:a@b.example";
    address.title = "a@b.example";
    address.kind = KIND_ADDRESS;
    EXPECT_EQ(link_file_name(address, std::nullopt), "a@b.example");
}

TEST(ListRowsTest, RefillKeepsEveryRecordThatTrimmingLeaves) {
    // A list longer than the display maximum (as an import leaves it) is rebuilt: trimming
    // takes out records already shown, never one that has no row yet, and the walk neither
    // skips a record nor reads one that was freed.
    testing::RecordingShell shell;
    ItemLists lists;
    for (int i = 0; i < 12; ++i) {
        lists.links.append(numbered(i, i % 3 == 2 ? STATUS_VISITED : 0));
    }
    refill_views(lists, shell, 4);
    std::vector<std::string> expected;
    for (int32_t i = 0; i < lists.links.size(); ++i) expected.push_back(*lists.links.at(i).url);
    EXPECT_EQ(shell.link_rows, expected);
    EXPECT_EQ(lists.links.row_count, lists.links.size());
    EXPECT_LT(lists.links.size(), 12);  // some visited records went
    int unvisited = 0;  // every unvisited record stays
    for (int32_t i = 0; i < lists.links.size(); ++i) {
        unvisited += (lists.links.at(i).status & STATUS_VISITED) == 0 ? 1 : 0;
    }
    EXPECT_EQ(unvisited, 8);
}

}  // namespace
}  // namespace tarnvelox::harvest
