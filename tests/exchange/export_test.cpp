#include "exchange/export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/recording_shell.h"
#include "store/store.h"
#include "store/temp_dir.h"

namespace tarnvelox::exchange {
namespace {

using namespace std::string_literals;
using Records = std::vector<const store::ItemRecord*>;

std::string html_header(const std::string& list, const std::string& created) {
    const std::string title = "Tarnvelox " + list + " List (Created " + created + ")";
    return "<HTML>\n<HEAD>\n<TITLE>" + title +
           "</TITLE>\n<META name=\"generator\" value=\"Tarnvelox v1.00\">\n</HEAD>\n<BODY>\n\n"
           "<P><H1>" +
           title + "</H1>\n</P>\n";
}

// Header and footer of each format, by format number, for the time the fixture passes.
const std::string kHeaders[] = {
    "",
    "",
    "",
    "<!DOCTYPE NETSCAPE-Addressbook-file-1>\n<TITLE>Tarnvelox Mail List</TITLE>\n"
    "<H1>Tarnvelox Mail List</H1>\n<DL><p>\n",
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Tarnvelox Bookmarks</TITLE>\n"
    "<H1>Tarnvelox Bookmarks</H1>\n<DL><p>\n",
    html_header("Email", "04/03/24 09:05:07"),
    html_header("URL", "04/03/24 09:05:07")};
const std::string kFooters[] = {
    "", "", "", "</DL><p>\n", "</DL><p>\n", "</BODY>\n</HTML>\n", "</BODY>\n</HTML>\n"};

// 50 characters (a stored title's width) with "&" as the 45th.
const std::string kLong = "abcdefghijklmnopqrstuvwxyz0123456789abcdefgh&@x.io";

std::tm time_of(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

store::ItemRecord item(const std::string& url, const std::string& title) {
    store::ItemRecord rec;
    rec.url = url;
    rec.title = title;
    rec.kind = url.rfind("mailto:", 0) == 0 ? store::KIND_ADDRESS : store::KIND_PAGE;
    return rec;
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store::set_project_path(store_, dir_.file("proj.tvp"));
        ASSERT_TRUE(store::open_store(store_));
        // Two addresses and two links, with characters that markup must escape.
        for (const char* addr : {"a&b@x.org", kLong.c_str()}) {
            ASSERT_GE(insert(store::TreeFile::Addresses, item("mailto:"s + addr, addr)), 0);
        }
        ASSERT_GE(insert(store::TreeFile::Links, item("http://x.org/?a=1&b=\"2\"", "<b>Hi</b>")),
                  0);
        ASSERT_GE(insert(store::TreeFile::Links, item("http://x.org/plain", "Plain")), 0);
    }
    void TearDown() override { store::close_store(store_); }

    int32_t insert(store::TreeFile which, const store::ItemRecord& rec) {
        return store::tree_insert(store_, which, rec);
    }
    int run(int format, const Records* selected = nullptr,
            const std::tm& now = time_of(2024, 4, 3, 9, 5, 7)) {
        return export_items(format, out_path_, selected, filter_, store_, shell_, now);
    }
    // The file minus the format's header and footer, or a note when they are not right.
    std::string items_written(int format) const {
        std::ifstream in(out_path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        const std::string all = out.str();
        const std::string& head = kHeaders[format];
        const std::string& foot = kFooters[format];
        if (all.size() < head.size() + foot.size() || all.compare(0, head.size(), head) != 0 ||
            all.compare(all.size() - foot.size(), foot.size(), foot) != 0) {
            return "BAD FRAME: " + all;
        }
        return all.substr(head.size(), all.size() - head.size() - foot.size());
    }

    tarnvelox::testing::TempDir dir_;
    store::Store store_;
    exchange::ItemFilter filter_;
    tarnvelox::testing::RecordingShell shell_;
    std::string out_path_ = dir_.file("out.htm");
};

TEST_F(ExportTest, EveryFormatWritesItsHeaderItemsAndFooter) {
    const std::string long_esc = "abcdefghijklmnopqrstuvwxyz0123456789abcdefgh&amp;";
    const std::pair<int, std::string> rows[] = {
        // Text lists: texts as stored, nothing escaped.
        {1, "a&b@x.org\n" + kLong + "\n"},
        {2, "http://x.org/?a=1&b=\"2\"\nhttp://x.org/plain\n"},
        // The link text is cut to 45 characters before escaping: the "&" stays whole.
        {3, "<DT><A HREF=\"a&amp;b@x.org\">a&amp;b@x.org</A>\n<DT><A HREF=\"" + long_esc +
                "@x.io\">" + long_esc + "</A>\n"},
        {4,
         "<DI><A HREF=\"http://x.org/?a=1&amp;b=&quot;2&quot;\">&lt;b&gt;Hi&lt;/b&gt;</A>\n"
         "<DI><A HREF=\"http://x.org/plain\">Plain</A>\n"},
        {5, "<A HREF=\"mailto:a&amp;b@x.org\">a&amp;b@x.org</A><BR>\n<A HREF=\"mailto:" + long_esc +
                "@x.io\">" + long_esc + "@x.io</A><BR>\n"},
        {6,
         "<A HREF=\"http://x.org/?a=1&amp;b=&quot;2&quot;\">&lt;b&gt;Hi&lt;/b&gt;</A><BR>\n"
         "<A HREF=\"http://x.org/plain\">Plain</A><BR>\n"},
    };
    for (const auto& [format, items] : rows) {
        SCOPED_TRACE(format);
        ASSERT_EQ(run(format), 1);
        EXPECT_EQ(items_written(format), items);
    }
    EXPECT_TRUE(shell_.errors.empty());
}

TEST_F(ExportTest, AnAddressLongerThanATitleIsWrittenWhole) {
    // The stored title holds the first 50 characters only; the key holds the address.
    const std::string address = std::string(58, 'l') + "@example.org";
    ASSERT_EQ(address.size(), 70u);
    store::close_store(store_);
    std::filesystem::remove(store_.addresses_path);
    ASSERT_TRUE(store::open_store(store_));
    ASSERT_GE(insert(store::TreeFile::Addresses, item("mailto:" + address, address)), 0);
    const std::pair<int, std::string> rows[] = {
        {1, address + "\n"},
        {3, "<DT><A HREF=\"" + address + "\">" + address.substr(0, 45) + "</A>\n"},
    };
    for (const auto& [format, items] : rows) {
        SCOPED_TRACE(format);
        ASSERT_EQ(run(format), 1);
        EXPECT_EQ(items_written(format), items);
    }
}

TEST_F(ExportTest, AllItemsComeFromTheFileInStoredOrderAndReplaceTheOldFile) {
    std::ofstream(out_path_, std::ios::binary) << std::string(5000, 'x');
    const int32_t gone = insert(store::TreeFile::Links, item("http://a.org/", "A"));
    ASSERT_GE(insert(store::TreeFile::Links, item("http://b.org/", "B")), 0);
    ASSERT_EQ(store::tree_delete(store_, store::TreeFile::Links, gone), 1);
    store_.read_position = 12345;  // wherever the crawl's sequential read stopped
    store_.last_read_offset = 77;
    ASSERT_EQ(run(2), 1);
    EXPECT_EQ(items_written(2), "http://x.org/?a=1&b=\"2\"\nhttp://x.org/plain\nhttp://b.org/\n");
    // ...and the crawl goes on from there.
    EXPECT_EQ(store_.read_position, 12345);
    EXPECT_EQ(store_.last_read_offset, 77);
}

TEST_F(ExportTest, FilterTestsTheAddressOrTheUrl) {
    struct Row {
        const char* what;
        exchange::ItemFilter filter;
        int format;
        std::string items;
    };
    const Row rows[] = {
        {"domain list on addresses", {"io", "", ""}, 1, kLong + "\n"},
        {"the mailto: key is not the tested text", {"", "mailto:*", ""}, 5, ""},
        {"must not contain", {"", "", "a&b@*"}, 1, kLong + "\n"},
        {"links are tested on the url", {"", "*plain", ""}, 2, "http://x.org/plain\n"},
        {"not on the title", {"", "Hi", ""}, 6, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        filter_ = row.filter;
        ASSERT_EQ(run(row.format), 1);
        EXPECT_EQ(items_written(row.format), row.items);
    }
}

TEST_F(ExportTest, SelectedOnlyWritesTheGivenRecordsInTheirOrderCutAtTheLineCap) {
    const std::size_t cap = kMaxExportLine;
    std::string lt_run;
    for (int i = 0; i < 1000; ++i) lt_run += "&lt;";
    const store::ItemRecord fits = item(std::string(cap - 1, 'u'), "");
    const store::ItemRecord over = item(std::string(cap, 'v'), "");
    const store::ItemRecord escaped = item("u", std::string(1000, '<'));
    const store::ItemRecord memory = item("http://held/in/memory", "M");
    const store::ItemRecord plain = item("http://x.org/plain", "Plain");
    const store::ItemRecord nul = item("http://n.org/\0tail"s, "N\0o"s);
    store::ItemRecord untitled;
    untitled.url = "http://u.org/";
    const Records none, some = {&nul, &memory, &plain};
    struct Row {
        const char* what;
        int format;
        Records selected;
        exchange::ItemFilter filter;
        std::string items;
    };
    const Row rows[] = {
        {"no row selected", 4, none, {}, ""},
        {"row order, stored or not; a NUL ends a text",
         2,
         some,
         {},
         "http://n.org/\nhttp://held/in/memory\nhttp://x.org/plain\n"},
        {"the filter applies to selected rows",
         2,
         some,
         {"org", "", ""},
         "http://n.org/\nhttp://x.org/plain\n"},
        {"an absent title is empty",
         6,
         {&untitled, &nul},
         {},
         "<A HREF=\"http://u.org/\"></A><BR>\n<A HREF=\"http://n.org/\">N</A><BR>\n"},
        {"exactly at the cap", 2, {&fits}, {}, std::string(cap - 1, 'u') + "\n"},
        {"over the cap: cut, no line feed", 2, {&over}, {}, std::string(cap, 'v')},
        {"escaped text counts to the cap",
         4,
         {&escaped},
         {},
         ("<DI><A HREF=\"u\">" + lt_run).substr(0, cap)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        filter_ = row.filter;
        ASSERT_EQ(run(row.format, &row.selected), 1);
        EXPECT_EQ(items_written(row.format), row.items);
    }
}

TEST_F(ExportTest, FailuresAreReportedAndWriteNothing) {
    struct Row {
        const char* what;
        std::string project, out;
        int format;
        std::vector<std::string> errors;
    };
    const Row rows[] = {
        {"store cannot be opened",
         dir_.file("no/p.tvp"),
         dir_.file("a.txt"),
         1,
         {"Unable to open Project File(s)"}},
        {"export file cannot be created",
         dir_.file("p.tvp"),
         dir_.file("no/a.txt"),
         1,
         {"Unable to open export file '" + dir_.file("no/a.txt") + "': " + std::strerror(ENOENT)}},
        {"format below the range", dir_.file("p.tvp"), dir_.file("a.txt"), 0, {}},
        {"format above the range", dir_.file("p.tvp"), dir_.file("a.txt"), 7, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        shell_.errors.clear();
        store::set_project_path(store_, row.project);
        EXPECT_EQ(export_items(row.format, row.out, nullptr, filter_, store_, shell_, {}), 0);
        EXPECT_EQ(shell_.errors, row.errors);
        EXPECT_FALSE(std::filesystem::exists(row.out));
    }
}

TEST_F(ExportTest, AFailedWriteIsReportedAndLeavesTheOldFile) {
    // A device that takes no byte: the failure is told, with the system's reason.
    EXPECT_EQ(export_items(kFormatTextUrls, "/dev/full", nullptr, filter_, store_, shell_, {}), 0);
    ASSERT_EQ(shell_.errors.size(), 1u);
    EXPECT_NE(shell_.errors[0].find("Unable to write the export file '/dev/full'"),
              std::string::npos)
        << shell_.errors[0];
    EXPECT_NE(shell_.errors[0].find(std::strerror(ENOSPC)), std::string::npos);

    // A regular file on a disk that fills up on the way (a file size limit stands in for it):
    // the previous export stays whole and no partial file is left beside it.
    std::ofstream(out_path_) << "previous export\n";
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old_action {};
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old_action), 0);
    rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small = old_limit;
    small.rlim_cur = 40;  // fewer bytes than the export's header
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    shell_.errors.clear();
    const int result = run(kFormatBookmarks);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    ASSERT_EQ(::sigaction(SIGXFSZ, &old_action, nullptr), 0);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(shell_.errors.size(), 1u);
    EXPECT_NE(shell_.errors[0].find(std::strerror(EFBIG)), std::string::npos) << shell_.errors[0];
    std::ifstream in(out_path_);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "previous export");
    EXPECT_FALSE(std::filesystem::exists(out_path_ + ".tmp"));
    // With room again the export replaces the file.
    EXPECT_EQ(run(kFormatBookmarks), 1);
    EXPECT_NE(items_written(kFormatBookmarks).rfind("BAD FRAME", 0), 0u);
}

TEST_F(ExportTest, AnExportThroughALinkReplacesItsTargetAndKeepsItsPermissions) {
    const std::string real = dir_.file("real.txt");
    std::ofstream(real) << "old\n";
    std::filesystem::permissions(real, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    const std::string link = dir_.file("link.txt");
    std::filesystem::create_symlink(real, link);
    EXPECT_EQ(export_items(kFormatTextUrls, link, nullptr, filter_, store_, shell_, {}), 1);
    EXPECT_TRUE(shell_.errors.empty());
    EXPECT_TRUE(std::filesystem::is_symlink(link));  // the link stays a link
    std::ifstream in(real);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "http://x.org/?a=1&b=\"2\"");
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ExportTest, CreationDateIsMonthDayTwoDigitYearAndTime) {
    const std::pair<std::tm, std::string> rows[] = {
        {time_of(1998, 12, 31, 23, 59, 59), "12/31/98 23:59:59"},
        {time_of(2000, 1, 1, 0, 0, 0), "01/01/00 00:00:00"},
        {time_of(2105, 7, 9, 12, 30, 0), "07/09/05 12:30:00"},
    };
    const Records none;
    for (const auto& [now, text] : rows) {
        SCOPED_TRACE(text);
        ASSERT_EQ(run(kFormatHtmlAddresses, &none, now), 1);
        std::ifstream in(out_path_, std::ios::binary);
        std::ostringstream got;
        got << in.rdbuf();
        EXPECT_EQ(got.str(), html_header("Email", text) + kFooters[kFormatHtmlAddresses]);
    }
}

}  // namespace
}  // namespace tarnvelox::exchange
