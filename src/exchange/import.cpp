#include "exchange/import.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "base/text_util.h"
#include "exchange/export.h"
#include "harvest/crawl_scope.h"
#include "harvest/found_item.h"
#include "harvest/page_scanner.h"
#include "store/link_file_reader.h"
#include "store/store.h"

namespace tarnvelox::exchange {

namespace {

using base::find_nocase;
using base::kNotFound;

constexpr std::string_view kMailto = "mailto:";
constexpr std::string_view kFileScheme = "file://";
// Import files are read in blocks of this size and cut into pieces of kImportPiece.
constexpr std::size_t kReadBlock = 64 * 1024;

// Calls `take(piece)` for each line of `file` (without its line feed), a line longer than
// kImportPiece bytes as several pieces of at most that many bytes.
template <typename Take>
void for_each_piece(std::FILE* file, Take&& take) {
    std::vector<char> block(kReadBlock);
    std::string piece;
    piece.reserve(kImportPiece);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            const char c = block[i];
            if (c == '\n') {
                take(std::string_view(piece));
                piece.clear();
                continue;
            }
            piece.push_back(c);
            if (piece.size() == kImportPiece) {
                take(std::string_view(piece));
                piece.clear();
            }
        }
    }
    if (!piece.empty()) take(std::string_view(piece));
}

// The four characters export writes as entities, decoded in one pass: "&amp;lt;" is "&lt;".
std::string decode_entities(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool decoded = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                if (text.substr(i, entity.size()) == entity) {
                    out.push_back(c);
                    i += entity.size() - 1;
                    decoded = true;
                    break;
                }
            }
        }
        if (!decoded) out.push_back(text[i]);
    }
    return out;
}

std::size_t skip_spaces(std::string_view text, std::size_t p) {
    while (p < text.size() && base::is_space(text[p])) ++p;
    return p;
}

bool starts_with_nocase(std::string_view text, std::size_t p, std::string_view word) {
    return p <= text.size() && base::equal_nocase(text.substr(p, word.size()), word);
}

// One anchor's value and text, as read from the line (entities not yet decoded).
struct Anchor {
    std::string_view value;
    std::string_view text;
};

// Calls `take(anchor)` for each "<A HREF=...>" of `line`, left to right.
template <typename Take>
void for_each_anchor(std::string_view line, Take&& take) {
    std::size_t from = 0;
    while ((from = find_nocase(line, "<A ", from)) != kNotFound) {
        std::size_t p = skip_spaces(line, from + 3);
        from = p;
        if (!starts_with_nocase(line, p, "HREF")) continue;
        p = skip_spaces(line, p + 4);
        from = p;
        if (p >= line.size() || line[p] != '=') continue;
        p = skip_spaces(line, p + 1);
        Anchor anchor;
        std::size_t value_end;
        if (p < line.size() && line[p] == '"') {
            const std::size_t close = line.find('"', p + 1);
            anchor.value = line.substr(p + 1, close == kNotFound ? kNotFound : close - p - 1);
            // An unterminated quote runs to the end of the line: the anchor has no ">" after
            // its value and is passed over, rather than stored with the rest of the line.
            value_end = close == kNotFound ? line.size() : close + 1;
        } else {
            std::string_view value = line.substr(p, line.find('>', p) - p);
            std::size_t blank = 0;
            while (blank < value.size() && !base::is_space(value[blank])) ++blank;
            anchor.value = value.substr(0, blank);
            value_end = p + anchor.value.size();
        }
        const std::size_t gt = line.find('>', value_end);
        if (gt == kNotFound) return;
        const std::size_t lt = line.find('<', gt + 1);
        anchor.text = line.substr(gt + 1, lt == kNotFound ? kNotFound : lt - gt - 1);
        take(anchor);
        from = gt + 1;
    }
}

// A line of an anchor file as the anchors see it: up to a NUL byte, without a carriage return
// before its line feed.
std::string_view anchor_line(std::string_view piece) {
    piece = base::c_text(piece);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    return piece;
}

// The values an import changes for its duration, put back when it ends (also on early
// returns).
class ImportPass {
  public:
    ImportPass(harvest::HarvestEnv& env, const ImportRequest& request,
               harvest::ImportIntake& intake)
        : env_(env),
          run_(env.run),
          search_(env.search),
          stop_requested_(run_.stop_requested),
          search_mode_(run_.search_mode),
          modern_reader_(run_.modern_reader),
          merge_mode_(run_.merge_mode),
          import_in_progress_(run_.import_in_progress),
          import_intake_(run_.import_intake),
          links_found_(run_.links_found_on_page),
          addresses_found_(run_.addresses_found_on_page),
          crawl_scope_(search_.crawl_scope),
          scope_base_(std::move(search_.scope_base)),
          crawl_list_(std::move(search_.crawl_list)),
          extract_list_(std::move(search_.extract_list)) {
        run_.stop_requested = 0;
        run_.search_mode = harvest::kHarvest;
        run_.modern_reader = request.modern_reader;
        run_.merge_mode = request.merge_mode;
        run_.import_in_progress = true;
        run_.import_intake = &intake;
        search_.crawl_scope = harvest::kScopeNoLimit;
        search_.scope_base.reset();
        harvest::parse_keyword_list(search_.crawl_list, search_.crawl_keywords);
        harvest::parse_keyword_list(search_.extract_list, search_.extract_keywords);
        env_.lists.links.find_tail();
        env_.lists.addresses.find_tail();
    }
    ~ImportPass() {
        run_.stop_requested = stop_requested_;
        run_.search_mode = search_mode_;
        run_.modern_reader = modern_reader_;
        run_.merge_mode = merge_mode_;
        run_.import_in_progress = import_in_progress_;
        run_.import_intake = import_intake_;
        run_.links_found_on_page = links_found_;
        run_.addresses_found_on_page = addresses_found_;
        search_.crawl_scope = crawl_scope_;
        search_.scope_base = std::move(scope_base_);
        search_.crawl_list = std::move(crawl_list_);
        search_.extract_list = std::move(extract_list_);
    }
    ImportPass(const ImportPass&) = delete;
    ImportPass& operator=(const ImportPass&) = delete;

  private:
    harvest::HarvestEnv& env_;
    harvest::RunState& run_;
    harvest::SearchTexts& search_;
    const int32_t stop_requested_;
    const int32_t search_mode_;
    const bool modern_reader_;
    const int32_t merge_mode_;
    const bool import_in_progress_;
    harvest::ImportIntake* const import_intake_;
    const int32_t links_found_;
    const int32_t addresses_found_;
    const int32_t crawl_scope_;
    std::optional<std::string> scope_base_;
    harvest::KeywordList crawl_list_;
    harvest::KeywordList extract_list_;
};

// Each item of types 1 to 3 is a page of its own for the lists' share of the display maximum.
void start_item(harvest::HarvestEnv& env) {
    env.run.links_found_on_page = 0;
    env.run.addresses_found_on_page = 0;
}

void import_anchor(harvest::HarvestEnv& env, const store::ItemRecord& source, int type,
                   const Anchor& anchor) {
    std::string item = decode_entities(anchor.value);
    start_item(env);
    if (type == kImportAddressBook) {
        if (find_nocase(item, kMailto) == kNotFound) item.insert(0, kMailto);
        (void)harvest::record_found_item(env, 0, &source, std::move(item), std::nullopt,
                                         store::KIND_ADDRESS, 0);
        return;
    }
    if (find_nocase(item, "ftp:") != kNotFound || find_nocase(item, "file:") != kNotFound) return;
    std::optional<std::string> key =
        harvest::found_item_key(env, &source, std::move(item), store::KIND_PAGE);
    if (!key) return;
    std::string title = decode_entities(anchor.text);
    if (title.size() > kImportedTitleWidth) title.resize(kImportedTitleWidth);
    (void)harvest::store_found_item(env, &source, std::move(*key), std::move(title),
                                    store::KIND_PAGE, 0, harvest::TitleText::Plain);
}

// Type 3: every record of one of the other project's files. False when it cannot be opened.
bool import_tree_file(harvest::HarvestEnv& env, const store::ItemRecord& source,
                      const std::string& path, uint32_t kind) {
    store::LinkFileReader file;
    if (!file.open(path)) return false;
    while (store::RecordPtr rec = file.next()) {
        if (!rec->url) continue;
        start_item(env);
        std::optional<std::string> key = harvest::found_item_key(env, &source, *rec->url, kind);
        if (!key) continue;
        // No connection of this program holds the link, whatever the other project's run did.
        const int32_t status = rec->status & ~store::STATUS_ACTIVE;
        std::optional<std::string> title;
        if (kind == store::KIND_PAGE) title = std::move(rec->title);
        if (harvest::store_found_item(env, &source, std::move(*key), std::move(title), kind,
                                      status, harvest::TitleText::Plain) == 0 ||
            kind != store::KIND_PAGE) {
            continue;
        }
        // The project's figures count the imported links as loading counts stored ones.
        if ((status & store::STATUS_BAD) != 0) ++env.run.bad_links;
        if ((status & store::STATUS_VISITED) != 0) ++env.run.visited_links;
    }
    return true;
}

bool import_project(harvest::HarvestEnv& env, const store::ItemRecord& source,
                    const std::string& path) {
    // The other project may be this one: what the store keeps back must be readable first.
    (void)store::put_on_disk(env.store);
    const bool addresses = import_tree_file(env, source, store::addresses_file_name(path),
                                            store::KIND_ADDRESS);
    const bool links =
        import_tree_file(env, source, store::links_file_name(path), store::KIND_PAGE);
    return addresses || links;
}

bool import_lines(harvest::HarvestEnv& env, store::ItemRecord& source, const std::string& path,
                  int type) {
    std::FILE* file = base::fopen_regular(path);
    if (file == nullptr) return false;
    if (type == kImportText) {
        for_each_piece(file, [&](std::string_view piece) {
            if (harvest::scan_page(env, 0, &source, piece) > 0) env.shell.refresh_status_counters();
        });
    } else {
        for_each_piece(file, [&](std::string_view piece) {
            for_each_anchor(anchor_line(piece), [&](const Anchor& anchor) {
                import_anchor(env, source, type, anchor);
            });
        });
    }
    std::fclose(file);
    return true;
}

std::string count_text(int32_t n, std::string_view one, std::string_view many) {
    return base::number_text(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace

ImportResult import_file(harvest::HarvestEnv& env, const ImportRequest& request,
                         const ItemFilter& filter) {
    ImportResult result;
    if (env.run.harvest_running != 0) {
        result.outcome = ImportOutcome::HarvestRunning;
        return result;
    }
    if (request.type < kImportAddressBook || request.type > kImportText ||
        request.merge_mode < kMergeAddUnique || request.merge_mode > kMergeDeleteOnly) {
        result.outcome = ImportOutcome::UnknownType;
        return result;
    }
    if (!store::open_store(env.store)) {
        env.shell.report_error(kStoreOpenFailedMessage);
        result.outcome = ImportOutcome::StoreUnusable;
        return result;
    }

    // The import's own page record: imported items name the file as their source.
    store::ItemRecord source;
    source.url = std::string(kFileScheme) + request.path;
    source.title = source.url;

    harvest::ImportIntake intake;
    const bool filtering = !filter.domains.empty() || !filter.must_contain.empty() ||
                           !filter.must_not_contain.empty();
    if (filtering) {
        intake.admits = [&filter](std::string_view text) {
            return passes_text_filter(text, filter);
        };
    }
    bool read = false;
    {
        const ImportPass pass(env, request, intake);
        read = request.type == kImportProject
                   ? import_project(env, source, request.path)
                   : import_lines(env, source, request.path, request.type);
    }
    result.tally = intake.tally;
    result.lists_stale = intake.tally.deleted > 0;
    if (!read) {
        env.shell.report_error(kImportOpenFailedMessage);
        result.outcome = ImportOutcome::Unreadable;
        return result;
    }
    // What was imported is on the disk for good before the import says it is done: the store
    // keeps new nodes back until a commit, and no harvest runs to make one.
    if (!store::put_on_disk(env.store)) result.outcome = ImportOutcome::StoreUnusable;
    env.shell.refresh_status_counters();
    return result;
}

void reload_lists(harvest::HarvestEnv& env) {
    store::Store& st = env.store;
    if (!store::open_store(st)) return;
    env.shell.views_cleared();
    env.lists.links.clear();
    env.lists.addresses.clear();
    const std::pair<store::TreeFile, store::ItemList*> kFiles[] = {
        {store::TreeFile::Addresses, &env.lists.addresses},
        {store::TreeFile::Links, &env.lists.links},
    };
    for (const auto& [which, list] : kFiles) {
        st.read_position = 0;
        for (int32_t n = 0; n < env.maxlist; ++n) {
            store::RecordPtr rec = store::read_next_link(st, which);
            if (!rec) break;
            rec->status &= ~store::STATUS_ACTIVE;
            list->append(std::move(rec));
        }
    }
    st.read_position = 0;
}

std::string import_result_text(const ImportResult& result) {
    const harvest::ImportTally& t = result.tally;
    std::string text = count_text(t.addresses, "address", "addresses") + " and " +
                       count_text(t.links, "link", "links") + " imported, " +
                       base::number_text(t.duplicates) + " refused as duplicates, " +
                       base::number_text(t.filtered) + " filtered out";
    if (t.deleted > 0) text += ", " + count_text(t.deleted, "address", "addresses") + " deleted";
    return text;
}

}  // namespace tarnvelox::exchange
