#include "net/http_text.h"

#include <algorithm>

#include "base/text_util.h"

namespace tarnvelox::net {

std::optional<std::string_view> body_of(std::string_view response) {
    const std::size_t end = response.find(kHeaderEnd);
    if (end == std::string_view::npos) return std::nullopt;
    return response.substr(end + kHeaderEnd.size());
}

std::optional<std::string> header_value(std::string_view headers, std::string_view name,
                                        std::size_t skip) {
    const std::size_t at = base::find_nocase(headers, name);
    if (at == base::kNotFound) return std::nullopt;
    const std::string_view rest = headers.substr(std::min(at + skip, headers.size()));
    // The record line keeps at most 30 characters of it; a hostile 2 MB value is not kept whole.
    return std::string(rest.substr(0, std::min(rest.find('\r'), kMaxHeaderValue)));
}

}  // namespace tarnvelox::net
