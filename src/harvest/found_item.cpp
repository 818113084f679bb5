#include "harvest/found_item.h"

#include <array>

#include "base/text_util.h"
#include "harvest/crawl_scope.h"
#include "harvest/import_intake.h"
#include "harvest/list_rows.h"
#include "harvest/page_text.h"

namespace tarnvelox::harvest {

namespace {

using base::find_nocase;
using base::kNotFound;

constexpr std::string_view kMailto = "mailto:";
// Characters skipped at the start of a link title: punctuation left over from the markup.
constexpr std::string_view kTitleLeadIn = ".,:;-_\"'";
// File names such as "logo@2x.png" in styles and scripts look like addresses; an address never
// ends in one of these extensions.
constexpr std::array<std::string_view, 9> kWebFileExtensions = {"png",  "jpg", "jpeg", "gif", "svg",
                                                                "webp", "ico", "css",  "js"};

bool is_ascii_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Letters, digits, "_", "-", "~" and ".". The comma is not one: "a@x.com,b@y.com" is a list.
bool is_address_char(char c) {
    return is_ascii_alnum(c) || c == '_' || c == '-' || c == '~' || c == '.';
}

// "+" and "=" are no address characters, but standing between two they join one local part:
// "hana+bugs@x.org" names the mailbox "hana+bugs", never "bugs".
bool joins_local_part(char c) { return c == '+' || c == '='; }

constexpr std::size_t kNoEquals = std::string_view::npos;

bool equals_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && find_nocase(a, b) == 0;
}

void trim_blanks(std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(0, first);
    text.erase(text.find_last_not_of(' ') + 1);
}

void cut_at(std::string& text, char c) {
    const std::size_t at = text.find(c);
    if (at != std::string::npos) text.resize(at);
}

// A page link needs "//", a dot after it, a "/" after the host, and its first dot before
// that "/": the host must be a dotted name.
bool well_formed_page_link(std::string_view url) {
    const std::size_t scheme = url.find("//");
    if (scheme == std::string_view::npos) return false;
    if (url.find('.', scheme + 2) == std::string_view::npos) return false;
    const std::size_t host_end = url.find('/', scheme + 2);
    return host_end != std::string_view::npos && url.find('.') < host_end;
}

// Offers a stored record to its in-memory list. During an import the list takes records only
// while its rows plus the items stored since the last page start stay within maxlist, and no
// row is shown (the views are rebuilt when the import ends).
bool joins_list(const HarvestEnv& env, const store::ItemList& list, int32_t found_on_page) {
    if (env.maxlist == 0) return false;
    if (!env.run.import_in_progress) return true;
    return list.row_count + found_on_page <= env.maxlist;
}

// The running import's intake, or null outside an import.
ImportIntake* import_intake(const HarvestEnv& env) {
    return env.run.import_in_progress ? env.run.import_intake : nullptr;
}

}  // namespace

std::size_t recognise_address_at(HarvestEnv& env, int slot, const store::ItemRecord* page,
                                 std::string_view text, std::size_t at, PageEnd text_end) {
    // No NUL search here: the walks stop at any byte that is not an address character, and
    // scanning the page for one on every "@" would make a page of "@"s quadratic.
    if (at >= text.size()) return text.size();
    std::size_t start = at;
    std::size_t after_equals = kNoEquals;  // just after the first "=" the walk went past
    for (;;) {
        while (start > 0 && is_address_char(text[start - 1])) --start;
        if (start < 2 || start == at || !joins_local_part(text[start - 1]) ||
            !is_address_char(text[start - 2])) {
            break;
        }
        if (text[start - 1] == '=' && after_equals == kNoEquals) after_equals = start;
        --start;
    }
    // "?email=jo@x.org" and "&to=jo@x.org" are a query's name and value: the address is the
    // value alone.
    if (after_equals != kNoEquals && start > 0 &&
        (text[start - 1] == '?' || text[start - 1] == '&')) {
        start = after_equals;
    }
    if (start == 0 && at > 0 && !is_ascii_alnum(text[0])) start = 1;
    std::size_t end = at + 1;
    while (end < text.size() && is_address_char(text[end])) ++end;
    if (end == text.size() && text_end == PageEnd::Cut) return end;

    // An address never starts or ends with a full stop: one that ends a sentence is not part
    // of it.
    std::size_t first = start;
    std::size_t last = end;
    while (first < at && text[first] == '.') ++first;
    while (last > at + 1 && text[last - 1] == '.') --last;
    record_text_address(env, slot, page, text.substr(first, last - first));
    return end;
}

bool acceptable_address(std::string_view candidate, std::size_t at_in_candidate) {
    if (at_in_candidate == 0) return false;  // nothing before the "@"
    const std::string_view domain = candidate.substr(at_in_candidate + 1);
    const std::size_t last_dot = domain.rfind('.');
    if (domain.empty() || last_dot == std::string_view::npos) return false;
    const std::string_view extension = domain.substr(last_dot + 1);
    for (std::string_view web : kWebFileExtensions) {
        if (equals_nocase(extension, web)) return false;
    }
    return true;
}

int record_text_address(HarvestEnv& env, int slot, const store::ItemRecord* page,
                        std::string_view candidate) {
    const std::size_t at = candidate.find('@');
    if (at == std::string_view::npos || candidate.find('@', at + 1) != std::string_view::npos ||
        !acceptable_address(candidate, at)) {
        return 0;
    }
    std::string url(kMailto);
    url.append(candidate);
    return record_found_item(env, slot, page, std::move(url), std::nullopt, store::KIND_ADDRESS, 0);
}

int record_found_item(HarvestEnv& env, int slot, const store::ItemRecord* page, std::string url,
                      std::optional<std::string> text, uint32_t kind, int32_t status) {
    (void)slot;  // the item's page record is passed directly
    std::optional<std::string> key = found_item_key(env, page, std::move(url), kind);
    if (!key) return 0;
    return store_found_item(env, page, std::move(*key), std::move(text), kind, status);
}

std::optional<std::string> found_item_key(HarvestEnv& env, const store::ItemRecord* page,
                                          std::string url, uint32_t kind) {
    if (!env.store.links.is_open() || !env.store.addresses.is_open()) {
        if (!store::open_store(env.store)) return std::nullopt;
    }
    if (env.run.stop_requested != 0) return std::nullopt;

    // Fragment and query are never stored.
    url.resize(base::c_text(url).size());
    cut_at(url, '#');
    cut_at(url, '?');
    if (url.size() > kMaxKeyLength) return std::nullopt;

    if (page != nullptr && (page->kind & store::KIND_VENDOR) != 0) return std::nullopt;
    const bool is_address = (kind & store::KIND_ADDRESS) != 0;
    if (is_address && url.find('@') == std::string::npos) return std::nullopt;
    trim_blanks(url);
    if (env.run.search_mode == kWebSearch && find_nocase(url, kSampleAddress) != kNotFound) {
        return std::nullopt;
    }
    if ((kind & store::KIND_PAGE) != 0) {
        base::replace_first(url, "HTTP:", "http:");
        if (!scope_admits(env.search, url)) return std::nullopt;
        if (!well_formed_page_link(url)) return std::nullopt;
    }
    base::replace_first(url, "/ http://", "/");
    if (is_address) {
        for (char& c : url) c = base::to_lower(c);
        while (base::replace_first(url, "mailto: ", "mailto:") != kNotFound) {
        }
    }

    ImportIntake* intake = import_intake(env);
    if (intake != nullptr && intake->admits) {
        std::string_view text = url;
        if (is_address && text.starts_with(kMailto)) text.remove_prefix(kMailto.size());
        if (!intake->admits(text)) {
            ++intake->tally.filtered;
            return std::nullopt;
        }
    }

    // The store refuses a key it holds anyway; asking it first spares the title and the record
    // for the common case of a crawl, where most links found are known already. Merging an
    // import must see the duplicates itself.
    const bool merging =
        is_address && env.run.import_in_progress && env.run.merge_mode != kAddUniqueSkipDuplicates;
    const store::TreeFile file = is_address ? store::TreeFile::Addresses : store::TreeFile::Links;
    if (!merging && env.store.file(file).stored(url)) {
        if (intake != nullptr) ++intake->tally.duplicates;
        return std::nullopt;
    }
    return url;
}

int store_found_item(HarvestEnv& env, const store::ItemRecord* page, std::string url,
                     std::optional<std::string> text, uint32_t kind, int32_t status,
                     TitleText form) {
    const bool is_address = (kind & store::KIND_ADDRESS) != 0;
    store::RecordPtr rec = store::clear_record();
    if (is_address) {
        std::string bare = url;
        base::replace_first_nocase(bare, kMailto, "");
        trim_blanks(bare);
        rec->title = std::move(bare);
    } else {
        std::string title(text ? base::c_text(*text) : kNoTitle);
        if (text && form == TitleText::Markup) {
            strip_markup(title);
            if (title.size() > kMaxTitle) title.resize(kMaxTitle);
        }
        trim_blanks(title);
        std::size_t lead = 0;
        while (lead < title.size() &&
               (base::is_space(title[lead]) || kTitleLeadIn.find(title[lead]) != kNotFound)) {
            ++lead;
        }
        title.erase(0, lead);
        if (title.size() > kWorkBuffer) title.resize(kWorkBuffer);
        rec->title = title.empty() ? std::string(kNoTitle) : std::move(title);
    }
    rec->url = std::move(url);
    rec->kind = kind;
    rec->status = status;
    if (page != nullptr) rec->source = page->url;

    if (!is_address) {
        const int32_t offset = store::tree_insert(env.store, store::TreeFile::Links, *rec);
        if (offset < 0) return 0;
        rec->file_offset = offset;
        if (ImportIntake* intake = import_intake(env)) ++intake->tally.links;
        if (joins_list(env, env.lists.links, env.run.links_found_on_page)) {
            store::ItemRecord& listed = env.lists.links.append(std::move(rec));
            if (!env.run.import_in_progress) {
                harvest::add_link_row(env.lists.links, env.shell, env.maxlist, listed);
            }
        }
        ++env.run.links_found_on_page;
        ++env.store.total_links;
        return 1;
    }

    ImportIntake* intake = import_intake(env);
    const bool merging =
        env.run.import_in_progress && env.run.merge_mode != kAddUniqueSkipDuplicates;
    if (merging) {
        // An address the import has stored or deleted already is met again in the same file:
        // the project held it before the import only when the import deleted it, and either way
        // there is nothing more to do.
        if (intake != nullptr && intake->merged.contains(*rec->url)) {
            ++intake->tally.duplicates;
            return 0;
        }
        const int32_t existing = store::tree_find(env.store, store::TreeFile::Addresses, *rec);
        if (existing >= 0) {
            // A failed delete has told the person ("Delete failed"); the import goes on.
            if (store::tree_delete(env.store, store::TreeFile::Addresses, existing) != 0 &&
                intake != nullptr) {
                intake->merged.insert(*rec->url);
                ++intake->tally.deleted;
            }
            return 0;
        }
        if (env.run.merge_mode == kDeleteDuplicates) return 0;
    }
    const int32_t offset = store::tree_insert(env.store, store::TreeFile::Addresses, *rec);
    if (offset < 0) return 0;
    rec->file_offset = offset;
    if (intake != nullptr) {
        ++intake->tally.addresses;
        if (merging) intake->merged.insert(*rec->url);
    }
    if (joins_list(env, env.lists.addresses, env.run.addresses_found_on_page)) {
        store::ItemRecord& listed = env.lists.addresses.append(std::move(rec));
        if (!env.run.import_in_progress) {
            harvest::add_address_row(env.lists.addresses, env.shell, listed);
        }
    }
    ++env.run.addresses_found_on_page;  // the store counted the address
    return 1;
}

}  // namespace tarnvelox::harvest
