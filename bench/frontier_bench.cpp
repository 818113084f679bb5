// Crawl frontier: handing out every link of a 100,000-link file to one slot, for a file whose
// links all lie on one host (each is put off once and taken in the second pass) and for one that
// alternates between 50 hosts. Run: build/bench/frontier_bench

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/context.h"
#include "harvest/frontier.h"
#include "platform/shell.h"

namespace {

using namespace tarnvelox;

constexpr int kLinks = 100'000;

void BM_HandOutAll(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0));
    char pattern[] = "/tmp/tarnv-frontier-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    platform::NullShell shell;
    app::Context ctx(shell);
    store::Store& st = ctx.store;
    store::set_project_path(st, folder + "/f.tvp");
    if (!store::open_store(st)) std::abort();
    for (int i = 0; i < kLinks; ++i) {
        store::ItemRecord rec;
        rec.url = std::string("http://host") + std::to_string(i % hosts) + ".example/page" +
                  std::to_string(i) + ".html";
        rec.title = std::string("T");
        rec.kind = store::KIND_PAGE;
        if (store::tree_insert(st, store::TreeFile::Links, rec) < 0) std::abort();
    }
    int handed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store::ItemLists& lists = ctx.lists;
        ctx.run = harvest::RunState();
        ctx.run.harvest_running = 1;
        harvest::HarvestEnv& env = ctx.harvest;
        harvest::FrontierState frontier;
        harvest::SlotItem slot;
        if (!store::open_store(st)) std::abort();
        state.ResumeTiming();
        handed = 0;
        while (harvest::next_link_for_slot(env, frontier, 0, slot, nullptr) == 1) ++handed;
        state.PauseTiming();
        slot = harvest::SlotItem();
        lists.links.clear();
        state.ResumeTiming();
    }
    if (handed != kLinks) std::abort();
    state.SetItemsProcessed(state.iterations() * kLinks);
    store::close_store(st);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_HandOutAll)->Arg(1)->Arg(50)->ArgName("hosts")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
