#include "net/http_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tarnvelox::net {
namespace {

TEST(HttpTextTest, StatusCodeOnlyFromAWellFormedStatusLine) {
    const struct {
        const char* response;
        int code;
    } rows[] = {
        {"HTTP/1.0 200 OK\r\n", 200},
        {"HTTP/1.1 503 Service Unavailable", 503},
        {"HTTP/1.0 429", 429},
        {"HTTP/10.23 404 x", 404},
        {"HTTP/1.0 2000 OK", -1},
        {"HTTP/1.0 20 OK", -1},
        {"HTTP/1.0  200 OK", -1},
        {"HTTP/1 200 OK", -1},
        {"http/1.0 200 OK", -1},
        {" HTTP/1.0 200 OK", -1},
        {"", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        EXPECT_EQ(http_status_code(row.response), row.code);
    }
}

TEST(HttpTextTest, BodyBytesMissingAreThoseTheContentLengthAnnouncedBeyondTheBody) {
    const struct {
        const char* response;
        int64_t missing;
    } rows[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n1234", 6},
        {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n1234", 0},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n1234", 0},
        {"HTTP/1.0 404 Not Found\nContent-Length: 9\n\nab", 7},
        {"HTTP/1.0 200 OK\r\n\r\n1234", 0},                        // no length
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n", 0},          // the header is cut
        {"HTTP/1.0 200 OK\r\nContent-Length: ten\r\n\r\n12", 0},    // no number
        {"HTTP/1.0 204 No Content\r\nContent-Length: 10\r\n\r\n", 0},
        {"HTTP/1.0 304 Not Modified\r\nContent-Length: 10\r\n\r\n", 0},
        {"garbage\r\nContent-Length: 10\r\n\r\n12", 8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        EXPECT_EQ(body_bytes_missing(row.response), row.missing);
    }
}

TEST(HttpTextTest, HeaderLineIsFoundOnlyAsAWholeLine) {
    const std::string headers =
        "HTTP/1.0 503 Busy\r\nX-Note: Retry-After: 99\r\nretry-after :  7  \r\nDate: x";
    EXPECT_EQ(header_line(headers, "Retry-After"), "7");
    EXPECT_EQ(header_line(headers, "date"), "x");
    EXPECT_EQ(header_line(headers, "Location"), std::nullopt);
}

TEST(HttpTextTest, ResponseSplitsAtItsFirstEmptyLineWhateverTheLineEnds) {
    const struct {
        const char* response;
        const char* headers;  // null: no empty line
        const char* body;
    } rows[] = {
        {"HTTP/1.0 200 OK\r\nA: 1\r\n\r\nbody\r\n\r\nmore", "HTTP/1.0 200 OK\r\nA: 1\r",
         "body\r\n\r\nmore"},
        {"HTTP/1.0 200 OK\nA: 1\n\nUser-agent: *\n\nDisallow: /", "HTTP/1.0 200 OK\nA: 1",
         "User-agent: *\n\nDisallow: /"},
        {"HTTP/1.0 200 OK\r\nA: 1\n\nx", "HTTP/1.0 200 OK\r\nA: 1", "x"},
        {"HTTP/1.0 200 OK\nA: 1\n\r\nx", "HTTP/1.0 200 OK\nA: 1", "x"},
        {"HTTP/1.0 200 OK\n\n", "HTTP/1.0 200 OK", ""},
        {"HTTP/1.0 200 OK\r\nA: 1\r\n", nullptr, nullptr},
        {"HTTP/1.0 200 OK\r\nA: 1\r\n\r", nullptr, nullptr},
        {"HTTP/1.0 200 OK\r\r\n", nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response);
        const std::optional<ResponseParts> parts = split_response(row.response);
        if (row.headers == nullptr) {
            EXPECT_FALSE(parts.has_value());
            continue;
        }
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->headers, row.headers);
        EXPECT_EQ(parts->body, row.body);
    }
    EXPECT_EQ(content_length("HTTP/1.0 200 OK\nContent-Length:  42 \r\nX: y"), 42);
    EXPECT_EQ(content_length("HTTP/1.0 200 OK\r\ncontent-length: 0"), 0);
    EXPECT_EQ(content_length("HTTP/1.0 200 OK\r\nContent-Length: 4x"), std::nullopt);
    EXPECT_EQ(content_length("HTTP/1.0 200 OK\r\nContent-Length: -1"), std::nullopt);
    EXPECT_EQ(content_length("HTTP/1.0 200 OK\r\nX-Content-Length: 5"), std::nullopt);
}

TEST(HttpTextTest, HttpDatesInAllThreeForms) {
    constexpr int64_t kSunday = 784111777;  // 1994-11-06 08:49:37 UTC
    const struct {
        const char* text;
        std::optional<int64_t> seconds;
    } rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kSunday},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kSunday},
        {"Sun Nov  6 08:49:37 1994", kSunday},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Tue, 29 Feb 2000 23:59:59 GMT", 951868799},
        {"Fri, 01 Jan 2038 00:00:00 GMT", 2145916800},
        {"Sat, 01 Jan 05 00:00:00 GMT", 1104537600},  // two-digit year below 70: this century
        {"Sun, 06 Nov 1994 08:49 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nev 1994 08:49:37 GMT", std::nullopt},
        {"06 Nov 1994 1995 08:49:37", std::nullopt},
        {"120", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parse_http_date(row.text), row.seconds);
    }
}

TEST(HttpTextTest, RetryAfterInSecondsOrAsADate) {
    constexpr int64_t kNow = 784111777;  // the local clock, for answers without a Date
    const struct {
        const char* headers;
        std::optional<int64_t> wait;
    } rows[] = {
        {"HTTP/1.0 503 x\r\nRetry-After: 120", 120},
        {"HTTP/1.0 503 x\r\nRetry-After: 0", 0},
        {"HTTP/1.0 503 x\r\nRetry-After: 99999999999999", 999'999'999},
        // A date: against the answer's own Date, else against the local clock.
        {"HTTP/1.0 503 x\r\nDate: Sun, 06 Nov 1994 08:00:00 GMT\r\n"
         "Retry-After: Sun, 06 Nov 1994 08:01:30 GMT",
         90},
        {"HTTP/1.0 503 x\r\nRetry-After: Sun, 06 Nov 1994 08:50:37 GMT", 60},
        {"HTTP/1.0 503 x\r\nRetry-After: Sun, 06 Nov 1994 08:00:00 GMT", 0},  // passed
        {"HTTP/1.0 503 x\r\nRetry-After: -5", std::nullopt},
        {"HTTP/1.0 503 x\r\nRetry-After: soon", std::nullopt},
        {"HTTP/1.0 503 x\r\nRetry-After:", std::nullopt},
        {"HTTP/1.0 503 x", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.headers);
        EXPECT_EQ(retry_after_seconds(row.headers, kNow), row.wait);
    }
}

}  // namespace
}  // namespace tarnvelox::net
