#pragma once

#include <string>
#include <string_view>

#include "util/Clock.h"
#include "util/DateMask.h"
#include "util/IniFile.h"
#include "util/Numbers.h"
#include "util/SettingsKeys.h"

namespace pom {

// The utility module: where the settings file, the data folder and the
// unsent-records file live for the current station, the settings store on top
// of them, and the log-line time stamp. Main thread only. Nothing is cached:
// every read or write opens the settings file afresh.
class TdmUtil {
public:
    static constexpr std::string_view kBaseStationFolder = "\\Ardu";
    static constexpr std::string_view kDefaultMask = "YYYY-MM-DD hh_mm_ss";

    explicit TdmUtil(const Clock& clock, std::string programName = "pomiarnik");

    // "\Ardu" until a station is attached, then "\ardu\" + kind. Compared
    // exactly; only when a path is formed does "\" become "/" and the first
    // folder name fold to lower case, so all kinds share ~/.config/ardu/.
    std::string stationFolder{kBaseStationFolder};
    // Date-time mask of the data file names (CONFIG/maskaDaty).
    std::string FileNameMask{kDefaultMask};
    // Values per reading of the latest reading; kept up to date by the parser.
    int valueCount = 1;

    // Paths given here are file-system (UTF-8) paths: PathToText turns one
    // into text for a log line, a status or an INI value.

    // $XDG_CONFIG_HOME, else ~/.config; created when missing.
    std::string AppDataFolder() const;
    // The settings file of the current station folder; its folder is created.
    std::string IniFileName() const;

    std::string ReadIniString(std::string_view section, std::string_view key,
                              std::string_view def) const;
    int ReadIniInteger(std::string_view section, std::string_view key, int def) const;
    bool ReadIniBool(std::string_view section, std::string_view key, bool def) const;
    // Throw IniWriteError ("Unable to write to " + path + ": " + the reason)
    // when the system refuses, the folder's own failure when it cannot be made.
    void WriteIniString(std::string_view section, std::string_view key, std::string_view value);
    void WriteIniInteger(std::string_view section, std::string_view key, int value);
    void WriteIniBool(std::string_view section, std::string_view key, bool value);

    // The same through the key table, with its defaults.
    std::string Read(const settings::StringKey& k) const;
    int Read(const settings::IntKey& k) const;
    bool Read(const settings::BoolKey& k) const;
    void Write(const settings::StringKey& k, std::string_view value);
    void Write(const settings::IntKey& k, int value);
    void Write(const settings::BoolKey& k, bool value);

    // Full path for a new dated data file, or empty while no station is
    // attached (nothing is created then). A mask without any double quote gets
    // the quoted prefix "Ardu" for good. The data folder is created, and any
    // sub-folder the mask names. Throws std::runtime_error (Windows-1250 text)
    // when the name would lead out of the data folder (".."), FileError with
    // the real cause when a folder cannot be made.
    std::string DataFileName();
    // The station's "niewyslane.txt", or empty while no station is attached.
    // The data folder is created; when it cannot be, *folderError (if given)
    // gets "<folder>: <reason>" (Windows-1250), else it is emptied.
    std::string UnsentFileName(std::string* folderError = nullptr) const;
    // The station's data folder (not created), or empty while no station is
    // attached.
    std::string StationDataFolder() const;
    // "yyyy-mm-dd hh:mm:ss " of now.
    std::string TimeStampPrefix() const;

    const Clock& clock() const { return clock_; }
    const std::string& programName() const { return programName_; }

private:
    std::string StationFolderPath() const;
    std::string DataFolder() const;

    const Clock& clock_;
    std::string programName_;
};

// Why the program has no private place for its settings and data, or empty
// when it has: $XDG_CONFIG_HOME (absolute) or a home folder ($HOME, else the
// account's) that exists. Without one the program must not start rather than
// fall back to a shared folder. Windows-1250 text.
std::string SettingsFolderProblem();
// The same for the given values (null: not set).
std::string SettingsFolderProblem(const char* xdgConfigHome, const char* home,
                                  const char* passwdDir);

// "\ardu\DS3231" -> "ardu/DS3231", "\Ardu" -> "ardu": the folder below the
// application-data folder that a station folder names.
std::string StationFolderToPath(std::string_view stationFolder);

}  // namespace pom
