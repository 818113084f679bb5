#include "harvest/page_text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>

#include <algorithm>
#include <cstring>

#include "base/text_util.h"
#include "store/item_record.h"

namespace tarnvelox::harvest {

using base::c_text;
using base::find_nocase;

namespace {

// First `c` at or after `from` that comes before any NUL byte (the end of a zero-terminated
// text); kNoPosition otherwise.
std::size_t find_before_nul(std::string_view text, char c, std::size_t from) {
    if (from >= text.size()) return kNoPosition;
#if defined(__SSE2__)
    // Most searches end within a few bytes (the ">" of a tag): one pass looking for either byte
    // costs less there than two library calls.
    const __m128i wanted = _mm_set1_epi8(c);
    const __m128i nul = _mm_setzero_si128();
    std::size_t pos = from;
    for (; pos + 16 <= text.size(); pos += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
        const int hits = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, wanted), _mm_cmpeq_epi8(v, nul)));
        if (hits != 0) {
            const std::size_t at = pos + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
            return text[at] == c ? at : kNoPosition;
        }
    }
    for (; pos < text.size(); ++pos) {
        if (text[pos] == c) return pos;
        if (text[pos] == '\0') return kNoPosition;
    }
    return kNoPosition;
#else
    const char* begin = text.data() + from;
    const std::size_t length = text.size() - from;
    const void* hit = std::memchr(begin, c, length);
    const std::size_t span =
        hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - begin) : length;
    if (std::memchr(begin, '\0', span) != nullptr) return kNoPosition;
    return hit != nullptr ? from + span : kNoPosition;
#endif
}

// Moves `count` characters from `from` down to `to` (to <= from) inside `text`.
void shift_down(std::string& text, std::size_t to, std::size_t from, std::size_t count) {
    if (count > 0 && to != from) std::memmove(&text[to], &text[from], count);
}

// Removes, in one pass, every span that starts at an `open` character and ends at the position
// `find_close` gives for it, looking for the next `open` right after each removed span. Stops
// (keeping the rest) at the first span without an end. Equivalent to deleting the spans one at
// a time and searching again from the deletion point, without moving the tail each time.
template <typename FindClose>
void remove_spans(std::string& text, char open, FindClose find_close) {
    std::size_t write = 0;
    std::size_t read = 0;
    for (;;) {
        const std::size_t start = text.find(open, read);
        if (start == std::string::npos) break;
        const std::size_t close = find_close(std::string_view(text), start);
        if (close == kNoPosition) break;
        shift_down(text, write, read, start - read);
        write += start - read;
        read = close + 1;
    }
    shift_down(text, write, read, text.size() - read);
    text.resize(write + text.size() - read);
}

// Replaces every occurrence of `pattern` (compared ignoring case, or exactly) by `with`, left to
// right, continuing after each replacement.
void replace_each(std::string& text, std::string_view pattern, char with, bool ignore_case) {
    const auto same = [ignore_case](char a, char b) {
        return ignore_case ? base::to_lower(a) == base::to_lower(b) : a == b;
    };
    std::size_t write = 0;
    std::size_t read = 0;
    while (read < text.size()) {
        bool hit = text.size() - read >= pattern.size();
        for (std::size_t k = 0; hit && k < pattern.size(); ++k) {
            hit = same(text[read + k], pattern[k]);
        }
        if (hit) {
            text[write++] = with;
            read += pattern.size();
        } else {
            text[write++] = text[read++];
        }
    }
    text.resize(write);
}

unsigned char fold(char c) { return static_cast<unsigned char>(base::to_lower(c)); }

// Shorter sought texts are searched directly: the direct search then costs at most this many
// comparisons per text position, and needs no set-up.
constexpr std::size_t kDirectSearchMax = 8;

// Critical factorisation of `sought` (at least 3 characters) for the two-way search: returns
// the split position and sets `period` to the period of the right part. Compares folded bytes.
// The maximal suffix of `sought` under the folded byte order (or its reverse), as the position
// before it (wrapping: -1 for the whole text), with its period.
std::size_t maximal_suffix(std::string_view sought, bool reversed, std::size_t& period) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);  // wraps to 0 on "+ 1"
    const std::size_t m = sought.size();
    std::size_t max_suffix = kNone;
    std::size_t j = 0;
    std::size_t k = 1;
    std::size_t p = 1;
    while (j + k < m) {
        const unsigned char a = fold(sought[j + k]);
        const unsigned char b = fold(sought[max_suffix + k]);
        if (reversed ? b < a : a < b) {
            j += k;
            k = 1;
            p = j - max_suffix;
        } else if (a == b) {
            if (k != p) {
                ++k;
            } else {
                j += p;
                k = 1;
            }
        } else {
            max_suffix = j++;
            k = p = 1;
        }
    }
    period = p;
    return max_suffix;
}

std::size_t critical_factorization(std::string_view sought, std::size_t& period) {
    std::size_t reverse_period = 1;
    const std::size_t max_suffix = maximal_suffix(sought, false, period);
    const std::size_t max_suffix_rev = maximal_suffix(sought, true, reverse_period);
    if (max_suffix_rev + 1 < max_suffix + 1) return max_suffix + 1;
    period = reverse_period;
    return max_suffix_rev + 1;
}

// The two-way string search (Crochemore and Perrin) on folded bytes: linear time, constant
// space. `sought` has at least kDirectSearchMax characters and is not longer than `text`.
std::size_t two_way_search(std::string_view text, std::string_view sought) {
    const std::size_t n = text.size();
    const std::size_t m = sought.size();
    const auto same = [&](std::size_t i, std::size_t at) {
        return fold(sought[i]) == fold(text[i + at]);
    };
    std::size_t period = 0;
    const std::size_t suffix = critical_factorization(sought, period);
    bool periodic = true;
    for (std::size_t i = 0; periodic && i < suffix; ++i) {
        periodic = fold(sought[i]) == fold(sought[i + period]);
    }
    std::size_t j = 0;
    if (periodic) {
        // A mismatch in the left part can only advance by the period; `memory` remembers how
        // much of the right part is known to match already.
        std::size_t memory = 0;
        while (j <= n - m) {
            std::size_t i = std::max(suffix, memory);
            while (i < m && same(i, j)) ++i;
            if (i >= m) {
                i = suffix - 1;
                while (memory < i + 1 && same(i, j)) --i;
                if (i + 1 < memory + 1) return j;
                j += period;
                memory = m - period;
            } else {
                j += i - suffix + 1;
                memory = 0;
            }
        }
    } else {
        period = std::max(suffix, m - suffix) + 1;
        while (j <= n - m) {
            std::size_t i = suffix;
            while (i < m && same(i, j)) ++i;
            if (i >= m) {
                i = suffix - 1;
                while (i != static_cast<std::size_t>(-1) && same(i, j)) --i;
                if (i == static_cast<std::size_t>(-1)) return j;
                j += period;
            } else {
                j += i - suffix + 1;
            }
        }
    }
    return kNoPosition;
}

bool starts_with_text(std::string_view text, std::size_t pos, std::string_view prefix) {
    return text.size() - pos >= prefix.size() && text.substr(pos, prefix.size()) == prefix;
}

}  // namespace

std::size_t find_nocase_linear(std::string_view text, std::string_view sought, std::size_t from) {
    if (from > text.size()) return kNoPosition;
    if (sought.size() < kDirectSearchMax) return find_nocase(text, sought, from);
    if (sought.size() > text.size() - from) return kNoPosition;
    const std::size_t at = two_way_search(text.substr(from), sought);
    return at == kNoPosition ? kNoPosition : from + at;
}

void strip_markup(std::string& text) {
    text.resize(c_text(text).size());
    remove_spans(text, '<', [](std::string_view t, std::size_t lt) {
        return find_outside_quotes(t, '>', lt);
    });
    replace_each(text, "&lt;", '<', true);
    replace_each(text, "&amp;", '&', true);
    replace_each(text, "%20", ' ', false);
    remove_spans(text, '&', [](std::string_view t, std::size_t amp) {
        return find_before_nul(t, ';', amp + 1);
    });
}

void collapse_whitespace(std::string& text) {
    text.resize(c_text(text).size());
    std::size_t write = 0;
    for (char c : text) {
        if (c == '\n' || c == '\t' || c == '\r') c = ' ';
        if (c == ' ' && write > 0 && text[write - 1] == ' ') continue;
        text[write++] = c;
    }
    text.resize(write);
}

void clean_link_text(std::string& text, std::string_view url) {
    text.resize(c_text(text).size());
    url = c_text(url);
    if (text.empty()) {
        const std::size_t slash = url.rfind('/');
        if (slash != std::string_view::npos) text.assign(url.substr(slash + 1));
    }
    strip_markup(text);
    std::replace(text.begin(), text.end(), '<', ' ');
    std::replace(text.begin(), text.end(), '>', ' ');
    base::trim(text);
    if (text.size() > kMaxTitle) text.resize(kMaxTitle);
    if (text.empty()) text.assign(kNoTitle);
}

std::size_t find_outside_quotes(std::string_view text, char c, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        const char here = text[i];
        if (here == '\0') return kNoPosition;
        if (here == c) return i;
        if (here == '"' || here == '\'') {
            i = find_before_nul(text, here, i + 1);
            if (i == kNoPosition) return kNoPosition;
        }
    }
    return kNoPosition;
}

std::size_t FillerSkipper::tag_end(std::size_t from) {
    const bool cached = searched_from_ != kNoPosition && from >= searched_from_ &&
                        (found_at_ == kNoPosition || from <= found_at_);
    if (!cached) {
        searched_from_ = from;
        found_at_ = find_before_nul(text_, '>', from);
    }
    return found_at_;
}

std::size_t FillerSkipper::skip(std::size_t pos) {
    for (;;) {
        while (pos < text_.size() && base::is_space(text_[pos])) ++pos;
        if (pos >= text_.size()) return pos;
        if (starts_with_text(text_, pos, "&nbsp;")) {
            pos += 6;
            continue;
        }
        if (text_[pos] == '<') {
            const std::size_t end = tag_end(pos + 1);
            if (end != kNoPosition) {
                pos = end + 1;
                continue;
            }
        }
        return pos;
    }
}

std::size_t skip_filler(std::string_view text, std::size_t pos) {
    return FillerSkipper(text).skip(pos);
}

namespace {

// An ASCII lower-case copy of `text` (which fits) in `buffer`, so that many case-insensitive
// substring tests can use the plain, vectorised search.
std::string_view lower_copy(std::string_view text, std::array<char, kWorkBuffer>& buffer) {
    for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = base::to_lower(text[i]);
    return {buffer.data(), text.size()};
}

}  // namespace

uint32_t classify_link(std::string_view url, bool follow_directories) {
    url = c_text(url);
    std::array<char, kWorkBuffer> buffer;
    std::string long_lower;  // only for links longer than the buffer
    std::string_view lower;
    if (url.size() <= buffer.size()) {
        lower = lower_copy(url, buffer);
    } else {
        long_lower.assign(url);
        for (char& c : long_lower) c = base::to_lower(c);
        lower = long_lower;
    }
    if (lower.find("mailto:") != kNoPosition) return store::KIND_ADDRESS;
    if (lower.find("cgi") != kNoPosition) {
        // Scripts are followed only when they produce a page named like one.
        const std::size_t dot = lower.rfind('.');
        if (dot == kNoPosition || lower.substr(dot + 1).find("htm") == kNoPosition) return 0;
    }
    if (lower.find("ftp:") != kNoPosition) return 0;

    const std::size_t separator = lower.find("//");
    const std::size_t path_start = lower.find('/', separator == kNoPosition ? 0 : separator + 2);
    if (path_start == kNoPosition) return 0;
    const std::string_view path = lower.substr(path_start);
    // Directory listings are not followed, unless they are read as today's sites mean them:
    // the page the server gives for the folder, as long as the file-type rules below allow it.
    const bool directory = path.back() == '/';
    if (directory && !follow_directories) return 0;

    for (std::string_view page : {".htm", ".shtm", ".phtm"}) {
        if (path.find(page) != kNoPosition) return store::KIND_PAGE;
    }
    // Pictures, programs, archives, documents and films: never pages. These are plain substring
    // tests, so ".0" also refuses a path through a directory such as "v1.0".
    for (std::string_view other :
         {".gif", ".jpg", ".tif", ".bmp", ".jpeg", ".exe", ".lha", ".arj", ".arc", ".zip", ".rar",
          ".0", ".txt", ".doc", ".mov", ".avi", ".mpg", ".viv", ".fli", ".flc", ".anm", ".ani",
          ".flx"}) {
        if (path.find(other) != kNoPosition) return 0;
    }
    if (directory) return store::KIND_PAGE;
    const std::string_view last_segment = path.substr(path.rfind('/') + 1);
    return last_segment.find('.') == kNoPosition ? store::KIND_PAGE : 0;
}

namespace {

// Whether `url` begins with the engine prefix `prefix`: its scheme and authority compared in
// any letter case, the path exactly. A prefix without a path beyond "/" names the host alone,
// which an engine may share with the sites it finds: then only the root itself and its query
// or fragment count.
bool under_prefix(std::string_view url, std::string_view prefix) {
    if (prefix.empty() || url.size() < prefix.size() - (prefix.ends_with('/') ? 1 : 0)) {
        return false;
    }
    const std::size_t separator = prefix.find("//");
    const std::size_t authority_end =
        separator == kNoPosition ? prefix.size()
                                 : std::min(prefix.find('/', separator + 2), prefix.size());
    if (find_nocase(url.substr(0, authority_end), prefix.substr(0, authority_end)) != 0) {
        return false;
    }
    const std::string_view path = prefix.substr(authority_end);
    if (path.empty() || path == "/") {
        std::size_t at = authority_end;
        if (at < url.size() && url[at] == '/') ++at;
        return at == url.size() || url[at] == '?' || url[at] == '#';
    }
    return url.substr(authority_end, path.size()) == path;
}

}  // namespace

bool is_search_engine_url(std::string_view url, const std::vector<std::string>& engine_prefixes) {
    url = c_text(url);
    for (std::string_view engine : {"altavista", "hotbot", "infoseek", "lycos"}) {
        if (find_nocase(url, engine) != kNoPosition) return true;
    }
    for (const std::string& prefix : engine_prefixes) {
        if (under_prefix(url, prefix)) return true;
    }
    return false;
}

bool page_mentions_address(std::string_view page, std::string_view sought) {
    page = c_text(page);
    sought = c_text(sought);
    std::size_t pos = 0;
    for (;;) {
        std::string_view entry;
        if (pos < sought.size() && sought[pos] == '"') {
            const std::size_t close = sought.find('"', pos + 1);
            entry = sought.substr(pos + 1, close == kNoPosition ? kNoPosition : close - pos - 1);
            pos = close == kNoPosition ? sought.size() : close + 1;
        } else {
            const std::size_t comma = std::min(sought.find(',', pos), sought.size());
            entry = sought.substr(pos, comma - pos);
            pos = comma;
        }
        entry = base::copy_bounded(entry, kWorkBuffer);
        if (!entry.empty() && find_nocase_linear(page, entry) != kNoPosition) return true;

        while (pos < sought.size() && base::is_space(sought[pos])) ++pos;
        if (pos >= sought.size() || sought[pos] != ',') return false;
        ++pos;
        while (pos < sought.size() && base::is_space(sought[pos])) ++pos;
    }
}

}  // namespace tarnvelox::harvest
