#include "tools/recorder/RecorderConnections.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace pom::recorder {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Verdict = HeadCheck::Verdict;

// A refused request may still be sending; its reply is left to arrive before
// the close, which with unread bytes would otherwise reset it.
constexpr auto kLinger = std::chrono::milliseconds(1000);
constexpr std::size_t kMaxDrainBytes = 1 << 20;
// Requests in progress get this long to answer on Stop before their sockets
// are shut.
constexpr auto kStopGrace = std::chrono::milliseconds(300);
// A chunked body carries its framing past the body's own bound.
constexpr std::size_t kChunkedFactor = 2;
constexpr std::size_t kMaxChunkLine = 1024;  // a size and its extensions, or a trailer
constexpr std::size_t kReadChunk = 16 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20) || x == y;
           });
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The methods the library reads a body for; it leaves any other's body unread.
bool TakesBody(std::string_view method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" ||
           method == "PRI";
}

bool KnownMethod(std::string_view m) {
    for (std::string_view k :
         {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"})
        if (m == k) return true;
    return false;
}

// "METHOD TARGET HTTP/1.x", as the library will take it.
bool ParseRequestLine(std::string_view line, HeadCheck& h) {
    const auto a = line.find(' ');
    if (a == std::string_view::npos) return false;
    const auto b = line.find(' ', a + 1);
    if (b == std::string_view::npos || line.find(' ', b + 1) != std::string_view::npos)
        return false;
    const std::string_view target = line.substr(a + 1, b - a - 1);
    const std::string_view version = line.substr(b + 1);
    h.method = std::string(line.substr(0, a));
    h.path = std::string(target.substr(0, target.find('?')));
    return KnownMethod(h.method) && !target.empty() &&
           (version == "HTTP/1.1" || version == "HTTP/1.0");
}

bool ParseLength(std::string_view v, std::size_t& out) {
    if (v.empty() || v.size() > 18) return false;
    std::size_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    out = n;
    return true;
}

int MsLeft(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 60'000));
}

// Waits for the socket until the deadline; false when it passed.
bool WaitFor(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, MsLeft(deadline));
        if (r > 0) return true;  // ready, closed or failed: the next call says which
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

HeadCheck CheckHead(std::string_view b, const ConnectionLimits& limits) {
    HeadCheck h;
    const std::size_t end = b.find("\r\n\r\n");
    const std::string_view head = end == std::string_view::npos
                                      ? b.substr(0, std::min(b.size(), limits.maxHeadBytes + 1))
                                      : b.substr(0, end + 4);
    const std::size_t lineEnd = head.find("\r\n");
    if (lineEnd != std::string_view::npos && !ParseRequestLine(head.substr(0, lineEnd), h)) {
        h.verdict = Verdict::Bad;
        return h;
    }
    // The request line, the headers, and with a whole head the blank line.
    const auto lines = static_cast<std::size_t>(std::count(head.begin(), head.end(), '\n'));
    const std::size_t headers =
        end == std::string_view::npos ? (lines > 0 ? lines - 1 : 0) : lines - 2;
    if (headers > limits.maxHeaders || head.size() > limits.maxHeadBytes) {
        h.verdict = Verdict::TooLarge;
        return h;
    }
    if (end == std::string_view::npos) return h;  // Incomplete

    h.headBytes = end + 4;
    bool haveLength = false, chunked = false, otherCoding = false;
    std::size_t pos = lineEnd + 2;
    while (pos < end) {
        const std::size_t next = head.find("\r\n", pos);
        const std::string_view line = head.substr(pos, next - pos);
        pos = next + 2;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;  // the library skips it too
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (EqualsNoCase(name, "Content-Length")) {
            std::size_t n = 0;
            if (!ParseLength(value, n) || (haveLength && n != h.bodyBytes)) {
                h.verdict = Verdict::Bad;
                return h;
            }
            haveLength = true;
            h.bodyBytes = n;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            if (EqualsNoCase(value, "chunked"))
                chunked = true;
            else
                otherCoding = true;
        } else if (EqualsNoCase(name, "Expect")) {
            h.expectContinue = EqualsNoCase(value, "100-continue");
        } else if (EqualsNoCase(name, "Content-Type")) {
            h.form = StartsNoCase(value, "application/x-www-form-urlencoded");
        }
    }
    // Both a length and chunks, or a coding nobody here decodes: the length
    // of the body is not known for sure, and a wrong guess would let its
    // bytes pass for the next request.
    if (otherCoding || (chunked && haveLength)) {
        h.verdict = Verdict::Bad;
        return h;
    }
    h.bodyLimit = h.form ? std::min(limits.maxBodyBytes, limits.maxFormBytes) : limits.maxBodyBytes;
    h.chunked = chunked;
    // The library would read such a body until the client closes, holding
    // a worker as long as the client likes.
    if (!chunked && !haveLength && TakesBody(h.method)) {
        h.verdict = Verdict::LengthRequired;
        return h;
    }
    if (h.bodyBytes > h.bodyLimit) {
        h.verdict = Verdict::BodyTooLarge;
        return h;
    }
    h.verdict = Verdict::Complete;
    return h;
}

ChunksCheck CheckChunks(std::string_view b, std::size_t limit) {
    using V = ChunksCheck::Verdict;
    std::size_t pos = 0, data = 0;
    for (;;) {
        const std::size_t eol = b.find("\r\n", pos);
        if (eol == std::string_view::npos)
            return {b.size() - pos > kMaxChunkLine ? V::Bad : V::Incomplete, 0};
        if (eol - pos > kMaxChunkLine) return {V::Bad, 0};
        std::string_view line = b.substr(pos, eol - pos);
        line = Trim(line.substr(0, line.find(';')));
        if (line.empty() || line.size() > 8) return {V::Bad, 0};
        std::size_t size = 0;
        for (char ch : line) {
            const int d = ch >= '0' && ch <= '9'   ? ch - '0'
                          : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                          : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                   : -1;
            if (d < 0) return {V::Bad, 0};
            size = size * 16 + static_cast<std::size_t>(d);
        }
        pos = eol + 2;
        if (size == 0) break;
        data += size;
        if (data > limit) return {V::TooLarge, 0};
        if (b.size() < pos + size + 2) return {V::Incomplete, 0};
        if (b.substr(pos + size, 2) != "\r\n") return {V::Bad, 0};
        pos += size + 2;
    }
    // Trailers, up to the blank line.
    for (;;) {
        const std::size_t eol = b.find("\r\n", pos);
        if (eol == std::string_view::npos)
            return {b.size() - pos > kMaxChunkLine ? V::Bad : V::Incomplete, 0};
        if (eol == pos) return {V::Complete, pos + 2};
        pos = eol + 2;
    }
}

Connection::Connection(int fd, std::string buffered) : fd_(fd), in_(std::move(buffered)) {}

Connection::~Connection() {
    ::close(fd_);
}

long Connection::Read(char* out, std::size_t size) {
    if (inPos_ < in_.size()) {
        const std::size_t n = std::min(size, in_.size() - inPos_);
        std::memcpy(out, in_.data() + inPos_, n);
        inPos_ += n;
        return static_cast<long>(n);
    }
    return size == 0 ? 0 : -1;
}

std::chrono::steady_clock::time_point Connection::WriteDeadline() const {
    return writeStart_ + writeTimeout_ + std::chrono::seconds(written_ / kMinReplyRate);
}

long Connection::Write(const char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            written_ += static_cast<std::size_t>(n);
            return n;
        }
        if (errno == EINTR) continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd_, POLLOUT, WriteDeadline()))
            return -1;
    }
}

bool Connection::WaitReadable() {
    return inPos_ < in_.size();
}

bool Connection::WaitWritable() {
    return WaitFor(fd_, POLLOUT, WriteDeadline());
}

struct ConnectionServer::Impl {
    Impl(ConnectionHost& h, ConnectionLimits l) : host(h), limits(l) {}

    // A connection the door thread holds: before a request is complete,
    // between requests, or finishing after a refusal.
    struct Waiting {
        enum class State { Head, Body, Drain };
        std::unique_ptr<Connection> c;
        State state = State::Head;
        bool started = false;      // a byte of this head has come
        bool kept = false;         // between two requests: idle until the next one starts
        bool continueDue = false;  // the client waits for "100 Continue" before its body
        SteadyClock::time_point deadline;
        SteadyClock::time_point since;
        HeadCheck check;
        std::size_t drained = 0;
        bool done = false;
    };

    struct Job {
        std::unique_ptr<Connection> c;
    };

    // Workers of one kind; each takes a complete request, serves it, and
    // gives the connection back to the door thread when it stays open.
    struct Pool {
        std::mutex m;
        std::condition_variable cv;
        std::deque<Job> jobs;
        bool stop = false;
        std::vector<std::thread> threads;
    };

    void Door();
    bool Accept(std::vector<Waiting>& conns);
    void OnReadable(Waiting& w);
    void Examine(Waiting& w);
    void Refuse(Waiting& w, int status);
    void Dispatch(Waiting& w);
    void Work(Pool& pool);
    void Serve(Job job);
    void Wake();
    std::size_t ActiveCount();

    ConnectionHost& host;
    ConnectionLimits limits;
    std::function<void(int)> onAccept;
    int listenFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::thread door;
    Pool pages, posts;

    std::mutex m;  // guards what follows
    std::condition_variable quiet;
    std::vector<std::unique_ptr<Connection>> returned;
    std::set<int> active;  // handed to a worker, queued or running
};

void ConnectionServer::Impl::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
}

std::size_t ConnectionServer::Impl::ActiveCount() {
    std::lock_guard lock(m);
    return active.size() + returned.size();
}

void ConnectionServer::Impl::Door() {
    std::vector<Waiting> conns;
    std::vector<pollfd> fds;
    SteadyClock::time_point acceptPausedUntil;
    while (!stopping) {
        std::vector<std::unique_ptr<Connection>> back;
        {
            std::lock_guard lock(m);
            back.swap(returned);
        }
        const auto now = SteadyClock::now();
        for (auto& c : back) {
            Waiting w;
            w.c = std::move(c);
            w.since = now;
            w.deadline = now + limits.idleTimeout;
            w.kept = true;
            conns.push_back(std::move(w));
            Examine(conns.back());  // a request may have come along with the last one
        }

        fds.clear();
        fds.push_back({wakeFd, POLLIN, 0});
        const bool acceptOn = SteadyClock::now() >= acceptPausedUntil;
        fds.push_back({acceptOn ? listenFd : -1, POLLIN, 0});
        auto next = SteadyClock::now() + std::chrono::seconds(60);
        if (!acceptOn) next = std::min(next, acceptPausedUntil);
        for (const auto& w : conns) {
            fds.push_back({w.done ? -1 : w.c->fd(), POLLIN, 0});
            if (!w.done) next = std::min(next, w.deadline);
        }
        if (::poll(fds.data(), fds.size(), MsLeft(next)) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            std::uint64_t n;
            [[maybe_unused]] const auto r = ::read(wakeFd, &n, sizeof n);
        }
        for (std::size_t i = 0; i < conns.size(); ++i)
            if (fds[i + 2].revents && !conns[i].done) OnReadable(conns[i]);
        const auto after = SteadyClock::now();
        for (auto& w : conns) {
            if (w.done || after < w.deadline) continue;
            if (w.state == Waiting::State::Drain || (w.state == Waiting::State::Head && !w.started))
                w.done = true;
            else
                Refuse(w, 408);
        }
        std::erase_if(conns, [](const Waiting& w) { return w.done; });
        // Out of descriptors, the listening socket stays readable: give it
        // a rest instead of spinning.
        if (fds[1].revents && !Accept(conns))
            acceptPausedUntil = SteadyClock::now() + std::chrono::milliseconds(100);
    }
    ::close(listenFd);
    listenFd = -1;
}

bool ConnectionServer::Impl::Accept(std::vector<Waiting>& conns) {
    for (int i = 0; i < 64; ++i) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return errno != EMFILE && errno != ENFILE;
        }
        // Replies go out in two writes, head and body; waiting for the ACK of
        // the first (Nagle against the client's delayed ACK) cost every
        // request on a kept-alive connection about 40 ms.
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (onAccept) onAccept(fd);
        auto c = std::make_unique<Connection>(fd, std::string());
        if (conns.size() + ActiveCount() >= limits.maxConnections) {
            // Full: the one that has waited longest for its request goes, so
            // that a crowd of slow clients cannot keep a station out.
            auto oldest = std::min_element(
                conns.begin(), conns.end(),
                [](const Waiting& a, const Waiting& b) { return a.since < b.since; });
            if (oldest == conns.end()) continue;  // all busy: this one is closed
            conns.erase(oldest);
        }
        Waiting w;
        w.c = std::move(c);
        w.since = SteadyClock::now();
        // The head is due within its time from the connection on; one that
        // never says anything is closed without a word (browsers open spare
        // connections).
        w.deadline = w.since + limits.headTimeout;
        conns.push_back(std::move(w));
    }
    return true;
}

void ConnectionServer::Impl::OnReadable(Waiting& w) {
    char buf[kReadChunk];
    if (w.state == Waiting::State::Drain) {
        const ssize_t n = ::recv(w.c->fd(), buf, sizeof buf, 0);
        if (n > 0) w.drained += static_cast<std::size_t>(n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || w.drained > kMaxDrainBytes)
            w.done = true;
        return;
    }
    // No more than a head and a body at the limit (with a chunked body's
    // framing) is ever kept.
    const std::size_t cap = limits.maxHeadBytes + kChunkedFactor * limits.maxBodyBytes;
    Connection& c = *w.c;
    const std::size_t room = cap > c.in_.size() ? cap - c.in_.size() : 0;
    if (room == 0) return Refuse(w, 413);  // chunks framed past all reason
    const ssize_t n = ::recv(c.fd(), buf, std::min(sizeof buf, room), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        w.done = true;
        return;
    }
    if (n < 0) return;
    c.in_.append(buf, static_cast<std::size_t>(n));
    Examine(w);
    // Still waiting for the rest: acknowledge now. A client that writes the
    // head and the body apart (Nagle on its side) holds the body back until
    // the head is acknowledged, and a kept-alive connection's delayed ACK
    // made that 40 ms a request.
    if (!w.done && w.state != Waiting::State::Drain) {
        const int yes = 1;
        ::setsockopt(c.fd(), IPPROTO_TCP, TCP_QUICKACK, &yes, sizeof yes);
    }
}

void ConnectionServer::Impl::Examine(Waiting& w) {
    Connection& c = *w.c;
    c.in_.erase(0, c.inPos_);
    c.inPos_ = 0;
    if (c.in_.empty()) return;
    if (w.state == Waiting::State::Head) {
        if (!w.started) {
            w.started = true;
            if (w.kept) w.deadline = SteadyClock::now() + limits.headTimeout;
        }
        w.check = CheckHead(c.in_, limits);
        switch (w.check.verdict) {
            case Verdict::Incomplete:
                return;
            case Verdict::Bad:
                return Refuse(w, 400);
            case Verdict::TooLarge:
                return Refuse(w, 431);
            case Verdict::BodyTooLarge:
                return Refuse(w, 413);
            case Verdict::LengthRequired:
                return Refuse(w, 411);
            case Verdict::Complete:
                break;
        }
        if (w.check.expectContinue) {
            // This thread reads the body and says "100 Continue" itself; the
            // library must not say it again once the body is here.
            const std::size_t at = c.in_.find("\r\n") + 2;
            for (std::size_t pos = at; pos < w.check.headBytes - 2;) {
                const std::size_t next = c.in_.find("\r\n", pos) + 2;
                if (StartsNoCase(std::string_view(c.in_).substr(pos), "Expect:")) {
                    c.in_.erase(pos, next - pos);
                    w.check.headBytes -= next - pos;
                    break;
                }
                pos = next;
            }
            w.continueDue = true;
        }
        w.state = Waiting::State::Body;
        w.deadline = SteadyClock::now() + limits.bodyTimeout;
    }
    const std::string_view body = std::string_view(c.in_).substr(w.check.headBytes);
    if (w.check.chunked) {
        const ChunksCheck chunks = CheckChunks(body, w.check.bodyLimit);
        switch (chunks.verdict) {
            case ChunksCheck::Verdict::Bad:
                return Refuse(w, 400);
            case ChunksCheck::Verdict::TooLarge:
                return Refuse(w, 413);
            case ChunksCheck::Verdict::Complete:
                w.check.bodyBytes = chunks.bytes;
                return Dispatch(w);
            case ChunksCheck::Verdict::Incomplete:
                break;
        }
    } else if (body.size() >= w.check.bodyBytes) {
        return Dispatch(w);
    }
    if (w.continueDue) {
        w.continueDue = false;
        static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        ::send(c.fd(), kContinue, sizeof kContinue - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void ConnectionServer::Impl::Refuse(Waiting& w, int status) {
    const std::string reply = host.RefusalReply(status, w.check);
    ::send(w.c->fd(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(w.c->fd(), SHUT_WR);
    w.c->in_.clear();
    w.c->inPos_ = 0;
    w.state = Waiting::State::Drain;
    w.deadline = SteadyClock::now() + kLinger;
}

void ConnectionServer::Impl::Dispatch(Waiting& w) {
    Job job{std::move(w.c)};
    w.done = true;
    // The library leaves the body of a GET unread; it must not pass for the
    // next request.
    if (!TakesBody(w.check.method) && w.check.bodyBytes > 0)
        job.c->in_.erase(w.check.headBytes, w.check.bodyBytes);
    Pool& pool = w.check.method == "POST" ? posts : pages;
    {
        std::lock_guard lock(m);
        active.insert(job.c->fd());
    }
    {
        std::lock_guard lock(pool.m);
        pool.jobs.push_back(std::move(job));
    }
    pool.cv.notify_one();
}

void ConnectionServer::Impl::Work(Pool& pool) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(pool.m);
            pool.cv.wait(lock, [&] { return pool.stop || !pool.jobs.empty(); });
            if (pool.jobs.empty()) return;
            job = std::move(pool.jobs.front());
            pool.jobs.pop_front();
        }
        Serve(std::move(job));
    }
}

void ConnectionServer::Impl::Serve(Job job) {
    Connection& c = *job.c;
    bool keep = false;
    // A request still queued when the server stops is not begun: its client
    // had no answer and sends it again.
    if (!stopping) {
        const auto now = SteadyClock::now();
        c.writeStart_ = now;
        c.writeTimeout_ = limits.writeTimeout;
        c.written_ = 0;
        ++c.served_;
        const bool last = c.served_ >= limits.maxRequestsPerConnection || stopping;
        keep = host.Serve(c, last) && !last;
    }
    std::lock_guard lock(m);
    active.erase(c.fd());
    if (keep && !stopping) {
        returned.push_back(std::move(job.c));
        Wake();
    }
    quiet.notify_all();
    // Otherwise the connection closes here, after it left `active`, so Stop
    // never shuts a descriptor number that has been given to someone else.
    job.c.reset();
}

ConnectionServer::ConnectionServer(ConnectionHost& host, ConnectionLimits limits)
    : impl_(std::make_unique<Impl>(host, limits)) {}

ConnectionServer::~ConnectionServer() {
    Stop();
}

void ConnectionServer::Start(int listenFd, int pageWorkers, int postWorkers) {
    Impl& s = *impl_;
    s.listenFd = listenFd;
    s.onAccept = onAccept;
    s.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int i = 0; i < std::max(1, pageWorkers); ++i)
        s.pages.threads.emplace_back([&s] { s.Work(s.pages); });
    for (int i = 0; i < std::max(1, postWorkers); ++i)
        s.posts.threads.emplace_back([&s] { s.Work(s.posts); });
    s.door = std::thread([&s] { s.Door(); });
}

void ConnectionServer::Stop() {
    Impl& s = *impl_;
    if (!s.door.joinable()) return;
    s.stopping = true;
    s.Wake();
    s.door.join();  // the listening socket and every waiting connection are closed
    {
        std::unique_lock lock(s.m);
        s.quiet.wait_for(lock, kStopGrace, [&] { return s.active.empty(); });
        // Whatever still waits on its client is cut off: a reply being
        // written, a chunked body coming slowly.
        for (int fd : s.active) ::shutdown(fd, SHUT_RDWR);
        s.returned.clear();
    }
    for (Impl::Pool* pool : {&s.pages, &s.posts}) {
        {
            std::lock_guard lock(pool->m);
            pool->stop = true;
        }
        pool->cv.notify_all();
        for (auto& t : pool->threads) t.join();
        pool->threads.clear();
    }
    s.returned.clear();
    ::close(s.wakeFd);
    s.wakeFd = -1;
}

}  // namespace pom::recorder
