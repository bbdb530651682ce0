#include "tests/support/RawHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace pom::test {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::size_t ContentLength(const std::string& head) {
    const std::string lower = Lower(head);
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace

RawHttpServer::Reply RawHttpServer::Canned(std::string raw) {
    Reply r;
    r.pieces.emplace_back(std::move(raw), ms(0));
    return r;
}

RawHttpServer::Reply RawHttpServer::Silent() {
    Reply r;
    r.end = Reply::End::Hold;
    return r;
}

RawHttpServer::Reply RawHttpServer::Drip(const std::string& raw, std::size_t step, ms pause) {
    Reply r;
    for (std::size_t i = 0; i < raw.size(); i += step)
        r.pieces.emplace_back(raw.substr(i, step), pause);
    return r;
}

RawHttpServer::Reply RawHttpServer::ResetAfter(std::string raw) {
    Reply r = Canned(std::move(raw));
    r.end = Reply::End::Reset;
    return r;
}

RawHttpServer::RawHttpServer(Reply reply) : reply_(std::move(reply)) {
    if (::pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 16) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
    (void)!::write(stop_[1], "x", 1);
    thread_.join();
    ::close(listen_);
    ::close(stop_[0]);
    ::close(stop_[1]);
}

std::string RawHttpServer::url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

void RawHttpServer::SetReply(Reply reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
}

std::string RawHttpServer::Request(std::size_t n, ms deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, deadline, [&] { return requests_.size() > n; });
    return requests_.size() > n ? requests_[n] : std::string();
}

std::size_t RawHttpServer::RequestCount() {
    std::lock_guard lock(mutex_);
    return count_;
}

void RawHttpServer::SetKeepRequests(bool keep) {
    std::lock_guard lock(mutex_);
    keep_ = keep;
}

bool RawHttpServer::PauseFor(ms pause) {
    pollfd p{stop_[0], POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(pause.count())) == 0;
}

void RawHttpServer::Serve() {
    for (;;) {
        pollfd p[2] = {{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[0].revents) return;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Handle(fd);
    }
}

void RawHttpServer::Handle(int fd) {
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        reply = reply_;
    }
    std::string request;
    bool stopping = false;
    // Read the head, then as much body as it announces (5 s at most).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!reply.answerAtOnce && std::chrono::steady_clock::now() < end) {
        const std::size_t headEnd = request.find("\r\n\r\n");
        if (headEnd != std::string::npos &&
            request.size() >= headEnd + 4 + ContentLength(request.substr(0, headEnd + 2)))
            break;
        pollfd p[2] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(p, 2, 50) <= 0) continue;
        if (p[0].revents) {
            stopping = true;
            break;
        }
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
        if (static_cast<unsigned char>(request[0]) == 0x16)
            break;  // a TLS hello: no HTTP head follows
    }
    {
        std::lock_guard lock(mutex_);
        ++count_;
        if (keep_) requests_.push_back(request);
    }
    changed_.notify_all();
    for (const auto& [bytes, pause] : reply.pieces) {
        if (stopping) break;
        if (!bytes.empty() && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                                  static_cast<ssize_t>(bytes.size()))
            break;
        if (pause.count() > 0 && !PauseFor(pause)) stopping = true;
    }
    if (reply.end == Reply::End::Reset) {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (reply.end == Reply::End::Hold) {
        while (!stopping) {
            pollfd p[2] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) continue;
            if (p[0].revents) break;
            char buf[4096];
            if (::read(fd, buf, sizeof buf) <= 0) break;  // the client went
        }
    }
    ::close(fd);
}

std::string HeadOf(const std::string& request) {
    const std::size_t at = request.find("\r\n\r\n");
    return at == std::string::npos ? request : request.substr(0, at + 4);
}

std::string BodyOf(const std::string& request) {
    const std::size_t at = request.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : request.substr(at + 4);
}

}  // namespace pom::test
