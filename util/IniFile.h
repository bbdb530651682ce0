#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/Cp1250.h"

namespace pom {

// A settings write the system refused (read-only file or folder, full disk).
class IniWriteError : public std::runtime_error {
public:
    // `reason`: why the system refused (Windows-1250), added after the path.
    explicit IniWriteError(const std::string& path, const std::string& reason = {})
        : std::runtime_error("Unable to write to " + PathToText(path) +
                             (reason.empty() ? "" : ": " + reason)),
          path_(path) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A private-profile (INI) file held as its raw lines, so that a write changes
// only the one line it is about and every other line (comments, garbage,
// duplicate sections) stays as it was. Section and key names are compared
// without regard to case; the first matching section and key win.
class IniDocument {
public:
    static IniDocument Parse(std::string_view bytes);

    // The value as GetPrivateProfileStringA gives it: trimmed, one pair of
    // matching surrounding quotes removed, at most 2047 characters. Nothing
    // when the section or key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The trimmed value exactly as the file holds it, quotes and all (for
    // files that are not private-profile files, such as desktop entries).
    std::optional<std::string> GetRaw(std::string_view section, std::string_view key) const;
    // The value, or the default with its trailing blanks removed (as Windows does).
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view def) const;

    // Replaces the key's value, or adds the key at the end of its section, or
    // adds the section at the end of the file. Line breaks inside the value
    // would split it into lines of their own, so they become blanks. A value
    // that reading would trim or unquote is stored within one more pair of
    // double quotes, so that it reads back unchanged.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The lines, each ended by the file's line end (CR LF unless the file used LF).
    std::string Serialize() const;

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    struct Found {
        std::size_t header = 0;  // index of the section line
        std::size_t end = 0;     // one past the section's last line
    };
    std::optional<Found> FindSection(std::string_view section) const;

    std::vector<std::string> lines_;
    std::string eol_ = "\r\n";
};

// Case-insensitive comparison of names, for ASCII and Windows-1250 letters.
bool IniNamesEqual(std::string_view a, std::string_view b);

// Integer text as the settings store reads it: "0x1F" (longer than 2
// characters), "$1F" or decimal, with an optional sign; anything else gives
// the default. Hexadecimal wraps to 32 bits, as the Windows colour values do.
int ParseIniInteger(std::string_view text, int def);

// One value from the file at path; a missing or unreadable file gives the default.
std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view def);

// Writes one value and makes it durable before returning: the whole file is
// replaced atomically. Missing files and sections are created (the folder must
// exist). Throws IniWriteError when the system refuses.
void IniWriteString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value);

// Several values in one replacement of the file (window placement).
struct IniEntry {
    std::string key;
    std::string value;
};
void IniWriteSection(const std::string& path, std::string_view section,
                     const std::vector<IniEntry>& entries);

// Loads the file for several reads in one open; a missing file is empty.
IniDocument IniLoad(const std::string& path);

}  // namespace pom
