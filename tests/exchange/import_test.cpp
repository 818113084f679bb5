#include "exchange/import.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
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
    void empty_project() {
        store::close_store(store_);
        std::filesystem::remove(store_.links_path);
        std::filesystem::remove(store_.addresses_path);
    }
    // Stores a link, or with "mailto:" an address (its title the bare address).
    static void put(store::Store& to, const std::string& url, int32_t status = 0,
                    const std::string& title = "other") {
        store::ItemRecord rec;
        rec.url = url;
        const bool address = url.starts_with("mailto:");
        rec.title = address ? url.substr(7) : title;
        rec.kind = address ? store::KIND_ADDRESS : store::KIND_PAGE;
        rec.status = status;
        ASSERT_TRUE(store::open_store(to));
        ASSERT_GE(store::tree_insert(to, address ? TreeFile::Addresses : TreeFile::Links, rec), 0);
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
        empty_project();
        EXPECT_EQ(import_text(row.line + "\n", row.type).outcome, ImportOutcome::Done);
        EXPECT_EQ(stored_urls(row.type == kImportAddressBook ? TreeFile::Addresses
                                                             : TreeFile::Links),
                  row.keys);
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
    std::string binary(1 << 20, '@'), anchors;
    std::mt19937 random(7);
    for (char& c : binary) c = static_cast<char>(random());
    while (anchors.size() < (1 << 20)) anchors += "<A HREF=\"x@y.org <a href= ";
    for (int type : {kImportAddressBook, kImportBookmarks, kImportText}) {
        for (const std::string& bytes : {binary, std::string(1 << 20, '@'), anchors}) {
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
    ctx_.settings.project = dir_.file("test.tvp");
    search_.starting_url = "http://saved.example/";
    ASSERT_EQ(ctx_.save_current_project(), 1);
    search_.starting_url = "http://typed.example/";  // typed, not saved
    for (const Row& row : rows) {
        SCOPED_TRACE(row.merge);
        empty_project();
        put(store_, "mailto:old@b.org");
        reload_lists(env_);
        const ImportResult r = import_text(
            "old@b.org new@b.org\nnew@b.org old@b.org\n", kImportText, row.merge);
        EXPECT_EQ(r.tally.addresses, row.tally.addresses);
        EXPECT_EQ(r.tally.duplicates, row.tally.duplicates);
        EXPECT_EQ(r.tally.deleted, row.tally.deleted);
        EXPECT_EQ(r.lists_stale, row.tally.deleted > 0);
        // The lists are read again from the files, the typed fields stay.
        reload_lists(env_);
        Keys listed;
        for (auto* a = lists_.addresses.head(); a != nullptr; a = a->next.get()) {
            listed.push_back(*a->url);
        }
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
                  std::set<std::string>(row.after.begin(), row.after.end()));
        EXPECT_EQ(listed.size(), stored_urls(TreeFile::Addresses).size());
        EXPECT_EQ(search_.starting_url, "http://typed.example/");
    }
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
        empty_project();
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

// What an import stored is on the disk when it returns: a crash then loses none of it, and an
// import of the project's own files reads every one of its records.
TEST_F(ImportTest, ImportedItemsAreOnTheDiskWhenTheImportEnds) {
    ASSERT_EQ(import_text("jo@b.org <a href=\"http://www.b.org/j.html\">j</a>\n", kImportText)
                  .tally.addresses,
              1);
    EXPECT_EQ(store::stored_counts(store_.addresses_path).records, 1);
    EXPECT_EQ(store::stored_counts(store_.links_path).records, 1);

    const ImportResult own = import(store_.links_path, kImportProject);
    EXPECT_EQ(own.tally.duplicates, 2);
    EXPECT_EQ(own.tally.addresses + own.tally.links, 0);
}

TEST_F(ImportTest, RefusedImportsChangeNothing) {
    run_.harvest_running = 1;
    EXPECT_EQ(import_text("jo@b.org\n", kImportText).outcome, ImportOutcome::HarvestRunning);
    run_.harvest_running = 0;
    EXPECT_TRUE(stored_urls(TreeFile::Addresses).empty());
    EXPECT_EQ(import(dir_.file("missing.txt"), kImportText).outcome, ImportOutcome::Unreadable);
    EXPECT_EQ(import(dir_.file("no.tvp"), kImportProject).outcome, ImportOutcome::Unreadable);
    EXPECT_EQ(shell_.errors, Keys(2, std::string(kImportOpenFailedMessage)));
}

// Every export format read back by the import type that takes it gives the same items: the
// keys, and the titles of links.
TEST_F(ImportTest, ExportsComeBackAsTheSameItems) {
    put(store_, "mailto:ann@b.org");
    put(store_, "mailto:bob.smith@b.org");
    put(store_, "http://www.b.org/a.html", 0, "Tom & Jerry <3");
    put(store_, "http://www.b.org/q&amp.html", 0, "Say \"hi\"");
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
        store::Store other;
        store::set_project_path(other, dir_.file("other.tvp"));
        put(other, "mailto:bob@b.org");
        put(other, "http://www.b.org/seen.html", store::STATUS_VISITED);
        put(other, "http://www.b.org/new.html", store::STATUS_ACTIVE);
        store::close_store(other);
    }
    ctx_.settings.project = dir_.file("test.tvp");
    put(store_, "mailto:ann@a.org");
    put(store_, "http://www.a.org/own.html");
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
