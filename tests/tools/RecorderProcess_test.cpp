// The real pomiarnik-recorder as a child process, and its pages in a real
// browser.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/RecorderClient.h"

namespace pom {
namespace {

using test::ChildProcess;

// "http://127.0.0.1:PORT/" -> PORT, or -1.
int PortOf(const std::string& address) {
    const std::string head = "http://127.0.0.1:";
    if (!address.starts_with(head) || !address.ends_with("/")) return -1;
    return std::atoi(address.substr(head.size()).c_str());
}

std::string Stamp(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2023-01-05 %02d:%02d:00", i / 60, i % 60);
    return buf;
}

TEST(RecorderProcessTest, EveryAcceptedRowSurvivesAKill) {
    test::TempDir dir;
    const std::string db = dir.file("pomiary.sqlite");
    constexpr int kRows = 40;
    {
        ChildProcess rec("pomiarnik-recorder", {"--listen", "127.0.0.1:0", "--db", db});
        ASSERT_TRUE(rec.started()) << "pomiarnik-recorder not built in " << test::BinDir();
        const std::string address = rec.ReadLine();
        const int port = PortOf(address);
        ASSERT_GT(port, 0) << address;
        EXPECT_EQ(rec.ReadLine(), "database: " + db);
        for (int i = 0; i < kRows; ++i) {
            const auto r = test::PostMultipart(
                port, "/Zapisz2Pomiary.php",
                {{"Miasto", "test"}, {"Data", Stamp(i)}, {"Sonda0", std::to_string(i)}});
            ASSERT_TRUE(test::HasSuccessWord(r.body)) << i << ": " << r.body;
        }
        // No chance to close anything.
        ASSERT_TRUE(rec.Signal(SIGKILL));
        EXPECT_EQ(rec.WaitExit(std::chrono::seconds(10)), 128 + SIGKILL);
    }
    ChildProcess again("pomiarnik-recorder", {"--listen", "127.0.0.1:0", "--db", db});
    const int port = PortOf(again.ReadLine());
    ASSERT_GT(port, 0);
    const auto csv = test::Get(port, "/table/test.csv");
    ASSERT_EQ(csv.status, 200);
    for (int i = 0; i < kRows; ++i)
        EXPECT_NE(csv.body.find(Stamp(i) + "," + std::to_string(i) + ","), std::string::npos) << i;
    // Sent again after a lost reply: recognised, not stored twice.
    EXPECT_EQ(
        test::PostMultipart(port, "/Zapisz2Pomiary.php", {{"Miasto", "test"}, {"Data", Stamp(0)}})
            .body,
        "istnieje=Ok\n");
}

TEST(RecorderProcessTest, DefaultsToTheDataFolderAndStopsCleanlyOnSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        test::TempDir data;
        ChildProcess rec("pomiarnik-recorder", {"--listen", "127.0.0.1:0"},
                         {{"XDG_DATA_HOME", data.path()}});
        const int port = PortOf(rec.ReadLine());
        ASSERT_GT(port, 0);
        const std::string db = data.path() + "/pomiarnik/pomiary.sqlite";
        EXPECT_EQ(rec.ReadLine(), "database: " + db);
        EXPECT_TRUE(test::FileExists(db));
        EXPECT_EQ(test::Get(port, "/").status, 200);
        ASSERT_TRUE(rec.Signal(sig));
        EXPECT_EQ(rec.WaitExit(std::chrono::seconds(20)), 0) << sig;
    }
}

TEST(RecorderProcessTest, SigtermEndsItWithinASecondWhileClientsHang) {
    test::TempDir dir;
    ChildProcess rec("pomiarnik-recorder", {"--listen", "127.0.0.1:0", "--db",
                                            dir.file("pomiary.sqlite"), "--threads", "2"});
    const int port = PortOf(rec.ReadLine());
    ASSERT_GT(port, 0);
    // More clients than workers, each in the middle of its head.
    std::vector<int> hanging;
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::send(fd, "GET / HTTP/1.1\r\nX", 18, MSG_NOSIGNAL), 18);
        hanging.push_back(fd);
    }
    EXPECT_EQ(test::Get(port, "/").status, 200);
    ASSERT_TRUE(rec.Signal(SIGTERM));
    EXPECT_EQ(rec.WaitExit(std::chrono::milliseconds(1500)), 0);
    for (int fd : hanging) ::close(fd);
}

TEST(RecorderProcessTest, ATakenPortOrABadOptionEndsWithAReason) {
    test::TempDir dir;
    ChildProcess first("pomiarnik-recorder",
                       {"--listen", "127.0.0.1:0", "--db", dir.file("a.sqlite")});
    const int port = PortOf(first.ReadLine());
    ASSERT_GT(port, 0);
    ChildProcess second("pomiarnik-recorder", {"--listen", "127.0.0.1:" + std::to_string(port),
                                               "--db", dir.file("b.sqlite")});
    EXPECT_EQ(second.WaitExit(std::chrono::seconds(20)), 1);
    ChildProcess bad("pomiarnik-recorder", {"--listen", "nowhere"});
    EXPECT_EQ(bad.WaitExit(std::chrono::seconds(20)), 2);
    ChildProcess help("pomiarnik-recorder", {"--help"});
    EXPECT_EQ(help.ReadLine(), "usage: pomiarnik-recorder [options]");
    EXPECT_EQ(help.WaitExit(std::chrono::seconds(20)), 0);
}

std::string Chromium() {
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

std::string RunShell(const std::string& command) {
    std::string out;
    if (FILE* f = ::popen(command.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        ::pclose(f);
    }
    return out;
}

TEST(RecorderBrowserTest, TheStationPageShowsItsLegendsAsTextInChromium) {
    const std::string chromium = Chromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps)";
    test::TempDir dir;
    ChildProcess rec("pomiarnik-recorder",
                     {"--listen", "127.0.0.1:0", "--db", dir.file("pomiary.sqlite")});
    const std::string address = rec.ReadLine();
    const int port = PortOf(address);
    ASSERT_GT(port, 0) << address;
    for (int i = 0; i < 48; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2023-01-05 %02d:%02d:00", i / 2, (i % 2) * 30);
        const auto r = test::PostMultipart(port, "/Zapisz2Pomiary.php",
                                           {{"Miasto", "ogrod"},
                                            {"Data", stamp},
                                            {"Sonda0", std::to_string(10 + i % 7)},
                                            {"Sonda1", i == 20 ? "-888" : std::to_string(i / 4)},
                                            {"Sonda2", "-888"}});
        ASSERT_TRUE(test::HasSuccessWord(r.body)) << r.body;
    }
    ASSERT_EQ(test::PostMultipart(port, "/Zapisz2Pomiaryopisy.php",
                                  {{"Miasto", "ogrodopisy"},
                                   {"Data",
                                    "pomT0;\xC2\xB0"
                                    "C;<img src=x onerror=document.title='hacked'>;x)(pomT1;V;"
                                    "Napięcie;N"}})
                  .body,
              "Result=Ok\n");

    // The page fills itself from the JSON API: give its scripts time to run.
    const std::string browser =
        "timeout 120 " + chromium +
        " --headless --no-sandbox --disable-gpu --user-data-dir=" + dir.file("profile") +
        " --window-size=1200,1000 --virtual-time-budget=10000 ";
    const std::string shot = dir.file("page.png");
    const std::string dom = RunShell(browser + "--dump-dom " + address + "table/ogrod 2>/dev/null");
    RunShell(browser + "--screenshot=" + shot + " " + address + "table/ogrod >/dev/null 2>&1");
    // The chart, its legend and the statistics are there, names from the legends.
    ASSERT_NE(dom.find("class=\"uplot"), std::string::npos) << dom.substr(0, 3000);
    EXPECT_NE(dom.find("Napięcie [V]"), std::string::npos) << dom.substr(0, 3000);
    EXPECT_NE(dom.find("<td>10 °C</td>"), std::string::npos);  // the minimum of Sonda0
    // The hostile name arrived as text: no element made of it, the title untouched.
    EXPECT_EQ(dom.find("<img"), std::string::npos);
    EXPECT_EQ(dom.find("hacked</title>"), std::string::npos);
    EXPECT_NE(dom.find("&lt;img src=x onerror=document.title='hacked'&gt; [°C]"),
              std::string::npos);
    EXPECT_GT(test::ReadFile(shot).size(), 10000u) << "no screenshot from " << chromium;
}

}  // namespace
}  // namespace pom
