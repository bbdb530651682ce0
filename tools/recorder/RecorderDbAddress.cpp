#include "tools/recorder/RecorderDbAddress.h"

#include <charconv>

namespace pom::recorder {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX decoded; nullopt for a broken escape.
std::optional<std::string> Decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        const int hi = HexDigit(s[i + 1]);
        const int lo = HexDigit(s[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

}  // namespace

bool IsAddress(const std::string& db) {
    const auto colon = db.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = db[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

std::optional<DbAddress> ParseDbAddress(const std::string& text, std::string& error) {
    const auto sep = text.find("://");
    if (!IsAddress(text)) {
        error = "not a database address";
        return std::nullopt;
    }
    const std::string scheme = Lower(text.substr(0, sep));
    if (scheme != "mariadb" && scheme != "mysql") {
        error = "unknown database scheme " + scheme +
                "://: give a file path, mariadb://user@host:port/database or mysql://...";
        return std::nullopt;
    }
    std::string rest = text.substr(sep + 3);
    DbAddress a;
    std::string query;
    if (const auto q = rest.find('?'); q != std::string::npos) {
        query = rest.substr(q + 1);
        rest.resize(q);
    }
    const auto slash = rest.find('/');
    if (slash == std::string::npos) {
        error = "the database address names no database (…/DATABASE)";
        return std::nullopt;
    }
    const auto db = Decode(rest.substr(slash + 1));
    if (!db || db->empty() || db->find('/') != std::string::npos) {
        error = "bad database name in the database address";
        return std::nullopt;
    }
    a.database = *db;
    std::string authority = rest.substr(0, slash);
    // The last @: a password may hold one, percent-encoded or not.
    if (const auto at = authority.rfind('@'); at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const auto colon = userInfo.find(':');
        const auto user = Decode(userInfo.substr(0, colon));
        std::optional<std::string> password;
        if (colon != std::string::npos) password = Decode(userInfo.substr(colon + 1));
        if (!user || (colon != std::string::npos && !password)) {
            error = "bad user or password in the database address (escape with %XX)";
            return std::nullopt;
        }
        a.user = *user;
        if (password) {
            a.password = *password;
            a.hasPassword = true;
        }
    }
    if (!authority.empty()) {
        std::string host = authority;
        std::string port;
        if (host.front() == '[') {
            const auto close = host.find(']');
            if (close == std::string::npos) {
                error = "bad host in the database address";
                return std::nullopt;
            }
            if (close + 1 < host.size()) {
                if (host[close + 1] != ':') {
                    error = "bad host in the database address";
                    return std::nullopt;
                }
                port = host.substr(close + 2);
            }
            host = host.substr(1, close - 1);
        } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
            port = host.substr(colon + 1);
            host.resize(colon);
        }
        if (host.empty()) {
            error = "bad host in the database address";
            return std::nullopt;
        }
        a.host = host;
        if (!port.empty() || authority.back() == ':') {
            int p = 0;
            auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
            if (ec != std::errc() || end != port.data() + port.size() || p < 1 || p > 65535) {
                error = "bad port in the database address";
                return std::nullopt;
            }
            a.port = p;
        }
    }
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string item = query.substr(0, amp);
        query = amp == std::string::npos ? std::string() : query.substr(amp + 1);
        const auto eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const auto value = eq == std::string::npos ? std::nullopt : Decode(item.substr(eq + 1));
        if (name != "socket" || !value || value->empty()) {
            error = "the database address takes only ?socket=/PATH";
            return std::nullopt;
        }
        a.socket = *value;
    }
    return a;
}

std::string ShownAddress(const DbAddress& a) {
    std::string s = "mariadb://";
    if (!a.user.empty()) s += a.user + "@";
    if (a.socket.empty())
        s += (a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host) + ":" +
             std::to_string(a.port);
    s += "/" + a.database;
    if (!a.socket.empty()) s += "?socket=" + a.socket;
    return s;
}

}  // namespace pom::recorder
