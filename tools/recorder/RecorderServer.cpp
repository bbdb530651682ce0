#include "tools/recorder/RecorderServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <cstdio>

#include "tools/recorder/RecorderApi.h"
#include "tools/recorder/RecorderAssets.h"
#include "tools/recorder/RecorderInput.h"
#include "tools/recorder/RecorderPages.h"
#include "tools/recorder/RecorderStore.h"
#include "util/Clock.h"

namespace pom::recorder {
namespace {

// The uploader decodes a reply as UTF-8 only when the header says so in
// exactly these letters.
constexpr const char* kPlain = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

bool IsLegendsPath(const std::string& path) {
    return path.ends_with("opisy.php");
}

void SetPage(httplib::Response& res, int status, const std::string& html) {
    res.status = status;
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, kHtml);
}

// A refused or failed post: no success word, and the legends wording the
// uploader knows for a legends post.
void SetRefusal(const httplib::Request& req, httplib::Response& res, int status,
                const std::string& reason) {
    res.status = status;
    const std::string head =
        IsLegendsPath(req.path) ? std::string(kLegendsProblem) + ": " : std::string("Błąd: ");
    res.set_content(head + reason + "\n", kPlain);
}

// A CSV bound: a day (whole day) or a date and time, "T" allowed as the
// separator as a browser's date-time field sends it.
std::optional<std::string> Bound(std::string text, bool from) {
    if (text.empty()) return std::string(from ? "" : "9999-12-31 23:59:59");
    if (IsDay(text)) return text + (from ? " 00:00:00" : " 23:59:59");
    if (text.size() == 16) text += ":00";
    if (text.size() == 19 && text[10] == 'T') text[10] = ' ';
    if (IsStamp(text)) return text;
    return std::nullopt;
}

// The answers change with every stored reading: the client asks again each
// time, sending the tag, and is told 304 while nothing changed.
void SetJson(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    res.set_header("Cache-Control", "no-cache");
    res.set_header("X-Content-Type-Options", "nosniff");
    if (!reply.etag.empty()) res.set_header("ETag", reply.etag);
    if (reply.status != 304) res.set_content(reply.body, "application/json; charset=utf-8");
}

std::string Param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

// The library's own bound on url-encoded bodies, which it checks before ours.
constexpr std::size_t kMaxFormBytes = CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH;

bool IsForm(const httplib::Request& req) {
    return Lower(req.get_header_value("Content-Type"))
        .starts_with("application/x-www-form-urlencoded");
}

// The words for a refused request, from the library or from the connection
// reader; `limit` is the body bound that applied.
void SetError(const httplib::Request& req, httplib::Response& res, std::size_t limit,
              const ConnectionLimits& limits) {
    std::string reason;
    switch (res.status) {
        case 413:
            reason = "treść żądania za duża (najwyżej " + std::to_string(limit) + " bajtów)";
            break;
        case 431:
            reason = "za dużo nagłówków albo za długie (najwyżej " +
                     std::to_string(limits.maxHeaders) + " nagłówków, " +
                     std::to_string(limits.maxHeadBytes) + " bajtów)";
            break;
        case 408:
            reason = "żądanie nie nadeszło w całości na czas";
            break;
        case 411:
            reason = "treść bez długości (Content-Length) nie jest przyjmowana";
            break;
        case 400:
            reason = "niepoprawne żądanie (zła postać formularza lub nagłówka)";
            break;
        case 404:
            reason = "nie ma takiej strony";
            break;
        default:
            reason = "żądanie odrzucone (HTTP " + std::to_string(res.status) + ")";
    }
    if (req.method == "GET" || req.method == "HEAD")
        SetPage(res, res.status, MessagePage("Błąd", reason));
    else
        SetRefusal(req, res, res.status, reason);
}

const char* StatusText(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Error";
    }
}

// The library's server with its request reader open to us: we hand it one
// request at a time from our own connection handling.
class HttpCore : public httplib::Server {
public:
    using httplib::Server::process_request;
};

// A Connection as the library's stream.
class ConnectionStream final : public httplib::Stream {
public:
    explicit ConnectionStream(Connection& c) : c_(c) {}
    bool is_readable() const override { return c_.WaitReadable(); }
    bool is_writable() const override { return c_.WaitWritable(); }
    ssize_t read(char* ptr, size_t size) override { return c_.Read(ptr, size); }
    ssize_t write(const char* ptr, size_t size) override { return c_.Write(ptr, size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        Address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        Address(::getsockname, ip, port);
    }
    socket_t socket() const override { return c_.fd(); }

private:
    void Address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        char host[NI_MAXHOST], serv[NI_MAXSERV];
        if (get(c_.fd(), reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
            ::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, serv,
                          sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(serv);
        }
    }
    Connection& c_;
};

// A listening socket of our own: the connection reader owns and closes it.
// SO_REUSEADDR only; SO_REUSEPORT would let a second recorder share the port
// silently instead of being told it is taken.
int Listen(const std::string& host, int port, int* bound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints,
                      &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int yes = 1, no = 0;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (a->ai_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) return -1;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return fd;
}

}  // namespace

namespace {
// The body bounds are the recorder's and the library's, not a setting.
ServerConfig WithBodyLimits(ServerConfig c) {
    c.limits.maxBodyBytes = kMaxBodyBytes;
    c.limits.maxFormBytes = kMaxFormBytes;
    return c;
}
}  // namespace

struct Server::Impl final : ConnectionHost {
    Impl(Store& s, ServerConfig c)
        : store(s), config(WithBodyLimits(std::move(c))), connections(*this, config.limits) {}

    bool Serve(Connection& c, bool last) override {
        ConnectionStream stream(c);
        bool closed = false;
        return http.process_request(stream, last, closed, nullptr) && !closed;
    }
    std::string RefusalReply(int status, const HeadCheck& check) override {
        httplib::Request req;
        req.method = check.method;
        req.path = check.path;
        httplib::Response res;
        res.status = status;
        SetError(req, res, check.bodyLimit, config.limits);
        std::string reply =
            "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
            "\r\nConnection: close\r\nContent-Length: " + std::to_string(res.body.size()) + "\r\n";
        for (const auto& [name, value] : res.headers) reply += name + ": " + value + "\r\n";
        return reply + "\r\n" + res.body;
    }

    void HandlePost(const httplib::Request& req, httplib::Response& res);
    void HandleIndex(httplib::Response& res);
    void HandleTable(const httplib::Request& req, httplib::Response& res);
    void HandleCsv(const httplib::Request& req, httplib::Response& res);
    void HandleAsset(const httplib::Request& req, httplib::Response& res);

    Store& store;
    ServerConfig config;
    HttpCore http;
    ConnectionServer connections;
    bool running = false;
    int port = -1;
};

void Server::Impl::HandlePost(const httplib::Request& req, httplib::Response& res) {
    const bool legends = IsLegendsPath(req.path);
    std::vector<Field> fields;
    const std::string type = Lower(req.get_header_value("Content-Type"));
    if (req.is_multipart_form_data()) {
        if (req.files.size() > kMaxFields)
            return SetRefusal(
                req, res, 400,
                "za dużo pól formularza (najwyżej " + std::to_string(kMaxFields) + ")");
        for (const auto& [name, part] : req.files) fields.push_back({name, part.content});
    } else if (type.starts_with("application/x-www-form-urlencoded")) {
        auto parsed = ParseUrlEncoded(req.body);
        if (!parsed) return SetRefusal(req, res, 400, "zła postać formularza");
        fields = std::move(*parsed);
    } else {
        return SetRefusal(req, res, 415,
                          "treść musi być formularzem multipart/form-data albo "
                          "application/x-www-form-urlencoded");
    }

    if (legends) {
        auto checked = CheckLegends(fields, config.key);
        if (auto* r = std::get_if<Refusal>(&checked)) {
            std::fprintf(stderr, "pomiarnik-recorder: %s refused: %s\n", req.remote_addr.c_str(),
                         r->reason.c_str());
            return SetRefusal(req, res, r->status, r->reason);
        }
        if (!store.SetLegends(std::get<Legends>(checked)))
            return SetRefusal(req, res, 503, "zapis do bazy nie powiódł się, wyślij ponownie");
        res.set_content(std::string(kReplyStored), kPlain);
        return;
    }
    auto checked = CheckReading(fields, config.key);
    if (auto* r = std::get_if<Refusal>(&checked)) {
        std::fprintf(stderr, "pomiarnik-recorder: %s refused: %s\n", req.remote_addr.c_str(),
                     r->reason.c_str());
        return SetRefusal(req, res, r->status, r->reason);
    }
    switch (store.AddReading(std::get<Reading>(checked))) {
        case Outcome::Stored:
            res.set_content(std::string(kReplyStored), kPlain);
            break;
        case Outcome::CreatedTable:
            res.set_content(std::string(kReplyCreated), kPlain);
            break;
        case Outcome::Exists:
            res.set_content(std::string(kReplyExists), kPlain);
            break;
        case Outcome::Failed:
            SetRefusal(req, res, 503, "zapis do bazy nie powiódł się, wyślij ponownie");
            break;
    }
}

void Server::Impl::HandleIndex(httplib::Response& res) {
    SetPage(res, 200, IndexPage(store.Tables()));
}

void Server::Impl::HandleTable(const httplib::Request& req, httplib::Response& res) {
    const std::string asked = req.matches[1];
    if (!IsTableName(asked))
        return SetPage(res, 400,
                       MessagePage("Zła nazwa tabeli",
                                   "Nazwa tabeli to od 1 do 64 liter A-Z, a-z, cyfr i znaków _."));
    const auto table = store.FindTable(asked);
    if (!table) return SetPage(res, 404, MessagePage("Nie ma takiej tabeli", asked));
    SetPage(res, 200, StationPage(*table));
}

void Server::Impl::HandleAsset(const httplib::Request& req, httplib::Response& res) {
    const Asset* asset = FindAsset(std::string(req.matches[1]));
    if (!asset) return SetPage(res, 404, MessagePage("Błąd", "nie ma takiego pliku"));
    // The pages link each file with its hash: a new build is a new address.
    res.set_header("Cache-Control", "public, max-age=31536000, immutable");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(asset->body.data(), asset->body.size(), std::string(asset->type).c_str());
}

void Server::Impl::HandleCsv(const httplib::Request& req, httplib::Response& res) {
    const std::string asked = req.matches[1];
    const auto table = IsTableName(asked) ? store.FindTable(asked) : std::nullopt;
    if (!table) {
        res.status = IsTableName(asked) ? 404 : 400;
        res.set_content(
            std::string(IsTableName(asked) ? "nie ma takiej tabeli\n" : "zła nazwa tabeli\n"),
            kPlain);
        return;
    }
    const auto from = Bound(Param(req, "from"), true);
    const auto to = Bound(Param(req, "to"), false);
    if (!from || !to) {
        res.status = 400;
        res.set_content("from i to: RRRR-MM-DD albo RRRR-MM-DD GG:MM:SS\n", kPlain);
        return;
    }
    std::array<bool, kChannels> channels;
    channels.fill(true);
    if (!Param(req, "channels").empty()) {
        const auto chosen = ParseChannels(Param(req, "channels"));
        if (!chosen) {
            res.status = 400;
            res.set_content("channels: lista kanałów po przecinku, od sonda0 do sonda10\n", kPlain);
            return;
        }
        channels = *chosen;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"" + *table + ".csv\"");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(CsvOf(store, *table, *from, *to, channels), "text/csv; charset=utf-8");
}

Server::Server(Store& store, ServerConfig config)
    : impl_(std::make_unique<Impl>(store, std::move(config))) {}

Server::~Server() {
    Stop();
}

int Server::port() const {
    return impl_->port;
}

int Server::Start(std::string* error) {
    Impl& s = *impl_;
    // A client that goes away mid-reply must not end the process.
    ::signal(SIGPIPE, SIG_IGN);

    s.http.set_payload_max_length(kMaxBodyBytes);
    // Only for the Keep-Alive header the library writes; the connection
    // reader keeps these bounds.
    s.http.set_keep_alive_max_count(
        static_cast<std::size_t>(s.config.limits.maxRequestsPerConnection));
    s.http.set_keep_alive_timeout(
        std::chrono::duration_cast<std::chrono::seconds>(s.config.limits.idleTimeout).count());

    s.http.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        // Packed bodies would be unpacked past the size limit.
        const std::string enc = Lower(req.get_header_value("Content-Encoding"));
        if (!enc.empty() && enc != "identity") {
            SetRefusal(req, res, 415, "spakowana treść (Content-Encoding) nie jest przyjmowana");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.http.Post(".*", [&s](const httplib::Request& req, httplib::Response& res) {
        s.HandlePost(req, res);
    });
    s.http.Get("/", [&s](const httplib::Request&, httplib::Response& res) { s.HandleIndex(res); });
    s.http.Get("/api/stations", [&s](const httplib::Request& req, httplib::Response& res) {
        SetJson(res, StationsReply(s.store, req.get_header_value("If-None-Match"),
                                   ToCalendarSeconds(SystemClock().now())));
    });
    s.http.Get(R"(/api/table/([^/]*))", [&s](const httplib::Request& req, httplib::Response& res) {
        SetJson(res, TableReply(s.store, req.matches[1], req.params,
                                req.get_header_value("If-None-Match")));
    });
    s.http.Get(R"(/table/([^/]*)\.csv)", [&s](const httplib::Request& req, httplib::Response& res) {
        s.HandleCsv(req, res);
    });
    s.http.Get(R"(/table/([^/]*))", [&s](const httplib::Request& req, httplib::Response& res) {
        s.HandleTable(req, res);
    });
    s.http.Get(R"(/assets/([^/]*))", [&s](const httplib::Request& req, httplib::Response& res) {
        s.HandleAsset(req, res);
    });
    s.http.set_error_handler([&s](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        SetError(req, res, IsForm(req) ? kMaxFormBytes : kMaxBodyBytes, s.config.limits);
    });
    s.http.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
            SetRefusal(req, res, 500, "błąd wewnętrzny serwera");
        });

    const int listenFd = Listen(s.config.host, s.config.port, &s.port);
    if (listenFd < 0) {
        if (error)
            *error = "cannot listen on " + s.config.host + ":" + std::to_string(s.config.port) +
                     " (port taken or address not available)";
        s.port = -1;
        return -1;
    }
    s.connections.onAccept = s.config.onAccept;
    s.connections.Start(listenFd, s.config.threads, s.config.postThreads);
    s.running = true;
    return s.port;
}

void Server::Stop() {
    Impl& s = *impl_;
    if (!s.running) return;
    s.connections.Stop();
    s.running = false;
}

}  // namespace pom::recorder
