#include "app/project.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <regex>
#include <tuple>
#include <vector>

#include "app/context.h"
#include "fakes/recording_shell.h"
#include "store/temp_dir.h"

namespace tarnvelox::app {
namespace {

using namespace std::string_literals;
using store::ItemRecord;
using store::TreeFile;
using Urls = std::vector<std::string>;
using Ticks = std::vector<int32_t>;
using OptText = std::optional<std::string>;

void put_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Item {
    std::string key;  // url and title
    uint32_t kind;
    int32_t status = 0;
};

store::RecordPtr make_record(const Item& item) {
    store::RecordPtr rec = store::clear_record();
    rec->url = rec->title = item.key;
    rec->kind = item.kind;
    rec->status = item.status;
    return rec;
}

// Writes the companion files of `project` (in the given order), then deletes the links named
// in `deleted`; returns the node offsets of the links.
std::vector<int32_t> write_companions(const std::string& project,
                                      const std::vector<Item>& addresses,
                                      const std::vector<Item>& links, const Urls& deleted = {}) {
    store::Store writer;
    store::set_project_path(writer, project);
    EXPECT_TRUE(store::open_store(writer));
    for (const Item& item : addresses) {
        EXPECT_GE(store::tree_insert(writer, TreeFile::Addresses, *make_record(item)), 0);
    }
    std::vector<int32_t> offsets;
    for (const Item& item : links) {
        offsets.push_back(store::tree_insert(writer, TreeFile::Links, *make_record(item)));
    }
    for (const std::string& url : deleted) {
        EXPECT_EQ(store::tree_delete(writer, TreeFile::Links, writer.links.find(url)), 1);
    }
    store::close_store(writer);
    return offsets;
}

Urls urls_of(const store::ItemList& list) {
    Urls urls;
    for (const ItemRecord* at = list.head(); at != nullptr; at = at->next.get()) {
        urls.push_back(at->url.value_or("<none>"));
    }
    return urls;
}

std::vector<Item> numbered(const std::string& prefix, int n, uint32_t kind) {
    std::vector<Item> items;
    for (int i = 0; i < n; ++i) items.push_back({prefix + std::to_string(i), kind});
    return items;
}

struct RecordingProgress : LoadProgress {
    void show_load_counts(int32_t links, int32_t bad, int32_t addresses) override {
        calls.emplace_back(links, bad, addresses);
    }
    std::vector<std::tuple<int32_t, int32_t, int32_t>> calls;
};

// Public: the table rows' lambdas set up and inspect the fixture.
class ProjectTest : public ::testing::Test {
public:
    void set_engines(const std::vector<std::pair<uint32_t, int32_t>>& id_and_tick) {
        engines.clear();
        for (const auto& [id, selected] : id_and_tick) {
            store::RecordPtr engine = store::clear_record();
            engine->engine_id = id;
            engine->selected = selected;
            engines.append(std::move(engine));
        }
    }
    void set_texts(OptText url, OptText crawl, OptText extract, OptText email, OptText name) {
        search.starting_url = std::move(url);
        search.crawl_keywords = std::move(crawl);
        search.extract_keywords = std::move(extract);
        search.sought_addresses = std::move(email);
        search.person_name = std::move(name);
    }
    Ticks ticks() const {
        Ticks selected;
        for (const ItemRecord* at = engines.head(); at != nullptr; at = at->next.get()) {
            selected.push_back(at->selected);
        }
        return selected;
    }
    int load(const std::string& path, bool import_only = false, int32_t maxlist = 2500,
             LoadProgress* progress = nullptr) {
        ctx.settings.maxlist = maxlist;
        return load_project(ctx, path, import_only, progress);
    }
    int save(const std::string& path) {
        return save_project(path, search, filter, values, store, engines, shell);
    }

    testing::TempDir dir;
    testing::RecordingShell shell;
    Context ctx{shell};
    // The parts of the context a project is loaded into and saved from.
    harvest::SearchTexts& search = ctx.search;
    exchange::ItemFilter& filter = ctx.filter;
    ProjectValues& values = ctx.values;
    store::ItemList& engines = ctx.engines.list;
    store::Store& store = ctx.store;
    store::ItemLists& lists = ctx.lists;
    harvest::RunState& run = ctx.run;
    int32_t& sort = ctx.settings.sort;
};

TEST_F(ProjectTest, SavedFileHasExactBytesAndLoadsBackToTheSameBytes) {
    const std::string fixed_tail = "COUNT=0\nSTART=2\nBODY=\n";
    const struct {
        const char* name;
        std::function<void(ProjectTest&)> setup;
        std::string bytes;
        bool reads_back;  // loading and saving again gives the same bytes
    } rows[] = {
        {"nothing set: the fixed lines and the ticked engines in list order",
         [](ProjectTest& t) { t.set_engines({{5, 1}, {7, 0}, {3, 1}}); },
         "OWNER=Tarnvelox 100\n" + fixed_tail + "E_POS=5\nE_POS=3\n", true},
        {"every value, in file order; SORT is never written",
         [](ProjectTest& t) {
             t.set_texts("http://example.com/", "+news", "-spam", "jo@example.com", "Jo Doe");
             t.search.crawl_scope = harvest::kScopeNoLimit;
             t.filter = {"au,nz", "*@*.org", "abuse"};
             t.values = {"C:\\out.txt", "in.tvp"};
             t.store.total_addresses = 42;
             t.sort = 3;
             t.set_engines({{9, 1}});
         },
         "OWNER=Tarnvelox 100\nURL=http://example.com/\nCRAWL=+news\nEXTRACT=-spam\n"
         "EMAIL=jo@example.com\nNAME=Jo Doe\nDOMAIN=au,nz\nINCLUDE=*@*.org\nEXCLUDE=abuse\n"
         "LAST_EXPORT=C:\\out.txt\nLAST_IMPORT=in.tvp\nCOUNT=42\nSTART=4\nBODY=\nE_POS=9\n",
         true},
        {"existing empty texts give bare keys; empty filter texts give nothing",
         [](ProjectTest& t) {
             t.set_texts("", "", "", "", "");
             t.values = {"", ""};
         },
         "OWNER=Tarnvelox 100\nURL=\nCRAWL=\nEXTRACT=\nEMAIL=\nNAME=\nLAST_EXPORT=\n"
         "LAST_IMPORT=\n" + fixed_tail, true},
        {"negative numbers and an engine id above the signed range",
         [](ProjectTest& t) {
             t.store.total_addresses = -3;
             t.search.crawl_scope = -1;
             t.set_engines({{0xFFFFFFFFu, 1}});
         },
         "OWNER=Tarnvelox 100\nCOUNT=-3\nSTART=-1\nBODY=\nE_POS=-1\n",
         false},  // a count below the addresses counted (none) is raised on loading
        {"line feeds in the URL become blanks; texts end at a NUL",
         [](ProjectTest& t) {
             t.search.starting_url = "http://a/\nb\n";
             t.search.crawl_keywords = "one\0two"s;
         },
         "OWNER=Tarnvelox 100\nURL=http://a/ b \nCRAWL=one\n" + fixed_tail, false},
        {"an overlong value is cut and its line still ends",
         [](ProjectTest& t) { t.search.person_name = std::string(5000, 'n'); },
         "OWNER=Tarnvelox 100\nNAME=" + std::string(kMaxProjectLineWritten - 6, 'n') + "\n" +
             fixed_tail, false},
    };
    const std::string path = dir.file("p.tvp");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        search = {};
        filter = {};
        values = {};
        store.total_addresses = 0;
        set_engines({});
        row.setup(*this);
        put_file(path, std::string(9000, 'x'));  // replaced whole, not overwritten in place
        ASSERT_EQ(save(path), 1);
        EXPECT_EQ(file_bytes(path), row.bytes);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
        if (!row.reads_back) continue;
        // Back to a state the file does not describe; what it holds must come back.
        search = {};
        search.crawl_scope = 0;
        filter = {};
        values = {};
        store.total_addresses = 7;
        for (ItemRecord* at = engines.head(); at != nullptr; at = at->next.get()) at->selected = 0;
        ASSERT_EQ(load(path), 1);
        ASSERT_EQ(save(path), 1);
        // ...except COUNT=: the count is what the addresses file holds, and there is none.
        EXPECT_EQ(file_bytes(path), std::regex_replace(row.bytes, std::regex("COUNT=-?[0-9]+"),
                                                       "COUNT=0"));
    }
    EXPECT_TRUE(shell.errors.empty());
}

TEST_F(ProjectTest, LineFeedsInAnyValueStayOnTheirLine) {
    set_texts("http://a.example/\nx"s, "fish\nchips"s, std::nullopt, std::nullopt,
              "Jo\nURL=http://evil.example/"s);
    values.last_export = "/tmp/out\nCOUNT=99";
    const std::string path = dir.file("lf.tvp");
    ASSERT_EQ(save(path), 1);
    EXPECT_EQ(file_bytes(path),
              "OWNER=Tarnvelox 100\nURL=http://a.example/ x\nCRAWL=fish chips\n"
              "NAME=Jo URL=http://evil.example/\nLAST_EXPORT=/tmp/out COUNT=99\nCOUNT=0\n"
              "START=2\nBODY=\n");
    set_texts(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_EQ(load(path), 1);
    // The name line holds "URL=" too and is read as a starting URL, as every line is read by
    // the first key it contains; but nothing spills into a line of its own.
    EXPECT_EQ(search.crawl_keywords, OptText("fish chips"));
    EXPECT_EQ(store.total_addresses, 0);
}

TEST_F(ProjectTest, SaveThatCannotWriteReportsErrorAndLeavesNothingBehind) {
    const std::string is_folder = dir.file("folder.tvp");
    std::filesystem::create_directory(is_folder);
    for (const std::string& path : {dir.file("no-such-folder/p.tvp"), is_folder}) {
        SCOPED_TRACE(path);
        shell.errors.clear();
        EXPECT_EQ(save(path), 0);
        const std::string is_a_folder = std::strerror(EISDIR);
        const std::string missing = std::strerror(ENOENT);
        EXPECT_EQ(shell.errors, Urls{"Unable to write Project File '" + path + "': " +
                                     (path == is_folder ? is_a_folder : missing)});
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(is_folder));
}

TEST_F(ProjectTest, ProjectLinesAreReadByTheFirstKeyTheyContain) {
    using Check = std::function<void(const ProjectTest&)>;
    const struct {
        const char* name;
        std::string file;
        Check check;
    } rows[] = {
        {"a keyword line holding URL= is a starting URL: all after the first =",
         "CRAWL=news URL=x\n", [](const ProjectTest& t) {
             EXPECT_EQ(t.search.starting_url, "news URL=x");
             EXPECT_EQ(t.search.crawl_keywords, "old crawl");
         }},
        {"trailing blanks and CR go, inner ones stay", "NAME= Jo  Doe \t\r\nEMAIL=a@b \r\n",
         [](const ProjectTest& t) {
             EXPECT_EQ(t.search.person_name, " Jo  Doe");
             EXPECT_EQ(t.search.sought_addresses, "a@b");
         }},
        {"numbers, SORT included; the last line needs no line feed",
         "SORT=7\nSTART= 3xyz\nCOUNT=99999999999\nLAST_IMPORT=tail.txt",
         [](const ProjectTest& t) {
             // COUNT= is no count of the project: it has no addresses file.
             EXPECT_EQ(std::tie(t.sort, t.search.crawl_scope, t.store.total_addresses),
                       std::make_tuple(7, 3, 0));
             EXPECT_EQ(t.values.last_import, "tail.txt");
         }},
        {"keys are case-sensitive and may sit anywhere; empty values replace",
         "url=x\nmy LAST_EXPORT=f\nX=DOMAIN=nz\nEXTRACT=\nEXCLUDE=   \n",
         [](const ProjectTest& t) {
             EXPECT_EQ(t.search.starting_url, "old url");
             EXPECT_EQ(t.values.last_export, "f");
             EXPECT_EQ(t.filter.domains, "DOMAIN=nz");
             EXPECT_EQ(t.search.extract_keywords, "");
             EXPECT_EQ(t.filter.must_not_contain, "");
         }},
        {"a line counts up to its NUL", "EMAIL=ab\0URL=x\nNAME=n\n"s, [](const ProjectTest& t) {
             EXPECT_EQ(t.search.sought_addresses, "ab");
             EXPECT_EQ(t.search.starting_url, "old url");
             EXPECT_EQ(t.search.person_name, "n");
         }},
        {"only the first 2047 characters of a long line count",
         "CRAWL=" + std::string(10000, 'k') + "URL=evil\nNAME=after\n", [](const ProjectTest& t) {
             EXPECT_EQ(t.search.crawl_keywords, std::string(kMaxProjectLineRead - 6, 'k'));
             EXPECT_EQ(t.search.starting_url, "old url");
             EXPECT_EQ(t.search.person_name, "after");
         }},
        {"E_POS ticks the first engine of a known id; ticks not named stay",
         "E_POS=5\nE_POS=99\nE_POS=-1\n",
         [](const ProjectTest& t) { EXPECT_EQ(t.ticks(), (Ticks{1, 0, 1, 0})); }},
        {"OWNER, BODY and other lines change nothing", "OWNER=Tarnvelox 100\nBODY=\n\n=\nxyz\n",
         [](const ProjectTest& t) {
             EXPECT_EQ(t.search.starting_url, "old url");
             EXPECT_EQ(t.search.extract_keywords, std::nullopt);
             EXPECT_EQ(t.filter.domains, "old domains");
             // Opening a project starts its address count afresh: without COUNT= it is 0.
             EXPECT_EQ(std::tie(t.sort, t.search.crawl_scope, t.store.total_addresses),
                       std::make_tuple(1, 2, 0));
             EXPECT_EQ(t.ticks(), (Ticks{0, 0, 1, 0}));
         }},
    };
    const std::string path = dir.file("read.tvp");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        search = {};
        set_texts("old url", "old crawl", std::nullopt, std::nullopt, std::nullopt);
        filter = {"old domains", "old inc", "old exc"};
        values = {};
        sort = 1;
        store.total_addresses = 12;
        set_engines({{5, 0}, {7, 0}, {0xFFFFFFFFu, 1}, {5, 0}});
        put_file(path, row.file);
        ASSERT_EQ(load(path), 1);
        row.check(*this);
    }
}

TEST_F(ProjectTest, ProjectThatCannotBeOpenedClearsListsAndReadsNoCompanion) {
    const std::string path = dir.file("gone.tvp");
    write_companions(path, {{"mailto:a@b.c", store::KIND_ADDRESS}}, {{"http://x/", 0}});
    lists.links.append(make_record({"http://old/", 0}));
    lists.addresses.append(make_record({"mailto:old@x.y", store::KIND_ADDRESS}));
    store.total_links = run.bad_links = run.visited_links = 5;
    store.total_addresses = 8;
    search.starting_url = "kept";
    for (const bool as_folder : {false, true}) {
        SCOPED_TRACE(as_folder);
        if (as_folder) std::filesystem::create_directory(path);
        EXPECT_EQ(load(path), 0);
        EXPECT_TRUE(lists.links.empty());
        EXPECT_TRUE(lists.addresses.empty());
        EXPECT_EQ(std::tie(store.total_links, run.bad_links, run.visited_links,
                           store.total_addresses),
                  std::make_tuple(0, 0, 0, 0));
        EXPECT_EQ(search.starting_url, "kept");
    }
}

TEST_F(ProjectTest, CompanionRecordsLoadInFileOrderAndAreCounted) {
    const std::string path = dir.file("p.tvp");
    const std::vector<int32_t> offsets = write_companions(
        path,
        {{"mailto:z@x.y", store::KIND_ADDRESS},
         {"mailto:a@x.y", store::KIND_ADDRESS},
         {"mailto:bad@x.y", store::KIND_ADDRESS, store::STATUS_BAD}},
        {{"http://m/", 0},
         {"http://gone/", 0},
         {"http://b/", 0, store::STATUS_VISITED},
         {"http://c/", 0, store::STATUS_VISITED | store::STATUS_BAD},
         {"mailto:in@links.y", store::KIND_ADDRESS},
         {"http://a/", 0}},
        {"http://gone/"});
    // COUNT= below and above the 3 records of the addresses file: the file decides.
    for (const int32_t count : {1, 50}) {
        SCOPED_TRACE(count);
        put_file(path, "COUNT=" + std::to_string(count) + "\n");
        ASSERT_EQ(load(path), 1);
        EXPECT_EQ(urls_of(lists.addresses),
                  (Urls{"mailto:z@x.y", "mailto:a@x.y", "mailto:bad@x.y"}));
        EXPECT_EQ(urls_of(lists.links),
                  (Urls{"http://m/", "http://b/", "http://c/", "mailto:in@links.y", "http://a/"}));
        EXPECT_EQ(store.total_links, 5);  // every live record of the links file
        EXPECT_EQ(store.unvisited_when_closed, 3);  // m, in@links and a
        EXPECT_EQ(run.bad_links, 2);
        EXPECT_EQ(run.visited_links, 2);
        EXPECT_EQ(store.total_addresses, 3);
        EXPECT_EQ(lists.links.tail()->file_offset, offsets.back());
        EXPECT_EQ(lists.links.head()->next->file_offset, offsets[2]);
    }
    // Lists that take part of the files: the figures are still the files'.
    ASSERT_EQ(load(path, false, 2), 1);
    EXPECT_EQ(std::tie(store.total_links, store.unvisited_when_closed, run.visited_links,
                       store.total_addresses),
              std::make_tuple(5, 3, 2, 3));
}

TEST_F(ProjectTest, MaxlistLimitsTheRecordsOfEachFileAndProgressHearsEvery51) {
    const std::string path = dir.file("many.tvp");
    write_companions(path, numbered("mailto:a", 60, store::KIND_ADDRESS),
                     numbered("http://h/", 61, 0), {"http://h/1"});
    put_file(path, "");
    const struct {
        int32_t maxlist, addresses, links;
    } rows[] = {{-1, 0, 0}, {0, 0, 0}, {1, 1, 1}, {10, 10, 10}, {60, 60, 60}, {100, 60, 60}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.maxlist);
        store.total_addresses = 0;
        RecordingProgress progress;
        ASSERT_EQ(load(path, false, row.maxlist, &progress), 1);
        EXPECT_EQ(lists.addresses.size(), row.addresses);
        EXPECT_EQ(lists.links.size(), row.links);
        // The figures are the files', however many records the lists took.
        EXPECT_EQ(std::tie(store.total_addresses, store.total_links), std::make_tuple(60, 60));
        if (row.links >= 2) {  // the deleted node is passed over, not counted
            EXPECT_EQ(lists.links.head()->next->url, "http://h/2");
        }
        using Calls = decltype(progress.calls);
        const Calls expected = row.links < 60 ? Calls{} : Calls{{0, 0, 51}, {42, 0, 60}};
        EXPECT_EQ(progress.calls, expected);
    }
}

TEST_F(ProjectTest, ImportAddsFilteredRecordsAndLeavesTheProjectValues) {
    const std::string path = dir.file("other.tvp");
    put_file(path, "URL=http://other/\nCOUNT=1000\nINCLUDE=nothing\n");
    write_companions(path,
                     {{"mailto:keep@x.com", store::KIND_ADDRESS},
                      {"mailto:drop@x.com", store::KIND_ADDRESS}},
                     {{"http://keep.com/", 0, store::STATUS_VISITED}, {"http://drop.com/", 0}});
    lists.links.append(make_record({"http://mine/", 0}));
    store.total_links = 1;
    run.visited_links = 4;
    search.starting_url = "http://mine/";
    filter = {"", "keep", ""};
    ASSERT_EQ(load(path, true), 1);
    EXPECT_EQ(search.starting_url, "http://mine/");
    EXPECT_EQ(filter.must_contain, "keep");
    EXPECT_EQ(urls_of(lists.links), (Urls{"http://mine/", "http://keep.com/"}));
    EXPECT_EQ(urls_of(lists.addresses), Urls{"mailto:keep@x.com"});
    EXPECT_EQ(store.total_links, 1);
    EXPECT_EQ(run.visited_links, 5);
    EXPECT_EQ(store.total_addresses, 1);
}

TEST_F(ProjectTest, CompanionsAreNamedAfterTheFileNameNotTheFolder) {
    std::filesystem::create_directory(dir.file("my.dir"));
    const std::string path = dir.file("my.dir/proj.tvp");
    write_companions(path, {}, {{"http://inside/", 0}});
    write_companions(dir.file("my.tvp"), {}, {{"http://outside/", 0}});
    put_file(path, "");
    ASSERT_EQ(load(path), 1);
    EXPECT_EQ(urls_of(lists.links), Urls{"http://inside/"});
}

TEST_F(ProjectTest, LoadClosesTheLinksFileAndSeesAddressesNotYetWritten) {
    const std::string path = dir.file("open.tvp");
    put_file(path, "");
    store::set_project_path(store, path);
    ASSERT_TRUE(store::open_store(store));
    ASSERT_GE(store::tree_insert(store, TreeFile::Links, *make_record({"http://l/", 0})), 0);
    ASSERT_GE(store::tree_insert(store, TreeFile::Addresses,
                                 *make_record({"mailto:new@x.y", store::KIND_ADDRESS})),
              0);
    ASSERT_EQ(load(path), 1);
    EXPECT_FALSE(store.links.is_open());
    EXPECT_EQ(urls_of(lists.links), Urls{"http://l/"});
    EXPECT_EQ(urls_of(lists.addresses), Urls{"mailto:new@x.y"});
}

TEST_F(ProjectTest, GarbageProjectFilesLoadAndSaveAsWholeLines) {
    std::mt19937 random(20240531);
    const std::string path = dir.file("junk.tvp");
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::string bytes(random() % 20000, '\0');
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
        for (const char* key : {"URL=", "E_POS=", "COUNT=", "START=", "\n", "\r\n"}) {
            bytes.insert(random() % (bytes.size() + 1), key);  // so the value paths run too
        }
        put_file(path, bytes);
        ASSERT_EQ(load(path), 1);
        ASSERT_EQ(save(dir.file("out.tvp")), 1);
        const std::string out = file_bytes(dir.file("out.tvp"));
        EXPECT_EQ(out.back(), '\n');
        EXPECT_EQ(out.find('\0'), std::string::npos);
    }
}

}  // namespace
}  // namespace tarnvelox::app
