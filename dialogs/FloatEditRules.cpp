#include "dialogs/FloatEditRules.h"

#include <algorithm>

#include "app/logic/StationParse.h"

namespace pom {

void FloatEditRules::SetDigits(int digits) {
    digits_ = std::clamp(digits, 0, kMaxDigits);
}

std::optional<std::string> FloatEditRules::SetMin(double value) {
    if (value != min_ && value > max_) {
        min_ = max_;
        return std::string(kMinAboveMax);
    }
    min_ = value;
    return std::nullopt;
}

std::optional<std::string> FloatEditRules::SetMax(double value) {
    if (value != max_ && value < min_) {
        max_ = min_;
        return std::string(kMaxBelowMin);
    }
    max_ = value;
    return std::nullopt;
}

std::optional<double> FloatEditRules::Parse(std::string_view text) const {
    // The separator is "." in this program, which is what the parser takes.
    return ParseDecimal(text);
}

double FloatEditRules::ValueOf(std::string_view text) const {
    if (text.empty() || text == "-" || (text.size() == 1 && text[0] == separator_)) text = "0";
    const double v = Parse(text).value_or(0.0);
    if (v < min_) return min_;
    if (v > max_) return max_;
    return v;
}

std::string FloatEditRules::TextOf(double value) {
    return FormatGeneral15(value);
}

FloatEditRules::KeyResult FloatEditRules::Key(char key, const Field& field) {
    if (key == ',') key = separator_;
    KeyResult r;
    r.key = key;
    if (key == 27) {
        r.action = KeyAction::Restore;
        return r;
    }
    if (key == 13) {
        r.action = KeyAction::SelectAll;
        return r;
    }
    if (static_cast<unsigned char>(key) < 32) return r;  // Pass

    const int size = static_cast<int>(field.text.size());
    const int start = std::clamp(field.selStart, 0, size);
    const int length = std::clamp(field.selLength, 0, size - start);
    std::string remaining = field.text;
    remaining.erase(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    std::string candidate = remaining;
    candidate.insert(candidate.begin() + start, key);

    r.action = KeyAction::Reject;
    const bool digit = key >= '0' && key <= '9';
    if (!digit && key != separator_ && key != '-') return r;
    if (key == separator_ && remaining.find(separator_) != std::string::npos) return r;
    if (key == '-' && (remaining.find('-') != std::string::npos || min_ >= 0)) return r;
    if (key == '-' && start != 0) return r;

    if (candidate == "-") {
        r.action = KeyAction::Replace;
        r.field = {"-0", 1, 1};
        return r;
    }
    if (candidate.size() == 1 && candidate[0] == separator_) {
        r.action = KeyAction::Replace;
        r.field = {std::string("0") + separator_ + "0", 2, 1};
        return r;
    }
    // More decimals typed than the rounding keeps: keep them on exit. Only a
    // key that goes in counts, so a refused "-" after the decimals does not.
    if (const std::size_t sep = candidate.find(separator_); sep != std::string::npos) {
        const int decimals = static_cast<int>(candidate.size() - sep - 1);
        if (decimals > digits_) SetDigits(decimals);
    }
    r.action = KeyAction::Accept;
    return r;
}

FloatEditRules::ExitResult FloatEditRules::Exit(std::string_view text, double entryValue) const {
    ExitResult r;
    const std::optional<double> n = Parse(text);
    if (!n || *n < min_ || *n > max_) {
        r.ok = false;
        r.value = !n ? entryValue : (*n < min_ ? min_ : max_);
        r.text = TextOf(r.value);
        if (errorMessage_ != kNoText) r.message = errorMessage_;
        return r;
    }
    const std::string fixed = FormatFixed(*n, digits_);
    r.value = Parse(fixed).value_or(*n);
    r.text = TextOf(r.value);
    return r;
}

}  // namespace pom
