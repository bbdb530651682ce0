// Response decoding and address splitting of the HTTP client, without a network.

#include "web/HttpDecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/web/Gzip.h"
#include "util/Cp1250.h"
#include "web/HttpUrl.h"

namespace pom::http {
namespace {

using Lines = std::vector<std::string>;
using pom::test::Deflate;
using pom::test::Gzip;

const std::string kMagic("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8);

TEST(DecodeBody, OnlyTheOneGzipFormIsUnpacked) {
    const std::string text = "Result=Ok\r\n";
    std::string named = Gzip(text);
    named[3] = 0x08;  // FNAME flag: a member with a file name
    std::string timed = Gzip(text);
    timed[4] = 0x01;  // a modification time
    std::string cut = Gzip(std::string(5000, 'x'));
    cut.resize(cut.size() / 2);
    std::string corrupt = Gzip(text);
    corrupt[12] = static_cast<char>(corrupt[12] ^ 0x5A);
    struct Case {
        const char* name;
        std::string body;
        std::string expected;
    } cases[] = {
        {"plain text", text, text},
        {"gzip", Gzip(text), text},
        {"gzip with a file name is left as it is", named, named},
        {"gzip with a time is left as it is", timed, timed},
        {"zlib stream after the 8 bytes", kMagic + Deflate(text, 15), text},
        {"cut short", cut, ""},
        {"corrupt", corrupt, ""},
        {"only the magic", kMagic, ""},
        {"gzip of nothing", Gzip(""), ""},
        {"short body", "\x1f\x8b", "\x1f\x8b"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeBody(c.body), c.expected) << c.name;
}

TEST(DecodeBody, InflatesNoFurtherThanItsLimit) {
    bool tooLarge = false;
    const std::string bomb = pom::test::GzipBomb(1);  // ~1 MB inflating to ~1 GB
    EXPECT_EQ(DecodeBody(bomb, kMaxDecoded, &tooLarge), "");
    EXPECT_TRUE(tooLarge);
    const std::string body(20000, 'a');
    EXPECT_EQ(DecodeBody(Gzip(body), 19999, &tooLarge), "");
    EXPECT_TRUE(tooLarge);
    EXPECT_EQ(DecodeBody(Gzip(body), 20000, &tooLarge), body);
    EXPECT_FALSE(tooLarge);
}

TEST(BodyToText, CharsetDecidesTheConversion) {
    const std::string utf8 = "\xc5\x81\xc3\xb3\x64\xc5\xba";  // Łódź
    const std::string cp = Cp("Łódź");
    const std::string utf16(
        "A\0\x41\x01\x00\x00"
        "B\0",
        8);  // "AŁ", zero unit, "B"
    struct Case {
        const char* headers;
        std::string body;
        std::string expected;
    } cases[] = {
        {"Content-Type: text/plain; charset=utf-8\r\n", utf8, cp},
        {"Content-Type: text/plain; charset=UTF-8\r\n", utf8, utf8},
        {"Content-Type: text/plain\r\n", utf8, utf8},
        {"Content-Type: text/plain; charset=utf-16\r\n", utf16, Cp("AŁ")},
        {"Content-Type: text/plain; charset=utf-8\r\n", "\xff\xfe", "??"},
    };
    for (const auto& c : cases) EXPECT_EQ(BodyToText(c.body, c.headers), c.expected) << c.headers;
    // A surrogate pair has no Windows-1250 byte; an odd last byte is dropped.
    EXPECT_EQ(Utf16LeToCp1250(std::string("\x3d\xd8\x00\xde"
                                          "a\0"
                                          "b",
                                          7)),
              "?a");
}

TEST(SplitLines, LineEndsAndZero) {
    struct Case {
        std::string text;
        Lines expected;
    } cases[] = {
        {"Result=Ok\r\n", {"Result=Ok"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\rb\r\nc\n\rd", {"a", "b", "c", "", "d"}},
        {"", {}},
        {"\r\n", {""}},
        {std::string("ab\0cd\n", 6), {"ab"}},
        {"x\r\r\n", {"x", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.expected) << c.text;
    bool cut = false;
    EXPECT_EQ(SplitLines("1\n2\n3\n", 2, &cut), (Lines{"1", "2"}));
    EXPECT_TRUE(cut);
}

TEST(Headers, ValueLengthAndCookies) {
    const Lines h = {"HTTP/1.1 200 OK", "Content-Type: text/html: x",
                     "X-Empty: ",       "Set-Cookie: a=1; Path=/",
                     "set-cookie:b=2",  "NoSpace:1"};
    EXPECT_EQ(HeaderValue(h, "content-type"), "text/html: x");
    EXPECT_EQ(HeaderValue(h, "  CONTENT-TYPE: "), "text/html: x");
    EXPECT_EQ(HeaderValue(h, "X-Empty"), "");
    EXPECT_EQ(HeaderValue(h, "NoSpace"), "");  // only "name: " counts
    EXPECT_EQ(HeaderValue(h, "Missing"), "");
    EXPECT_EQ(CookiesOf(h), (Lines{"a=1; Path=/", "b=2"}));
    EXPECT_EQ(CookiesOf({"Set-Cookie: " + std::string(20000, 'c')})[0].size(), kMaxCookie);

    struct Case {
        Lines headers;
        std::int64_t expected;
    } lengths[] = {
        {{"HTTP/1.0 200 OK"}, 1},
        {{"Content-Length: 0"}, 1},
        {{"Content-Length: 1234"}, 1234},
        {{"Content-Length: 12x"}, 1},
        {{"Content-Length: 99999999999999999999999"}, 1},
        {{"Custom-Content-Length: 42"}, 42},
        {{"Content-Length: 1", "Custom-Content-Length: 42"}, 42},
        {{"Content-Length: 7", "Custom-Content-Length: 42"}, 7},
        {{"Custom-Content-Length: 0"}, 1},
        {{"Custom-Content-Length: lots"}, 1},
    };
    for (const auto& c : lengths)
        EXPECT_EQ(ContentLengthOf(c.headers), c.expected) << c.headers.back();

    // Only a 2xx status lets a reply word count, so a line that is no status
    // line must not pass for one.
    struct Status {
        Lines headers;
        int expected;
    } statuses[] = {
        {{"HTTP/1.1 500 Internal Server Error", "Content-Length: 3"}, 500},
        {{"HTTP/2 204"}, 204},
        {{"HTTP/1.1 20 Short"}, 0},
        {{"HTTP/1.1 2000 Long"}, 0},
        {{"Content-Length: 200"}, 0},
        {{}, 0},
    };
    for (const auto& c : statuses)
        EXPECT_EQ(StatusOf(c.headers), c.expected) << (c.headers.empty() ? "" : c.headers[0]);
}

TEST(HeaderCollector, KeepsTheLastResponseAndItsLimit) {
    HeaderCollector c;
    for (const char* l : {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "A: 1\r\n",
                          "\r\n", "Trailer: x\r\n"})
        ASSERT_TRUE(c.Add(l));
    EXPECT_TRUE(c.Complete());
    EXPECT_EQ(c.Lines(), (Lines{"HTTP/1.1 200 OK", "A: 1"}));
    HeaderCollector big;
    ASSERT_TRUE(big.Add("HTTP/1.1 200 OK\r\n"));
    const std::string line = "X: " + std::string(1000, 'x') + "\r\n";
    bool ok = true;
    for (int i = 0; i < 100 && ok; ++i) ok = big.Add(line);
    EXPECT_FALSE(ok);
}

TEST(CrackUrl, PartsAndFailures) {
    struct Case {
        const char* url;
        int error;  // 0: expect the parts
        CrackedUrl parts;
    } cases[] = {
        {"http://h.pl/a/b.php?x=1&y=2", 0, {"http", "h.pl", 80, "/a/b.php", "?x=1&y=2"}},
        {"https://h.pl/a", 0, {"https", "h.pl", 443, "/a", ""}},
        {"http://h.pl:8080/a b?", 0, {"http", "h.pl", 8080, "/a b", "?"}},
        {"http://h.pl", 0, {"http", "h.pl", 80, "", ""}},
        {"http://h.pl?q=1", 0, {"http", "h.pl", 80, "", "?q=1"}},
        {"abc://h.pl/x", 0, {"abc", "h.pl", 80, "/x", ""}},
        {"http://h.pl:99999/", 1, {}},
        {"http://", 1, {}},
    };
    for (const auto& c : cases) {
        CrackedUrl out;
        std::string message;
        const int error = CrackUrl(c.url, out, message);
        if (c.error == 0) {
            ASSERT_EQ(error, 0) << c.url << ": " << message;
            EXPECT_EQ(out.scheme, c.parts.scheme) << c.url;
            EXPECT_EQ(out.host, c.parts.host) << c.url;
            EXPECT_EQ(out.port, c.parts.port) << c.url;
            EXPECT_EQ(out.path, c.parts.path) << c.url;
            EXPECT_EQ(out.extra, c.parts.extra) << c.url;
        } else {
            EXPECT_NE(error, 0) << c.url;
            EXPECT_FALSE(message.empty()) << c.url;
        }
    }
    CrackedUrl out;
    std::string message;
    EXPECT_NE(CrackUrl("http://h.pl/?" + std::string(3000, 'q'), out, message), 0);
    EXPECT_TRUE(UsesTls({"http", "h", 443, "/", ""}));
    EXPECT_TRUE(UsesTls({"https", "h", 8443, "/", ""}));
    EXPECT_FALSE(UsesTls({"http", "h", 8443, "/", ""}));
    EXPECT_EQ(EscapeObjectName("/a b/\xc5\x82.php?x=%41&y=\"#"),
              "/a%20b/%C5%82.php?x=%41&y=%22%23");
}

}  // namespace
}  // namespace pom::http
