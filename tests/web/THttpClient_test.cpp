// The HTTP client against a local server that records the raw request bytes
// and answers with canned, dripped, silent or reset responses.

#include "web/THttpClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/web/Gzip.h"
#include "util/Cp1250.h"
#include "web/HttpDecode.h"

namespace pom {
namespace {

using test::BodyOf;
using test::HeadOf;
using test::RawHttpServer;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kBoundary = std::string(31, '-') + "7cf87224d2020a";  // "--" + the boundary
const std::string kOk = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nResult=Ok\r\n";

// The request line, and the other header lines sorted (their order is the
// transfer library's business).
struct Head {
    std::string requestLine;
    Lines lines;
};

Head ParseHead(const std::string& request) {
    Head h;
    std::istringstream in(HeadOf(request));
    std::string line;
    std::getline(in, h.requestLine);
    if (!h.requestLine.empty() && h.requestLine.back() == '\r') h.requestLine.pop_back();
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) h.lines.push_back(line);
    }
    std::sort(h.lines.begin(), h.lines.end());
    return h;
}

// (name, value) of every part of a multipart body, in order.
std::vector<std::pair<std::string, std::string>> Parts(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> parts;
    static const std::regex part(
        "Content-Disposition: form-data; name=\"([^\"]*)\"\r\n\r\n([^\r]*)\r\n");
    for (std::sregex_iterator it(body.begin(), body.end(), part), end; it != end; ++it)
        parts.emplace_back((*it)[1], (*it)[2]);
    return parts;
}

std::unique_ptr<THttpClient> MultipartClient() {
    auto c = std::make_unique<THttpClient>();
    c->SetTimeout(10);
    c->SetMultipartPOST(true);
    return c;
}

TEST(HttpClientWire, MultipartOfOneFieldByteForByte) {
    RawHttpServer server(RawHttpServer::Canned(kOk));
    auto c = MultipartClient();
    c->AddField("a", "1");
    c->ExecuteURL(server.url("/Zapisz2Pomiary.php"));
    const std::string request = server.Request();
    const std::string body = kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n" +
                             kBoundary + "--\r\n";
    EXPECT_EQ(BodyOf(request), body);
    const Head head = ParseHead(request);
    EXPECT_EQ(head.requestLine, "POST /Zapisz2Pomiary.php HTTP/1.0");
    Lines expected = {"Host: 127.0.0.1:" + std::to_string(server.port()), "User-Agent: httpclient",
                      "Content-Type: multipart/form-data; boundary=" + kBoundary.substr(2),
                      "Accept-Encoding: gzip, deflate",
                      "Content-Length: " + std::to_string(body.size())};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(head.lines, expected);
    EXPECT_EQ(c->RequestHeaders(),
              "Content-Type: multipart/form-data; boundary=" + kBoundary.substr(2) +
                  "\r\nAccept-Encoding: gzip, deflate\r\n");
    EXPECT_EQ(c->ResponseLines(), Lines{"Result=Ok"});
    EXPECT_EQ(c->ResultCode(), 0);
    EXPECT_EQ(c->RequestError(), 0);
    EXPECT_TRUE(c->Fields().empty());
    EXPECT_TRUE(c->Body().empty());
    EXPECT_FALSE(c->Busy());
}

TEST(HttpClientWire, MultipartFieldsFromCallsAndQuery) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> added;
        const char* query;
        std::vector<std::pair<std::string, std::string>> sent;  // empty: nothing may be sent
        const char* error;
    } cases[] = {
        {"query after the added field",
         {{"Miasto", "T1"}},
         "?x=1&y=2",
         {{"Miasto", "T1"}, {"x", "1"}, {"y", "2"}},
         ""},
        {"same name twice", {{"a", "1"}, {"b", "2"}, {"a", "3"}}, "", {{"a", "3"}, {"b", "2"}}, ""},
        {"query replaces an added value",
         {{"x", "0"}, {"z", "9"}},
         "?x=1",
         {{"x", "1"}, {"z", "9"}},
         ""},
        {"empty name", {}, "?=5", {{"", "5"}}, ""},
        {"plus kept as %2B", {}, "?v=a+b&w=%41", {{"v", "a%2Bb"}, {"w", "%41"}}, ""},
        {"empty value", {{"a", "1"}}, "?x=", {}, "could not convert x= to multipart"},
        {"two equals", {}, "?x=1=2", {}, "could not convert x=1=2 to multipart"},
        {"no fields", {}, "", {}, "multipart error: no variables to post"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        RawHttpServer server(RawHttpServer::Canned(kOk));
        auto c = MultipartClient();
        for (const auto& [n, v] : k.added) c->AddField(n, v);
        c->ExecuteURL(server.url("/s.php") + k.query);
        EXPECT_EQ(c->RequestErrorText(), k.error);
        if (k.sent.empty()) {
            EXPECT_EQ(server.RequestCount(), 0u);
            EXPECT_TRUE(c->ResponseLines().empty());
            continue;
        }
        const std::string request = server.Request();
        EXPECT_EQ(ParseHead(request).requestLine, "POST /s.php HTTP/1.0");
        EXPECT_EQ(Parts(BodyOf(request)), k.sent);
    }
}

TEST(HttpClientWire, AddressWithoutSchemeGetsHttp) {
    RawHttpServer server(RawHttpServer::Canned(kOk));
    auto c = MultipartClient();
    c->AddField("a", "1");
    c->ExecuteURL("127.0.0.1:" + std::to_string(server.port()) + "/dir/p.php");
    EXPECT_EQ(c->URL(), server.url("/dir/p.php"));
    EXPECT_EQ(ParseHead(server.Request()).requestLine, "POST /dir/p.php HTTP/1.0");
    EXPECT_EQ(c->ResponseLines(), Lines{"Result=Ok"});
}

TEST(HttpClientWire, GetAndUrlEncodedPost) {
    RawHttpServer server(RawHttpServer::Canned(kOk));
    THttpClient c;
    c.SetGetStr(Cp("b=ł"));
    c.ExecuteURL(server.url("/g.php?a=1"));
    Head head = ParseHead(server.Request(0));
    EXPECT_EQ(head.requestLine, "GET /g.php?a=1&b=%C5%82 HTTP/1.0");
    EXPECT_EQ(head.lines, (Lines{"Accept-Encoding: gzip, deflate",
                                 "Host: 127.0.0.1:" + std::to_string(server.port()),
                                 "User-Agent: httpclient"}));
    EXPECT_EQ(BodyOf(server.Request(0)), "");
    EXPECT_EQ(c.getStr(), "");

    c.SetRequestMethod("post");
    c.SetPostStr(Cp("z=ł"));
    c.ExecuteURL(server.url("/p.php?x=1+2"));
    head = ParseHead(server.Request(1));
    EXPECT_EQ(head.requestLine, "POST /p.php HTTP/1.0");
    EXPECT_NE(std::find(head.lines.begin(), head.lines.end(),
                        "Content-Type: application/x-www-form-urlencoded"),
              head.lines.end());
    EXPECT_EQ(BodyOf(server.Request(1)), "x=1%2B2&z=\xc5\x82");
    EXPECT_EQ(c.ContentType(), "Content-Type: application/x-www-form-urlencoded");

    // A postStr with GET is refused inside the request: nothing goes out.
    c.SetRequestMethod("GET");
    c.SetPostStr("q=1");
    c.ExecuteURL(server.url("/g.php"));
    EXPECT_EQ(c.RequestErrorText(), "No poststr allowed in GET method");
    EXPECT_TRUE(c.ResponseLines().empty());
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(HttpClientWire, SettersAndCallerErrors) {
    THttpClient c;
    EXPECT_EQ(c.RequestMethod(), "GET");
    EXPECT_EQ(c.Timeout(), 90);
    EXPECT_EQ(c.ContentType(), "");
    try {
        c.SetRequestMethod("put");
        ADD_FAILURE() << "PUT taken";
    } catch (const HttpClientError& e) {
        EXPECT_STREQ(e.what(), "Unsupported method. Allowed methods: GET, POST");
    }
    c.AddField("a", "1");
    EXPECT_EQ(c.RequestErrorText(), "httpclient not in multipart mode");
    EXPECT_TRUE(c.Fields().empty());
    c.SetMultipartPOST(true);
    EXPECT_EQ(c.RequestMethod(), "POST");
    EXPECT_EQ(c.ContentType(), THttpClient::kMultipartType);
    c.SetMultipartPOST(false);
    EXPECT_EQ(c.RequestMethod(), "POST");
    EXPECT_EQ(c.ContentType(), THttpClient::kUrlEncodedType);

    c.SetURL("http://host.pl");
    EXPECT_EQ(c.RequestErrorText(), "httpclient: Empty URL");
    c.SetURL("http://host.pl:99999/x");
    EXPECT_EQ(c.RequestErrorText().rfind("httpclient: Invalid URL. Error - ", 0), 0u)
        << c.RequestErrorText();
    c.SetURL("ftp://host.pl/x");
    EXPECT_EQ(c.URL(), "ftp://host.pl/x");

    c.SetMultipartPOST(true);
    c.AddField("a", "1");
    c.SetURL("");
    try {
        c.Execute();
        ADD_FAILURE() << "executed without an address";
    } catch (const HttpClientError& e) {
        EXPECT_STREQ(e.what(), "THttpClient: no url in execute method");
    }
    EXPECT_FALSE(c.Busy());
    EXPECT_TRUE(c.Fields().empty());
}

TEST(HttpClientWire, ResponseDecoding) {
    const std::string utf8 = "\xc5\x81\xc3\xb3\x64\xc5\xba";  // Łódź
    std::string named = test::Gzip("Result=Ok\r\n");
    named[3] = 0x08;
    struct Case {
        const char* name;
        std::string response;
        Lines lines;
        std::int64_t contentLength;
    } cases[] = {
        {"one line", kOk, {"Result=Ok"}, 1},
        {"empty middle line", "HTTP/1.0 200 OK\r\n\r\na\n\nb", {"a", "", "b"}, 1},
        {"gzip",
         "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + test::Gzip("x\r\ny"),
         {"x", "y"},
         1},
        {"gzip with a file name stays",
         "HTTP/1.0 200 OK\r\n\r\n" + named,
         {std::string("\x1f\x8b\x08\x08", 4)},
         1},  // up to the first zero byte
        {"utf-8",
         "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + utf8,
         {Cp("Łódź")},
         1},
        {"UTF-8 taken byte for byte",
         "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + utf8,
         {utf8},
         1},
        {"content length", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nabcdef", {"abcd"}, 4},
        {"custom content length",
         "HTTP/1.0 200 OK\r\nCustom-Content-Length: 42\r\n\r\nab",
         {"ab"},
         42},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         {"abc"},
         1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        RawHttpServer server(RawHttpServer::Canned(k.response));
        THttpClient c;
        c.ExecuteURL(server.url("/r"));
        EXPECT_EQ(c.ResponseLines(), k.lines);
        EXPECT_EQ(c.ContentLength(), k.contentLength);
        EXPECT_EQ(c.RequestErrorText(), "");
    }
}

TEST(HttpClientWire, HeadersCookiesAndTheirLifetime) {
    RawHttpServer server(RawHttpServer::Canned(
        "HTTP/1.0 200 OK\r\nSet-Cookie: a=1; Path=/\r\nX-Info: yes\r\nSet-Cookie: b=2\r\n\r\nok"));
    THttpClient c;
    c.ExecuteURL(server.url("/"));
    EXPECT_EQ(c.GetHeader("x-info:"), "yes");
    EXPECT_EQ(c.Cookies(), (Lines{"a=1; Path=/", "b=2"}));
    EXPECT_EQ(c.ResponseHeaders().front(), "HTTP/1.0 200 OK");
    EXPECT_EQ(c.BytesRead(), 2);

    // No response at all: the headers of the earlier one stay.
    c.SetTimeout(5);
    const test::ReservedPort nobody;
    c.ExecuteURL("http://" + nobody.address("/"));
    EXPECT_EQ(c.RequestError(), 12029);
    EXPECT_EQ(c.RequestErrorText(), "Could not connect to server 127.0.0.1");
    EXPECT_TRUE(c.ResponseLines().empty());
    EXPECT_EQ(c.GetHeader("X-Info"), "yes");
}

TEST(HttpClientWire, RedirectIsFollowedAndThePostKeepsItsForm) {
    // A bodiless GET could fetch a reply word while no script had the form.
    for (const char* status : {"301 Moved Permanently", "302 Found", "303 See Other",
                               "307 Temporary Redirect", "308 Permanent Redirect"}) {
        SCOPED_TRACE(status);
        RawHttpServer target(
            RawHttpServer::Canned("HTTP/1.0 200 OK\r\nX-Where: target\r\n\r\nResult=Ok\r\n"));
        RawHttpServer first(RawHttpServer::Canned(std::string("HTTP/1.0 ") + status +
                                                  "\r\nLocation: " + target.url("/b.php") +
                                                  "\r\nX-Where: first\r\n\r\nmoved"));
        auto c = MultipartClient();
        c->AddField("a", "1");
        c->ExecuteURL(first.url("/a.php"));
        EXPECT_EQ(c->ResponseLines(), Lines{"Result=Ok"});
        EXPECT_EQ(c->GetHeader("X-Where"), "target");
        const std::string request = target.Request();
        EXPECT_EQ(ParseHead(request).requestLine, "POST /b.php HTTP/1.0");
        EXPECT_EQ(BodyOf(request), BodyOf(first.Request()));
        EXPECT_NE(BodyOf(request).find("name=\"a\"\r\n\r\n1\r\n"), std::string::npos);
    }
}

TEST(HttpClientWire, SilentServerTimesOutWithinTheTimeoutAndASecond) {
    RawHttpServer server(RawHttpServer::Silent());
    auto c = MultipartClient();
    c->SetTimeout(1);
    c->AddField("a", "1");
    const auto start = Clock::now();
    c->ExecuteURL(server.url("/"));
    const auto took = Clock::now() - start;
    EXPECT_EQ(c->ResultCode(), THttpClient::kResultTimedOut);
    EXPECT_TRUE(c->TimedOut());
    EXPECT_TRUE(c->ResponseLines().empty());
    EXPECT_LT(took, 2s);
    EXPECT_FALSE(c->Busy());
    // The client is usable again at once.
    server.SetReply(RawHttpServer::Canned(kOk));
    c->SetTimeout(10);
    c->AddField("a", "1");
    c->ExecuteURL(server.url("/"));
    EXPECT_EQ(c->ResultCode(), 0);
    EXPECT_EQ(c->ResponseLines(), Lines{"Result=Ok"});
}

TEST(HttpClientWire, DeadlineMovesWithBodyDataOnly) {
    // The body arrives one byte every 300 ms, 3 s in all: never silent for
    // the 1 s Timeout, so the request completes.
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    RawHttpServer::Reply slowBody = RawHttpServer::Drip("0123456789", 1, 300ms);
    slowBody.pieces.insert(slowBody.pieces.begin(), {head, 0ms});
    RawHttpServer steady(slowBody);
    THttpClient c;
    c.SetTimeout(1);
    c.SetTimerIntervalSeconds(1);
    int packets = 0;
    int ticks = 0;
    c.SetOnPacketRead([&](THttpClient& s) {
        EXPECT_EQ(&s, &c);
        ++packets;
    });
    c.SetOnTimer([&](THttpClient&) { ++ticks; });
    c.ExecuteURL(steady.url("/"));
    EXPECT_EQ(c.ResultCode(), 0);
    EXPECT_EQ(c.ResponseLines(), Lines{"0123456789"});
    EXPECT_GE(packets, 2);
    EXPECT_EQ(packets, c.PacketReadCalls());
    EXPECT_GE(ticks, 1);

    // Headers dripped just as slowly do not move the deadline: given up.
    RawHttpServer slowHead(RawHttpServer::Drip(head + "0123456789", 1, 300ms));
    const auto start = Clock::now();
    c.ExecuteURL(slowHead.url("/"));
    EXPECT_EQ(c.ResultCode(), THttpClient::kResultTimedOut);
    EXPECT_TRUE(c.ResponseLines().empty());
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(HttpClientWire, ExecuteAndSettersWhileBusyChangeNothing) {
    RawHttpServer server(RawHttpServer::Drip(kOk, 8, 50ms));
    auto c = MultipartClient();
    bool inside = false;
    c->SetOnPacketRead([&](THttpClient& s) {
        if (inside) return;
        inside = true;
        EXPECT_TRUE(s.Busy());
        s.Execute();  // returns at once
        s.SetRequestMethod("GET");
        s.SetMultipartPOST(false);
        s.SetPostStr("p=1");
        s.SetGetStr("g=1");
    });
    c->AddField("a", "1");
    c->ExecuteURL(server.url("/"));
    EXPECT_TRUE(inside);
    EXPECT_EQ(c->RequestMethod(), "POST");
    EXPECT_TRUE(c->MultipartPOST());
    EXPECT_EQ(c->postStr(), "");
    EXPECT_EQ(c->getStr(), "");
    EXPECT_EQ(c->ResponseLines(), Lines{"Result=Ok"});
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(HttpClientWire, HostileServers) {
    std::string big(http::kMaxBody + 1000, 'x');
    struct Case {
        const char* name;
        RawHttpServer::Reply reply;
        Lines lines;
        const char* errorStart;  // RequestErrorText begins so
        bool errorNumber;
    } cases[] = {
        {"gzip bomb",
         RawHttpServer::Canned("HTTP/1.0 200 OK\r\n\r\n" + test::GzipBomb(10)),
         {},
         "httpclient: gzip body inflates to more than",
         false},
        {"body over the limit",
         RawHttpServer::Canned("HTTP/1.0 200 OK\r\n\r\n" + big),
         {},
         "httpclient: response body longer than",
         true},
        {"huge headers",
         RawHttpServer::Canned("HTTP/1.0 200 OK\r\nX: " + std::string(100000, 'h') + "\r\n\r\nok"),
         {},
         "httpclient:",
         true},
        {"many headers",
         [] {
             std::string r = "HTTP/1.0 200 OK\r\n";
             for (int i = 0; i < 5000; ++i) r += "X-" + std::to_string(i) + ": some value\r\n";
             return RawHttpServer::Canned(r + "\r\nok");
         }(),
         {},
         "httpclient: response headers longer than",
         true},
        {"reset before the headers end",
         RawHttpServer::ResetAfter("HTTP/1.0 200 OK\r\nA: b"),
         {},
         "httpclient:",
         true},
        {"reset in the body",
         RawHttpServer::ResetAfter("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                                   std::string(50000, 'z')),
         {},
         "httpclient:",
         true},
        {"length that lies",
         RawHttpServer::Canned("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nResult=Ok\r\n"),
         {"Result=Ok"},
         "httpclient:",
         true},
        {"binary garbage",
         RawHttpServer::Canned(std::string("\x00\xff\x1f\x8b garbage\r\n\r\n\x01", 17)),
         {},
         "httpclient:",
         true},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.name);
        RawHttpServer server(k.reply);
        auto c = MultipartClient();
        c->AddField("a", "1");
        c->ExecuteURL(server.url("/"));
        EXPECT_EQ(c->ResultCode(), 0);
        if (std::string(k.name) != "reset in the body") {
            EXPECT_EQ(c->ResponseLines(), k.lines);
        }
        EXPECT_EQ(c->RequestErrorText().rfind(k.errorStart, 0), 0u) << c->RequestErrorText();
        EXPECT_EQ(c->RequestError() != 0, k.errorNumber) << c->RequestError();
        EXPECT_LE(c->ResponseStream().size(), http::kMaxDecoded);
    }
}

TEST(HttpClientWire, Port443IsEncryptedWhateverTheAddressSays) {
    RawHttpServer server(RawHttpServer::Canned(""));
    auto c = MultipartClient();
    c->SetTimeout(5);
    c->SetConnectTo("stacja.invalid:443:127.0.0.1:" + std::to_string(server.port()));
    c->AddField("a", "1");
    c->ExecuteURL("http://stacja.invalid:443/Zapisz2Pomiary.php");
    const std::string hello = server.Request();
    ASSERT_GE(hello.size(), 2u);
    EXPECT_EQ(hello[0], '\x16');  // a TLS handshake record
    EXPECT_EQ(hello[1], '\x03');
    EXPECT_NE(c->RequestError(), 0);
    EXPECT_TRUE(c->ResponseLines().empty());
}

TEST(HttpClientWire, Port443AcceptsASelfMadeCertificateForAnotherName) {
    const char* openssl = "/usr/bin/openssl";
    if (::access(openssl, X_OK) != 0) GTEST_SKIP() << "openssl is not installed";
    test::TempDir dir;
    {
        test::ChildProcess req(
            openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-subj", "/CN=another.name", "-days", "1", "-keyout",
                      dir.file("key.pem"), "-out", dir.file("cert.pem")});
        ASSERT_EQ(req.WaitExit(20s), 0);
    }
    // A port free a moment ago, for the TLS server.
    int port = 0;
    {
        RawHttpServer probe;
        port = probe.port();
    }
    test::ChildProcess server(openssl,
                              {"s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                               dir.file("cert.pem"), "-key", dir.file("key.pem"), "-www"});
    std::string line;
    for (int i = 0; i < 5 && line != "ACCEPT"; ++i) line = server.ReadLine(5s);
    ASSERT_EQ(line, "ACCEPT");
    THttpClient c;
    c.SetTimeout(10);
    c.SetConnectTo("stacja.invalid:443:127.0.0.1:" + std::to_string(port));
    c.ExecuteURL("http://stacja.invalid:443/");
    EXPECT_EQ(c.RequestError(), 0) << c.RequestErrorText();
    EXPECT_EQ(c.ResponseHeaders().empty() ? "" : c.ResponseHeaders().front(), "HTTP/1.0 200 ok");
    EXPECT_FALSE(c.ResponseLines().empty());
}

}  // namespace
}  // namespace pom
