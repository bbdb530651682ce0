#pragma once

#include <string>
#include <string_view>

namespace pom {

// The logic keeps every text as single-byte Windows-1250, exactly as the
// station sends it and the files hold it. These convert at the edges only:
// widgets, UTF-8 source literals and the upload fields.

// Windows-1250 bytes to UTF-8. Every byte maps to one character.
std::string Cp1250ToUtf8(std::string_view cp1250);

// UTF-8 to Windows-1250. Characters without a Windows-1250 byte, and bytes
// that are not valid UTF-8, become '?'.
std::string Utf8ToCp1250(std::string_view utf8);

// One Unicode character of the basic plane as UTF-8, appended to `out`.
void AppendUtf8(std::string& out, char32_t c);

// Short name for source literals: Cp("zapisał: ") gives the Windows-1250 bytes.
inline std::string Cp(std::string_view utf8) {
    return Utf8ToCp1250(utf8);
}

// File-system paths are UTF-8 bytes and stay so from where they are formed to
// where they are opened. A path becomes Windows-1250 text only where it is
// shown or stored as text (a log line, a status text, an INI value), and
// such a stored value becomes a path again through TextToPath. Characters
// without a Windows-1250 byte become '?' in the text.
inline std::string PathToText(std::string_view path) {
    return Utf8ToCp1250(path);
}
inline std::string TextToPath(std::string_view text) {
    return Cp1250ToUtf8(text);
}

}  // namespace pom
