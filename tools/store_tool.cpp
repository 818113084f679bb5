// tarnvelox-store: looks into a project's link tree files from the command line.
//
//   tarnvelox-store                 what the program does, and a short demonstration
//   tarnvelox-store list FILE       every live record of a .lin or .mai file, in stored order
//   tarnvelox-store check FILE      every live record must be found by its key and the file
//                                   must not be damaged; exit 1 if not

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/out_of_memory.h"
#include "store/store.h"

namespace {

using namespace tarnvelox::store;

constexpr const char* kUsage =
    "usage: tarnvelox-store list FILE     every stored record of a links (.lin) or addresses\n"
    "                                     (.mai) file, in stored order\n"
    "       tarnvelox-store check FILE    every record must be found by its key, and the file\n"
    "                                     must not be damaged\n"
    "       tarnvelox-store --help\n"
    "Exit status: 0 done, 1 the file cannot be read or fails the check, 2 usage error.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// Opens the file to look at only: the tool never changes what it inspects. False (after saying
// why) when it cannot be read or holds no link tree at all.
bool open_file(LinkTreeFile& file, const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || !file.open_read_only(path)) {
        std::fprintf(stderr, "tarnvelox-store: cannot open %s\n", path.c_str());
        return false;
    }
    const auto size = std::filesystem::file_size(path, ec);
    int64_t pos = 0;
    int32_t last = kNone;
    if (!ec && size > 0 && file.live_count() == 0 && file.read_next(pos, last) == nullptr) {
        std::fprintf(stderr,
                     "tarnvelox-store: %s is not a links or addresses file (no record can be "
                     "read from it)\n",
                     path.c_str());
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
    // What a crash leaves is no fault: the program sets it right when it next opens the file.
    const LinkTreeFile::OpenRepairs& repairs = file.repairs();
    if (repairs.cut_at >= 0) {
        std::printf("a torn tail from byte %lld on, and %zu links into it: cut when the program "
                    "next opens the file\n",
                    static_cast<long long>(repairs.cut_at), repairs.links_cleared);
    }
    if (repairs.relinked > 0) {
        std::printf("%zu whole records outside the tree: linked back when the program next opens "
                    "the file\n",
                    repairs.relinked);
    }
    if (file.damaged()) {
        std::printf("%s is damaged: a stretch of it holds no record, or a link points past its "
                    "end; nothing new can be stored in it\n",
                    path.c_str());
    }
    const bool sound = missing == 0 && static_cast<std::size_t>(records) == file.live_count();
    return sound && !file.damaged() ? 0 : 1;
}


}  // namespace

int main(int argc, char** argv) {
    tarnvelox::base::install_out_of_memory_handler();
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3) return usage();
    const std::string_view command = argv[1];
    if (command == "list") return list(argv[2]);
    if (command == "check") return check(argv[2]);
    return usage();
}
