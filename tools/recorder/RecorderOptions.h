#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pom::recorder {

// How the recording service runs; set from the command line.
struct Options {
    std::string host = "127.0.0.1";
    int port = 8080;     // 0: any free port
    std::string dbPath;  // empty: DefaultDbPath(); or a mariadb:// address
    std::string dbPasswordFile;
    std::string key;     // empty: posts need no key
    int threads = 16;    // request workers
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. On a mistake: nullopt and the
// reason in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// $XDG_DATA_HOME/pomiarnik/pomiary.sqlite, ~/.local/share when unset or relative.
std::string DefaultDbPath();

std::string UsageText();

}  // namespace pom::recorder
