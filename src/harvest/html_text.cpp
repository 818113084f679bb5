#include "harvest/html_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "base/text_util.h"
#include "harvest/named_refs.h"

namespace tarnvelox::harvest {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCode = 0x10FFFF;

// Windows-1252 at 0x80-0x9F; the five bytes it leaves unassigned stand for themselves.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool is_ascii_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The end of the run of ASCII bytes that starts at `from`: pages are mostly ASCII, so eight
// bytes are tested at a time.
std::size_t ascii_run_end(std::string_view text, std::size_t from) {
    constexpr uint64_t kHighBits = 0x8080808080808080ULL;
    std::size_t p = from;
    for (; p + 8 <= text.size(); p += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + p, sizeof word);
        if ((word & kHighBits) != 0) break;
    }
    while (p < text.size() && static_cast<unsigned char>(text[p]) < 0x80) ++p;
    return p;
}

// The length of the well-formed UTF-8 character at the start of `text`, 0 when there is none.
std::size_t utf8_char_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;   // no overlong forms
        if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

// A numeric reference's value as browsers take it.
char32_t numeric_ref_code(char32_t value, bool overflow) {
    if (overflow || value == 0 || value > kMaxCode) return kReplacement;
    if (value >= 0xD800 && value <= 0xDFFF) return kReplacement;
    if (value >= 0x80 && value <= 0x9F) return kWindows1252High[value - 0x80];
    return value;
}

// The entry of the table named exactly `name`, or null.
const NamedRef* find_named_ref(std::string_view name) {
    const std::span<const NamedRef> table = named_refs();
    const auto it =
        std::lower_bound(table.begin(), table.end(), name,
                         [](const NamedRef& r, std::string_view n) { return r.name < n; });
    return it != table.end() && it->name == name ? &*it : nullptr;
}

// Decodes the reference at `amp` (an "&") when there is one: appends its character and returns
// the position after it; returns `amp` when there is none.
std::size_t decode_ref(std::string& out, std::string_view raw, std::size_t amp, RefPlace place) {
    std::size_t p = amp + 1;
    if (p < raw.size() && raw[p] == '#') {
        ++p;
        const bool hex = p < raw.size() && (raw[p] == 'x' || raw[p] == 'X');
        if (hex) ++p;
        const std::size_t digits_start = p;
        char32_t value = 0;
        bool overflow = false;
        for (; p < raw.size(); ++p) {
            const bool decimal_digit = raw[p] >= '0' && raw[p] <= '9';
            const int digit = hex ? hex_value(raw[p]) : (decimal_digit ? raw[p] - '0' : -1);
            if (digit < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            if (value > kMaxCode) {
                overflow = true;
                value = kMaxCode + 1;  // stays out of range however many digits follow
            }
        }
        if (p == digits_start) return amp;  // "&#" or "&#x" with no digits: no reference
        if (p < raw.size() && raw[p] == ';') ++p;
        append_utf8(out, numeric_ref_code(value, overflow));
        return p;
    }

    std::size_t run_end = p;
    while (run_end < raw.size() && run_end - p <= kMaxRefName && is_ascii_alnum(raw[run_end])) {
        ++run_end;
    }
    const std::string_view run = raw.substr(p, run_end - p);
    if (run.empty()) return amp;
    if (run.size() <= kMaxRefName && run_end < raw.size() && raw[run_end] == ';') {
        if (const NamedRef* ref = find_named_ref(run)) {
            append_utf8(out, ref->code);
            return run_end + 1;
        }
    }
    // Old-style names also stand without their ";": the longest one the text begins with.
    for (std::size_t length = std::min(run.size(), kMaxLegacyRefName); length >= 2; --length) {
        const NamedRef* ref = find_named_ref(run.substr(0, length));
        if (ref == nullptr || !ref->legacy) continue;
        const std::size_t after = p + length;
        if (place == RefPlace::Attribute && after < raw.size() &&
            (raw[after] == '=' || is_ascii_alnum(raw[after]))) {
            return amp;
        }
        append_utf8(out, ref->code);
        return after;
    }
    return amp;
}

}  // namespace

std::optional<Charset> charset_from_label(std::string_view label) {
    const auto is_trim = [](char c) { return base::is_space(c) || c == '"' || c == '\''; };
    while (!label.empty() && is_trim(label.front())) label.remove_prefix(1);
    while (!label.empty() && is_trim(label.back())) label.remove_suffix(1);
    for (std::string_view name : {"utf-8", "utf8", "unicode-1-1-utf-8"}) {
        if (base::equal_nocase(label, name)) return Charset::Utf8;
    }
    for (std::string_view name :
         {"iso-8859-1", "iso8859-1", "iso_8859-1", "iso88591", "latin1", "l1", "cp819", "ibm819",
          "iso-ir-100", "csisolatin1", "windows-1252", "cp1252", "x-cp1252", "us-ascii", "ascii",
          "ansi_x3.4-1968", "iso-8859-1:1987"}) {
        if (base::equal_nocase(label, name)) return Charset::Windows1252;
    }
    return std::nullopt;
}

void append_utf8(std::string& out, char32_t code) {
    if ((code >= 0xD800 && code <= 0xDFFF) || code > kMaxCode) code = kReplacement;
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while ((i = ascii_run_end(text, i)) < text.size()) {
        const std::size_t length = utf8_char_length(text.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text.size();
    std::size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

void append_converted(std::string& out, std::string_view raw, Charset charset) {
    std::size_t i = 0;
    while (i < raw.size()) {
        // Runs of ASCII are the same in every supported set.
        const std::size_t ascii = ascii_run_end(raw, i);
        out.append(raw.substr(i, ascii - i));
        i = ascii;
        if (i >= raw.size()) break;
        const auto byte = static_cast<unsigned char>(raw[i]);
        switch (charset) {
            case Charset::Utf8: {
                const std::size_t length = utf8_char_length(raw.substr(i));
                if (length == 0) {
                    append_utf8(out, kReplacement);
                    ++i;
                } else {
                    out.append(raw.substr(i, length));
                    i += length;
                }
                break;
            }
            case Charset::Windows1252:
                append_utf8(out, byte <= 0x9F ? kWindows1252High[byte - 0x80] : byte);
                ++i;
                break;
        }
    }
}

void append_decoded(std::string& out, std::string_view raw, Charset charset, RefPlace place) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t amp = raw.find('&', from);
        const std::size_t stop = amp == std::string_view::npos ? raw.size() : amp;
        append_converted(out, raw.substr(from, stop - from), charset);
        if (amp == std::string_view::npos) return;
        const std::size_t after = decode_ref(out, raw, amp, place);
        if (after == amp) {
            out.push_back('&');
            from = amp + 1;
        } else {
            from = after;
        }
    }
}

std::string decoded(std::string_view raw, Charset charset, RefPlace place) {
    std::string out;
    out.reserve(raw.size());
    append_decoded(out, raw, charset, place);
    return out;
}

}  // namespace tarnvelox::harvest
