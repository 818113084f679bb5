#include "exchange/import.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/list_commands.h"
#include "exchange/export.h"
#include "fakes/scripted_network.h"
#include "harvest/crawl_scope.h"
#include "harvest/harvest_fixture.h"
#include "harvest/list_rows.h"

namespace tarnvelox::exchange {
namespace {

using store::TreeFile;

class ImportTest : public harvest::testing::HarvestFixture {
protected:
    ImportTest() { maxlist_ = 1000; }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    ImportResult import(const std::string& path, int type, int merge = kMergeAddUnique) {
        return import_file(env_, ImportRequest{path, type, merge, false}, ctx_.filter);
    }
    ImportResult import_text(const std::string& bytes, int type, int merge = kMergeAddUnique) {
        return import(write("in.htm", bytes), type, merge);
    }
    std::map<std::string, std::string> titles(TreeFile which) {
        std::map<std::string, std::string> out;
        for (const auto& rec : stored(which)) out[*rec->url] = rec->title.value_or("");
        return out;
    }
    void store_address(const std::string& address) {
        store::ItemRecord rec;
        rec.url = "mailto:" + address;
        rec.title = address;
        rec.kind = store::KIND_ADDRESS;
        ASSERT_TRUE(store::open_store(store_));
        ASSERT_GE(store::tree_insert(store_, TreeFile::Addresses, rec), 0);
    }
};

using Keys = std::vector<std::string>;

TEST_F(ImportTest, AnchorReadersTakeWhatExportAndHandsWrite) {
    struct Row {
        const char* name;
        int type;
        std::string line;
        Keys keys;
    };
    const std::vector<Row> rows = {
        {"lower case, blanks around =", kImportBookmarks,
         "<dt><a  href = \"http://www.b.org/l.html\">L</a>", {"http://www.b.org/l.html"}},
        {"unquoted ends at a blank", kImportBookmarks,
         "<A HREF=http://www.b.org/u.html ADD_DATE=1>U</A>", {"http://www.b.org/u.html"}},
        {"unquoted ends at >", kImportBookmarks, "<A HREF=http://www.b.org/g.html>G</A>",
         {"http://www.b.org/g.html"}},
        {"two anchors, one without HREF", kImportBookmarks,
         "<A NAME=top>x</A><A HREF=\"http://www.b.org/1.html\">1</A> "
         "<A HREF=\"http://www.b.org/2.html\">2</A>",
         {"http://www.b.org/1.html", "http://www.b.org/2.html"}},
        {"ftp: and file: are passed over", kImportBookmarks,
         "<A HREF=\"ftp://ftp.b.org/f.zip\">f</A><A HREF=\"FILE:///c.html\">c</A>", {}},
        {"no > after the value", kImportBookmarks, "<A HREF=\"http://www.b.org/n.html\"", {}},
        {"unterminated quote", kImportBookmarks, "<A HREF=\"http://www.b.org/q.html>Q</A>", {}},
        {"entities in the value", kImportBookmarks,
         "<A HREF=\"http://www.b.org/a&amp;b&quot;.html\">t</A>",
         {"http://www.b.org/a&b\".html"}},
        {"mailto: added", kImportAddressBook, "<DT><A HREF=\"jo@b.org\">jo@b.org</A>",
         {"mailto:jo@b.org"}},
        {"mailto: kept", kImportAddressBook, "<A HREF=\"MAILTO:Ann@B.org\">Ann</A>",
         {"mailto:ann@b.org"}},
        {"no address without @", kImportAddressBook, "<A HREF=\"b.org\">x</A>", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        store::close_store(store_);
        std::filesystem::remove(store_.links_path);
        std::filesystem::remove(store_.addresses_path);
        const ImportResult r = import_text(row.line + "\n", row.type);
        EXPECT_EQ(r.outcome, ImportOutcome::Done);
        const TreeFile file = row.type == kImportAddressBook ? TreeFile::Addresses : TreeFile::Links;
        EXPECT_EQ(stored_urls(file), row.keys);
    }
}

TEST_F(ImportTest, LongLinesAreReadInPiecesAndHostileInputEnds) {
    // Only an anchor that lies within one 1024-byte piece is read.
    const std::string across = "<A HREF=\"http://www.b.org/across.html\">a</A>";
    const std::string inside = "<A HREF=\"http://www.b.org/inside.html\">i</A>";
    std::string line = std::string(1000, 'x') + across;
    line += std::string(1100 - line.size(), ' ') + inside;
    ASSERT_EQ(import_text(line, kImportBookmarks).outcome, ImportOutcome::Done);
    EXPECT_EQ(stored_urls(TreeFile::Links), Keys{"http://www.b.org/inside.html"});

    // Binary bytes, and megabyte lines of open anchors, quotes and "@"s: each import ends with
    // a clear result.
    std::mt19937 random(7);
    std::string binary(1 << 20, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    const std::vector<std::string> hostile = {
        binary,
        std::string(1 << 20, '@'),
        [] {
            std::string s;
            while (s.size() < (1 << 20)) s += "<A HREF=\"x@y.org <a href= ";
            return s;
        }(),
    };
    for (int type = kImportAddressBook; type <= kImportText; ++type) {
        if (type == kImportProject) continue;
        for (const std::string& bytes : hostile) {
            SCOPED_TRACE(type);
            EXPECT_EQ(import_text(bytes, type).outcome, ImportOutcome::Done);
        }
    }
}

TEST_F(ImportTest, MergeRulesDecideAgainstTheProjectAsTheImportFoundIt) {
    struct Row {
        int merge;
        Keys after;
        harvest::ImportTally tally;  // addresses, links, duplicates, filtered, deleted
    };
    const std::vector<Row> rows = {
        {kMergeAddUnique, {"mailto:new@b.org", "mailto:old@b.org"}, {1, 0, 3, 0, 0}},
        {kMergeDeleteDuplicates, {"mailto:new@b.org"}, {1, 0, 2, 0, 1}},
        {kMergeDeleteOnly, {}, {0, 0, 1, 0, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.merge);
        store::close_store(store_);
        std::filesystem::remove(store_.addresses_path);
        ASSERT_TRUE(store::open_store(store_));
        store_address("old@b.org");
        const ImportResult r = import_text(
            "old@b.org new@b.org\nnew@b.org old@b.org\n", kImportText, row.merge);
        std::set<std::string> after;
        for (const std::string& key : stored_urls(TreeFile::Addresses)) after.insert(key);
        EXPECT_EQ(after, std::set<std::string>(row.after.begin(), row.after.end()));
        EXPECT_EQ(r.tally.addresses, row.tally.addresses);
        EXPECT_EQ(r.tally.duplicates, row.tally.duplicates);
        EXPECT_EQ(r.tally.deleted, row.tally.deleted);
        EXPECT_EQ(r.lists_stale, row.tally.deleted > 0);
        EXPECT_EQ(run_.merge_mode, harvest::kAddUniqueSkipDuplicates);
    }
}

TEST_F(ImportTest, ReloadAfterAMergeRereadsTheListsOnly) {
    store_address("old@b.org");
    store_address("keep@b.org");
    reload_lists(env_);
    ASSERT_EQ(lists_.addresses.size(), 2);
    search_.starting_url = "http://typed.example/";  // typed, not saved
    ctx_.filter.must_contain = "b.org";
    const ImportResult r = import_text("old@b.org\n", kImportText, kMergeDeleteOnly);
    ASSERT_TRUE(r.lists_stale);
    const int cleared = shell_.views_cleared_count;
    reload_lists(env_);
    EXPECT_EQ(shell_.views_cleared_count, cleared + 1);
    ASSERT_EQ(lists_.addresses.size(), 1);
    EXPECT_EQ(*lists_.addresses.head()->url, "mailto:keep@b.org");
    EXPECT_EQ(search_.starting_url, "http://typed.example/");
    EXPECT_EQ(ctx_.filter.must_contain, "b.org");
}

TEST_F(ImportTest, AnImportIsAHarvestPassOfItsOwnWhateverTheLastRunLeft) {
    struct Row {
        const char* name;
        int32_t search_mode;
        int32_t scope;
        int32_t stop_requested;
    };
    const std::vector<Row> rows = {
        {"after a Server harvest of another site", harvest::kHarvest, harvest::kScopeServer, 0},
        {"with the URL scope", harvest::kHarvest, harvest::kScopeUrl, 0},
        {"after a Name Search", harvest::kNameSearch, harvest::kScopePath, 0},
        {"after a Cancel", harvest::kHarvest, harvest::kScopePath, 1},
    };
    const std::string text = "<a href=\"http://www.b.org/t.html\">t</a> jo@b.org\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        store::close_store(store_);
        std::filesystem::remove(store_.links_path);
        std::filesystem::remove(store_.addresses_path);
        search_.starting_url = "http://www.a.org/dir/index.html";
        search_.crawl_scope = row.scope;
        harvest::compute_scope_base(search_, row.search_mode);
        const std::optional<std::string> base = search_.scope_base;
        run_.search_mode = row.search_mode;
        run_.stop_requested = row.stop_requested;
        for (int type : {kImportText, kImportBookmarks}) {
            const ImportResult r = import_text(text, type);
            EXPECT_EQ(r.tally.links, type == kImportText ? 1 : 0) << type;
        }
        EXPECT_EQ(stored_urls(TreeFile::Links), Keys{"http://www.b.org/t.html"});
        EXPECT_EQ(stored_urls(TreeFile::Addresses), Keys{"mailto:jo@b.org"});
        EXPECT_EQ(run_.search_mode, row.search_mode);
        EXPECT_EQ(run_.stop_requested, row.stop_requested);
        EXPECT_EQ(search_.crawl_scope, row.scope);
        EXPECT_EQ(search_.scope_base, base);
        EXPECT_FALSE(run_.import_in_progress);
    }
}

TEST_F(ImportTest, KeywordRulesAndTheFilterApplyAndAreCounted) {
    search_.crawl_keywords = "needle";
    ctx_.filter.domains = "org";
    const ImportResult r = import_text(
        "<a href=\"http://www.b.org/hay.html\">h</a>\n"
        "needle <a href=\"http://www.b.org/n.html\">n</a> <a href=\"http://www.b.com/c.html\">c</a>"
        " ann@b.com bob@b.org\n",
        kImportText);
    EXPECT_EQ(stored_urls(TreeFile::Links), Keys{"http://www.b.org/n.html"});
    EXPECT_EQ(stored_urls(TreeFile::Addresses), Keys{"mailto:bob@b.org"});
    EXPECT_EQ(r.tally.filtered, 2);
    EXPECT_EQ(import_result_text(r),
              "1 address and 1 link imported, 0 refused as duplicates, 2 filtered out");
}

TEST_F(ImportTest, RefusedImportsChangeNothing) {
    run_.harvest_running = 1;
    EXPECT_EQ(import_text("jo@b.org\n", kImportText).outcome, ImportOutcome::HarvestRunning);
    run_.harvest_running = 0;
    EXPECT_TRUE(stored_urls(TreeFile::Addresses).empty());
    EXPECT_EQ(import(dir_.file("missing.txt"), kImportText).outcome, ImportOutcome::Unreadable);
    EXPECT_EQ(import(dir_.file("missing.tvp"), kImportProject).outcome,
              ImportOutcome::Unreadable);
    EXPECT_EQ(shell_.errors, (std::vector<std::string>(2, std::string(kImportOpenFailedMessage))));
}

// Every export format read back by the import type that takes it gives the same items: the
// keys, and the titles of links.
TEST_F(ImportTest, ExportsComeBackAsTheSameItems) {
    for (const char* address : {"ann@b.org", "bob.smith@b.org"}) store_address(address);
    for (const auto& [url, title] : std::vector<std::pair<std::string, std::string>>{
             {"http://www.b.org/a.html", "Tom & Jerry <3"},
             {"http://www.b.org/q&amp.html", "Say \"hi\""}}) {
        store::ItemRecord rec;
        rec.url = url;
        rec.title = title;
        rec.kind = store::KIND_PAGE;
        ASSERT_GE(store::tree_insert(store_, TreeFile::Links, rec), 0);
    }
    const auto addresses = titles(TreeFile::Addresses);
    const auto links = titles(TreeFile::Links);
    const std::tm now{};
    const std::vector<std::pair<int, int>> trips = {
        {kFormatTextAddresses, kImportText},     {kFormatAddressBook, kImportAddressBook},
        {kFormatHtmlAddresses, kImportText},     {kFormatHtmlAddresses, kImportAddressBook},
        {kFormatBookmarks, kImportBookmarks},    {kFormatHtmlUrls, kImportBookmarks},
    };
    for (const auto& [format, type] : trips) {
        SCOPED_TRACE(format * 10 + type);
        const std::string file = dir_.file("export" + std::to_string(format));
        store::set_project_path(store_, dir_.file("test.tvp"));
        ASSERT_EQ(export_items(format, file, nullptr, ctx_.filter, store_, shell_, now), 1);
        store::set_project_path(store_, dir_.file("back" + std::to_string(format * 10 + type)));
        ASSERT_EQ(import(file, type).outcome, ImportOutcome::Done);
        if (export_list_kind(format) == ListKind::Addresses) {
            EXPECT_EQ(titles(TreeFile::Addresses), addresses);
        } else {
            EXPECT_EQ(titles(TreeFile::Links), links);
        }
    }
}

// Another project's records are stored through this project's own files: the lists never
// hold a node offset of the other project's files.
class ProjectImportTest : public ImportTest {
protected:
    tarnvelox::testing::ScriptedNetwork network_;
    app::NullRunWindow window_;
    app::HarvestRun& control_ = ctx_.attach(network_, network_, window_);
};

TEST_F(ProjectImportTest, ImportedRecordsAreThisProjectsOwn) {
    {
        app::Context other(shell_);
        store::set_project_path(other.store, dir_.file("other.tvp"));
        ASSERT_TRUE(store::open_store(other.store));
        const std::vector<std::tuple<std::string, uint32_t, int32_t>> records = {
            {"mailto:bob@b.org", store::KIND_ADDRESS, 0},
            {"http://www.b.org/seen.html", store::KIND_PAGE, store::STATUS_VISITED},
            {"http://www.b.org/new.html", store::KIND_PAGE, store::STATUS_ACTIVE},
        };
        for (const auto& [url, kind, status] : records) {
            store::ItemRecord rec;
            rec.url = url;
            rec.title = "other";
            rec.kind = kind;
            rec.status = status;
            ASSERT_GE(store::tree_insert(other.store,
                                         kind == store::KIND_PAGE ? TreeFile::Links
                                                                  : TreeFile::Addresses,
                                         rec),
                      0);
        }
        store::close_store(other.store);
    }
    ctx_.settings.project = dir_.file("test.tvp");
    store_address("ann@a.org");
    store::ItemRecord own;
    own.url = "http://www.a.org/own.html";
    own.kind = store::KIND_PAGE;
    ASSERT_GE(store::tree_insert(store_, TreeFile::Links, own), 0);
    reload_lists(env_);

    const ImportResult r = import(dir_.file("other.lin"), kImportProject);
    ASSERT_EQ(r.outcome, ImportOutcome::Done);
    EXPECT_EQ(r.tally.addresses, 1);
    EXPECT_EQ(r.tally.links, 2);
    EXPECT_EQ(titles(TreeFile::Links)["http://www.b.org/seen.html"], "other");

    // Deleting the imported address's row deletes it, not the row's namesake offset.
    harvest::refill_views(lists_, shell_, maxlist_);
    std::vector<int32_t> bob{1};
    ASSERT_EQ(*lists_.addresses.at(1).url, "mailto:bob@b.org");
    ASSERT_EQ(app::delete_selected_rows(ctx_, TreeFile::Addresses, bob), 1);
    EXPECT_EQ(stored_urls(TreeFile::Addresses), Keys{"mailto:ann@a.org"});

    // Reopened, the imported links are still there; a harvest fetches exactly the project's
    // unvisited links.
    ASSERT_EQ(ctx_.save_current_project(), 1);
    ASSERT_EQ(ctx_.load_current_project(nullptr), 1);
    EXPECT_EQ(lists_.links.size(), 3);
    network_.resolve("www.a.org", "10.0.0.1");
    network_.resolve("www.b.org", "10.0.0.2");
    for (const char* address : {"10.0.0.1", "10.0.0.2"}) {
        network_.serve(address, {"HTTP/1.0 200 OK\r\n\r\nnothing here"});
    }
    ASSERT_EQ(control_.start_harvest(harvest::kDetails), 1);
    network_.run(control_);
    std::multiset<std::string> fetched;
    for (const auto& request : network_.requests) fetched.insert(request.address + request.target);
    EXPECT_EQ(fetched, (std::multiset<std::string>{"10.0.0.1/own.html", "10.0.0.2/new.html"}));
}

}  // namespace
}  // namespace tarnvelox::exchange
