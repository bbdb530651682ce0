#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/DataLog.h"
#include "util/Clock.h"

namespace pom {

class Readings;

// What the chart rebuild needs from the window. Texts are Windows-1250.
class ChartRebuildHost {
public:
    virtual ~ChartRebuildHost() = default;
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // One line into the data log.
    virtual void AppendLog(std::string line) = 0;
    // Values per reading; below 0 while unknown.
    virtual int ValueCount() const = 0;
    virtual void SetValueCount(int n) = 0;
    // SeriesVisible of series 0 .. SeriesCount - 1.
    virtual void SetAllSeriesVisible(bool visible) = 0;
    // Empties the chart (its SeriesCount becomes 0).
    virtual void ClearPlot() = 0;
    // The serial port is stopped while the log is read, so that no line
    // arrives meanwhile, and started again when done.
    virtual void PausePort() = 0;
    virtual void ResumePort() = 0;
    // The start date of the rebuild (DTPickerOd); only the date counts.
    virtual LocalDateTime RebuildStartDate() const = 0;
    // A logged line holding " n.p.m.": the station's altitude reply sets the
    // altitude the barometer values are reduced with.
    virtual void AltitudeReply(const std::string& line) = 0;
    // A logged line holding "temperatura [": the station's mean temperature
    // reply sets the temperature the barometer values are reduced with.
    virtual void TemperatureReply(const std::string& line) = 0;
    // Series 0 to 3 visible as the channel check boxes say, then one paint.
    virtual void ShowChannels() = 0;
    // The status bar's simple text.
    virtual void SetStatusText(const std::string& text) = 0;
};

// How one log line takes part in a rebuild.
enum class RebuildLine {
    Skipped,      // banner, status, command echo, "A:", "I: ", unreadable or too old
    Altitude,     // the station's altitude reply (any date)
    Temperature,  // the station's mean temperature reply (any date)
    Reading,      // a logged "R:" reading: plotted at the station's time
    Barometer,    // a logged "O:" line: plotted at the PC's time of arrival
};

// The texts that keep a line off the chart: the station's banner and
// replies and the program's own status lines.
bool HasRebuildFilterText(std::string_view line);

// Which kind of line it is for a rebuild from `from` ("YYYY-MM-DD").
RebuildLine ClassifyRebuildLine(std::string_view line, std::string_view from);

// "YYYY-MM-DD" of a date.
std::string FormatRebuildDate(const LocalDateTime& date);

// The lines of one stretch of a rebuild that take part, with the complaints
// met on the way. Filled where the lines are read (any thread), plotted on the
// main thread.
struct RebuildBatch {
    struct Item {
        std::uint32_t offset;
        std::uint32_t size;
        RebuildLine kind;
    };
    std::string text;  // the lines back to back
    std::vector<Item> items;
    std::vector<std::string> complaints;  // for the data log, without stamp
    bool readingsSeen = false;            // an "R:" or "A:" line came before or in it
    int percent = -1;                     // progress to show, when not below 0

    std::string_view Line(const Item& item) const {
        return std::string_view(text).substr(item.offset, item.size);
    }
    bool Empty() const {
        return items.empty() && complaints.empty() && !readingsSeen && percent < 0;
    }
};

// Sorts the lines of a rebuild and hands the ones that take part on in
// batches. Touches nothing but its own state, so it can run off the main
// thread.
class RebuildScanner {
public:
    using Deliver = std::function<void(RebuildBatch&&)>;
    static constexpr std::size_t kBatchLines = 8192;

    RebuildScanner(std::string from, Deliver deliver, std::size_t batchLines = kBatchLines);

    // One line of the data log in memory (no CR/LF).
    void Line(std::string_view line);
    // Every line of a file's text. A line that would be plotted but holds
    // control bytes (a damaged file, a block of zeros after a crash) and a
    // last line without its line end (a file cut short while written) are
    // not plotted; the batch says so, naming the source.
    void Text(std::string_view text, std::string_view source);
    void Complain(std::string text);
    void Progress(int percent);
    // Hands on what is gathered.
    void Flush();

private:
    void Take(std::string_view line, bool fromFile);

    std::string from_;
    Deliver deliver_;
    std::size_t batchLines_;
    RebuildBatch batch_;
    bool readingsNoted_ = false;
    std::size_t badLines_ = 0;
};

// The main thread's side of a rebuild: the steps before the lines, the lines
// into the chart, the steps after.
class RebuildPlotter {
public:
    RebuildPlotter(ChartRebuildHost& host, Readings& readings);

    // Hides and empties the chart, logs "Active 1<", holds the port. Returns
    // the start date "YYYY-MM-DD".
    std::string Begin();
    // Plots a batch; complaints go into the data log, progress to the status
    // bar.
    void Apply(const RebuildBatch& batch);
    // Lets the port go, shows the chart once; returns the status text.
    std::string Finish();
    // A rebuild given up: the port is let go, nothing shown.
    void Abort();

private:
    ChartRebuildHost& host_;
    Readings& readings_;
    std::string from_;
    std::string record_;
    bool labelsDue_ = false;
};

// Rebuilds the chart from the data log, from the start date on, and puts
// the points in as the live path put them: an "R:" reading's first four
// values at the station's time, an "O:" line's barometer record at the time
// it was logged, -888 left out. The altitude and mean temperature replies
// are taken in the order they were logged, so the sea-level values come out
// as they did live. When the log or the live path has seen readings, the
// barometer values go on the series after the readings', as live. Lines of other kinds (the "A:"
// and "I: " messages, status lines with numbers such as the port-open line) add no point. All
// points go in while the series are hidden, so the chart is painted once at the end. Returns the
// text shown in the status bar. The rebuild from the dated files (ChartFileRebuild) runs the
// same steps with the files' lines in front.
std::string RebuildChartFromLog(const DataLog& log, ChartRebuildHost& host, Readings& readings);

}  // namespace pom
