#pragma once

// Text helpers shared by every subsystem. Texts are 8-bit byte strings; case folding and the
// white-space class are ASCII only (bytes 0x80-0xFF are ordinary characters). Functions that
// edit take the string by reference and edit it in place; the others borrow their arguments
// only for the duration of the call. They work on the whole view they are given, NUL bytes
// included; code that takes text from outside cuts it at its first NUL (c_text) once, where it
// comes in, as a zero-terminated reader would see it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvelox::base {

inline constexpr std::size_t kNotFound = std::string_view::npos;

// Blank, tab, line feed, vertical tab, form feed and carriage return.
[[nodiscard]] constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
[[nodiscard]] constexpr char to_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
[[nodiscard]] constexpr char to_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text as a zero-terminated string would see it: everything before the first NUL byte.
[[nodiscard]] std::string_view c_text(std::string_view text);

// Whether `a` and `b` are the same text, ASCII letters compared without regard to case.
[[nodiscard]] constexpr bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    }
    return true;
}

// Position of the first case-insensitive occurrence of `sought` in `text`, or kNotFound.
// An empty `sought` is found at position 0. This is the containment test of every filter.
[[nodiscard]] std::size_t find_nocase(std::string_view text, std::string_view sought,
                                      std::size_t from = 0);

// Replaces the first exact occurrence of `old_text` at or after `from` by `new_text`, moving the
// rest of the text. Returns the position just after the inserted text, or kNotFound when
// `old_text` does not occur (the text is then unchanged). Callers that replace every occurrence
// loop on it; `new_text` must then not contain `old_text`.
std::size_t replace_first(std::string& text, std::string_view old_text, std::string_view new_text,
                          std::size_t from = 0);
// The same with the occurrence found by find_nocase.
std::size_t replace_first_nocase(std::string& text, std::string_view old_text,
                                 std::string_view new_text, std::size_t from = 0);

// Remove trailing (trim_right) or leading and trailing (trim) white space; return the text.
std::string& trim_right(std::string& text);
std::string& trim(std::string& text);
[[nodiscard]] std::string_view trimmed(std::string_view text);

// `n` copies of `c`; empty when n is 0 or less.
[[nodiscard]] std::string repeat_char(char c, long n);

// Signed decimal text of `n`.
[[nodiscard]] std::string number_text(long long n);

// At most `n` leading characters of `text` (a bounded copy as an explicit length cap).
[[nodiscard]] constexpr std::string_view copy_bounded(std::string_view text, std::size_t n) {
    return text.substr(0, n);
}
// `text` up to, not including, the first `stop` character (all of it when there is none).
[[nodiscard]] std::string_view copy_until(std::string_view text, char stop);
// The same, at most `n` characters.
[[nodiscard]] std::string_view copy_until_bounded(std::string_view text, char stop, std::size_t n);

// Reads a decimal number the way the stored files are read: leading white space skipped, an
// optional sign, then digits up to the first other character. No digits gives 0; values beyond
// the 32-bit range are clamped to it.
[[nodiscard]] int32_t read_int(std::string_view text);

}  // namespace tarnvelox::base
