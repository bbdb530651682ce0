#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "tools/station/StationOptions.h"
#include "util/Clock.h"

namespace pom::station {

// The station's side of the serial conversation, without any device: bytes
// from the PC go in, the bytes the station sends come out. Time is passed in
// as milliseconds of a monotonic clock, so tests can drive it.
class SimStation {
public:
    static constexpr std::size_t kCapacity = 128;

    // `clockStart`: what the station's clock shows at `nowMs`.
    SimStation(const Options& options, LocalDateTime clockStart, std::int64_t nowMs);

    // Bytes from the PC. Lets time pass to `nowMs` first; returns what the
    // station sends (readings taken meanwhile, then the replies).
    std::string Receive(std::string_view bytes, std::int64_t nowMs);
    // Lets time pass; returns the lines of the readings taken meanwhile.
    std::string Advance(std::int64_t nowMs);
    // Milliseconds from `nowMs` until the next reading is due (0 if overdue).
    std::int64_t MsUntilNextReading(std::int64_t nowMs) const;

    LocalDateTime ClockAt(std::int64_t nowMs) const;
    std::size_t Stored() const { return buffer_.size(); }
    int Interval() const { return interval_; }
    int AvgCount() const { return avgCount_; }
    double Calibration() const { return calibration_; }
    double Altitude() const { return altitude_; }
    double MeanTemperature() const { return meanTemperature_; }
    // The DS1820 identifiers in reading order.
    const std::vector<std::string>& SensorOrder() const { return order_; }

private:
    struct Reading {
        std::int64_t time;  // calendar seconds of the station's clock
        std::vector<std::string> values;
    };
    struct Walk {
        double value, low, high, step;
    };

    double UptimeAt(std::int64_t nowMs) const;
    std::int64_t ClockSecondsAtUptime(double uptime) const;
    void SetClock(std::int64_t calendarSeconds, std::int64_t nowMs);
    Reading Measure(std::int64_t time);
    double Step(Walk& w);
    double Uniform();
    std::uint64_t Next();

    void Emit(std::string& out, const std::string& line);
    void Command(const std::string& cmd, std::int64_t nowMs, std::string& out);
    std::string ReadingLine(const std::string& prefix, const Reading& r, std::size_t waiting) const;
    std::string InfoLine() const;
    std::string LabelsLine() const;
    std::string DegreeSign() const;

    Options opt_;
    std::uint64_t rng_;
    std::int64_t startMs_;
    double rtcAtSet_;  // calendar seconds shown when the clock was last set
    double uptimeAtSet_ = 0;
    double nextReading_;  // uptime seconds of the next reading
    int interval_;
    int avgCount_ = 5;
    double calibration_ = 0.0;
    double altitude_ = 295.0;
    double meanTemperature_ = 18.0;

    std::vector<std::string> ids_;    // the sensors present
    std::vector<Walk> dsWalks_;       // one per present sensor
    std::vector<std::string> order_;  // reading order as stored in EEPROM
    Walk volts_[2], radio_[2], pressure_, airT_, humidity_;
    std::deque<Reading> buffer_;
    std::string command_;
};

}  // namespace pom::station
