// Feeds arbitrary bytes to the page scanner as a fetched page, read the classic way and then the
// modern way. The first byte picks the search mode and whether keyword lists are set; the
// project files are started afresh now and then so that they stay small. Titles and link texts
// the modern reader stores must be well-formed UTF-8 that fits the record line's title field.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/context.h"
#include "harvest/crawl_scope.h"
#include "harvest/html_text.h"
#include "harvest/page_scanner.h"
#include "harvest/page_text.h"
#include "platform/shell.h"

namespace {

using namespace tarnvelox;

struct World {
    World() {
        char pattern[] = "/tmp/tarnv-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        store::set_project_path(store, folder + "/fuzz.tvp");
        ctx.settings.maxlist = 50;
        page.url = "http://www.example.com/dir/page.html";
        page.kind = store::KIND_PAGE;
    }
    std::string folder;
    platform::NullShell shell;
    app::Context ctx{shell};
    store::Store& store = ctx.store;
    store::ItemLists& lists = ctx.lists;
    harvest::RunState& run = ctx.run;
    harvest::SearchTexts& search = ctx.search;
    harvest::HarvestEnv& env = ctx.harvest;
    store::ItemRecord page;
    int runs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    if (++world.runs % 2000 == 0) {
        store::close_store(world.store);
        std::remove(world.store.links_path.c_str());
        std::remove(world.store.addresses_path.c_str());
        world.lists.links.clear();
        world.lists.addresses.clear();
    }
    const uint8_t mode = size > 0 ? data[0] : 0;
    world.run.search_mode = mode % 4;
    world.search.crawl_scope = (mode >> 2) % 5;
    world.search.starting_url = "http://www.example.com/dir/";
    world.search.sought_addresses =
        (mode & 0x20) ? std::optional<std::string>("a@b.example") : std::nullopt;
    world.search.crawl_keywords =
        (mode & 0x40) ? std::optional<std::string>("foo AND bar") : std::nullopt;
    world.search.extract_keywords =
        (mode & 0x80) ? std::optional<std::string>("x* NOT y?") : std::nullopt;
    harvest::parse_keyword_list(world.search.crawl_list, world.search.crawl_keywords);
    harvest::parse_keyword_list(world.search.extract_list, world.search.extract_keywords);
    harvest::compute_scope_base(world.search, world.run.search_mode);
    world.run.import_in_progress = (mode & 0x10) != 0;
    world.page.title = "Page";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    store::ItemRecord* page = (mode & 0x08) ? nullptr : &world.page;
    world.run.modern_reader = false;
    harvest::scan_page(world.env, 0, page, text);

    world.run.modern_reader = true;
    world.page.title = "Page";
    const store::ItemRecord* last_link = world.lists.links.tail();
    harvest::scan_page(world.env, 0, page, text);
    world.run.modern_reader = false;
    const auto fits = [](const std::optional<std::string>& title) {
        return !title || (title->size() <= harvest::kMaxTitle && harvest::is_valid_utf8(*title) &&
                          title->find_first_of("<>") == std::string::npos);
    };
    if (!fits(world.page.title)) __builtin_trap();
    for (const store::ItemRecord* r = last_link != nullptr ? last_link->next.get()
                                                           : world.lists.links.head();
         r != nullptr; r = r->next.get()) {
        if (!fits(r->title)) __builtin_trap();
    }
    return 0;
}
