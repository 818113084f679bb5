#include "net/http_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
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
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += piece) {
        const std::string_view part = body.substr(at, piece);
        std::string size;
        for (std::size_t n = part.size(); n > 0; n /= 16) size.insert(size.begin(), kHex[n % 16]);
        out += size + "\r\n" + std::string(part) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string with_length(std::string_view fields, std::string_view body) {
    return std::string(kOk11) + std::string(fields) +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

TEST(HttpReaderTest, FramingKeepAliveAndHostileAnswers) {
    const std::string hello_then_next = with_length("", "hello") + "HTTP/1.1 200 OK\r\n\r\n";
    std::string nine_interim;
    for (int i = 0; i < 9; ++i) nine_interim += "HTTP/1.1 100 Continue\r\n\r\n";
    const struct {
        const char* name;
        std::string input;
        bool close = false;
        bool expect = false;
        ReadState state = ReadState::Done;
        ReadError error = ReadError::None;
        std::string body = "";
        bool reusable = false;
        std::size_t surplus = 0;  // bytes after the response, left to the caller
        int64_t missing = 0;
    } rows[] = {
        {.name = "length", .input = with_length("", "hello"), .body = "hello", .reusable = true},
        {.name = "surplus after a length body is not taken",
         .input = hello_then_next,
         .body = "hello",
         .reusable = true,
         .surplus = hello_then_next.size() - with_length("", "hello").size()},
        {.name = "chunked with extensions and trailers",
         .input = std::string(kOk11) +
                  "Transfer-Encoding: Chunked\r\n\r\n5;name=\"v;x\"\r\nhello\r\n6 ; ext\r\n "
                  "world\r\n0\r\nExpires: never\r\nX: y\r\n\r\nsurplus",
         .body = "hello world",
         .reusable = true,
         .surplus = 7},
        {.name = "chunked with bare line feeds",
         .input = "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n",
         .body = "abc",
         .reusable = true},
        {.name = "until close",
         .input = std::string(kOk11) + "\r\nabc",
         .close = true,
         .body = "abc"},
        {.name = "until close, still open",
         .input = std::string(kOk11) + "\r\nabc",
         .state = ReadState::Body,
         .body = "abc"},
        {.name = "another transfer coding reads until close",
         .input = std::string(kOk11) + "Transfer-Encoding: chunked, gzip\r\n\r\n3\r\nabc",
         .close = true,
         .body = "3\r\nabc"},
        {.name = "interim answers skipped",
         .input = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: </a>\r\n\r\n" +
                  with_length("", "ok"),
         .body = "ok",
         .reusable = true},
        {.name = "too many interim answers",
         .input = nine_interim + with_length("", "ok"),
         .state = ReadState::Failed,
         .error = ReadError::TooManyInterim},
        {.name = "204 has no body",
         .input = "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nhello",
         .reusable = true,
         .surplus = 5},
        {.name = "304 has no body",
         .input = "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         .reusable = true,
         .surplus = 5},
        {.name = "close token in any case among others",
         .input = with_length("Connection: Upgrade, CLOSE\r\n", "a"),
         .body = "a"},
        {.name = "1.0 without keep-alive",
         .input = "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na",
         .body = "a"},
        {.name = "1.0 with keep-alive",
         .input = "HTTP/1.0 200 OK\r\nconnection: Keep-Alive\r\nContent-Length: 1\r\n\r\na",
         .body = "a",
         .reusable = true},
        {.name = "transfer coding next to a length wins but forbids reuse",
         .input = std::string(kOk11) +
                  "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n",
         .body = "abcd"},
        {.name = "same length repeated",
         .input = with_length("Content-Length: 1, 1\r\n", "a"),
         .body = "a",
         .reusable = true},
        {.name = "two lengths",
         .input = with_length("Content-Length: 2\r\n", "a"),
         .state = ReadState::Failed,
         .error = ReadError::BadLength},
        {.name = "length not a number",
         .input = std::string(kOk11) + "Content-Length: 1x\r\n\r\na",
         .state = ReadState::Failed,
         .error = ReadError::BadLength},
        {.name = "negative length",
         .input = std::string(kOk11) + "Content-Length: -1\r\n\r\na",
         .state = ReadState::Failed,
         .error = ReadError::BadLength},
        {.name = "length overflows",
         .input = std::string(kOk11) + "Content-Length: 99999999999999999999\r\n\r\na",
         .state = ReadState::Failed,
         .error = ReadError::BadLength},
        {.name = "chunk size overflows",
         .input = std::string(kOk11) +
                  "Transfer-Encoding: chunked\r\n\r\n100000000000000000001\r\na\r\n0\r\n\r\n",
         .state = ReadState::Failed,
         .error = ReadError::BadChunk},
        {.name = "chunk size not hex",
         .input = std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\nx1\r\na\r\n",
         .state = ReadState::Failed,
         .error = ReadError::BadChunk},
        {.name = "chunk data longer than its size",
         .input = std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
         .state = ReadState::Failed,
         .error = ReadError::BadChunk,
         .body = "a"},
        {.name = "trailers too long",
         .input = std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n0\r\nX: " +
                  std::string(kMaxTrailers, 'x') + "\r\n\r\n",
         .state = ReadState::Failed,
         .error = ReadError::BadChunk},
        {.name = "header too long",
         .input = std::string(kOk11) + "X: " + std::string(kMaxResponseHeader, 'x') + "\r\n\r\n",
         .state = ReadState::Failed,
         .error = ReadError::HeaderTooLong},
        {.name = "not an answer where one is expected",
         .input = "<html>hi</html>",
         .expect = true,
         .state = ReadState::Failed,
         .error = ReadError::NotHttp},
        {.name = "a plain old server's answer is all body",
         .input = "<html>hi</html>",
         .close = true,
         .body = "<html>hi</html>"},
        {.name = "a bad status line",
         .input = "HTTP/1.1 2x0 OK\r\n\r\n",
         .state = ReadState::Failed,
         .error = ReadError::NotHttp},
        {.name = "length ended early",
         .input = std::string(kOk11) + "Content-Length: 10\r\n\r\nabc",
         .close = true,
         .state = ReadState::Failed,
         .error = ReadError::EndedEarly,
         .body = "abc",
         .missing = 7},
        {.name = "chunks ended early",
         .input = std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n",
         .close = true,
         .state = ReadState::Failed,
         .error = ReadError::EndedEarly,
         .body = "abc"},
        {.name = "header ended early",
         .input = std::string(kOk11) + "Content-Le",
         .close = true,
         .state = ReadState::Failed,
         .error = ReadError::EndedEarly},
        {.name = "nothing at all",
         .input = "",
         .close = true,
         .state = ReadState::Failed,
         .error = ReadError::EndedEarly},
        {.name = "a stream too short to be an answer",
         .input = "HTT",
         .close = true,
         .body = "HTT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, kRoomy, row.expect, row.close);
        EXPECT_EQ(o.state, row.state);
        EXPECT_EQ(o.error, row.error);
        EXPECT_EQ(o.body, row.body);
        EXPECT_EQ(o.reusable, row.reusable);
        EXPECT_FALSE(o.cut);
        EXPECT_EQ(o.missing, row.missing);
        if (row.state == ReadState::Done) {
            EXPECT_EQ(o.taken, row.input.size() - row.surplus);
        }
    }
}

TEST(HttpReaderTest, HeaderIsKeptWithCrLfLineEnds) {
    const Outcome o =
        read_both_ways("HTTP/1.1 100 Continue\n\nHTTP/1.1 200 OK\nContent-Length: 2\r\nX: y\n\nok");
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.header, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX: y\r\n\r\n");
}

TEST(HttpReaderTest, HugeChunkExtensionFailsWithinTheLineCap) {
    const std::string head = std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n";
    const std::string input = head + "1;" + std::string(1 << 20, 'x') + "\r\na\r\n0\r\n\r\n";
    for (const std::size_t piece : {input.size(), std::size_t{1}, std::size_t{16384}}) {
        SCOPED_TRACE(piece);
        const Outcome o = read_in_pieces(input, piece, kRoomy, true, false);
        EXPECT_EQ(o.error, ReadError::BadChunk);
        EXPECT_LE(o.taken, head.size() + kMaxChunkLine);
    }
}

TEST(HttpReaderTest, BodyIsCutAtTheLimit) {
    const std::string ten = "0123456789";
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
        {"chunks over the limit",
         std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n" + chunked(ten, 5), 7, false,
         "0123456", true, false},
        {"chunks ending at the limit",
         std::string(kOk11) + "Transfer-Encoding: chunked\r\n\r\n" + chunked(ten, 5), 10, false,
         ten, false, true},
        {"until close over the limit", std::string(kOk11) + "\r\n" + ten, 9, true, "012345678",
         true, false},
        {"until close at the limit", std::string(kOk11) + "\r\n" + ten, 10, true, ten, false,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, row.limit, false, row.close);
        EXPECT_EQ(o.state, ReadState::Done);
        EXPECT_EQ(o.body, row.body);
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
        std::string fields;
        std::string body;
        bool chunks;
        ReadError error;
        std::string decoded;
    } rows[] = {
        {"gzip", "Content-Encoding: gzip\r\n", gz, false, ReadError::None, page},
        {"gzip in chunks", "Content-Encoding: x-gzip\r\n", gz, true, ReadError::None, page},
        {"deflate, zlib format", "Content-Encoding: Deflate\r\n", deflated(page, 15), false,
         ReadError::None, page},
        {"deflate, raw", "Content-Encoding: deflate\r\n", deflated(page, -15), true,
         ReadError::None, page},
        {"gzip of two members", "Content-Encoding: gzip\r\n", gzipped("one, ") + gzipped("two"),
         false, ReadError::None, "one, two"},
        {"junk after the coded stream is ignored", "Content-Encoding: gzip\r\n", gz + "junk!", true,
         ReadError::None, page},
        {"damaged", "Content-Encoding: gzip\r\n", damaged, false, ReadError::BadEncoding, ""},
        {"two codings are left as they are", "Content-Encoding: gzip, gzip\r\n", "abc", false,
         ReadError::None, "abc"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string input = row.chunks ? std::string(kOk11) + row.fields +
                                                   "Transfer-Encoding: chunked\r\n\r\n" +
                                                   chunked(row.body, 7)
                                             : with_length(row.fields, row.body);
        const Outcome o = read_both_ways(input);
        EXPECT_EQ(o.error, row.error);
        if (row.error == ReadError::None) {
            EXPECT_EQ(o.state, ReadState::Done);
            EXPECT_EQ(o.body, row.decoded);
            EXPECT_TRUE(o.reusable);
        }
    }
}

TEST(HttpReaderTest, CodedStreamCutShortKeepsWhatWasDecoded) {
    const std::string page(100000, 'z');
    const std::string gz = gzipped(page);
    const Outcome o = read_both_ways(
        std::string(kOk11) + "Content-Encoding: gzip\r\n\r\n" + gz.substr(0, gz.size() / 2), kRoomy,
        false, true);
    EXPECT_EQ(o.state, ReadState::Done);
    EXPECT_GT(o.body.size(), 0u);
    EXPECT_EQ(o.body, page.substr(0, o.body.size()));
}

TEST(HttpReaderTest, DecompressionBombStopsExactlyAtTheLimit) {
    const std::string bomb = gzipped(std::string(8 << 20, '\0'));
    ASSERT_LT(bomb.size(), 16u * 1024);
    const struct {
        const char* name;
        std::string input;
    } rows[] = {
        {"length", with_length("Content-Encoding: gzip\r\n", bomb)},
        {"chunks", std::string(kOk11) +
                       "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       chunked(bomb, 1000)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome o = read_both_ways(row.input, 100000);
        EXPECT_EQ(o.state, ReadState::Done);
        EXPECT_TRUE(o.cut);
        EXPECT_EQ(o.body, std::string(100000, '\0'));
    }
    // The same stream with room for all of it is not cut.
    const Outcome fits = read_both_ways(with_length("Content-Encoding: gzip\r\n", bomb), 8 << 20);
    EXPECT_FALSE(fits.cut);
    EXPECT_TRUE(fits.reusable);
    EXPECT_EQ(fits.body.size(), 8u << 20);
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

TEST(ContentDecoderTest, CodingNames) {
    EXPECT_EQ(coding_named(" GZip "), ContentCoding::Gzip);
    EXPECT_EQ(coding_named("x-gzip"), ContentCoding::Gzip);
    EXPECT_EQ(coding_named("deflate"), ContentCoding::Deflate);
    EXPECT_EQ(coding_named("identity"), ContentCoding::Identity);
    EXPECT_EQ(coding_named("gzip, br"), ContentCoding::Identity);
    EXPECT_EQ(coding_named("br"),
              brotli_available() ? ContentCoding::Brotli : ContentCoding::Identity);
    EXPECT_EQ(accept_encoding(), brotli_available() ? "gzip, deflate, br" : "gzip, deflate");
}

#ifdef TARNVELOX_TEST_BROTLI
TEST(HttpReaderTest, BrotliBodyIsDecoded) {
    ASSERT_TRUE(brotli_available());
    const std::string page = "<p>" + std::string(5000, 'b') + "</p>";
    const std::string coded = brotli_coded(page);
    const Outcome whole = read_both_ways(with_length("Content-Encoding: br\r\n", coded));
    EXPECT_EQ(whole.body, page);
    const Outcome cut = read_both_ways(with_length("Content-Encoding: br\r\n", coded), 100);
    EXPECT_TRUE(cut.cut);
    EXPECT_EQ(cut.body, page.substr(0, 100));
}
#endif

}  // namespace
}  // namespace tarnvelox::net
