#include <cstdlib>
#include <fstream>

#include "tools/recorder/RecorderDbAddress.h"
#include "tools/recorder/RecorderMariaStore.h"
#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {

std::unique_ptr<Store> OpenStore(const std::string& db, const std::string& passwordFile) {
    if (!IsAddress(db)) return std::make_unique<SqliteStore>(db);
    std::string error;
    auto address = ParseDbAddress(db, error);
    if (!address) throw StoreError(error);
    if (!address->hasPassword && !passwordFile.empty()) {
        std::ifstream in(passwordFile);
        std::string line;
        if (!in || !std::getline(in, line))
            throw StoreError(passwordFile + ": cannot read the database password");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        address->password = line;
        address->hasPassword = true;
    } else if (const char* env = std::getenv("POMIARNIK_DB_PASSWORD");
               !address->hasPassword && env != nullptr) {
        address->password = env;
        address->hasPassword = true;
    }
    return std::make_unique<MariaStore>(std::move(*address));
}

}  // namespace pom::recorder
