#include "net/http_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef TARNVELOX_TEST_BROTLI
#include <brotli/encode.h>
#endif

#include "net/content_decoder.h"

namespace tarnvelox::net {
namespace {

constexpr int64_t kRoomy = 1 << 20;
constexpr std::string_view kOk11 = "HTTP/1.1 200 OK\r\n";

// What a reader made of one response.
struct Outcome {
    ReadState state = ReadState::Header;
    ReadError error = ReadError::None;
    int status = 0;
    std::string header;
    std::string body;
    bool cut = false;
    bool reusable = false;
    int64_t missing = 0;
    std::size_t taken = 0;  // bytes feed took before it stopped taking
};

Outcome read_in_pieces(std::string_view bytes, std::size_t piece, int64_t limit, bool expect,
                       bool close) {
    HttpReader reader(limit, expect);
    Outcome o;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::string_view part = bytes.substr(at, piece);
        const std::size_t n = reader.feed(part);
        o.taken += n;
        if (n < part.size()) break;
    }
    if (close) reader.end_of_stream();
    o.state = reader.state();
    o.error = reader.error();
    o.status = reader.status_code();
    const std::string_view text = reader.text();
    const auto body_size = static_cast<std::size_t>(reader.body_size());
    o.header = std::string(text.substr(0, text.size() - body_size));
    o.body = std::string(text.substr(text.size() - body_size));
    o.cut = reader.cut();
    o.reusable = reader.reusable();
    o.missing = reader.bytes_missing();
    return o;
}

// Reads the bytes fed whole and fed one byte at a time; both must come out the same.
Outcome read_both_ways(std::string_view bytes, int64_t limit = kRoomy, bool expect = false,
                       bool close = false) {
    const Outcome whole =
        read_in_pieces(bytes, std::max<std::size_t>(bytes.size(), 1), limit, expect, close);
    const Outcome bytewise = read_in_pieces(bytes, 1, limit, expect, close);
    EXPECT_EQ(whole.state, bytewise.state);
    EXPECT_EQ(whole.error, bytewise.error);
    EXPECT_EQ(whole.header, bytewise.header);
    EXPECT_EQ(whole.body, bytewise.body);
    EXPECT_EQ(whole.cut, bytewise.cut);
    EXPECT_EQ(whole.reusable, bytewise.reusable);
    if (whole.state == ReadState::Done && !whole.cut) {
        EXPECT_EQ(whole.taken, bytewise.taken);
    }
    return whole;
}

std::string deflated(std::string_view data, int window_bits) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, data.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}
std::string gzipped(std::string_view data) { return deflated(data, 15 + 16); }

#ifdef TARNVELOX_TEST_BROTLI
std::string brotli_coded(std::string_view data) {
    std::string coded(BrotliEncoderMaxCompressedSize(data.size()), '\0');
    std::size_t size = coded.size();
    EXPECT_TRUE(BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                      BROTLI_MODE_TEXT, data.size(),
                                      reinterpret_cast<const uint8_t*>(data.data()), &size,
                                      reinterpret_cast<uint8_t*>(coded.data())));
    coded.resize(size);
    return coded;
}
#endif

std::string chunked(std::string_view body, std::size_t piece) {
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += piece) {
        const std::string_view part = body.substr(at, piece);
        char size[24];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + std::string(part) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string with_length(std::string_view fields, std::string_view body) {
    return std::string(kOk11) + std::string(fields) +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

std::string head(std::string_view fields) { return std::string(kOk11) + std::string(fields); }
const std::string kChunkedHead = head("Transfer-Encoding: chunked\r\n\r\n");

TEST(HttpReaderTest, ResponsesAreFramedAndJudgedForReuse) {
    std::string interim;
    for (int i = 0; i < kMaxInterimResponses; ++i) interim += "HTTP/1.1 103 Early\r\nA: b\r\n\r\n";
    const struct {
        const char* name;
        std::string input;
        bool close;  // the connection ends after the input
        std::string body;
        bool reusable;
        std::size_t surplus;  // bytes after the response, left to the caller
    } rows[] = {
        {"length", with_length("", "hello"), false, "hello", true, 0},
        {"a second answer after a length body", with_length("", "hi") + "HTTP/1.1 200 OK\r\n",
         false, "hi", true, 17},
        {"body longer than its length", with_length("", "hi") + "there", false, "hi", true, 5},
        {"chunks with extensions and trailers",
         kChunkedHead +
             "5;a=\"b;c\"\r\nhello\r\n6 ; x\r\n world\r\n0\r\nExpires: 0\r\nX: y\r\n\r\nZ",
         false, "hello world", true, 1},
        {"chunks with bare line feeds",
         "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n", false, "abc", true, 0},
        {"until close", head("\r\nabc"), true, "abc", false, 0},
        {"another last transfer coding reads until close",
         head("Transfer-Encoding: chunked, gzip\r\n\r\n3\r\nabc"), true, "3\r\nabc", false, 0},
        {"interim answers skipped", interim + with_length("", "ok"), false, "ok", true, 0},
        {"204 has no body", "HTTP/1.1 204 No\r\nContent-Length: 2\r\n\r\nhi", false, "", true, 2},
        {"304 has no body", "HTTP/1.1 304 Same\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         false, "", true, 5},
        {"close token among others", with_length("Connection: Upgrade, CLOSE\r\n", "a"), false, "a",
         false, 0},
        {"1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na", false, "a",
         false, 0},
        {"1.0 with keep-alive",
         "HTTP/1.0 200 OK\r\nconnection: Keep-Alive\r\nContent-Length: 1\r\n\r\na", false, "a",
         true, 0},
        {"chunks beside a length win but forbid reuse",
         head("Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n"),
         false, "abcd", false, 0},
        {"the same length repeated", with_length("Content-Length: 1, 1\r\n", "a"), false, "a", true,
         0},
        {"a plain old server's answer is all body", "<html>hi</html>", true, "<html>hi</html>",
         false, 0},
        {"a stream too short to be an answer", "HTT", true, "HTT", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, kRoomy, false, row.close);
        EXPECT_EQ(o.state, ReadState::Done);
        EXPECT_EQ(o.body, row.body);
        EXPECT_EQ(o.reusable, row.reusable);
        EXPECT_FALSE(o.cut);
        EXPECT_EQ(o.taken, row.input.size() - row.surplus);
    }
}

TEST(HttpReaderTest, BrokenAndHostileResponsesFail) {
    std::string interim;
    for (int i = 0; i <= kMaxInterimResponses; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
    const struct {
        const char* name;
        std::string input;
        bool close;
        bool expect;  // a status line is expected
        ReadError error;
    } rows[] = {
        {"too many interim answers", interim + with_length("", "ok"), false, false,
         ReadError::TooManyInterim},
        {"two lengths", with_length("Content-Length: 2\r\n", "a"), false, false,
         ReadError::BadLength},
        {"length not a number", head("Content-Length: 1x\r\n\r\na"), false, false,
         ReadError::BadLength},
        {"length overflows", head("Content-Length: 99999999999999999999\r\n\r\n"), false, false,
         ReadError::BadLength},
        {"chunk size overflows", kChunkedHead + "100000000000000001\r\na\r\n0\r\n\r\n", false,
         false, ReadError::BadChunk},
        {"chunk size not hex", kChunkedHead + "x1\r\na\r\n", false, false, ReadError::BadChunk},
        {"chunk longer than its size", kChunkedHead + "1\r\nab\r\n", false, false,
         ReadError::BadChunk},
        {"trailers too long",
         kChunkedHead + "0\r\nX: " + std::string(kMaxTrailers, 'x') + "\r\n\r\n", false, false,
         ReadError::BadChunk},
        {"header too long", head("X: " + std::string(kMaxResponseHeader, 'x') + "\r\n\r\n"), false,
         false, ReadError::HeaderTooLong},
        {"no answer where one is expected", "<html>hi</html>", false, true, ReadError::NotHttp},
        {"a bad status line", "HTTP/1.1 2x0 OK\r\n\r\n", false, false, ReadError::NotHttp},
        {"chunks ended early", kChunkedHead + "3\r\nabc\r\n", true, false, ReadError::EndedEarly},
        {"header ended early", head("Content-Le"), true, false, ReadError::EndedEarly},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, kRoomy, row.expect, row.close);
        EXPECT_EQ(o.state, ReadState::Failed);
        EXPECT_EQ(o.error, row.error);
        EXPECT_FALSE(o.reusable);
    }
    const Outcome short_body =
        read_both_ways(head("Content-Length: 10\r\n\r\nabc"), kRoomy, false, true);
    EXPECT_EQ(short_body.error, ReadError::EndedEarly);
    EXPECT_EQ(short_body.missing, 7);
}

TEST(HttpReaderTest, HeaderIsKeptWithCrLfLineEnds) {
    const Outcome o =
        read_both_ways("HTTP/1.1 100 Continue\n\nHTTP/1.1 200 OK\nContent-Length: 2\r\nX: y\n\nok");
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.header, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX: y\r\n\r\n");
}

TEST(HttpReaderTest, HugeChunkExtensionFailsWithinTheLineCap) {
    const std::string input = kChunkedHead + "1;" + std::string(1 << 20, 'x') + "\r\na\r\n";
    for (const std::size_t piece : {input.size(), std::size_t{1}, std::size_t{16384}}) {
        SCOPED_TRACE(piece);
        const Outcome o = read_in_pieces(input, piece, kRoomy, true, false);
        EXPECT_EQ(o.error, ReadError::BadChunk);
        EXPECT_LE(o.taken, kChunkedHead.size() + kMaxChunkLine);
    }
}

// A decompression bomb among them: a few KB of gzip that would expand to 8 MB.
TEST(HttpReaderTest, BodyIsCutAtTheLimit) {
    const std::string ten = "0123456789";
    const std::string bomb = gzipped(std::string(8 << 20, '\0'));
    ASSERT_LT(bomb.size(), 16u * 1024);
    const std::string gzip_chunked_head =
        head("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n");
    const struct {
        const char* name;
        std::string input;
        int64_t limit;
        bool close;
        std::string body;
        bool cut;
        bool reusable;
    } rows[] = {
        {"length over the limit", with_length("", ten), 4, false, "0123", true, false},
        {"length at the limit", with_length("", ten), 10, false, ten, false, true},
        {"chunks over the limit", kChunkedHead + chunked(ten, 5), 7, false, "0123456", true, false},
        {"chunks ending at the limit", kChunkedHead + chunked(ten, 5), 10, false, ten, false, true},
        {"until close over the limit", head("\r\n" + ten), 9, true, "012345678", true, false},
        {"until close at the limit", head("\r\n" + ten), 10, true, ten, false, false},
        {"bomb in a length body", with_length("Content-Encoding: gzip\r\n", bomb), 100000, false,
         std::string(100000, '\0'), true, false},
        {"bomb in chunks", gzip_chunked_head + chunked(bomb, 1000), 100000, false,
         std::string(100000, '\0'), true, false},
        {"bomb with room for all of it", gzip_chunked_head + chunked(bomb, 1000), 8 << 20, false,
         std::string(8 << 20, '\0'), false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, row.limit, false, row.close);
        EXPECT_EQ(o.state, ReadState::Done);
        EXPECT_TRUE(o.body == row.body);  // no megabytes of zeros printed on failure
        EXPECT_EQ(o.body.size(), row.body.size());
        EXPECT_EQ(o.cut, row.cut);
        EXPECT_EQ(o.reusable, row.reusable);
    }
}

TEST(HttpReaderTest, LimitLoweredBetweenFeedsCutsAtTheNextFeed) {
    const std::string input = with_length("", "0123456789");
    const std::size_t first = input.size() - 4;
    HttpReader reader(kRoomy, true);
    EXPECT_EQ(reader.feed(std::string_view(input).substr(0, first)), first);
    reader.set_body_limit(3);  // below the 6 bytes already kept
    EXPECT_EQ(reader.state(), ReadState::Body);
    EXPECT_EQ(reader.feed(std::string_view(input).substr(first)), 0u);
    EXPECT_EQ(reader.state(), ReadState::Done);
    EXPECT_TRUE(reader.cut());
    EXPECT_EQ(reader.body_size(), 6);
}

TEST(HttpReaderTest, CompressedBodiesAreDecoded) {
    const std::string page = "<html><body>" + std::string(3000, 'a') + "</body></html>";
    const std::string gz = gzipped(page);
    std::string damaged = gz;
    damaged.back() = static_cast<char>(damaged.back() ^ 1);  // the length in gzip's trailer
    const struct {
        const char* name;
        std::string coding;
        std::string body;
        bool chunks;
        ReadError error;
        std::string decoded;
    } rows[] = {
        {"gzip", "gzip", gz, false, ReadError::None, page},
        {"gzip in chunks", "x-gzip", gz, true, ReadError::None, page},
        {"deflate, zlib format", "Deflate", deflated(page, 15), false, ReadError::None, page},
        {"deflate, raw", "deflate", deflated(page, -15), true, ReadError::None, page},
        {"gzip of two members", "gzip", gzipped("one, ") + gzipped("two"), false, ReadError::None,
         "one, two"},
        {"junk after the coded stream", "gzip", gz + "junk!", true, ReadError::None, page},
        {"damaged", "gzip", damaged, false, ReadError::BadEncoding, ""},
        {"two codings are left as they are", "gzip, gzip", "abc", false, ReadError::None, "abc"},
#ifdef TARNVELOX_TEST_BROTLI
        {"br", "br", brotli_coded(page), true, ReadError::None, page},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string fields = "Content-Encoding: " + row.coding + "\r\n";
        const std::string input =
            row.chunks ? head(fields + "Transfer-Encoding: chunked\r\n\r\n") + chunked(row.body, 7)
                       : with_length(fields, row.body);
        const Outcome o = read_both_ways(input);
        EXPECT_EQ(o.error, row.error);
        if (row.error == ReadError::None) {
            EXPECT_EQ(o.state, ReadState::Done);
            EXPECT_EQ(o.body, row.decoded);
            EXPECT_TRUE(o.reusable);
        }
    }
}

// A coded stream that stops before its end lost the rest of the page, whatever the framing
// says: the connection ended early, or the body is damaged. An empty coded body is empty.
TEST(HttpReaderTest, CodedStreamCutShortIsNoWholePage) {
    const std::string gz = gzipped(std::string(100000, 'z'));
    const std::string half = gz.substr(0, gz.size() / 2);
    const std::string fields = "Content-Encoding: gzip\r\n";
    const std::string chunked_head = head(fields + "Transfer-Encoding: chunked\r\n\r\n");
    const struct {
        const char* name;
        std::string input;
        bool close;
        ReadError error;
    } rows[] = {
        {"until the close", head(fields + "\r\n" + half), true, ReadError::EndedEarly},
        {"to its length", with_length(fields, half), false, ReadError::BadEncoding},
        {"to its last chunk", chunked_head + chunked(half, 1000), false, ReadError::BadEncoding},
        {"without its check sum", with_length(fields, gz.substr(0, gz.size() - 8)), false,
         ReadError::BadEncoding},
        {"raw deflate without its last block", with_length("Content-Encoding: deflate\r\n",
                                                           deflated("abc", -15).substr(0, 2)),
         false, ReadError::BadEncoding},
        {"empty", chunked_head + chunked("", 1), false, ReadError::None},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, kRoomy, false, row.close);
        EXPECT_EQ(o.error, row.error);
        EXPECT_EQ(o.state, row.error == ReadError::None ? ReadState::Done : ReadState::Failed);
        EXPECT_FALSE(o.reusable && row.error != ReadError::None);
    }
}

// Every prefix of a coded stream decodes to some bytes; a room of exactly that many is not full,
// one byte less is.
TEST(ContentDecoderTest, RoomIsFullOnlyWhenMoreWouldComeOut) {
    const std::string text = "abcdefghij, abcdefghij!";
    const struct {
        const char* name;
        ContentCoding coding;
        std::string coded;
    } rows[] = {
        {"gzip", ContentCoding::Gzip, gzipped(text)},
        {"zlib", ContentCoding::Deflate, deflated(text, 15)},
        {"raw deflate", ContentCoding::Deflate, deflated(text, -15)},
#ifdef TARNVELOX_TEST_BROTLI
        {"br", ContentCoding::Brotli, brotli_coded(text)},
#endif
    };
    const auto decoded = [](ContentCoding coding, std::string_view coded, int64_t room,
                            std::string& out_text) {
        const std::unique_ptr<ContentDecoder> decoder = make_decoder(coding);
        std::vector<char> out;
        const DecodeResult result = decoder->decode(coded, out, room);
        out_text.assign(out.begin(), out.end());
        return result;
    };
    for (const auto& row : rows) {
        for (std::size_t size = 1; size <= row.coded.size(); ++size) {
            SCOPED_TRACE(std::string(row.name) + " prefix " + std::to_string(size));
            const std::string_view prefix = std::string_view(row.coded).substr(0, size);
            std::string all;
            (void)decoded(row.coding, prefix, kRoomy, all);
            const auto n = static_cast<int64_t>(all.size());
            std::string out;
            EXPECT_NE(decoded(row.coding, prefix, n, out), DecodeResult::Full);
            EXPECT_EQ(out, all);
            if (n > 0) {
                EXPECT_EQ(decoded(row.coding, prefix, n - 1, out), DecodeResult::Full);
                EXPECT_EQ(out, all.substr(0, all.size() - 1));
            }
        }
        std::string out;
        (void)decoded(row.coding, row.coded, kRoomy, out);
        EXPECT_EQ(out, text);
    }
}

}  // namespace
}  // namespace tarnvelox::net
