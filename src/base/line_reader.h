#pragma once

// Reading a text file of lines (settings, projects, engine definitions) with a cap on a line's
// length. A line longer than the cap (never written by the program; a damaged or hand-edited
// file) is read to its line feed, but only its first `max_line` characters count: the rest is
// dropped rather than read as a line of its own, so a long value cannot smuggle in a key.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tarnvelox::base {

// Calls `take(line)` (a std::string&, without its "\n") for every line of `file`, the last one
// also when no line feed ends it (an empty last line is not passed).
template <typename Take>
void for_each_line(std::FILE* file, std::size_t max_line, Take&& take) {
    constexpr std::size_t kReadChunk = 16 * 1024;
    std::vector<char> chunk(kReadChunk);
    std::string line;
    line.reserve(max_line);
    std::size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        const char* p = chunk.data();
        const char* const end = p + got;
        while (p < end) {
            const auto* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
            const char* const piece_end = newline != nullptr ? newline : end;
            const std::size_t room = max_line - line.size();
            line.append(p, std::min(room, static_cast<std::size_t>(piece_end - p)));
            if (newline == nullptr) break;
            take(line);
            line.clear();
            p = newline + 1;
        }
    }
    if (!line.empty()) take(line);
}

}  // namespace tarnvelox::base
