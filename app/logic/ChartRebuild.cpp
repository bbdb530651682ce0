#include "app/logic/ChartRebuild.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/logic/Readings.h"
#include "util/Cp1250.h"

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

namespace {

// Bytes no log line holds: the program writes text, so these come from a
// damaged or torn file (a block of zeros after a crash, for one).
bool HasControlBytes(std::string_view line) {
    for (const char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F) return true;
    }
    return false;
}

bool IsReadingsLine(std::string_view line) {
    if (line.size() <= kStampLength + 2) return false;
    const std::string_view m = line.substr(kStampLength, 2);
    return m == "R:" || m == "A:";
}

}  // namespace

RebuildScanner::RebuildScanner(std::string from, Deliver deliver, std::size_t batchLines)
    : from_(std::move(from)), deliver_(std::move(deliver)), batchLines_(batchLines) {}

void RebuildScanner::Line(std::string_view line) {
    Take(line, false);
}

void RebuildScanner::Take(std::string_view line, bool fromFile) {
    // The same layout as the live path: a log with readings puts the
    // barometer values after the readings' series.
    if (!readingsNoted_ && IsReadingsLine(line)) {
        readingsNoted_ = true;
        batch_.readingsSeen = true;
    }
    const RebuildLine kind = ClassifyRebuildLine(line, from_);
    if (kind == RebuildLine::Skipped) return;
    if (fromFile && HasControlBytes(line)) {
        ++badLines_;
        return;
    }
    batch_.items.push_back({static_cast<std::uint32_t>(batch_.text.size()),
                            static_cast<std::uint32_t>(line.size()), kind});
    batch_.text += line;
    if (batch_.items.size() >= batchLines_) Flush();
}

void RebuildScanner::Text(std::string_view text, std::string_view source) {
    const std::size_t badBefore = badLines_;
    std::size_t start = 0;
    const char* const s = text.data();
    const std::size_t n = text.size();
    for (std::size_t i = start; i < n; ++i) {
        const char c = s[i];
        if (c != '\r' && c != '\n') continue;
        Take(text.substr(start, i - start), true);
        if (c == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
        start = i + 1;
    }
    std::string said = Cp("odbudowa wykresu: ") + std::string(source) + ": ";
    if (start < n && ClassifyRebuildLine(text.substr(start), from_) != RebuildLine::Skipped)
        Complain(said + Cp("ostatnia linia bez końca (plik przerwany w trakcie zapisu) "
                           "pominięta"));
    if (badLines_ != badBefore)
        Complain(said + Cp("pominięte linie z niedozwolonymi bajtami: ") +
                 std::to_string(badLines_ - badBefore));
}

void RebuildScanner::Complain(std::string text) {
    batch_.complaints.push_back(std::move(text));
}

void RebuildScanner::Progress(int percent) {
    batch_.percent = percent;
}

void RebuildScanner::Flush() {
    if (batch_.Empty()) return;
    RebuildBatch ready = std::move(batch_);
    batch_ = RebuildBatch{};
    deliver_(std::move(ready));
}

RebuildPlotter::RebuildPlotter(ChartRebuildHost& host, Readings& readings)
    : host_(host), readings_(readings) {}

std::string RebuildPlotter::Begin() {
    host_.SetAllSeriesVisible(false);
    host_.ClearPlot();
    host_.AppendLog(host_.Stamp() + "Active 1<");
    host_.PausePort();
    if (host_.ValueCount() < 1) host_.SetValueCount(1);
    from_ = FormatRebuildDate(host_.RebuildStartDate());
    labelsDue_ = false;
    return from_;
}

void RebuildPlotter::Apply(const RebuildBatch& batch) {
    if (batch.readingsSeen) readings_.NoteReadingsSeen(true);
    for (const RebuildBatch::Item& item : batch.items) {
        const std::string_view line = batch.Line(item);
        switch (item.kind) {
            case RebuildLine::Skipped:
                break;
            case RebuildLine::Altitude:
                host_.AltitudeReply(std::string(line));
                break;
            case RebuildLine::Temperature:
                host_.TemperatureReply(std::string(line));
                break;
            case RebuildLine::Reading: {
                int count = 0;
                readings_.PlotReading(ReadingRecord(line.substr(kStampLength), count));
                break;
            }
            case RebuildLine::Barometer: {
                // The record the live path built when the line arrived:
                // stamp, payload and the derived values, so the chart gets
                // the same channels as it did then.
                record_.assign(line.substr(0, kStampLength));
                record_ += readings_.BarometerValues(line.substr(kStampLength + 2, kMaxPayload));
                const int values = static_cast<int>(
                    std::count(record_.begin() + kStampLength, record_.end(), ';'));
                if (readings_.ShowBarometer(record_, values, false)) labelsDue_ = true;
                break;
            }
        }
    }
    for (const std::string& complaint : batch.complaints)
        host_.AppendLog(host_.Stamp() + complaint);
    if (batch.percent >= 0)
        host_.SetStatusText("odbudowa wykresu: " + std::to_string(batch.percent) + "%");
}

std::string RebuildPlotter::Finish() {
    // The labels once, from the last barometer record.
    if (labelsDue_) readings_.RefreshBarometerLabels();
    host_.ResumePort();
    host_.SetAllSeriesVisible(true);
    host_.ShowChannels();
    std::string status = "wykresy od: " + from_;
    host_.SetStatusText(status);
    return status;
}

void RebuildPlotter::Abort() {
    host_.ResumePort();
}

std::string RebuildChartFromLog(const DataLog& log, ChartRebuildHost& host, Readings& readings) {
    RebuildPlotter plotter(host, readings);
    const std::string from = plotter.Begin();
    try {
        // Lines the rebuild itself appends (an altitude reply may log a
        // complaint) are not read again. Each line is copied into its batch
        // before anything is plotted, so an append cannot move it meanwhile.
        const std::size_t n = log.Count();
        RebuildScanner scanner(from, [&](RebuildBatch&& batch) { plotter.Apply(batch); });
        for (std::size_t i = 0; i < n; ++i) scanner.Line(log.Line(i));
        scanner.Flush();
    } catch (...) {
        // The station is not left unread, whatever went wrong.
        plotter.Abort();
        throw;
    }
    return plotter.Finish();
}

}  // namespace pom
