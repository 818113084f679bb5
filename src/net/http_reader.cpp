#include "net/http_reader.h"

#include <algorithm>
#include <utility>

#include "base/text_util.h"
#include "net/content_decoder.h"

namespace tarnvelox::net {

namespace {

// What every status line of this reader's answers begins with.
constexpr std::string_view kStatusPrefix = "HTTP/1.";
// What a stream must have begun with to count as an answer with a header at all: a stream
// ending before it is a plain body (when no status line is expected).
constexpr std::size_t kHttpNameLength = 5;  // "HTTP/"
// The largest chunk size taken. Far past any real body, and small enough that the size of a
// chunk line never overflows on its way there.
constexpr int64_t kMaxChunkSize = int64_t{1} << 60;
// Most output reserved ahead of the body bytes themselves, so that a huge announced length
// does not make the reader hold memory for bytes that may never come.
constexpr int64_t kMaxReserveAhead = 1 << 20;

[[nodiscard]] constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }

[[nodiscard]] std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// Calls `each` with every item of a comma-separated list, blanks around it removed (empty
// items included).
template <typename Each>
void for_each_item(std::string_view list, Each each) {
    for (;;) {
        const std::size_t comma = list.find(',');
        each(trim_blanks(list.substr(0, comma)));
        if (comma == std::string_view::npos) return;
        list.remove_prefix(comma + 1);
    }
}

// A Content-Length item: digits only; false for anything else or a value past int64_t.
[[nodiscard]] bool parse_length(std::string_view text, int64_t& value) {
    if (text.empty()) return false;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (v > (INT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

[[nodiscard]] int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A chunk-size line without its line end: hex digits, optional blanks, then nothing or ";"
// and extensions (ignored).
[[nodiscard]] bool parse_chunk_size(std::string_view line, int64_t& size) {
    std::size_t i = 0;
    int64_t v = 0;
    for (; i < line.size() && hex_value(line[i]) >= 0; ++i) {
        if (v > (kMaxChunkSize >> 4)) return false;
        v = v * 16 + hex_value(line[i]);
    }
    if (i == 0) return false;
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i < line.size() && line[i] != ';') return false;
    size = v;
    return true;
}

// The line without its LF and the CR before it.
[[nodiscard]] std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

HttpReader::HttpReader(int64_t body_limit, bool expect_status_line, std::vector<char> buffer)
    : body_limit_(std::max<int64_t>(body_limit, 0)),
      expect_status_line_(expect_status_line),
      out_(std::move(buffer)) {
    out_.clear();
}

HttpReader::~HttpReader() = default;

std::size_t HttpReader::feed(std::string_view bytes) {
    std::size_t used = 0;
    // Every step either takes at least one byte or leaves its state.
    while (used < bytes.size()) {
        const std::string_view rest = bytes.substr(used);
        switch (state_) {
            case ReadState::Header:
                used += take_header(rest);
                break;
            case ReadState::Body:
                used += framing_ == Framing::Chunked ? take_chunked(rest) : take_body(rest);
                break;
            case ReadState::Done:
            case ReadState::Failed:
                return used;
        }
    }
    return used;
}

void HttpReader::end_of_stream() {
    switch (state_) {
        case ReadState::Header:
            if (!expect_status_line_ && interim_ == 0 && !status_seen_ && !line_.empty() &&
                line_.size() < kHttpNameLength) {
                start_plain_body();
                if (state_ == ReadState::Body) state_ = ReadState::Done;
            } else {
                fail(ReadError::EndedEarly);
            }
            return;
        case ReadState::Body:
            switch (framing_) {
                case Framing::UntilClose:
                case Framing::None:
                    // The close is all that ends such a body: a coded stream cut before its
                    // end shows that the connection ended early.
                    if (coded_stream_cut()) {
                        fail(ReadError::EndedEarly);
                    } else {
                        state_ = ReadState::Done;
                    }
                    return;
                case Framing::Length:
                    bytes_missing_ = remaining_;
                    fail(ReadError::EndedEarly);
                    return;
                case Framing::Chunked:
                    fail(ReadError::EndedEarly);
                    return;
            }
            return;
        case ReadState::Done:
        case ReadState::Failed:
            return;
    }
}

void HttpReader::set_body_limit(int64_t limit) { body_limit_ = std::max(limit, body_size_); }

bool HttpReader::reusable() const {
    const bool framed =
        framing_ == Framing::Length || framing_ == Framing::Chunked || framing_ == Framing::None;
    return state_ == ReadState::Done && !cut_ && framed && keep_alive_ &&
           !(has_transfer_coding_ && has_length_);
}

std::size_t HttpReader::take_header(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == ReadState::Header) {
        const std::string_view rest = bytes.substr(used);
        if (!status_seen_ && line_.size() < kStatusPrefix.size()) {
            // Decided as early as the bytes allow, before anything is held.
            const std::size_t n = std::min(kStatusPrefix.size() - line_.size(), rest.size());
            if (rest.substr(0, n) != kStatusPrefix.substr(line_.size(), n)) {
                if (expect_status_line_ || interim_ > 0) {
                    fail(ReadError::NotHttp);
                } else {
                    start_plain_body();
                }
                return used;
            }
        }
        const std::size_t lf = rest.find('\n');
        const std::size_t segment = lf == std::string_view::npos ? rest.size() : lf + 1;
        if (segment > kMaxResponseHeader - header_bytes_) {
            fail(ReadError::HeaderTooLong);
            return used;
        }
        line_.append(rest.data(), segment);
        header_bytes_ += segment;
        used += segment;
        if (lf == std::string_view::npos) break;
        const bool ok = header_line(without_line_end(line_));
        line_.clear();
        if (!ok) break;
    }
    return used;
}

bool HttpReader::header_line(std::string_view line) {
    if (!status_seen_) return status_line(line);
    append_line(line);
    if (!line.empty()) {
        field_line(line);
        return true;
    }
    if (status_code_ >= 200) return start_body();
    // An interim answer: forgotten, and the next header is read in its place.
    if (++interim_ > kMaxInterimResponses) {
        fail(ReadError::TooManyInterim);
        return false;
    }
    out_.clear();
    header_bytes_ = 0;
    status_code_ = 0;
    status_seen_ = false;
    minor_version_ = 0;
    connection_close_ = false;
    connection_keep_alive_ = false;
    has_length_ = false;
    bad_length_ = false;
    length_ = 0;
    has_transfer_coding_ = false;
    chunked_last_ = false;
    content_encoding_.clear();
    return true;
}

bool HttpReader::status_line(std::string_view line) {
    // "HTTP/1." digit, a blank, three digits, then the end or a blank and the reason.
    const std::size_t p = kStatusPrefix.size();
    const auto digit = [&](std::size_t i) {
        return i < line.size() && line[i] >= '0' && line[i] <= '9';
    };
    if (!digit(p) || line.size() <= p + 1 || line[p + 1] != ' ' || !digit(p + 2) || !digit(p + 3) ||
        !digit(p + 4) || (line.size() > p + 5 && line[p + 5] != ' ')) {
        fail(ReadError::NotHttp);
        return false;
    }
    minor_version_ = line[p] - '0';
    status_code_ = (line[p + 2] - '0') * 100 + (line[p + 3] - '0') * 10 + (line[p + 4] - '0');
    if (status_code_ < 100) {
        fail(ReadError::NotHttp);
        return false;
    }
    status_seen_ = true;
    append_line(line);
    return true;
}

void HttpReader::field_line(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trim_blanks(line.substr(colon + 1));
    if (base::equal_nocase(name, "Content-Length")) {
        for_each_item(value, [&](std::string_view item) {
            int64_t n = 0;
            if (!parse_length(item, n) || (has_length_ && n != length_)) bad_length_ = true;
            length_ = n;
            has_length_ = true;
        });
    } else if (base::equal_nocase(name, "Transfer-Encoding")) {
        for_each_item(value, [&](std::string_view item) {
            if (item.empty()) return;
            has_transfer_coding_ = true;
            chunked_last_ =
                base::equal_nocase(trim_blanks(item.substr(0, item.find(';'))), "chunked");
        });
    } else if (base::equal_nocase(name, "Connection")) {
        for_each_item(value, [&](std::string_view item) {
            if (base::equal_nocase(item, "close")) connection_close_ = true;
            if (base::equal_nocase(item, "keep-alive")) connection_keep_alive_ = true;
        });
    } else if (base::equal_nocase(name, "Content-Encoding")) {
        if (!content_encoding_.empty()) content_encoding_ += ", ";
        content_encoding_ += value;
    }
}

void HttpReader::start_plain_body() {
    // A plain old server's answer: no header, and the bytes held so far are the body's first.
    framing_ = Framing::UntilClose;
    state_ = ReadState::Body;
    header_size_ = 0;
    const std::string held = std::move(line_);
    line_.clear();
    (void)emit(held);
}

bool HttpReader::start_body() {
    header_size_ = out_.size();
    keep_alive_ =
        minor_version_ >= 1 ? !connection_close_ : connection_keep_alive_ && !connection_close_;
    // A transfer coding in an HTTP/1.0 answer leaves its framing in doubt after the body.
    if (has_transfer_coding_ && minor_version_ == 0) keep_alive_ = false;
    if (status_code_ == 204 || status_code_ == 304) {
        framing_ = Framing::None;
        state_ = ReadState::Done;
        return true;
    }
    if (has_transfer_coding_) {
        framing_ = chunked_last_ ? Framing::Chunked : Framing::UntilClose;
    } else if (bad_length_) {
        fail(ReadError::BadLength);
        return false;
    } else if (has_length_) {
        framing_ = Framing::Length;
        remaining_ = length_;
    } else {
        framing_ = Framing::UntilClose;
    }
    decoder_ = make_decoder(coding_named(content_encoding_));
    state_ = ReadState::Body;
    if (framing_ == Framing::Length) {
        if (remaining_ == 0) {
            state_ = ReadState::Done;
            return true;
        }
        if (decoder_ == nullptr) {
            const int64_t ahead = std::min({remaining_, body_limit_, kMaxReserveAhead});
            out_.reserve(header_size_ + static_cast<std::size_t>(ahead));
        }
    }
    return true;
}

std::size_t HttpReader::take_body(std::string_view bytes) {
    std::size_t n = bytes.size();
    if (framing_ == Framing::Length)
        n = static_cast<std::size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(n)));
    const std::size_t took = emit(bytes.substr(0, n));
    if (framing_ == Framing::Length) {
        remaining_ -= static_cast<int64_t>(took);
        if (state_ == ReadState::Body) {
            if (remaining_ == 0) {
                end_framed_body();
            } else {
                cut_if_full();
            }
        }
    }
    return took;
}

std::size_t HttpReader::take_chunked(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == ReadState::Body) {
        const std::string_view rest = bytes.substr(used);
        switch (chunk_phase_) {
            case ChunkPhase::SizeLine: {
                const std::size_t lf = rest.find('\n');
                const std::size_t segment = lf == std::string_view::npos ? rest.size() : lf + 1;
                if (segment > kMaxChunkLine - line_.size()) {
                    fail(ReadError::BadChunk);
                    return used;
                }
                line_.append(rest.data(), segment);
                used += segment;
                if (lf == std::string_view::npos) break;
                int64_t size = 0;
                const bool ok = parse_chunk_size(without_line_end(line_), size);
                line_.clear();
                if (!ok) {
                    fail(ReadError::BadChunk);
                    return used;
                }
                if (size == 0) {
                    chunk_phase_ = ChunkPhase::Trailers;
                } else {
                    remaining_ = size;
                    chunk_phase_ = ChunkPhase::Data;
                    cut_if_full();
                }
                break;
            }
            case ChunkPhase::Data: {
                const auto n = static_cast<std::size_t>(
                    std::min<int64_t>(remaining_, static_cast<int64_t>(rest.size())));
                const std::size_t took = emit(rest.substr(0, n));
                used += took;
                remaining_ -= static_cast<int64_t>(took);
                if (state_ != ReadState::Body) return used;
                if (remaining_ == 0) {
                    chunk_phase_ = ChunkPhase::DataCr;
                } else {
                    cut_if_full();
                }
                break;
            }
            case ChunkPhase::DataCr:
            case ChunkPhase::DataLf: {
                const char c = rest.front();
                ++used;
                if (c == '\r' && chunk_phase_ == ChunkPhase::DataCr) {
                    chunk_phase_ = ChunkPhase::DataLf;
                } else if (c == '\n') {
                    chunk_phase_ = ChunkPhase::SizeLine;
                } else {
                    fail(ReadError::BadChunk);
                    return used;
                }
                break;
            }
            case ChunkPhase::Trailers: {
                // Trailer fields are read past, not kept: only their end matters.
                const std::size_t lf = rest.find('\n');
                const std::size_t segment = lf == std::string_view::npos ? rest.size() : lf + 1;
                if (segment > kMaxTrailers - trailer_bytes_) {
                    fail(ReadError::BadChunk);
                    return used;
                }
                trailer_bytes_ += segment;
                used += segment;
                const std::string_view text =
                    rest.substr(0, lf == std::string_view::npos ? segment : lf);
                if (text.find_first_not_of('\r') != std::string_view::npos) {
                    trailer_line_empty_ = false;
                }
                if (lf != std::string_view::npos) {
                    if (trailer_line_empty_) end_framed_body();
                    trailer_line_empty_ = true;
                }
                break;
            }
        }
    }
    return used;
}

std::size_t HttpReader::emit(std::string_view raw) {
    if (decoder_ended_) return raw.size();
    if (!raw.empty()) coded_input_ = true;
    const int64_t room = body_limit_ - body_size_;
    if (decoder_ == nullptr) {
        const std::size_t take = room <= 0 ? 0
                                           : static_cast<std::size_t>(std::min<int64_t>(
                                                 room, static_cast<int64_t>(raw.size())));
        out_.insert(out_.end(), raw.data(), raw.data() + take);
        body_size_ += static_cast<int64_t>(take);
        if (take < raw.size()) {
            cut_ = true;
            state_ = ReadState::Done;
        }
        return take;
    }
    const DecodeResult result = decoder_->decode(raw, out_, room);
    body_size_ = static_cast<int64_t>(out_.size() - header_size_);
    switch (result) {
        case DecodeResult::Ok:
            break;
        case DecodeResult::Full:
            cut_ = true;
            state_ = ReadState::Done;
            break;
        case DecodeResult::Ended:
            decoder_ended_ = true;
            break;
        case DecodeResult::Damaged:
            fail(ReadError::BadEncoding);
            break;
    }
    return raw.size();
}

bool HttpReader::coded_stream_cut() const {
    return decoder_ != nullptr && coded_input_ && !decoder_->at_stream_end();
}

void HttpReader::end_framed_body() {
    // The framing says the body is whole; a coded stream that stops short of its end is
    // damaged all the same, and what it decoded to is no whole page.
    if (coded_stream_cut()) {
        fail(ReadError::BadEncoding);
    } else {
        state_ = ReadState::Done;
    }
}

void HttpReader::cut_if_full() {
    // Only a body taken as it comes is known to grow with its raw bytes: a coded one may end
    // in bytes that decode to nothing (gzip's trailer), so the decoder's Full decides there.
    if (decoder_ == nullptr && remaining_ > 0 && body_size_ >= body_limit_) {
        cut_ = true;
        state_ = ReadState::Done;
    }
}

void HttpReader::append_line(std::string_view line) {
    out_.insert(out_.end(), line.begin(), line.end());
    out_.push_back('\r');
    out_.push_back('\n');
}

void HttpReader::fail(ReadError error) {
    state_ = ReadState::Failed;
    error_ = error;
}

}  // namespace tarnvelox::net
