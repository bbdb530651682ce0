#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/Clock.h"

namespace pom::station {

enum class Kind { DS3231, BME280 };
enum class Degree { Utf8, Byte };

// How the simulated station behaves; set from the command line.
struct Options {
    Kind kind = Kind::DS3231;
    int intervalSeconds = 10;
    int backlog = 0;  // readings stored before the first line is sent
    std::uint64_t seed = 1;
    double timeScale = 1.0;  // the station's time runs this many times faster
    bool crlf = false;
    Degree degree = Degree::Utf8;
    double noiseRate = 0.0;              // chance of a chatter line before each line
    double garbageRate = 0.0;            // chance of a line of random bytes before each line
    int failedSensor = 0;                // 1-based value that always reads -888; 0: none
    int sensors = 2;                     // DS1820 thermometers
    std::optional<LocalDateTime> start;  // the clock's first reading; default: the PC's time
    // Where to talk: empty for a new pseudo-terminal.
    std::string device;
    int baud = 57600;
    // Slow writes: at most `chunk` bytes per write, `chunkDelayMs` apart; 0: whole lines.
    int chunk = 0;
    int chunkDelayMs = 0;
    bool verbose = false;  // the conversation on stderr
    bool help = false;
};

// Reads the arguments after the program name. On a mistake: nullopt and the
// reason in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string UsageText();

}  // namespace pom::station
