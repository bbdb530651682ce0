#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pom {

// The rules of the numeric edit control TFloatEdit, apart from the widget so
// that they run without a display. Texts are Windows-1250 bytes; positions
// count characters, as the edit's selection does.
class FloatEditRules {
public:
    static constexpr int kMaxDigits = 18;
    static constexpr double kDefaultMin = -99999999.9;
    static constexpr double kDefaultMax = 99999999.9;
    // ErrorMessage's value that stands for "no message".
    static constexpr std::string_view kNoText = "[No Text]";
    static constexpr std::string_view kMinAboveMax =
        "Min-Value has to be less than or equal to Max-Value !";
    static constexpr std::string_view kMaxBelowMin =
        "Max-Value has to be greater than or equal to Min-Value !";

    int Digits() const { return digits_; }
    void SetDigits(int digits);
    double Min() const { return min_; }
    double Max() const { return max_; }
    // Both return the message to show when the limits had to be corrected.
    std::optional<std::string> SetMin(double value);
    std::optional<std::string> SetMax(double value);
    const std::string& ErrorMessage() const { return errorMessage_; }
    void SetErrorMessage(std::string text) { errorMessage_ = std::move(text); }
    char Separator() const { return separator_; }

    // Value as read from the field's text: empty, "-" or the separator alone
    // are 0, so is a text that is not a number; always within [Min, Max].
    double ValueOf(std::string_view text) const;
    // A value as the field shows it: up to 15 significant digits, no
    // trailing zeros. Not clamped.
    static std::string TextOf(double value);
    // The text as a number with the control's separator, or nothing.
    std::optional<double> Parse(std::string_view text) const;

    struct Field {
        std::string text;
        int selStart = 0;
        int selLength = 0;
    };
    enum class KeyAction {
        Pass,       // not a character key of ours: the edit handles it as usual
        Reject,     // consumed, nothing inserted
        Accept,     // `key` (maybe changed from ",") goes into the edit
        Replace,    // consumed; the field becomes `field`
        Restore,    // Esc: consumed; Value := entry value, all selected
        SelectAll,  // Enter: consumed, all selected
    };
    struct KeyResult {
        KeyAction action = KeyAction::Pass;
        char key = 0;
        Field field;
    };
    // One typed character against the field as it stands. May raise Digits
    // when more decimals are typed.
    KeyResult Key(char key, const Field& field);

    // Leaving the field with `text`. Either the field is good (ok: the shown
    // text becomes `text`, the rounded number) or it is corrected to `value`
    // and the focus stays; `message` is what to show, if anything.
    struct ExitResult {
        bool ok = true;
        std::string text;
        double value = 0;
        std::optional<std::string> message;
    };
    ExitResult Exit(std::string_view text, double entryValue) const;

private:
    int digits_ = 2;
    double min_ = kDefaultMin;
    double max_ = kDefaultMax;
    std::string errorMessage_{kNoText};
    // The program works with "." whatever the locale.
    char separator_ = '.';
};

}  // namespace pom
