#include "harvest/url_resolve.h"

#include <algorithm>
#include <vector>

#include "base/text_util.h"

namespace tarnvelox::harvest {

using base::c_text;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           base::find_nocase(text.substr(0, prefix.size()), prefix) == 0;
}

// Removes every "./" in one left-to-right pass. A removal can only create a new "./" ending at
// the next character, so this gives the same text as removing the first occurrence again and
// again from the beginning.
void remove_dot_slashes(std::string& text) {
    std::size_t write = 0;
    for (const char c : text) {
        if (c == '/' && write > 0 && text[write - 1] == '.') {
            --write;
            continue;
        }
        text[write++] = c;
    }
    text.resize(write);
}

// `link` joined to the directory (or, for a link beginning with "/", the host root) of `base`.
std::string join_to_base(std::string_view base, std::string_view link) {
    // The base gives way to the link: together they must fit the resolved-link cap.
    base = base.substr(0, link.size() < kMaxResolvedLink ? kMaxResolvedLink - link.size() : 0);
    const std::size_t separator = base.find("//");
    const std::size_t host_start = separator == kNone ? 0 : separator + 2;
    const bool rooted = !link.empty() && link.front() == '/';

    std::size_t cut = rooted ? base.find('/', host_start) : base.rfind('/');
    if (cut != kNone && cut < host_start) cut = kNone;  // only the scheme separator's "/"

    std::string joined;
    joined.reserve(base.size() + link.size() + 1);
    if (cut != kNone) {
        joined.assign(base.substr(0, cut + 1));
    } else {
        joined.assign(base);
        if (!rooted) joined.push_back('/');
    }
    if (rooted && !joined.empty() && joined.back() == '/') link.remove_prefix(1);
    joined.append(link);
    if (joined.size() > kMaxResolvedLink) joined.resize(kMaxResolvedLink);
    return joined;
}

// ---- The modern reader's resolution ---------------------------------------------------------

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The length of the scheme `url` begins with (the letters before its ":"), 0 when it has none.
std::size_t scheme_length(std::string_view url) {
    if (url.empty() || !is_ascii_alpha(url[0])) return 0;
    for (std::size_t i = 1; i < url.size(); ++i) {
        const char c = url[i];
        if (c == ':') return i;
        if (!is_ascii_alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

bool is_web_scheme(std::string_view scheme) {
    return base::equal_nocase(scheme, "http") || base::equal_nocase(scheme, "https");
}

// An absolute URL taken apart: scheme "://" authority path query (the query with its "?").
struct UrlParts {
    std::string_view scheme, authority, path, query;
};

// The first of `text`'s characters at or after `from` that is one of `stops`, or its end. (Every
// link is taken apart, and the library's find_first_of searches the set once per character.)
std::size_t first_of(std::string_view text, std::string_view stops, std::size_t from = 0) {
    for (std::size_t i = from; i < text.size(); ++i) {
        for (const char stop : stops) {
            if (text[i] == stop) return i;
        }
    }
    return text.size();
}

std::optional<UrlParts> split_absolute(std::string_view url) {
    const std::size_t n = scheme_length(url);
    if (n == 0 || url.substr(n, 3) != "://") return std::nullopt;
    UrlParts parts;
    parts.scheme = url.substr(0, n);
    const std::string_view rest = url.substr(n + 3);
    const std::size_t authority_end = first_of(rest, "/?#");
    parts.authority = rest.substr(0, authority_end);
    const std::string_view tail = rest.substr(authority_end);
    const std::size_t query = first_of(tail, "?#");
    parts.path = tail.substr(0, query);
    parts.query = tail.substr(query, first_of(tail, "#", query) - query);
    return parts;
}

bool is_dot_segment(std::string_view s) { return s == "." || base::equal_nocase(s, "%2e"); }
bool is_dot_dot_segment(std::string_view s) {
    return s == ".." || base::equal_nocase(s, ".%2e") || base::equal_nocase(s, "%2e.") ||
           base::equal_nocase(s, "%2e%2e");
}

// `path` (beginning with "/") without its "." and ".." segments; ".." at the root stays there.
std::string without_dot_segments(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t next = path.find('/', i + 1);
        if (next == kNone) next = path.size();
        const std::string_view segment = path.substr(i + 1, next - i - 1);
        const bool last = next == path.size();
        if (is_dot_segment(segment)) {
            if (last) out.push_back('/');
        } else if (is_dot_dot_segment(segment)) {
            const std::size_t cut = out.rfind('/');
            if (cut != kNone) out.resize(cut);
            if (last) out.push_back('/');
        } else {
            out.push_back('/');
            out.append(segment);
        }
        i = next;
    }
    if (out.empty()) out.push_back('/');
    return out;
}

// Bytes a browser percent-encodes in a link: controls, blanks, quotes, angle brackets, the
// backquote and everything beyond ASCII. A "%" stays: the link is taken as already encoded.
bool needs_encoding(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`';
}

// The link as a browser reads an attribute's value: surrounding blanks and controls gone, tabs
// and line breaks inside gone, cut before its fragment, "\" as "/" before the query, then
// percent-encoded.
std::string cleaned_reference(std::string_view ref) {
    while (!ref.empty() && static_cast<unsigned char>(ref.front()) <= 0x20) ref.remove_prefix(1);
    while (!ref.empty() && static_cast<unsigned char>(ref.back()) <= 0x20) ref.remove_suffix(1);
    ref = ref.substr(0, ref.find('#'));
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(ref.size());
    bool in_query = false;
    for (const char c : ref) {
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '?') in_query = true;
        const auto byte = static_cast<unsigned char>(c);
        if (needs_encoding(byte)) {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        } else {
            out.push_back(c == '\\' && !in_query ? '/' : c);
        }
    }
    return out;
}

// scheme (lower case) "://" authority path query, the path at least "/" and without dot
// segments.
std::string assemble(std::string_view scheme, std::string_view authority, std::string_view path,
                     std::string_view query) {
    std::string url;
    url.reserve(scheme.size() + 3 + authority.size() + path.size() + query.size());
    for (const char c : scheme) url.push_back(base::to_lower(c));
    url.append("://").append(authority);
    url.append(path.empty() ? std::string("/") : without_dot_segments(path));
    url.append(query);
    if (url.size() > kMaxResolvedLink) url.resize(kMaxResolvedLink);
    return url;
}

}  // namespace

std::optional<std::string> resolve_reference(std::string_view base, std::string_view ref) {
    std::string link = cleaned_reference(ref);
    const std::size_t scheme = scheme_length(link);
    const std::optional<UrlParts> b = split_absolute(base);
    if (scheme > 0) {
        if (!is_web_scheme(std::string_view(link).substr(0, scheme))) return std::nullopt;
        if (const std::optional<UrlParts> parts = split_absolute(link)) {
            return assemble(parts->scheme, parts->authority, parts->path, parts->query);
        }
        // "http:page.html": relative, when the base has that scheme.
        if (!b || !base::equal_nocase(b->scheme, std::string_view(link).substr(0, scheme))) {
            return std::nullopt;
        }
        link.erase(0, scheme + 1);
    }
    if (!b) {
        if (link.size() > kMaxResolvedLink) link.resize(kMaxResolvedLink);
        return link;
    }
    if (link.starts_with("//")) {
        const std::string absolute = std::string(b->scheme) + ":" + link;
        const std::optional<UrlParts> parts = split_absolute(absolute);
        if (!parts) return std::nullopt;
        return assemble(parts->scheme, parts->authority, parts->path, parts->query);
    }
    const std::size_t query_start = std::min(link.find('?'), link.size());
    const std::string_view path = std::string_view(link).substr(0, query_start);
    const std::string_view query = std::string_view(link).substr(query_start);
    if (path.empty()) {
        return assemble(b->scheme, b->authority, b->path, query.empty() ? b->query : query);
    }
    if (path.front() == '/') return assemble(b->scheme, b->authority, path, query);
    const std::size_t directory_end = b->path.rfind('/');
    std::string merged(directory_end == kNone ? "/" : b->path.substr(0, directory_end + 1));
    merged.append(path);
    return assemble(b->scheme, b->authority, merged, query);
}

void collapse_parent_segments(std::string& url) {
    url.resize(c_text(url).size());
    if (url.find("../") == kNone) return;

    // The text is rebuilt left to right. `out` never contains "../": each one is handled as soon
    // as its "/" arrives, which is exactly when it is the first "../" of the whole text. The
    // positions of the "/" in `out` are kept so that finding the segment to drop costs nothing.
    std::string out;
    out.reserve(url.size());
    std::vector<std::size_t> slashes;
    std::size_t separator = kNone;  // the first "//" in `out`: scheme and host end after it
    for (std::size_t i = 0; i < url.size(); ++i) {
        out.push_back(url[i]);
        if (url[i] != '/') continue;
        const std::size_t at = out.size() - 1;
        if (separator == kNone && at > 0 && out[at - 1] == '/') separator = at - 1;
        if (at < 2 || out[at - 1] != '.' || out[at - 2] != '.') {
            slashes.push_back(at);
            continue;
        }
        out.resize(at - 2);  // the "../" itself goes
        if (slashes.empty() || slashes.back() == 0) {
            // No "/" before it other than at the very start: nothing to climb out of, and the
            // rest of the text is left as it is.
            out.append(url, i + 1);
            break;
        }
        const bool has_previous = slashes.size() >= 2;
        const std::size_t previous = has_previous ? slashes[slashes.size() - 2] : kNone;
        // Climbing out of the host root would eat into the host or the scheme: keep them and
        // drop just the extra "../".
        if (separator != kNone && (!has_previous || previous < separator + 2)) continue;
        out.resize(has_previous ? previous + 1 : 0);
        slashes.pop_back();
    }
    url = std::move(out);
}

void resolve_link(const store::ItemRecord* page, std::string& link) {
    link.resize(c_text(link).size());
    if (starts_with_nocase(link, "mailto:")) {
        // An address ends before any escape: "%20" and the like would become part of the key.
        const std::size_t percent = link.find('%');
        if (percent != kNone) link.resize(percent);
    } else if (!starts_with_nocase(link, "http:") && !starts_with_nocase(link, "https:") &&
               !starts_with_nocase(link, "ftp:") && page != nullptr && page->url.has_value()) {
        link = join_to_base(c_text(*page->url), link);
        collapse_parent_segments(link);
    }
    remove_dot_slashes(link);
}

std::optional<std::string> normalise_starting_url(std::string_view typed) {
    // Trimmed before the scheme is added, so that a pasted leading blank does not end up
    // after "http://".
    const std::string_view text = base::trimmed(c_text(typed));
    if (text.empty()) return std::nullopt;
    std::string url;
    if (text.find("//") == kNone) url = "http://";
    url.append(text);
    return url;
}

}  // namespace tarnvelox::harvest
