#include "store/host_table.h"

#include "base/text_util.h"

namespace tarnvelox::store {

namespace {

std::string lower_case(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = base::to_lower(c);
    return out;
}

}  // namespace

std::string_view link_host(std::string_view url) {
    const std::size_t scheme = url.find("//");
    if (scheme == std::string_view::npos) return {};
    const std::string_view rest = url.substr(scheme + 2);
    return rest.substr(0, rest.find('/'));
}

uint32_t HostTable::intern(std::string_view url) {
    const auto [it, added] = ids_.try_emplace(lower_case(link_host(url)), 0);
    if (added) it->second = static_cast<uint32_t>(ids_.size() - 1);
    return it->second;
}

uint32_t HostTable::id(std::string_view host) const {
    const auto it = ids_.find(lower_case(host));
    return it == ids_.end() ? unknown_ : it->second;
}

}  // namespace tarnvelox::store
