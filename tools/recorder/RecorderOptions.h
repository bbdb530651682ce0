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
    std::string key;   // empty: posts need no key; --key or --key-file
    int threads = 16;  // request workers
    // --copy FROM TO: copy one store's readings and legends into another, then exit.
    std::string copyFrom;
    std::string copyTo;
    bool help = false;
    bool version = false;
};

// The key kept in a file (so that it does not show in the process list):
// the whole file less its trailing line end. nullopt and the reason in
// `error` when it cannot be read, is empty or is too long.
std::optional<std::string> ReadKeyFile(const std::string& path, std::string& error);

// Reads the arguments after the program name. On a mistake: nullopt and the
// reason in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// $XDG_DATA_HOME/pomiarnik/pomiary.sqlite, ~/.local/share when unset or relative.
std::string DefaultDbPath();

std::string UsageText();

}  // namespace pom::recorder
