#include "update/vendor_index.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "base/line_reader.h"
#include "base/text_util.h"

namespace tarnvelox::update {
namespace {

// The section a line opens: "%%", a class character and two digits. None when the line opens
// no section; -1 for a section that is not read (another class, a number out of range).
std::optional<int> section_opened(std::string_view line) {
    const std::size_t mark = line.find("%%");
    if (mark == std::string_view::npos || line.size() < mark + 5) return std::nullopt;
    const char kind = line[mark + 2];
    const char tens = line[mark + 3];
    const char ones = line[mark + 4];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9') return std::nullopt;
    const int number = (tens - '0') * 10 + (ones - '0');
    if ((kind != '*' && kind != '$') || number >= kIndexSections) return -1;
    return number;
}

}  // namespace

int read_vendor_index(const std::string& path, VendorState& state) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) return 0;
    std::array<std::string, kIndexSections> sections;
    std::optional<int> open_section;  // -1: a section whose text is skipped
    std::string text;
    base::for_each_line(file.get(), kMaxIndexLine, [&](std::string& line) {
        const std::string_view tested = base::trimmed(line);
        if (open_section) {
            if (tested.find('|') != std::string_view::npos) {
                if (*open_section >= 0) sections[static_cast<std::size_t>(*open_section)] = text;
                open_section.reset();
                text.clear();
            } else {
                text += line;
                text += '\n';
            }
            return;
        }
        open_section = section_opened(tested);
    });
    // A section still open here never met its "|": it is not kept.
    state.index_sections = std::move(sections);
    return 1;
}

}  // namespace tarnvelox::update
