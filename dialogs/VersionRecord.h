#pragma once

#include <cstdint>
#include <string>

// The program file's version record: a section of its own in the ELF file,
// written at build time, read back by VersionText. Little-endian on disk, as
// the program runs on little-endian machines only.
namespace pom::version_record {

inline constexpr const char* kSectionName = ".pomiarnik_version";
inline constexpr char kMagic[8] = {'P', 'O', 'M', 'V', 'E', 'R', '\0', '\1'};
inline constexpr int kNameSize = 48;

struct Record {
    char magic[8];
    // major, minor, release, build
    std::uint16_t parts[4];
    // NUL-padded; the name may fill all of it.
    char internalName[kNameSize];
};
static_assert(sizeof(Record) == 8 + 8 + kNameSize);

// The running program's own record and its number as the About box shows it
// ("0.01" for 0.1.0.0), so that --version and the About box agree. Defined
// in the program only, not in the libraries.
extern const Record kProgramVersion;
std::string ProgramVersionNumber();

}  // namespace pom::version_record
