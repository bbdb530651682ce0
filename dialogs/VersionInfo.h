#pragma once

#include <cstdint>
#include <string>

namespace pom {

// "1.36" for 1.36.0.0: parts from the right omitted while zero, the minor
// part with at least two digits; empty for 0.0.0.0. `ms` holds major and
// minor, `ls` release and build, 16 bits each.
std::string FormatVersion(std::uint32_t ms, std::uint32_t ls);

// "Version " + the number + " " + the internal name, from the version
// section of the ELF program file at `path`; without a name only the
// version, "??" for a file without a usable record. Never throws: a short,
// damaged or hostile file gives "??".
std::string VersionText(const std::string& path);

}  // namespace pom
