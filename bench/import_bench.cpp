// Import throughput: 100,000 addresses read back from a text address list (every line through
// the page scanner, classic and modern readers) and from an address book, each into a fresh
// project. Run: build/bench/import_bench

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/context.h"
#include "exchange/import.h"
#include "store/store.h"

namespace {

using namespace tarnvelox;

constexpr int kAddresses = 100'000;

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

// The two export formats that hold addresses and are read back by a reader of their own.
std::string write_input(bool address_book) {
    const std::string path = temp_path(address_book ? "import_bench.htm" : "import_bench.txt");
    std::ofstream out(path);
    if (address_book) out << "<!DOCTYPE NETSCAPE-Addressbook-file-1>\n<DL><p>\n";
    char address[64];
    for (int i = 0; i < kAddresses; ++i) {
        std::snprintf(address, sizeof address, "person%06d@mail%03d.example.com", i, i % 997);
        if (address_book) {
            out << "<DT><A HREF=\"" << address << "\">" << address << "</A>\n";
        } else {
            out << address << '\n';
        }
    }
    if (address_book) out << "</DL><p>\n";
    return path;
}

void run_import(benchmark::State& state, int type, bool modern) {
    const std::string input = write_input(type == exchange::kImportAddressBook);
    const std::string project = temp_path("import_bench.tvp");
    for (auto _ : state) {
        state.PauseTiming();
        platform::NullShell shell;
        auto ctx = std::make_unique<app::Context>(shell);
        store::set_project_path(ctx->store, project);
        std::filesystem::remove(ctx->store.links_path);
        std::filesystem::remove(ctx->store.addresses_path);
        state.ResumeTiming();
        const exchange::ImportResult r = exchange::import_file(
            ctx->harvest, exchange::ImportRequest{input, type, exchange::kMergeAddUnique, modern},
            ctx->filter);
        store::close_store(ctx->store);
        if (r.tally.addresses != kAddresses) {
            state.SkipWithError("not every address was imported");
            break;
        }
        state.PauseTiming();
        ctx.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kAddresses);
    std::filesystem::remove(input);
}

void BM_ImportTextAddresses(benchmark::State& state) {
    run_import(state, exchange::kImportText, state.range(0) != 0);
}
void BM_ImportAddressBook(benchmark::State& state) {
    run_import(state, exchange::kImportAddressBook, false);
}

BENCHMARK(BM_ImportTextAddresses)->ArgName("modern")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportAddressBook)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
