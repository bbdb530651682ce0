#pragma once

// The recorder's own connection handling, in front of the HTTP library: one
// thread accepts and reads every request, head and body, under deadlines and
// limits, and only a complete request takes a worker. The library reads the
// request from memory and writes the reply; slow or idle clients never hold
// a worker, and Stop can close every socket it knows.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pom::recorder {

inline constexpr std::size_t kMinReplyRate = 64 * 1024;  // bytes a second

struct ConnectionLimits {
    std::size_t maxHeadBytes = 64 * 1024;  // request line, headers and the blank line
    std::size_t maxHeaders = 100;
    std::size_t maxBodyBytes = 64 * 1024;
    std::size_t maxFormBytes = 8192;               // url-encoded bodies: the library's own bound
    std::chrono::milliseconds headTimeout{10000};  // the whole head, from its first byte
    std::chrono::milliseconds bodyTimeout{10000};  // the whole body, from the end of the head
    // A reply has this long, and a second more for every kMinReplyRate bytes
    // the client took: a large CSV on a slow link goes through, a client
    // that reads a byte a second does not hold a worker.
    std::chrono::milliseconds writeTimeout{10000};
    std::chrono::milliseconds idleTimeout{10000};  // kept alive, waiting for the next request
    int maxRequestsPerConnection = 100;
    std::size_t maxConnections = 256;  // past it the oldest waiting one goes
};

// What the buffered start of a request says about it.
struct HeadCheck {
    enum class Verdict {
        Incomplete,  // wait for more bytes
        Complete,
        Bad,             // 400
        TooLarge,        // 431: too many or too long headers
        BodyTooLarge,    // 413: announced more than the limit
        LengthRequired,  // 411: a body with neither a length nor chunks
    };
    Verdict verdict = Verdict::Incomplete;
    std::size_t headBytes = 0;  // with the blank line
    std::size_t bodyBytes = 0;  // announced length; for chunks, once all came
    std::size_t bodyLimit = 0;  // the limit that applies to this request
    bool chunked = false;
    bool expectContinue = false;
    bool form = false;  // application/x-www-form-urlencoded
    std::string method;
    std::string path;
};

HeadCheck CheckHead(std::string_view buffered, const ConnectionLimits& limits);

// How far a chunked body has come: `bytes` (with its framing and trailers)
// once it is whole.
struct ChunksCheck {
    enum class Verdict { Incomplete, Complete, Bad, TooLarge };
    Verdict verdict = Verdict::Incomplete;
    std::size_t bytes = 0;
};

ChunksCheck CheckChunks(std::string_view body, std::size_t limit);

// One accepted connection as the library's stream sees it: the whole request
// has been read into memory before, so a worker waits on the client only
// while writing the reply, and that under a deadline.
class Connection {
public:
    Connection(int fd, std::string buffered);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }
    // From the request read in advance; < 0 past its end.
    long Read(char* out, std::size_t size);
    long Write(const char* data, std::size_t size);
    bool WaitReadable();
    bool WaitWritable();

private:
    friend class ConnectionServer;
    int fd_;
    std::string in_;  // read, not yet taken
    std::size_t inPos_ = 0;
    std::chrono::steady_clock::time_point WriteDeadline() const;
    std::chrono::steady_clock::time_point writeStart_;
    std::chrono::milliseconds writeTimeout_{0};
    std::size_t written_ = 0;
    int served_ = 0;
};

class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;
    // Serves one request; true when the reply went out and the connection
    // may stay open. `last`: the reply must say the connection closes.
    virtual bool Serve(Connection& c, bool last) = 0;
    // The full reply (status line, headers, body) to a request refused before
    // it reached Serve. `check` holds what was known of it.
    virtual std::string RefusalReply(int status, const HeadCheck& check) = 0;
};

class ConnectionServer {
public:
    ConnectionServer(ConnectionHost& host, ConnectionLimits limits);
    ~ConnectionServer();  // Stop()
    ConnectionServer(const ConnectionServer&) = delete;
    ConnectionServer& operator=(const ConnectionServer&) = delete;

    // Takes over a bound, listening socket and starts the threads: one that
    // accepts and reads, and two pools, so that posts never wait behind
    // page viewers.
    void Start(int listenFd, int pageWorkers, int postWorkers);
    // Closes the listening socket and every waiting connection at once, gives
    // the requests in progress a moment to answer, then shuts their sockets
    // so that no client holds it up, and joins. Returns within about a second.
    void Stop();

    // Tests: called with each accepted socket.
    std::function<void(int fd)> onAccept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pom::recorder
