// Arbitrary bytes as a link tree file, opened to look at and opened for writing (which cuts a
// torn tail and links back nodes a killed flush left outside the tree). Every open must end in
// time linear in the input, every key found must lead to a node that holds it, what a writer
// open sets right needs no second repair, and no key found is lost by it.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/link_tree_file.h"

namespace {

using tarnvelox::store::ItemRecord;
using tarnvelox::store::KIND_PAGE;
using tarnvelox::store::LinkTreeFile;
using tarnvelox::store::RecordPtr;

const std::string& fuzz_path() {
    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("tarnvelox-fuzz-" + std::to_string(::getpid()) + ".lin"))
            .string();
    return path;
}

// The keys the sequential read returns that find leads back to, each checked on the way.
std::vector<std::pair<std::string, int32_t>> found_keys(LinkTreeFile& file) {
    std::vector<std::pair<std::string, int32_t>> keys;
    int64_t position = 0;
    int32_t node = -1;
    while (RecordPtr rec = file.read_next(position, node)) {
        const int32_t at = file.find(*rec->url);
        if (at < 0) continue;
        // The node found may hold a line that does not parse (then the read passed it over
        // and found another node with its key); one that parses holds the key.
        RecordPtr back = file.read_at(at);
        if ((back && *back->url != *rec->url) || !file.stored(*rec->url)) __builtin_trap();
        keys.emplace_back(*rec->url, at);
    }
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz_path();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    {
        LinkTreeFile look;
        if (!look.open_read_only(path)) __builtin_trap();
        (void)found_keys(look);
        if (look.insert(ItemRecord{}) >= 0) __builtin_trap();
    }
    std::vector<std::pair<std::string, int32_t>> before;
    {
        LinkTreeFile file;
        if (!file.open(path)) __builtin_trap();
        before = found_keys(file);
        if (!file.close()) __builtin_trap();
    }
    LinkTreeFile again;
    if (!again.open(path)) __builtin_trap();
    if (again.repairs().cut_at >= 0 || again.repairs().links_cleared > 0) __builtin_trap();
    for (const auto& [key, offset] : before) {
        if (again.find(key) != offset) __builtin_trap();
    }
    if (!again.damaged()) {
        ItemRecord rec;
        rec.url = "http://fuzz.example/new";
        rec.title = "T";
        rec.kind = KIND_PAGE;
        const int32_t at = again.insert(rec);
        if (at >= 0 && again.find(*rec.url) != at) __builtin_trap();
    }
    (void)again.close();
    std::remove(path.c_str());
    return 0;
}
