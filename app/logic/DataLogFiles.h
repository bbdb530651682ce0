#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/logic/DataLog.h"
#include "util/TdmUtil.h"

namespace pom {

// What the data log's file operations need from the main window. Texts are
// Windows-1250.
class DataLogHost {
public:
    virtual ~DataLogHost() = default;
    virtual void SetStatusText(const std::string& text) = 0;  // status bar simple text
    virtual void SetStatusHint(const std::string& hint) = 0;
    virtual void SetChartCaption(const std::string& caption) = 0;  // the chart's Podpis
    virtual int SeriesPointCount(int series) const = 0;
    virtual void SetAllSeriesVisible(bool visible) = 0;
    // Rebuilds the chart from the log; restarts the port when done.
    virtual void RebuildChart() = 0;
    virtual void StopPort() = 0;
    // A failed file operation, shown the way the platform shows errors (a
    // message box in the application).
    virtual void ReportError(const std::string& message) = 0;
    // A failure of a save nobody asked for (the periodic one): said without
    // stopping anything (the status bar, the "POST" page, standard error).
    virtual void ReportUnattended(const std::string& message) { SetStatusText(message); }
};

// The data log's dated files: periodic and manual saves, reading a file back,
// the start-up reload, the test fill, and the date-mask and averaging-count
// settings. Main thread only.
//
// A save writes the file atomically. When it fails, the error is reported (a
// periodic save's without a dialog, once until a save succeeds) and nothing
// else changes: the file on disk is the old one, the log keeps its
// lines and its modified flag, and neither the last log path nor OstatniLog
// moves. A file that cannot be read is reported and changes nothing.
class DataLogFiles {
public:
    static constexpr std::size_t kPeriodicSaveMinLines = 10;  // saved only above this
    static constexpr int kTestFillLines = 36000;

    DataLogFiles(DataLog& log, TdmUtil& util, DataLogHost& host);

    // Reads the date mask and the averaging count from the current settings
    // file (at window creation and again when a station is attached).
    void LoadSettings();

    // The upload timer's tick: the periodic save when the log holds more than
    // 10 lines. True when a file was written.
    bool Timer4WWWSave();
    // Saves the log, if modified, to a newly formed name different from the
    // last one, then empties it and records the path in OstatniLog. A file of
    // that name already on disk keeps its lines in front of the log's.
    bool PeriodicSave();
    // Menu "zapisz" and shut-down: saves the log, if modified, merged after
    // the lines of an existing file of the same name (unless the log already
    // starts with all of them, as after reading that file back), then
    // empties it.
    bool ManualSave();

    // The open dialog's preset name (empty while no station is attached, or
    // when the mask gives no usable name).
    std::string OpenDialogFileName();
    // Menu "odczytaj" after the user picked a file: replaces the log.
    bool ReadBack(const std::string& path);
    // Called when a station is attached: puts the last saved file in front of
    // the log and rebuilds the chart from it. True when a file was read.
    bool StartupReload();
    // Menu "wypełnij": 36000 test lines without stamps.
    void TestFill();

    // Menu "format daty w nazwie pliku" after OK: the mask as typed. Returns
    // the new caption of the mask menu item.
    std::string ApplyDateMask(const std::string& mask);
    // Menu "zapis średnich z ilu pomiarów" after OK. Nothing (and no change)
    // when the text is not a decimal number; else the new menu caption.
    std::optional<std::string> ApplyAveragingCount(std::string_view typed);

    std::string MaskCaption() const;
    std::string AveragingCountCaption() const;  // the start-up form, "%d"
    int AveragingCount() const { return averagingCount_; }
    const std::string& LastLogPath() const { return lastLogPath_; }

    // Texts of the two input dialogs.
    static std::string MaskDialogCaption();
    static std::string MaskDialogPrompt();
    static std::string AveragingDialogCaption();
    static std::string AveragingDialogPrompt();
    std::string AveragingDialogText() const { return std::to_string(averagingCount_); }

private:
    // The dated name for a save; a name the mask cannot give (one leading
    // out of the data folder) is reported as the save's error: empty then.
    std::string SaveName();
    // Writes the log (after the lines of an existing file when merging) to
    // path; reports and returns false on failure.
    bool SaveLog(const std::string& path, bool mergeExisting);
    void WriteSetting(const settings::StringKey& key, std::string_view value);
    void WriteSetting(const settings::IntKey& key, int value);
    // A failure: to ReportError, or during a periodic save to
    // ReportUnattended (failures after the first, until a save succeeds, only
    // to the status bar).
    void Report(const std::string& message);

    DataLog& log_;
    TdmUtil& util_;
    DataLogHost& host_;
    std::string lastLogPath_ = "New";
    bool unattended_ = false;
    bool unattendedFailing_ = false;
    int averagingCount_ = settings::kIleDoSredniej.def;
};

// The chart caption with the log's line count and the point counts of the
// first three channels: "%d linii w Dane TXT | %d / %d / %d punktów wykresów".
std::string ChartCaption(int logLines, const DataLogHost& host);

// The averaging count the user typed: a decimal number ("." as the decimal
// point); below 1 gives 1, halves round to even. Nothing when it is not a
// number or does not fit an int.
std::optional<int> ParseAveragingCount(std::string_view typed);

}  // namespace pom
