#include "search/engine_rows.h"

namespace tarnvelox::search {

namespace {

bool belongs(const store::ItemRecord& rec, EnginePage page) {
    if (page == EnginePage::NameSearch) return (rec.kind & store::KIND_SEARCH_ENGINE) == 0;
    return (rec.kind & store::KIND_DIRECTORY) == 0;
}

// The first record after `rec`'s group.
store::ItemRecord* after_group(store::ItemRecord* rec) {
    store::ItemRecord* next = rec->next.get();
    while (next != nullptr && next->engine_id == rec->engine_id) next = next->next.get();
    return next;
}

store::ItemRecord* skip_foreign(store::ItemRecord* rec, EnginePage page) {
    while (rec != nullptr && !belongs(*rec, page)) rec = rec->next.get();
    return rec;
}

}  // namespace

EngineRows engine_rows(const store::ItemList& engines, store::ItemRecord* first, EnginePage page) {
    EngineRows rows;
    store::ItemRecord* rec = first != nullptr ? first : engines.head();
    for (EngineRow& row : rows) {
        rec = skip_foreign(rec, page);
        if (rec == nullptr) break;
        row.record = rec;
        for (char c : rec->title.value_or("")) {
            row.text += c;
            if (c == '&') row.text += '&';
        }
        row.text.append(kEngineRowDots, '.');
        row.tickable = rec->url.has_value() && !rec->url->starts_with('*');
        if (!row.tickable) rec->selected = 0;
        row.ticked = row.tickable && rec->selected != 0;
        rec = after_group(rec);
    }
    return rows;
}

void commit_engine_ticks(const EngineRows& rows, const std::array<bool, kEngineRows>& ticks) {
    for (int i = 0; i < kEngineRows; ++i) {
        store::ItemRecord* rec = rows[static_cast<std::size_t>(i)].record;
        if (rec == nullptr) continue;
        const uint32_t group = rec->engine_id;
        const int32_t value = ticks[static_cast<std::size_t>(i)] ? 1 : 0;
        for (store::ItemRecord* r = rec; r != nullptr && r->engine_id == group; r = r->next.get()) {
            r->selected = value;
        }
    }
}

int engine_row_count(const store::ItemList& engines, EnginePage page) {
    int rows = 0;
    for (store::ItemRecord* rec = skip_foreign(engines.head(), page); rec != nullptr;
         rec = skip_foreign(after_group(rec), page)) {
        ++rows;
    }
    return rows;
}

store::ItemRecord* engine_row_start(const store::ItemList& engines, int skip, EnginePage page) {
    store::ItemRecord* rec = skip_foreign(engines.head(), page);
    for (int i = 0; i < skip && rec != nullptr; ++i) rec = skip_foreign(after_group(rec), page);
    return rec;
}

}  // namespace tarnvelox::search
