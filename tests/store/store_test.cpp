#include "store/store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "fakes/recording_shell.h"
#include "store/link_file_reader.h"
#include "store/node_walk.h"
#include "store/reference_tree.h"
#include "store/temp_dir.h"
#include "store/tree_test_util.h"

namespace tarnvelox::store {
namespace {

using testing::link;

TEST(StoreNamesTest, CompanionFilesTakeTheFileNameUpToItsFirstDot) {
    struct Row {
        std::string_view project, links, addresses;
    };
    const Row rows[] = {
        {"default.tvp", "default.lin", "default.mai"},
        {"/home/u/projects/shop.tvp", "/home/u/projects/shop.lin", "/home/u/projects/shop.mai"},
        {"a.b.tvp", "a.lin", "a.mai"},
        // Dots in folder names do not end the base name.
        {"/home/u/.local/share/x/site.tvp", "/home/u/.local/share/x/site.lin",
         "/home/u/.local/share/x/site.mai"},
        {"my.dir/one.tvp", "my.dir/one.lin", "my.dir/one.mai"},
        {"my.dir/noext", "my.dir/noext.lin", "my.dir/noext.mai"},
        {"./p.tvp", "./p.lin", "./p.mai"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.project);
        EXPECT_EQ(links_file_name(row.project), row.links);
        EXPECT_EQ(addresses_file_name(row.project), row.addresses);
    }
    // Two projects in one dotted folder keep separate files.
    EXPECT_NE(links_file_name("my.dir/one.tvp"), links_file_name("my.dir/two.tvp"));
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_project_path(store_, dir_.file("proj.tvp"));
        store_.shell = &shell_;
    }
    tarnvelox::testing::TempDir dir_;
    tarnvelox::testing::RecordingShell shell_;
    Store store_;
    std::vector<std::string>& errors_ = shell_.errors;
};

TEST_F(StoreTest, OpenCreatesBothFilesAndResetsTheReadPosition) {
    EXPECT_EQ(tree_insert(store_, TreeFile::Links, link("http://a/")), -1);  // not open
    ASSERT_TRUE(open_store(store_));
    EXPECT_TRUE(std::filesystem::exists(dir_.file("proj.lin")));
    EXPECT_TRUE(std::filesystem::exists(dir_.file("proj.mai")));
    ASSERT_EQ(tree_insert(store_, TreeFile::Links, link("http://a/")), 0);
    ASSERT_NE(read_next_link(store_, TreeFile::Links), nullptr);
    EXPECT_GT(store_.read_position, 0);
    ASSERT_TRUE(open_store(store_));  // already open: only the position is reset
    EXPECT_EQ(store_.read_position, 0);
    EXPECT_EQ(tree_find(store_, TreeFile::Links, link("http://a/")), 0);
}

TEST_F(StoreTest, OpenFailsWhenAFileCannotBeCreated) {
    set_project_path(store_, dir_.file("missing-folder/proj.tvp"));
    EXPECT_FALSE(open_store(store_));
}

TEST_F(StoreTest, DeletingAddressesLowersTheCountButNeverBelowZero) {
    ASSERT_TRUE(open_store(store_));
    ItemRecord a = link("mailto:a@x.org");
    ItemRecord b = link("mailto:b@x.org");
    const int32_t at_a = tree_insert(store_, TreeFile::Addresses, a);
    const int32_t at_b = tree_insert(store_, TreeFile::Addresses, b);
    const int32_t at_link = tree_insert(store_, TreeFile::Links, link("http://x.org/"));
    store_.total_addresses = 1;
    EXPECT_EQ(tree_delete(store_, TreeFile::Addresses, at_a), 1);
    EXPECT_EQ(store_.total_addresses, 0);
    EXPECT_EQ(tree_delete(store_, TreeFile::Addresses, at_b), 1);
    EXPECT_EQ(store_.total_addresses, 0);
    store_.total_addresses = 5;
    EXPECT_EQ(tree_delete(store_, TreeFile::Links, at_link), 1);
    EXPECT_EQ(store_.total_addresses, 5);
    EXPECT_TRUE(errors_.empty());

    EXPECT_EQ(tree_delete(store_, TreeFile::Links, 3), 0);  // not a node
    EXPECT_EQ(errors_, std::vector<std::string>{"Delete failed"});
    close_store(store_);
    EXPECT_EQ(tree_delete(store_, TreeFile::Links, 0), 0);  // not open: nothing reported
    EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(StoreTest, AfterAFailedWriteTheAddressCountIsWhatTheFileHolds) {
    ASSERT_TRUE(open_store(store_));
    for (const char* a : {"mailto:a@x.org", "mailto:b@x.org"}) {
        ASSERT_GE(tree_insert(store_, TreeFile::Addresses, link(a)), 0);
    }
    close_store(store_);
    EXPECT_EQ(store_.total_addresses, 2);

    // A full disk (a file size limit stands in for it): new addresses are taken into the
    // file's buffer and counted, but never reach the disk.
    ASSERT_TRUE(open_store(store_));
    store_.total_addresses = 9;  // a count from elsewhere (a project file) is no authority
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = std::filesystem::file_size(store_.addresses_path) + 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (const char* a : {"mailto:c@x.org", "mailto:d@x.org"}) {
        EXPECT_GE(tree_insert(store_, TreeFile::Addresses, link(a)), 0);
    }
    close_store(store_);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(errors_.empty());
    EXPECT_EQ(store_.total_addresses, 2);
}

TEST_F(StoreTest, SequentialReadReturnsRecordsInStoredOrderAcrossReopen) {
    ASSERT_TRUE(open_store(store_));
    const std::vector<std::string> urls = {"http://m/", "http://c/", "http://x/", "http://a/"};
    std::vector<int32_t> offsets;
    for (const auto& u : urls) offsets.push_back(tree_insert(store_, TreeFile::Links, link(u)));
    ASSERT_EQ(tree_delete(store_, TreeFile::Links, offsets[1]), 1);
    close_store(store_);
    ASSERT_TRUE(open_store(store_));

    std::vector<std::string> read;
    while (RecordPtr rec = read_next_link(store_, TreeFile::Links)) {
        EXPECT_EQ(store_.last_read_offset, rec->file_offset);
        read.push_back(*rec->url);
    }
    EXPECT_EQ(read, (std::vector<std::string>{"http://m/", "http://x/", "http://a/"}));
    EXPECT_EQ(read_next_link(store_, TreeFile::Addresses), nullptr);
}

TEST_F(StoreTest, RewriteLineUpdatesAFetchedLinkInPlace) {
    ItemRecord rec = link("http://a/");
    EXPECT_EQ(rewrite_line(store_, rec), 0);  // not open
    ASSERT_TRUE(open_store(store_));
    rec.file_offset = tree_insert(store_, TreeFile::Links, rec);
    rec.title = "The page's own title";
    rec.size = "5120";
    rec.modified = "Tue, 08 Dec 2026 04:00:00 GMT";
    rec.status = STATUS_VISITED;
    EXPECT_EQ(store_.links.pending_count(), 1u);
    EXPECT_EQ(rewrite_line(store_, rec), 1);
    EXPECT_EQ(store_.links.pending_count(), 0u);
    RecordPtr back = read_next_link(store_, TreeFile::Links);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back->title, "The page's own title");
    EXPECT_EQ(back->status, STATUS_VISITED);
    EXPECT_EQ(*back->modified, "Tue, 08 Dec 2026 04:00:00 GMT");
}

TEST_F(StoreTest, ForgettingVisitsOffersEveryLinkAgain) {
    ASSERT_TRUE(open_store(store_));
    for (const char* url : {"http://a.example/1", "http://a.example/2", "http://a.example/3"}) {
        ItemRecord rec = link(url);
        rec.file_offset = tree_insert(store_, TreeFile::Links, rec);
        rec.status = std::string_view(url).ends_with('2') ? 0 : STATUS_VISITED | STATUS_BAD;
        rec.http_status = "404";
        ASSERT_EQ(rewrite_line(store_, rec), 1);
    }
    EXPECT_EQ(store_.links.pending_count(), 1u);
    EXPECT_EQ(forget_visits(store_), 2);
    EXPECT_EQ(store_.links.pending_count(), 3u);
    store_.read_position = 0;
    while (RecordPtr rec = read_next_link(store_, TreeFile::Links)) {
        EXPECT_EQ(rec->status, 0) << *rec->url;
        EXPECT_EQ(*rec->title, "T") << "the rest of the record stays";
    }
}

TEST_F(StoreTest, AVisitedMarkReachesTheDiskOnlyAfterWhatWasFoundBeforeIt) {
    ASSERT_TRUE(open_store(store_));
    ItemRecord page = link("http://a.example/");
    page.file_offset = tree_insert(store_, TreeFile::Links, page);
    ASSERT_TRUE(store_.links.flush());
    ItemRecord address = link("mailto:ann@a.example");
    ASSERT_GE(tree_insert(store_, TreeFile::Addresses, address), 0);
    page.status = STATUS_VISITED;
    ASSERT_EQ(rewrite_line(store_, page), 1);
    EXPECT_EQ(store_.links.pending_count(), 0u);  // the crawl knows at once
    auto on_disk = [&](const std::string& file, const std::string& key) -> RecordPtr {
        LinkTreeFile f;
        if (!f.open_read_only(dir_.file(file))) return nullptr;
        const int32_t at = f.find(key);
        return at < 0 ? nullptr : f.read_at(at);
    };
    // Killed now, the page would be fetched again: its mark is not on disk yet.
    RecordPtr before = on_disk("proj.lin", "http://a.example/");
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(before->status, 0);
    ASSERT_TRUE(commit(store_));
    EXPECT_NE(on_disk("proj.mai", "mailto:ann@a.example"), nullptr);
    RecordPtr after = on_disk("proj.lin", "http://a.example/");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->status, STATUS_VISITED);
    // Reads in the meantime see the new line.
    page.title = "Kept back";
    ASSERT_EQ(rewrite_line(store_, page), 1);
    EXPECT_EQ(*store_.links.read_at(page.file_offset)->title, "Kept back");
    int64_t position = 0;
    int32_t node = 0;
    EXPECT_EQ(*store_.links.read_next(position, node)->title, "Kept back");
}

// While it lives, no file of this process may grow past `limit` bytes: a write beyond fails
// with EFBIG, as on a full disk (SIGXFSZ, which would end the process, is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lower = old_;
        lower.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*old_handler_)(int) = SIG_DFL;
};

// The addresses cannot be written when the marks are due: commit fails, says so, and the page
// stays unvisited on disk, so that a crash now has it fetched again. The failed store writes no
// mark after that, even once the disk has room: the run is stopping, and what the page held
// may be missing.
TEST_F(StoreTest, AFailedWriteOfTheAddressesKeepsTheMarkOffTheDisk) {
    ASSERT_TRUE(open_store(store_));
    ItemRecord page = link("http://a.example/");
    page.file_offset = tree_insert(store_, TreeFile::Links, page);
    ASSERT_TRUE(store_.links.sync());
    const auto links_size = std::filesystem::file_size(dir_.file("proj.lin"));
    ASSERT_GE(tree_insert(store_, TreeFile::Addresses,
                          link("mailto:" + std::string(links_size, 'a') + "@a.example")),
              0);
    page.status = STATUS_VISITED;
    ASSERT_EQ(rewrite_line(store_, page), 1);
    auto status_on_disk = [&] {
        LinkTreeFile f;
        RecordPtr rec = f.open_read_only(dir_.file("proj.lin")) ? f.read_at(0) : nullptr;
        return rec ? rec->status : -1;
    };
    {
        const FileSizeLimit limit(links_size + 16);
        EXPECT_FALSE(commit(store_));
    }
    EXPECT_EQ(status_on_disk(), 0);
    EXPECT_EQ(errors_.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(dir_.file("proj.mai")), 0u);
    EXPECT_FALSE(commit(store_));
    EXPECT_EQ(status_on_disk(), 0);
}

}  // namespace
}  // namespace tarnvelox::store

namespace tarnvelox::store {
namespace {

// Loading reads a file without changing it: an interrupted append at its end stays as it is,
// and a node whose line is longer than a reader takes is passed over whole.
TEST(LinkFileReaderTest, ReadsWithoutChangingAndPassesOverOverlongLines) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("r.lin");
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        for (const char* url : {"http://a/", "http://b/", "http://c/"}) {
            ASSERT_GE(file.insert(testing::link(url)), 0);
        }
    }
    std::string bytes = testing::read_file_bytes(path);
    const std::size_t second = 16 + static_cast<std::size_t>(testing::header_at(bytes, 0).length);
    // Make the second node's line 3000 bytes long, then leave half a node at the end.
    const NodeHeader h1 = testing::header_at(bytes, static_cast<int32_t>(second));
    std::string longer = bytes.substr(0, second + 16) +
                         bytes.substr(second + 16, h1.length) +
                         std::string(3000 - h1.length, ' ') + bytes.substr(second + 16 + h1.length);
    encode_i32(reinterpret_cast<unsigned char*>(&longer[second + 8]), 3000);
    longer += longer.substr(0, 20);
    testing::write_file_bytes(path, longer);

    LinkFileReader reader;
    ASSERT_TRUE(reader.open(path));
    std::vector<std::string> urls;
    while (RecordPtr rec = reader.next()) urls.push_back(*rec->url);
    EXPECT_EQ(urls, (std::vector<std::string>{"http://a/", "http://c/"}));
    EXPECT_EQ(testing::read_file_bytes(path), longer);
    EXPECT_FALSE(reader.open(dir.file("missing.lin")));
}

// The reader takes the file in windows of 64 KiB: nodes that straddle a window's end, a deleted
// node and a long run of zeros between nodes read as one unbuffered walk reads them.
TEST(LinkFileReaderTest, ReadsNodesAcrossItsWindowsAsAWalkWithoutOne) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("w.lin");
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        for (int i = 0; i < 3000; ++i) {
            const std::string pad(static_cast<std::size_t>(i * 13 % 200), 'p');
            const int32_t at = file.insert(testing::link("http://h/" + pad + std::to_string(i)));
            ASSERT_GE(at, 0);
            if (i % 97 == 0) {
                ASSERT_EQ(file.remove(at), LinkTreeFile::DeleteResult::Deleted);
            }
        }
    }
    std::string bytes = testing::read_file_bytes(path);
    bytes += std::string(200'000, '\0');  // zeros a torn write may leave
    testing::write_file_bytes(path, bytes);
    const auto walk = [&](bool windows) {
        std::vector<std::string> urls;
        const int fd = ::open(path.c_str(), O_RDONLY);
        int64_t position = 0;
        int32_t node = 0;
        ReadAhead ahead;
        while (RecordPtr rec = next_node_record(fd, position, node, OverlongLine::Skip,
                                                windows ? &ahead : nullptr)) {
            urls.push_back(*rec->url + " " + std::to_string(rec->file_offset));
        }
        ::close(fd);
        return urls;
    };
    const std::vector<std::string> plain = walk(false);
    EXPECT_EQ(plain.size(), 3000u - 31u);
    EXPECT_EQ(walk(true), plain);
    LinkFileReader reader;
    ASSERT_TRUE(reader.open(path));
    std::size_t read = 0;
    while (reader.next()) ++read;
    EXPECT_EQ(read, plain.size());
}

}  // namespace
}  // namespace tarnvelox::store
