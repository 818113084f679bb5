#pragma once

// Reading the parts of an HTTP response that response handling and the download need: where
// the header ends, the body, and one header's value.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvelox::net {

inline constexpr std::string_view kHeaderEnd = "\r\n\r\n";
inline constexpr std::size_t kMaxHeaderValue = 2047;  // a working buffer less its terminator

// The body: everything after the first blank line; none without one.
[[nodiscard]] std::optional<std::string_view> body_of(std::string_view response);

// A header value: from `skip` characters after the header name's start (found without regard
// to case) up to the next CR, at most kMaxHeaderValue characters; none without the name.
[[nodiscard]] std::optional<std::string> header_value(std::string_view headers,
                                                      std::string_view name, std::size_t skip);

}  // namespace tarnvelox::net
