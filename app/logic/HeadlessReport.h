#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pom {

// What a service without a window tells on standard error, so that its
// journal answers "does it record, and does it upload?" without flooding:
// its settings at start and at attach, and a line only when the uploads'
// outcome changes. Windows-1250 texts; paths are given as text.

// At start: the base settings file with the port, and where the station's
// own settings (upload address, POST switch) will be once it has greeted.
std::string StartSettingsLine(const std::string& baseIni, const std::string& kindIniPattern,
                              const std::string& port, int baud);

// At attach: the kind's settings file and whether uploads are on, and where
// to; when off, how to switch them on (the switch is written back at exit,
// so the file is edited while the program is stopped).
std::string UploadSettingsLine(const std::string& kind, const std::string& kindIni, bool post,
                               int postIntervalSeconds, const std::string& address,
                               const std::string& table);

// Watches the sender's reports: the first one, a success after failures and
// a failure after successes give a line; a report like the one before gives
// nothing, however many readings it covers.
class UploadOutcomeWatch {
public:
    // success: the report says the job was accepted. `report` is the
    // sender's line; its first line, cut short, goes into the result.
    std::optional<std::string> Report(bool success, std::string_view report);

private:
    enum class State { Unknown, Working, Failing };
    State state_ = State::Unknown;
};

}  // namespace pom
