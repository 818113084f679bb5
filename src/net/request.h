#pragma once

// Composing the bytes of one HTTP/1.0 request for a connection slot: expanding the person-name
// and form placeholders of an item's URL, building the page (GET) or form (POST) request text,
// and choosing where to connect (the URL's server or the proxy, the port, TLS or not).
// Pure functions over texts; arguments are borrowed for the duration of the call only. Inputs
// may be arbitrary bytes (URLs come from web pages): a NUL byte ends a text, as a
// zero-terminated reader would see it, and nothing is read outside the texts given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/item_record.h"

namespace tarnvelox::net {

// Longest expanded URL, form header block and body included: the 2048-byte working buffer of
// a request less its terminator. Longer expansions are refused, never cut.
inline constexpr std::size_t kMaxExpandedUrl = 2047;
// Longest encoded form value: the 2048-byte buffer the caller hands to the encoder, less its
// terminator.
inline constexpr std::size_t kMaxFormValue = 2047;

inline constexpr int32_t kHttpPort = 80;
inline constexpr int32_t kHttpsPort = 443;
inline constexpr int32_t kMaxPort = 65535;  // the TCP port field is 16 bits

// The settings that shape a request.
struct RequestOptions {
    std::string proxy;    // proxy host name or dotted address; empty: no proxy
    int32_t port = 8080;  // proxy port, used only with a proxy
    int32_t cache = 0;    // 1: send "Pragma: no-cache" so that caching proxies pass the request on
};

enum class ExpandError {
    None,     // `url` holds the text to request
    Empty,    // the item has no URL text: there is nothing to request
    TooLong,  // a step of the expansion would pass kMaxExpandedUrl: the item is refused
};

struct Expansion {
    ExpandError error = ExpandError::None;
    std::string url;  // the expanded text; empty unless `error` is None
};

// Expands the placeholders of `item.url` in this order, each occurrence of the first three
// (exact case) replaced, the text searched again from its start until none is left:
// "$FIRST" (the name up to its first blank), "$SURNAME" (the name after its last blank, leading
// white space skipped), "$NAME" (the whole name), each encoded with encode_form_value's rules;
// then every "$DOMAIN" removed; then the first "$HTTP" (exact case) becomes the form header
// block ("HTTP/1.0", Referer when `item.source` is non-empty and does not begin with "*",
// Content-Length of the body, Pragma when `options.cache` is 1, blank line) and "\r\n" is
// appended, so the text after "$HTTP" plus that "\r\n" is the form body.
// `person_name` is the name searched for, empty when none is set. A URL containing the
// vendor's domain (any letter case) is returned unchanged. Refuses with Empty when the URL is
// absent or empty, with TooLong when the text would at any step exceed kMaxExpandedUrl
// characters (a URL that is already longer included).
[[nodiscard]] Expansion expand_request_url(const store::ItemRecord& item,
                                           std::string_view person_name,
                                           const RequestOptions& options);

// The status line text that says why an expansion was refused; empty for None.
[[nodiscard]] std::string_view expand_error_text(ExpandError error);

// The path used on the request line: from the first "/" found two characters or more after
// the URL's first "/" (after "scheme://host"), "/" when there is none. A path that does not
// begin with "/POST" is cut at its first ":". The fragment is not removed here.
[[nodiscard]] std::string request_target(std::string_view url);

// The whole request text for `item.url` (already expanded); empty when the URL is absent or
// empty. A URL whose path begins with "/POST" is a form: the path less its "/" is sent as it
// stands (with a proxy, "scheme://host" is put after its first "POST "). Any other URL gets a
// GET with the request target (the whole URL with a proxy) up to its first "#", a Host line
// naming the URL's authority when the URL has "//", and "Pragma: no-cache" when `options.cache`
// is 1. Finally every "/POST  " is collapsed to "/POST ".
[[nodiscard]] std::string build_request(const store::ItemRecord& item,
                                        const RequestOptions& options);

// The request text of the modern way for `item.url` (already expanded): "GET" with the same
// target as build_request, over HTTP/1.1 with a Host line, keep-alive asked for, and the content
// codings this build decodes offered (content_decoder.h's accept_encoding). Empty when the URL
// is empty, is a form, or has no "//" to take the Host from: such a request goes the classic
// way (build_request), connection closed after it.
[[nodiscard]] std::string build_modern_request(const store::ItemRecord& item,
                                               const RequestOptions& options);

// The host name or dotted address to look up: the proxy when one is set; otherwise the URL's
// host (user-info before "@" and port after ":" dropped), or the whole URL when it has no "//".
[[nodiscard]] std::string connect_host(std::string_view url, const RequestOptions& options);

// The port to connect to: the proxy port when a proxy is set; otherwise the number after the
// first ":" following the URL's "//" (the path is searched too) when it lies in 1..kMaxPort,
// else the scheme's default: kHttpsPort for "https:" (any letter case), kHttpPort for the rest.
[[nodiscard]] int32_t connect_port(std::string_view url, const RequestOptions& options);

// Whether the connection is made over TLS: the URL's scheme is "https:" (any letter case) and
// no proxy is set. Through a proxy the request goes in clear, naming the full URL.
[[nodiscard]] bool uses_tls(std::string_view url, const RequestOptions& options);

// Encodes a form value in place: ASCII letters and digits and "*", "-", ".", "_" stay, a blank
// becomes "+", every other byte becomes "%" and two uppercase hexadecimal digits. The text ends
// at its first NUL. Returns false, leaving `text` unchanged, when the result would exceed
// kMaxFormValue characters.
[[nodiscard]] bool encode_form_value(std::string& text);

}  // namespace tarnvelox::net
