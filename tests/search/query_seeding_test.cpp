#include "search/query_seeding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/temp_dir.h"

namespace tarnvelox::search {
namespace {

constexpr uint32_t kS = store::KIND_PAGE | store::KIND_SEARCH_ENGINE;
constexpr uint32_t kD = store::KIND_PAGE | store::KIND_DIRECTORY;

class QuerySeedingTest : public ::testing::Test {
protected:
    QuerySeedingTest() {
        store::set_project_path(st_, dir_.file("q.tvp"));
        EXPECT_TRUE(store::open_store(st_));
        // Two lines of one engine, an unticked engine, one without "$QUERY", a directory and
        // an engine whose type was never given.
        add("A", "http://a.example/s?q=$QUERY&n=$QUERY", kS, 1, 1);
        add("A", "http://a2.example/s?q=$QUERY", kS, 1, 1);
        add("B", "http://b.example/find?w=$QUERY", kS, 2, 0);
        add("C", "http://c.example/fixed", kS, 3, 1);
        add("Dir", "http://d.example/p?f=$FIRST&s=$SURNAME&q=$QUERY", kD, 4, 1);
        add("Untyped", "http://u.example/?q=$QUERY", 0, 5, 1);
    }
    ~QuerySeedingTest() override { store::close_store(st_); }

    void add(const char* name, const char* url, uint32_t kind, uint32_t group, int32_t ticked) {
        store::RecordPtr rec = store::clear_record();
        rec->title = name;
        rec->url = url;
        rec->kind = kind;
        rec->engine_id = group;
        rec->selected = ticked;
        engines_.append(std::move(rec));
    }
    std::vector<std::string> stored_urls() {
        std::vector<std::string> urls;
        st_.read_position = 0;
        while (store::RecordPtr rec = store::read_next_link(st_, store::TreeFile::Links)) {
            urls.push_back(*rec->url);
        }
        return urls;
    }

    testing::TempDir dir_;
    store::Store st_;
    store::ItemList engines_;
    harvest::SearchTexts texts_;
};

TEST_F(QuerySeedingTest, EachModeQueuesItsEnginesWithTheEncodedQuery) {
    struct Case {
        const char* name;
        int32_t mode;
        std::optional<std::string> sought;
        std::optional<std::string> crawl;
        std::vector<std::string> queued;  // in file order
    };
    const std::vector<Case> cases = {
        {"web search: ticked engines, both lines of a group, only the first $QUERY",
         harvest::kWebSearch,
         "jo@x.org, \"A&B\"",
         std::nullopt,
         {"http://a.example/s?q=jo%40x.org%2C+%22A%26B%22&n=$QUERY",
          "http://a2.example/s?q=jo%40x.org%2C+%22A%26B%22", "http://c.example/fixed"}},
        {"an empty Email: removes $QUERY",
         harvest::kWebSearch,
         std::nullopt,
         std::nullopt,
         {"http://a.example/s?q=&n=$QUERY", "http://a2.example/s?q=", "http://c.example/fixed"}},
        {"name search: ticked directories, templates unchanged",
         harvest::kNameSearch,
         "jo@x.org",
         std::nullopt,
         {"http://d.example/p?f=$FIRST&s=$SURNAME&q=$QUERY"}},
        {"harvest: every engine, ticked or not, the quoted first keyword",
         harvest::kHarvest,
         std::nullopt,
         "\"jo smith\" -x, y",
         {"http://a.example/s?q=jo+smith&n=$QUERY", "http://a2.example/s?q=jo+smith",
          "http://b.example/find?w=jo+smith", "http://c.example/fixed"}},
        {"harvest: an unquoted first keyword runs to the comma, blanks kept",
         harvest::kHarvest,
         std::nullopt,
         "red fox,blue",
         {"http://a.example/s?q=red+fox&n=$QUERY", "http://a2.example/s?q=red+fox",
          "http://b.example/find?w=red+fox", "http://c.example/fixed"}},
        {"details: nothing", harvest::kDetails, "jo@x.org", "fox", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store::close_store(st_);
        std::filesystem::remove(st_.links_path);
        ASSERT_TRUE(store::open_store(st_));
        texts_.sought_addresses = c.sought;
        texts_.crawl_keywords = c.crawl;
        const SeededQueries seeded = seed_search_queries(st_, engines_, texts_, c.mode);
        EXPECT_EQ(seeded.queued, static_cast<int32_t>(c.queued.size()));
        std::vector<std::string> urls = stored_urls();
        std::vector<std::string> expected = c.queued;
        std::sort(urls.begin(), urls.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(urls, expected);
    }
}

TEST_F(QuerySeedingTest, AQueryStoredBeforeIsNotQueuedAgainButWaitsWhileUnvisited) {
    texts_.sought_addresses = "jo@x.org";
    ASSERT_EQ(seed_search_queries(st_, engines_, texts_, harvest::kWebSearch).queued, 3);
    // The first query was fetched; the other two were not.
    store::RecordPtr first = st_.links.read_at(st_.links.find("http://c.example/fixed"));
    ASSERT_NE(first, nullptr);
    first->status = store::STATUS_VISITED;
    ASSERT_EQ(store::rewrite_line(st_, *first), 1);
    ASSERT_TRUE(store::commit(st_));

    const SeededQueries again = seed_search_queries(st_, engines_, texts_, harvest::kWebSearch);
    EXPECT_EQ(again.queued, 0);
    EXPECT_EQ(again.waiting,
              (std::vector<int32_t>{st_.links.find("http://a.example/s?q=jo%40x.org&n=$QUERY"),
                                    st_.links.find("http://a2.example/s?q=jo%40x.org")}));
    EXPECT_EQ(stored_urls().size(), 3u);
}

}  // namespace
}  // namespace tarnvelox::search
