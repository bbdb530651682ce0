#include "app/logic/StationCommands.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>

#include "app/logic/ReceivePath.h"
#include "app/logic/StationParse.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

constexpr const char* kStationCaption = "pomiary w arduino";
constexpr const char* kHeightCaption = "dla przeliczeń z wysokością";

constexpr const char* kHelp[] = {
    ">   R < - czyta najstarszy rekord i zwalnia miejsce w buforze",
    "> nnR < - czyta wskazany ( aktualny minus nn ) rekord i nie zmienia indeksu",
    "> ssT < - ustala co ile sekund wyslac rekord wynikow",
    ">         ss od 5 do (2^31)=2,147,483,647 = 24 tys dni",
    "> I < - ROM info",
    "> setDate 2016-04-20 < set RTC year mont day",
    "> setTime 11:22:33 < set RTC hh:mm:ss",
    "> setROMs 11223344556677881122334455667788 i kolejne 2x8 znakow",
    "  write id (ROMs) DS1820 to EPROM to dla zmiany kolejnosci odczytow",
    "> F < - czysci bufor",
    "> setRC433ssss steruje RCswitchem s: x 1 lub 0 ustawia stan",
};

constexpr const char* kSetRomsMessage =
    "pierwsza linia musi zawierać: \"setROMs\", kolejne linie to identyfikatory np: "
    "\"281F948F01000021\" w kolejności jaką oczekujemy.\r Po prawidłowym starcie programu "
    "wszystko jest wypełnione automatycznie";

std::string TimeOfDay(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string Date(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buf;
}

}  // namespace

std::optional<double> ParseNumberInput(std::string_view text) {
    return ParseDecimal(text);
}

std::optional<int> ParseCountInput(std::string_view text) {
    const std::optional<double> v = ParseDecimal(text);
    if (!v) return std::nullopt;
    if (*v < 1) return 1;
    // The station takes intervals up to 2^31 - 1; a larger number must not
    // overflow the integer it is kept in.
    if (*v >= static_cast<double>(INT_MAX)) return INT_MAX;
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(*v);  // halves to even
    std::fesetround(mode);
    return static_cast<int>(r);
}

std::vector<std::string> MemoLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t p = text.find_first_of("\r\n", from);
        if (p == std::string_view::npos) {
            lines.emplace_back(text.substr(from));
            break;
        }
        lines.emplace_back(text.substr(from, p - from));
        from = p + ((text[p] == '\r' && p + 1 < text.size() && text[p + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

std::string CommandHelpText() {
    std::string text;
    for (const char* line : kHelp) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    return text;
}

void StationCommands::SendAndShow(std::string_view command) {
    path_.SendCommand(command);
    host_.ShowDataPage();
}

void StationCommands::mInfoClick() {
    SendAndShow("I");
}

void StationCommands::mReadClick() {
    SendAndShow("R");
}

void StationCommands::mCzyscClick() {
    SendAndShow("F");
}

std::optional<int> StationCommands::AskCount(const char* prompt, int current) {
    const std::optional<std::string> text =
        host_.InputQuery(Cp(kStationCaption), Cp(prompt), std::to_string(current));
    if (!text) return std::nullopt;
    return ParseCountInput(*text);
}

std::optional<std::string> StationCommands::AskNumberCommand(const char* caption,
                                                             const char* prompt,
                                                             const std::string& value, int decimals,
                                                             char letter, double* store) {
    std::string offered = value;
    for (;;) {
        const std::optional<std::string> text = host_.InputQuery(Cp(caption), Cp(prompt), offered);
        if (!text) return std::nullopt;
        const std::optional<double> v = ParseNumberInput(*text);
        if (!v) return std::nullopt;
        std::string command = FormatFixed(*v, decimals) + letter;
        if (command.size() <= kMaxCommandLength) {
            if (store) *store = *v;
            return command;
        }
        // Cut to its first 255 characters the command would lose its letter
        // and the station would take the digits for another command.
        host_.ShowMessage(Cp("Za duża liczba: polecenie miałoby ") +
                          std::to_string(command.size()) +
                          Cp(" znaków, stacja przyjmuje najwyżej ") +
                          std::to_string(kMaxCommandLength) + Cp(". Nic nie wysłano."));
        offered = *text;
    }
}

void StationCommands::mDeltaTClick() {
    const std::optional<int> n = AskCount("Co ile sekund", path_.Values().measureInterval);
    if (!n) return;
    path_.Values().measureInterval = *n;
    SendAndShow(std::to_string(*n) + "T");
}

void StationCommands::mIledoredniejClick() {
    const std::optional<int> n = AskCount("ile do średniej", path_.Values().stationAvgCount);
    if (!n) return;
    path_.Values().stationAvgCount = *n;
    SendAndShow(std::to_string(*n) + "S");
}

void StationCommands::mWspCalClick() {
    const std::optional<std::string> c = AskNumberCommand(
        "korekta w arduino", "współczynnik", FormatFixed(path_.Values().calibrationCoef, 2), 2, 'C',
        &path_.Values().calibrationCoef);
    if (c) SendAndShow(*c);
}

void StationCommands::mPoziomHClick() {
    const std::optional<std::string> c =
        AskNumberCommand(kHeightCaption, "wysokość n.p.m.", "300.0", 1, 'H');
    if (c) SendAndShow(*c);
}

void StationCommands::mPoziomLClick() {
    const std::optional<std::string> c =
        AskNumberCommand(kHeightCaption, "średnia temperatura powietrza", "18.0", 1, 't');
    if (c) SendAndShow(*c);
}

void StationCommands::butSetDateClick() {
    const std::string command = "setDate " + Date(host_.Now());
    host_.SetMacText(command);
    path_.SendCommand(command);
}

void StationCommands::butGodzinaUstawClick() {
    const LocalDateTime now = host_.Now();
    // The memo shows the PC's time; the station gets it with the correction.
    host_.SetMacText("setTime " + TimeOfDay(now));
    const int correction = ParseInteger(host_.SecondsCorrection()).value_or(0);
    path_.SendCommand("setTime " + TimeOfDay(AddSeconds(now, correction)));
}

void StationCommands::butMAC2arduinoClick() {
    path_.SetLastCommand("");
    const std::vector<std::string> lines = MemoLines(host_.MacText());
    if (lines.empty() || !lines.front().starts_with("setROMs")) {
        host_.ShowMessage(Cp(kSetRomsMessage));
        return;
    }
    std::string command = lines.front();
    if (command.size() < 8) command += ' ';
    for (std::size_t i = 1; i < lines.size(); ++i) command += lines[i];
    path_.SendCommand(command);
    host_.SetStatusText("wyslane: " + path_.LastCommand());
}

void StationCommands::butWyslijPolecenClick() {
    std::string command;
    for (const std::string& line : MemoLines(host_.MacText())) command += line;
    path_.SendCommand(command);
    host_.SetStatusText("wyslane: " + path_.LastCommand());
}

void StationCommands::butHelpClick() {
    host_.SetMacText(CommandHelpText());
}

}  // namespace pom
