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

// A last node cut short that a link already points to: its parent's link reached the disk and
// its own bytes did not (a power cut may keep writes in any order). The torn node goes and the
// link with it, so that the next node written at the cut hangs from one parent only, and the
// lost key can be stored again. Both link sides.
TEST(LinkTreeDamageTest, CutLastNodeGoesWithTheLinkToIt) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("linked.lin");
    for (const char* second : {"http://m.example/z", "http://m.example/a"}) {
        SCOPED_TRACE(second);
        int32_t child = -1;
        std::string root_only;
        {
            LinkTreeFile file;
            ASSERT_TRUE(file.open(path));
            ASSERT_EQ(file.insert(link("http://m.example/m")), 0);
            ASSERT_TRUE(file.flush());
            root_only = read_file_bytes(path);
            child = file.insert(link(second));  // the root's right child, then its left one
            ASSERT_GT(child, 0);
            EXPECT_TRUE(file.close());
        }
        const auto torn = static_cast<std::size_t>(child) + 20;
        write_file_bytes(path, read_file_bytes(path).substr(0, torn));
        {
            LinkTreeFile file;
            ASSERT_TRUE(file.open(path));
            EXPECT_FALSE(file.damaged());
            EXPECT_EQ(read_file_bytes(path), root_only);
            EXPECT_EQ(file.find("http://m.example/m"), 0);
            EXPECT_EQ(file.insert(link(second)), child);
            EXPECT_GT(file.insert(link("http://m.example/zz")), child);
            EXPECT_TRUE(file.close());
        }
        std::remove(path.c_str());
    }
}

// A cut exactly where a node starts leaves no torn node, but links to the nodes cut away now
// point at or past the end of the file: damage, told and never written over. Every boundary.
TEST(LinkTreeDamageTest, CutAtANodeBoundaryThatLinksPointPastIsDamage) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("boundary.lin");
    std::mt19937 rng(5);
    const std::string whole = valid_file(path, rng);
    const auto nodes = chain_of(whole);
    int damaged = 0;
    for (std::size_t i = 1; i <= nodes.size(); ++i) {
        const std::size_t cut = i < nodes.size() ? nodes[i].offset : whole.size();
        SCOPED_TRACE("cut at " + std::to_string(cut));
        // A live node cut away was reached through a link that crosses the cut.
        const bool lost = std::any_of(nodes.begin() + static_cast<long>(i), nodes.end(),
                                      [](const auto& n) { return n.header.parent >= 0; });
        damaged += lost;
        const std::string kept = whole.substr(0, cut);
        write_file_bytes(path, kept);
        for (const bool read_only : {true, false}) {
            LinkTreeFile file;
            ASSERT_TRUE(read_only ? file.open_read_only(path) : file.open(path));
            EXPECT_EQ(file.damaged(), lost);
            EXPECT_EQ(file.insert(link("http://new.example/x")) >= 0, !lost && !read_only);
            EXPECT_TRUE(file.close());
        }
        if (lost) {
            EXPECT_EQ(read_file_bytes(path), kept);
        }
    }
    EXPECT_GT(damaged, 10);
}

// A flush writes its new nodes first, then the links to them from nodes already on disk. Killed
// in between, it leaves whole nodes that nothing links to (any part of those links written).
// Opening links them back: every key is found, none can be stored a second time, and the file
// ends up byte for byte as the finished flush would have left it.
TEST(LinkTreeDamageTest, NodesAFlushLeftUnlinkedAreLinkedBack) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("unlinked.lin");
    std::mt19937 rng(3);
    const std::string before = valid_file(path, rng);
    std::vector<std::pair<std::string, int32_t>> added;
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        for (const char* url :
             {"http://d.example/15a", "http://d.example/15b", "http://d.example/00",
              "http://d.example/9z", "http://e.example/"}) {
            added.emplace_back(url, file.insert(link(url)));
            ASSERT_GE(added.back().second, static_cast<int32_t>(before.size()));
        }
        EXPECT_TRUE(file.close());  // one flush
    }
    const std::string after = read_file_bytes(path);
    std::vector<std::size_t> linked_headers;
    for (const auto& n : chain_of(before)) {
        const auto at = static_cast<std::size_t>(n.offset);
        if (before.compare(at, 16, after, at, 16) != 0) linked_headers.push_back(at);
    }
    ASSERT_GE(linked_headers.size(), 2u);
    for (std::size_t written = 0; written < linked_headers.size(); ++written) {
        SCOPED_TRACE(std::to_string(written) + " links written");
        std::string crashed = before + after.substr(before.size());
        for (std::size_t k = 0; k < written; ++k) {
            crashed.replace(linked_headers[k], 16, after, linked_headers[k], 16);
        }
        write_file_bytes(path, crashed);
        {
            LinkTreeFile look;
            ASSERT_TRUE(look.open_read_only(path));
            EXPECT_GT(look.repairs().relinked, 0u);
            EXPECT_EQ(look.find(added[0].first), added[0].second);
        }
        EXPECT_EQ(read_file_bytes(path), crashed);
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_FALSE(file.damaged());
        for (const auto& [url, offset] : added) {
            EXPECT_EQ(file.find(url), offset) << url;
            EXPECT_LT(file.insert(link(url)), 0) << url;
        }
        EXPECT_TRUE(file.close());
        EXPECT_EQ(read_file_bytes(path), after);
    }
}

// A flush killed in the middle of writing its nodes (a write may stop at any byte): the nodes
// written whole are linked back, the rest is cut away with every link to it, nothing needs a
// second repair, and every key not kept can be stored again.
TEST(LinkTreeDamageTest, AFlushCutAtAnyByteKeepsItsWholeNodes) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("cut-flush.lin");
    std::mt19937 rng(4);
    const std::string before = valid_file(path, rng);
    std::vector<std::pair<std::string, int32_t>> added;
    {
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        // Two chains inside the write: 15a holds 15b, and 15b holds 15c.
        for (const char* url : {"http://d.example/15a", "http://d.example/15b",
                                "http://d.example/15c", "http://e.example/"}) {
            added.emplace_back(url, file.insert(link(url)));
        }
        EXPECT_TRUE(file.close());
    }
    const std::string after = read_file_bytes(path);
    for (std::size_t cut = before.size(); cut < after.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write_file_bytes(path, after.substr(0, cut).replace(0, before.size(), before));
        {
            LinkTreeFile file;
            ASSERT_TRUE(file.open(path));
            ASSERT_FALSE(file.damaged());
            for (std::size_t i = 0; i < added.size(); ++i) {
                const std::size_t end =
                    i + 1 < added.size() ? static_cast<std::size_t>(added[i + 1].second)
                                         : after.size();
                const bool whole = end <= cut;
                EXPECT_EQ(file.find(added[i].first), whole ? added[i].second : -1);
                EXPECT_EQ(file.insert(link(added[i].first)) >= 0, !whole);
            }
        }
        LinkTreeFile again;
        ASSERT_TRUE(again.open(path));
        EXPECT_EQ(again.repairs().cut_at, -1);
        EXPECT_EQ(again.repairs().relinked + again.repairs().links_cleared, 0u);
    }
}

// Zeros are no node. Where they run to the end of the file (a write the system never finished)
// they are cut away; anywhere else they, and a line without a key, are damage. Either way the
// open takes time in proportion to the file, not to the square of its zero nodes.
TEST(LinkTreeDamageTest, ZerosAreCutAtTheEndAndDamageElsewhere) {
    tarnvelox::testing::TempDir dir;
    const std::string path = dir.file("zero.lin");
    std::mt19937 rng(9);
    const std::string valid = valid_file(path, rng);
    // A fresh node's header, its line of 40 bytes not yet on the disk.
    const std::string header("\xff\xff\xff\xff\xff\xff\xff\xff\x28\0\0\0\0\0\0\0", 16);
    std::string keyless = valid + header + "<1>no key<1>0<1>0<1><1>0<1>200<1>x<1>\n";
    keyless[valid.size() + 8] = static_cast<char>(keyless.size() - valid.size() - 16);
    struct Row {
        const char* name;
        std::string bytes;
        std::size_t kept;  // bytes left after the open
        bool damaged;
    };
    const std::size_t zeros = std::size_t{4} << 20;
    const Row rows[] = {
        {"all zeros", std::string(zeros, '\0'), 0, false},
        {"zeros after the nodes", valid + std::string(zeros, '\0'), valid.size(), false},
        {"zeros after a fresh header", valid + header + std::string(40, '\0'), valid.size(), false},
        {"zeros then more bytes", valid + std::string(zeros, '\0') + '\x01' + std::string(15, '\0'),
         0, true},
        {"zeros then half a header", valid + std::string(zeros, '\0') + "\x05\x01", valid.size(),
         false},
        {"a fresh header, zeros, half a header", valid + header + std::string(zeros, '\0') + "\x05",
         valid.size(), false},
        {"a line without a key", keyless, keyless.size(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        write_file_bytes(path, row.bytes);
        LinkTreeFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(file.damaged(), row.damaged);
        const std::string now = read_file_bytes(path);
        EXPECT_EQ(now.size(), row.damaged ? row.bytes.size() : row.kept);
        const std::size_t common = std::min(now.size(), valid.size());
        EXPECT_EQ(now.compare(0, common, valid, 0, common), 0);
        std::size_t live = 0;
        for (const auto& n : chain_of(valid)) {
            if (n.header.parent >= 0 && !row.bytes.starts_with('\0')) {
                EXPECT_EQ(file.find(std::string(line_key(n.line))), n.offset);
                ++live;
            }
        }
        EXPECT_EQ(read_all(file).size(), live);
        EXPECT_EQ(file.insert(link("http://new.example/")) >= 0, !row.damaged);
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
