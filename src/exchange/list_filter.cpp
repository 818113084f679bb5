#include "exchange/list_filter.h"

#include <algorithm>

#include "base/text_util.h"
#include "harvest/page_text.h"
#include "harvest/wildcard.h"

namespace tarnvelox::exchange {

using harvest::find_nocase_linear;
using harvest::wildcard_match;

using base::c_text;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The "Must Contain" reading of a filter text: a wildcard pattern when it has "*" or "?",
// otherwise a substring.
bool filter_hits(std::string_view text, std::string_view filter) {
    if (filter.find_first_of("*?") != kNone) return wildcard_match(text, filter);
    return find_nocase_linear(text, filter) != kNone;
}

}  // namespace

bool passes_item_filter(const store::ItemRecord& rec, ListKind list, const ItemFilter& filter) {
    const store::OptText& text = list == ListKind::Addresses ? rec.title : rec.url;
    // An absent text is filtered as "" (a view that points somewhere, as memchr requires).
    return passes_text_filter(text ? std::string_view(*text) : std::string_view(""), filter);
}

bool passes_text_filter(std::string_view text, const ItemFilter& filter) {
    text = c_text(text);
    const std::string_view domains = c_text(filter.domains);
    const std::string_view must = c_text(filter.must_contain);
    const std::string_view must_not = c_text(filter.must_not_contain);
    if (!domains.empty() && !domain_allowed(text, domains)) return false;
    if (!must.empty() && !filter_hits(text, must)) return false;
    if (!must_not.empty() && filter_hits(text, must_not)) return false;
    return true;
}

bool domain_allowed(std::string_view text, std::string_view domain_list) {
    text = c_text(text);
    domain_list = c_text(domain_list);
    if (domain_list.empty()) return true;

    const std::size_t separator = text.find("//");
    std::string_view host = separator == kNone ? text : text.substr(separator + 2);
    for (const char stop : {'?', '#', '/', ':'}) host = host.substr(0, host.find(stop));

    const std::size_t dot = host.rfind('.');
    if (dot == kNone) return false;
    const std::string_view label = host.substr(dot + 1);
    if (!label.empty() && label.front() >= '0' && label.front() <= '9') return true;

    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = domain_list.find(',', pos);
        if (base::equal_nocase(domain_list.substr(pos, comma - pos), label)) return true;
        if (comma == kNone) return false;
        pos = comma + 1;
    }
}

}  // namespace tarnvelox::exchange
