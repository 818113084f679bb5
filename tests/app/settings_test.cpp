#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

#include "fakes/recording_shell.h"
#include "harvest/run_state.h"
#include "store/temp_dir.h"

namespace tarnvelox::app {

// Failure messages show settings as the file would hold them.
void PrintTo(const Settings& settings, std::ostream* out) { *out << settings_text(settings); }

namespace {

using namespace std::string_literals;
using testing::RecordingShell;
using testing::TempDir;

void put_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SettingsTest, WrittenFileHasExactBytesAndReadsBackTheSameSettings) {
    const struct {
        const char* name;
        Settings settings;
        std::string bytes;
    } rows[] = {
        {"defaults",
         {},
         "packcount=10\nsort=1\ntimeout=4000\nport=8080\nlastwarn=0\nversion=0\nupgrade=0\n"
         "upgradenew=0\nnews=0\nnext=1\nnewwin=2\ncache=0\nmodrep=1\nhelp=0\nstart=0\nstart2=2\n"
         "maxlist=2500\n"},
        {"every key",
         {20,
          "C:\\Prog\\browser.exe",
          "",
          "p.tvp",
          "proxy.example/port=81",
          " x y",
          -1,
          INT32_MAX,
          0,
          7,
          312,
          3,
          4,
          5,
          6,
          3,
          1,
          0,
          9,
          1,
          4,
          INT32_MIN,
          "old-setup.exe"},
         "packcount=20\nbrowser=C:\\Prog\\browser.exe\ndirectory=\nproject=p.tvp\n"
         "proxy=proxy.example/port=81\nlastfind= x y\nsort=-1\ntimeout=2147483647\nport=0\n"
         "lastwarn=7\nversion=312\nupgrade=3\nupgradenew=4\nnews=5\nnext=6\nnewwin=3\ncache=1\n"
         "modrep=0\nhelp=9\nstart=1\nstart2=4\nmaxlist=-2147483648\ndelete=old-setup.exe\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = dir.file("tarnv.ini");
        put_file(path, std::string(5000, '#'));  // a longer old file is replaced, not overlaid
        RecordingShell shell;
        ASSERT_EQ(write_settings(row.settings, path, shell), 1);
        EXPECT_EQ(file_bytes(path), row.bytes);
        EXPECT_TRUE(shell.errors.empty());
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

        Settings back{.packcount = 1};
        ASSERT_TRUE(read_settings(back, path));
        Settings expected = row.settings;
        expected.delete_file.reset();  // deleting happens on reading; the key is not kept
        EXPECT_EQ(back, expected);
    }
}

TEST(SettingsTest, MissingFileSetsPackcountAndNothingElse) {
    TempDir dir;
    Settings settings{.packcount = 3, .port = 1};
    EXPECT_FALSE(read_settings(settings, dir.file("tarnv.ini")));
    EXPECT_EQ(settings, (Settings{.port = 1}));
}

TEST(SettingsTest, ReadingTakesTheFirstListedKeyOfEachLineAndTheLastLineOfEachKey) {
    const std::string a2039(2039, 'a');
    const struct {
        std::string file;
        Settings expected;
    } rows[] = {
        {"", {}},
        {"timeout=99999\n", {.timeout = 99999}},
        {"browser=\n", {.browser = ""}},
        {"browser= a b \t\v\f\r\n", {.browser = " a b"}},
        {"port=  -12abc\nsort=abc\n", {.sort = 0, .port = -12}},
        {"port=99999999999\nmaxlist=-99999999999\n", {.port = INT32_MAX, .maxlist = INT32_MIN}},
        {"packcount=5\npackcount=7\n", {.packcount = 7}},
        {"PACKCOUNT=5\npackcount 5\nunknown=5\n\n=\n", {}},
        {"start2=3\nupgradenew=4\n", {.upgradenew = 4, .start2 = 3}},
        {"proxy=h/port=81\n", {.proxy = "h/port=81"}},
        {"sort=5 port=\nsort=3 timeout=\n", {.timeout = 3, .port = 5}},
        {"project=directory=x\n", {.directory = "directory=x"}},
        {"x=port=81\n  help=4\n", {.port = 0, .help = 4}},
        {"maxlist=7", {.maxlist = 7}},
        {"browser=ab\0cd=x\nport=1\n"s, {.browser = "ab", .port = 1}},
        {"newwin=1\r\nlastfind=\xE9\xFF\x01\n", {.lastfind = "\xE9\xFF\x01", .newwin = 1}},
        {"delete=\n", {}},
        // Long lines: only the first 2047 characters count; the rest is not a line of its own.
        {"browser=" + a2039 + "\n", {.browser = a2039}},
        {"browser=" + a2039 + "b\nport=5", {.browser = a2039, .port = 5}},
        {"browser=" + a2039 + std::string(20000, 'a') + "port=9\nsort=4",
         {.browser = a2039, .sort = 4}},
        {"browser=" + a2039.substr(1) + " bbb\n", {.browser = a2039.substr(1)}},
        {std::string(3000, 'x') + "port=5\n", {}},
        {std::string(16380, '\n') + "port=5\n", {.port = 5}},  // across the read chunks
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(0, 60) + (row.file.size() > 60 ? "..." : ""));
        TempDir dir;
        put_file(dir.file("tarnv.ini"), row.file);
        Settings settings;
        ASSERT_TRUE(read_settings(settings, dir.file("tarnv.ini")));
        EXPECT_EQ(settings, row.expected);
    }
}

// "Obey robots.txt" came after every other key: while it is off the file is written as before
// it existed.
TEST(SettingsTest, RobotsKeyIsWrittenLastAndOnlyWhenOn) {
    TempDir dir;
    const std::string path = dir.file("tarnv.ini");
    RecordingShell shell;
    Settings on{.robots = 1};
    on.delete_file = "old-setup.exe";
    ASSERT_EQ(write_settings(on, path, shell), 1);
    const std::string bytes = file_bytes(path);
    EXPECT_TRUE(bytes.ends_with("\ndelete=old-setup.exe\nrobots=1\n")) << bytes;
    Settings back;
    ASSERT_TRUE(read_settings(back, path));
    EXPECT_EQ(back.robots, 1);

    ASSERT_EQ(write_settings(Settings{}, path, shell), 1);
    EXPECT_EQ(file_bytes(path).find("robots="), std::string::npos);

    // The key is found like any other: in a line of its own, after its "=".
    put_file(path, "robots=  7 \nproxy=robots=1\n");
    Settings read;
    ASSERT_TRUE(read_settings(read, path));
    EXPECT_EQ(read.robots, 7);
    EXPECT_EQ(read.proxy, "robots=1");
}

// "modern=" came after every other key: it is written last and only when on, so files of those
// who never turn it on keep their bytes, and a file without it reads as off.
TEST(SettingsTest, ModernKeyGoesLastOnlyWhenOnAndLeavesTheOtherKeysAsTheyWere) {
    const std::string old_layout =
        "packcount=4\nproxy=p.example/modern=1\nsort=1\ntimeout=4000\nport=81\nlastwarn=0\n"
        "version=0\nupgrade=0\nupgradenew=0\nnews=0\nnext=1\nnewwin=2\ncache=1\nmodrep=1\n"
        "help=0\nstart=2\nstart2=3\nmaxlist=2500\n";
    const Settings old_settings{.packcount = 4,
                                .proxy = "p.example/modern=1",
                                .port = 81,
                                .cache = 1,
                                .start = 2,
                                .start2 = 3};
    const struct {
        std::string file;
        Settings expected;
    } reads[] = {
        {old_layout, old_settings},
        {old_layout + "modern=1\n", [&] {
             Settings s = old_settings;
             s.modern = 1;
             return s;
         }()},
        {"modern=1\r\nmodern=0\n", {}},
        {"modern=7", {.modern = 7}},
        {old_layout + "modern=1\npagelimit=1048576\n", [&] {
             Settings s = old_settings;
             s.modern = 1;
             s.pagelimit = 1048576;
             return s;
         }()},
    };
    for (const auto& row : reads) {
        SCOPED_TRACE(row.file);
        TempDir dir;
        put_file(dir.file("tarnv.ini"), row.file);
        Settings settings;
        ASSERT_TRUE(read_settings(settings, dir.file("tarnv.ini")));
        EXPECT_EQ(settings, row.expected);
    }

    Settings on = old_settings;
    on.modern = 1;
    on.delete_file = "x.exe";
    EXPECT_EQ(settings_text(old_settings), old_layout);
    EXPECT_EQ(settings_text(on), old_layout + "delete=x.exe\nmodern=1\n");
    on.robots = 1;
    EXPECT_EQ(settings_text(on), old_layout + "delete=x.exe\nrobots=1\nmodern=1\n");
    on.pagelimit = 1048576;
    EXPECT_EQ(settings_text(on),
              old_layout + "delete=x.exe\nrobots=1\nmodern=1\npagelimit=1048576\n");
    // The modern way's page limit: the setting's bytes, or the default for none.
    EXPECT_EQ(harvest::page_limit_of(0), harvest::kDefaultPageLimit);
    EXPECT_EQ(harvest::page_limit_of(-5), harvest::kDefaultPageLimit);
    EXPECT_EQ(harvest::page_limit_of(1048576), 1048576);
    EXPECT_EQ(harvest::page_limit_of(int64_t{1} << 40), harvest::kMaxPageLimit);
}

// "columns=" goes after every other key, only when set; a value that is not a list of widths
// reads as none.
TEST(SettingsTest, ColumnsKeyGoesLastOnlyWhenSetAndReadsAsWidths) {
    Settings on{.robots = 1, .modern = 1};
    EXPECT_EQ(settings_text(on).find("columns="), std::string::npos);
    on.columns = "200,340,220";
    EXPECT_TRUE(settings_text(on).ends_with("robots=1\nmodern=1\ncolumns=200,340,220\n"));

    const struct {
        const char* text;
        std::vector<int> widths;
    } rows[] = {
        {"200,340,220", {200, 340, 220}}, {"90", {90}},   {"", {}},       {"200,,220", {}},
        {"200,340,", {}},                 {"0,10", {}},   {"10,4001", {}}, {" 10", {}},
        {"10x", {}},                      {"-5", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(read_column_widths(row.text), row.widths);
    }
    EXPECT_EQ(column_widths_text({200, 340, 220}), "200,340,220");
}

// "delete=" names a downloaded setup file: a plain name in downloads/ beside the settings. A
// path reaching anywhere else (the settings themselves, an absolute path) deletes nothing.
TEST(SettingsTest, DeleteLineRemovesOnlyADownloadedFile) {
    TempDir dir;
    const std::string downloads = dir.file("downloads");
    std::filesystem::create_directory(downloads);
    const std::string victim = downloads + "/setup.exe";
    const std::string elsewhere = dir.file("setup.exe");
    const std::string folder = downloads + "/folder";
    put_file(victim, "x");
    put_file(elsewhere, "x");
    std::filesystem::create_directory(folder);
    put_file(dir.file("tarnv.ini"), "delete=setup.exe \r\ndelete=folder\ndelete=missing\n"
                                    "delete=../tarnv.ini\ndelete=" + elsewhere + "\ndelete=\n");
    Settings settings;
    ASSERT_TRUE(read_settings(settings, dir.file("tarnv.ini")));
    EXPECT_FALSE(std::filesystem::exists(victim));
    EXPECT_TRUE(std::filesystem::exists(elsewhere));
    EXPECT_TRUE(std::filesystem::exists(dir.file("tarnv.ini")));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(settings, Settings{});
}

TEST(SettingsTest, FailedWriteReportsTheFileNameAndKeepsTheOldFile) {
    const struct {
        const char* name;
        const char* path;
        const char* blocker;  // a directory made at this name before writing, or none
        bool old_file;        // a settings file exists before writing
    } rows[] = {
        {"folder missing", "missing/tarnv.ini", nullptr, false},
        {"temporary file cannot be made", "tarnv.ini", "tarnv.ini.tmp", true},
        {"file cannot be replaced", "tarnv.ini", "tarnv.ini", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = dir.file(row.path);
        if (row.blocker != nullptr) std::filesystem::create_directory(dir.file(row.blocker));
        if (row.old_file) put_file(path, "port=1\n");
        RecordingShell shell;
        EXPECT_EQ(write_settings(Settings{}, path, shell), 0);
        // The file's name and the system's reason.
        ASSERT_EQ(shell.errors.size(), 1u);
        EXPECT_TRUE(shell.errors[0].starts_with("Unable to open file 'tarnv.ini': ")) << shell.errors[0];
        EXPECT_GT(shell.errors[0].size(), std::string("Unable to open file 'tarnv.ini': ").size());
        if (row.old_file) {
            EXPECT_EQ(file_bytes(path), "port=1\n");
        }
        if (row.blocker == nullptr || row.old_file) continue;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));  // no half-written leftover
    }
}

}  // namespace
}  // namespace tarnvelox::app
