#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/recorder/RecorderDbAddress.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {

std::unique_ptr<Store> OpenStore(const std::string& db, const std::string& passwordFile) {
    if (!IsAddress(db)) return std::make_unique<SqliteStore>(db);
    std::string error;
    auto address = ParseDbAddress(db, error);
    if (!address) throw StoreError(error);
    (void)passwordFile;
    throw StoreError(ShownAddress(*address) + ": this build has no MariaDB store");
}

}  // namespace pom::recorder
