#include "store/item_record.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "base/text_util.h"

namespace tarnvelox::store {

ItemRecord::~ItemRecord() {
    // Unlink the chain one record at a time so that a long chain does not recurse once per record.
    RecordPtr rest = std::move(next);
    while (rest) rest = std::move(rest->next);
}

std::string_view url_text(const ItemRecord* rec) {
    return rec != nullptr && rec->url ? base::c_text(*rec->url) : std::string_view();
}

RecordPtr clear_record() { return std::make_unique<ItemRecord>(); }

ItemRecord& clear_record(ItemRecord& rec) {
    rec = ItemRecord();
    return rec;
}

ItemRecord& copy_record(ItemRecord& dest, const ItemRecord& source) {
    if (&dest == &source) return dest;
    dest.next.reset();
    dest.title = source.title;
    dest.url = source.url;
    dest.source = source.source;
    dest.size = source.size;
    dest.http_status = source.http_status;
    dest.modified = source.modified;
    dest.file_offset = source.file_offset;
    dest.kind = source.kind;
    dest.status = source.status;
    dest.selected = source.selected;
    dest.engine_id = source.engine_id;
    return dest;
}

RecordPtr copy_record(const ItemRecord& source) {
    RecordPtr copy = clear_record();
    copy_record(*copy, source);
    return copy;
}

void free_record_chain(RecordPtr chain) { chain.reset(); }

namespace {

std::string_view text_of(const OptText& text) {
    return text ? base::c_text(*text) : std::string_view();
}

// "%-N.Ns": exactly `width` characters, cut or padded on the right with blanks.
void append_fixed(std::string& out, std::string_view text, std::size_t width) {
    text = text.substr(0, width);
    out.append(text);
    out.append(width - text.size(), ' ');
}

// "%5i": at least five characters, right-aligned.
void append_number(std::string& out, int32_t value) {
    std::array<char, 16> digits{};
    auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    (void)ec;
    const std::size_t len = static_cast<std::size_t>(end - digits.data());
    if (len < 5) out.append(5 - len, ' ');
    out.append(digits.data(), len);
}

}  // namespace

std::string format_record_line(const ItemRecord& rec) {
    std::string line;
    line.reserve(256);
    line.append(text_of(rec.url));
    line.append("<1>");
    append_fixed(line, text_of(rec.title), kTitleWidth);
    line.append("<2>");
    append_number(line, static_cast<int32_t>(rec.kind));
    line.append("<3>");
    append_number(line, rec.status);
    line.append("<4>");
    line.append(rec.source ? base::c_text(*rec.source) : kNoSource);
    line.append("<5>");
    append_fixed(line, text_of(rec.size), kSizeWidth);
    line.append("<6>");
    line.append(text_of(rec.http_status));
    line.append("<7>");
    append_fixed(line, text_of(rec.modified), kModifiedWidth);
    line.push_back('\n');
    if (line.size() > kMaxRecordLine) line.resize(kMaxRecordLine);
    return line;
}

std::optional<RecordLineFields> split_record_line(std::string_view line) {
    line = base::c_text(line);
    constexpr std::size_t kMarkerLength = 3;
    const std::size_t m1 = line.find("<1>");
    if (m1 == base::kNotFound) return std::nullopt;
    const std::size_t m2 = line.find("<2>", m1);
    if (m2 == base::kNotFound) return std::nullopt;
    const std::size_t m3 = line.find("<3>", m2);
    if (m3 == base::kNotFound) return std::nullopt;
    const std::size_t m4 = line.find("<4>", m3);
    if (m4 == base::kNotFound) return std::nullopt;
    const std::size_t m5 = line.find("<5>", m4);
    const std::size_t m6 = line.find("<6>", m4);
    const std::size_t m7 = line.find("<7>", m4);
    if (m5 == base::kNotFound || m6 == base::kNotFound || m7 == base::kNotFound) return std::nullopt;

    // Each text runs from just after its marker to the nearest cut after that point.
    const std::array<std::size_t, 7> cuts{m1, m2, m3, m4, m5, m6, m7};
    auto field = [&](std::size_t marker) {
        const std::size_t begin = marker + kMarkerLength;
        std::size_t end = line.size();
        for (std::size_t cut : cuts) {
            if (cut >= begin && cut < end) end = cut;
        }
        return line.substr(begin, end - begin);
    };
    return RecordLineFields{line.substr(0, m1), field(m1), field(m2), field(m3),
                            field(m4),          field(m5), field(m6), field(m7)};
}

RecordPtr parse_record_line(std::string_view line) {
    const std::optional<RecordLineFields> f = split_record_line(line);
    if (!f) return nullptr;
    RecordPtr rec = clear_record();
    rec->url = std::string(f->url);
    rec->title = std::string(base::trimmed(f->title));
    rec->kind = static_cast<uint32_t>(base::read_int(f->kind));
    rec->status = base::read_int(f->status);
    rec->source = std::string(f->source);
    rec->size = std::string(f->size);
    rec->http_status = std::string(f->http_status);
    std::string modified(f->modified);
    rec->modified = std::move(base::trim_right(modified));
    return rec;
}

}  // namespace tarnvelox::store
