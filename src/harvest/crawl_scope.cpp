#include "harvest/crawl_scope.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "harvest/page_text.h"
#include "harvest/wildcard.h"

namespace tarnvelox::harvest {

using base::c_text;

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Words are runs of ASCII letters and digits; a table keeps the per-byte test branch-free.
constexpr std::array<bool, 256> kWordByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    }
    return table;
}();

bool is_word_char(char c) { return kWordByte[static_cast<unsigned char>(c)]; }

#if defined(__SSE2__)
// Sixteen bytes at a time: bit i of the result is set when byte i is a letter or digit. After
// OR-ing 0x20 only "A".."Z" and "a".."z" fall in "a".."z"; unsigned x <= n is min(x, n) == x.
inline unsigned word_bits(__m128i v) {
    const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i letter_offset = _mm_sub_epi8(lower, _mm_set1_epi8('a'));
    const __m128i digit_offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i letter =
        _mm_cmpeq_epi8(_mm_min_epu8(letter_offset, _mm_set1_epi8(25)), letter_offset);
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(digit_offset, _mm_set1_epi8(9)), digit_offset);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
}
#endif

// The first position from `pos` that is not a letter or digit, or the end.
std::size_t end_of_word(std::string_view text, std::size_t pos) {
#if defined(__SSE2__)
    while (pos + 16 <= text.size()) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
        const unsigned other = ~word_bits(v) & 0xffffu;
        if (other != 0) return pos + static_cast<std::size_t>(__builtin_ctz(other));
        pos += 16;
    }
#endif
    while (pos < text.size() && is_word_char(text[pos])) ++pos;
    return pos;
}

// The first `c` at or after `pos`, or kNone. Inline: the ">" of a tag is usually a few bytes on.
std::size_t find_byte(std::string_view text, char c, std::size_t pos) {
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (; pos + 16 <= text.size(); pos += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
        const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted)));
        if (bits != 0) return pos + static_cast<std::size_t>(__builtin_ctz(bits));
    }
#endif
    for (; pos < text.size(); ++pos) {
        if (text[pos] == c) return pos;
    }
    return kNone;
}

// The first position from `pos` that holds a letter, a digit or "<", or the end.
std::size_t next_word_or_tag(std::string_view text, std::size_t pos) {
#if defined(__SSE2__)
    while (pos + 16 <= text.size()) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
        const unsigned tag = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<'))));
        const unsigned wanted = word_bits(v) | tag;
        if (wanted != 0) return pos + static_cast<std::size_t>(__builtin_ctz(wanted));
        pos += 16;
    }
#endif
    while (pos < text.size() && !is_word_char(text[pos]) && text[pos] != '<') ++pos;
    return pos;
}

// Where skip_filler can move at all: white space, "&" (of "&nbsp;") and "<".
bool may_start_filler(char c) { return base::is_space(c) || c == '&' || c == '<'; }

// Replaces every occurrence of `pattern` by `with`, left to right. None of the rewrites of a
// keyword text can form a new occurrence of its own pattern, so one pass does what replacing
// the first occurrence until none is left would do.
std::string replace_all(std::string_view text, std::string_view pattern, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    std::size_t hit = text.find(pattern);
    while (hit != kNone) {
        out.append(text.substr(pos, hit - pos)).append(with);
        pos = hit + pattern.size();
        hit = text.find(pattern, pos);
    }
    out.append(text.substr(pos));
    return out;
}

// The keyword test's view of a parsed list: each entry that can ever match a word, filed by
// the first character a matching word must have, with what lets most words be turned away
// without running the wildcard matcher. The order in which entries are tried does not change
// the verdict: a "-" match fails the page whenever it happens, the other matches only set flags.
class KeywordMatcher {
public:
    enum class Verdict { Undecided, Matches, Fails };

    explicit KeywordMatcher(const KeywordList& list) {
        for (const std::string& entry : list) {
            Role role = Role::Alternative;
            std::string_view pattern = entry;
            if (!entry.empty() && (entry.front() == '+' || entry.front() == '-')) {
                role = entry.front() == '+' ? Role::Required : Role::Forbidden;
                pattern.remove_prefix(1);
            }
            // An empty pattern matches no word: an empty alternative or forbidden entry has no
            // effect, an empty required one can never be satisfied. The same holds for the
            // "+" and "-" entries compared as written, since words hold no "+" or "-".
            // Words hold only letters and digits: a pattern that starts with anything else
            // (".net", a quote, a byte of an accented letter) can never match one either.
            const char first = pattern.empty() ? '\0' : pattern.front();
            if (pattern.empty() || (first != '*' && first != '?' && !is_word_char(first))) {
                if (role == Role::Required) impossible_ = true;
                continue;
            }
            Entry e;
            e.pattern = pattern;
            e.role = role;
            e.has_star = pattern.find('*') != kNone;
            e.fixed_length = pattern.size() - static_cast<std::size_t>(
                                                  std::count(pattern.begin(), pattern.end(), '*'));
            e.key = pattern.front() == '*' || pattern.front() == '?'
                        ? kAnyFirst
                        : static_cast<unsigned char>(base::to_lower(pattern.front()));
            if (role == Role::Required) ++unsatisfied_;
            if (role == Role::Forbidden) has_forbidden_ = true;
            if (role == Role::Alternative) has_alternative_ = true;
            entries_.push_back(e);
        }
        build_quick_test();
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.key < b.key; });
        std::size_t k = 0;
        for (std::size_t key = 0; key <= kAnyFirst + 1; ++key) {
            while (k < entries_.size() && entries_[k].key < key) ++k;
            first_of_key_[key] = k;
        }
    }

    // False when no page can match: there is nothing to make a page a candidate, or a required
    // entry can never be met.
    [[nodiscard]] bool can_match() const { return has_alternative_ && !impossible_; }

    // `word` is not empty.
    Verdict offer(std::string_view word) {
        const auto first = static_cast<unsigned char>(base::to_lower(word.front()));
        Verdict verdict = offer_range(word, first);
        if (verdict == Verdict::Undecided) verdict = offer_range(word, kAnyFirst);
        return verdict;
    }

    [[nodiscard]] bool matched() const { return candidate_ && unsatisfied_ == 0; }

    // The first bytes a word must start with to pass may_match, when there are at most
    // kFewFirstBytes of them; none otherwise (or when no word can pass at all).
    static constexpr std::size_t kFewFirstBytes = 6;
    [[nodiscard]] const std::array<char, kFewFirstBytes>& few_first_bytes() const { return few_; }
    [[nodiscard]] std::size_t few_first_count() const { return few_count_; }

    // False when no entry can match `word` (not empty) by its first character and length: the
    // quick test that spares most words of running text the look at every entry.
    [[nodiscard]] bool may_match(std::string_view word) const {
        const uint64_t bits = lengths_by_first_[static_cast<unsigned char>(word.front())];
        return ((bits >> std::min(word.size(), kLongWord)) & 1) != 0;
    }

private:
    enum class Role { Alternative, Required, Forbidden };
    static constexpr std::size_t kAnyFirst = 256;  // key of entries that start with a wildcard

    struct Entry {
        std::string_view pattern;  // without its "+" or "-"
        Role role = Role::Alternative;
        std::size_t fixed_length = 0;  // characters other than "*": a matching word's length
        bool has_star = false;         // ...exactly (no star) or at least (a star)
        std::size_t key = kAnyFirst;   // lower-case first character, or kAnyFirst
        bool done = false;             // a required entry met, or an alternative no longer needed
    };

    // The quick test of may_match, from the entries still in play: once a page is a candidate
    // and a required word was seen, most pages have only their forbidden words left to look
    // for, and nearly every word is turned away at once.
    void build_quick_test() {
        few_count_ = 0;
        lengths_by_first_.fill(0);
        for (const Entry& e : entries_) {
            if (e.done) continue;
            // Lengths a matching word can have: exactly the pattern's (no star) or at least the
            // characters other than stars; lengths from kLongWord on share one bit.
            const std::size_t shortest = std::min(e.fixed_length, kLongWord);
            const uint64_t lengths =
                e.has_star ? ~uint64_t{0} << shortest : uint64_t{1} << shortest;
            if (e.key == kAnyFirst) {
                for (uint64_t& bits : lengths_by_first_) bits |= lengths;
            } else {
                lengths_by_first_[e.key] |= lengths;
                lengths_by_first_[static_cast<unsigned char>(
                    base::to_upper(static_cast<char>(e.key)))] |= lengths;
            }
        }
        std::size_t count = 0;
        for (std::size_t b = 0; b < lengths_by_first_.size(); ++b) {
            if (lengths_by_first_[b] == 0) continue;
            if (count == kFewFirstBytes) return;
            few_[count++] = static_cast<char>(b);
        }
        few_count_ = count;
    }

    Verdict offer_range(std::string_view word, std::size_t key) {
        for (std::size_t k = first_of_key_[key]; k < first_of_key_[key + 1]; ++k) {
            Entry& e = entries_[k];
            if (e.done) continue;
            if (e.has_star ? word.size() < e.fixed_length : word.size() != e.fixed_length) continue;
            if (!wildcard_match(word, e.pattern)) continue;
            switch (e.role) {
                case Role::Forbidden:
                    return Verdict::Fails;
                case Role::Required:
                    e.done = true;
                    --unsatisfied_;
                    build_quick_test();
                    break;
                case Role::Alternative:
                    candidate_ = true;
                    for (Entry& other : entries_) other.done |= other.role == Role::Alternative;
                    build_quick_test();
                    break;
            }
            // Without forbidden entries nothing later can undo a match.
            if (!has_forbidden_ && candidate_ && unsatisfied_ == 0) return Verdict::Matches;
        }
        return Verdict::Undecided;
    }

    static constexpr std::size_t kLongWord = 63;
    std::array<uint64_t, 256> lengths_by_first_{};  // per first byte: lengths that may match
    std::vector<Entry> entries_;                             // sorted by key
    std::array<std::size_t, kAnyFirst + 2> first_of_key_{};  // entries of key k: [k], [k + 1])
    std::array<char, kFewFirstBytes> few_{};
    std::size_t few_count_ = 0;
    std::size_t unsatisfied_ = 0;
    bool candidate_ = false;
    bool has_alternative_ = false;
    bool has_forbidden_ = false;
    bool impossible_ = false;
};

}  // namespace

void compute_scope_base(SearchTexts& search, int32_t search_mode) {
    search.scope_base.reset();
    if (search_mode != kHarvest || !search.starting_url || search.starting_url->empty()) return;
    const std::string_view url = c_text(*search.starting_url);
    switch (search.crawl_scope) {
        case kScopeUrl:
            search.scope_base.emplace(url);
            return;
        case kScopeDirectory:
        case kScopePath:
        case kScopeServer: {
            const std::size_t separator = url.find("//");
            std::string_view base = separator == kNone ? url : url.substr(separator + 2);
            base = base.substr(0, base.rfind('/'));
            if (search.crawl_scope == kScopeServer) base = base.substr(0, base.find('/'));
            search.scope_base.emplace(base);
            return;
        }
        default:  // "No Limit", and any value outside the five buttons
            return;
    }
}

bool scope_admits(const SearchTexts& search, std::string_view link) {
    if (search.crawl_scope == kScopeUrl) return false;
    if (!search.scope_base) return true;
    link = c_text(link);
    const std::string_view base = *search.scope_base;
    const std::size_t at = link.find(base);
    if (at == kNone) return false;
    if (search.crawl_scope == kScopeDirectory) {
        std::string_view rest = link.substr(at + base.size());
        if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
        if (rest.find('/') != kNone) return false;  // only files directly in the directory
    }
    return true;
}

void parse_keyword_list(KeywordList& list, const std::optional<std::string>& text) {
    list.clear();
    std::string_view typed = text ? c_text(*text) : std::string_view();
    typed = base::copy_bounded(typed, kMaxKeywordText);

    std::string work = replace_all(typed, " OR ", ",");
    work = replace_all(work, " AND ", ",+");
    work = replace_all(work, " NOT ", ",-");
    std::replace(work.begin(), work.end(), ' ', ',');
    // Runs of commas become one.
    work.erase(std::unique(work.begin(), work.end(),
                           [](char a, char b) { return a == ',' && b == ','; }),
               work.end());

    std::size_t pos = 0;
    while (pos < work.size() && base::is_space(work[pos])) ++pos;
    while (pos < work.size() && list.size() < kMaxKeywords) {
        const std::size_t comma = work.find(',', pos);
        list.emplace_back(work.substr(pos, comma == kNone ? kNone : comma - pos));
        if (comma == kNone) break;
        pos = comma + 1;
        while (pos < work.size() && base::is_space(work[pos])) ++pos;
    }
}

namespace {

// The rest of the keyword test once only words starting with a few bytes can change the verdict
// (typically the forbidden words, when the page is already a candidate): instead of walking
// every word, jump from one word starting with such a byte to the next.
//
// A word is a maximal run of letters and digits outside tags. Every "<" the walk meets outside a
// tag is passed up to the first ">" after it (or stepped over when there is none), whether the
// filler or the walk meets it. So a word start c is inside a tag exactly when the last "<" in
// [pos, c) has its first ">" after c: if that "<" lies in an earlier tag, the first ">" after it
// ends that tag too. The only other thing the filler passes is "&nbsp;", whose "nbsp" no entry
// in play matches (checked by the caller). `pos` is just after a word, outside any tag.
KeywordMatcher::Verdict finish_with_few_first_bytes(
    KeywordMatcher& matcher, std::string_view page, std::size_t pos,
    const std::array<char, KeywordMatcher::kFewFirstBytes>& firsts, std::size_t count) {
    auto sought = [&](char c) {
        for (std::size_t i = 0; i < count; ++i) {
            if (firsts[i] == c) return true;
        }
        return false;
    };
    while (pos < page.size()) {
        // The next start of a word with a sought first byte, and the last "<" before it.
        std::size_t start = kNone;
        std::size_t last_open = kNone;
        std::size_t at = pos;
#if defined(__SSE2__)
        unsigned carry = at > 0 && is_word_char(page[at - 1]) ? 1u : 0u;
        for (; at + 16 <= page.size(); at += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(page.data() + at));
            __m128i first = _mm_setzero_si128();
            for (std::size_t i = 0; i < count; ++i) {
                first = _mm_or_si128(first, _mm_cmpeq_epi8(v, _mm_set1_epi8(firsts[i])));
            }
            const unsigned words = word_bits(v);
            const unsigned starts = words & ~((words << 1) | carry) & 0xffffu;
            carry = (words >> 15) & 1u;
            const auto opens = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<'))));
            const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(first)) & starts;
            if (hits != 0) {
                const auto k = static_cast<unsigned>(__builtin_ctz(hits));
                const unsigned before = opens & ((1u << k) - 1u);
                if (before != 0) last_open = at + 31 - static_cast<std::size_t>(__builtin_clz(before));
                start = at + k;
                break;
            }
            if (opens != 0) last_open = at + 31 - static_cast<std::size_t>(__builtin_clz(opens));
        }
#endif
        if (start == kNone) {
            for (; at < page.size(); ++at) {
                const char c = page[at];
                if (c == '<') last_open = at;
                if (sought(c) && (at == 0 || !is_word_char(page[at - 1]))) {
                    start = at;
                    break;
                }
            }
        }
        if (start == kNone) break;
        if (last_open != kNone) {
            const std::size_t close = find_byte(page, '>', last_open + 1);
            if (close != kNone && close > start) {  // inside a tag: go on after it
                pos = close + 1;
                continue;
            }
        }
        const std::size_t end = end_of_word(page, start);
        pos = std::max(end, start + 1);
        const std::string_view word = page.substr(start, end - start);
        if (word.empty() || !matcher.may_match(word)) continue;
        const KeywordMatcher::Verdict verdict = matcher.offer(word);
        if (verdict != KeywordMatcher::Verdict::Undecided) return verdict;
    }
    return matcher.matched() ? KeywordMatcher::Verdict::Matches : KeywordMatcher::Verdict::Fails;
}

}  // namespace

bool page_matches_keywords(const KeywordList& list, std::string_view page) {
    if (list.empty() || list.front().empty()) return true;
    KeywordMatcher matcher(list);
    if (!matcher.can_match()) return false;

    page = c_text(page);
    const std::size_t header_end = page.find("\r\n\r\n");
    std::size_t pos = header_end == kNone ? 0 : header_end;
    FillerSkipper filler(page);
    pos = filler.skip(pos);
    for (;;) {
        // On to the next word. A "<" that opens a whole tag is passed with the filler after it;
        // one without a ">" after it, like every other character, is stepped over.
        for (;;) {
            pos = next_word_or_tag(page, pos);
            if (pos >= page.size() || page[pos] != '<') break;
            const std::size_t next = filler.skip(pos);
            pos = next != pos ? next : pos + 1;
        }
        if (pos >= page.size()) break;
        const std::size_t start = pos;
        pos = end_of_word(page, pos);
        const std::string_view word = page.substr(start, pos - start);
        if (matcher.may_match(word)) {
            switch (matcher.offer(word)) {
                case KeywordMatcher::Verdict::Matches:
                    return true;
                case KeywordMatcher::Verdict::Fails:
                    return false;
                case KeywordMatcher::Verdict::Undecided:
                    break;
            }
            // The entries still in play may now be few enough to look for them directly.
            const std::size_t count = matcher.few_first_count();
            if (count > 0 && !matcher.may_match("nbsp")) {
                return finish_with_few_first_bytes(matcher, page, pos,
                                                   matcher.few_first_bytes(), count) ==
                       KeywordMatcher::Verdict::Matches;
            }
        }
        // Most words end in one blank before the next word: that is all the filler would skip.
        if (pos + 1 < page.size() && page[pos] == ' ' && is_word_char(page[pos + 1])) {
            ++pos;
        } else if (pos < page.size() && may_start_filler(page[pos])) {
            pos = filler.skip(pos);
        }
    }
    return matcher.matched();
}

}  // namespace tarnvelox::harvest
