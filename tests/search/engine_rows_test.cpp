#include "search/engine_rows.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnvelox::search {
namespace {

store::ItemRecord& add(store::ItemList& list, const char* name, const char* url, uint32_t kind,
                       uint32_t group) {
    store::RecordPtr rec = store::clear_record();
    rec->title = name;
    rec->url = url;
    rec->kind = kind;
    rec->engine_id = group;
    return list.append(std::move(rec));
}

constexpr uint32_t kS = store::KIND_PAGE | store::KIND_SEARCH_ENGINE;
constexpr uint32_t kD = store::KIND_PAGE | store::KIND_DIRECTORY;

TEST(EngineRowsTest, GroupsShowAsOneRowAndEachPageSeesItsOwnKind) {
    store::ItemList list;
    add(list, "A&B", "http://a/?q=$QUERY", kS, 1);
    add(list, "A&B", "http://a2/?q=$QUERY", kS, 1);  // same group: no row of its own
    add(list, "Dir", "http://d/$NAME", kD, 2);
    add(list, "Both", "http://both/", 0, 3);
    store::ItemRecord& starred = add(list, "Off", "*disabled", kS, 4);
    starred.selected = 1;

    const EngineRows web = engine_rows(list, nullptr, EnginePage::WebSearch);
    EXPECT_EQ(web[0].text, "A&&B" + std::string(kEngineRowDots, '.'));
    EXPECT_EQ(*web[1].record->title, "Both");
    EXPECT_EQ(*web[2].record->title, "Off");
    EXPECT_FALSE(web[2].tickable);
    EXPECT_EQ(starred.selected, 0);  // an engine that cannot be ticked is never selected
    EXPECT_EQ(web[3].record, nullptr);
    EXPECT_EQ(web[3].text, "");

    const EngineRows names = engine_rows(list, nullptr, EnginePage::NameSearch);
    EXPECT_EQ(*names[0].record->title, "Dir");
    EXPECT_EQ(*names[1].record->title, "Both");
    EXPECT_EQ(names[2].record, nullptr);

    EXPECT_EQ(*engine_row_start(list, 1, EnginePage::WebSearch)->title, "Both");
    EXPECT_EQ(engine_row_start(list, 3, EnginePage::WebSearch), nullptr);
}

TEST(EngineRowsTest, ATickReachesTheWholeGroup) {
    store::ItemList list;
    store::ItemRecord& a1 = add(list, "A", "http://a/", kS, 1);
    store::ItemRecord& a2 = add(list, "A", "http://a2/", kS, 1);
    store::ItemRecord& b = add(list, "B", "http://b/", kS, 2);
    b.selected = 1;
    EngineRows rows = engine_rows(list, nullptr, EnginePage::WebSearch);
    EXPECT_FALSE(rows[0].ticked);
    EXPECT_TRUE(rows[1].ticked);
    commit_engine_ticks(rows, {true, false, false, false, false});
    EXPECT_EQ(a1.selected, 1);
    EXPECT_EQ(a2.selected, 1);
    EXPECT_EQ(b.selected, 0);
}

}  // namespace
}  // namespace tarnvelox::search
