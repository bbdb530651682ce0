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

}  // namespace pom
