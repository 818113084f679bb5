// Arbitrary bytes as a compressed body, decoded by each content decoder with a small room, in
// pieces whose sizes the fuzzer chooses. The output never passes the room, and it is the same
// whether the body came whole or in pieces (on damaged data, the same as far as both go).

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/content_decoder.h"

namespace {

using namespace tarnvelox::net;

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Decodes `body` in pieces of `piece` bytes until the decoder stops taking input.
std::vector<char> decode(ContentCoding coding, std::string_view body, std::size_t piece,
                         int64_t room, DecodeResult& last) {
    std::vector<char> out;
    const std::unique_ptr<ContentDecoder> decoder = make_decoder(coding);
    check(decoder != nullptr);
    last = DecodeResult::Ok;
    for (std::size_t at = 0; at < body.size() && last == DecodeResult::Ok; at += piece) {
        last =
            decoder->decode(body.substr(at, piece), out, room - static_cast<int64_t>(out.size()));
        check(static_cast<int64_t>(out.size()) <= room);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const auto room = fdp.ConsumeIntegralInRange<int64_t>(0, 1 << 16);
    const auto piece = fdp.ConsumeIntegralInRange<std::size_t>(1, 512);
    const std::string body = fdp.ConsumeRemainingBytesAsString();

    for (const ContentCoding coding :
         {ContentCoding::Gzip, ContentCoding::Deflate, ContentCoding::Brotli}) {
        if (coding == ContentCoding::Brotli && !brotli_available()) continue;
        DecodeResult whole_end = DecodeResult::Ok;
        DecodeResult split_end = DecodeResult::Ok;
        const std::vector<char> whole = decode(coding, body, body.size() + 1, room, whole_end);
        const std::vector<char> split = decode(coding, body, piece, room, split_end);
        if (whole_end != DecodeResult::Damaged && split_end != DecodeResult::Damaged) {
            check(whole_end == split_end);
            check(whole == split);
        } else {
            // Whether damage shows before the room is full depends on how much input had come
            // when it filled, and a decoder may hold back bytes decoded in the call that found
            // the damage; but what came out begins alike.
            const std::size_t n = std::min(whole.size(), split.size());
            check(std::equal(whole.begin(), whole.begin() + n, split.begin()));
        }
    }
    return 0;
}
