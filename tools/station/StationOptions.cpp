#include "tools/station/StationOptions.h"

#include <charconv>
#include <cstdio>

namespace pom::station {
namespace {

template <typename T>
bool Number(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && !text.empty();
}

bool Rate(const std::string& text, double& out) {
    return Number(text, out) && out >= 0.0 && out <= 1.0;
}

bool DateTime(const std::string& text, LocalDateTime& t) {
    int n = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &t.year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &n) != 6 ||
        n != static_cast<int>(text.size()))
        return false;
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
           t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--crlf") {
            o.crlf = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--kind") {
            if (!value(v)) return std::nullopt;
            if (v == "DS3231")
                o.kind = Kind::DS3231;
            else if (v == "BME280")
                o.kind = Kind::BME280;
            else
                ok = false;
        } else if (a == "--degree") {
            if (!value(v)) return std::nullopt;
            if (v == "utf8")
                o.degree = Degree::Utf8;
            else if (v == "byte")
                o.degree = Degree::Byte;
            else
                ok = false;
        } else if (a == "--interval") {
            ok = value(v) && Number(v, o.intervalSeconds) && o.intervalSeconds >= 1;
        } else if (a == "--backlog") {
            ok = value(v) && Number(v, o.backlog) && o.backlog >= 0;
        } else if (a == "--seed") {
            ok = value(v) && Number(v, o.seed);
        } else if (a == "--time-scale") {
            ok = value(v) && Number(v, o.timeScale) && o.timeScale > 0 && o.timeScale <= 1e6;
        } else if (a == "--noise") {
            ok = value(v) && Rate(v, o.noiseRate);
        } else if (a == "--garbage") {
            ok = value(v) && Rate(v, o.garbageRate);
        } else if (a == "--failed-sensor") {
            ok = value(v) && Number(v, o.failedSensor) && o.failedSensor >= 0;
        } else if (a == "--sensors") {
            ok = value(v) && Number(v, o.sensors) && o.sensors >= 0 && o.sensors <= 16;
        } else if (a == "--start") {
            LocalDateTime t;
            ok = value(v) && DateTime(v, t);
            if (ok) o.start = t;
        } else if (a == "--device") {
            ok = value(o.device) && !o.device.empty();
        } else if (a == "--baud") {
            ok = value(v) && Number(v, o.baud) &&
                 (o.baud == 9600 || o.baud == 19200 || o.baud == 38400 || o.baud == 57600 ||
                  o.baud == 115200);
        } else if (a == "--chunk") {
            ok = value(v) && Number(v, o.chunk) && o.chunk >= 0;
        } else if (a == "--chunk-delay") {
            ok = value(v) && Number(v, o.chunkDelayMs) && o.chunkDelayMs >= 0;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
        if (!ok) {
            if (error.empty()) error = "bad value for " + a + ": " + v;
            return std::nullopt;
        }
    }
    return o;
}

std::string UsageText() {
    return "usage: pomiarnik-station [options]\n"
           "Simulated measuring station. Without --device it creates a pseudo-terminal\n"
           "and prints its device path as the first line of standard output.\n"
           "\n"
           "  --kind DS3231|BME280   greeting kind; BME280 also sends \"O:\" lines (DS3231)\n"
           "  --interval SECONDS     measuring interval (10)\n"
           "  --backlog N            readings stored at start, at most 128 (0)\n"
           "  --seed N               seed of the values, noise and garbage (1)\n"
           "  --time-scale X         the station's time runs X times faster (1)\n"
           "  --start 'Y-M-D h:m:s'  the station clock's start (the PC's time)\n"
           "  --sensors N            DS1820 thermometers, 0 to 16 (2)\n"
           "  --failed-sensor K      value K (1-based) always reads -888\n"
           "  --crlf                 end lines with CR LF (LF)\n"
           "  --degree utf8|byte     degree sign as UTF-8 or the single byte B0 (utf8)\n"
           "  --noise RATE           chance 0..1 of a chatter line before each line (0)\n"
           "  --garbage RATE         chance 0..1 of a line of random bytes (0)\n"
           "  --chunk N              write at most N bytes at a time (whole lines)\n"
           "  --chunk-delay MS       pause between those writes (0)\n"
           "  --device PATH          talk on this device instead of a pseudo-terminal\n"
           "  --baud N               line speed on --device (57600)\n"
           "  --verbose              show the conversation on standard error\n"
           "  --help                 this text\n"
           "\n"
           "Typed \"nnR\" (the record nn back from the newest, not released) is answered\n"
           "with \"nnR:\" and the reading, so the program does not take it as a read-out.\n";
}

}  // namespace pom::station
