#include "app/list_commands.h"

#include <algorithm>
#include <cstdio>

#include "harvest/list_rows.h"
#include "store/item_list.h"

namespace tarnvelox::app {

namespace {

// The slots let go of the records of lists about to be freed.
void forget_slot_records(Context& ctx) {
    for (net::Slot& s : ctx.slots.slots) {
        s.item.item = nullptr;
        s.item.owned.reset();
    }
}

void remove_file(const std::string& path) {
    if (!path.empty()) (void)std::remove(path.c_str());
}

}  // namespace

int delete_selected_rows(Context& ctx, store::TreeFile which, std::vector<int32_t>& selected) {
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    if (selected.empty()) return 0;
    if (!store::open_store(ctx.store)) return 0;

    const bool links = which == store::TreeFile::Links;
    store::ItemList& list = links ? ctx.lists.links : ctx.lists.addresses;
    platform::Shell& shell = ctx.shell;
    std::vector<int32_t> still_selected;
    int deleted = 0;
    for (std::size_t k = 0; k < selected.size(); ++k) {
        const int32_t row = selected[k] - deleted;  // rows before it that went moved it up
        if (row < 0 || row >= list.row_count || row >= list.size()) break;
        store::ItemRecord& rec = list.at(row);
        if (links && ctx.run.harvest_running != 0 && (rec.status & store::STATUS_ACTIVE) != 0) {
            // A connection slot borrows this record: freeing it would pull it from under the
            // fetch. It stays, selected. After the run no slot holds a record.
            still_selected.push_back(row);
            continue;
        }
        if (store::tree_delete(ctx.store, which, rec.file_offset) == 0) {
            // Rows handled so far stay deleted; the rest keep their selection.
            for (std::size_t rest = k; rest < selected.size(); ++rest) {
                still_selected.push_back(selected[rest] - deleted);
            }
            selected = std::move(still_selected);
            return 0;
        }
        if (links) {
            shell.link_row_removing(row);
        } else {
            shell.address_row_removing(row);
        }
        (void)list.unlink(rec);  // frees the record
        --list.row_count;
        if (links) {
            shell.link_row_removed(row);
        } else {
            shell.address_row_removed(row);
        }
        ctx.settings.modrep = 1;
        ++deleted;
    }
    if (links) list.status_changed();
    selected = std::move(still_selected);
    shell.refresh_status_counters();
    return deleted;
}

std::string kept_rows_text(std::size_t kept) {
    if (kept == 1) return "1 row was kept: a connection is fetching it.";
    return std::to_string(kept) + " rows were kept: connections are fetching them.";
}

bool delete_links(Context& ctx, RunWindow& window) {
    if (ctx.run.harvest_running != 0) return false;
    if (!window.confirm(kDeleteLinksQuestion)) return false;
    ctx.shell.views_cleared();
    forget_slot_records(ctx);
    ctx.lists.links.clear();
    ctx.lists.addresses.row_count = 0;
    store::close_store(ctx.store);
    remove_file(ctx.store.links_path);
    ctx.store.total_links = 0;
    ctx.store.unvisited_when_closed = 0;
    ctx.run.visited_links = 0;
    ctx.run.bad_links = 0;
    // The addresses stay: their rows come back.
    for (store::ItemRecord* r = ctx.lists.addresses.head(); r != nullptr; r = r->next.get()) {
        harvest::add_address_row(ctx.lists.addresses, ctx.shell, *r);
    }
    window.enable_controls(false, ctx.settings.maxlist != 0);
    ctx.shell.refresh_status_counters();
    return true;
}

bool clear_project(Context& ctx, RunWindow& window) {
    if (ctx.run.harvest_running != 0) return false;
    if (!window.confirm(kClearProjectQuestion)) return false;
    ctx.shell.views_cleared();
    forget_slot_records(ctx);
    window.enable_controls(false, ctx.settings.maxlist != 0);
    store::close_store(ctx.store);
    remove_file(ctx.store.links_path);
    remove_file(ctx.store.addresses_path);
    // After the close, which counts what the files held.
    clear_project_state(ctx.lists, ctx.store, ctx.run);
    ctx.shell.refresh_status_counters();
    return true;
}

int32_t refetch_all_links(Context& ctx) {
    if (ctx.run.harvest_running != 0) return -1;
    if (!store::open_store(ctx.store)) return -1;
    const int32_t changed = store::forget_visits(ctx.store);
    if (changed < 0) return -1;
    for (store::ItemRecord* r = ctx.lists.links.head(); r != nullptr; r = r->next.get()) {
        r->status = 0;
    }
    ctx.lists.links.status_changed();
    ctx.settings.modrep = 1;
    ctx.shell.refresh_status_counters();
    return changed;
}

}  // namespace tarnvelox::app
