#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pom {

// Number conversions for the station's texts. The station always writes "."
// as the decimal point, whatever the PC's locale; a "," makes a text not a
// number.

// Optional sign, digits with an optional "." and an optional exponent,
// blanks allowed before and after. Out of range of a double: not a number.
std::optional<double> ParseDecimal(std::string_view text);

// Optional sign and decimal digits, blanks allowed only before them; anything
// after the digits (a trailing blank too) makes it not a number. Values
// outside the 32-bit range are not numbers either.
std::optional<int> ParseInteger(std::string_view text);

// The count of readings still stored in the station, as an "A:" or "R:" line
// reports it: the integer from the fourth character after the first "W4r"
// ("W4r", one separator, the number) to the end of the line, looking at no
// more than 255 characters. Without "W4r" the text from the fourth character
// of the line is taken. 0 when that text is not an integer.
int W4rCount(std::string_view line);

// A double in general format with up to 15 significant digits, as the log
// lines show numbers: -99, 0.5, 1E20.
std::string FormatGeneral15(double value);

// The n-th number (1-based) in a text, as the station's records are read:
// runs of "+-0123456789Ee." are candidates, any other character separates
// them, and the character right after a run is skipped. A run loses one
// trailing sign, "E" or "."; a leading "." gets a "0" and a leading "E" is
// dropped; what then converts as a whole is a number. So "-888" is a number
// and the token "W4r" yields 4. Nothing when there are fewer numbers.
std::optional<double> ExtractNumber(int n, std::string_view text);

// The numbers of a text one after the other, as ExtractNumber counts them:
// a record's values are read in one pass instead of one pass per value.
class NumberReader {
public:
    explicit NumberReader(std::string_view text) : text_(text) {}
    // The next number; nothing once the text has no more.
    std::optional<double> Next();

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::string run_;
};

// A double in general format with up to 7 significant digits, as upload
// records carry values: 21.5, 22.25, -888, 0.0001234; magnitudes below
// 0.00001 or from 10 000 000 on in exponent form (1.234568E7).
std::string FormatGeneral7(double value);

// Fixed notation with exactly `decimals` decimals, "." as the decimal point:
// FormatFixed(1.25, 2) = "1.25", FormatFixed(-0.5, 2) = "-0.50".
std::string FormatFixed(double value, int decimals);

}  // namespace pom
