// Link tree file throughput: one million inserts in ascending and in random key order, one
// million finds, and reopening (index rebuild) a file of one million records with the memory
// its index takes, and opening files of zeros. Run: build/bench/store_bench

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "store/link_tree_file.h"

namespace {

using tarnvelox::store::ItemRecord;
using tarnvelox::store::KIND_PAGE;
using tarnvelox::store::LinkTreeFile;

constexpr int kRecords = 1'000'000;

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

// URLs shaped like a crawl of one site: ~45 characters, sorting in the order they are numbered.
std::vector<std::string> make_keys(bool shuffled) {
    std::vector<std::string> keys;
    keys.reserve(kRecords);
    char buf[96];
    for (int i = 0; i < kRecords; ++i) {
        std::snprintf(buf, sizeof buf, "http://www.example.com/catalogue/page%07d.html", i);
        keys.emplace_back(buf);
    }
    if (shuffled) std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    return keys;
}

ItemRecord record_for(const std::string& key) {
    ItemRecord rec;
    rec.url = key;
    rec.title = "Catalogue page";
    rec.source = "http://www.example.com/catalogue/";
    rec.kind = KIND_PAGE;
    return rec;
}

void fill(const std::string& path, const std::vector<std::string>& keys) {
    std::filesystem::remove(path);
    LinkTreeFile file;
    if (!file.open(path)) std::abort();
    for (const auto& k : keys) benchmark::DoNotOptimize(file.insert(record_for(k)));
}

void BM_InsertMillion(benchmark::State& state) {
    const auto keys = make_keys(state.range(0) != 0);
    const std::string path = temp_path("tarnv-bench-insert.lin");
    for (auto _ : state) fill(path, keys);
    state.SetItemsProcessed(state.iterations() * kRecords);
    std::filesystem::remove(path);
}
BENCHMARK(BM_InsertMillion)->Arg(0)->Arg(1)->ArgName("random")->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_FindMillion(benchmark::State& state) {
    const auto keys = make_keys(true);
    const std::string path = temp_path("tarnv-bench-find.lin");
    fill(path, keys);
    LinkTreeFile file;
    if (!file.open(path)) std::abort();
    for (auto _ : state) {
        for (const auto& k : keys) benchmark::DoNotOptimize(file.find(k));
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    std::filesystem::remove(path);
}
BENCHMARK(BM_FindMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_OpenMillion(benchmark::State& state) {
    const std::string path = temp_path("tarnv-bench-open.lin");
    fill(path, make_keys(true));
    double index_bytes = 0;
    for (auto _ : state) {
        LinkTreeFile file;
        const std::size_t before = mallinfo2().uordblks;
        if (!file.open(path)) std::abort();
        index_bytes = double(mallinfo2().uordblks - before);
        benchmark::DoNotOptimize(file.live_count());
    }
    state.counters["index_MB"] = index_bytes / (1024.0 * 1024.0);
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// Opening a file of zeros (arg 1: with one byte that is not zero at its end, so that the zeros
// are damage instead of a torn tail to cut), read-only so that every iteration sees the same
// bytes. The time per byte must stay flat as the file grows: zeros are passed in one step.
void BM_OpenZeros(benchmark::State& state) {
    const std::string path = temp_path("tarnv-bench-zeros.lin");
    const auto megabytes = static_cast<std::size_t>(state.range(0));
    std::string bytes(megabytes << 20, '\0');
    if (state.range(1) != 0) bytes += std::string("\x01", 1) + std::string(15, '\0');
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    for (auto _ : state) {
        LinkTreeFile file;
        if (!file.open_read_only(path)) std::abort();
        benchmark::DoNotOptimize(file.damaged());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenZeros)->ArgsProduct({{1, 8, 64}, {0, 1}})->ArgNames({"MB", "damage"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
