#pragma once

#include <string_view>

// Every settings key of the program with its default, in one place, so that
// the readers and writers cannot drift apart. Texts are Windows-1250 bytes.
namespace pom::settings {

struct StringKey {
    std::string_view section;
    std::string_view key;
    std::string_view def;
};
struct IntKey {
    std::string_view section;
    std::string_view key;
    int def;
};
struct BoolKey {
    std::string_view section;
    std::string_view key;
    bool def;
};

inline constexpr std::string_view kConfig = "CONFIG";
inline constexpr std::string_view kKomunikacja = "Komunikacja";
inline constexpr std::string_view kWykres = "Wykres";
inline constexpr std::string_view kPage = "Page";
inline constexpr std::string_view kAktywne = "Aktywne";
inline constexpr std::string_view kLegendy = "Legendy";
inline constexpr std::string_view kPostWWW = "PostWWW";
inline constexpr std::string_view kMqtt = "MQTT";

// The Linux name of an Arduino's USB port stands where Windows had COM1.
inline constexpr StringKey kNrComPort{kConfig, "nrCOMport", "ttyACM0"};
inline constexpr IntKey kNrComPortBaud{kConfig, "nrCOMportBaud", 57600};
inline constexpr IntKey kIleDoSredniej{kConfig, "ileDoSredniej", 100};
inline constexpr IntKey kWysylkaPost{kConfig, "wysylkaPOST", 300};
inline constexpr StringKey kMaskaDaty{kConfig, "maskaDaty", "YYYY-MM-DD hh_mm_ss"};
inline constexpr BoolKey kPost{kConfig, "POST", false};

inline constexpr StringKey kOstatniLog{kKomunikacja, "OstatniLog", "Ardu2021-07-13"};
inline constexpr StringKey kOstatniWyslany{kKomunikacja, "OstatniWyslany", "2012-01-01"};

inline constexpr BoolKey kAvg{kWykres, "avg", true};
inline constexpr IntKey kPlotAvgDelta{kWykres, "PlotAvgDelta", 60};
// Days before the newest reading that the chart keeps every point of; older
// ones keep only their extremes, so a year-long run stays small.
inline constexpr IntKey kDniPelnejRozdzielczosci{kWykres, "dniPelnejRozdzielczosci", 7};

inline constexpr IntKey kIdxZakladki{kPage, "idxZakladki", 0};

// Chart channels shown (check boxes cbKanal1..cbKanal4).
inline constexpr BoolKey kAktywneKan[4] = {
    {kAktywne, "kan1", true},
    {kAktywne, "kan2", false},
    {kAktywne, "kan3", false},
    {kAktywne, "kan4", false},
};

// Channel names and units as the main window reads them.
inline constexpr StringKey kLegendName[4] = {
    {kLegendy, "kan1", "A1"},
    {kLegendy, "kan2", "B1"},
    {kLegendy, "kan3", "C1"},
    {kLegendy, "kan4", "D1"},
};
inline constexpr StringKey kLegendUnit[4] = {
    {kLegendy, "Jed1",
     "\xB0"
     "C"},  // degree sign, Windows-1250
    {kLegendy, "Jed2", "mV"},
    {kLegendy, "Jed3", "hPa"},
    {kLegendy, "Jed4", "%"},
};
// The same keys as the legends dialog reads them: other defaults.
inline constexpr StringKey kLegendNameDialog[4] = {
    {kLegendy, "kan1", "A"},
    {kLegendy, "kan2", "B"},
    {kLegendy, "kan3", "C"},
    {kLegendy, "kan4", "D"},
};
inline constexpr StringKey kLegendUnitDialog[4] = {
    {kLegendy, "Jed1", "mV"},
    {kLegendy, "Jed2", "mV"},
    {kLegendy, "Jed3", "mV"},
    {kLegendy, "Jed4", "mV"},
};

// The upload table and script. The host dialog and the station attach read
// them with the same defaults, so the target shown is the target used. The
// default host is the local recorder, so a fresh install uploads to the
// demo service.
inline constexpr StringKey kTabela{kPostWWW, "Tabela", "test"};
inline constexpr StringKey kAdresSkryptu{kPostWWW, "adresSkryptu",
                                         "127.0.0.1:8080/Zapisz2Pomiary.php"};
inline constexpr StringKey kAdresy{kPostWWW, "adresy", ""};

// Publishing to an MQTT broker, in the station kind's file. The names are
// fixed: other tools write them.
inline constexpr BoolKey kMqttWlacz{kMqtt, "Wlacz", false};
inline constexpr StringKey kMqttHost{kMqtt, "Host", "127.0.0.1"};
inline constexpr IntKey kMqttPort{kMqtt, "Port", 1883};
inline constexpr StringKey kMqttUzytkownik{kMqtt, "Uzytkownik", ""};
inline constexpr StringKey kMqttHaslo{kMqtt, "Haslo", ""};
inline constexpr BoolKey kMqttTls{kMqtt, "TLS", false};
inline constexpr StringKey kMqttPlikCa{kMqtt, "PlikCA", ""};
inline constexpr StringKey kMqttTemat{kMqtt, "Temat", "pomiarnik"};
inline constexpr StringKey kMqttPrefiksOdkrywania{kMqtt, "PrefiksOdkrywania", "homeassistant"};
// The protocol: 4 = MQTT 3.1.1, 5 = MQTT 5.
inline constexpr IntKey kMqttWersja{kMqtt, "Wersja", 4};

// Window placement sections and keys.
inline constexpr std::string_view kFormMonitorT = "MonitorT";
inline constexpr std::string_view kFormHostSql = "fOKhostSQL";
inline constexpr std::string_view kFormLegendy = "fEdLegendy";
inline constexpr std::string_view kFormEdWsp = "fEDwsp";
inline constexpr std::string_view kFormX = "Form_X";
inline constexpr std::string_view kFormY = "Form_Y";
inline constexpr std::string_view kFormW = "Form_W";
inline constexpr std::string_view kFormH = "Form_H";
inline constexpr std::string_view kFont = "Font";
inline constexpr std::string_view kFontSize = "Fontsize";
inline constexpr std::string_view kFontColor = "FontColor";
inline constexpr std::string_view kCharset = "Charset";

// The autostart entry is named after the application title.
inline constexpr std::string_view kApplicationTitle = "Vurirozavar Odid Ozoru ruver";

}  // namespace pom::settings
