#include "base/text_util.h"

#include <cstring>
#include <limits>

namespace tarnvelox::base {

std::string_view c_text(std::string_view text) {
    if (text.empty()) return text;  // memchr must not see a null pointer
    const void* nul = std::memchr(text.data(), '\0', text.size());
    if (nul == nullptr) return text;
    return text.substr(0, static_cast<const char*>(nul) - text.data());
}

std::size_t find_nocase(std::string_view text, std::string_view sought, std::size_t from) {
    if (from > text.size()) return kNotFound;
    if (sought.empty()) return from;
    if (sought.size() > text.size() - from) return kNotFound;
    const char first_upper = to_upper(sought[0]);
    const char first_lower = to_lower(sought[0]);
    const std::size_t last = text.size() - sought.size();
    for (std::size_t i = from; i <= last; ++i) {
        // Skip quickly to the next position whose first character can match.
        const char c = text[i];
        if (c != first_upper && c != first_lower) continue;
        std::size_t k = 1;
        while (k < sought.size() && to_upper(text[i + k]) == to_upper(sought[k])) ++k;
        if (k == sought.size()) return i;
    }
    return kNotFound;
}

namespace {

std::size_t replace_at(std::string& text, std::size_t pos, std::size_t old_size,
                       std::string_view new_text) {
    if (pos == kNotFound) return kNotFound;
    text.replace(pos, old_size, new_text);
    return pos + new_text.size();
}

}  // namespace

std::size_t replace_first(std::string& text, std::string_view old_text, std::string_view new_text,
                          std::size_t from) {
    if (from > text.size()) return kNotFound;
    return replace_at(text, text.find(old_text, from), old_text.size(), new_text);
}

std::size_t replace_first_nocase(std::string& text, std::string_view old_text,
                                 std::string_view new_text, std::size_t from) {
    return replace_at(text, find_nocase(text, old_text, from), old_text.size(), new_text);
}

std::string& trim_right(std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && is_space(text[end - 1])) --end;
    text.resize(end);
    return text;
}

std::string& trim(std::string& text) {
    trim_right(text);
    std::size_t begin = 0;
    while (begin < text.size() && is_space(text[begin])) ++begin;
    text.erase(0, begin);
    return text;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

std::string repeat_char(char c, long n) {
    if (n <= 0) return {};
    return std::string(static_cast<std::size_t>(n), c);
}

std::string number_text(long long n) { return std::to_string(n); }

std::string_view copy_until(std::string_view text, char stop) {
    return text.substr(0, text.find(stop));
}

std::string_view copy_until_bounded(std::string_view text, char stop, std::size_t n) {
    return copy_bounded(copy_until(text, stop), n);
}

int32_t read_int(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range: huge inputs clamp.
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int32_t>::max()) + 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= kLimit) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace tarnvelox::base
