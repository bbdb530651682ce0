#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tools/recorder/RecorderStore.h"

namespace pom::recorder {

struct CopySummary {
    std::int64_t tables = 0;
    std::int64_t copied = 0;         // rows new in the target
    std::int64_t present = 0;        // rows the target had already; kept as they were
    std::int64_t legendsCopied = 0;  // legends texts the target lacked
    std::int64_t legendsKept = 0;    // the target's own text differs and stays
};

// Copies every readings table of `from` into `to`, oldest rows first, in
// batches that share the target's transactions, then each table's legends.
// A row whose time the target holds already stays as it is there (the same
// rule as a post sent twice), so a second run adds nothing and a run cut
// short is finished by the next. `progress` gets a line at each table and
// every `progressRows` rows. On a refused write: nullopt and the reason in
// `error`; what was copied before stays.
std::optional<CopySummary> CopyStore(Store& from, Store& to,
                                     const std::function<void(const std::string&)>& progress,
                                     std::string& error, std::int64_t progressRows = 100000);

// pomiarnik-recorder --copy FROM TO: opens both stores (SQLite files or
// database addresses, as --db takes them; a password missing from an address
// read from `passwordFile` or the environment), copies, prints the summary.
// The exit code: 0 done, 1 a store could not be opened or written.
int RunCopy(const std::string& from, const std::string& to, const std::string& passwordFile = {});

}  // namespace pom::recorder
