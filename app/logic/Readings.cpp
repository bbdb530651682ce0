#include "app/logic/Readings.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "app/logic/StationParse.h"
#include "plot/logic/PlotModel.h"
#include "util/Clock.h"
#include "util/Cp1250.h"
#include "util/Numbers.h"

namespace pom {
namespace {

constexpr std::size_t kMaxText = 255;

// Characters from the 1-based position `from`, at most `count` of them.
std::string_view Mid(std::string_view s, std::size_t from, std::size_t count = std::string::npos) {
    if (from < 1 || from > s.size()) return {};
    return s.substr(from - 1, count);
}

// Leading and trailing blanks and control characters off.
std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

std::string ReplaceAll(std::string_view s, std::string_view what, std::string_view with) {
    std::string out;
    std::size_t from = 0;
    while (true) {
        const std::size_t p = s.find(what, from);
        if (p == std::string_view::npos) break;
        out.append(s.substr(from, p - from)).append(with);
        from = p + what.size();
    }
    out.append(s.substr(from));
    return out;
}

// The record's time (characters 1 to 19).
std::optional<LocalDateTime> RecordTime(std::string_view record) {
    if (record.size() < 19) return std::nullopt;
    return ParseDateTime(record.substr(0, 19));
}

std::string_view RecordValues(std::string_view record) {
    return Mid(record, 20, kMaxText);
}

// The station pressure: the payload's first field, -1 when it is not a
// number or there is no ";" after it.
double StationPressure(std::string_view payload) {
    const std::size_t semi = payload.find(';');
    if (semi == std::string_view::npos) return -1.0;
    return ParseDecimal(payload.substr(0, semi)).value_or(-1.0);
}

// A derived value in one decimal; -888 when it is not a finite number (an
// absurd altitude or mean temperature), never "inf" or "nan" text, which
// would shift the channels of the record.
std::string Derived(double v) {
    return std::isfinite(v) ? FormatFixed(v, 1) : "-888";
}

// The same for a label, which shows one decimal also for the mark.
double FiniteOrMissing(double v) {
    return std::isfinite(v) ? v : Readings::kMissing;
}

std::time_t EpochOfDateTimeType() {
    LocalDateTime t;
    t.year = 1899;
    t.month = 12;
    t.day = 30;
    return ToCalendarSeconds(t);
}

}  // namespace

Readings::Readings(ReadingsHost& host, StationValues& values) : host_(host), values_(values) {
    for (Period* p : {&readings_, &barometer_}) {
        p->avg.fill(kMissing);
        p->lastEmitTime = EpochOfDateTimeType();
    }
}

std::string ReadingRecord(std::string_view line, int& count) {
    std::string record(Mid(line, 3, 19));
    record += ';';
    std::string_view rest = Trim(Mid(line, 23));
    count = 0;
    // Every blank-separated token but the last (the "W4r" count) is a value.
    for (std::size_t blank; (blank = rest.find(' ')) != std::string_view::npos;) {
        record.append(rest.substr(0, blank)).push_back(';');
        rest = Trim(rest.substr(blank + 1));
        ++count;
    }
    return record;
}

int Readings::HandleReading(const std::string& line) {
    int count = 0;
    const std::string record = ReadingRecord(line, count);
    host_.SetValueCount(count);
    NoteReadingsSeen(true);
    if (line.starts_with("R:")) {
        Accumulate(readings_, record, count);
        PlotReading(record);
    }
    return W4rCount(line);
}

void Readings::HandleSensorInfo(const std::string& line) {
    host_.SetValueCount(ParseInteger(Trim(Mid(line, 4, 2))).value_or(0) + 1);
    const std::size_t bar = line.rfind('|');
    // p is the 1-based position of the last bar; the identifiers end two
    // characters before it.
    const std::size_t p = bar == std::string::npos ? 0 : bar + 1;
    std::string_view ids;
    if (p >= 8) ids = Mid(line, 6, p - 1 - 6);
    host_.SetMacText("setROMs \r\n" + ReplaceAll(ids, " | ", "\r\n"));
    const std::string_view tail = Mid(line, p + 1, kMaxText);
    const std::size_t t = tail.find('T');
    values_.measureInterval =
        t == std::string_view::npos ? 10 : ParseInteger(Trim(tail.substr(0, t))).value_or(10);
}

int Readings::HandleBarometer(const std::string& line) {
    host_.RestoreDecimalSeparator();
    const std::string payload(Mid(line, 3, kMaxText));
    if (payload.find(';') == std::string::npos) host_.AppendLog("ERROR: 210816 >" + payload);
    if (StationPressure(payload) < 0) host_.AppendLog("ERROR: 210817 >" + payload);
    std::string record = BarometerValues(payload);
    const int count = static_cast<int>(std::count(record.begin(), record.end(), ';'));
    host_.SetValueCount(count);
    record.insert(0, host_.Stamp());
    Accumulate(barometer_, record, count);
    ShowBarometer(record, count, true);
    return 0;
}

std::string Readings::BarometerValues(std::string_view payload) const {
    const double P = StationPressure(payload);
    std::string values;
    const std::size_t semi = payload.find(';');
    if (semi != std::string_view::npos && !ParseDecimal(payload.substr(0, semi))) {
        // An unreadable pressure field would let the number reader take the
        // next field (a temperature) as the pressure.
        values = "-888";
        values.append(payload.substr(semi));
    } else {
        values.assign(payload);
    }
    if (P < 0) {
        // Missing or unreadable: nothing to derive from it.
        values += ";-888;-888;-888;-999";
        return values;
    }
    const double mmHg = P * 760 / 1013.25;
    const double k = PressureRatioT(values_.altitude, values_.meanTemperature);
    values += ';';
    values += Derived(P / k);
    values += ';';
    values += Derived(mmHg);
    values += ';';
    values += Derived(mmHg / k);
    values += ";-999";
    return values;
}

void Readings::AccumulateRecord(const std::string& record) {
    Accumulate(readings_, record, host_.ValueCount());
}

void Readings::Accumulate(Period& period, const std::string& record, int valueCount) {
    const std::optional<LocalDateTime> when = RecordTime(record);
    if (!when) return;
    const std::time_t t = ToCalendarSeconds(*when);
    NumberReader numbers(RecordValues(record));
    ++period.avgReadings;
    ClosedRecord closed;
    closed.kind =
        &period == &barometer_ ? ClosedRecord::Kind::Barometer : ClosedRecord::Kind::Readings;
    for (int i = 1; i <= valueCount; ++i) {
        const std::optional<double> v = numbers.Next();
        if (!v) return;
        AccumulateValue(period, i, valueCount, *v, t, closed);
    }
    if (closed.text.size() > 20) {
        CloseRecord(std::move(closed));
        period.avgReadings = 0;
    }
}

void Readings::AccumulateValue(Period& period, int i, int valueCount, double v, std::time_t t,
                               ClosedRecord& out) {
    if (i <= kSlots) {
        double& slot = period.avg[static_cast<std::size_t>(i - 1)];
        if (period.avgReadings == 1)
            slot = v;
        else if (v > kMissing && slot > kMissing)
            slot = (slot + v) / 2;  // running halving: the newest weighs as much as all before
    }
    if (i < valueCount) return;
    // A record from before the period's start (a station clock set back, or
    // one glitch of it into the future) closes the period: otherwise every
    // reading until the clock caught up would fold into one average.
    const bool past = static_cast<double>(t - period.lastEmitTime) > host_.PostInterval();
    if (!past && t >= period.lastEmitTime) return;
    out.time = FromCalendarSeconds(t);
    out.text = FormatStamp(out.time);
    out.count = std::min(valueCount, kSlots);
    out.values.fill(kMissing);
    for (int s = 0; s < out.count; ++s) {
        double& slot = period.avg[static_cast<std::size_t>(s)];
        const bool known = std::fabs(slot - kMissing) > 1;
        out.text += known ? FormatGeneral7(slot) : "-888";
        out.text += "; ";
        out.values[static_cast<std::size_t>(s)] = known ? slot : kMissing;
        slot = kMissing;
    }
    period.lastEmitTime = t;
}

void Readings::CloseRecord(ClosedRecord record) {
    if (record.text == lastQueued_) return;
    lastQueued_ = record.text;
    std::replace(record.text.begin(), record.text.end(), ',', '.');
    for (RecordSink* sink : sinks_) {
        try {
            sink->RecordClosed(record);
        } catch (const std::exception& e) {
            // One sink's failure must neither stop the readings nor the
            // other sinks.
            host_.SetStatusText(std::string("Error 261208 ") + e.what());
        }
    }
}

void Readings::PlotReading(const std::string& record) {
    const std::optional<LocalDateTime> when = RecordTime(record);
    if (!when) return;
    NumberReader numbers(RecordValues(record));
    std::array<double, 4> v{};
    for (int k = 0; k < 4; ++k) {
        const std::optional<double> x = numbers.Next();
        if (!x) return;
        v[static_cast<std::size_t>(k)] = *x;
    }
    const double t = ToDayNumber(*when);
    for (int k = 0; k < 4; ++k)
        if (v[static_cast<std::size_t>(k)] != kMissing)
            host_.AddPoint(k, k, t, v[static_cast<std::size_t>(k)]);
}

void Readings::ShowBarometer(const std::string& record) {
    ShowBarometer(record, host_.ValueCount(), true);
}

void Readings::NoteReadingsSeen(bool movePlotted) {
    if (readingsSeen_) return;
    readingsSeen_ = true;
    if (movePlotted && barometerPlottedLow_)
        host_.ShiftSeries(0, kSeries, kBarometerSeriesWithReadings);
    barometerPlottedLow_ = false;
}

bool Readings::ShowBarometer(std::string_view record, int valueCount, bool labels) {
    const std::optional<LocalDateTime> when = RecordTime(record);
    if (!when) return false;
    const double t = ToDayNumber(*when);
    NumberReader numbers(RecordValues(record));
    const int first = BarometerFirstSeries();
    for (int i = 1; i <= valueCount; ++i) {
        const std::optional<double> v = numbers.Next();
        if (!v) return false;
        const int series = first + i - 1;
        if (*v != kMissing && series < kSeries) {
            host_.AddPoint(series, series, t, *v);
            if (first == 0) barometerPlottedLow_ = true;
        }
        if (i == 1) lastPressure_ = *v;
    }
    if (labels) RefreshBarometerLabels();
    return true;
}

void Readings::RefreshBarometerLabels() {
    BarometerLabels l;
    l.labBaro = " " + FormatFixed(lastPressure_, 1) + " hPa";
    l.labBaroB = " ( " + FormatFixed(values_.altitude, 1) + " m n.p.m. )";
    l.labBaroNPMB = " ( poziom morza ) ";
    // Without a pressure there is nothing to reduce; a reduction that is not
    // a finite number shows the mark, as the records carry it.
    const bool known = lastPressure_ >= 0;
    const double npm =
        known ? FiniteOrMissing(lastPressure_ / PressureRatio(values_.altitude)) : kMissing;
    const double npm2 =
        known ? FiniteOrMissing(lastPressure_ /
                                PressureRatioT(values_.altitude, values_.meanTemperature))
              : kMissing;
    l.labBaroNPM = FormatFixed(npm, 1) + " hPa";
    l.labBaroNPM2B = "( 0m, " + FormatFixed(values_.meanTemperature, 0) + Cp("°C) ");
    l.labBaroNPM2 = FormatFixed(npm2, 1) + " hPa";
    host_.ShowBarometerLabels(l);
}

}  // namespace pom
