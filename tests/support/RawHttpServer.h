#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pom::test {

// A bare TCP server on 127.0.0.1 (ephemeral port) for the HTTP client's
// tests: it records each request's raw bytes (headers and, by Content-Length,
// body) and answers every connection with the same scripted reply.
class RawHttpServer {
public:
    using ms = std::chrono::milliseconds;

    struct Reply {
        // Sent in order, each piece followed by its pause.
        std::vector<std::pair<std::string, ms>> pieces;
        // After the pieces: close, reset the connection (RST), or hold it
        // open until the client goes or the server stops.
        enum class End { Close, Reset, Hold } end = End::Close;
        // Nothing is read before answering (for a client that may not send).
        bool answerAtOnce = false;
    };

    static Reply Canned(std::string raw);
    static Reply Silent();
    // The bytes in pieces of `step`, `pause` after each.
    static Reply Drip(const std::string& raw, std::size_t step, ms pause);
    static Reply ResetAfter(std::string raw);

    explicit RawHttpServer(Reply reply = Canned("HTTP/1.0 200 OK\r\n\r\nResult=Ok\r\n"));
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery = "/") const;
    void SetReply(Reply reply);
    // The n-th request (from 0) once it has arrived; empty after the deadline.
    std::string Request(std::size_t n = 0, ms deadline = std::chrono::seconds(10));
    std::size_t RequestCount();
    // False: requests are counted, not kept (a long soak would grow with them).
    void SetKeepRequests(bool keep);

private:
    void Serve();
    void Handle(int fd);
    bool PauseFor(ms pause);  // false when stopping

    int listen_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    Reply reply_;
    std::vector<std::string> requests_;
    std::size_t count_ = 0;
    bool keep_ = true;
    std::thread thread_;
};

// The header block of a raw request (up to the empty line), and the body after it.
std::string HeadOf(const std::string& request);
std::string BodyOf(const std::string& request);

}  // namespace pom::test
