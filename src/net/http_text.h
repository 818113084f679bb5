#pragma once

// Reading the parts of an HTTP response that response handling and the download need: where
// the header ends, the body, and one header's value; and, for the robots.txt rules, the status
// code and the wait a "Retry-After" header asks for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvelox::net {

inline constexpr std::string_view kHeaderEnd = "\r\n\r\n";
inline constexpr std::size_t kMaxHeaderValue = 2047;  // a working buffer less its terminator

// The body: everything after the first blank line; none without one.
[[nodiscard]] std::optional<std::string_view> body_of(std::string_view response);

// A response taken apart at the first empty line, whether its lines end in CR LF or in a bare
// LF: `headers` is the text before that line's end (its last line's CR included), `body` the
// text after the empty line.
struct ResponseParts {
    std::string_view headers;
    std::string_view body;
};
// None when no empty line ends the header. Only the robots.txt rules read a response so: a
// page's body is body_of's, as it always was.
[[nodiscard]] std::optional<ResponseParts> split_response(std::string_view response);

// The "Content-Length" header line's value, when it is a number of at most 18 digits
// (blanks around it allowed); none otherwise.
[[nodiscard]] std::optional<int64_t> content_length(std::string_view headers);

// How many bytes of the body its header announced did not come: the Content-Length less the
// body received, when the header ended and names a length the body falls short of; 0 otherwise
// (no Content-Length: the end of the connection ends the body). A status that never has a body
// (1xx, 204, 304) announces none.
[[nodiscard]] int64_t body_bytes_missing(std::string_view response);

// A header value: from `skip` characters after the header name's start (found without regard
// to case) up to the next CR, at most kMaxHeaderValue characters; none without the name.
[[nodiscard]] std::optional<std::string> header_value(std::string_view headers,
                                                      std::string_view name, std::size_t skip);

// The status code of a response that begins "HTTP/<digits>.<digits> " and three digits; -1 for
// anything else.
[[nodiscard]] int http_status_code(std::string_view response);

// The value of the first header line of `headers` whose name is `name` (without its ":",
// compared without regard to case), blanks around it removed; none without such a line. Only
// whole lines count: a name inside another header's value is not one.
[[nodiscard]] std::optional<std::string_view> header_line(std::string_view headers,
                                                          std::string_view name);

// Seconds since 1970 (UTC) of an HTTP date in any of its three forms ("Sun, 06 Nov 1994
// 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"); none when the
// text is not one. Two-digit years below 70 are of this century.
[[nodiscard]] std::optional<int64_t> parse_http_date(std::string_view text);

// The wait in seconds that the "Retry-After" header of `headers` asks for: its number of
// seconds, or its date less the response's own "Date" (less `now`, seconds since 1970, when the
// response has none); a date in the past is no wait. None when there is no such header or its
// value is neither.
[[nodiscard]] std::optional<int64_t> retry_after_seconds(std::string_view headers, int64_t now);

}  // namespace tarnvelox::net
