// The numeric edit control's rules: keys, value reading and writing, limits,
// and what leaving the field does.
#include "dialogs/FloatEditRules.h"

#include <gtest/gtest.h>

#include "dialogs/CalibrationResult.h"

namespace pom {
namespace {

using Action = FloatEditRules::KeyAction;
using Field = FloatEditRules::Field;

struct KeyCase {
    const char* name;
    double min;
    Field field;
    char key;
    Action action;
    Field replaced;    // for Replace
    char insertedKey;  // for Accept
    int digitsAfter;   // Digits starts at 2
};

class KeyFilter : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyFilter, DecidesAsTheControlDoes) {
    const KeyCase& c = GetParam();
    FloatEditRules rules;
    rules.SetMin(c.min);
    const FloatEditRules::KeyResult r = rules.Key(c.key, c.field);
    EXPECT_EQ(r.action, c.action);
    if (c.action == Action::Replace) {
        EXPECT_EQ(r.field.text, c.replaced.text);
        EXPECT_EQ(r.field.selStart, c.replaced.selStart);
        EXPECT_EQ(r.field.selLength, c.replaced.selLength);
    }
    if (c.action == Action::Accept) {
        EXPECT_EQ(r.key, c.insertedKey);
    }
    EXPECT_EQ(rules.Digits(), c.digitsAfter);
}

constexpr double kMin = FloatEditRules::kDefaultMin;

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyFilter,
    ::testing::Values(
        KeyCase{"MinusIntoEmptyGivesMinusZeroWithZeroSelected",
                kMin,
                {"", 0, 0},
                '-',
                Action::Replace,
                {"-0", 1, 1},
                0,
                2},
        KeyCase{
            "SecondMinusOverTheSelectedZero", kMin, {"-0", 1, 1}, '-', Action::Reject, {}, 0, 2},
        KeyCase{"SecondMinusAtTheEnd", kMin, {"-5", 2, 0}, '-', Action::Reject, {}, 0, 2},
        KeyCase{"MinusWithMinZero", 0, {"", 0, 0}, '-', Action::Reject, {}, 0, 2},
        KeyCase{"MinusWithMinPositive", 3, {"5", 0, 0}, '-', Action::Reject, {}, 0, 2},
        KeyCase{"MinusNotFirst", kMin, {"5", 1, 0}, '-', Action::Reject, {}, 0, 2},
        KeyCase{"MinusBeforeANumber", kMin, {"5", 0, 0}, '-', Action::Accept, {}, '-', 2},
        KeyCase{"MinusReplacingTheWholeText",
                kMin,
                {"-5", 0, 2},
                '-',
                Action::Replace,
                {"-0", 1, 1},
                0,
                2},
        KeyCase{"CommaBecomesDot", kMin, {"1", 1, 0}, ',', Action::Accept, {}, '.', 2},
        KeyCase{"SecondDotRefused", kMin, {"1.5", 3, 0}, '.', Action::Reject, {}, 0, 2},
        KeyCase{"SecondCommaRefused", kMin, {"1.5", 0, 0}, ',', Action::Reject, {}, 0, 2},
        KeyCase{"DotReplacingTheSelectedDot", kMin, {"1.5", 1, 1}, '.', Action::Accept, {}, '.', 2},
        KeyCase{"DotIntoEmptyGivesZeroDotZero",
                kMin,
                {"", 0, 0},
                '.',
                Action::Replace,
                {"0.0", 2, 1},
                0,
                2},
        KeyCase{"CommaOverEverythingGivesZeroDotZero",
                kMin,
                {"1.5", 0, 3},
                ',',
                Action::Replace,
                {"0.0", 2, 1},
                0,
                2},
        KeyCase{"LetterRefused", kMin, {"1", 1, 0}, 'a', Action::Reject, {}, 0, 2},
        KeyCase{"BlankRefused", kMin, {"1", 1, 0}, ' ', Action::Reject, {}, 0, 2},
        KeyCase{"PlusRefused", kMin, {"", 0, 0}, '+', Action::Reject, {}, 0, 2},
        KeyCase{"PolishLetterRefused", kMin, {"1", 1, 0}, '\xB9', Action::Reject, {}, 0, 2},
        KeyCase{"BackspacePasses", kMin, {"1", 1, 0}, 8, Action::Pass, {}, 0, 2},
        KeyCase{"EscRestores", kMin, {"1", 1, 0}, 27, Action::Restore, {}, 0, 2},
        KeyCase{"EnterSelectsAll", kMin, {"1", 1, 0}, 13, Action::SelectAll, {}, 0, 2},
        KeyCase{"ThirdDecimalRaisesDigits", kMin, {"1.23", 4, 0}, '4', Action::Accept, {}, '4', 3},
        KeyCase{"DecimalsBeforeTheCursorCountToo",
                kMin,
                {"1.2345", 2, 0},
                '9',
                Action::Accept,
                {},
                '9',
                5},
        KeyCase{
            "DigitBeforeTheDotDoesNotRaise", kMin, {"1.23", 0, 0}, '9', Action::Accept, {}, '9', 2},
        // A refused key leaves the rounding alone.
        KeyCase{"RefusedMinusAfterDecimalsKeepsDigits",
                kMin,
                {"1.23", 4, 0},
                '-',
                Action::Reject,
                {},
                0,
                2},
        KeyCase{"RefusedDotAfterDecimalsKeepsDigits",
                kMin,
                {"1.234", 5, 0},
                '.',
                Action::Reject,
                {},
                0,
                2},
        // A selection reported past the text is cut to it.
        KeyCase{"SelectionPastTheEnd", kMin, {"12", 5, 9}, '3', Action::Accept, {}, '3', 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FloatEditRules, TypingManyDecimalsRaisesDigitsUpToEighteen) {
    FloatEditRules rules;
    Field f;
    for (const char c : std::string("1.") + std::string(25, '7')) {
        const auto r = rules.Key(c, f);
        ASSERT_EQ(r.action, FloatEditRules::KeyAction::Accept) << f.text;
        f.text.insert(f.text.begin() + f.selStart, r.key);
        ++f.selStart;
    }
    EXPECT_EQ(rules.Digits(), 18);
}

TEST(FloatEditRules, DigitsAreKeptBetweenZeroAndEighteen) {
    FloatEditRules rules;
    EXPECT_EQ(rules.Digits(), 2);
    const std::pair<int, int> cases[] = {{25, 18}, {18, 18}, {0, 0}, {-3, 0}, {7, 7}};
    for (const auto& [in, out] : cases) {
        rules.SetDigits(in);
        EXPECT_EQ(rules.Digits(), out) << in;
    }
}

TEST(FloatEditRules, LimitsPastEachOtherAreCorrectedWithTheirMessage) {
    FloatEditRules rules;
    EXPECT_EQ(rules.SetMax(10), std::nullopt);
    EXPECT_EQ(rules.SetMin(20), std::string(FloatEditRules::kMinAboveMax));
    EXPECT_EQ(rules.Min(), 10);
    EXPECT_EQ(rules.SetMin(10), std::nullopt);  // the same value: no message
    EXPECT_EQ(rules.SetMin(-5), std::nullopt);
    EXPECT_EQ(rules.SetMax(-6), std::string(FloatEditRules::kMaxBelowMin));
    EXPECT_EQ(rules.Max(), -5);
    EXPECT_EQ(rules.SetMax(-5), std::nullopt);
    EXPECT_EQ(rules.Min(), -5);
}

TEST(FloatEditRules, ValueReadFromTheText) {
    FloatEditRules rules;
    const std::pair<const char*, double> cases[] = {
        {"", 0},
        {"-", 0},
        {".", 0},
        {"abc", 0},
        {"1,5", 0},
        {"2.5", 2.5},
        {"-0", 0},
        {" 7 ", 7},
        {"1e3", 1000},
        {"1e999", 0},  // out of range: not a number
        {"123456789", 99999999.9},
        {"-123456789", -99999999.9},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(rules.ValueOf(text), value) << text;
    rules.SetMin(5);
    EXPECT_EQ(rules.ValueOf(""), 5);
    EXPECT_EQ(rules.ValueOf("x"), 5);
}

TEST(FloatEditRules, ValueWrittenInGeneralFormat) {
    const std::pair<double, const char*> cases[] = {
        {1, "1"},
        {1250, "1250"},
        {0.5, "0.5"},
        {-0.0, "0"},
        {1.0 / 3, "0.333333333333333"},
        {-2.25, "-2.25"},
        {99999999.9, "99999999.9"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(FloatEditRules::TextOf(value), text);
    // Very large and very small magnitudes go to scientific notation and
    // read back as the same number.
    FloatEditRules wide;
    wide.SetMax(1e300);
    wide.SetMin(-1e300);
    for (const double v : {1e20, 2.5e-20, -7e150}) {
        const std::string t = FloatEditRules::TextOf(v);
        EXPECT_NE(t.find('E'), std::string::npos) << t;
        EXPECT_EQ(wide.ValueOf(t), v) << t;
    }
}

struct ExitCase {
    const char* text;
    int digits;
    double min;
    bool ok;
    double value;
    const char* shown;
};

TEST(FloatEditRules, LeavingTheField) {
    const ExitCase cases[] = {
        {"1.456", 2, kMin, true, 1.46, "1.46"},
        {"1.50", 2, kMin, true, 1.5, "1.5"},
        {"1.2345", 4, kMin, true, 1.2345, "1.2345"},
        {"1.2345", 2, kMin, true, 1.23, "1.23"},
        {"-0", 2, kMin, true, 0, "0"},
        {"-0.001", 2, kMin, true, 0, "0"},
        {"0.0", 2, kMin, true, 0, "0"},
        {"1e3", 2, kMin, true, 1000, "1000"},
        {"2.5", 0, kMin, true, 2, "2"},  // fixed-point rounding: half to even
        {"123456789", 2, kMin, false, 99999999.9, "99999999.9"},
        {"-123456789", 2, kMin, false, -99999999.9, "-99999999.9"},
        {"-5", 2, 0, false, 0, "0"},
        {"", 2, kMin, false, 7.25, "7.25"},  // the entry value
        {"-", 2, kMin, false, 7.25, "7.25"},
        {"1.2.3", 2, kMin, false, 7.25, "7.25"},
    };
    for (const ExitCase& c : cases) {
        FloatEditRules rules;
        rules.SetDigits(c.digits);
        rules.SetMin(c.min);
        const auto r = rules.Exit(c.text, 7.25);
        EXPECT_EQ(r.ok, c.ok) << c.text;
        EXPECT_DOUBLE_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.text, c.shown) << c.text;
        EXPECT_EQ(r.message, std::nullopt) << c.text;  // ErrorMessage is "[No Text]"
    }
}

TEST(FloatEditRules, BadInputShowsTheErrorMessageOnlyWhenOneIsSet) {
    FloatEditRules rules;
    EXPECT_EQ(rules.ErrorMessage(), FloatEditRules::kNoText);
    rules.SetErrorMessage("z\xB3y zakres");
    EXPECT_EQ(rules.Exit("x", 1).message, "z\xB3y zakres");
    EXPECT_EQ(rules.Exit("1e9", 1).message, "z\xB3y zakres");
    EXPECT_EQ(rules.Exit("1", 1).message, std::nullopt);
}

TEST(CalibrationResult, FullScaleOfOneChannel) {
    const struct {
        double multiplier, divisor;
        std::optional<std::string> caption;
    } cases[] = {
        {1, 1, "zakresMax: 1250"},     {5, 2, "zakresMax: 3125"},      {1, 2, "zakresMax:  625"},
        {1, 3, "zakresMax:  417"},     {0.4, 1000, "zakresMax: 0.50"}, {100, 1, "zakresMax: ****"},
        {-1, 1, "zakresMax: ****"},    {1, 0, std::nullopt},           {1, 0.0000009, std::nullopt},
        {1, -0.0000009, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChannelResultCaption(c.multiplier, c.divisor), c.caption)
            << c.multiplier << "/" << c.divisor;
}

}  // namespace
}  // namespace pom
