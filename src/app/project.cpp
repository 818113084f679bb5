#include "app/project.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/context.h"
#include "base/file_io.h"
#include "base/line_reader.h"
#include "base/text_util.h"
#include "search/engines.h"
#include "store/link_file_reader.h"
#include "store/link_tree_file.h"

namespace tarnvelox::app {

namespace {

// The project file is read in pieces of this size; a line is assembled from them up to its cap.

enum class Key {
    Url,
    Crawl,
    Extract,
    Email,
    Name,
    Domain,
    Include,
    Exclude,
    LastExport,
    LastImport,
    Sort,
    Start,
    EnginePos,
    Count,
};

struct KeyText {
    std::string_view text;  // includes its "="
    Key key;
};

// The order in which a read line is tested: the first key found anywhere in the line wins, so
// a keyword list holding "URL=" is read as a starting URL.
constexpr KeyText kReadOrder[] = {
    {"URL=", Key::Url},
    {"CRAWL=", Key::Crawl},
    {"EXTRACT=", Key::Extract},
    {"EMAIL=", Key::Email},
    {"NAME=", Key::Name},
    {"DOMAIN=", Key::Domain},
    {"INCLUDE=", Key::Include},
    {"EXCLUDE=", Key::Exclude},
    {"LAST_EXPORT=", Key::LastExport},
    {"LAST_IMPORT=", Key::LastImport},
    {"SORT=", Key::Sort},
    {"START=", Key::Start},
    {"E_POS=", Key::EnginePos},
    {"COUNT=", Key::Count},
};

// Appends `key` and `value` as one line, cut to kMaxProjectLineWritten with its "\n". A line
// feed inside a value becomes a blank, for every key: otherwise the rest of the value would be
// read back as a line of its own, and a name holding "\nURL=..." would replace the starting URL.
void append_line(std::string& out, std::string_view key, std::string_view value) {
    const std::size_t room = kMaxProjectLineWritten - 1 - key.size();
    const std::size_t start = out.size() + key.size();
    out.append(key).append(base::copy_bounded(base::c_text(value), room));
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '\n', ' ');
    out.push_back('\n');
}

void append_text(std::string& out, std::string_view key, const std::optional<std::string>& text) {
    if (text) append_line(out, key, *text);
}

// Filter texts: empty is "not set", so nothing is written.
void append_filter(std::string& out, std::string_view key, const std::string& text) {
    if (!text.empty()) append_line(out, key, text);
}

// The pieces of the context a project file line may change.
struct ProjectTargets {
    harvest::SearchTexts& search;
    exchange::ItemFilter& filter;
    ProjectValues& values;
    store::ItemList& engines;
    store::Store& store;
    int32_t& sort_setting;
};

// Applies one line of the project file (at most kMaxProjectLineRead characters, no "\n").
void apply_line(const ProjectTargets& to, std::string& line) {
    line.resize(base::c_text(line).size());
    base::trim_right(line);
    for (const KeyText& entry : kReadOrder) {
        if (line.find(entry.text) == std::string::npos) continue;
        // Every key ends in "=", so the line has one.
        std::string value = line.substr(line.find('=') + 1);
        switch (entry.key) {
            case Key::Url:
                to.search.starting_url = std::move(value);
                break;
            case Key::Crawl:
                to.search.crawl_keywords = std::move(value);
                break;
            case Key::Extract:
                to.search.extract_keywords = std::move(value);
                break;
            case Key::Email:
                to.search.sought_addresses = std::move(value);
                break;
            case Key::Name:
                to.search.person_name = std::move(value);
                break;
            case Key::Domain:
                to.filter.domains = std::move(value);
                break;
            case Key::Include:
                to.filter.must_contain = std::move(value);
                break;
            case Key::Exclude:
                to.filter.must_not_contain = std::move(value);
                break;
            case Key::LastExport:
                to.values.last_export = std::move(value);
                break;
            case Key::LastImport:
                to.values.last_import = std::move(value);
                break;
            case Key::Sort:
                to.sort_setting = base::read_int(value);
                break;
            case Key::Start:
                to.search.crawl_scope = base::read_int(value);
                break;
            case Key::EnginePos:
                // The id is compared as the 32-bit pattern the file was written from.
                if (store::ItemRecord* engine = search::find_engine_by_id(
                        to.engines, static_cast<uint32_t>(base::read_int(value)))) {
                    engine->selected = 1;
                }
                break;
            case Key::Count:
                to.store.total_addresses = base::read_int(value);
                break;
        }
        return;
    }
}

// Reads the project file line by line into `to`. False when it cannot be opened.
bool read_project_file(const std::string& path, const ProjectTargets& to) {
    // A folder, a FIFO or a device (/dev/zero) holds no project: refused without reading.
    std::FILE* file = base::fopen_regular(path);
    if (file == nullptr) return false;
    base::for_each_line(file, kMaxProjectLineRead,
                         [&](std::string& line) { apply_line(to, line); });
    std::fclose(file);
    return true;
}

struct LoadCounts {
    int32_t records = 0;    // loaded by this call, for the progress reports
    int32_t addresses = 0;  // address records loaded by this call
};

// What the loader saw of one companion file.
struct FileRead {
    store::StoredCounts counts;  // of the records read, as store::stored_counts counts them
    bool whole = false;          // every record was read: `counts` are the file's
};

// Adds the records of one companion file to `list`.
FileRead load_companion(const std::string& file_name, exchange::ListKind kind, bool import_only,
                        const exchange::ItemFilter& filter, int32_t maxlist, store::Store& store,
                        store::ItemList& list, harvest::RunState& run, LoadCounts& counts,
                        LoadProgress* progress) {
    FileRead seen;
    if (maxlist <= 0) return seen;
    std::error_code ignored;
    // A missing file is skipped, not created: the store creates it when a harvest starts.
    if (!std::filesystem::is_regular_file(file_name, ignored)) {
        seen.whole = true;
        return seen;
    }
    // Read-only: loading, and importing another person's project, never change the files.
    store::LinkFileReader file;
    if (!file.open(file_name)) return seen;
    // maxlist counts the records read from the file, the ones an import filters out included.
    for (int32_t read = 0;; ++read) {
        store::RecordPtr rec = file.next();
        if (!rec) {
            seen.whole = true;
            break;
        }
        if (read == maxlist) break;  // the file holds more than the list takes
        ++seen.counts.records;
        if ((rec->status & store::STATUS_VISITED) == 0) ++seen.counts.unvisited;
        if (import_only && !exchange::passes_item_filter(*rec, kind, filter)) continue;
        // The line of a link is rewritten while a connection holds it, so the file may keep
        // that hold; it belonged to the run that wrote it, and no slot holds the link now.
        rec->status &= ~store::STATUS_ACTIVE;
        const store::ItemRecord& added = list.append(std::move(rec));
        if ((added.status & store::STATUS_BAD) != 0) {
            ++run.bad_links;
        } else if ((added.kind & store::KIND_ADDRESS) != 0) {
            ++counts.addresses;
        } else if ((added.status & store::STATUS_VISITED) == 0) {
            ++store.total_links;
        }
        if ((added.status & store::STATUS_VISITED) != 0) ++run.visited_links;
        if (++counts.records % kLoadProgressStep == 0 && progress != nullptr) {
            progress->show_load_counts(store.total_links, run.bad_links, counts.addresses);
        }
    }
    return seen;
}

}  // namespace

std::string project_lock_name(std::string_view path) {
    return store::companion_base(path) + std::string(kLockExtension);
}

std::string project_text(const harvest::SearchTexts& search, const exchange::ItemFilter& filter,
                         const ProjectValues& values, const store::Store& store,
                         const store::ItemList& engines) {
    std::string out;
    out.reserve(512);
    append_line(out,
                "OWNER=", std::string(kProjectOwner) + " " + std::to_string(kProjectOwnerRevision));
    append_text(out, "URL=", search.starting_url);
    append_text(out, "CRAWL=", search.crawl_keywords);
    append_text(out, "EXTRACT=", search.extract_keywords);
    append_text(out, "EMAIL=", search.sought_addresses);
    append_text(out, "NAME=", search.person_name);
    append_filter(out, "DOMAIN=", filter.domains);
    append_filter(out, "INCLUDE=", filter.must_contain);
    append_filter(out, "EXCLUDE=", filter.must_not_contain);
    append_text(out, "LAST_EXPORT=", values.last_export);
    append_text(out, "LAST_IMPORT=", values.last_import);
    append_line(out, "COUNT=", std::to_string(store.total_addresses));
    append_line(out, "START=", std::to_string(search.crawl_scope));
    append_line(out, "BODY=", "");
    for (const store::ItemRecord* at = engines.head(); at != nullptr; at = at->next.get()) {
        if (at->selected == 0) continue;
        append_line(out, "E_POS=", std::to_string(static_cast<int32_t>(at->engine_id)));
    }
    return out;
}

int save_project(const std::string& path, const harvest::SearchTexts& search,
                 const exchange::ItemFilter& filter, const ProjectValues& values,
                 const store::Store& store, const store::ItemList& engines,
                 platform::Shell& shell) {
    // The new file is complete before it replaces the old one: a failure on the way (disk full,
    // no permission) leaves the previous project readable.
    if (!base::replace_file(path, project_text(search, filter, values, store, engines))) {
        const int error = errno;
        shell.report_error(std::string(kWriteProjectFailedMessage) + " '" + path + "': " +
                           std::strerror(error));
        return 0;
    }
    return 1;
}

void clear_project_state(store::ItemLists& lists, store::Store& store, harvest::RunState& run) {
    lists.links.clear();
    lists.addresses.clear();
    store.total_links = 0;
    store.total_addresses = 0;
    store.unvisited_when_closed = 0;
    run.bad_links = 0;
    run.visited_links = 0;
}

int load_project(Context& ctx, const std::string& path, bool import_only,
                 LoadProgress* progress) {
    const exchange::ItemFilter& filter = ctx.filter;
    store::Store& store = ctx.store;
    store::ItemLists& lists = ctx.lists;
    harvest::RunState& run = ctx.run;
    const int32_t maxlist = ctx.settings.maxlist;
    if (!import_only) {
        clear_project_state(lists, store, run);
        if (!read_project_file(path, ProjectTargets{ctx.search, ctx.filter, ctx.values,
                                                    ctx.engines.list, store, ctx.settings.sort})) {
            return 0;
        }
    }
    // The links file is read again from disk below; a failure to write what it buffered is
    // told by the store when it is next used.
    (void)store.links.close();
    // Nodes the open addresses file still buffers must be on disk before it is read again
    // through a handle of its own.
    if (store.addresses.is_open()) (void)store.addresses.flush();

    LoadCounts counts;
    const std::string addresses_path = store::addresses_file_name(path);
    const std::string links_path = store::links_file_name(path);
    const FileRead addresses_read =
        load_companion(addresses_path, exchange::ListKind::Addresses, import_only, filter,
                       maxlist, store, lists.addresses, run, counts, progress);
    const FileRead links_read = load_companion(links_path, exchange::ListKind::Links, import_only,
                                               filter, maxlist, store, lists.links, run, counts,
                                               progress);
    if (import_only) {
        store.total_addresses = std::max(store.total_addresses, counts.addresses);
        return 1;
    }
    // The project's figures are what its files hold, however many records the lists took and
    // whatever COUNT= says (a run that was killed may have saved a count it never wrote). A
    // file read whole was counted on the way.
    take_stored_figures(links_read.whole ? links_read.counts : store::stored_counts(links_path),
                        addresses_read.whole ? addresses_read.counts
                                             : store::stored_counts(addresses_path),
                        store, run);
    return 1;
}

void take_stored_figures(const store::StoredCounts& links, const store::StoredCounts& addresses,
                         store::Store& store, harvest::RunState& run) {
    store.total_links = links.records;
    store.unvisited_when_closed = links.unvisited;
    run.visited_links = links.records - links.unvisited;
    store.total_addresses = addresses.records;
}

}  // namespace tarnvelox::app
