// The HTTP client's forms read back by an independent parser: PHP's built-in
// web server, whose script prints $_POST.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"
#include "web/THttpClient.h"

namespace pom {
namespace {

using Lines = std::vector<std::string>;

const char* const kPhp = "/usr/bin/php";

// A port free a moment ago on 127.0.0.1.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class PhpServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kPhp, X_OK) != 0)
            GTEST_SKIP() << "php is not installed (scripts/install-deps installs php-cli)";
        test::WriteFile(dir_.file("post.php"),
                        "<?php\n"
                        "header('Content-Type: text/plain; charset=utf-8');\n"
                        "foreach ($_POST as $k => $v) echo $k, '=', $v, \"\\n\";\n"
                        "echo 'Result=Ok', \"\\n\";\n");
    }

    // Serves the folder; `compress` gzips the replies of clients that accept it.
    std::unique_ptr<test::ChildProcess> Start(bool compress, int& port) {
        port = FreePort();
        auto php = std::make_unique<test::ChildProcess>(
            kPhp,
            std::vector<std::string>{
                "-n", "-d", compress ? "zlib.output_compression=1" : "zlib.output_compression=0",
                "-S", "127.0.0.1:" + std::to_string(port), "-t", dir_.path()});
        EXPECT_TRUE(test::WaitFor([&] { return Accepts(port); })) << "php did not start";
        return php;
    }

    test::TempDir dir_;
};

TEST_F(PhpServer, PostReadsEveryMultipartFieldWithItsValue) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "gzip reply" : "plain reply");
        int port = 0;
        auto php = Start(compress, port);
        THttpClient c;
        c.SetTimeout(20);
        c.SetMultipartPOST(true);
        c.AddField("Miasto", Cp("Łódź"));
        c.AddField("Data", "2023-01-05 07:04:09");
        c.AddField("Sonda0", "-888");
        c.AddField("Sonda1", Cp("zażółć gęślą jaźń & = + % \""));
        c.ExecuteURL("127.0.0.1:" + std::to_string(port) + "/post.php?x=1&y=" + Cp("ż"));
        EXPECT_EQ(c.RequestErrorText(), "");
        EXPECT_EQ(
            c.ResponseLines(),
            (Lines{Cp("Miasto=Łódź"), "Data=2023-01-05 07:04:09", "Sonda0=-888",
                   Cp("Sonda1=zażółć gęślą jaźń & = + % \""), "x=1", Cp("y=ż"), "Result=Ok"}));
        if (compress) {
            EXPECT_EQ(c.GetHeader("Content-Encoding"), "gzip");
        }
    }
}

TEST_F(PhpServer, PostReadsTheUrlEncodedForm) {
    int port = 0;
    auto php = Start(false, port);
    THttpClient c;
    c.SetTimeout(20);
    c.SetRequestMethod("POST");
    c.SetPostStr(Cp("b=ę&c=%C5%BC"));
    c.ExecuteURL("http://127.0.0.1:" + std::to_string(port) + "/post.php?a=1+1");
    EXPECT_EQ(c.ResponseLines(), (Lines{"a=1+1", Cp("b=ę"), Cp("c=ż"), "Result=Ok"}));
}

}  // namespace
}  // namespace pom
