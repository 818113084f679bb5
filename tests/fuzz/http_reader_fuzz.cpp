// Arbitrary bytes as the stream of one connection, fed to the HTTP/1.1 response reader in
// pieces whose sizes the fuzzer chooses, with a small body limit. The reading must not depend
// on where the stream was split (short of damage in a coded body), and the reader's figures
// must hold together: the body within its limit, the output no larger than a header and that
// body, feed never taking more than it was given nor anything once the response is over.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/http_reader.h"

namespace {

using namespace tarnvelox::net;

// The output header may grow by a CR for every bare LF of the header it came from.
constexpr std::size_t kMaxOutputHeader = 2 * kMaxResponseHeader;

void check(bool ok) {
    if (!ok) __builtin_trap();
}

bool over(const HttpReader& reader) {
    return reader.state() == ReadState::Done || reader.state() == ReadState::Failed;
}

void check_figures(const HttpReader& reader, int64_t limit) {
    check(reader.body_size() >= 0 && reader.body_size() <= limit);
    check(reader.text().size() >= static_cast<std::size_t>(reader.body_size()));
    check(reader.text().size() - static_cast<std::size_t>(reader.body_size()) <= kMaxOutputHeader);
    check(!reader.cut() || reader.state() == ReadState::Done);
    check(!reader.reusable() || reader.state() == ReadState::Done);
    check(reader.bytes_missing() == 0 || reader.error() == ReadError::EndedEarly);
    check((reader.state() == ReadState::Failed) == (reader.error() != ReadError::None));
}

// Feeds `stream` in pieces of the given sizes (in turn); lowers the limit to `lowered` after the
// first piece when it is not negative.
void read(HttpReader& reader, std::string_view stream, const std::size_t (&pieces)[4],
          int64_t limit, int64_t lowered) {
    std::size_t at = 0;
    for (int i = 0; at < stream.size(); ++i) {
        const std::string_view part = stream.substr(at, pieces[i % 4]);
        const bool was_over = over(reader);
        const std::size_t n = reader.feed(part);
        check(n <= part.size());
        check(!was_over || n == 0);
        check(n == part.size() || over(reader));
        at += part.size();
        if (i == 0 && lowered >= 0) {
            const int64_t kept = reader.body_size();
            reader.set_body_limit(lowered);
            limit = std::max(lowered, kept);
        }
        check_figures(reader, limit);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const bool expect = fdp.ConsumeBool();
    const bool close = fdp.ConsumeBool();
    const auto limit = fdp.ConsumeIntegralInRange<int64_t>(0, 4096);
    const auto lowered = fdp.ConsumeIntegralInRange<int64_t>(-1, 4096);
    std::size_t pieces[4];
    for (std::size_t& piece : pieces) piece = fdp.ConsumeIntegralInRange<std::size_t>(1, 300);
    const std::string stream = fdp.ConsumeRemainingBytesAsString();

    HttpReader whole(limit, expect);
    const std::size_t all[4] = {stream.size() + 1, 1, 1, 1};
    read(whole, stream, all, limit, -1);
    HttpReader split(limit, expect);
    read(split, stream, pieces, limit, -1);
    if (close) {
        whole.end_of_stream();
        split.end_of_stream();
    }
    check_figures(whole, limit);
    check_figures(split, limit);
    check(whole.status_code() == split.status_code());
    if (whole.error() != ReadError::BadEncoding && split.error() != ReadError::BadEncoding) {
        check(whole.state() == split.state());
        check(whole.error() == split.error());
        check(whole.text() == split.text());
        check(whole.cut() == split.cut());
        check(whole.reusable() == split.reusable());
    } else {
        // Whether damage in a coded body shows before the limit is reached depends on how much
        // of it had come; what was read still begins alike.
        const std::size_t n = std::min(whole.text().size(), split.text().size());
        check(whole.text().substr(0, n) == split.text().substr(0, n));
    }

    if (lowered >= 0) {
        HttpReader lowering(limit, expect);
        read(lowering, stream, pieces, limit, lowered);
        if (close) lowering.end_of_stream();
    }
    return 0;
}
