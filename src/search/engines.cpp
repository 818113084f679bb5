#include "search/engines.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/file_io.h"
#include "base/line_reader.h"
#include "base/text_util.h"
#include "platform/shell.h"

namespace tarnvelox::search {

namespace {

// Bytes taken from the file per read; any size works, lines are joined across reads.

// What carries over from one line to the next while the file is read.
struct LoadState {
    store::OptText name;                  // the last NAME= value
    uint32_t kind = 0;                    // the last TYP= kind
    uint32_t group = 0;                   // the last ID= number
    store::ItemRecord* recent = nullptr;  // the record the last REQ= created (borrowed)
};

bool starts_with(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

// Every statement recognised here contains "=", so the value always exists.
std::string_view value_of(std::string_view line) { return line.substr(line.find('=') + 1); }

void apply_line(Engines& engines, LoadState& state, std::string_view line) {
    line = base::c_text(line);
    // Trailing blanks, tabs and carriage returns are ignored; other white space is kept.
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
    }

    if (starts_with(line, "NAME=")) {
        state.name = std::string(value_of(line));
        return;
    }
    if (starts_with(line, "REQ=")) {
        store::RecordPtr rec = store::clear_record();
        rec->kind = state.kind;
        rec->engine_id = state.group;
        rec->title = state.name;
        rec->url = std::string(value_of(line));
        state.recent = &engines.list.append(std::move(rec));
        return;
    }
    if (state.recent == nullptr) return;  // nothing to describe before the first REQ= line
    if (starts_with(line, "HOME=")) {
        state.recent->source = std::string(value_of(line));
    } else if (starts_with(line, "ID=")) {
        // A negative number wraps, as the unsigned group field would take it.
        state.group = static_cast<uint32_t>(base::read_int(value_of(line)));
        state.recent->engine_id = state.group;
    } else if (starts_with(line, "TYP=S")) {
        state.kind = kKindSearchEngine;
        state.recent->kind = state.kind;
        ++engines.engine_count;
    } else if (starts_with(line, "TYP=D")) {
        state.kind = kKindDirectory;
        state.recent->kind = state.kind;
        ++engines.directory_count;
    }
}

}  // namespace

int load_engines(Engines& engines, const std::string& path, platform::Shell& shell) {
    std::FILE* file = base::fopen_regular(path);  // a FIFO or device is not read
    if (file == nullptr) {
        shell.report_error("Unable to Load Engines File '" + path + "'");
        return 0;
    }
    engines.list.clear();
    engines.engine_count = 0;
    engines.directory_count = 0;

    LoadState state;
    base::for_each_line(file, kMaxEngineLine,
                         [&](const std::string& line) { apply_line(engines, state, line); });
    std::fclose(file);
    return engines.list.empty() ? 0 : 1;
}

store::ItemRecord* find_engine_by_id(const store::ItemList& engines, uint32_t id) {
    for (store::ItemRecord* rec = engines.head(); rec != nullptr; rec = rec->next.get()) {
        if (rec->engine_id == id) return rec;
    }
    return nullptr;
}

}  // namespace tarnvelox::search
