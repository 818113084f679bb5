// Damaged link tree files: random and mutated bytes fed through open, find, insert, delete and
// the sequential read. Every call must end, nothing may crash, no existing child link may be
// overwritten, no key may be stored twice, and complete nodes before the damage stay readable.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "store/link_tree_file.h"
#include "store/reference_tree.h"
#include "store/temp_dir.h"
#include "store/tree_test_util.h"

namespace tarnvelox::store {
namespace {

using testing::chain_of;
using testing::link;
using testing::read_file_bytes;
using testing::write_file_bytes;

std::string key_for(std::mt19937& rng) { return "http://d.example/" + std::to_string(rng() % 60); }

// A valid file of a few dozen nodes, some of them deleted.
std::string valid_file(const std::string& path, std::mt19937& rng) {
    {
        testing::ReferenceTree ref(path);
        std::vector<int32_t> offsets;
        for (int i = 0; i < 40; ++i) {
            const int32_t at = ref.insert(link(key_for(rng)));
            if (at >= 0) offsets.push_back(at);
        }
        for (int i = 0; i < 5 && !offsets.empty(); ++i) {
            const std::size_t pick = rng() % offsets.size();
            ref.remove(offsets[pick]);
            offsets.erase(offsets.begin() + static_cast<long>(pick));
        }
    }
    return read_file_bytes(path);
}

void put_i32(std::string& bytes, std::size_t at, int32_t value) {
    if (at + 4 <= bytes.size()) encode_i32(reinterpret_cast<unsigned char*>(&bytes[at]), value);
}

std::string mutate(std::string bytes, std::mt19937& rng) {
    const auto nodes = chain_of(bytes);
    const int kinds = static_cast<int>(rng() % 8);
    for (int n = 0; n <= kinds && !bytes.empty(); ++n) {
        const auto& node = nodes[rng() % nodes.size()];
        const std::size_t field = static_cast<std::size_t>(node.offset) + 4 * (rng() % 4);
        switch (rng() % 9) {
            case 0:  // a link or length into the middle of a line
                put_i32(bytes, field, node.offset + 1 + static_cast<int32_t>(rng() % 40));
                break;
            case 1:  // outside the file, either side
                put_i32(bytes, field, rng() % 2 ? -7 : static_cast<int32_t>(bytes.size() + 999));
                break;
            case 2:  // a cycle: a link back to the root or to the node itself
                put_i32(bytes, field, rng() % 2 ? 0 : node.offset);
                break;
            case 3:  // zero or negative length
                put_i32(bytes, node.offset + 8u, rng() % 2 ? 0 : -100);
                break;
            case 4:  // cut short, as a crash in the middle of an append leaves it
                bytes.resize(rng() % bytes.size());
                break;
            case 5:  // a flipped byte anywhere
                bytes[rng() % bytes.size()] ^= static_cast<char>(1u << (rng() % 8));
                break;
            case 6:  // a link to another node, which breaks the order
                put_i32(bytes, field, nodes[rng() % nodes.size()].offset);
                break;
            case 7:  // a huge length
                put_i32(bytes, node.offset + 8u, 0x7fffff00);
                break;
            default:  // random garbage appended
                for (int i = 0; i < 37; ++i) bytes.push_back(static_cast<char>(rng()));
                break;
        }
        if (bytes.empty()) break;
    }
    return bytes;
}

// Keys of live, completely readable nodes of the sequential chain.
std::set<std::string> live_keys(const std::string& bytes) {
    std::set<std::string> keys;
    for (const auto& n : chain_of(bytes)) {
        const std::size_t want = std::min<std::size_t>(n.header.length, kMaxLineRead);
        if (n.header.parent >= 0 && n.line.size() == want) keys.emplace(line_key(n.line));
    }
    return keys;
}

// True when `after` differs from `before` (within before's size) only in one 4-byte field that
// held -1: the empty child slot the new node was hung in.
bool only_an_empty_slot_changed(const std::string& before, const std::string& after) {
    std::size_t first = std::string::npos, last = 0;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i] != after[i]) {
            if (first == std::string::npos) first = i;
            last = i;
        }
    }
    if (first == std::string::npos) return true;
    for (std::size_t start = first >= 3 ? first - 3 : 0; start <= first; ++start) {
        if (last < start + 4 && start + 4 <= before.size() &&
            before.compare(start, 4, "\xff\xff\xff\xff") == 0) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> read_all(LinkTreeFile& file) {
    std::vector<std::string> urls;
    int64_t pos = 0;
    int32_t last = -1;
    while (RecordPtr rec = file.read_next(pos, last)) urls.push_back(*rec->url);
    return urls;
}

TEST(LinkTreeDamageTest, MutatedFilesNeverCrashHangOrLoseLinks) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("d.lin");
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::remove(path.c_str());
        const std::string damaged = mutate(valid_file(path, rng), rng);
        write_file_bytes(path, damaged);

        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        for (int op = 0; op < 40; ++op) {
            const std::string before = read_file_bytes(path);
            switch (rng() % 5) {
                case 0: {
                    const std::string key = key_for(rng);
                    const bool known = live_keys(before).count(key) != 0;
                    const int32_t at = file.insert(link(key));
                    if (at >= 0) {
                        ASSERT_FALSE(known) << "stored twice: " << key;
                        ASSERT_EQ(file.find(key), at);
                        const auto urls = read_all(file);  // a new node is never hidden
                        ASSERT_NE(std::find(urls.begin(), urls.end(), key), urls.end());
                    }
                    EXPECT_TRUE(file.flush());
                    ASSERT_TRUE(only_an_empty_slot_changed(before, read_file_bytes(path)));
                    break;
                }
                case 4: {
                    // A rewrite touches only the line of a node, never a header or the size.
                    ItemRecord rec = link(key_for(rng), "rewritten");
                    rec.file_offset = file.find(*rec.url);
                    rec.status = STATUS_VISITED;
                    rec.http_status = "404";
                    (void)file.rewrite(rec);
                    const std::string after = read_file_bytes(path);
                    ASSERT_EQ(after.size(), before.size());
                    for (const auto& n : chain_of(before)) {
                        if (n.offset + 16u > after.size()) break;
                        ASSERT_EQ(after.compare(n.offset, 16, before, n.offset, 16), 0);
                    }
                    break;
                }
                case 1:
                    (void)file.find(key_for(rng));
                    break;
                case 2:
                    (void)file.remove(rng() % 2 ? file.find(key_for(rng))
                                                : static_cast<int32_t>(rng() % (before.size() + 1)));
                    break;
                default: {
                    int64_t pos = 0;
                    int32_t last = -1;
                    int count = 0;
                    while (file.read_next(pos, last)) ASSERT_LT(++count, 10000);
                    break;
                }
            }
        }
    }
}


// A crash in the middle of an append leaves part of the new node at the end of the file and
// its parent not yet linked to it. Opening drops the partial node; everything before it stays,
// and the next append lands where the lost one would have been and is found and read back.
TEST(LinkTreeDamageTest, InterruptedAppendIsDroppedAndTheFileStaysUsable) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("crash.lin");
    std::mt19937 rng(7);
    const std::string before = valid_file(path, rng);
    LinkTreeFile probe;
    ASSERT_TRUE(probe.open(path));
    const std::vector<std::string> stored = read_all(probe);
    ASSERT_GE(probe.insert(link("http://lost.example/x.html")), 0);
    EXPECT_TRUE(probe.close());
    const std::string node = read_file_bytes(path).substr(before.size());

    for (std::size_t cut = 1; cut < node.size(); cut += 3) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write_file_bytes(path, before + node.substr(0, cut));
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_FALSE(file.damaged());
        EXPECT_EQ(read_file_bytes(path), before);
        const int32_t added = file.insert(link("http://new.example/after.html"));
        EXPECT_EQ(added, static_cast<int32_t>(before.size()));
        std::vector<std::string> expected = stored;
        expected.push_back("http://new.example/after.html");
        EXPECT_EQ(read_all(file), expected);
        EXPECT_TRUE(file.close());
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(file.find("http://new.example/after.html"), added);
    }
}

// A last node cut short that a link already points to was no interrupted append: its parent was
// written after it. Cutting it away would let a new node take its offset and hang from that
// link and from a second one; the file keeps its bytes and takes no new node. Both link sides.
TEST(LinkTreeDamageTest, CutLastNodeThatALinkReachesIsKeptAndBlocksAppends) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("linked.lin");
    for (const char* second : {"http://m.example/z", "http://m.example/a"}) {
        SCOPED_TRACE(second);
        int32_t child = -1;
        {
            LinkTreeFile file;
            ASSERT_TRUE(file.open(path));
            ASSERT_EQ(file.insert(link("http://m.example/m")), 0);
            child = file.insert(link(second));  // the root's right child, then its left one
            ASSERT_GT(child, 0);
            EXPECT_TRUE(file.close());
        }
        const std::string whole = read_file_bytes(path);
        const std::string cut = whole.substr(0, static_cast<std::size_t>(child) + 20);
        write_file_bytes(path, cut);
        {
            LinkTreeFile file;
            ASSERT_TRUE(file.open(path));
            EXPECT_EQ(read_file_bytes(path), cut);  // not truncated: the link still points there
            EXPECT_EQ(file.find("http://m.example/m"), 0);
            EXPECT_LT(file.insert(link("http://m.example/zz")), 0);
            EXPECT_LT(file.insert(link("http://m.example/0")), 0);
            EXPECT_TRUE(file.close());
        }
        EXPECT_EQ(read_file_bytes(path), cut);
        std::remove(path.c_str());
    }
}

// Opened to look at only, a file with a torn tail (or no link tree at all) keeps every byte.
TEST(LinkTreeDamageTest, ReadOnlyOpenNeverChangesTheFile) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("look.lin");
    std::mt19937 rng(11);
    const std::string before = valid_file(path, rng);
    const std::string torn = before + std::string("\x05\x00\x00", 3);
    write_file_bytes(path, torn);
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open_read_only(path));
        EXPECT_GT(file.live_count(), 0u);
        EXPECT_LT(file.insert(link("http://new.example/x")), 0);
        EXPECT_TRUE(file.close());
    }
    EXPECT_EQ(read_file_bytes(path), torn);
    write_file_bytes(path, "plain text, no links here\n");
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open_read_only(path));
        EXPECT_EQ(file.live_count(), 0u);
        EXPECT_TRUE(file.close());
    }
    EXPECT_EQ(read_file_bytes(path), "plain text, no links here\n");
    LinkTreeFile missing;
    EXPECT_FALSE(missing.open_read_only(dir.file("missing.lin")));
}

// Cutting a file anywhere else never makes open shrink it below the complete nodes, and a new
// node is either refused or both found and read back.
TEST(LinkTreeDamageTest, ArbitraryCutsKeepCompleteNodesAndNeverHideNewOnes) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("cut.lin");
    std::mt19937 rng(11);
    const std::string whole = valid_file(path, rng);
    const auto nodes = chain_of(whole);
    for (std::size_t cut = 1; cut < whole.size(); cut += 11) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write_file_bytes(path, whole.substr(0, cut));
        std::size_t complete = 0;
        std::size_t complete_end = 0;
        for (const auto& n : nodes) {
            const std::size_t end = n.offset + 16 + n.line.size();
            if (end > cut) break;
            complete_end = end;
            if (n.header.parent >= 0) ++complete;
        }
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_GE(read_file_bytes(path).size(), complete_end);
        EXPECT_GE(read_all(file).size(), complete);
        const std::string url = "http://new.example/after-the-cut";
        const int32_t added = file.insert(link(url));
        if (added >= 0) {
            const auto urls = read_all(file);
            EXPECT_NE(std::find(urls.begin(), urls.end(), url), urls.end());
        }
    }
}

TEST(LinkTreeDamageTest, RandomBytesOpenAndAnswer) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("r.lin");
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(rng() % 400, '\0');
        for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? 0xff : rng());
        write_file_bytes(path, bytes);
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        for (int i = 0; i < 10; ++i) {
            const std::string before = read_file_bytes(path);
            (void)file.insert(link(key_for(rng)));
            EXPECT_TRUE(file.flush());
            ASSERT_TRUE(only_an_empty_slot_changed(before, read_file_bytes(path)));
            (void)file.remove(static_cast<int32_t>(rng() % 400));
        }
        int64_t pos = 0;
        int32_t last = -1;
        while (file.read_next(pos, last)) {
        }
    }
}

}  // namespace
}  // namespace tarnvelox::store
