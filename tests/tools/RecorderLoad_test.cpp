// The recorder's connection handling under slow, idle, oversized and
// kept-alive clients: raw sockets on 127.0.0.1 against a server with few
// workers and short deadlines.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/tools/RecorderClient.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {
namespace {

using ::testing::HasSubstr;

using namespace std::chrono_literals;

const std::string kPost = "POST /Zapisz2Pomiary.php HTTP/1.1\r\n";

// ---- The head and chunk checks on their own ----
// (What the server refuses, with the real limits, is in RefusedAtOnce below.)

TEST(HeadCheck, Verdicts) {
    using V = HeadCheck::Verdict;
    const ConnectionLimits limits{.maxHeaders = 3, .maxBodyBytes = 100, .maxFormBytes = 50};
    const std::pair<std::string, V> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n", V::Incomplete},
        {"GET / HTTP/1.1\r\na: 1\r\nb: 2\r\nc: 3\r\n\r\n", V::Complete},
        // Refused as soon as the count is passed, not when the head ends.
        {"GET / HTTP/1.1\r\na: 1\r\nb: 2\r\nc: 3\r\nd: 4\r\n", V::TooLarge},
        {kPost + "Content-Length: 100\r\n\r\n", V::Complete},
        {kPost + "Content-Length: 101\r\n\r\n", V::BodyTooLarge},
        {kPost + "Content-Type: Application/x-www-form-urlencoded\r\nContent-Length: 51\r\n\r\n",
         V::BodyTooLarge},
        {kPost + "Content-Length: -1\r\n\r\n", V::Bad},
        {kPost + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", V::Bad},
        {kPost + "Transfer-Encoding: gzip\r\n\r\n", V::Bad},
    };
    for (const auto& [bytes, verdict] : cases)
        EXPECT_EQ(CheckHead(bytes, limits).verdict, verdict) << bytes.substr(0, 80);
}

TEST(ChunksCheck, Verdicts) {
    using V = ChunksCheck::Verdict;
    const struct {
        std::string body;
        V verdict;
        std::size_t bytes = 0;  // taken, when complete
    } cases[] = {
        {"3\r\nabc\r\n0\r\n\r\nNEXT", V::Complete, 13},
        {"A;x=1\r\n0123456789\r\n0\r\nT: 1\r\n\r\n", V::Complete, 30},  // extension, trailer
        {"3\r\nabc\r\n", V::Incomplete},
        {"6\r\nabcdef\r\n5\r\n", V::TooLarge},  // the next size alone passes the limit
        {"xyz\r\n", V::Bad},
        {"FFFFFFFFFFFFFFFF\r\n", V::Bad},
        {"2\r\nabc\r\n", V::Bad},
        {std::string(2000, '1'), V::Bad},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 40));
        const ChunksCheck r = CheckChunks(c.body, 10);
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.bytes, c.bytes);
    }
}

// ---- The server ----

// A client on a raw socket, for what a library client would not do.
class Raw {
public:
    explicit Raw(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);  // a failure shows in Send
    }
    ~Raw() { ::close(fd_); }
    bool Send(const std::string& s) {
        return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
    }
    // The next whole reply (head and its Content-Length body), or what came
    // before the close or the deadline.
    std::string Reply(std::chrono::milliseconds deadline = 5s) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            const auto end = in_.find("\r\n\r\n");
            const auto cl = in_.find("Content-Length: ");
            const std::size_t size = end == std::string::npos ? std::string::npos
                                     : cl < end ? end + 4 + std::stoul(in_.substr(cl + 16))
                                                : end + 4;
            if (in_.size() >= size) {
                std::string reply = in_.substr(0, size);
                in_.erase(0, size);
                return reply;
            }
            if (!Fill(until)) return std::exchange(in_, {});
        }
    }
    // True when the server closes the connection before the deadline.
    bool Closed(std::chrono::milliseconds deadline = 5s) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (Fill(until)) {
        }
        return eof_;
    }

private:
    bool Fill(std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        eof_ = n <= 0;
        if (!eof_) in_.append(buf, static_cast<std::size_t>(n));
        return !eof_;
    }
    int fd_ = -1;
    bool eof_ = false;
    std::string in_;
};

int StatusOf(const std::string& reply) {
    return reply.starts_with("HTTP/1.1 ") ? std::atoi(reply.c_str() + 9) : -1;
}

std::string FormPost(const std::string& stamp) {
    const std::string body = "Miasto=test&Data=" + stamp + "&Sonda0=1";
    return kPost + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A form post in the given chunks.
std::string ChunkedForm(const std::vector<std::string>& chunks) {
    std::string s = kPost +
                    "Content-Type: application/x-www-form-urlencoded\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n";
    char size[24];
    for (const std::string& c : chunks) {
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        s += size + c + "\r\n";
    }
    return s + "0\r\n\r\n";
}

class RecorderLoadTest : public ::testing::Test {
protected:
    // A server with few workers (one for posts), the limits changed by `tweak`.
    void Start(const std::function<void(ServerConfig&)>& tweak = {}) {
        ServerConfig config{"127.0.0.1", 0, "", 2};
        config.postThreads = 1;
        if (tweak) tweak(config);
        store = std::make_unique<SqliteStore>(dir.file("pomiary.sqlite"));
        server = std::make_unique<Server>(*store, std::move(config));
        std::string error;
        port = server->Start(&error);
        ASSERT_GT(port, 0) << error;
    }
    // Clients that have begun a head and send one more byte of it every
    // 50 ms, until the test ends.
    void Trickle(int n) {
        for (int i = 0; i < n; ++i) {
            slow.push_back(std::make_unique<Raw>(port));
            slow.back()->Send("G");
        }
        trickler = std::jthread([this](std::stop_token stop) {
            const std::string rest = "ET / HTTP/1.1\r\nX-Slow: " + std::string(10000, 'x');
            for (std::size_t i = 0; i < rest.size() && !stop.stop_requested(); ++i) {
                for (auto& c : slow) c->Send(rest.substr(i, 1));
                std::this_thread::sleep_for(50ms);  // the pace of the attack, not a wait
            }
        });
    }

    test::TempDir dir;
    std::unique_ptr<Store> store;
    std::unique_ptr<Server> server;
    int port = -1;
    std::vector<std::unique_ptr<Raw>> slow;
    std::jthread trickler;  // last: stopped and joined before the clients it feeds go
};

// Slow heads and bodies (more than every worker of both kinds) and pollers
// between two polls: a post and a page are still answered, the pollers are
// let go, and Stop returns within a second whatever is still open.
TEST_F(RecorderLoadTest, SlowAndIdleClientsHoldNoWorkerNorStop) {
    Start([](ServerConfig& c) {
        c.threads = 1;
        c.limits.idleTimeout = 1500ms;  // past the second Stop has
    });
    Trickle(8);
    std::vector<std::unique_ptr<Raw>> held;
    for (const std::string& start :
         {kPost + "Transfer-Encoding: chunked\r\n\r\n5\r\nMia",
          kPost + "Content-Length: 100\r\n\r\nMiasto=", kPost + "Content-Length: 100\r\n\r\n"}) {
        held.push_back(std::make_unique<Raw>(port));
        ASSERT_TRUE(held.back()->Send(start));
    }
    std::vector<std::unique_ptr<Raw>> pollers;
    for (int i = 0; i < 4; ++i) {
        pollers.push_back(std::make_unique<Raw>(port));
        ASSERT_TRUE(pollers.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_EQ(StatusOf(pollers.back()->Reply()), 200);
    }
    // Answered within two seconds; the slow heads last for ten.
    Raw post(port), page(port);
    ASSERT_TRUE(post.Send(FormPost("2023-01-05+07%3A04%3A09")));
    EXPECT_THAT(post.Reply(2s), HasSubstr("Result=Ok"));
    ASSERT_TRUE(page.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(StatusOf(page.Reply(2s)), 200);
    for (auto& p : pollers) EXPECT_TRUE(p->Closed(3s));

    Raw idle(port), silent(port);
    ASSERT_TRUE(idle.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(StatusOf(idle.Reply()), 200);
    auto stopped = std::async(std::launch::async, [&] { server->Stop(); });
    EXPECT_EQ(stopped.wait_for(1s), std::future_status::ready);
    for (Raw* r : {&idle, &silent, held.front().get(), slow.front().get()})
        EXPECT_TRUE(r->Closed(1s));
    EXPECT_FALSE(test::Accepts(port));
}

std::string ManyHeaders(int n) {
    std::string s = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < n; ++i) s += "X-" + std::to_string(i) + ": 1\r\n";
    return s;
}

// Refused at once with the real limit: the reply comes long before the
// deadlines, the connection is closed after it, the server goes on. Each
// deadline is for the whole head or body, however steadily it trickles.
TEST_F(RecorderLoadTest, RefusedAtOnceWithTheRealLimitOrAtTheWholeDeadline) {
    Start([](ServerConfig& c) { c.limits.headTimeout = c.limits.bodyTimeout = 300ms; });
    const struct {
        std::string request;
        int status;
        std::string words;
        bool trickle = false;  // a byte every 20 ms after it
    } cases[] = {
        // Refused at the 101st header; the rest never has to come.
        {ManyHeaders(101), 431, "100 nagłówków"},
        {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'x'), 431, "65536 bajtów"},
        {kPost +
             "Content-Type: multipart/form-data; boundary=zz\r\nContent-Length: 100000000\r\n\r\n",
         413, "najwyżej 65536 bajtów"},
        {kPost + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                 "9000\r\n\r\nMiasto=",
         413, "najwyżej 8192 bajtów"},
        {ChunkedForm({"Miasto=" + std::string(9000, 'a')}), 413, "najwyżej 8192 bajtów"},
        {"POST /Zapisz2Pomiaryopisy.php HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n", 413,
         "Problem ze wstawieniem opisów"},
        {"HELLO\r\n\r\n", 400, "niepoprawne"},
        {kPost + "\r\nMiasto=test", 411, "Content-Length"},
        {kPost + "Transfer-Encoding: chunked\r\n\r\n10001\r\n", 413, "65536"},
        {kPost + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", 400, "niepoprawne"},
        {"GET / HTTP/1.1\r\n", 408, "", true},
        {kPost + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\n",
         408, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 80));
        Raw r(port);
        ASSERT_TRUE(r.Send(c.request));
        std::string reply = r.Reply(c.trickle ? 20ms : 2s);
        for (int i = 0; c.trickle && i < 500 && reply.empty(); ++i) {
            r.Send("x");
            reply = r.Reply(20ms);
        }
        EXPECT_EQ(StatusOf(reply), c.status) << reply;
        EXPECT_THAT(reply, HasSubstr(c.words));
        EXPECT_FALSE(test::HasSuccessWord(reply));
        EXPECT_TRUE(r.Closed(3s));
        EXPECT_EQ(test::Get(port, "/").status, 200);
    }
}

TEST_F(RecorderLoadTest, AKeptAliveConnectionSendsWithoutDelayServesItsRequestsThenCloses) {
    std::atomic<int> accepted{0}, noDelay{0};
    Start([&](ServerConfig& c) {
        c.limits.maxRequestsPerConnection = 3;
        c.onAccept = [&](int fd) {
            int on = 0;
            socklen_t len = sizeof on;
            noDelay += ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len) == 0 && on;
            ++accepted;
        };
    });
    Raw r(port);
    // Two posts in one piece, the second in chunks, then one that waits for
    // a "100 Continue".
    const std::string chunked = "Miasto=test&Data=2023-01-05+07%3A01%3A00";
    ASSERT_TRUE(r.Send(FormPost("2023-01-05+07%3A00%3A00") +
                       ChunkedForm({chunked.substr(0, 7), chunked.substr(7)})));
    for (int i = 0; i < 2; ++i) {
        const std::string reply = r.Reply();
        EXPECT_EQ(StatusOf(reply), 200) << reply;
        EXPECT_EQ(reply.find("Connection: close"), std::string::npos);
    }
    const std::string third = FormPost("2023-01-05+07%3A02%3A00");
    const auto split = third.find("\r\n\r\n") + 2;
    ASSERT_TRUE(r.Send(third.substr(0, split) + "Expect: 100-continue\r\n\r\n"));
    EXPECT_EQ(StatusOf(r.Reply()), 100);
    ASSERT_TRUE(r.Send(third.substr(split + 2)));
    const std::string last = r.Reply();
    EXPECT_EQ(StatusOf(last), 200) << last;
    EXPECT_THAT(last, HasSubstr("Connection: close"));
    EXPECT_TRUE(r.Closed());
    EXPECT_EQ(store->Rows("test", "", "9999").size(), 3u);
    EXPECT_EQ(accepted.load(), 1);
    EXPECT_EQ(noDelay.load(), 1);
}

TEST_F(RecorderLoadTest, PastTheConnectionCapTheLongestWaitingGoes) {
    Start([](ServerConfig& c) { c.limits.maxConnections = 4; });
    std::vector<std::unique_ptr<Raw>> crowd;
    for (int i = 0; i < 6; ++i) {
        crowd.push_back(std::make_unique<Raw>(port));
        crowd.back()->Send("GET / HTTP/1.1\r\n");
    }
    EXPECT_TRUE(crowd.front()->Closed(3s));
    const test::Reply r = test::PostMultipart(
        port, "/Zapisz2Pomiary.php", {{"Miasto", "test"}, {"Data", "2023-01-05 07:04:09"}});
    EXPECT_TRUE(test::HasSuccessWord(r.body)) << r.status << " " << r.body;
}

}  // namespace
}  // namespace pom::recorder
