#include "app/list_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harvest/harvest_fixture.h"
#include "harvest/list_rows.h"

namespace tarnvelox::app {
namespace {

using store::ItemRecord;
using store::TreeFile;

class AnsweringWindow : public NullRunWindow {
  public:
    bool confirm(std::string_view question) override {
        questions.emplace_back(question);
        return yes;
    }
    void enable_controls(bool running, bool) override { idle_calls += running ? 0 : 1; }
    bool yes = true;
    int idle_calls = 0;
    std::vector<std::string> questions;
};

class ListCommandsTest : public harvest::testing::HarvestFixture {
  protected:
    ListCommandsTest() {
        EXPECT_TRUE(store::open_store(store_));
        for (int i = 0; i < 6; ++i) add(TreeFile::Links, "http://h.example/" + std::to_string(i));
        for (int i = 0; i < 3; ++i)
            add(TreeFile::Addresses, "mailto:a" + std::to_string(i) + "@h.example");
    }
    // Stores an item as a harvest does: file, list, row.
    ItemRecord& add(TreeFile which, const std::string& key) {
        store::RecordPtr rec = store::clear_record();
        rec->url = key;
        rec->title = key;
        rec->kind = which == TreeFile::Links ? store::KIND_PAGE : store::KIND_ADDRESS;
        rec->file_offset = store::tree_insert(store_, which, *rec);
        EXPECT_GE(rec->file_offset, 0);
        if (which == TreeFile::Links) {
            ++store_.total_links;
            ItemRecord& listed = lists_.links.append(std::move(rec));
            harvest::add_link_row(lists_.links, shell_, maxlist_, listed);
            return listed;
        }
        ItemRecord& listed = lists_.addresses.append(std::move(rec));
        harvest::add_address_row(lists_.addresses, shell_, listed);
        return listed;
    }
    std::vector<std::string> list_keys(const store::ItemList& list) {
        std::vector<std::string> keys;
        for (ItemRecord* r = list.head(); r != nullptr; r = r->next.get()) keys.push_back(*r->url);
        return keys;
    }
    bool exists(const std::string& path) { return std::filesystem::exists(path); }

    AnsweringWindow window_;
};

TEST_F(ListCommandsTest, AdjacentSelectedRowsAreAllDeletedFromListViewAndFile) {
    std::vector<int32_t> selected{3, 1, 2};
    ctx_.settings.modrep = 0;
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Links, selected), 3);
    EXPECT_TRUE(selected.empty());
    EXPECT_EQ(list_keys(lists_.links),
              (std::vector<std::string>{"http://h.example/0", "http://h.example/4",
                                        "http://h.example/5"}));
    EXPECT_EQ(shell_.link_rows, list_keys(lists_.links));
    EXPECT_EQ(shell_.removing_rows, (std::vector<int>{1, 1, 1}));  // each time the same row
    EXPECT_EQ(lists_.links.row_count, 3);
    EXPECT_EQ(stored_urls(TreeFile::Links), list_keys(lists_.links));
    EXPECT_EQ(ctx_.settings.modrep, 1);
}

TEST_F(ListCommandsTest, DeletingAddressesLowersTheAddressCount) {
    std::vector<int32_t> selected{0, 2};
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Addresses, selected), 2);
    EXPECT_EQ(shell_.address_rows, (std::vector<std::string>{"mailto:a1@h.example"}));
    EXPECT_EQ(shell_.removing_address_rows, (std::vector<int>{0, 1}));
    EXPECT_EQ(store_.total_addresses, 1);
    EXPECT_EQ(stored_urls(TreeFile::Addresses), list_keys(lists_.addresses));
    std::vector<int32_t> none;
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Addresses, none), 0);
}

TEST_F(ListCommandsTest, RecordHeldByASlotIsKeptAndStaysSelected) {
    // A slot is fetching link 2 during a harvest: freeing it would leave the slot dangling.
    run_.harvest_running = 1;
    lists_.links.at(2).status |= store::STATUS_ACTIVE | store::STATUS_VISITED;
    std::vector<int32_t> selected{1, 2, 4};
    EXPECT_EQ(delete_selected_rows(ctx_, TreeFile::Links, selected), 2);
    EXPECT_EQ(selected, std::vector<int32_t>{1});  // link 2, now at row 1
    EXPECT_EQ(*lists_.links.at(1).url, "http://h.example/2");
    EXPECT_EQ(list_keys(lists_.links),
              (std::vector<std::string>{"http://h.example/0", "http://h.example/2",
                                        "http://h.example/3", "http://h.example/5"}));
}

TEST_F(ListCommandsTest, ClearProjectDeletesBothCompanionFilesButKeepsTheProjectFile) {
    ctx_.settings.project = dir_.file("test.tvp");  // the fixture's project
    ASSERT_EQ(ctx_.save_current_project(), 1);
    ASSERT_TRUE(exists(store_.links_path));
    window_.yes = false;
    EXPECT_FALSE(clear_project(ctx_, window_));
    EXPECT_EQ(lists_.links.size(), 6);
    EXPECT_EQ(window_.questions, std::vector<std::string>{std::string(kClearProjectQuestion)});

    window_.yes = true;
    ctx_.run.visited_links = 4;
    ctx_.run.bad_links = 2;
    EXPECT_TRUE(clear_project(ctx_, window_));
    EXPECT_FALSE(exists(dir_.file("test.lin")));
    EXPECT_FALSE(exists(dir_.file("test.mai")));
    EXPECT_TRUE(exists(dir_.file("test.tvp")));
    EXPECT_TRUE(lists_.links.empty());
    EXPECT_TRUE(lists_.addresses.empty());
    EXPECT_TRUE(shell_.link_rows.empty());
    EXPECT_TRUE(shell_.address_rows.empty());
    EXPECT_EQ(store_.total_addresses, 0);
    EXPECT_EQ(store_.total_links, 0);
    EXPECT_EQ(ctx_.run.visited_links, 0);
    EXPECT_EQ(ctx_.run.bad_links, 0);
    EXPECT_EQ(window_.idle_calls, 1);
}

TEST_F(ListCommandsTest, DeleteLinksKeepsTheAddressesAndNothingRunsWhileHarvesting) {
    ctx_.run.harvest_running = 1;
    EXPECT_FALSE(delete_links(ctx_, window_));
    EXPECT_FALSE(clear_project(ctx_, window_));
    EXPECT_TRUE(window_.questions.empty());
    ctx_.run.harvest_running = 0;

    const std::string links_file = store_.links_path;
    EXPECT_TRUE(delete_links(ctx_, window_));
    EXPECT_FALSE(exists(links_file));
    EXPECT_TRUE(exists(store_.addresses_path));
    EXPECT_TRUE(lists_.links.empty());
    EXPECT_TRUE(shell_.link_rows.empty());
    EXPECT_EQ(shell_.address_rows.size(), 3u);  // back in their view
    EXPECT_EQ(lists_.addresses.row_count, 3);
    EXPECT_EQ(store_.total_links, 0);
    EXPECT_EQ(store_.total_addresses, 3);
    // The next store opens a fresh links file and takes new links again.
    ASSERT_TRUE(store::open_store(store_));
    EXPECT_EQ(stored_urls(TreeFile::Links).size(), 0u);
}

}  // namespace
}  // namespace tarnvelox::app
