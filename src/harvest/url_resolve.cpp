#include "harvest/url_resolve.h"

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

}  // namespace

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
