#include "tools/recorder/RecorderInput.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "util/Clock.h"

namespace pom::recorder {
namespace {

bool Digits(std::string_view s, std::size_t from, std::size_t n) {
    for (std::size_t i = from; i < from + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Int(std::string_view s, std::size_t from, std::size_t n) {
    int v = 0;
    for (std::size_t i = from; i < from + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// A day exists when it survives the round trip through the calendar count.
bool RealDay(int y, int m, int d) {
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    const LocalDateTime t{y, m, d, 12, 0, 0, 0};
    const LocalDateTime back = FromCalendarSeconds(ToCalendarSeconds(t));
    return back.year == y && back.month == m && back.day == d;
}

std::string FormatDay(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year % 10000, t.month, t.day);
    return buf;
}

std::string ShiftDay(std::string_view day, int days) {
    const LocalDateTime t{Int(day, 0, 4), Int(day, 5, 2), Int(day, 8, 2), 12, 0, 0, 0};
    return FormatDay(AddSeconds(t, 86400LL * days));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> UrlDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%') {
            if (i + 2 >= s.size()) return std::nullopt;
            const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

const Field* Find(const std::vector<Field>& fields, std::string_view name) {
    for (const auto& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

// Sonda0..Sonda10 as written by the uploader: no leading zeros.
int ChannelOf(std::string_view name) {
    if (!name.starts_with("Sonda") || name.size() < 6 || name.size() > 7) return -1;
    const std::string_view n = name.substr(5);
    if (n.size() == 2 && n[0] == '0') return -1;
    int v = 0;
    auto [p, ec] = std::from_chars(n.data(), n.data() + n.size(), v);
    if (ec != std::errc() || p != n.data() + n.size() || v < 0 || v >= kChannels) return -1;
    return v;
}

// The checks every post goes through, in an order that tells a client
// without the key nothing about the rest. Empty when all passed.
std::optional<Refusal> CheckCommon(const std::vector<Field>& fields, std::string_view key,
                                   bool allowChannels) {
    if (fields.size() > kMaxFields)
        return Refusal{400, "za dużo pól formularza (najwyżej " + std::to_string(kMaxFields) + ")"};
    if (!key.empty()) {
        const Field* k = Find(fields, "key");
        if (k == nullptr || !KeyMatches(key, k->value))
            return Refusal{403, "brak pola key lub zły klucz"};
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& name = fields[i].name;
        const bool known = name == "Miasto" || name == "Data" || name == "key" ||
                           (allowChannels && ChannelOf(name) >= 0);
        if (!known)
            return Refusal{400, allowChannels
                                    ? "nieznane pole formularza (dozwolone: Miasto, Data, "
                                      "Sonda0..Sonda10, key)"
                                    : "nieznane pole formularza (dozwolone: Miasto, Data, key)"};
        for (std::size_t j = 0; j < i; ++j)
            if (fields[j].name == name) return Refusal{400, "pole " + name + " powtórzone"};
        if (!IsUtf8(fields[i].value))
            return Refusal{400, "pole " + name + " nie jest tekstem UTF-8"};
    }
    const Field* miasto = Find(fields, "Miasto");
    if (miasto == nullptr) return Refusal{400, "brak pola Miasto (nazwa tabeli)"};
    return std::nullopt;
}

const std::string kBadTable =
    "niedozwolona nazwa tabeli (Miasto): tylko litery A-Z a-z, cyfry i _, od 1 do 64 znaków, "
    "nie sqlite_";

}  // namespace

bool IsTableName(std::string_view name) {
    if (name.empty() || name.size() > kMaxTableName) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    // SQLite keeps names starting with "sqlite_" (any case) for itself.
    if (name.size() >= 7) {
        std::string head(name.substr(0, 7));
        for (char& c : head)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (head == "sqlite_") return false;
    }
    return true;
}

bool IsDay(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    if (!Digits(t, 0, 4) || !Digits(t, 5, 2) || !Digits(t, 8, 2)) return false;
    return RealDay(Int(t, 0, 4), Int(t, 5, 2), Int(t, 8, 2));
}

bool IsStamp(std::string_view t) {
    if (t.size() != 19 || t[10] != ' ' || t[13] != ':' || t[16] != ':') return false;
    if (!IsDay(t.substr(0, 10))) return false;
    if (!Digits(t, 11, 2) || !Digits(t, 14, 2) || !Digits(t, 17, 2)) return false;
    return Int(t, 11, 2) < 24 && Int(t, 14, 2) < 60 && Int(t, 17, 2) < 60;
}

std::string NextDay(std::string_view day) {
    return ShiftDay(day, 1);
}

std::string PreviousDay(std::string_view day) {
    return ShiftDay(day, -1);
}

std::optional<double> ParseNumber(std::string_view s) {
    if (s.empty() || s.size() > kMaxNumberChars) return std::nullopt;
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
        if (exp == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    // from_chars takes no "+".
    const std::string_view body = s[0] == '+' ? s.substr(1) : s;
    double v = 0;
    auto [p, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
    if (ec != std::errc() || p != body.data() + body.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == 0) return false;  // a zero byte would cut the text short in C APIs
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned cp = 0;
        unsigned min = 0;
        if ((c & 0xE0) == 0xC0) {
            n = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

bool KeyMatches(std::string_view expected, std::string_view given) {
    // Walk the whole of the given text whatever the expected length, so the
    // time tells neither the length nor the first difference.
    if (expected.empty()) return false;
    unsigned diff = expected.size() == given.size() ? 0u : 1u;
    for (std::size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(expected[i % expected.size()]) ^
                static_cast<unsigned char>(given[i]);
    return diff == 0;
}

std::optional<std::vector<Field>> ParseUrlEncoded(std::string_view body) {
    std::vector<Field> fields;
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view pair = body.substr(start, end - start);
        if (!pair.empty()) {
            const auto eq = pair.find('=');
            const auto name = UrlDecode(pair.substr(0, eq));
            const auto value = eq == std::string_view::npos ? std::optional<std::string>("")
                                                            : UrlDecode(pair.substr(eq + 1));
            if (!name || !value || name->empty()) return std::nullopt;
            fields.push_back({*name, *value});
            if (fields.size() > kMaxFields * 4) return fields;  // refused later by count
        }
        start = end + 1;
    }
    return fields;
}

std::variant<Reading, Refusal> CheckReading(const std::vector<Field>& fields,
                                            std::string_view key) {
    if (auto r = CheckCommon(fields, key, true)) return *r;
    Reading reading;
    reading.table = Find(fields, "Miasto")->value;
    if (!IsTableName(reading.table)) return Refusal{400, kBadTable};
    const Field* data = Find(fields, "Data");
    if (data == nullptr) return Refusal{400, "brak pola Data (data i godzina odczytu)"};
    if (!IsStamp(data->value))
        return Refusal{400, "pole Data nie jest datą i godziną w postaci RRRR-MM-DD GG:MM:SS"};
    reading.stamp = data->value;
    for (const auto& f : fields) {
        const int ch = ChannelOf(f.name);
        if (ch < 0 || f.value.empty()) continue;  // an empty value stays NULL
        const auto v = ParseNumber(f.value);
        if (!v)
            return Refusal{
                400, "wartość pola " + f.name + " nie jest liczbą (cyfry, \".\" jako przecinek)"};
        reading.values[static_cast<std::size_t>(ch)] = *v;
    }
    return reading;
}

std::variant<Legends, Refusal> CheckLegends(const std::vector<Field>& fields,
                                            std::string_view key) {
    if (auto r = CheckCommon(fields, key, false)) return *r;
    // The uploader names the legends after the readings table + "opisy".
    std::string table = Find(fields, "Miasto")->value;
    if (table.size() > 5 && table.ends_with("opisy")) table.resize(table.size() - 5);
    if (!IsTableName(table)) return Refusal{400, kBadTable};
    const Field* data = Find(fields, "Data");
    if (data == nullptr) return Refusal{400, "brak pola Data (tekst opisów)"};
    if (data->value.size() > kMaxLegendsBytes)
        return Refusal{413, "tekst opisów za długi (najwyżej " + std::to_string(kMaxLegendsBytes) +
                                " bajtów)"};
    return Legends{table, data->value};
}

}  // namespace pom::recorder
