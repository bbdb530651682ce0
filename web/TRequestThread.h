#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/HttpDecode.h"

namespace pom::http {

using SteadyClock = std::chrono::steady_clock;

// What one request sends, fixed before its worker starts.
struct RequestPlan {
    std::string url;                       // scheme, host, port and escaped object name
    std::string host;                      // for the connection failure text (UTF-8)
    bool tls = false;                      // with the certificate relaxations
    bool post = false;                     // POST with `body`, else GET
    std::vector<std::string> headerLines;  // exactly the lines the client built
    std::string body;
    std::string agent;
    std::string connectTo;   // curl's CONNECT_TO entry ("host:port:addr:port"), empty for none
    int timeoutSeconds = 0;  // inactivity limit; 0 or less: none
};

// The state one request shares between the waiting side and its worker.
// The worker owns the body and the result fields until `done`; the headers
// are handed over under the lock as soon as they are complete, so a caller
// that gives up at the deadline still sees them.
struct Transfer {
    explicit Transfer(RequestPlan s) : plan(std::move(s)) {}

    const RequestPlan plan;

    // Moved forward by every body chunk and by the end of the headers.
    std::atomic<SteadyClock::rep> deadline{0};
    std::atomic<bool> abandoned{false};    // the caller gave up: stop at once
    std::atomic<bool> deadlineHit{false};  // the worker itself saw the deadline pass
    std::atomic<std::uint64_t> chunks{0};
    std::atomic<std::int64_t> bytesRead{0};

    std::mutex mutex;
    std::condition_variable wake;  // a chunk arrived, or the worker is done
    bool done = false;

    // Under `mutex` once headersReady is set.
    bool headersReady = false;
    std::vector<std::string> headers;
    std::vector<std::string> cookies;
    std::int64_t contentLength = 0;

    // The worker's until `done`.
    std::string body;
    int error = 0;
    std::string errorText;  // UTF-8 from curl, or ours

    void MoveDeadline();
    bool PastDeadline() const;
};

// The worker of one request: runs the transfer through libcurl on its own
// thread. Destroying it gives the transfer up and joins the thread (the
// transfer notices within about a second, through curl's progress callback).
class TRequestThread {
public:
    explicit TRequestThread(RequestPlan plan, SteadyClock::time_point deadline);
    ~TRequestThread();
    TRequestThread(const TRequestThread&) = delete;
    TRequestThread& operator=(const TRequestThread&) = delete;

    Transfer& transfer() { return *transfer_; }
    void Abandon() { transfer_->abandoned = true; }
    bool Finished();

private:
    static void Run(Transfer& t);

    std::unique_ptr<Transfer> transfer_;
    std::thread thread_;
};

}  // namespace pom::http
