#pragma once

#include <array>
#include <string>

#include "util/Clock.h"

namespace pom {

// One averaged record as the readings logic closes it, for every place that
// takes records (the upload queue, the MQTT publisher).
struct ClosedRecord {
    enum class Kind { Readings, Barometer };
    static constexpr int kSlots = 11;
    static constexpr double kMissing = -888;

    Kind kind = Kind::Readings;
    // The station's time of the record (readings) or the PC's (barometer).
    LocalDateTime time;
    // Channel values sonda0..sonda10; kMissing where the channel had none.
    std::array<double, kSlots> values{};
    // Channels the record carries (at most kSlots).
    int count = 0;
    // The upload entry exactly as the upload queue gets it.
    std::string text;
};

// A place that takes each closed record. A sink owns its durability and
// reports its own failures; it should not throw (if it does, the readings
// logic only reports it, and the other sinks still get the record).
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void RecordClosed(const ClosedRecord& record) = 0;
};

}  // namespace pom
