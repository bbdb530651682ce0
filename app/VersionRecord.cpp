// The program file's version record, found by the About box in its own ELF
// section. The numbers come from the project version at build time.
#include "dialogs/VersionRecord.h"

#include "dialogs/VersionInfo.h"

namespace pom::version_record {

[[gnu::section(".pomiarnik_version"), gnu::used]] extern const Record kProgramVersion = {
    {kMagic[0], kMagic[1], kMagic[2], kMagic[3], kMagic[4], kMagic[5], kMagic[6], kMagic[7]},
    {POM_VERSION_MAJOR, POM_VERSION_MINOR, POM_VERSION_RELEASE, POM_VERSION_BUILD},
    "pomiarnik",
};

std::string ProgramVersionNumber() {
    const auto& p = kProgramVersion.parts;
    return FormatVersion((std::uint32_t{p[0]} << 16) | p[1], (std::uint32_t{p[2]} << 16) | p[3]);
}

}  // namespace pom::version_record
