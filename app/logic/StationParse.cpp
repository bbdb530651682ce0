#include "app/logic/StationParse.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace pom {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsNumberChar(char c) {
    return IsDigit(c) || c == '+' || c == '-' || c == 'E' || c == 'e' || c == '.';
}

// "1e+20" -> "1E20", "1e-05" -> "1E-5": the exponent form the program has
// always shown.
std::string TidyExponent(const std::string& s) {
    const std::size_t e = s.find('e');
    if (e == std::string::npos) return s;
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    std::string sign;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
        if (exp[0] == '-') sign = "-";
        exp.erase(0, 1);
    }
    const std::size_t nz = exp.find_first_not_of('0');
    exp = nz == std::string::npos ? "0" : exp.substr(nz);
    return mant + "E" + sign + exp;
}

void StripZeros(std::string& s) {
    if (s.find('.') == std::string::npos) return;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
}

}  // namespace

std::string FormatGeneral15(double value) {
    if (value == 0) value = 0;  // no "-0"
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return TidyExponent(buf);
}

std::optional<double> ParseDecimal(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) return std::nullopt;

    // Check the shape ourselves: from_chars would also take "inf", "nan" and
    // hex forms, which the station never means.
    std::size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    const std::size_t numStart = i;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;

    double v = 0;
    const char* first = t.data() + numStart;
    const char* last = t.data() + t.size();
    auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return negative ? -v : v;
}

std::optional<int> ParseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(v);
}

int W4rCount(std::string_view line) {
    const std::size_t p = line.find("W4r");
    // 1-based: the number starts at p + 4; without "W4r" p counts as 0.
    const std::size_t from = p == std::string_view::npos ? 3 : p + 4;
    if (from >= line.size()) return 0;
    return ParseInteger(line.substr(from, 255)).value_or(0);
}

std::optional<double> NumberReader::Next() {
    while (pos_ < text_.size()) {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNumberChar(text_[pos_])) ++pos_;
        run_.assign(text_.substr(start, pos_ - start));
        ++pos_;  // the separator after the run
        if (run_.empty()) continue;
        const char last = run_.back();
        if (last == '+' || last == '-' || last == 'E' || last == 'e' || last == '.')
            run_.pop_back();
        if (!run_.empty() && run_.front() == '.') run_.insert(run_.begin(), '0');
        if (!run_.empty() && (run_.front() == 'E' || run_.front() == 'e')) run_.erase(run_.begin());
        if (const std::optional<double> v = ParseDecimal(run_)) return v;
    }
    return std::nullopt;
}

std::optional<double> ExtractNumber(int n, std::string_view text) {
    NumberReader numbers(text);
    int found = 0;
    while (const std::optional<double> v = numbers.Next())
        if (++found == n) return v;
    return std::nullopt;
}

std::string FormatGeneral7(double value) {
    if (value == 0 || !std::isfinite(value)) return value == 0 ? "0" : FormatGeneral15(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6e", value);
    const int exp = std::atoi(std::strchr(buf, 'e') + 1);
    std::string s;
    if (exp >= -5 && exp < 7) {
        std::snprintf(buf, sizeof buf, "%.*f", 6 - exp, value);
        s = buf;
        StripZeros(s);
    } else {
        std::string mant(buf, std::strchr(buf, 'e'));
        StripZeros(mant);
        s = TidyExponent(mant + std::strchr(buf, 'e'));
    }
    return s == "-0" ? "0" : s;
}

std::string FormatFixed(double value, int decimals) {
    char buf[512];
    // The same digits as printf's "%.*f", at a fraction of its cost (a rebuild
    // of a long barometer log formats three values a line).
    if (decimals >= 0) {
        const auto r =
            std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
        if (r.ec == std::errc()) return std::string(buf, r.ptr);
    }
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

}  // namespace pom
