#include "web/HttpDecode.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

#include "util/Cp1250.h"

namespace pom::http {
namespace {

enum class Inflated { Ok, Failed, TooLarge };

// Inflates one stream (windowBits as zlib takes them: negative for raw
// deflate, 15 for a zlib stream, 31 for a gzip member) in kInflateChunk steps. Only a stream that
// ends properly counts; a truncated or corrupt one gives nothing.
Inflated Inflate(std::string_view in, int windowBits, std::size_t maxOut, std::string& out) {
    out.clear();
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK) return Inflated::Failed;
    Inflated result = Inflated::Failed;
    unsigned char buf[kInflateChunk];
    std::size_t fed = 0;
    for (;;) {
        if (zs.avail_in == 0 && fed < in.size()) {
            // Fed in pieces so a body of any size fits zlib's 32-bit counts.
            const std::size_t n = std::min<std::size_t>(in.size() - fed, 1u << 20);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + fed));
            zs.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        zs.next_out = buf;
        zs.avail_out = sizeof buf;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
        const std::size_t produced = sizeof buf - zs.avail_out;
        if (produced > maxOut - out.size()) {
            result = Inflated::TooLarge;
            break;
        }
        out.append(reinterpret_cast<const char*>(buf), produced);
        if (rc == Z_STREAM_END) {
            result = Inflated::Ok;
            break;
        }
        // No progress and nothing left to feed: the stream is cut short.
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && fed >= in.size()) break;
    }
    inflateEnd(&zs);
    if (result != Inflated::Ok) out.clear();
    return result;
}

std::string ToLower(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return r;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// A decimal integer with an optional sign and blanks around it; false when
// the text is anything else or does not fit.
bool ParseInt64(std::string_view s, std::int64_t& value) {
    s = Trim(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 18) return false;  // 18 digits always fit
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

bool IsGzipMember(std::string_view body) {
    static constexpr unsigned char kMagic[8] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0};
    return body.size() >= 8 && std::memcmp(body.data(), kMagic, 8) == 0;
}

bool NeedsConversion(std::string_view headerText) {
    return headerText.find("charset=utf-8") != std::string_view::npos ||
           headerText.find("charset=utf-16") != std::string_view::npos;
}

std::string DecodeBody(std::string_view body, std::size_t maxOut, bool* tooLarge) {
    if (tooLarge) *tooLarge = false;
    if (!IsGzipMember(body)) return std::string(body);
    std::string out;
    // One whole gzip member from the start: its check sum and length must
    // match too, so a damaged body never passes for the server's text.
    const Inflated first = Inflate(body, MAX_WBITS + 16, maxOut, out);
    if (first == Inflated::Ok && !out.empty()) return out;
    const Inflated second = Inflate(body.substr(8), MAX_WBITS, maxOut, out);
    if (second == Inflated::Ok) return out;
    if (tooLarge) *tooLarge = first == Inflated::TooLarge || second == Inflated::TooLarge;
    return {};
}

std::string Utf16LeToCp1250(std::string_view bytes) {
    std::string utf8;
    utf8.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char32_t u = static_cast<unsigned char>(bytes[i]) |
                           (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDFFF) {
            // Outside the basic plane nothing has a Windows-1250 byte.
            if (u <= 0xDBFF && i + 3 < bytes.size()) {
                const unsigned lo =
                    static_cast<unsigned char>(bytes[i + 2]) |
                    (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 3])) << 8);
                if (lo >= 0xDC00 && lo <= 0xDFFF) i += 2;
            }
            utf8 += '?';
            continue;
        }
        AppendUtf8(utf8, u);
    }
    return Utf8ToCp1250(utf8);
}

std::string BodyToText(std::string_view body, std::string_view headerText) {
    if (headerText.find("charset=utf-8") != std::string_view::npos) return Utf8ToCp1250(body);
    if (headerText.find("charset=utf-16") != std::string_view::npos) return Utf16LeToCp1250(body);
    return std::string(body);
}

std::vector<std::string> SplitLines(std::string_view text, std::size_t maxLines, bool* cut) {
    if (cut) *cut = false;
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        if (lines.size() >= maxLines) {
            if (cut) *cut = true;
            break;
        }
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) {
        s += l;
        s += "\r\n";
    }
    return s;
}

std::string HeaderValue(const std::vector<std::string>& headers, std::string_view name) {
    std::string key = ToLower(Trim(name));
    if (!key.empty() && key.back() == ':') key.pop_back();
    key += ": ";
    for (const auto& line : headers) {
        if (line.size() >= key.size() &&
            ToLower(std::string_view(line).substr(0, key.size())) == key) {
            return line.substr(line.find(": ") + 2);
        }
    }
    return {};
}

std::int64_t ContentLengthOf(const std::vector<std::string>& headers) {
    std::int64_t length = 0;
    if (!ParseInt64(HeaderValue(headers, "Content-Length"), length) || length <= 0) length = 1;
    if (length <= 1) {
        const std::string custom = HeaderValue(headers, "Custom-Content-Length");
        std::int64_t v = 0;
        // A custom value that is no integer leaves the length as it is.
        if (!custom.empty() && custom != "0" && ParseInt64(custom, v)) length = v;
    }
    return length;
}

int StatusOf(const std::vector<std::string>& headers) {
    if (headers.empty() || !headers.front().starts_with("HTTP/")) return 0;
    std::string_view line = headers.front();
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return 0;
    line.remove_prefix(blank + 1);
    int status = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && digits < 3 && line[digits] >= '0' && line[digits] <= '9';
         ++digits)
        status = status * 10 + (line[digits] - '0');
    const bool ends = line.size() == 3 || line[3] == ' ';
    return digits == 3 && ends ? status : 0;
}

std::vector<std::string> CookiesOf(const std::vector<std::string>& headers) {
    std::vector<std::string> cookies;
    static constexpr std::string_view kKey = "set-cookie:";
    for (const auto& line : headers) {
        if (line.size() < kKey.size() ||
            ToLower(std::string_view(line).substr(0, kKey.size())) != kKey)
            continue;
        std::string value(Trim(std::string_view(line).substr(kKey.size())));
        if (value.size() > kMaxCookie) value.resize(kMaxCookie);
        cookies.push_back(std::move(value));
    }
    return cookies;
}

bool HeaderCollector::Add(std::string_view raw) {
    if (raw.starts_with("HTTP/")) {
        lines_.clear();
        bytes_ = 0;
        complete_ = false;
    }
    bytes_ += raw.size();
    if (bytes_ > kMaxHeaderBytes) return false;
    // Trailers after a chunked body are not part of the response's headers.
    if (complete_) return true;
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
    if (raw.empty()) {
        complete_ = true;
        return true;
    }
    lines_.emplace_back(raw);
    return true;
}

}  // namespace pom::http
