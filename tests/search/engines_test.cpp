#include "search/engines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "fakes/recording_shell.h"
#include "store/temp_dir.h"

namespace tarnvelox::search {
namespace {

using namespace std::string_view_literals;

// Each record as "title|url|source|kind|engine_id", "-" for an absent text.
std::vector<std::string> records_of(const Engines& engines) {
    const auto text = [](const store::OptText& t) { return t ? *t : std::string("-"); };
    std::vector<std::string> out;
    for (const store::ItemRecord* r = engines.list.head(); r != nullptr; r = r->next.get()) {
        out.push_back(text(r->title) + "|" + text(r->url) + "|" + text(r->source) + "|" +
                      std::to_string(r->kind) + "|" + std::to_string(r->engine_id));
    }
    return out;
}

class EnginesTest : public ::testing::Test {
  protected:
    int load(std::string_view contents) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            .write(contents.data(), static_cast<std::streamsize>(contents.size()));
        return load_engines(engines_, path_, shell_);
    }
    tarnvelox::testing::TempDir dir_;
    const std::string path_ = dir_.file("engines.dat");
    Engines engines_;
    tarnvelox::testing::RecordingShell shell_;
};

TEST_F(EnginesTest, StatementsBuildRecordsAsTheFileDescribesThem) {
    struct Row {
        const char* what;
        std::string_view file;
        std::vector<std::string> records;
        int32_t engines, directories;
    };
    const Row rows[] = {
        {"empty file", "", {}, 0, 0},
        {"no REQ= line", "NAME=A\nHOME=h\nID=3\nTYP=S\n", {}, 0, 0},
        {"ID and kind carry to the next REQ",
         "NAME=A\nREQ=u1\nID=1\nTYP=S\nREQ=u2\n",
         {"A|u1|-|192|1", "A|u2|-|192|1"},
         1,
         0},
        {"a second NAME renames only later records",
         "NAME=A\nREQ=u1\nNAME=B\nREQ=u2\n",
         {"A|u1|-|0|0", "B|u2|-|0|0"},
         0,
         0},
        {"statements before the first REQ are ignored",
         "ID=9\nTYP=D\nHOME=h\nNAME=A\nREQ=u\n",
         {"A|u|-|0|0"},
         0,
         0},
        {"TYP is a prefix match; each line counts",
         "REQ=a\nTYP=Sxyz\nREQ=b\nTYP=D\nTYP=D\nREQ=c\n",
         {"-|a|-|192|0", "-|b|-|320|0", "-|c|-|320|0"},
         1,
         2},
        {"HOME and ID describe the most recent record",
         "NAME=A\nREQ=u1\nHOME=h1\nHOME=h2\nID=7\nNAME=B\nREQ=u2\nID=8\nHOME=h3\n",
         {"A|u1|h2|0|7", "B|u2|h3|0|8"},
         0,
         0},
        {"the value follows the first =",
         "NAME=A=B\nREQ=http://s/?q=$QUERY&n=1\nHOME=\n",
         {"A=B|http://s/?q=$QUERY&n=1||0|0"},
         0,
         0},
        {"ID reads blanks, a sign and leading digits",
         "REQ=a\nID= 12ab\nREQ=b\nID=x\nREQ=c\nID=-1\n",
         {"-|a|-|0|12", "-|b|-|0|0", "-|c|-|0|4294967295"},
         0,
         0},
        {"trailing white space goes; the last line feed is optional",
         "NAME=A \t\r\nREQ=u1\t\r\nTYP=S  \r\nREQ=u2",
         {"A|u1|-|192|0", "A|u2|-|192|0"},
         1,
         0},
        {"leading blanks, lower case and other lines are ignored",
         " REQ=a\nreq=b\nREQ=c\n TYP=S\ntyp=s\n# REQ=d\n\n",
         {"-|c|-|0|0"},
         0,
         0},
        {"a NUL byte ends the line",
         "REQ=ab\0cd\nNAME=\0x\nREQ=e\n"sv,
         {"-|ab|-|0|0", "|e|-|0|0"},
         0,
         0},
        {"bytes above 0x7F are ordinary",
         "NAME=\xE9t\nREQ=\xFF\x80\n",
         {"\xE9t|\xFF\x80|-|0|0"},
         0,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(load(row.file), row.records.empty() ? 0 : 1);
        EXPECT_EQ(records_of(engines_), row.records);
        EXPECT_EQ(engines_.engine_count, row.engines);
        EXPECT_EQ(engines_.directory_count, row.directories);
    }
    EXPECT_TRUE(shell_.errors.empty());
}

TEST_F(EnginesTest, MissingFileIsReportedAndLeavesTheListAlone) {
    ASSERT_EQ(load("REQ=u\nTYP=S\n"), 1);
    const std::string missing = dir_.file("none.dat");
    EXPECT_EQ(load_engines(engines_, missing, shell_), 0);
    EXPECT_EQ(shell_.errors,
              std::vector<std::string>{"Unable to Load Engines File '" + missing + "'"});
    EXPECT_EQ(records_of(engines_), std::vector<std::string>{"-|u|-|192|0"});
    EXPECT_EQ(engines_.engine_count, 1);
}

TEST_F(EnginesTest, OnlyTheFirstCappedCharactersOfALineCount) {
    const std::size_t room = kMaxEngineLine - 4;  // after "REQ="
    const std::string fits(room, 'a');
    struct Row {
        const char* what;
        std::string file;
        std::vector<std::string> urls;
    };
    const Row rows[] = {
        {"exactly at the cap", "REQ=" + fits + "\n", {fits}},
        {"one over the cap", "REQ=" + fits + "b\n", {fits}},
        // The part beyond the cap is skipped, not read as a statement of its own.
        {"statement beyond the cap", "REQ=" + fits + "REQ=x\nREQ=y\n", {fits, "y"}},
        {"huge line without a line feed",
         "REQ=" + std::string(100000, 'z'),
         {std::string(room, 'z')}},
        {"blanks at the cap are trailing",
         "REQ=" + fits.substr(2) + "  " + "rr\n",
         {fits.substr(2)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(load(row.file), 1);
        std::vector<std::string> urls;
        for (const store::ItemRecord* r = engines_.list.head(); r; r = r->next.get())
            urls.push_back(*r->url);
        EXPECT_EQ(urls, row.urls);
    }
}

TEST_F(EnginesTest, FindByIdReturnsTheFirstRecordOfTheGroup) {
    ASSERT_EQ(load("REQ=a\nID=4\nREQ=b\nREQ=c\nID=5\nREQ=d\nID=4\n"), 1);
    const std::pair<uint32_t, std::string> rows[] = {{4, "a"}, {5, "c"}, {0, "none"}, {6, "none"}};
    for (const auto& [id, url] : rows) {
        SCOPED_TRACE(id);
        const store::ItemRecord* rec = find_engine_by_id(engines_.list, id);
        EXPECT_EQ(rec ? *rec->url : "none", url);
    }
    EXPECT_EQ(find_engine_by_id(store::ItemList(), 4), nullptr);
}

}  // namespace
}  // namespace tarnvelox::search
