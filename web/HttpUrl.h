#pragma once

#include <string>
#include <string_view>

namespace pom::http {

// An address split into what the request is made of. Texts are UTF-8, as
// they go on the wire.
struct CrackedUrl {
    std::string scheme;  // lower case
    std::string host;
    int port = 0;       // the scheme's own when the address names none (80 if unknown)
    std::string path;   // empty when the address has none
    std::string extra;  // the query with its "?", empty when there is none
};

// Longest host, path or query accepted, in bytes.
inline constexpr std::size_t kMaxUrlPart = 2048;

// Splits a UTF-8 address that holds "://". Returns 0 and fills `out`, or an
// error number with its text in `message`.
int CrackUrl(std::string_view utf8, CrackedUrl& out, std::string& message);

// Encrypted when the address says https or the port is 443 (whatever it says).
bool UsesTls(const CrackedUrl& url);

// The object name (path and query) made safe for a request line: blanks,
// control bytes, bytes above 127 and the characters an address may not hold
// become %XX; an existing %XX stays.
std::string EscapeObjectName(std::string_view utf8);

}  // namespace pom::http
