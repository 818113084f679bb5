#pragma once

// Reading one HTTP/1.1 response as its bytes arrive, for the modern way of fetching: the header
// of the final response (interim 1xx answers skipped), then the body framed by Content-Length,
// by chunks or by the end of the connection, decoded (content_decoder.h) as it comes, into one
// output text laid out as the classic engine holds a response: the header, its lines ending in
// CR LF, a blank line, then the decoded body. The output is kept up to a body limit that the
// caller may lower between feeds; a body past it is cut there and the rest is not read.
// Pure: no I/O, no clock. The reader owns its output; texts passed in are borrowed for the
// call only. Every size it takes from the peer is capped (below), so a hostile server can
// neither make it read out of bounds nor hold more than the limits.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::net {

class ContentDecoder;

// A header longer than this (status line, fields and blank line) is refused: no real server
// sends one, and it would otherwise be held whole.
inline constexpr std::size_t kMaxResponseHeader = 64 * 1024;
// A chunk-size line (size, extensions, line end) longer than this is refused, so that a
// megabyte of "extension" is never buffered.
inline constexpr std::size_t kMaxChunkLine = 4096;
// Trailer fields after the last chunk, all together, are refused past this.
inline constexpr std::size_t kMaxTrailers = 16 * 1024;
// Interim (1xx) answers skipped before the final one; more is a server playing games.
inline constexpr int kMaxInterimResponses = 8;

enum class ReadState {
    Header,  // the header of the final response has not ended yet
    Body,    // the body is being read
    Done,    // the response ended (or its body was cut at the limit): feed takes nothing more
    Failed,  // the response is broken (error() says how): nothing of it is to be used
};

enum class ReadError {
    None,
    HeaderTooLong,   // kMaxResponseHeader passed before the blank line
    NotHttp,         // `expect_status_line` was set and the bytes do not begin "HTTP/1.",
                     // or a status line is not "HTTP/1.x" and a three-digit code
    BadLength,       // a Content-Length that is no number, is negative, overflows, or two
                     // different ones
    BadChunk,        // a chunk-size that is no hex number or overflows, a chunk not followed
                     // by CR LF, a chunk line past kMaxChunkLine, trailers past kMaxTrailers
    TooManyInterim,  // more than kMaxInterimResponses 1xx answers
    BadEncoding,     // the content coding's data is damaged (content_decoder.h), or its
                     // stream stops short of its end where the framing ends the body
    EndedEarly,      // the connection ended before the body its framing announced, or
                     // inside the coded stream of a body read until the close
};

// How the body of the final response is delimited.
enum class Framing {
    None,        // no body: 1xx, 204, 304, or the response has not got that far
    Length,      // Content-Length bytes
    Chunked,     // chunked transfer coding (the last coding of Transfer-Encoding)
    UntilClose,  // up to the end of the connection (no length, another transfer coding, or a
                 // response that does not begin with a status line)
};

class HttpReader {
public:
    // `body_limit`: most decoded body bytes kept (the page limit). `expect_status_line`: bytes
    // that do not begin "HTTP/1." fail with NotHttp (set on a reused connection, where anything
    // else is left over from an earlier answer); when clear, such bytes are taken as they come:
    // no header, the whole stream is the body, read until the connection ends. `buffer`: memory
    // the output may take over (its bytes are dropped), so that a connection's pages reuse it.
    HttpReader(int64_t body_limit, bool expect_status_line, std::vector<char> buffer = {});
    ~HttpReader();
    HttpReader(const HttpReader&) = delete;
    HttpReader& operator=(const HttpReader&) = delete;

    // Takes the next bytes of the connection. Returns how many of them belong to this response:
    // all of them, except once the response is Done (the rest is surplus: a second answer, or
    // a body longer than announced) or Failed.
    std::size_t feed(std::string_view bytes);
    // The connection ended (the peer closed, or a read failed). A body read until the close is
    // Done (unless its coded stream stops short of its end); a header or a body that had not
    // ended fails with EndedEarly.
    void end_of_stream();

    // Lowers (or raises) the decoded body limit for the bytes still to come; never below what
    // is already kept. A body already past the new limit is cut at the next feed.
    void set_body_limit(int64_t limit);

    [[nodiscard]] ReadState state() const { return state_; }
    [[nodiscard]] ReadError error() const { return error_; }
    [[nodiscard]] Framing framing() const { return framing_; }
    // The final response's status code (e.g. 200); 0 before its status line, or without one.
    [[nodiscard]] int status_code() const { return status_code_; }

    // The header (CR LF line ends, ending in a blank line) and the decoded body so far.
    [[nodiscard]] std::string_view text() const { return {out_.data(), out_.size()}; }
    // The output buffer itself, for the caller to take when the response is Done.
    [[nodiscard]] std::vector<char>& output() { return out_; }
    // Decoded body bytes kept.
    [[nodiscard]] int64_t body_size() const { return body_size_; }
    // The body went past the limit and was cut there (the response is Done, its rest unread).
    [[nodiscard]] bool cut() const { return cut_; }
    // Body bytes announced and not received when the response failed with EndedEarly under
    // Content-Length; 0 otherwise.
    [[nodiscard]] int64_t bytes_missing() const { return bytes_missing_; }
    // The connection may carry another request: the response is Done and was not cut, its body
    // was framed by length or chunks (or it had none), its version is HTTP/1.1 without a
    // "close" token in Connection, or HTTP/1.0 with a "keep-alive" token, and it had no
    // Transfer-Encoding next to a Content-Length. Surplus bytes (feed taking fewer than given)
    // are the caller's to judge: they too forbid the reuse.
    [[nodiscard]] bool reusable() const;

private:
    // Where in the chunked grammar the reader stands.
    enum class ChunkPhase {
        SizeLine,  // a chunk-size line (hex size, extensions) up to its LF
        Data,      // `remaining_` bytes of chunk data
        DataCr,    // the CR LF (or bare LF) after the data
        DataLf,    // the LF after that CR
        Trailers,  // trailer fields after the last chunk, up to an empty line
    };

    std::size_t take_header(std::string_view bytes);
    std::size_t take_body(std::string_view bytes);
    std::size_t take_chunked(std::string_view bytes);
    bool header_line(std::string_view line);  // one complete line; false when it failed
    bool status_line(std::string_view line);
    void field_line(std::string_view line);
    void start_plain_body();       // no status line: what was read so far is body
    bool start_body();             // the header ended: framing, decoder; false when it failed
    // Body bytes as they came, through the decoder into out_, to the limit; the raw bytes
    // taken (fewer when the limit cut them).
    std::size_t emit(std::string_view raw);
    void cut_if_full();            // no room left and raw body bytes known to follow
    // Some of a coded body came, and its coded stream has not reached its end.
    [[nodiscard]] bool coded_stream_cut() const;
    void end_framed_body();        // the length or the last chunk was read: Done, or Failed
    void append_line(std::string_view line);     // to out_, with CR LF
    void fail(ReadError error);

    int64_t body_limit_;
    bool expect_status_line_;
    ReadState state_ = ReadState::Header;
    ReadError error_ = ReadError::None;
    Framing framing_ = Framing::None;
    int status_code_ = 0;
    int interim_ = 0;
    bool keep_alive_ = false;  // what the version and Connection header allow
    bool cut_ = false;
    std::vector<char> out_;
    std::string line_;             // a header or chunk-size line not yet ended (capped)
    std::size_t header_bytes_ = 0; // bytes of the current header so far
    std::size_t header_size_ = 0;  // bytes of out_ before the body
    int64_t body_size_ = 0;        // decoded bytes in out_ after the header
    int64_t remaining_ = 0;        // raw bytes left of the Content-Length or current chunk
    int64_t bytes_missing_ = 0;
    ChunkPhase chunk_phase_ = ChunkPhase::SizeLine;
    std::size_t trailer_bytes_ = 0;
    bool trailer_line_empty_ = true;  // the trailer line so far holds nothing but CR

    // What the fields of the current header said, gathered line by line.
    bool status_seen_ = false;     // the current header's status line has ended
    int minor_version_ = 0;        // the y of HTTP/1.y
    bool connection_close_ = false;
    bool connection_keep_alive_ = false;
    bool has_length_ = false;
    bool bad_length_ = false;
    int64_t length_ = 0;
    bool has_transfer_coding_ = false;
    bool chunked_last_ = false;    // the last transfer coding named so far is "chunked"
    std::string content_encoding_; // every Content-Encoding line's value, joined as a list

    std::unique_ptr<ContentDecoder> decoder_;  // null: the body is taken as it comes
    bool decoder_ended_ = false;   // the coded stream ended: the rest of the body is ignored
    bool coded_input_ = false;     // body bytes went to the decoder
};

}  // namespace tarnvelox::net
