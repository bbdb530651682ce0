#include "app/logic/ChartRebuild.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/logic/Readings.h"

namespace pom {
namespace {

constexpr std::string_view kAltitudeText = " n.p.m.";

// The first entry is the altitude reply's text, the rest keep a line off.
constexpr std::array<std::string_view, 16> kKeywords = {
    kAltitudeText,
    "Start",
    "? for help",
    "?4help",
    "= = = ",
    "labels:",
    " ile do ",
    "co ile sek",
    "wspolczynnik kalib",
    "temperatura",
    "problem",
    "error",
    "Active",
    " z komunikatami ",
    "ostatni zapisany log",
    "send command",
};

// For each byte, the keywords that start with it (bit k for keyword k): a
// log of a million lines is looked through in one pass per line instead of
// sixteen searches.
constexpr std::array<std::uint32_t, 256> MakeFirstBytes() {
    std::array<std::uint32_t, 256> t{};
    for (std::size_t k = 0; k < kKeywords.size(); ++k)
        t[static_cast<unsigned char>(kKeywords[k][0])] |= 1u << k;
    return t;
}
constexpr std::array<std::uint32_t, 256> kFirstBytes = MakeFirstBytes();

enum Found : unsigned { kNone = 0, kAltitude = 1, kFilter = 2 };

// Which keywords the line holds; an altitude reply wins over the filter.
unsigned ScanKeywords(std::string_view line) {
    unsigned found = kNone;
    const char* const s = line.data();
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t m = kFirstBytes[static_cast<unsigned char>(s[i])];
        while (m != 0) {
            const int k = std::countr_zero(m);
            m &= m - 1;
            const std::string_view kw = kKeywords[static_cast<std::size_t>(k)];
            if (n - i < kw.size() || s[i + 1] != kw[1] ||
                std::memcmp(s + i, kw.data(), kw.size()) != 0)
                continue;
            if (k == 0) return kAltitude;
            found |= kFilter;
        }
    }
    return found;
}

bool HasTemperatureText(std::string_view line) {
    return line.find("temperatura [") != std::string_view::npos;
}

bool HasAltitudeText(std::string_view line) {
    // Looked for by its rarer letter: most lines hold many blanks.
    for (std::size_t p = line.find(kAltitudeText.substr(1)); p != std::string_view::npos;
         p = line.find(kAltitudeText.substr(1), p + 1))
        if (p > 0 && line[p - 1] == ' ') return true;
    return false;
}

constexpr std::size_t kStampLength = 20;  // "yyyy-mm-dd hh:mm:ss "
constexpr std::size_t kMaxPayload = 255;

}  // namespace

bool HasRebuildFilterText(std::string_view line) {
    return (ScanKeywords(line) & kFilter) != 0;
}

RebuildLine ClassifyRebuildLine(std::string_view line, std::string_view from) {
    // Only what the live path plots: "R:" readings and "O:" barometer lines.
    // "A:" and "I: " lines start with the station's date and sensor numbers,
    // and status lines (the port-open line, for one) carry numbers that are
    // no readings. Other lines only matter when they are an altitude reply.
    const std::string_view message = line.size() > kStampLength ? line.substr(kStampLength) : "";
    const bool reading = message.starts_with("R:");
    if (!reading && !message.starts_with("O:")) {
        if (HasAltitudeText(line)) return RebuildLine::Altitude;
        return HasTemperatureText(line) ? RebuildLine::Temperature : RebuildLine::Skipped;
    }
    const unsigned found = ScanKeywords(line);
    if (found & kAltitude) return RebuildLine::Altitude;
    if (found & kFilter) return RebuildLine::Skipped;
    if (!ParseDateTime(line.substr(0, 19))) return RebuildLine::Skipped;
    if (line.substr(0, 10) < from) return RebuildLine::Skipped;
    return reading ? RebuildLine::Reading : RebuildLine::Barometer;
}

std::string FormatRebuildDate(const LocalDateTime& date) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", date.year, date.month, date.day);
    return buf;
}

std::string RebuildChartFromLog(const DataLog& log, ChartRebuildHost& host, Readings& readings) {
    host.SetAllSeriesVisible(false);
    host.ClearPlot();
    host.AppendLog(host.Stamp() + "Active 1<");
    host.PausePort();
    std::string from;
    try {
        // Lines the rebuild itself appends (an altitude reply may log a
        // complaint) are not read again.
        const std::size_t n = log.Count();
        if (host.ValueCount() < 1) host.SetValueCount(1);
        from = FormatRebuildDate(host.RebuildStartDate());
        // The same layout as the live path: a log with readings puts the
        // barometer values after the readings' series.
        if (!readings.ReadingsSeen()) {
            for (std::size_t i = 0; i < n; ++i) {
                const std::string_view line = log.Line(i);
                if (line.size() > kStampLength + 2 && (line.substr(kStampLength, 2) == "R:" ||
                                                       line.substr(kStampLength, 2) == "A:")) {
                    readings.NoteReadingsSeen(false);
                    break;
                }
            }
        }
        bool labelsDue = false;
        std::string record;
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& line = log.Line(i);
            switch (ClassifyRebuildLine(line, from)) {
                case RebuildLine::Skipped:
                    break;
                case RebuildLine::Altitude: {
                    // A copy: the reply parser may append to the log, which
                    // can move the line it is reading.
                    const std::string copy = line;
                    host.AltitudeReply(copy);
                    break;
                }
                case RebuildLine::Temperature: {
                    const std::string copy = line;
                    host.TemperatureReply(copy);
                    break;
                }
                case RebuildLine::Reading: {
                    int count = 0;
                    readings.PlotReading(
                        ReadingRecord(std::string_view(line).substr(kStampLength), count));
                    break;
                }
                case RebuildLine::Barometer: {
                    // The record the live path built when the line arrived:
                    // stamp, payload and the derived values, so the chart gets
                    // the same channels as it did then.
                    record.assign(line, 0, kStampLength);
                    record += readings.BarometerValues(
                        std::string_view(line).substr(kStampLength + 2, kMaxPayload));
                    const int values = static_cast<int>(
                        std::count(record.begin() + kStampLength, record.end(), ';'));
                    if (readings.ShowBarometer(record, values, false)) labelsDue = true;
                    break;
                }
            }
        }
        // The labels once, from the last barometer record.
        if (labelsDue) readings.RefreshBarometerLabels();
    } catch (...) {
        // The station is not left unread, whatever went wrong.
        host.ResumePort();
        throw;
    }
    host.ResumePort();
    host.SetAllSeriesVisible(true);
    host.ShowChannels();
    std::string status = "wykresy od: " + from;
    host.SetStatusText(status);
    return status;
}

}  // namespace pom
