// Arbitrary bytes as a settings file: reading must neither crash nor overrun, and what is read
// must survive being written and read again.
//
// "delete=" lines really delete: inputs with a "delete=" and a "/" anywhere (whose delete= value
// could name a file outside the current directory) are skipped, and the fuzzer should be run
// from a scratch directory.

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/settings.h"

namespace {

using tarnvelox::app::Settings;

// A private directory for the files of one fuzzing process, removed when it exits normally.
struct ScratchDir {
    ScratchDir() {
        path = (std::filesystem::temp_directory_path() / "tarnv-fuzz-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr) __builtin_trap();
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path;
};

const std::string& scratch_dir() {
    static const ScratchDir dir;
    return dir.path;
}

Settings write_and_read(const Settings& settings, const std::string& path) {
    tarnvelox::platform::NullShell shell;
    if (tarnvelox::app::write_settings(settings, path, shell) != 1) __builtin_trap();
    Settings back;
    if (!tarnvelox::app::read_settings(back, path)) __builtin_trap();
    return back;
}

// True when every line of `text` is within the reader's line cap.
bool lines_fit(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (std::min(end, text.size()) > tarnvelox::app::kMaxSettingsLine) return false;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.find("delete=") != std::string_view::npos && input.find('/') != input.npos) {
        return 0;
    }
    const std::string input_path = scratch_dir() + "/in.ini";
    const std::string output_path = scratch_dir() + "/out.ini";
    if (std::FILE* file = std::fopen(input_path.c_str(), "wb")) {
        const bool written = std::fwrite(data, 1, size, file) == size;
        if (std::fclose(file) != 0 || !written) __builtin_trap();
    } else {
        __builtin_trap();
    }

    Settings first;
    if (!tarnvelox::app::read_settings(first, input_path)) __builtin_trap();
    if (first.delete_file) __builtin_trap();  // "delete=" is never kept
    const Settings second = write_and_read(first, output_path);
    // A value read from a line whose first "=" comes before its key is written back behind its
    // key, which can make the written line longer than the reader's cap, so that reading cuts
    // it. Such settings must settle after one more round.
    if (lines_fit(tarnvelox::app::settings_text(first))) {
        if (second != first) __builtin_trap();
    } else {
        if (!lines_fit(tarnvelox::app::settings_text(second))) __builtin_trap();
        if (write_and_read(second, output_path) != second) __builtin_trap();
    }
    return 0;
}
