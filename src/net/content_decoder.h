#pragma once

// Decoding a response body's content coding as its bytes arrive: gzip and deflate with the
// system's zlib, br with the system's Brotli decoder when the build found one. The decoded
// bytes go to a caller's buffer up to a room the caller gives, so that a tiny body that expands
// enormously (a decompression bomb) never produces more than that room.
// Not copyable; one decoder per body.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tarnvelox::net {

enum class ContentCoding {
    Identity,  // none, "identity", or one this build does not decode (bytes pass as they are)
    Gzip,      // "gzip", "x-gzip"
    Deflate,   // "deflate": the zlib format, or the raw deflate some servers send instead
    Brotli,    // "br" (only when brotli_available())
};

// The coding a Content-Encoding value names (blanks and letter case ignored). A list of more
// than one coding, or one not decoded here, gives Identity.
[[nodiscard]] ContentCoding coding_named(std::string_view content_encoding);

// Whether this build decodes "br".
[[nodiscard]] bool brotli_available();

// The Accept-Encoding value the modern request sends: "gzip, deflate", with ", br" when
// brotli_available().
[[nodiscard]] std::string_view accept_encoding();

enum class DecodeResult {
    Ok,       // all input taken; more may come
    Full,     // the room was reached: output stops there (the rest of the input is not taken)
    Ended,    // the coded stream ended; input after its end is ignored
    Damaged,  // the data is not valid in its coding
};

class ContentDecoder {
public:
    virtual ~ContentDecoder() = default;
    // Decodes `input`, appending to `out` at most `room` bytes.
    [[nodiscard]] virtual DecodeResult decode(std::string_view input, std::vector<char>& out,
                                              int64_t room) = 0;
    // Whether the coded data taken so far ends where a coded stream may end (for gzip: after a
    // whole member, its check sum read). A body that stops anywhere else lost its end.
    [[nodiscard]] virtual bool at_stream_end() const = 0;
};

// A decoder for `coding`; null for Identity (the bytes are the body).
[[nodiscard]] std::unique_ptr<ContentDecoder> make_decoder(ContentCoding coding);

}  // namespace tarnvelox::net
