#include "net/request.h"

#include <array>
#include <utility>

#include "base/text_util.h"
#include "net/content_decoder.h"
#include "net/vendor.h"

namespace tarnvelox::net {
namespace {

using base::c_text;
using base::kNotFound;

constexpr std::string_view kFormMarker = "/POST";
constexpr std::string_view kFormPlaceholder = "$HTTP";
// A form marker followed by two blanks; every one is sent with a single blank.
constexpr std::string_view kWideFormMarker = "/POST  ";

// Fixed texts of the page request.
constexpr std::string_view kPageHead =
    " HTTP/1.0\r\n"
    "Connection: close\r\n"
    "User-Agent: Tarnvelox 1.00\r\n";
constexpr std::string_view kPageTail =
    "Accept: */*\r\n"
    "Accept-Charset: iso-8859-1,*,utf-8\r\n"
    "\r\n";
constexpr std::string_view kNoCache = "Pragma: no-cache\r\n";
constexpr std::string_view kLineEnd = "\r\n";

std::string_view proxy_of(const RequestOptions& options) { return c_text(options.proxy); }

bool is_ascii_alnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The encoder's output without its length cap. Blanks go straight to "+": the escaping pass
// never produces a blank, so this equals escaping first and replacing blanks afterwards.
// The result never contains "$", which the placeholder loops below rely on.
std::string encoded(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ') {
            out += '+';
        } else if (is_ascii_alnum(byte) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string_view first_name(std::string_view name) { return name.substr(0, name.find(' ')); }

std::string_view surname(std::string_view name) {
    const std::size_t blank = name.rfind(' ');
    std::string_view rest = blank == kNotFound ? name : name.substr(blank + 1);
    while (!rest.empty() && base::is_space(rest.front())) rest.remove_prefix(1);
    return rest;
}

// Replaces every occurrence of `placeholder`, searching again from the start after each one:
// removing a placeholder can join the text around it into a new one ("$NA$NAMEME"). Every
// placeholder begins with "$" and `value` holds none, so each round removes one "$" and the
// loop ends. Returns false, the text part-way replaced, when a step would pass the cap.
bool replace_every(std::string& text, std::string_view placeholder, std::string_view value) {
    for (std::size_t at = text.find(placeholder); at != kNotFound; at = text.find(placeholder)) {
        if (text.size() - placeholder.size() + value.size() > kMaxExpandedUrl) return false;
        text.replace(at, placeholder.size(), value);
    }
    return true;
}

// The header block that stands in for "$HTTP" in a form URL; `body_length` counts the text
// after the placeholder plus the "\r\n" appended to it.
std::string form_header_block(const store::ItemRecord& item, std::size_t body_length,
                              const RequestOptions& options) {
    std::string block = "HTTP/1.0\r\n";
    const std::string_view source = item.source ? c_text(*item.source) : std::string_view{};
    // A source beginning with "*" ("******") is the stored form of "found on no page".
    if (!source.empty() && source.front() != '*') {
        block += "Referer: ";
        block += source;
        block += kLineEnd;
    }
    block +=
        "Connection: Close\r\n"
        "User-Agent: Mozilla/4.0 [en] (Win95; I)\r\n"
        "Content-Length: ";
    block += base::number_text(static_cast<long long>(body_length));
    block +=
        "\r\n"
        "Content-type: application/x-www-form-urlencoded\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
        "Accept-Charset: iso-8859-1,*,utf-8\r\n";
    if (options.cache == 1) block += kNoCache;
    block += kLineEnd;
    return block;
}

// Where the path of `url` begins: the first "/" at least two characters after the first "/"
// (which skips the "//" of "scheme://"), or kNotFound.
std::size_t path_start(std::string_view url) {
    const std::size_t slash = url.find('/');
    if (slash == kNotFound) return kNotFound;
    return url.find('/', slash + 2);  // a start past the end finds nothing
}

bool is_https(std::string_view url) {
    constexpr std::string_view kScheme = "https:";
    return base::find_nocase(url.substr(0, kScheme.size()), kScheme) == 0;
}

}  // namespace

Expansion expand_request_url(const store::ItemRecord& item, std::string_view person_name,
                             const RequestOptions& options) {
    const std::string_view url = store::url_text(item);
    if (url.empty()) return {ExpandError::Empty, {}};
    if (url.size() > kMaxExpandedUrl) return {ExpandError::TooLong, {}};
    std::string text(url);
    // Requests to the update host carry no templates and must reach it as written.
    if (base::find_nocase(text, kVendorDomain) != kNotFound) return {ExpandError::None, text};

    const std::string_view name = c_text(person_name);
    const std::array<std::pair<std::string_view, std::string>, 4> fills = {{
        {"$FIRST", encoded(first_name(name))},
        {"$SURNAME", encoded(surname(name))},
        {"$NAME", encoded(name)},
        {"$DOMAIN", ""},
    }};
    for (const auto& [placeholder, value] : fills) {
        if (!replace_every(text, placeholder, value)) return {ExpandError::TooLong, {}};
    }

    const std::size_t at = text.find(kFormPlaceholder);
    if (at != kNotFound) {
        const std::size_t body_length =
            text.size() - at - kFormPlaceholder.size() + kLineEnd.size();
        const std::string block = form_header_block(item, body_length, options);
        if (text.size() - kFormPlaceholder.size() + block.size() + kLineEnd.size() >
            kMaxExpandedUrl) {
            return {ExpandError::TooLong, {}};
        }
        text.replace(at, kFormPlaceholder.size(), block);
        text += kLineEnd;
    }
    return {ExpandError::None, std::move(text)};
}

std::string_view expand_error_text(ExpandError error) {
    switch (error) {
        case ExpandError::None:
            return {};
        case ExpandError::Empty:
            return "No URL to Request";
        case ExpandError::TooLong:
            return "Request Too Long (over 2047 characters)";
    }
    return {};
}

std::string request_target(std::string_view url) {
    url = c_text(url);
    const std::size_t start = path_start(url);
    if (start == kNotFound) return "/";
    std::string_view path = url.substr(start);
    // A query that carries a full URL is sent only up to that URL's colon.
    if (!path.starts_with(kFormMarker)) path = path.substr(0, path.find(':'));
    return std::string(path);
}

std::string build_request(const store::ItemRecord& item, const RequestOptions& options) {
    const std::string_view url = store::url_text(item);
    if (url.empty()) return {};
    const std::string_view proxy = proxy_of(options);
    const std::size_t start = path_start(url);
    std::string request;
    if (start != kNotFound && url.substr(start).starts_with(kFormMarker)) {
        // The expansion has already put the request line's target, the header block and the
        // body behind the marker: the text is sent as it stands.
        request = url.substr(start + 1);
        if (!proxy.empty()) {
            // A proxy needs the absolute form: "POST scheme://authority/target".
            std::string absolute = "POST ";
            absolute += url.substr(0, start);
            base::replace_first(request, "POST ", absolute);
        }
    } else {
        const std::string target = proxy.empty() ? request_target(url) : std::string(url);
        request = "GET ";
        request += base::copy_until(target, '#');
        request += kPageHead;
        const std::size_t slashes = url.find("//");
        if (slashes != kNotFound) {
            // The URL's own server, port and user-info included, also when going by a proxy.
            request += "Host: ";
            request += base::copy_until(url.substr(slashes + 2), '/');
            request += kLineEnd;
        }
        if (options.cache == 1) request += kNoCache;
        request += kPageTail;
    }
    // Each repair shortens the text and cannot make a new marker before the one repaired, so
    // the search goes on from there.
    for (std::size_t at = request.find(kWideFormMarker); at != kNotFound;
         at = request.find(kWideFormMarker, at)) {
        request.erase(at + kFormMarker.size(), 1);
    }
    return request;
}

std::string build_modern_request(const store::ItemRecord& item, const RequestOptions& options) {
    const std::string_view url = c_text(store::url_text(item));
    const std::size_t start = path_start(url);
    const std::size_t slashes = url.find("//");
    if (url.empty() || slashes == kNotFound ||
        (start != kNotFound && url.substr(start).starts_with(kFormMarker))) {
        return {};
    }
    const std::string target =
        proxy_of(options).empty() ? request_target(url) : std::string(url);
    std::string request = "GET ";
    request += base::copy_until(target, '#');
    // The authority without user-info, up to the path, query or fragment.
    std::string_view host = url.substr(slashes + 2);
    host = host.substr(0, host.find_first_of("/?#"));
    if (const std::size_t at = host.rfind('@'); at != kNotFound) host.remove_prefix(at + 1);
    request += " HTTP/1.1\r\nHost: ";
    request += host;
    request += kLineEnd;
    request += "User-Agent: Tarnvelox 1.00\r\nAccept: */*\r\nAccept-Encoding: ";
    request += accept_encoding();
    request += "\r\nConnection: keep-alive\r\n";
    if (options.cache == 1) request += kNoCache;
    request += kLineEnd;
    return request;
}

std::string connect_host(std::string_view url, const RequestOptions& options) {
    const std::string_view proxy = proxy_of(options);
    if (!proxy.empty()) return std::string(proxy);
    url = c_text(url);
    const std::size_t slashes = url.find("//");
    if (slashes == kNotFound) return std::string(url);
    std::string_view host = url.substr(slashes + 2);
    const std::size_t at = host.find('@');
    if (at != kNotFound && at < host.find('/')) host.remove_prefix(at + 1);
    host = base::copy_until(host, '/');
    return std::string(base::copy_until(host, ':'));
}

int32_t connect_port(std::string_view url, const RequestOptions& options) {
    if (!proxy_of(options).empty()) return options.port;
    url = c_text(url);
    const int32_t fallback = is_https(url) ? kHttpsPort : kHttpPort;
    const std::size_t slashes = url.find("//");
    if (slashes == kNotFound) return fallback;
    const std::size_t colon = url.find(':', slashes + 2);
    if (colon == kNotFound) return fallback;
    const int32_t port = base::read_int(url.substr(colon + 1));
    return port > 0 && port <= kMaxPort ? port : fallback;
}

bool uses_tls(std::string_view url, const RequestOptions& options) {
    return proxy_of(options).empty() && is_https(c_text(url));
}

bool encode_form_value(std::string& text) {
    std::string result = encoded(c_text(text));
    if (result.size() > kMaxFormValue) return false;
    text = std::move(result);
    return true;
}

}  // namespace tarnvelox::net
