#pragma once

#include <string>
#include <string_view>

#include "util/Clock.h"

namespace pom {

// Formats a date and time with the file-name mask language:
//   y/yy two-digit year, yyy.. four digits; m/mm month (1 or 2 digits),
//   mmm/mmmm short/long month name; d/dd day, ddd/dddd short/long day name,
//   ddddd the short date (yyyy-mm-dd); h/hh hour; n/nn minute; s/ss second;
//   z/zzz milliseconds. An "m" run right after an hour token means minutes
//   ("hh_mm"). Letters are case-insensitive. Text in double or single quotes
//   is copied as it is; ":" gives the time separator ":" and "/" the date
//   separator "-"; every other character is copied. Names are Polish, in
//   Windows-1250.
std::string FormatDateTimeMask(std::string_view mask, const LocalDateTime& t);

// One piece of a mask as the formatter reads it: a field letter ('Y', 'M',
// 'D', 'H', 'N', 'S', 'Z') with the length of its run, or text to copy
// (field 0): a quoted run, or one character with ":" kept and "/" made "-".
struct MaskPiece {
    char field = 0;
    std::size_t count = 0;
    std::string_view text;
};

// Calls visit(const MaskPiece&) for each piece of the mask, in order, so
// that the formatter and whoever reads its names back agree on the tokens.
template <class Visit>
void ForEachMaskPiece(std::string_view mask, Visit&& visit) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    char lastField = 0;
    std::size_t i = 0;
    while (i < mask.size()) {
        const char c = mask[i];
        if (c == '"' || c == '\'') {
            const auto close = mask.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? mask.size() : close;
            visit(MaskPiece{0, 0, mask.substr(i + 1, end - i - 1)});
            i = close == std::string_view::npos ? mask.size() : close + 1;
            continue;
        }
        char field = upper(c);
        if (field < 'A' || field > 'Z') {
            visit(MaskPiece{0, 0, c == '/' ? std::string_view("-") : mask.substr(i, 1)});
            ++i;
            continue;
        }
        if (field == 'M' && lastField == 'H') field = 'N';
        lastField = field;
        // The run of this letter, either case.
        std::size_t count = 1;
        while (i + count < mask.size() && upper(mask[i + count]) == upper(c)) ++count;
        if (field != 'Y' && field != 'M' && field != 'D' && field != 'H' && field != 'N' &&
            field != 'S' && field != 'Z') {
            visit(MaskPiece{0, 0, mask.substr(i, 1)});
            ++i;
            continue;
        }
        visit(MaskPiece{field, count, {}});
        i += count;
    }
}

}  // namespace pom
