#include "tools/recorder/RecorderServer.h"

#include <signal.h>
#include <sys/socket.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

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

}  // namespace

struct Server::Impl {
    Impl(Store& s, ServerConfig c) : store(s), config(std::move(c)) {}

    void HandlePost(const httplib::Request& req, httplib::Response& res);
    void HandleIndex(httplib::Response& res);
    void HandleTable(const httplib::Request& req, httplib::Response& res);
    void HandleCsv(const httplib::Request& req, httplib::Response& res);
    void HandleAsset(const httplib::Request& req, httplib::Response& res);

    Store& store;
    ServerConfig config;
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> listenEnded{false};
    int listenSocket = -1;
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

    const int threads = s.config.threads;
    s.http.new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<std::size_t>(threads));
    };
    // The library's default adds SO_REUSEPORT, which would let a second
    // recorder share the port silently instead of being told it is taken.
    s.http.set_socket_options([&s](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        s.listenSocket = sock;
    });
    s.http.set_payload_max_length(kMaxBodyBytes);
    s.http.set_keep_alive_timeout(2);
    s.http.set_read_timeout(10);
    s.http.set_write_timeout(10);

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
    s.http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        std::string reason;
        switch (res.status) {
            case 413:
                reason =
                    "treść żądania za duża (najwyżej " + std::to_string(kMaxBodyBytes) + " bajtów)";
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
    });
    s.http.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
            SetRefusal(req, res, 500, "błąd wewnętrzny serwera");
        });

    if (s.config.port == 0) {
        s.port = s.http.bind_to_any_port(s.config.host);
    } else {
        s.port = s.http.bind_to_port(s.config.host, s.config.port) ? s.config.port : -1;
    }
    if (s.port < 0) {
        if (error)
            *error = "cannot listen on " + s.config.host + ":" + std::to_string(s.config.port) +
                     " (port taken or address not available)";
        return -1;
    }
    // The library listens with a backlog of 5: stations connecting at once
    // beyond that would wait a second for the SYN to be sent again. Linux
    // takes a new backlog from a second listen().
    if (s.listenSocket >= 0) ::listen(s.listenSocket, SOMAXCONN);
    s.thread = std::thread([&s] {
        s.http.listen_after_bind();
        s.listenEnded = true;
    });
    // stop() only acts once the loop runs, so Start returns when it does.
    while (!s.http.is_running() && !s.listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!s.http.is_running()) {
        s.thread.join();
        if (error) *error = "the server loop ended at once";
        return -1;
    }
    return s.port;
}

void Server::Stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    s.http.stop();
    s.thread.join();
}

}  // namespace pom::recorder
