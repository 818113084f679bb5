#include "net/request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/content_decoder.h"

namespace tarnvelox::net {
namespace {

using namespace std::string_literals;

store::ItemRecord item_for(std::optional<std::string> url,
                           std::optional<std::string> source = std::nullopt) {
    store::ItemRecord item;
    item.url = std::move(url);
    item.source = std::move(source);
    return item;
}

std::string times(std::string_view text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

RequestOptions options_with(std::string proxy, int32_t cache = 0) {
    RequestOptions options;
    options.proxy = std::move(proxy);
    options.port = 3128;
    options.cache = cache;
    return options;
}

// What goes on the wire for a template: expanded, stored back in the item, then built.
std::string wire(const std::string& url, std::optional<std::string> source, std::string_view name,
                 const RequestOptions& options) {
    store::ItemRecord item = item_for(url, std::move(source));
    Expansion expansion = expand_request_url(item, name, options);
    EXPECT_EQ(expansion.error, ExpandError::None);
    item.url = std::move(expansion.url);
    return build_request(item, options);
}

// Fixed pieces of the expected requests, spelled out here independently of the code.
const std::string kGet = " HTTP/1.0\r\nConnection: close\r\nUser-Agent: Tarnvelox 1.00\r\n";
const std::string kAccept = "Accept: */*\r\nAccept-Charset: iso-8859-1,*,utf-8\r\n\r\n";
const std::string kForm = "Connection: Close\r\nUser-Agent: Mozilla/4.0 [en] (Win95; I)\r\n";
const std::string kFormType =
    "Content-type: application/x-www-form-urlencoded\r\n"
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
    "Accept-Charset: iso-8859-1,*,utf-8\r\n";

TEST(RequestTest, PageRequestsMatchTheWireFormatByteForByte) {
    struct Row {
        std::string url, proxy;
        int32_t cache;
        std::string expected;
    };
    const Row rows[] = {
        {"http://www.h.test/dir/page.html", "", 0,
         "GET /dir/page.html HTTP/1.0\r\nConnection: close\r\nUser-Agent: Tarnvelox 1.00\r\n"
         "Host: www.h.test\r\nAccept: */*\r\nAccept-Charset: iso-8859-1,*,utf-8\r\n\r\n"},
        {"http://www.h.test/dir/page.html", "", 1,
         "GET /dir/page.html" + kGet + "Host: www.h.test\r\nPragma: no-cache\r\n" + kAccept},
        {"http://www.h.test/", "", 2, "GET /" + kGet + "Host: www.h.test\r\n" + kAccept},
        {"http://h.test", "", 0, "GET /" + kGet + "Host: h.test\r\n" + kAccept},
        // Through a proxy: the full URL up to the fragment, the Host line of the URL's server.
        {"http://h.test:81/a:b#x", "proxy.lan", 0,
         "GET http://h.test:81/a:b" + kGet + "Host: h.test:81\r\n" + kAccept},
        {"http://h.test:81/a:b#x", "proxy.lan", 1,
         "GET http://h.test:81/a:b" + kGet + "Host: h.test:81\r\nPragma: no-cache\r\n" + kAccept},
        {"http://h.test:81/a:b#x", "", 0, "GET /a" + kGet + "Host: h.test:81\r\n" + kAccept},
        {"h.test", "", 0, "GET /" + kGet + kAccept},
        {"http://h.test/p.html#top", "", 0, "GET /p.html" + kGet + "Host: h.test\r\n" + kAccept},
        {"http://h.test/go?to=http://x.test/", "", 0,
         "GET /go?to=http" + kGet + "Host: h.test\r\n" + kAccept},
        {"http://joe:pw@h.test/x", "", 0, "GET /x" + kGet + "Host: joe:pw@h.test\r\n" + kAccept},
        {"HTTPS://h.test/s", "", 0, "GET /s" + kGet + "Host: h.test\r\n" + kAccept},
        {"http://h.test/a/POST   b", "", 0, "GET /a/POST b" + kGet + "Host: h.test\r\n" + kAccept},
        {"http://h.test/p\0#x"s, "", 0, "GET /p" + kGet + "Host: h.test\r\n" + kAccept},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url + " proxy=" + row.proxy + " cache=" + std::to_string(row.cache));
        EXPECT_EQ(build_request(item_for(row.url), options_with(row.proxy, row.cache)),
                  row.expected);
    }
    EXPECT_EQ(build_request(item_for(std::nullopt), {}), "");
    EXPECT_EQ(build_request(item_for(""), {}), "");
}

// The modern way's request: HTTP/1.1 with the Host the classic request names, keep-alive and
// the codings decoded. Forms, and URLs without a Host to name, go the classic way.
TEST(RequestTest, ModernRequestsAreHttp11AndLeaveFormsToTheClassicWay) {
    const std::string tail = "User-Agent: Tarnvelox 1.00\r\nAccept: */*\r\nAccept-Encoding: " +
                             std::string(accept_encoding()) + "\r\nConnection: keep-alive\r\n";
    EXPECT_EQ(build_modern_request(item_for("http://u@www.a.example:81/x/y.html#top"), {}),
              "GET /x/y.html HTTP/1.1\r\nHost: www.a.example:81\r\n" + tail + "\r\n");
    EXPECT_EQ(build_modern_request(item_for("http://www.a.example?q"), options_with("px", 1)),
              "GET http://www.a.example?q HTTP/1.1\r\nHost: www.a.example\r\n" + tail +
                  "Pragma: no-cache\r\n\r\n");
    for (const char* url : {"", "www.a.example/x", "http://www.a.example/POST /f HTTP/1.0\r\n"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(build_modern_request(item_for(url), {}), "");
    }
    EXPECT_EQ(build_modern_request(item_for(std::nullopt), {}), "");
}

TEST(RequestTest, FormRequestsCarryTheirHeaderBlockAndBodyByteForByte) {
    struct Row {
        std::string url;
        std::optional<std::string> source;
        std::string proxy;
        int32_t cache;
        std::string expected;
    };
    const std::string find = "http://dir.test/POST /cgi/find $HTTPq=$NAME&x=1";
    const std::string body = "\r\nq=O%27Neil+Smith&x=1\r\n";
    const Row rows[] = {
        {find, std::nullopt, "", 0,
         "POST /cgi/find HTTP/1.0\r\nConnection: Close\r\n"
         "User-Agent: Mozilla/4.0 [en] (Win95; I)\r\nContent-Length: 22\r\n"
         "Content-type: application/x-www-form-urlencoded\r\n"
         "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
         "Accept-Charset: iso-8859-1,*,utf-8\r\n\r\nq=O%27Neil+Smith&x=1\r\n"},
        {find, "http://dir.test/", "", 1,
         "POST /cgi/find HTTP/1.0\r\nReferer: http://dir.test/\r\n" + kForm +
             "Content-Length: 22\r\n" + kFormType + "Pragma: no-cache\r\n" + body},
        {find, "******", "", 0,
         "POST /cgi/find HTTP/1.0\r\n" + kForm + "Content-Length: 22\r\n" + kFormType + body},
        {find, "*x", "", 0,
         "POST /cgi/find HTTP/1.0\r\n" + kForm + "Content-Length: 22\r\n" + kFormType + body},
        {find, "", "", 0,
         "POST /cgi/find HTTP/1.0\r\n" + kForm + "Content-Length: 22\r\n" + kFormType + body},
        {find, "http://dir.test/", "proxy.lan", 0,
         "POST http://dir.test/cgi/find HTTP/1.0\r\nReferer: http://dir.test/\r\n" + kForm +
             "Content-Length: 22\r\n" + kFormType + body},
        {"http://h.test/POST /s $HTTPa=b", std::nullopt, "", 0,
         "POST /s HTTP/1.0\r\n" + kForm + "Content-Length: 5\r\n" + kFormType + "\r\na=b\r\n"},
        {"http://h.test/POST /s $HTTP", std::nullopt, "", 0,
         "POST /s HTTP/1.0\r\n" + kForm + "Content-Length: 2\r\n" + kFormType + "\r\n\r\n"},
        // Only the first placeholder becomes the header block; the second is body text.
        {"http://h.test/POST /s $HTTPa=$HTTP", std::nullopt, "", 0,
         "POST /s HTTP/1.0\r\n" + kForm + "Content-Length: 9\r\n" + kFormType + "\r\na=$HTTP\r\n"},
        {"http://h.test/POST /s $HTTPa=b", "http://h.test/POST  /s", "", 0,
         "POST /s HTTP/1.0\r\nReferer: http://h.test/POST /s\r\n" + kForm +
             "Content-Length: 5\r\n" + kFormType + "\r\na=b\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url + " source=" + row.source.value_or("(none)") + " proxy=" + row.proxy +
                     " cache=" + std::to_string(row.cache));
        EXPECT_EQ(wire(row.url, row.source, "O'Neil Smith", options_with(row.proxy, row.cache)),
                  row.expected);
    }
}

TEST(RequestTest, NamePlaceholdersTakeTheEncodedPartsOfTheName) {
    struct Row {
        std::string name, expected;
    };
    const Row rows[] = {
        {"Ann Lee", "f=Ann&s=Lee&n=Ann+Lee"},
        {"Cher", "f=Cher&s=Cher&n=Cher"},
        {"", "f=&s=&n="},
        {"O'Neil Smith", "f=O%27Neil&s=Smith&n=O%27Neil+Smith"},
        {"Mary Ann  Jones", "f=Mary&s=Jones&n=Mary+Ann++Jones"},
        {"Ann \tLee", "f=Ann&s=Lee&n=Ann+%09Lee"},
        {"Ann ", "f=Ann&s=&n=Ann+"},
        {"J\xFCrgen M\xFCller", "f=J%FCrgen&s=M%FCller&n=J%FCrgen+M%FCller"},
        {"Ann\0Lee"s, "f=Ann&s=Ann&n=Ann"},
        {"$NAME $FIRST", "f=%24NAME&s=%24FIRST&n=%24NAME+%24FIRST"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Expansion expansion = expand_request_url(
            item_for("http://d.test/?f=$FIRST&s=$SURNAME&n=$NAME"), row.name, {});
        EXPECT_EQ(expansion.error, ExpandError::None);
        EXPECT_EQ(expansion.url, "http://d.test/?" + row.expected);
    }
}

TEST(RequestTest, ExpansionRepeatsUntilNoPlaceholderIsLeft) {
    struct Row {
        std::string url, name, expected;
    };
    const Row rows[] = {
        {"http://h.test/$DOMAINa$DOMAIN", "x", "http://h.test/a"},
        {"http://h.test/$DOM$DOMAINAIN", "x", "http://h.test/"},
        {"http://h.test/$NA$NAMEME", "", "http://h.test/"},
        {"http://h.test/$NA$NAMEME", "x", "http://h.test/$NAxME"},
        {"http://h.test/$NAME$NAME/$FIRST", "x", "http://h.test/xx/x"},
        {"http://h.test/$name$Name$http", "x", "http://h.test/$name$Name$http"},
        {"http://h.test/$NAME\0$NAME"s, "x", "http://h.test/x"},
        // Requests to the update host are never expanded, whatever the letter case.
        {"http://update.tarnvelox.example/v?$NAME$HTTP", "x",
         "http://update.tarnvelox.example/v?$NAME$HTTP"},
        {"http://UPDATE.Tarnvelox.EXAMPLE/$DOMAIN", "x", "http://UPDATE.Tarnvelox.EXAMPLE/$DOMAIN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        const Expansion expansion = expand_request_url(item_for(row.url), row.name, {});
        EXPECT_EQ(expansion.error, ExpandError::None);
        EXPECT_EQ(expansion.url, row.expected);
    }
    for (const auto& url : {std::optional<std::string>(), std::optional<std::string>(""),
                            std::optional<std::string>("\0http://h.test/"s)}) {
        EXPECT_EQ(expand_request_url(item_for(url), "x", {}).error, ExpandError::Empty);
    }
}

TEST(RequestTest, ExpansionIsRefusedPastTheBufferNeverCut) {
    const std::string root = "http://h.test/";  // 14 characters
    auto expand = [](const std::string& url, std::string_view name) {
        return expand_request_url(item_for(url, "http://ref.test/"), name, {});
    };
    const std::string exact = root + std::string(2047 - 14, 'a');
    EXPECT_EQ(expand(exact, "").url, exact);
    EXPECT_EQ(expand(exact + "a", "").error, ExpandError::TooLong);

    // 2047 characters before the expansion; "$NAME" makes room for a name of five.
    const std::string named = root + std::string(2028, 'a') + "$NAME";
    EXPECT_EQ(expand(named, "abcde").url.size(), 2047u);
    EXPECT_EQ(expand(named, "abcdef").error, ExpandError::TooLong);
    EXPECT_EQ(expand("a" + named, "").error, ExpandError::TooLong);  // too long to start with

    // The header block and the final line end count; pad the target, not the body.
    const auto form = [&](std::size_t pad) {
        return root + "POST /s" + std::string(pad, 'p') + " $HTTPq=$NAME";
    };
    const std::size_t small = expand(form(0), "abc").url.size();
    const Expansion full = expand(form(2047 - small), "abc");
    EXPECT_EQ(full.url.size(), 2047u);
    EXPECT_TRUE(full.url.ends_with("\r\n\r\nq=abc\r\n"));
    EXPECT_EQ(expand(form(2048 - small), "abc").error, ExpandError::TooLong);

    const std::string long_name(3000, 'n');
    EXPECT_EQ(expand(root + "x", long_name).error, ExpandError::None);
    EXPECT_EQ(expand(root + "$SURNAME", long_name).error, ExpandError::TooLong);
}

TEST(RequestTest, FormValuesAreEncodedWithinTheirBuffer) {
    struct Row {
        std::string text, expected;
    };
    const Row rows[] = {
        {"O'Neil Smith", "O%27Neil+Smith"},
        {"az AZ 09*-._", "az+AZ+09*-._"},
        {"a+b&c=d/%~", "a%2Bb%26c%3Dd%2F%25%7E"},
        {"\x01\x0F\x10\x7F", "%01%0F%10%7F"},
        {"\x80\xE9\xFF", "%80%E9%FF"},
        {"", ""},
        {"a\0b"s, "a"},
        // 682 escapes and one letter: exactly the 2047 characters that fit.
        {std::string(682, '\'') + "a", times("%27", 682) + "a"},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.text.substr(0, 20));
        EXPECT_TRUE(encode_form_value(row.text));
        EXPECT_EQ(row.text, row.expected);
    }
    for (std::string over : {std::string(683, '\''), std::string(2048, 'a')}) {
        const std::string before = over;
        EXPECT_FALSE(encode_form_value(over));
        EXPECT_EQ(over, before);
    }
}

TEST(RequestTest, ConnectionGoesToTheServerOrTheProxy) {
    struct Row {
        std::string url, proxy, host;
        int32_t port;
        bool tls;
    };
    const Row rows[] = {
        {"http://www.h.test/a", "", "www.h.test", 80, false},
        {"http://h.test:81/a:b#x", "", "h.test", 81, false},
        {"http://joe@h.test/x", "", "h.test", 80, false},
        {"http://joe@h.test", "", "h.test", 80, false},
        {"http://h.test/a@b", "", "h.test", 80, false},
        {"http://h.test/p?u=x:81", "", "h.test", 81, false},  // the colon search runs on
        {"h.test", "", "h.test", 80, false},
        {"h.test/x", "", "h.test/x", 80, false},
        {"http://h.test:0/", "", "h.test", 80, false},
        {"http://h.test:-5/", "", "h.test", 80, false},
        {"http://h.test:65535/", "", "h.test", 65535, false},
        {"http://h.test:65536/", "", "h.test", 80, false},
        {"https://h.test/", "", "h.test", 443, true},
        {"HtTpS://h.test/", "", "h.test", 443, true},
        {"https://h.test:8443/", "", "h.test", 8443, true},
        {"https://h.test:x/", "", "h.test", 443, true},
        {"https:h.test", "", "https:h.test", 443, true},
        {"httpsx://h.test/", "", "h.test", 80, false},
        {"ftp://h.test/", "", "h.test", 80, false},
        {"http://h.test\0:81"s, "", "h.test", 80, false},
        {"https://h.test:8443/", "proxy.lan", "proxy.lan", 3128, false},
        {"http://h.test:81/a:b#x", "proxy.lan", "proxy.lan", 3128, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url + " proxy=" + row.proxy);
        const RequestOptions options = options_with(row.proxy);
        EXPECT_EQ(connect_host(row.url, options), row.host);
        EXPECT_EQ(connect_port(row.url, options), row.port);
        EXPECT_EQ(uses_tls(row.url, options), row.tls);
    }
}

TEST(RequestTest, RequestTargetStartsAfterTheAuthority) {
    const std::pair<std::string, std::string> rows[] = {
        {"http://h.test/POST /s a:b", "/POST /s a:b"},
        {"http:///p:q", "/p"},
        {"http://h.test", "/"},
        {"a/", "/"},
        {"/", "/"},
        {"", "/"},
        {"h.test/x/y", "/y"},
    };
    for (const auto& [url, target] : rows) {
        SCOPED_TRACE(url);
        EXPECT_EQ(request_target(url), target);
    }
}

// Every short text built from the pieces that steer the parsing: nothing may read outside its
// input (checked under the sanitizers), and the results keep their basic shape.
TEST(RequestTest, ArbitraryShortUrlsAreHandledSafely) {
    const std::vector<std::string> pieces = {"/",     "//", ":", "@",   "#",    "$HTTP",
                                             "/POST", "  ", "h", "\0"s, "\xFF", "$NAME"};
    std::vector<std::string> urls = {""};
    std::vector<std::string> level = {""};
    for (int depth = 0; depth < 4; ++depth) {
        std::vector<std::string> longer;
        for (const std::string& prefix : level) {
            for (const std::string& piece : pieces) longer.push_back(prefix + piece);
        }
        urls.insert(urls.end(), longer.begin(), longer.end());
        level = std::move(longer);
    }
    const RequestOptions plain = options_with("");
    const RequestOptions proxied = options_with("proxy.lan", 1);
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        EXPECT_EQ(request_target(url).front(), '/');
        const int32_t port = connect_port(url, plain);
        EXPECT_TRUE(port >= 1 && port <= kMaxPort);
        EXPECT_EQ(connect_port(url, proxied), 3128);
        EXPECT_EQ(connect_host(url, proxied), "proxy.lan");
        (void)connect_host(url, plain);
        (void)uses_tls(url, plain);
        const Expansion expansion = expand_request_url(item_for(url), "A B", plain);
        EXPECT_LE(expansion.url.size(), kMaxExpandedUrl);
        for (const RequestOptions* options : {&plain, &proxied}) {
            const std::string request = build_request(item_for(expansion.url), *options);
            if (request.starts_with("GET ")) {
                EXPECT_TRUE(request.ends_with("\r\n\r\n"));
            }
        }
    }
}

}  // namespace
}  // namespace tarnvelox::net
