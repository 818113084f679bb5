#include "search/query_seeding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/temp_dir.h"
#include "store/tree_format.h"

namespace tarnvelox::search {
namespace {

constexpr uint32_t kS = store::KIND_PAGE | store::KIND_SEARCH_ENGINE;
constexpr uint32_t kD = store::KIND_PAGE | store::KIND_DIRECTORY;

TEST(QuerySeedingTest, EachModeQueuesItsEnginesWithTheEncodedQuery) {
    // Two lines of one ticked engine, an unticked engine, one without "$QUERY", a ticked
    // directory and a ticked record whose type was never given.
    store::ItemList engines;
    const struct {
        const char* url;
        uint32_t kind;
        uint32_t group;
        int32_t ticked;
    } records[] = {{"http://a.example/s?q=$QUERY&n=$QUERY", kS, 1, 1},
                   {"http://a2.example/s?q=$QUERY", kS, 1, 1},
                   {"http://b.example/find?w=$QUERY", kS, 2, 0},
                   {"http://c.example/fixed", kS, 3, 1},
                   {"http://d.example/p?f=$FIRST&q=$QUERY", kD, 4, 1},
                   {"http://u.example/?q=$QUERY", 0, 5, 1}};
    for (const auto& r : records) {
        store::RecordPtr rec = store::clear_record();
        rec->url = r.url;
        rec->kind = r.kind;
        rec->engine_id = r.group;
        rec->selected = r.ticked;
        engines.append(std::move(rec));
    }
    struct Case {
        int32_t mode;
        std::optional<std::string> sought;
        std::optional<std::string> crawl;
        std::vector<std::string> queued;  // in file order
    };
    const Case cases[] = {
        {harvest::kWebSearch, "jo@x.org, \"A&B\"", std::nullopt,
         {"http://a.example/s?q=jo%40x.org%2C+%22A%26B%22&n=$QUERY",
          "http://a2.example/s?q=jo%40x.org%2C+%22A%26B%22", "http://c.example/fixed"}},
        {harvest::kWebSearch, std::nullopt, std::nullopt,  // an empty Email: removes $QUERY
         {"http://a.example/s?q=&n=$QUERY", "http://a2.example/s?q=", "http://c.example/fixed"}},
        {harvest::kNameSearch, "jo@x.org", std::nullopt, {"http://d.example/p?f=$FIRST&q=$QUERY"}},
        {harvest::kHarvest, std::nullopt, "\"jo smith\" -x, y",  // ticked or not
         {"http://a.example/s?q=jo+smith&n=$QUERY", "http://a2.example/s?q=jo+smith",
          "http://b.example/find?w=jo+smith", "http://c.example/fixed"}},
    };
    testing::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        store::Store st;
        store::set_project_path(st, dir.file("q.tvp"));
        std::filesystem::remove(st.links_path);
        ASSERT_TRUE(store::open_store(st));
        harvest::SearchTexts texts;
        texts.sought_addresses = c.sought;
        texts.crawl_keywords = c.crawl;
        EXPECT_EQ(seed_search_queries(st, engines, texts, c.mode).queued,
                  static_cast<int32_t>(c.queued.size()));
        // Seeding again stores nothing new.
        EXPECT_EQ(seed_search_queries(st, engines, texts, c.mode).queued, 0);
        std::vector<std::string> urls;
        st.read_position = 0;
        while (store::RecordPtr rec = store::read_next_link(st, store::TreeFile::Links)) {
            urls.push_back(*rec->url);
        }
        EXPECT_EQ(urls, c.queued);
        store::close_store(st);
    }
}

// Two engines that ask the same URL make one query: the run hands out each waiting query and
// walks the new ones, so the one just stored must not wait as well, nor wait twice later.
TEST(QuerySeedingTest, ASharedQueryWaitsOnceAndOnlyWhenStoredBefore) {
    store::ItemList engines;
    for (uint32_t group : {1u, 2u}) {
        store::RecordPtr rec = store::clear_record();
        rec->url = "http://a.example/s?q=$QUERY";
        rec->kind = kS;
        rec->engine_id = group;
        rec->selected = 1;
        engines.append(std::move(rec));
    }
    testing::TempDir dir;
    store::Store st;
    store::set_project_path(st, dir.file("q.tvp"));
    ASSERT_TRUE(store::open_store(st));
    harvest::SearchTexts texts;
    texts.sought_addresses = "jo@x.org";

    const SeededQueries first = seed_search_queries(st, engines, texts, harvest::kWebSearch);
    EXPECT_EQ(first.queued, 1);
    EXPECT_TRUE(first.waiting.empty());
    const SeededQueries again = seed_search_queries(st, engines, texts, harvest::kWebSearch);
    EXPECT_EQ(again.queued, 0);
    EXPECT_EQ(again.waiting, (std::vector<int32_t>{store::kRootOffset}));
    store::close_store(st);
}

}  // namespace
}  // namespace tarnvelox::search
