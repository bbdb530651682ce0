#include "app/logic/DataLogFiles.h"

#include "app/logic/StationParse.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>

#include "util/Cp1250.h"
#include "util/FileUtil.h"

namespace pom {

namespace {

constexpr const char* kTestLine = "test bufor: 255,255,255,255,35,0, -> -0.1 3.5";

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string Printf(const std::string& format, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format.c_str(), args...);
    return buf;
}

}  // namespace

std::string ChartCaption(int logLines, const DataLogHost& host) {
    // The first three channels are series 0, 1 and 2.
    return Printf(Cp("%d linii w Dane TXT | %d / %d / %d punktów wykresów"), logLines,
                  host.SeriesPointCount(0), host.SeriesPointCount(1), host.SeriesPointCount(2));
}

std::optional<int> ParseAveragingCount(std::string_view typed) {
    const std::optional<double> parsed = ParseDecimal(typed);
    if (!parsed) return std::nullopt;
    double v = *parsed;
    if (v < 1) v = 1;
    const double rounded = std::nearbyint(v);  // the default mode rounds halves to even
    if (!(rounded <= static_cast<double>(INT_MAX))) return std::nullopt;
    return static_cast<int>(rounded);
}

DataLogFiles::DataLogFiles(DataLog& log, TdmUtil& util, DataLogHost& host)
    : log_(log), util_(util), host_(host) {}

void DataLogFiles::LoadSettings() {
    util_.FileNameMask = util_.Read(settings::kMaskaDaty);
    averagingCount_ = util_.Read(settings::kIleDoSredniej);
}

bool DataLogFiles::Timer4WWWSave() {
    if (log_.Count() <= kPeriodicSaveMinLines) return false;
    return PeriodicSave();
}

bool DataLogFiles::SaveLog(const std::string& path, bool mergeExisting) {
    try {
        if (mergeExisting && Exists(path)) {
            // The file's lines first, then the log's; built aside so that a
            // failure leaves the log as it was.
            DataLog merged;
            merged.LoadFromFile(path);
            const auto& old = merged.Lines();
            const auto& now = log_.Lines();
            if (old.size() <= now.size() && std::equal(old.begin(), old.end(), now.begin())) {
                // The log already starts with the whole file (it was read back at
                // start-up or from the menu): putting the file in front again
                // would double its lines on every restart.
                log_.SaveToFile(path);
            } else {
                std::string text = merged.Text();
                text += log_.Text();
                WriteFileAtomic(path, text);
            }
        } else {
            log_.SaveToFile(path);
        }
        return true;
    } catch (const std::exception& e) {
        Report(e.what());
        return false;
    }
}

void DataLogFiles::WriteSetting(const settings::StringKey& key, std::string_view value) {
    try {
        util_.Write(key, value);
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

void DataLogFiles::WriteSetting(const settings::IntKey& key, int value) {
    try {
        util_.Write(key, value);
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

std::string DataLogFiles::SaveName() {
    try {
        return util_.DataFileName();
    } catch (const std::exception& e) {
        Report(e.what());
        return {};
    }
}

void DataLogFiles::Report(const std::string& message) {
    if (!unattended_) {
        host_.ReportError(message);
        return;
    }
    // Every tick tries again under a new name: said in full once per run of
    // failures.
    if (unattendedFailing_) {
        host_.SetStatusText(message);
        return;
    }
    unattendedFailing_ = true;
    host_.ReportUnattended(message);
}

bool DataLogFiles::PeriodicSave() {
    if (!log_.Modified()) return false;
    // Nobody may be there to close a message box, and the upload must go on.
    struct Unattended {
        bool& flag;
        explicit Unattended(bool& f) : flag(f) { flag = true; }
        ~Unattended() { flag = false; }
    } unattended(unattended_);
    const std::string path = SaveName();
    if (path.empty() || path == lastLogPath_) return false;
    // A name can come round again (clock set back, a coarser mask): the
    // earlier file's lines are kept rather than overwritten.
    if (!SaveLog(path, true)) return false;
    unattendedFailing_ = false;
    host_.SetStatusText(util_.TimeStampPrefix() + Cp(" > Zapisał: ") + PathToText(BaseName(path)));
    lastLogPath_ = path;
    log_.Clear();
    host_.SetStatusHint(PathToText(path));
    host_.SetChartCaption("");
    WriteSetting(settings::kOstatniLog, PathToText(path));
    return true;
}

bool DataLogFiles::ManualSave() {
    if (!log_.Modified()) return false;
    const std::string path = SaveName();
    if (path.empty()) return false;
    if (!SaveLog(path, true)) return false;
    host_.SetStatusText(util_.TimeStampPrefix() + Cp("zapisał: ") + PathToText(BaseName(path)));
    lastLogPath_ = path;
    log_.Clear();
    host_.SetStatusHint(PathToText(path));
    host_.SetChartCaption(ChartCaption(static_cast<int>(log_.Count()), host_));
    return true;
}

std::string DataLogFiles::OpenDialogFileName() {
    try {
        return util_.DataFileName();
    } catch (const std::exception&) {
        return {};  // the dialog then opens where it likes; a save reports the mask
    }
}

bool DataLogFiles::ReadBack(const std::string& path) {
    try {
        log_.LoadFromFile(path);
    } catch (const std::exception& e) {
        host_.ReportError(e.what());
        return false;
    }
    host_.SetStatusText(Cp("odczytał: ") + PathToText(path));
    return true;
}

bool DataLogFiles::StartupReload() {
    const std::string stored = util_.Read(settings::kOstatniLog);
    std::string path = TextToPath(stored);
    // Earlier versions stored the path's UTF-8 bytes as they were.
    if (!IsFile(path) && IsFile(stored)) path = stored;
    host_.SetAllSeriesVisible(false);
    log_.Append(util_.TimeStampPrefix() + "Active 2<");
    bool loaded = false;
    if (IsFile(path)) {
        // Read before stopping the port: a file that cannot be read must not
        // leave the station unread.
        std::string error;
        if (const auto bytes = ReadWholeFile(path, &error)) {
            host_.StopPort();
            const std::string kept = log_.Text();
            log_.SetText(*bytes);
            lastLogPath_ = path;
            log_.Append(util_.TimeStampPrefix() + Cp("odczytał ostatni zapisany log: ") +
                        PathToText(path));
            log_.SetText(log_.Text() + kept);
            host_.RebuildChart();
            host_.SetStatusText(Cp("start za 10 sek. odczytał: ") + PathToText(BaseName(path)));
            loaded = true;
        } else {
            host_.ReportError(error);
        }
    }
    host_.SetAllSeriesVisible(true);
    return loaded;
}

void DataLogFiles::TestFill() {
    for (int i = 0; i < kTestFillLines; ++i) log_.Append(kTestLine);
}

std::string DataLogFiles::MaskCaption() const {
    return "maska daty w nazwie pliku: " + util_.FileNameMask;
}

std::string DataLogFiles::AveragingCountCaption() const {
    return Printf(Cp("zapisuje do Dane TXT po uśrednieniu %d odczytów"), averagingCount_);
}

std::string DataLogFiles::ApplyDateMask(const std::string& mask) {
    util_.FileNameMask = mask;
    WriteSetting(settings::kMaskaDaty, mask);
    return MaskCaption();
}

std::optional<std::string> DataLogFiles::ApplyAveragingCount(std::string_view typed) {
    const auto count = ParseAveragingCount(typed);
    if (!count) return std::nullopt;
    averagingCount_ = *count;
    // The caption shows the text as typed, the setting the stored count.
    std::string caption =
        Cp("zapisuje do Dane TXT po uśrednieniu ") + std::string(typed) + Cp(" odczytów");
    WriteSetting(settings::kIleDoSredniej, averagingCount_);
    return caption;
}

std::string DataLogFiles::MaskDialogCaption() {
    return "\"nazwa pliku\" z dat\xB9";
}

std::string DataLogFiles::MaskDialogPrompt() {
    return "wprowadz nazwe pliku i format daty wg wzoru: \"nazwa pliku\" YYYY-MM-DD hh_mm_ss "
           "nie stosij dwukropka";
}

std::string DataLogFiles::AveragingDialogCaption() {
    return Cp("średnia");
}

std::string DataLogFiles::AveragingDialogPrompt() {
    return Cp("z ilu odczytów?");
}

}  // namespace pom
