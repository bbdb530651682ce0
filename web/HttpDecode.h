#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pom::http {

// Sizes of the transfer and the limits that keep a broken or hostile server
// from exhausting memory. The recording scripts answer with a few lines; the
// limits leave ample room above that.
inline constexpr std::size_t kReadChunk = 32768;       // one body read
inline constexpr std::size_t kInflateChunk = 16384;    // one inflate step
inline constexpr std::size_t kMaxBody = 16u << 20;     // raw body kept in memory
inline constexpr std::size_t kMaxDecoded = 16u << 20;  // what a gzip body may inflate to
inline constexpr std::size_t kMaxHeaderBytes = 65536;  // one response's header block
inline constexpr std::size_t kMaxLines = 100000;       // lines taken from one body
inline constexpr std::size_t kMaxCookie = 10000;       // one Set-Cookie value

// The body as sent when it is not the one gzip form we unpack; the inflated
// bytes when it is (first 8 bytes 1F 8B 08 00 00 00 00 00: gzip member with
// no flags and no time, else a zlib stream from byte 8); empty when neither
// inflates, or when the result would pass maxOut (*tooLarge is then set).
std::string DecodeBody(std::string_view body, std::size_t maxOut = kMaxDecoded,
                       bool* tooLarge = nullptr);

// True when the body starts as the one gzip form DecodeBody unpacks.
bool IsGzipMember(std::string_view body);

// True when the header text names a charset BodyToText converts.
bool NeedsConversion(std::string_view headerText);

// The body as Windows-1250 text, by the charset the header text names:
// "charset=utf-8" (exactly so) decodes UTF-8, "charset=utf-16" decodes
// UTF-16 little-endian up to the first zero unit, anything else is taken
// byte for byte.
std::string BodyToText(std::string_view body, std::string_view headerText);

// UTF-16 little-endian up to the first zero unit, as Windows-1250 ('?' for
// what it cannot hold; an odd last byte is ignored).
std::string Utf16LeToCp1250(std::string_view bytes);

// Lines of the text: CR LF, a lone CR or a lone LF ends a line, a zero byte
// ends the text, a final line end adds no empty line. At most maxLines lines;
// *cut is set when more were there.
std::vector<std::string> SplitLines(std::string_view text, std::size_t maxLines = kMaxLines,
                                    bool* cut = nullptr);

// The lines joined with CR LF after each.
std::string JoinLines(const std::vector<std::string>& lines);

// Value of a response header: the name lower-cased and trimmed, one trailing
// ':' dropped; the first line whose lower-cased text begins with name + ": "
// gives the text after its first ": ". Empty when none does.
std::string HeaderValue(const std::vector<std::string>& headers, std::string_view name);

// Expected body length: the Content-Length header as a number, 0 or absent
// (or not a number) giving 1; while that is at most 1, a Custom-Content-Length
// header that is neither empty nor "0" and reads as an integer gives its value.
std::int64_t ContentLengthOf(const std::vector<std::string>& headers);

// The status number of a response's status line ("HTTP/1.1 500 ..." gives
// 500); 0 when the first line is no status line.
int StatusOf(const std::vector<std::string>& headers);

// The values of the Set-Cookie headers, in order, each cut to kMaxCookie bytes.
std::vector<std::string> CookiesOf(const std::vector<std::string>& headers);

// Collects one response's header lines as the transfer delivers them (each
// with its line end). A new status line starts a new response (interim
// 1xx answers and followed redirects); the empty line completes it.
class HeaderCollector {
public:
    // False when the block has grown past kMaxHeaderBytes.
    bool Add(std::string_view raw);
    // True once the empty line of the current response has arrived.
    bool Complete() const { return complete_; }
    // The lines of the current response, status line first, without line ends.
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    std::size_t bytes_ = 0;
    bool complete_ = false;
};

}  // namespace pom::http
