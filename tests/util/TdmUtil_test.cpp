#include "util/TdmUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <variant>

#include "tests/support/TestSupport.h"
#include "util/AutoStart.h"
#include "util/Cp1250.h"
#include "util/FormPlacement.h"

namespace pom {
namespace {

using test::FakeClock;
using test::FileExists;
using test::ReadFile;
using test::ScopedConfigHome;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

class UtilTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string config = dir.file("cfg");
    ScopedConfigHome home{config};
    FakeClock clock{{2023, 5, 14, 7, 5, 9, 0}};
    TdmUtil util{clock};

    std::string BaseIni() const { return config + "/ardu/pomiarnik.ini"; }
};

// ---- settings keys and their defaults ----

using AnyKey = std::variant<settings::StringKey, settings::IntKey, settings::BoolKey>;
struct KeyCase {
    AnyKey key;
    const char* section;
    const char* name;
    std::string def;  // as the file would hold it
};

class SettingsDefaults : public UtilTest, public ::testing::WithParamInterface<KeyCase> {};

std::string ReadAsText(const TdmUtil& util, const AnyKey& key) {
    if (auto* s = std::get_if<settings::StringKey>(&key)) return util.Read(*s);
    if (auto* i = std::get_if<settings::IntKey>(&key)) return std::to_string(util.Read(*i));
    return util.Read(std::get<settings::BoolKey>(key)) ? "1" : "0";
}

TEST_P(SettingsDefaults, NoFileGivesTheDefaultAndStoredValueIsFound) {
    const KeyCase& c = GetParam();
    std::visit(
        [&](const auto& k) {
            EXPECT_EQ(k.section, c.section);
            EXPECT_EQ(k.key, c.name);
        },
        c.key);
    EXPECT_EQ(ReadAsText(util, c.key), c.def);
    EXPECT_FALSE(FileExists(BaseIni()));
    // A value written by hand, in other letter case, is found.
    WriteFile(BaseIni(), "[" + std::string(c.section) + "]\r\n" + c.name + "=7\r\n");
    const bool isBool = std::holds_alternative<settings::BoolKey>(c.key);
    EXPECT_EQ(ReadAsText(util, c.key), isBool ? "1" : "7");
}

namespace s = settings;
INSTANTIATE_TEST_SUITE_P(
    Table, SettingsDefaults,
    ::testing::Values(KeyCase{s::kNrComPort, "CONFIG", "nrCOMport", "ttyACM0"},
                      KeyCase{s::kNrComPortBaud, "CONFIG", "nrCOMportBaud", "57600"},
                      KeyCase{s::kIleDoSredniej, "CONFIG", "ileDoSredniej", "100"},
                      KeyCase{s::kWysylkaPost, "CONFIG", "wysylkaPOST", "300"},
                      KeyCase{s::kMaskaDaty, "CONFIG", "maskaDaty", "YYYY-MM-DD hh_mm_ss"},
                      KeyCase{s::kPost, "CONFIG", "POST", "0"},
                      KeyCase{s::kOstatniLog, "Komunikacja", "OstatniLog", "Ardu2021-07-13"},
                      KeyCase{s::kOstatniWyslany, "Komunikacja", "OstatniWyslany", "2012-01-01"},
                      KeyCase{s::kAvg, "Wykres", "avg", "1"},
                      KeyCase{s::kPlotAvgDelta, "Wykres", "PlotAvgDelta", "60"},
                      KeyCase{s::kDniPelnejRozdzielczosci, "Wykres", "dniPelnejRozdzielczosci",
                              "7"},
                      KeyCase{s::kIdxZakladki, "Page", "idxZakladki", "0"},
                      KeyCase{s::kAktywneKan[0], "Aktywne", "kan1", "1"},
                      KeyCase{s::kAktywneKan[1], "Aktywne", "kan2", "0"},
                      KeyCase{s::kAktywneKan[2], "Aktywne", "kan3", "0"},
                      KeyCase{s::kAktywneKan[3], "Aktywne", "kan4", "0"},
                      KeyCase{s::kLegendName[0], "Legendy", "kan1", "A1"},
                      KeyCase{s::kLegendName[1], "Legendy", "kan2", "B1"},
                      KeyCase{s::kLegendName[2], "Legendy", "kan3", "C1"},
                      KeyCase{s::kLegendName[3], "Legendy", "kan4", "D1"},
                      KeyCase{s::kLegendUnit[0], "Legendy", "Jed1",
                              "\xB0"
                              "C"},
                      KeyCase{s::kLegendUnit[1], "Legendy", "Jed2", "mV"},
                      KeyCase{s::kLegendUnit[2], "Legendy", "Jed3", "hPa"},
                      KeyCase{s::kLegendUnit[3], "Legendy", "Jed4", "%"},
                      KeyCase{s::kLegendNameDialog[0], "Legendy", "kan1", "A"},
                      KeyCase{s::kLegendNameDialog[3], "Legendy", "kan4", "D"},
                      KeyCase{s::kLegendUnitDialog[0], "Legendy", "Jed1", "mV"},
                      KeyCase{s::kLegendUnitDialog[3], "Legendy", "Jed4", "mV"},
                      KeyCase{s::kTabela, "PostWWW", "Tabela", "test"},
                      KeyCase{s::kAdresy, "PostWWW", "adresy", ""}));

TEST(SettingsKeys, ScriptAddressEndsInTheRecordingScript) {
    EXPECT_TRUE(settings::kAdresSkryptu.def.ends_with("/Zapisz2Pomiary.php"));
}

// ---- typed reads and writes ----

struct TypedCase {
    const char* stored;
    int asInteger;  // default 5
    bool asBool;    // default false
};

class TypedRead : public UtilTest, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(TypedRead, IntegerAndBooleanRules) {
    WriteFile(BaseIni(), std::string("[S]\r\nk=") + GetParam().stored + "\r\n");
    EXPECT_EQ(util.ReadIniInteger("S", "k", 5), GetParam().asInteger);
    EXPECT_EQ(util.ReadIniBool("S", "k", false), GetParam().asBool);
}

INSTANTIATE_TEST_SUITE_P(Values, TypedRead,
                         ::testing::Values(TypedCase{"0x1F", 31, true}, TypedCase{"$1F", 31, true},
                                           TypedCase{"abc", 5, false}, TypedCase{"0", 0, false},
                                           TypedCase{"1", 1, true}, TypedCase{"-1", -1, true},
                                           TypedCase{"0x0", 0, false}, TypedCase{"", 5, false},
                                           TypedCase{" 42 ", 42, true}));

TEST_F(UtilTest, WritesStoreDecimalIntegersAndOneOrZero) {
    util.WriteIniInteger("S", "i", -16777211);
    util.WriteIniBool("S", "t", true);
    util.WriteIniBool("S", "f", false);
    util.WriteIniString("S", "s", "  padded  ");
    EXPECT_EQ(ReadFile(BaseIni()), "[S]\r\ni=-16777211\r\nt=1\r\nf=0\r\ns=\"  padded  \"\r\n");
    EXPECT_EQ(util.ReadIniInteger("S", "i", 0), -16777211);
    EXPECT_EQ(util.ReadIniString("S", "s", ""), "  padded  ");
}

TEST_F(UtilTest, RefusedWriteRaisesWithTheSettingsPath) {
    fs::create_directories(config);
    WriteFile(config + "/ardu", "a regular file where the folder belongs");
    try {
        util.WriteIniString("CONFIG", "nrCOMport", "ttyUSB0");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        // The folder's own failure, not the missing folder's consequence.
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + BaseIni() + Cp(": część ścieżki nie jest folderem"));
    }
    EXPECT_EQ(util.Read(settings::kNrComPort), "ttyACM0");
}

// ---- paths ----

// Settings and data need a private folder; nothing falls back to /tmp.
TEST_F(UtilTest, SettingsFolderNeedsXdgOrAnExistingHome) {
    WriteFile(dir.file("file"), "");
    const std::string home = dir.path(), file = dir.file("file");
    const struct {
        const char *xdg, *home, *passwd;
        bool usable;
    } cases[] = {
        {"/anywhere", nullptr, nullptr, true},
        {nullptr, home.c_str(), nullptr, true},
        {"", "", home.c_str(), true},
        {"relative", nullptr, nullptr, false},
        {nullptr, nullptr, nullptr, false},
        {"", "", "", false},
        {nullptr, "/nonexistent-pomiarnik-home", home.c_str(), false},
        {nullptr, "relative/home", nullptr, false},
        {nullptr, file.c_str(), nullptr, false},
    };
    for (const auto& c : cases) {
        const std::string problem = SettingsFolderProblem(c.xdg, c.home, c.passwd);
        EXPECT_EQ(problem.empty(), c.usable)
            << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-") << " " << problem;
        if (!c.usable) {
            EXPECT_NE(problem.find("XDG_CONFIG_HOME"), std::string::npos);
        }
    }
}

TEST_F(UtilTest, AppDataFolderIsCreated) {
    EXPECT_EQ(util.AppDataFolder(), config);
    EXPECT_TRUE(fs::is_directory(config));
}

TEST(AppDataFolder, FallsBackToHomeConfigWhenUnsetOrRelative) {
    TempDir dir;
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome != nullptr ? oldHome : "";
    setenv("HOME", dir.path().c_str(), 1);
    FakeClock clock;
    TdmUtil util(clock);
    {
        ScopedConfigHome relative("relative/path");
        EXPECT_EQ(util.AppDataFolder(), dir.path() + "/.config");
    }
    {
        ScopedConfigHome home("");
        unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(util.AppDataFolder(), dir.path() + "/.config");
    }
    if (oldHome != nullptr) setenv("HOME", saved.c_str(), 1);
    EXPECT_TRUE(fs::is_directory(dir.path() + "/.config"));
}

struct FolderCase {
    const char* stationFolder;
    const char* iniBelowConfig;
};

class IniPath : public UtilTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(IniPath, StationFolderSelectsTheFileAndCreatesItsFolder) {
    util.stationFolder = GetParam().stationFolder;
    const std::string ini = util.IniFileName();
    EXPECT_EQ(ini, config + GetParam().iniBelowConfig);
    EXPECT_TRUE(fs::is_directory(fs::path(ini).parent_path()));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, IniPath,
    ::testing::Values(FolderCase{"\\Ardu", "/ardu/pomiarnik.ini"},
                      FolderCase{"\\ardu\\DS3231", "/ardu/DS3231/pomiarnik.ini"},
                      FolderCase{"\\ARDU\\BME280", "/ardu/BME280/pomiarnik.ini"}));

TEST_F(UtilTest, EachStationKindHasItsOwnSettingsBesideTheBaseFile) {
    util.Write(settings::kNrComPortBaud, 19200);
    util.stationFolder = "\\ardu\\BME280";
    EXPECT_EQ(util.Read(settings::kNrComPortBaud), 57600);
    util.Write(settings::kNrComPortBaud, 115200);
    util.stationFolder = "\\Ardu";
    EXPECT_EQ(util.Read(settings::kNrComPortBaud), 19200);
    EXPECT_TRUE(FileExists(config + "/ardu/BME280/pomiarnik.ini"));
}

TEST_F(UtilTest, NoStationMeansNoDataOrUnsentFileAndNoFolder) {
    EXPECT_EQ(util.DataFileName(), "");
    EXPECT_EQ(util.UnsentFileName(), "");
    EXPECT_FALSE(fs::exists(config + "/ardu/data"));
    EXPECT_EQ(util.FileNameMask, "YYYY-MM-DD hh_mm_ss");  // no prefix added either
}

TEST_F(UtilTest, UnsentFileLivesInTheDataFolder) {
    util.stationFolder = "\\ardu\\DS3231";
    EXPECT_EQ(util.UnsentFileName(), config + "/ardu/DS3231/data/niewyslane.txt");
    EXPECT_TRUE(fs::is_directory(config + "/ardu/DS3231/data"));
}

TEST_F(UtilTest, TimeStampPrefixIsTwentyCharacters) {
    EXPECT_EQ(util.TimeStampPrefix(), "2023-05-14 07:05:09 ");
}

struct NameCase {
    const char* mask;
    const char* name;  // below the data folder
    const char* maskAfter;
};

class DataFileNameTest : public UtilTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DataFileNameTest, FormsTheDatedName) {
    util.stationFolder = "\\ardu\\DS3231";
    util.FileNameMask = GetParam().mask;
    const std::string path = util.DataFileName();
    EXPECT_EQ(path, config + "/ardu/DS3231/data/" + GetParam().name);
    EXPECT_EQ(util.FileNameMask, GetParam().maskAfter);
    EXPECT_TRUE(fs::is_directory(fs::path(path).parent_path()));
}

INSTANTIATE_TEST_SUITE_P(
    Masks, DataFileNameTest,
    ::testing::Values(NameCase{"YYYY-MM-DD hh_mm_ss", "Ardu2023-05-14 07_05_09.txt",
                               "\"Ardu\"YYYY-MM-DD hh_mm_ss"},
                      NameCase{"YYYY-MM-DD", "Ardu2023-05-14.txt", "\"Ardu\"YYYY-MM-DD"},
                      NameCase{"\"log\" YYYY.MM.DD", "log 2023.05.txt", "\"log\" YYYY.MM.DD"},
                      NameCase{"\"x\"hh:nn", "x07_05.txt", "\"x\"hh:nn"},
                      NameCase{"\"x\":'a:b'", "x_a_b.txt", "\"x\":'a:b'"},
                      NameCase{"'q'hh", "Arduq07.txt", "\"Ardu\"'q'hh"},
                      NameCase{"\"x\"YYYY/MM/DD", "x2023-05-14.txt", "\"x\"YYYY/MM/DD"},
                      NameCase{"\"f.log\"", "f.txt", "\"f.log\""},
                      NameCase{"\"sub\\\"YYYY.MM", "sub/2023.05", "\"sub\\\"YYYY.MM"}));

// ---- window placement ----

struct PlacementCase {
    const char* name;
    std::string stored;  // lines of the [MonitorT] section
    FormPlacement expected;
};

const FormPlacement kCurrent{100, 50, 640, 480, "Tahoma", 8, 0, 238};

class Placement : public UtilTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, LeftAndTopCorrectedAgainstTheScreenOnly) {
    WriteFile(BaseIni(), "[MonitorT]\r\n" + GetParam().stored);
    EXPECT_EQ(LoadFormPlacement(util, "MonitorT", kCurrent, 1920, 1080), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Placement,
    ::testing::Values(
        PlacementCase{"NothingStored", "", kCurrent},
        PlacementCase{"AllStored",
                      "Form_X=5\r\nForm_Y=6\r\nForm_W=7\r\nForm_H=8\r\nFont=Arial\r\n"
                      "Fontsize=12\r\nFontColor=-16777211\r\nCharset=204\r\n",
                      {5, 6, 7, 8, "Arial", 12, -16777211, 204}},
        PlacementCase{
            "LeftBeyondScreen", "Form_X=1921\r\n", {10, 50, 640, 480, "Tahoma", 8, 0, 238}},
        PlacementCase{
            "LeftAtScreenEdgeStays", "Form_X=1920\r\n", {1920, 50, 640, 480, "Tahoma", 8, 0, 238}},
        PlacementCase{"NegativeLeftNotCorrected",
                      "Form_X=-300\r\n",
                      {-300, 50, 640, 480, "Tahoma", 8, 0, 238}},
        PlacementCase{
            "TopBeyondScreen", "Form_Y=2000\r\n", {100, 10, 640, 480, "Tahoma", 8, 0, 238}},
        PlacementCase{"SizeNotClamped",
                      "Form_W=9000\r\nForm_H=9000\r\n",
                      {100, 50, 9000, 9000, "Tahoma", 8, 0, 238}},
        PlacementCase{
            "CharsetTakenAsByte", "Charset=$1EE\r\n", {100, 50, 640, 480, "Tahoma", 8, 0, 0xEE}},
        PlacementCase{"UnparsableFallsBack", "Form_X=abc\r\nFontsize=\r\n", kCurrent}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UtilTest, PlacementSavedInOrderAndReadBack) {
    const FormPlacement p{12, 34, 560, 780, "DejaVu Sans", 10, 0x00FF00, 238};
    SaveFormPlacement(util, "fOKhostSQL", p);
    EXPECT_EQ(ReadFile(BaseIni()),
              "[fOKhostSQL]\r\nForm_X=12\r\nForm_Y=34\r\nForm_W=560\r\nForm_H=780\r\n"
              "Font=DejaVu Sans\r\nFontsize=10\r\nFontColor=65280\r\nCharset=238\r\n");
    EXPECT_EQ(LoadFormPlacement(util, "fOKhostSQL", kCurrent, 1920, 1080), p);
}

TEST_F(UtilTest, DialogPositionKeepsOnlyItsTwoKeys) {
    SaveDialogPosition(util, "fEDwsp", {3000, 20});
    EXPECT_EQ(ReadFile(BaseIni()), "[fEDwsp]\r\nForm_X=3000\r\nForm_Y=20\r\n");
    EXPECT_EQ(LoadDialogPosition(util, "fEDwsp", {1, 2}, 1920, 1080), (DialogPosition{10, 20}));
    EXPECT_EQ(LoadDialogPosition(util, "other", {1, 2}, 1920, 1080), (DialogPosition{1, 2}));
}

// ---- autostart entry ----

class AutoStart : public UtilTest {
protected:
    std::string Entry() const {
        return config + "/autostart/" + std::string(settings::kApplicationTitle) + ".desktop";
    }
};

TEST_F(AutoStart, AbsentEntryGivesQuestionMarks) {
    std::string command = "x";
    EXPECT_FALSE(GetAutoStart(util, settings::kApplicationTitle, command));
    EXPECT_EQ(command, "???");
}

TEST_F(AutoStart, RegisteredPathReadsBackExactly) {
    for (const std::string path :
         {"/usr/bin/pomiarnik", "/opt/my apps/pomiar nik", "/weird/\"q\"$HOME`x`\\b%u"}) {
        ASSERT_TRUE(SetAutoStart(util, settings::kApplicationTitle, path, true));
        std::string command;
        EXPECT_TRUE(GetAutoStart(util, settings::kApplicationTitle, command));
        EXPECT_EQ(command, path);
    }
}

TEST_F(AutoStart, EntryIsADesktopFileWithAQuotedExecLine) {
    SetAutoStart(util, settings::kApplicationTitle, "/opt/a b/pomiarnik", true);
    EXPECT_EQ(ReadFile(Entry()),
              "[Desktop Entry]\nType=Application\nName=Vurirozavar Odid Ozoru ruver\n"
              "Exec=\"/opt/a b/pomiarnik\"\nX-GNOME-Autostart-enabled=true\n");
}

TEST_F(AutoStart, DisablingRemovesTheEntryAndMissingIsNoError) {
    SetAutoStart(util, settings::kApplicationTitle, "/usr/bin/pomiarnik", true);
    EXPECT_TRUE(SetAutoStart(util, settings::kApplicationTitle, "", false));
    EXPECT_FALSE(FileExists(Entry()));
    EXPECT_TRUE(SetAutoStart(util, settings::kApplicationTitle, "", false));
}

TEST_F(AutoStart, HandWrittenOrSwitchedOffEntries) {
    WriteFile(Entry(), "[Desktop Entry]\nExec=/usr/bin/pomiarnik --flag\n");
    std::string command;
    EXPECT_TRUE(GetAutoStart(util, settings::kApplicationTitle, command));
    EXPECT_EQ(command, "/usr/bin/pomiarnik");
    WriteFile(Entry(), "[Desktop Entry]\nExec=/usr/bin/pomiarnik\nHidden=true\n");
    EXPECT_FALSE(GetAutoStart(util, settings::kApplicationTitle, command));
    EXPECT_EQ(command, "???");
}

TEST_F(AutoStart, FalseWhenTheAutostartFolderCannotBeMade) {
    WriteFile(config + "/autostart", "not a folder");
    EXPECT_FALSE(SetAutoStart(util, settings::kApplicationTitle, "/usr/bin/pomiarnik", true));
}

}  // namespace
}  // namespace pom
