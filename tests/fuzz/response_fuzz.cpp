// Arbitrary bytes as the response a slot received. The first byte picks the kind of item
// fetched (page, moved page, vendor answer, vendor download) and the engine mode.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/context.h"
#include "net/response.h"
#include "net/vendor.h"
#include "platform/shell.h"

namespace {

using namespace tarnvelox;

struct World {
    World() {
        char pattern[] = "/tmp/tarnv-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        store::set_project_path(store, folder + "/fuzz.tvp");
        ctx.settings.maxlist = 50;
        net.folder = folder;
        net.vendor = &vendor;
        search.crawl_scope = harvest::kScopeNoLimit;
        run.harvest_running = 1;
    }
    std::string folder;
    platform::NullShell shell;
    app::Context ctx{shell};
    store::Store& store = ctx.store;
    store::ItemLists& lists = ctx.lists;
    harvest::RunState& run = ctx.run;
    harvest::SearchTexts& search = ctx.search;
    net::SlotTable& slots = ctx.slots;
    net::VendorHandler vendor;
    net::NetEnv& net = ctx.net;
    int runs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World w;
    if (++w.runs % 2000 == 0) {
        store::close_store(w.store);
        std::remove(w.store.links_path.c_str());
        std::remove(w.store.addresses_path.c_str());
        w.lists.links.clear();
        w.lists.addresses.clear();
    }
    const uint8_t mode = size > 0 ? data[0] : 0;
    store::RecordPtr item = store::clear_record();
    item->title = "Fetched";
    item->status = store::STATUS_VISITED | ((mode & 1) ? store::STATUS_MOVED : 0);
    switch ((mode >> 1) % 3) {
        case 0:
            item->url = "http://www.example.com/dir/page" + std::to_string(w.runs) + ".html";
            item->kind = store::KIND_PAGE;
            break;
        case 1:
            item->url = "http://" + std::string(net::kUpdateHost) + "/cgi-bin/check";
            item->kind = store::KIND_VENDOR;
            break;
        default:
            item->url = "http://" + std::string(net::kUpdateHost) + "/files/fuzz.idx";
            item->kind = store::KIND_VENDOR | store::KIND_DOWNLOAD;
            break;
    }
    w.run.engine_mode = (mode & 0x10) ? harvest::kModeSinglePage : harvest::kModeHarvest;
    if (store::open_store(w.store) && (item->kind & store::KIND_VENDOR) == 0) {
        item->file_offset = store::tree_insert(w.store, store::TreeFile::Links, *item);
    }
    net::Slot& slot = w.slots.slots[0];
    slot.item = harvest::SlotItem();
    slot.item.item = item.get();
    slot.item.owned = std::move(item);
    slot.response.assign(reinterpret_cast<const char*>(data),
                         reinterpret_cast<const char*>(data) + size);
    slot.response.resize((size + 300) / 2048 * 2048 + 2048, '\0');
    slot.received = static_cast<int32_t>(size);
    (void)net::complete_response(w.net, 0);
    return 0;
}
