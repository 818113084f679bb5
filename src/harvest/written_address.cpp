#include "harvest/written_address.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>

#include "base/text_util.h"

namespace tarnvelox::harvest {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_alnum(char c) { return is_alpha(c) || (c >= '0' && c <= '9'); }
bool is_local_char(char c) { return is_alnum(c) || c == '_' || c == '-' || c == '~' || c == '.'; }
bool is_label_char(char c) { return is_alnum(c) || c == '-'; }

// Blanks within one line: a written-out address never spans a line break, while code often
// puts "x[at]" at the end of one line and "y.z(...)" on the next.
bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(std::string_view text, std::size_t p) {
    while (p < text.size() && is_blank(text[p])) ++p;
    return p;
}

// A word of capitals only ("LOOK", "THE.MATRIX"): shouting prose, not a name.
bool all_capitals(std::string_view word) {
    bool capital = false;
    for (char c : word) {
        if (c >= 'a' && c <= 'z') return false;
        capital = capital || (c >= 'A' && c <= 'Z');
    }
    return capital;
}

char closing_bracket(char open) {
    switch (open) {
        case '[':
            return ']';
        case '(':
            return ')';
        case '{':
            return '}';
        default:
            return '\0';
    }
}

// A bracketed word at `p` ("[at]", "( dot )", "{.}" ...): the position after its closing
// bracket when the word inside, blanks aside, is one of `words` (any case); kNone otherwise.
std::size_t bracketed(std::string_view text, std::size_t p, std::string_view word,
                      std::string_view sign) {
    if (p >= text.size()) return kNone;
    const char close = closing_bracket(text[p]);
    if (close == '\0') return kNone;
    std::size_t q = skip_blanks(text, p + 1);
    if (base::equal_nocase(text.substr(q, word.size()), word)) {
        q += word.size();
    } else if (text.substr(q, sign.size()) == sign) {
        q += sign.size();
    } else {
        return kNone;
    }
    q = skip_blanks(text, q);
    return q < text.size() && text[q] == close ? q + 1 : kNone;
}

// A bare capital word at `p` with white space on both sides ("AT", "DOT"): the position after
// it, kNone otherwise.
std::size_t bare(std::string_view text, std::size_t p, std::string_view word) {
    if (p == 0 || !is_blank(text[p - 1])) return kNone;
    if (text.substr(p, word.size()) != word) return kNone;
    const std::size_t end = p + word.size();
    return end < text.size() && is_blank(text[end]) ? end : kNone;
}

struct Domain {
    std::string text;
    std::size_t labels = 0;
    std::size_t bare_dots = 0;
    std::size_t end = 0;         // where the last label ends
    bool last_is_alpha = false;  // the last label is letters only, at least two
};

// The labels of a domain from `p`, joined by "." and by written-out dots.
Domain read_domain(std::string_view text, std::size_t p) {
    Domain d;
    for (;;) {
        std::size_t end = p;
        while (end < text.size() && is_label_char(text[end])) ++end;
        if (end == p || !is_alnum(text[p])) break;
        const std::string_view label = text.substr(p, end - p);
        if (d.labels > 0) d.text.push_back('.');
        d.text.append(label);
        ++d.labels;
        d.end = end;
        d.last_is_alpha = label.size() >= 2;
        for (char c : label) d.last_is_alpha = d.last_is_alpha && is_alpha(c);

        // The separator before the next label.
        std::size_t next = kNone;
        if (end + 1 < text.size() && text[end] == '.' && is_alnum(text[end + 1])) {
            next = end + 1;
        } else {
            const std::size_t blank_end = skip_blanks(text, end);
            if (const std::size_t b = bracketed(text, blank_end, "dot", "."); b != kNone) {
                next = skip_blanks(text, b);
            } else if (const std::size_t w = bare(text, blank_end, "DOT"); w != kNone) {
                next = skip_blanks(text, w);
                ++d.bare_dots;
            }
        }
        if (next == kNone || next >= text.size() || !is_alnum(text[next])) break;
        p = next;
    }
    return d;
}

bool starts_marker(char c) { return c == '[' || c == '(' || c == '{' || c == 'A'; }

// The first position at or after `p` that may start an "at" marker ("[", "(", "{" or "A"), or
// the end. Every shown text is searched, so sixteen bytes are tested at a time.
std::size_t next_marker(std::string_view text, std::size_t p) {
#if defined(__SSE2__)
    for (; p + 16 <= text.size(); p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + p));
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('[')),
                                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('('))),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('{')),
                                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('A'))));
        const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (bits != 0) return p + static_cast<std::size_t>(__builtin_ctz(bits));
    }
#endif
    while (p < text.size() && !starts_marker(text[p])) ++p;
    return p;
}

}  // namespace

std::vector<std::string> written_addresses(std::string_view text) {
    std::vector<std::string> found;
    for (std::size_t p = 0; (p = next_marker(text, p)) < text.size(); ++p) {
        const char c = text[p];
        std::size_t marker_end = kNone;
        bool bare_at = false;
        if (c == '[' || c == '(' || c == '{') {
            marker_end = bracketed(text, p, "at", "@");
        } else if (c == 'A') {
            marker_end = bare(text, p, "AT");
            bare_at = marker_end != kNone;
        }
        if (marker_end == kNone) continue;

        // The local part: address characters ending at the marker (blanks between allowed).
        std::size_t local_end = p;
        while (local_end > 0 && is_blank(text[local_end - 1])) --local_end;
        std::size_t local_start = local_end;
        for (;;) {
            while (local_start > 0 && is_local_char(text[local_start - 1])) --local_start;
            // "+" and "=" between two local characters join them: "hana+bugs [at] ...".
            const bool joined = local_start >= 2 && local_start < local_end &&
                                (text[local_start - 1] == '+' || text[local_start - 1] == '=') &&
                                is_local_char(text[local_start - 2]);
            if (!joined) break;
            --local_start;
        }
        while (local_start < local_end && text[local_start] == '.') ++local_start;
        const bool glued_to_more = local_start > 0 && text[local_start - 1] == '@';
        if (local_start == local_end || !is_alnum(text[local_start]) || glued_to_more) {
            p = marker_end - 1;
            continue;
        }
        // A bracket glued to the name but not to the domain, or the other way round, is
        // code indexing something ("items[at] name.first"), not an address.
        const std::size_t domain_start = skip_blanks(text, marker_end);
        if (!bare_at && (local_end == p) != (domain_start == marker_end)) {
            p = marker_end - 1;
            continue;
        }
        const Domain domain = read_domain(text, domain_start);
        // A call, an assignment or an index right after it makes the "domain" code.
        const bool code_follows =
            domain.end < text.size() &&
            (text[domain.end] == '(' || text[domain.end] == '=' || text[domain.end] == '[');
        const bool shouted =
            bare_at && (all_capitals(text.substr(local_start, local_end - local_start)) ||
                        all_capitals(domain.text));
        if (domain.labels >= 2 && domain.last_is_alpha && (!bare_at || domain.bare_dots > 0) &&
            !code_follows && !shouted) {
            std::string address(text.substr(local_start, local_end - local_start));
            address.push_back('@');
            address.append(domain.text);
            found.push_back(std::move(address));
        }
        p = marker_end - 1;
    }
    return found;
}

}  // namespace tarnvelox::harvest
