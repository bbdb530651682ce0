#pragma once

#include <string>

namespace pom {

// What a system error code means, in Polish (Windows-1250), for the messages
// users see: the errors they meet with ports and files have their own words,
// the rest are given by number.
std::string SystemErrorText(int code);

}  // namespace pom
