#include "web/HttpUrl.h"

#include <curl/curl.h>

#include <memory>

namespace pom::http {
namespace {

struct UrlDeleter {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
};

// A part of the handle, or empty when the address has none.
std::string Part(CURLU* h, CURLUPart part, unsigned flags, CURLUcode* rcOut = nullptr) {
    char* s = nullptr;
    const CURLUcode rc = curl_url_get(h, part, &s, flags);
    if (rcOut) *rcOut = rc;
    std::string r = (rc == CURLUE_OK && s) ? s : "";
    curl_free(s);
    return r;
}

}  // namespace

int CrackUrl(std::string_view utf8, CrackedUrl& out, std::string& message) {
    out = {};
    message.clear();
    std::unique_ptr<CURLU, UrlDeleter> h(curl_url());
    if (!h) {
        message = curl_url_strerror(CURLUE_OUT_OF_MEMORY);
        return CURLUE_OUT_OF_MEMORY;
    }
    const std::string text(utf8);
    // Any scheme is taken; the request always speaks HTTP to host and port.
    const CURLUcode rc =
        curl_url_set(h.get(), CURLUPART_URL, text.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS);
    if (rc != CURLUE_OK) {
        message = curl_url_strerror(rc);
        return rc;
    }
    out.scheme = Part(h.get(), CURLUPART_SCHEME, 0);
    out.host = Part(h.get(), CURLUPART_HOST, 0);
    CURLUcode portRc = CURLUE_OK;
    const std::string port = Part(h.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, &portRc);
    out.port = portRc == CURLUE_OK ? std::stoi(port) : 80;
    CURLUcode queryRc = CURLUE_OK;
    const std::string query = Part(h.get(), CURLUPART_QUERY, 0, &queryRc);
    if (queryRc == CURLUE_OK) out.extra = "?" + query;
    // The parser always gives at least "/"; an address whose host is followed
    // by nothing, "?" or "#" has no path of its own.
    const std::size_t afterScheme = text.find("://") + 3;
    const std::size_t endOfHost = text.find_first_of("/?#", afterScheme);
    if (endOfHost != std::string::npos && text[endOfHost] == '/')
        out.path = Part(h.get(), CURLUPART_PATH, 0);
    if (out.host.size() > kMaxUrlPart || out.path.size() > kMaxUrlPart ||
        out.extra.size() > kMaxUrlPart) {
        out = {};
        message = "a part of the address is longer than 2048 characters";
        return CURLUE_MALFORMED_INPUT;
    }
    return 0;
}

bool UsesTls(const CrackedUrl& url) {
    return url.port == 443 || url.scheme == "https";
}

std::string EscapeObjectName(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(utf8.size());
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        const bool unsafe = b <= 0x20 || b >= 0x7F ||
                            std::string_view("\"<>\\^`{|}#").find(ch) != std::string_view::npos;
        if (unsafe) {
            r += '%';
            r += kHex[b >> 4];
            r += kHex[b & 0x0F];
        } else {
            r += ch;
        }
    }
    return r;
}

}  // namespace pom::http
