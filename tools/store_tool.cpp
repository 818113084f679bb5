// tarnvelox-store: looks into a project's link tree files from the command line.
//
//   tarnvelox-store                 what the program does, and a short demonstration
//   tarnvelox-store list FILE       every live record of a .lin or .mai file, in stored order
//   tarnvelox-store check FILE      every live record must be found by its key; exit 1 if not

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/out_of_memory.h"
#include "store/store.h"

namespace {

using namespace tarnvelox::store;

int usage() {
    std::fprintf(stderr, "usage: tarnvelox-store [list FILE | check FILE]\n");
    return 2;
}

bool open_file(LinkTreeFile& file, const std::string& path) {
    if (!std::filesystem::is_regular_file(path) || !file.open(path)) {
        std::fprintf(stderr, "tarnvelox-store: cannot open %s\n", path.c_str());
        return false;
    }
    return true;
}

int list(const std::string& path) {
    LinkTreeFile file;
    if (!open_file(file, path)) return 1;
    int64_t pos = 0;
    int32_t last = kNone;
    while (RecordPtr rec = file.read_next(pos, last)) {
        std::printf("%10d  %-50s  %s\n", rec->file_offset, rec->url->c_str(), rec->title->c_str());
    }
    return 0;
}

int check(const std::string& path) {
    LinkTreeFile file;
    if (!open_file(file, path)) return 1;
    int64_t pos = 0;
    int32_t last = kNone;
    long records = 0, missing = 0;
    while (RecordPtr rec = file.read_next(pos, last)) {
        ++records;
        if (file.find(*rec->url) != rec->file_offset) {
            ++missing;
            std::printf("not found by its key: %s (node %d)\n", rec->url->c_str(),
                        rec->file_offset);
        }
    }
    std::printf("%s: %ld records, %zu keys in the tree, %ld not found by key\n", path.c_str(),
                records, file.live_count(), missing);
    return missing == 0 && static_cast<std::size_t>(records) == file.live_count() ? 0 : 1;
}

int demonstrate() {
    std::printf(
        "Tarnvelox harvests e-mail addresses and links from the web: give it a starting URL,\n"
        "e-mail addresses or a person's name, and it crawls, scans every page and keeps each\n"
        "link and address it finds in a project that survives between runs.\n\n"
        "This build holds the store of found items. A demonstration:\n\n");
    const auto folder = std::filesystem::temp_directory_path() / "tarnvelox-demo.d";
    std::filesystem::create_directories(folder);
    Store store;
    set_project_path(store, (folder / "demo.tvp").string());
    std::filesystem::remove(store.links_path);
    std::filesystem::remove(store.addresses_path);
    if (!open_store(store)) {
        std::fprintf(stderr, "cannot create the demonstration project in %s\n",
                     folder.string().c_str());
        return 1;
    }
    const char* links[] = {"http://www.example.com/", "http://www.example.com/contact.html",
                           "http://www.example.com/about.html", "http://www.example.com/"};
    for (const char* url : links) {
        ItemRecord rec;
        rec.url = url;
        rec.title = "Example page";
        rec.source = "http://www.example.com/";
        rec.kind = KIND_PAGE;
        const int32_t at = tree_insert(store, TreeFile::Links, rec);
        std::printf("  store link    %-40s -> %s\n", url,
                    at >= 0 ? ("node at byte " + std::to_string(at)).c_str()
                            : "refused (already stored)");
    }
    ItemRecord address;
    address.url = "mailto:info@example.com";
    address.title = "info@example.com";
    address.source = "http://www.example.com/contact.html";
    address.kind = KIND_ADDRESS;
    std::printf("  store address %-40s -> node at byte %d\n", address.title->c_str(),
                tree_insert(store, TreeFile::Addresses, address));
    std::printf("\nRead back from %s in stored order:\n", store.links_path.c_str());
    while (RecordPtr rec = read_next_link(store, TreeFile::Links)) {
        std::printf("  %s\n", rec->url->c_str());
    }
    std::printf(
        "\nRun every test with ./test. Inspect a project's files with\n"
        "  build/tools/tarnvelox-store list FILE.lin   or   check FILE.lin\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    tarnvelox::base::install_out_of_memory_handler();
    if (argc == 1) return demonstrate();
    if (argc != 3) return usage();
    const std::string_view command = argv[1];
    if (command == "list") return list(argv[2]);
    if (command == "check") return check(argv[2]);
    return usage();
}
