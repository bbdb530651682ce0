#include "app/logic/HeadlessReport.h"

#include "util/Cp1250.h"

namespace pom {
namespace {

// An error report carries the server's reply: its first line says enough.
constexpr std::size_t kReportCut = 200;

std::string FirstLineCut(std::string_view report) {
    std::string_view s = report.substr(0, report.find_first_of("\r\n"));
    if (s.size() <= kReportCut) return std::string(s);
    return std::string(s.substr(0, kReportCut)) + "...";
}

}  // namespace

std::string StartSettingsLine(const std::string& baseIni, const std::string& kindIniPattern,
                              const std::string& port, int baud) {
    return Cp("ustawienia: ") + baseIni + " (port " + port + ", " + std::to_string(baud) +
           Cp(" b/s); po rozpoznaniu stacji jej ustawienia, w tym wysyłka (POST, adres): ") +
           kindIniPattern;
}

std::string UploadSettingsLine(const std::string& kind, const std::string& kindIni, bool post,
                               int postIntervalSeconds, const std::string& address,
                               const std::string& table) {
    std::string line = "stacja " + kind + Cp(", ustawienia: ") + kindIni + ": ";
    if (post)
        return line + Cp("wysyłka włączona, co ") + std::to_string(postIntervalSeconds) + " s do " +
               address + ", tabela " + table;
    return line + Cp("wysyłka wyłączona (odczyty nie trafiają do kolejki); ") +
           Cp("aby włączyć: zatrzymaj program i wpisz POST=1 w sekcji [CONFIG] tego pliku, ") +
           Cp("adres w [PostWWW] adresSkryptu");
}

std::optional<std::string> UploadOutcomeWatch::Report(bool success, std::string_view report) {
    const State before = state_;
    state_ = success ? State::Working : State::Failing;
    if (state_ == before) return std::nullopt;
    if (success)
        return (before == State::Failing ? Cp("wysyłka znowu działa: ") : Cp("wysyłka działa: ")) +
               FirstLineCut(report);
    return Cp("wysyłka nie działa (ponawia; zgłosi, gdy ruszy): ") + FirstLineCut(report);
}

}  // namespace pom
