#include "store/link_tree_file.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <random>

#include "store/reference_tree.h"
#include "store/temp_dir.h"
#include "store/tree_test_util.h"

namespace tarnvelox::store {
namespace {

using testing::chain_of;
using testing::header_at;
using testing::link;
using testing::read_file_bytes;

class LinkTreeFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(file_.open(path_)); }
    std::string bytes() {
        EXPECT_TRUE(file_.flush());
        return read_file_bytes(path_);
    }
    void reopen() {
        EXPECT_TRUE(file_.close());
        ASSERT_TRUE(file_.open(path_));
    }
    // In-order keys reached by descending the tree as stored on disk.
    std::vector<std::string> in_order() {
        const std::string b = bytes();
        std::vector<std::string> keys;
        if (b.empty()) return keys;
        std::vector<int32_t> stack;
        int32_t at = header_at(b, 0).parent == -1 ? header_at(b, 0).right : 0;
        while (at != kNone || !stack.empty()) {
            while (at != kNone) {
                stack.push_back(at);
                at = header_at(b, at).left;
            }
            at = stack.back();
            stack.pop_back();
            const NodeHeader h = header_at(b, at);
            keys.emplace_back(line_key(b.substr(at + kNodeHeaderSize, h.length)));
            at = h.right;
        }
        return keys;
    }

    tarnvelox::testing::TempDir dir_;
    std::string path_ = dir_.file("p.lin");
    LinkTreeFile file_;
};

TEST_F(LinkTreeFileTest, FirstInsertWritesTheRootAndDuplicatesChangeNothing) {
    const ItemRecord rec = link("http://a/");
    const std::string line = format_record_line(rec);
    EXPECT_EQ(file_.insert(rec), 0);
    const std::string b = bytes();
    ASSERT_EQ(b.size(), 16 + line.size());
    EXPECT_EQ(header_at(b, 0), (NodeHeader{-1, -1, int32_t(line.size()), 0}));
    EXPECT_EQ(b.substr(16), line);

    EXPECT_EQ(file_.insert(link("http://a/", "other title")), -1);
    EXPECT_EQ(bytes(), b);
}

TEST_F(LinkTreeFileTest, ChildrenHangLeftAndRightOfTheRoot) {
    const int32_t b = file_.insert(link("b"));
    const int32_t a = file_.insert(link("a"));
    const int32_t c = file_.insert(link("c"));
    EXPECT_EQ(b, 0);
    const std::string bytes_now = bytes();
    EXPECT_EQ(header_at(bytes_now, 0).left, a);
    EXPECT_EQ(header_at(bytes_now, 0).right, c);
    EXPECT_EQ(header_at(bytes_now, a).parent, 0);
    EXPECT_EQ(header_at(bytes_now, c).parent, 0);
    EXPECT_EQ(c, a + 16 + int32_t(format_record_line(link("a")).size()));
}

TEST_F(LinkTreeFileTest, KeysCompareAsBytesWithCaseAndPrefixes) {
    ASSERT_EQ(file_.insert(link("http://x/Page")), 0);
    const int32_t lower = file_.insert(link("http://x/page"));
    EXPECT_GT(lower, 0);
    EXPECT_GT(file_.insert(link("http://x/Page/")), 0);
    EXPECT_GT(file_.insert(link("http://x/\xE9t\xE9")), 0);  // high bytes sort above ASCII
    EXPECT_EQ(in_order(), (std::vector<std::string>{"http://x/Page", "http://x/Page/",
                                                     "http://x/page", "http://x/\xE9t\xE9"}));
    EXPECT_EQ(file_.find("http://x/PAGE"), -1);
    EXPECT_EQ(file_.find("http://x/page"), lower);
    EXPECT_EQ(file_.find(std::string("http://x/page\0tail", 18)), lower);  // ends at the NUL
}

TEST_F(LinkTreeFileTest, UnstorableUrlsAreRefused) {
    ItemRecord no_url;
    EXPECT_EQ(file_.insert(no_url), -1);
    EXPECT_EQ(file_.insert(link("http://a/<1>b")), -1);  // could never be found again
    EXPECT_EQ(file_.insert(link(std::string(2100, 'x'))), -1);
    EXPECT_EQ(bytes(), "");
    LinkTreeFile closed;
    EXPECT_EQ(closed.insert(link("a")), -1);
    EXPECT_EQ(closed.find("a"), -1);
    EXPECT_EQ(closed.remove(0), LinkTreeFile::DeleteResult::NotOpen);
}

TEST_F(LinkTreeFileTest, DeletedRootStaysAsSentinelAndItsKeyCanReturn) {
    for (const char* k : {"m", "f", "t", "a", "z", "h"}) ASSERT_GE(file_.insert(link(k)), 0);
    ASSERT_EQ(file_.remove(0), LinkTreeFile::DeleteResult::Deleted);
    const std::string b = bytes();
    EXPECT_EQ(header_at(b, 0).parent, -1);
    EXPECT_EQ(header_at(b, 0).left, -1);
    EXPECT_EQ(b.substr(16, 1), "m");
    EXPECT_EQ(file_.find("m"), -1);
    for (const char* k : {"f", "t", "a", "z", "h"}) EXPECT_GE(file_.find(k), 0) << k;

    const int32_t again = file_.insert(link("m"));
    EXPECT_EQ(again, int32_t(b.size()));
    EXPECT_EQ(file_.find("m"), again);
    EXPECT_EQ(in_order(), (std::vector<std::string>{"a", "f", "h", "m", "t", "z"}));
    reopen();
    EXPECT_EQ(file_.find("m"), again);
    EXPECT_EQ(file_.live_count(), 6u);
}

TEST_F(LinkTreeFileTest, DeletingANodeWithTwoChildrenKeepsEveryOtherKey) {
    const std::vector<std::string> keys = {"m", "f", "t", "c", "h", "g", "k", "r", "w"};
    for (const auto& k : keys) ASSERT_GE(file_.insert(link(k)), 0);
    ASSERT_EQ(file_.remove(file_.find("f")), LinkTreeFile::DeleteResult::Deleted);
    EXPECT_EQ(in_order(), (std::vector<std::string>{"c", "g", "h", "k", "m", "r", "t", "w"}));
    for (const auto& k : keys) EXPECT_EQ(file_.find(k) >= 0, k != "f") << k;
    EXPECT_EQ(file_.remove(file_.find("m")), LinkTreeFile::DeleteResult::Deleted);
    EXPECT_EQ(file_.remove(0), LinkTreeFile::DeleteResult::Failed);  // already deleted
    reopen();
    EXPECT_EQ(in_order(), (std::vector<std::string>{"c", "g", "h", "k", "r", "t", "w"}));
    EXPECT_EQ(file_.live_count(), 7u);
}

TEST_F(LinkTreeFileTest, RewriteKeepsTheNodeSizeAndCutsAGrownLine) {
    ItemRecord first = link("http://a/");
    ItemRecord second = link("http://b/");
    first.file_offset = file_.insert(first);
    second.file_offset = file_.insert(second);
    const std::size_t size_before = bytes().size();

    first.status = STATUS_VISITED | STATUS_BAD | STATUS_NOT_FOUND;
    first.http_status = "404";
    ASSERT_TRUE(file_.rewrite(first));
    const std::string b = bytes();
    EXPECT_EQ(b.size(), size_before);
    const std::string line = b.substr(16, header_at(b, 0).length);
    // Three bytes longer, cut at the stored length: the "\n" and two blanks are dropped.
    const std::string tail = "<6>404<7>" + std::string(28, ' ');
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);

    int64_t pos = 0;
    int32_t last = -1;
    RecordPtr r1 = file_.read_next(pos, last);
    ASSERT_NE(r1, nullptr);
    EXPECT_EQ(*r1->http_status, "404");
    EXPECT_EQ(r1->status, first.status);
    RecordPtr r2 = file_.read_next(pos, last);
    ASSERT_NE(r2, nullptr);
    EXPECT_EQ(*r2->url, "http://b/");
    EXPECT_EQ(last, second.file_offset);
    EXPECT_EQ(file_.read_next(pos, last), nullptr);


    ItemRecord renamed;
    copy_record(renamed, first);
    renamed.url = "http://changed/";
    EXPECT_FALSE(file_.rewrite(renamed));  // would break the order of the tree
    ItemRecord nowhere;
    copy_record(nowhere, second);
    nowhere.file_offset = 5;
    EXPECT_FALSE(file_.rewrite(nowhere));
}

TEST_F(LinkTreeFileTest, AShorterLineIsPaddedNotLeftWithStaleBytes) {
    ItemRecord rec = link("http://a/");
    rec.http_status = "404";
    rec.file_offset = file_.insert(rec);
    ASSERT_EQ(rec.file_offset, 0);
    rec.http_status.reset();
    rec.status = STATUS_VISITED;
    ASSERT_TRUE(file_.rewrite(rec));
    const std::string b = bytes();
    const std::string shorter = format_record_line(rec);
    EXPECT_EQ(b.substr(16), shorter.substr(0, shorter.size() - 1) + "   \n");
    int64_t pos = 0;
    int32_t last = -1;
    RecordPtr back = file_.read_next(pos, last);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back->http_status, "");
    EXPECT_EQ(*back->modified, "");
}

TEST_F(LinkTreeFileTest, UrlsAreStoredExactlyWhenTheirLineStaysReadable) {
    // The record line holds 2047 characters. With an absent source the fixed part after the
    // url takes 128 of them, 97 up to the last marker: urls up to 1919 characters keep the line
    // end, up to 1950 every marker; longer ones could never be read back and are refused.
    for (std::size_t length : {1919u, 1920u, 1950u, 1951u, 2044u}) {
        SCOPED_TRACE(length);
        ItemRecord rec = link("http://" + std::string(length - 7, 'u'));
        rec.title.reset();
        const std::string line = format_record_line(rec);
        const bool readable = parse_record_line(line) != nullptr;
        EXPECT_EQ(readable, length <= 1950);
        EXPECT_EQ(line.back() == '\n', length <= 1919);
        const int32_t at = file_.insert(rec);
        EXPECT_EQ(at >= 0, readable);
        if (at >= 0) {
            EXPECT_EQ(file_.find(*rec.url), at);
        }
    }
    int64_t pos = 0;
    int32_t last = -1;
    int count = 0;
    while (file_.read_next(pos, last)) ++count;
    EXPECT_EQ(count, 3);
}

// A full disk: new nodes that cannot be written stay buffered, the file keeps its old bytes,
// and they reach it once it can be written again; nothing is lost while the file is open.
TEST_F(LinkTreeFileTest, NodesThatCannotBeWrittenWaitForTheDisk) {
    ASSERT_GE(file_.insert(link("m")), 0);
    ASSERT_GE(file_.insert(link("c")), 0);
    const std::string before = bytes();

    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = before.size() + 20;  // room for a few bytes only
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t buffered = file_.insert(link("x"));
    const bool flushed = file_.flush();
    const bool reported = file_.take_write_failure();
    const std::string during = read_file_bytes(path_);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(buffered, static_cast<int32_t>(before.size()));
    EXPECT_FALSE(flushed);
    EXPECT_TRUE(reported);
    EXPECT_FALSE(file_.take_write_failure());  // told once
    EXPECT_EQ(during, before);                 // no partial node left behind
    EXPECT_EQ(file_.find("x"), buffered);
    EXPECT_TRUE(file_.flush());
    reopen();
    EXPECT_EQ(file_.find("x"), buffered);
    EXPECT_EQ(in_order(), (std::vector<std::string>{"c", "m", "x"}));
}

TEST_F(LinkTreeFileTest, SequentialReadFollowsLengthsAndSkipsDeletedAndBrokenLines) {
    ItemRecord a = link("a");
    a.file_offset = file_.insert(a);
    const int32_t b = file_.insert(link("b"));
    const int32_t c = file_.insert(link("c"));
    ASSERT_EQ(file_.remove(b), LinkTreeFile::DeleteResult::Deleted);
    EXPECT_TRUE(file_.close());

    // Make the first node's line 5000 bytes long: the reader takes 2048 and steps by 5000.
    std::string bytes_now = bytes();
    const NodeHeader h0 = header_at(bytes_now, 0);
    std::string padded_line = bytes_now.substr(16, h0.length) + std::string(5000 - h0.length, 'p');
    std::string rebuilt = bytes_now.substr(0, 16) + padded_line + bytes_now.substr(16 + h0.length);
    unsigned char* hp = reinterpret_cast<unsigned char*>(rebuilt.data());
    encode_i32(hp + 8, 5000);
    testing::write_file_bytes(path_, rebuilt);
    ASSERT_TRUE(file_.open(path_));

    int64_t pos = 0;
    int32_t last = -1;
    RecordPtr r = file_.read_next(pos, last);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(*r->url, "a");
    EXPECT_EQ(pos, 16 + 5000);
    r = file_.read_next(pos, last);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(*r->url, "c");
    EXPECT_EQ(r->file_offset, c + 5000 - h0.length);
    EXPECT_EQ(file_.read_next(pos, last), nullptr);
}

// Random inserts, duplicate inserts, finds, deletes (root and two-children nodes included),
// rewrites and reopenings: the file must stay byte-identical to the plain on-disk descent.
TEST(LinkTreeDifferentialTest, MatchesTheOnDiskDescentByteForByte) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        tarnvelox::testing::TempDir dir;
        const std::string ours_path = dir.file("ours.lin");
        const std::string ref_path = dir.file("ref.lin");
        LinkTreeFile ours;
        ASSERT_TRUE(ours.open(ours_path));
        testing::ReferenceTree ref(ref_path);
        std::mt19937 rng(seed);
        // Small key spaces give many duplicates; sorted runs give degenerate lists.
        const int key_space = seed % 3 == 0 ? 40 : 400;
        std::map<std::string, int32_t> live;
        int sorted_run = 0;
        for (int step = 0; step < 1500; ++step) {
            const int op = static_cast<int>(rng() % 100);
            if (op < 55) {
                const int n = sorted_run > 0 ? sorted_run++ : static_cast<int>(rng() % key_space);
                if (rng() % 50 == 0) sorted_run = sorted_run > 0 ? 0 : 1;
                std::string key = "http://h" + std::to_string(n % 7) + ".example/p" +
                                  std::to_string(n);
                // Keys that differ in letter case only, prefixes of each other, high bytes.
                switch (n % 5) {
                    case 1: key[7] = 'H'; break;
                    case 2: key += "/"; break;
                    case 3: key += "\xE9"; break;
                    default: break;
                }
                ItemRecord rec = link(key, "title " + std::to_string(step));
                const int32_t got = ours.insert(rec);
                ASSERT_EQ(got, ref.insert(rec)) << key;
                if (got >= 0) live[key] = got;
            } else if (op < 75) {
                const std::string key = "http://h" + std::to_string(rng() % 7) + ".example/p" +
                                        std::to_string(rng() % key_space);
                ASSERT_EQ(ours.find(key), ref.find(key)) << key;
            } else if (op < 90 && !live.empty()) {
                auto it = live.begin();
                std::advance(it, rng() % live.size());
                // Now and then delete the root while it is live.
                if (rng() % 10 == 0) {
                    auto root = std::find_if(live.begin(), live.end(),
                                             [](const auto& e) { return e.second == 0; });
                    if (root != live.end()) it = root;
                }
                ASSERT_EQ(ours.remove(it->second), LinkTreeFile::DeleteResult::Deleted);
                ASSERT_EQ(ref.remove(it->second), 1);
                live.erase(it);
            } else if (op < 97 && !live.empty()) {
                auto it = live.begin();
                std::advance(it, rng() % live.size());
                ItemRecord rec = link(it->first, "title " + std::to_string(step));
                rec.file_offset = it->second;
                rec.status = STATUS_VISITED;
                rec.size = std::to_string(rng() % 100000);
                rec.modified = "Mon, 07 Dec 2026 10:00:00 GMT";
                if (rng() % 4 == 0) rec.http_status = "404";
                ASSERT_TRUE(ours.rewrite(rec));
                ASSERT_EQ(ref.rewrite(rec), 1);
            } else {
                ASSERT_TRUE(ours.close());
                ASSERT_TRUE(ours.open(ours_path));
                ASSERT_EQ(ours.live_count(), live.size());
            }
            if (step % 100 == 0) {
                ASSERT_TRUE(ours.flush());
                ASSERT_EQ(read_file_bytes(ours_path), read_file_bytes(ref_path)) << step;
            }
        }
        ASSERT_TRUE(ours.flush());
        ASSERT_EQ(read_file_bytes(ours_path), read_file_bytes(ref_path));
        for (const auto& [key, offset] : live) ASSERT_EQ(ours.find(key), offset) << key;
    }
}

}  // namespace
}  // namespace tarnvelox::store
