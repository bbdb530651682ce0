#include "tools/station/SimStation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace pom::station {
namespace {

constexpr std::size_t kMaxCommand = 512;
// More readings than this in one step means the caller slept; skip ahead.
constexpr int kMaxReadingsPerStep = 1000;

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string TimeText(std::int64_t calendarSeconds) {
    std::string s = FormatStamp(FromCalendarSeconds(static_cast<std::time_t>(calendarSeconds)));
    s.pop_back();  // no trailing blank in the station's lines
    return s;
}

std::string Trim(std::string_view s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits as a count no larger than `max`; false when the text does not fit.
// Typed commands can carry any number of digits.
bool Count(std::string_view digits, long long max, long long& out) {
    const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return ec == std::errc() && p == digits.data() + digits.size() && out <= max;
}

// A number the station's own parser takes: optional sign, digits, one ".".
bool Decimal(std::string_view s, double& out) {
    std::string t(s);
    if (t.empty()) return false;
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    bool digit = false, dot = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            digit = true;
        else if (t[i] == '.' && !dot)
            dot = true;
        else
            return false;
    }
    if (!digit) return false;
    out = std::strtod(t.c_str(), nullptr);
    return true;
}

bool HexId(std::string_view s) {
    return s.size() == 16 && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

const char* const kChatter[] = {
    "DS1820: konwersja 750 ms",
    "RC433: odebrano pakiet 0x5A3F",
    "DS1820: blad CRC, powtarzam odczyt",
    "RC433: brak sygnalu z czujnika 2",
    "# watchdog ok",
    "zasilanie: 5.02 V",
};

}  // namespace

SimStation::SimStation(const Options& options, LocalDateTime clockStart, std::int64_t nowMs)
    : opt_(options),
      rng_(options.seed * 0x9E3779B97F4A7C15ULL + 1),
      startMs_(nowMs),
      rtcAtSet_(static_cast<double>(ToCalendarSeconds(clockStart))),
      nextReading_(options.intervalSeconds),
      interval_(options.intervalSeconds) {
    for (int i = 0; i < opt_.sensors; ++i) {
        // DS18x20 family code 28, a serial number and a CRC-like last byte.
        char id[17];
        const auto serial = Next();
        std::snprintf(id, sizeof id, "28%012llX%02X",
                      static_cast<unsigned long long>(serial & 0xFFFFFFFFFFFFULL),
                      static_cast<unsigned>((serial >> 56) & 0xFF));
        ids_.push_back(id);
        dsWalks_.push_back({19.0 + 1.5 * i + Uniform(), 14.0, 28.0, 0.05});
    }
    order_ = ids_;
    volts_[0] = {3.30, 3.20, 3.40, 0.005};
    volts_[1] = {12.40, 11.80, 13.20, 0.02};
    radio_[0] = {9.0, -5.0, 25.0, 0.1};
    radio_[1] = {11.0, -5.0, 25.0, 0.1};
    pressure_ = {1000.0, 980.0, 1030.0, 0.1};
    airT_ = {21.0, 15.0, 27.0, 0.05};
    humidity_ = {45.0, 30.0, 70.0, 0.3};

    const std::size_t backlog = std::min<std::size_t>(opt_.backlog, kCapacity);
    const auto now = static_cast<std::int64_t>(rtcAtSet_);
    for (std::size_t i = 0; i < backlog; ++i)
        buffer_.push_back(Measure(now - static_cast<std::int64_t>(backlog - i) * interval_));
}

std::uint64_t SimStation::Next() {
    // splitmix64: the same values on every platform for a given seed.
    std::uint64_t z = (rng_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double SimStation::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double SimStation::Step(Walk& w) {
    w.value += (Uniform() * 2.0 - 1.0) * w.step;
    // Drift back inside the plausible range instead of sticking to its edge.
    if (w.value < w.low) w.value = w.low + w.step;
    if (w.value > w.high) w.value = w.high - w.step;
    return w.value;
}

double SimStation::UptimeAt(std::int64_t nowMs) const {
    return static_cast<double>(nowMs - startMs_) * opt_.timeScale / 1000.0;
}

std::int64_t SimStation::ClockSecondsAtUptime(double uptime) const {
    return static_cast<std::int64_t>(std::floor(rtcAtSet_ + (uptime - uptimeAtSet_)));
}

LocalDateTime SimStation::ClockAt(std::int64_t nowMs) const {
    return FromCalendarSeconds(static_cast<std::time_t>(ClockSecondsAtUptime(UptimeAt(nowMs))));
}

void SimStation::SetClock(std::int64_t calendarSeconds, std::int64_t nowMs) {
    uptimeAtSet_ = UptimeAt(nowMs);
    // Keep the fraction of the running second so the clock does not jump back.
    rtcAtSet_ = static_cast<double>(calendarSeconds) + (rtcAtSet_ - std::floor(rtcAtSet_));
}

SimStation::Reading SimStation::Measure(std::int64_t time) {
    Reading r{time, {}};
    // Every present sensor moves, whether or not it is in the reading order.
    std::vector<double> ds;
    for (auto& w : dsWalks_) ds.push_back(Step(w) + calibration_);
    for (const auto& id : order_) {
        const auto it = std::find(ids_.begin(), ids_.end(), id);
        r.values.push_back(it == ids_.end() ? "-888" : Fixed(ds[it - ids_.begin()], 2));
    }
    for (auto& w : volts_) r.values.push_back(Fixed(Step(w), 2));
    for (auto& w : radio_) r.values.push_back(Fixed(Step(w), 1));
    if (opt_.failedSensor >= 1 && static_cast<std::size_t>(opt_.failedSensor) <= r.values.size())
        r.values[opt_.failedSensor - 1] = "-888";
    return r;
}

std::string SimStation::ReadingLine(const std::string& prefix, const Reading& r,
                                    std::size_t waiting) const {
    std::string line = prefix + ':';
    line += TimeText(r.time);
    for (const auto& v : r.values) line += ' ' + v;
    line += " W4r:" + std::to_string(waiting);
    return line;
}

std::string SimStation::InfoLine() const {
    std::string n = std::to_string(order_.size());
    if (n.size() < 2) n += ' ';
    std::string line = "I: " + n;
    for (std::size_t i = 0; i < order_.size(); ++i) line += (i ? " | " : "") + order_[i];
    line += " | " + std::to_string(interval_) + "T";
    return line;
}

std::string SimStation::DegreeSign() const {
    return opt_.degree == Degree::Utf8 ? "\xC2\xB0" : "\xB0";
}

std::string SimStation::LabelsLine() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < order_.size(); ++i)
        names.push_back("T" + std::to_string(i + 1) + " [" + DegreeSign() + "C]");
    names.push_back("U1 [V]");
    names.push_back("U2 [V]");
    names.push_back("R1 [" + DegreeSign() + "C]");
    names.push_back("R2 [" + DegreeSign() + "C]");
    std::string line = "labels:";
    for (std::size_t i = 0; i < 4; ++i) line += (i ? ";" : "") + names[i];
    return line;
}

void SimStation::Emit(std::string& out, const std::string& line) {
    const char* eol = opt_.crlf ? "\r\n" : "\n";
    if (opt_.noiseRate > 0 && Uniform() < opt_.noiseRate) {
        out += kChatter[Next() % std::size(kChatter)];
        out += eol;
    }
    if (opt_.garbageRate > 0 && Uniform() < opt_.garbageRate) {
        const std::size_t n = 1 + Next() % 80;
        for (std::size_t i = 0; i < n; ++i) {
            auto b = static_cast<char>(Next() & 0xFF);
            if (b == '\n') b = '\0';  // one garbage line, not several
            out += b;
        }
        out += eol;
    }
    out += line;
    out += eol;
}

std::string SimStation::Advance(std::int64_t nowMs) {
    std::string out;
    const double uptime = UptimeAt(nowMs);
    int taken = 0;
    while (nextReading_ <= uptime) {
        if (++taken > kMaxReadingsPerStep) {
            nextReading_ = uptime + interval_;
            break;
        }
        Reading r = Measure(ClockSecondsAtUptime(nextReading_));
        if (buffer_.size() == kCapacity) buffer_.pop_front();  // the oldest is overwritten
        buffer_.push_back(r);
        if (opt_.kind == Kind::BME280) {
            // Before the "A:" line, so that the count it brings is the last word.
            Emit(out, "O:" + Fixed(Step(pressure_), 2) + ";" + Fixed(Step(airT_), 2) + ";" +
                          Fixed(Step(humidity_), 1));
        }
        Emit(out, ReadingLine("A", r, buffer_.size()));
        nextReading_ += interval_;
    }
    return out;
}

std::int64_t SimStation::MsUntilNextReading(std::int64_t nowMs) const {
    const double left = (nextReading_ - UptimeAt(nowMs)) * 1000.0 / opt_.timeScale;
    return left <= 0 ? 0 : static_cast<std::int64_t>(std::ceil(left));
}

std::string SimStation::Receive(std::string_view bytes, std::int64_t nowMs) {
    std::string out = Advance(nowMs);
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!command_.empty()) Command(Trim(command_), nowMs, out);
            command_.clear();
        } else if (command_.size() < kMaxCommand) {
            command_ += c;
        }
    }
    return out;
}

void SimStation::Command(const std::string& cmd, std::int64_t nowMs, std::string& out) {
    if (cmd.empty()) return;
    const char last = cmd.back();
    const std::string_view head = std::string_view(cmd).substr(0, cmd.size() - 1);
    double x = 0;

    if (cmd == "i") {
        Emit(out, std::string("Stacja pomiarowa Borsk: DS1820 RC433 ") +
                      (opt_.kind == Kind::BME280 ? "BME280 " : "") + "DS3231 v2.3");
        Emit(out, LabelsLine());
    } else if (cmd == "I") {
        Emit(out, InfoLine());
    } else if (cmd == "R") {
        if (buffer_.empty()) {
            Emit(out, "bufor pusty");
        } else {
            const Reading r = buffer_.front();
            buffer_.pop_front();
            Emit(out, ReadingLine("R", r, buffer_.size()));
        }
    } else if (last == 'R' && AllDigits(head)) {
        long long back = 0;
        if (!Count(head, static_cast<long long>(kCapacity), back) ||
            static_cast<std::size_t>(back) >= buffer_.size())
            Emit(out, "brak rekordu " + std::string(head));
        else
            // A peek is marked with what was typed ("2R:"), so the program
            // does not take the record again as a read-out reading.
            Emit(out, ReadingLine(cmd, buffer_[buffer_.size() - 1 - static_cast<std::size_t>(back)],
                                  buffer_.size()));
    } else if (cmd == "F") {
        buffer_.clear();
        Emit(out, "bufor wyczyszczony");
    } else if (last == 'T' && AllDigits(head)) {
        long long n = 0;
        if (!Count(head, std::numeric_limits<int>::max(), n) || n < 1) {
            Emit(out, "zly parametr: " + cmd);
        } else {
            interval_ = static_cast<int>(n);
            nextReading_ = UptimeAt(nowMs) + interval_;
            Emit(out, "pomiar co ile sekund T: " + std::to_string(interval_));
        }
    } else if (last == 'S' && AllDigits(head)) {
        long long n = 0;
        if (!Count(head, std::numeric_limits<int>::max(), n)) {
            Emit(out, "zly parametr: " + cmd);
        } else {
            avgCount_ = static_cast<int>(n);
            Emit(out, "pomiarow ile do sredniej: " + std::to_string(avgCount_));
        }
    } else if (last == 'C' && Decimal(head, x)) {
        calibration_ = x;
        Emit(out, "wspolczynnik kalibracyjny, dodaj: " + Fixed(calibration_, 2));
    } else if (last == 'H' && Decimal(head, x)) {
        altitude_ = x;
        Emit(out, "wysokosc n.p.m. [m]: " + Fixed(altitude_, 1));
    } else if (last == 't' && Decimal(head, x)) {
        meanTemperature_ = x;
        Emit(out, "temperatura [" + DegreeSign() + "C]: " + Fixed(meanTemperature_, 1));
    } else if (cmd.starts_with("setDate")) {
        LocalDateTime d;
        int n = 0;
        const std::string arg = Trim(std::string_view(cmd).substr(7));
        if (std::sscanf(arg.c_str(), "%4d-%2d-%2d%n", &d.year, &d.month, &d.day, &n) == 3 &&
            n == static_cast<int>(arg.size()) && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
            d.day <= 31) {
            const LocalDateTime now = ClockAt(nowMs);
            d.hour = now.hour;
            d.minute = now.minute;
            d.second = now.second;
            SetClock(ToCalendarSeconds(d), nowMs);
            Emit(out, "RTC ustawiony na " + TimeText(ClockSecondsAtUptime(UptimeAt(nowMs))));
        } else {
            Emit(out, "setDate: zly format daty >" + arg + "<");
        }
    } else if (cmd.starts_with("setTime")) {
        LocalDateTime t = ClockAt(nowMs);
        int n = 0;
        const std::string arg = Trim(std::string_view(cmd).substr(7));
        if (std::sscanf(arg.c_str(), "%2d:%2d:%2d%n", &t.hour, &t.minute, &t.second, &n) == 3 &&
            n == static_cast<int>(arg.size()) && t.hour >= 0 && t.hour < 24 && t.minute >= 0 &&
            t.minute < 60 && t.second >= 0 && t.second < 60) {
            SetClock(ToCalendarSeconds(t), nowMs);
            Emit(out, "RTC ustawiony na " + TimeText(ClockSecondsAtUptime(UptimeAt(nowMs))));
        } else {
            Emit(out, "setTime: zly format czasu >" + arg + "<");
        }
    } else if (cmd.starts_with("setROMs")) {
        std::string hex;
        for (char c : std::string_view(cmd).substr(7))
            if (c != ' ') hex += c;
        std::vector<std::string> order;
        bool ok = hex.size() % 16 == 0;
        for (std::size_t i = 0; ok && i < hex.size(); i += 16) {
            ok = HexId(std::string_view(hex).substr(i, 16));
            order.push_back(Upper(hex.substr(i, 16)));
        }
        if (ok && !order.empty()) {
            order_ = order;
            Emit(out, "EEPROM: zapisano " + std::to_string(order_.size()) + " ROM");
        } else {
            Emit(out, "setROMs: zle identyfikatory, po 16 znakow hex");
        }
    } else if (cmd.starts_with("setRC433")) {
        Emit(out, "RC433: " + cmd.substr(8));
    } else {
        Emit(out, "nieznane polecenie >" + cmd + "<");
    }
}

}  // namespace pom::station
