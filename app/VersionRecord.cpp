// The program file's version record, found by the About box in its own ELF
// section. The numbers come from the project version at build time.
#include "dialogs/VersionRecord.h"

namespace pom::version_record {

[[gnu::section(".pomiarnik_version"), gnu::used]] extern const Record kProgramVersion = {
    {kMagic[0], kMagic[1], kMagic[2], kMagic[3], kMagic[4], kMagic[5], kMagic[6], kMagic[7]},
    {POM_VERSION_MAJOR, POM_VERSION_MINOR, POM_VERSION_RELEASE, POM_VERSION_BUILD},
    "pomiarnik",
};

}  // namespace pom::version_record
