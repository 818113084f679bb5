// Export throughput: 1,000,000 links written from the links file as a text URL list and as a
// bookmark file (every item through the filter, the HTML format escaping its texts).
// Run: build/bench/export_bench

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "exchange/export.h"
#include "platform/shell.h"
#include "store/store.h"

namespace {

using namespace tarnvelox;

constexpr int kLinks = 1'000'000;

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

// The project with kLinks links, built once for every benchmark of the program.
store::Store& project() {
    static platform::NullShell shell;
    static store::Store s;
    static const bool built = [] {
        s.shell = &shell;
        store::set_project_path(s, temp_path("export_bench.tvp"));
        std::filesystem::remove(s.links_path);
        std::filesystem::remove(s.addresses_path);
        (void)store::open_store(s);
        char url[96];
        for (int i = 0; i < kLinks; ++i) {
            std::snprintf(url, sizeof url, "http://host%03d.example.com/docs/page-%07d.html",
                          i % 997, i);
            store::ItemRecord rec;
            rec.url = url;
            rec.title = "Chapter & page " + std::to_string(i);
            rec.source = "http://host000.example.com/";
            rec.kind = store::KIND_PAGE;
            (void)store::tree_insert(s, store::TreeFile::Links, rec);
        }
        return store::put_on_disk(s);
    }();
    (void)built;
    return s;
}

void run_export(benchmark::State& state, int format) {
    store::Store& st = project();
    platform::NullShell shell;
    const std::string out = temp_path("export_bench.out");
    const std::time_t t = std::time(nullptr);
    std::tm now{};
    localtime_r(&t, &now);
    for (auto _ : state) {
        if (exchange::export_items(format, out, nullptr, exchange::ItemFilter{}, st, shell, now) !=
            1) {
            state.SkipWithError("the export failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kLinks);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
    std::filesystem::remove(out);
}

void BM_ExportTextUrls(benchmark::State& state) { run_export(state, exchange::kFormatTextUrls); }
void BM_ExportBookmarks(benchmark::State& state) { run_export(state, exchange::kFormatBookmarks); }

BENCHMARK(BM_ExportTextUrls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportBookmarks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
