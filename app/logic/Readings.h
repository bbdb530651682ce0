#pragma once

#include <array>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/ReceivePath.h"
#include "app/logic/RecordSink.h"

namespace pom {

// The six texts of the barometer label panel (panLabele).
struct BarometerLabels {
    std::string labBaro;       // station pressure
    std::string labBaroB;      // altitude
    std::string labBaroNPM;    // sea-level pressure, standard atmosphere
    std::string labBaroNPMB;   // its caption
    std::string labBaroNPM2;   // sea-level pressure with the mean temperature
    std::string labBaroNPM2B;  // its caption
};

// What the measurement messages need from the window: the chart, the memos
// and the status bar. Closed records go to the sinks (AddSink).
class ReadingsHost {
public:
    virtual ~ReadingsHost() = default;
    // "yyyy-mm-dd hh:mm:ss " of the PC's current local time.
    virtual std::string Stamp() = 0;
    // One line into the data log.
    virtual void AppendLog(std::string line) = 0;
    // Values per reading (the utility module's count); below 0 while unknown.
    virtual int ValueCount() const = 0;
    virtual void SetValueCount(int n) = 0;
    // The upload interval in seconds (CONFIG/wysylkaPOST).
    virtual int PostInterval() const = 0;
    // A chart point; time in days since 1899-12-30.
    virtual void AddPoint(int series, int colorIndex, double time, double value) = 0;
    // Moves the points of series `first` to `first + count - 1` by `by`
    // series up (the points of a series beyond the chart's last are dropped);
    // the other series keep theirs.
    virtual void ShiftSeries(int first, int count, int by) = 0;
    // The whole text of meMAC; lines separated by CR LF.
    virtual void SetMacText(const std::string& text) = 0;
    // The status bar's simple text.
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowBarometerLabels(const BarometerLabels& labels) = 0;
    // Puts the "." decimal separator back if something changed it.
    virtual bool RestoreDecimalSeparator() { return false; }
};

// The reading record of an "A:" or "R:" line: the station's time and ";",
// then every blank-separated token after it but the last (the "W4r" count),
// each ended by ";". `count` gets the number of values.
std::string ReadingRecord(std::string_view line, int& count);

// The measurement messages: "A:" and "R:" readings, "I: " sensor
// information and "O:" barometer lines. Readings go onto the chart and are
// averaged per channel into one upload record per upload interval, which is
// queued for the sender. Readings and barometer records are averaged apart,
// each kind closing its own periods, so that an upload record never mixes
// temperatures with pressures.
//
// The chart: readings put their first four values on series 0 to 3 (the
// channel check boxes). A station that sends only barometer records has them
// on series 0, 1, 2 ...; once readings are seen, the barometer values go on
// series 4, 5, ... instead (those already plotted are moved there), so that
// no line joins a temperature to a pressure. Main thread only.
class Readings final : public MeasurementHandlers {
public:
    // Channels the accumulator carries: the upload record has eleven value
    // slots (Sonda0 to Sonda10). Values past the eleventh are left out.
    static constexpr int kSlots = 11;
    // The chart's series are 0 to 10.
    static constexpr int kSeries = 11;
    static constexpr int kMissing = -888;
    // The first series of the barometer values once readings are seen.
    static constexpr int kBarometerSeriesWithReadings = 4;

    Readings(ReadingsHost& host, StationValues& values);
    Readings(const Readings&) = delete;
    Readings& operator=(const Readings&) = delete;

    // MeasurementHandlers
    int BarometerMessage(const std::string& line) override { return HandleBarometer(line); }
    void SensorInformation(const std::string& line) override { HandleSensorInfo(line); }
    int Reading(const std::string& line) override { return HandleReading(line); }

    // "A:" / "R:" line; returns the count of readings waiting in the station.
    int HandleReading(const std::string& line);
    void HandleSensorInfo(const std::string& line);
    // "O:" line; always 0.
    int HandleBarometer(const std::string& line);

    // A reading record ("yyyy-mm-dd hh:mm:ss" + values each ended by ";") of
    // `valueCount` values: averaged, and once per upload interval an upload
    // record is queued.
    void AccumulateRecord(const std::string& record);
    // The first four values of a reading record onto the chart.
    void PlotReading(const std::string& record);
    // The values of a barometer record onto the chart, and the labels.
    void ShowBarometer(const std::string& record);
    // The same for a record of `valueCount` values; the labels only when
    // `labels` is set. True when all the values were there, so the labels
    // would have shown this record (a rebuild sets them once at its end).
    bool ShowBarometer(std::string_view record, int valueCount, bool labels);
    // The label panel from the last pressure shown and the station's values.
    void RefreshBarometerLabels();
    // The values part of a barometer record for an "O:" line's payload: the
    // payload, the sea-level pressure and both pressures in mmHg, then -999.
    // Without a pressure (below zero, or not a number) the derived values are
    // -888, and so is a result that is not a finite number. A first field
    // that is no number at all is carried as -888, so that the fields after
    // it keep their channels.
    std::string BarometerValues(std::string_view payload) const;
    // Readings have been seen (in this run or in the log a rebuild read):
    // the barometer values go on the series after the readings' from now on.
    // With `movePlotted`, the barometer points already on the chart move
    // there too.
    void NoteReadingsSeen(bool movePlotted);
    bool ReadingsSeen() const { return readingsSeen_; }
    int BarometerFirstSeries() const { return readingsSeen_ ? kBarometerSeriesWithReadings : 0; }
    // A place for every closed record of both kinds (the upload queue, the
    // MQTT publisher), told in the order added. The sink must outlive this
    // object.
    void AddSink(RecordSink& sink) { sinks_.push_back(&sink); }
    // A closed record to every sink (decimal commas of its text become
    // points); a record equal to the last one goes nowhere.
    void CloseRecord(ClosedRecord record);

    const std::string& LastQueued() const { return lastQueued_; }
    double LastPressure() const { return lastPressure_; }
    // Records taken into the readings' current period.
    int AvgReadings() const { return readings_.avgReadings; }
    int BarometerAvgReadings() const { return barometer_.avgReadings; }

private:
    // One kind's channel averages over the current upload period.
    struct Period {
        std::array<double, kSlots> avg;
        int avgReadings = 0;
        // Time of the last upload record, as calendar seconds; at first the
        // date-time type's epoch, so the first record always emits.
        std::time_t lastEmitTime = 0;
    };

    void Accumulate(Period& period, const std::string& record, int valueCount);
    // Folds value i (1-based) into its slot; at the last value of a record
    // that closes an upload period, builds the closed record into `out`.
    void AccumulateValue(Period& period, int i, int valueCount, double v, std::time_t t,
                         ClosedRecord& out);

    ReadingsHost& host_;
    StationValues& values_;
    Period readings_;
    Period barometer_;
    std::vector<RecordSink*> sinks_;
    std::string lastQueued_ = "?";
    double lastPressure_ = 1013.0;
    bool readingsSeen_ = false;
    // Barometer points are on the low series (before readings were seen).
    bool barometerPlottedLow_ = false;
};

}  // namespace pom
