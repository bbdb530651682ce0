#include "util/IniFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "util/FileUtil.h"
#include "util/SystemError.h"

namespace pom {

namespace {

constexpr std::size_t kMaxValue = 2047;  // what a 2048-byte buffer returns
constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

unsigned char FoldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    // Windows-1250 capitals and their small letters.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A:
        case 0x8C:
        case 0x8D:
        case 0x8E:
        case 0x8F:
            return static_cast<unsigned char>(c + 16);
        case 0xA3:
            return 0xB3;
        case 0xA5:
            return 0xB9;
        case 0xAA:
            return 0xBA;
        case 0xAF:
            return 0xBF;
        case 0xBC:
            return 0xBE;
        default:
            return c;
    }
}

enum class LineKind { kOther, kSection, kKey };

struct Parsed {
    LineKind kind = LineKind::kOther;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // trimmed, keys only
};

Parsed ParseLine(std::string_view line, bool first) {
    if (first && line.starts_with(kBom)) line.remove_prefix(kBom.size());
    const std::string_view t = Trim(line);
    Parsed p;
    if (t.empty() || t.front() == ';' || t.front() == '#') return p;
    if (t.front() == '[') {
        const auto close = t.rfind(']');
        if (close != std::string_view::npos) {
            p.kind = LineKind::kSection;
            p.name = Trim(t.substr(1, close - 1));
            return p;
        }
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return p;
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = LineKind::kKey;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

std::string NoLineBreaks(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c == '\r' || c == '\n') c = ' ';
    return r;
}

bool ParseDigits(std::string_view s, int base, std::uint64_t limit, std::uint64_t& out) {
    if (s.empty()) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (v > limit) return false;
    }
    out = v;
    return true;
}

IniDocument LoadOrThrow(const std::string& path) {
    // A missing file is an empty one; a file we cannot read must not be
    // replaced by one holding only the new value.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return IniDocument{};
    int code = 0;
    if (auto bytes = ReadWholeFile(path, nullptr, &code)) return IniDocument::Parse(*bytes);
    throw IniWriteError(path, SystemErrorText(code));
}

void Store(const std::string& path, const IniDocument& doc) {
    try {
        WriteFileAtomic(path, doc.Serialize());
    } catch (const FileError& e) {
        throw IniWriteError(path, SystemErrorText(e.code()));
    }
}

}  // namespace

bool IniNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) !=
            FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    bool eolSeen = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') continue;
        doc.lines_.emplace_back(bytes.substr(start, i - start));
        const bool crlf = c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        if (!eolSeen) {
            // A file that used LF keeps LF; CR LF and a lone CR both give CR LF.
            doc.eol_ = c == '\n' ? "\n" : "\r\n";
            eolSeen = true;
        }
        if (crlf) ++i;
        start = i + 1;
    }
    if (start < bytes.size()) doc.lines_.emplace_back(bytes.substr(start));
    return doc;
}

std::optional<IniDocument::Found> IniDocument::FindSection(std::string_view section) const {
    const std::string_view want = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Parsed p = ParseLine(lines_[i], i == 0);
        if (p.kind != LineKind::kSection || !IniNamesEqual(p.name, want)) continue;
        Found f{i, i + 1};
        while (f.end < lines_.size() && ParseLine(lines_[f.end], false).kind != LineKind::kSection)
            ++f.end;
        return f;
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::GetRaw(std::string_view section,
                                               std::string_view key) const {
    const auto sec = FindSection(section);
    if (!sec) return std::nullopt;
    const std::string_view want = Trim(key);
    for (std::size_t i = sec->header + 1; i < sec->end; ++i) {
        const Parsed p = ParseLine(lines_[i], false);
        if (p.kind == LineKind::kKey && IniNamesEqual(p.name, want)) return std::string(p.value);
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    auto raw = GetRaw(section, key);
    if (!raw) return raw;
    std::string_view v = *raw;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v.substr(0, kMaxValue));
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view def) const {
    if (auto v = Get(section, key)) return *v;
    while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
    return std::string(def.substr(0, kMaxValue));
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string name = NoLineBreaks(Trim(key));
    std::string val = NoLineBreaks(value);
    // A value the reading rules would change (surrounding blanks trimmed, a
    // pair of surrounding quotes stripped) gets one more pair of quotes, so it
    // reads back exactly as written, here and on Windows alike.
    const bool blanks = !val.empty() && (IsBlank(val.front()) || IsBlank(val.back()));
    const bool quoted =
        val.size() >= 2 && (val.front() == '"' || val.front() == '\'') && val.back() == val.front();
    if (blanks || quoted) val = "\"" + val + "\"";
    const auto sec = FindSection(section);
    if (!sec) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + NoLineBreaks(Trim(section)) + "]");
        lines_.push_back(name + "=" + val);
        return;
    }
    std::size_t lastFilled = sec->header;
    for (std::size_t i = sec->header + 1; i < sec->end; ++i) {
        const Parsed p = ParseLine(lines_[i], false);
        if (p.kind == LineKind::kKey && IniNamesEqual(p.name, name)) {
            // Keep the key as the file spells it.
            lines_[i] = std::string(p.name) + "=" + val;
            return;
        }
        if (!Trim(lines_[i]).empty()) lastFilled = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), name + "=" + val);
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const auto& l : lines_) {
        out += l;
        out += eol_;
    }
    return out;
}

int ParseIniInteger(std::string_view text, int def) {
    std::string_view s = text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        std::uint64_t v;
        if (!ParseDigits(s.substr(2), 16, 0xFFFFFFFFu, v)) return def;
        return static_cast<int>(static_cast<std::uint32_t>(v));
    }
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    std::uint64_t v;
    if (!s.empty() && s[0] == '$') {
        if (!ParseDigits(s.substr(1), 16, 0xFFFFFFFFu, v)) return def;
        std::uint32_t u = static_cast<std::uint32_t>(v);
        if (negative) u = 0u - u;
        return static_cast<int>(u);
    }
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    if (!ParseDigits(s, 10, limit, v)) return def;
    return negative ? static_cast<int>(-static_cast<long long>(v)) : static_cast<int>(v);
}

IniDocument IniLoad(const std::string& path) {
    if (auto bytes = ReadWholeFile(path)) return IniDocument::Parse(*bytes);
    return IniDocument{};
}

std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view def) {
    return IniLoad(path).GetString(section, key, def);
}

void IniWriteString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value) {
    IniDocument doc = LoadOrThrow(path);
    doc.Set(section, key, value);
    Store(path, doc);
}

void IniWriteSection(const std::string& path, std::string_view section,
                     const std::vector<IniEntry>& entries) {
    IniDocument doc = LoadOrThrow(path);
    for (const auto& e : entries) doc.Set(section, e.key, e.value);
    Store(path, doc);
}

}  // namespace pom
