#pragma once

// ItemRecord: one link, e-mail address or search-engine entry, and its one-line text form (the
// record line) as stored in the link tree files. A record owns its texts and the rest of its
// chain: destroying the head of a chain frees every record reachable through `next` (without
// recursion, so chains of any length are safe).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvelox::store {

// `kind` bits.
inline constexpr uint32_t KIND_DOWNLOAD = 0x0001;       // with KIND_VENDOR: fetch the index file
inline constexpr uint32_t KIND_PAGE = 0x0040;           // a crawlable web page link
inline constexpr uint32_t KIND_SEARCH_ENGINE = 0x0080;  // engine entry of type "S"
inline constexpr uint32_t KIND_DIRECTORY = 0x0100;      // engine entry of type "D"
inline constexpr uint32_t KIND_ADDRESS = 0x0400;        // an e-mail address
inline constexpr uint32_t KIND_VENDOR = 0x2000;         // internal request to the update host

// `status` bits.
inline constexpr int32_t STATUS_ACTIVE = 0x0001;          // handed to a connection slot
inline constexpr int32_t STATUS_VISITED = 0x0004;         // taken for fetching / answered
inline constexpr int32_t STATUS_BAD = 0x0008;             // the fetch gave no usable page
inline constexpr int32_t STATUS_NOT_FOUND = 0x0010;       // the answer was "404 "
inline constexpr int32_t STATUS_HOST_NOT_FOUND = 0x0100;  // the host name did not resolve
inline constexpr int32_t STATUS_TIMEOUT = 0x0400;         // no answer in time
inline constexpr int32_t STATUS_MOVED = 0x1000;           // a redirect was followed

// A text that may be absent. Absent and empty are different: an absent `source` is written as
// "******", an absent `http_status` as nothing.
using OptText = std::optional<std::string>;

struct ItemRecord {
    ItemRecord() = default;
    ~ItemRecord();
    ItemRecord(const ItemRecord&) = delete;  // use copy_record: it decides what `next` becomes
    ItemRecord& operator=(const ItemRecord&) = delete;
    ItemRecord(ItemRecord&&) = default;
    ItemRecord& operator=(ItemRecord&&) = default;

    std::unique_ptr<ItemRecord> next;  // rest of the chain; null at its end
    OptText title;        // page title or link text; the address as shown; engine name
    OptText url;          // the key: absolute URL, "mailto:" + address, engine request URL
    OptText source;       // url of the page the item was found on; engine home page
    OptText size;         // "Content-Length:" value after a successful fetch
    OptText http_status;  // "400", "403" or "404" after such an answer
    OptText modified;     // "Last-Modified:" value after a successful fetch
    int32_t file_offset = 0;  // node offset in its link tree file; -1 when not stored
    uint32_t kind = 0;        // KIND_* bits
    int32_t status = 0;       // STATUS_* bits
    int32_t selected = 0;     // engine entries: ticked by the user
    uint32_t engine_id = 0;   // engine entries: group number from the engines file
    uint64_t list_seq = 0;    // rises along the in-memory list that holds the record
};

using RecordPtr = std::unique_ptr<ItemRecord>;

// A fresh zeroed record (file_offset 0, not -1: the store sets it from the insert result).
[[nodiscard]] RecordPtr clear_record();

// The record's url as the zero-terminated text it stands for (up to its first NUL byte); empty
// when there is none or no record.
[[nodiscard]] std::string_view url_text(const ItemRecord* rec);
[[nodiscard]] inline std::string_view url_text(const ItemRecord& rec) { return url_text(&rec); }
// Frees the record's texts and the rest of its chain, and zeroes every field. Returns `rec`.
ItemRecord& clear_record(ItemRecord& rec);

// Deep copy of `source` into `dest` (or into a new record when `dest` is null). Texts are
// duplicated, numbers copied. Records own their chains, so the copy cannot share the source's
// `next`: the copy's `next` is null and a caller that chains it sets `next` itself. Copying a
// record into itself leaves it unchanged.
ItemRecord& copy_record(ItemRecord& dest, const ItemRecord& source);
[[nodiscard]] RecordPtr copy_record(const ItemRecord& source);

// Frees a whole chain. Equivalent to letting the owning pointer go; kept for callers that
// want to say so explicitly.
void free_record_chain(RecordPtr chain);

// The record line:
//   url "<1>" title(50) "<2>" kind(%5i) "<3>" status(%5i) "<4>" source|"******"
//   "<5>" size(10) "<6>" http_status "<7>" modified(30) "\n"
// Title, size and modified are cut or blank-padded to exactly 50, 10 and 30 characters; kind and
// status are right-aligned in at least 5 characters and widen beyond. Each text ends at its first
// NUL byte. The line is capped at kMaxRecordLine characters (the rest is cut).
inline constexpr std::size_t kMaxRecordLine = 2047;  // a 2048-byte buffer with its terminator
inline constexpr std::size_t kTitleWidth = 50;
inline constexpr std::size_t kSizeWidth = 10;
inline constexpr std::size_t kModifiedWidth = 30;
inline constexpr std::string_view kNoSource = "******";

[[nodiscard]] std::string format_record_line(const ItemRecord& rec);

// Parses a record line back into a new record, or returns null when any of the seven markers is
// missing. The line ends at its first NUL. "<1>" is searched from the start, "<2>" from "<1>",
// "<3>" from "<2>", "<4>" from "<3>", and "<5>", "<6>", "<7>" each from "<4>"; every text runs to
// the next marker position found (in any order) or to the end. Title is trimmed at both ends,
// modified at the right; url, source, size and http_status are kept as they are (present, even
// when empty). next, file_offset, selected and engine_id are 0.
[[nodiscard]] RecordPtr parse_record_line(std::string_view line);

// The texts of a record line as parse_record_line cuts them, untrimmed and without copying
// (views into `line`); none when a marker is missing.
struct RecordLineFields {
    std::string_view url, title, kind, status, source, size, http_status, modified;
};
[[nodiscard]] std::optional<RecordLineFields> split_record_line(std::string_view line);

}  // namespace tarnvelox::store
