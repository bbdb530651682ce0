// Feeds arbitrary bytes through the HTTP client's response decoding: header
// lines as the transfer delivers them, the values taken from them, then the
// body through gzip/zlib, the charset conversion and the line split. The
// first byte picks how the headers arrive and a charset to append.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/HttpDecode.h"
#include "web/HttpUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pom::http;
    if (size < 1) return 0;
    const unsigned control = data[0];
    const std::string_view all(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = all.find("\r\n\r\n");
    const std::string_view head = split == std::string_view::npos ? all : all.substr(0, split + 4);
    const std::string_view body =
        split == std::string_view::npos ? std::string_view() : all.substr(split + 4);

    HeaderCollector collector;
    std::size_t start = 0;
    while (start < head.size()) {
        std::size_t end = head.find('\n', start);
        end = end == std::string_view::npos ? head.size() : end + 1;
        if (!collector.Add(head.substr(start, end - start))) break;
        start = end;
    }
    std::vector<std::string> headers = collector.Lines();
    static const char* const kCharsets[] = {"", "charset=utf-8", "charset=utf-16", "charset=UTF-8"};
    if (control & 3)
        headers.push_back(std::string("Content-Type: text/plain; ") + kCharsets[control & 3]);
    (void)ContentLengthOf(headers);
    for (const auto& cookie : CookiesOf(headers)) {
        if (cookie.size() > kMaxCookie) std::abort();
    }
    (void)HeaderValue(headers, all.substr(0, std::min<std::size_t>(all.size(), 20)));

    bool tooLarge = false;
    const std::string decoded = DecodeBody(body, kMaxDecoded, &tooLarge);
    if (decoded.size() > kMaxDecoded) std::abort();
    if (tooLarge && !decoded.empty()) std::abort();
    const std::string text = BodyToText(decoded, JoinLines(headers));
    bool cut = false;
    const auto lines = SplitLines(text, (control & 4) ? 3 : kMaxLines, &cut);
    if (lines.size() > kMaxLines) std::abort();
    for (const auto& line : lines) {
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    }

    if (control & 8) {
        CrackedUrl url;
        std::string message;
        const std::string address = "http://" + std::string(all.substr(0, 4096));
        if (CrackUrl(address, url, message) == 0) {
            if (url.path.size() > kMaxUrlPart || url.extra.size() > kMaxUrlPart) std::abort();
            const std::string escaped = EscapeObjectName(url.path + url.extra);
            for (char c : escaped) {
                if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                    std::abort();
            }
        }
    }
    return 0;
}
