#include "app/logic/DataLogFiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using test::FakeClock;
using test::FileExists;
using test::ReadFile;
using test::ScopedConfigHome;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

class FakeHost final : public DataLogHost {
public:
    void SetStatusText(const std::string& t) override { status.push_back(t); }
    void SetStatusHint(const std::string& h) override { hint = h; }
    void SetChartCaption(const std::string& c) override { caption = c; }
    int SeriesPointCount(int series) const override { return series + 4; }
    void SetAllSeriesVisible(bool v) override { calls.push_back(v ? "visible" : "hidden"); }
    void RebuildChart() override { calls.push_back("rebuild"); }
    void StopPort() override { calls.push_back("stop"); }
    void ReportError(const std::string& m) override { errors.push_back(m); }
    void ReportUnattended(const std::string& m) override { unattended.push_back(m); }

    std::vector<std::string> status;
    std::string hint = "unset";
    std::string caption = "unset";
    std::vector<std::string> calls;
    std::vector<std::string> errors;      // would be a message box
    std::vector<std::string> unattended;  // status bar, "POST" page, stderr
};

class DataLogFilesTest : public ::testing::Test {
protected:
    DataLogFilesTest() { util.stationFolder = "\\ardu\\DS3231"; }

    void AddLines(int n, const std::string& text = "line") {
        for (int i = 0; i < n; ++i) log.Append(text + std::to_string(i));
    }
    std::string DataDir() const { return config + "/ardu/DS3231/data"; }
    std::string StationIni() const { return config + "/ardu/DS3231/pomiarnik.ini"; }
    std::string Name(const char* when) const {
        return DataDir() + "/Ardu2023-05-01 " + when + ".txt";
    }
    std::string Stamp() const { return util.TimeStampPrefix(); }

    TempDir dir;
    std::string config = dir.file("cfg");
    ScopedConfigHome home{config};
    FakeClock clock;  // 2023-05-01 12:00:00
    TdmUtil util{clock};
    DataLog log;
    FakeHost host;
    DataLogFiles files{log, util, host};
};

// ---- periodic save ----

struct TickCase {
    int lines;
    bool saved;
};

class PeriodicRule : public DataLogFilesTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(PeriodicRule, SavesOnlyAboveTenLines) {
    AddLines(GetParam().lines);
    EXPECT_EQ(files.Timer4WWWSave(), GetParam().saved);
    EXPECT_EQ(FileExists(Name("12_00_00")), GetParam().saved);
    EXPECT_EQ(log.Count(), GetParam().saved ? 0u : static_cast<std::size_t>(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(Lines, PeriodicRule,
                         ::testing::Values(TickCase{0, false}, TickCase{10, false},
                                           TickCase{11, true}, TickCase{500, true}));

TEST_F(DataLogFilesTest, PeriodicSaveWritesReportsAndRemembers) {
    AddLines(11);
    const std::string expected = log.Text();
    ASSERT_TRUE(files.Timer4WWWSave());
    const std::string path = Name("12_00_00");
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(host.status,
              std::vector<std::string>{Cp("2023-05-01 12:00:00  > Zapisał: Ardu2023-05-01 "
                                          "12_00_00.txt")});
    EXPECT_EQ(host.hint, path);
    EXPECT_EQ(host.caption, "");
    EXPECT_EQ(files.LastLogPath(), path);
    EXPECT_EQ(util.Read(settings::kOstatniLog), path);
    EXPECT_FALSE(log.Modified());
    EXPECT_EQ(host.errors, std::vector<std::string>{});
}

TEST_F(DataLogFilesTest, SameNameAsLastSaveWaitsForTheNextName) {
    AddLines(11);
    ASSERT_TRUE(files.Timer4WWWSave());
    AddLines(11, "second");
    EXPECT_FALSE(files.Timer4WWWSave());  // same second, same name
    EXPECT_EQ(log.Count(), 11u);
    clock.advance(1);
    EXPECT_TRUE(files.Timer4WWWSave());
    EXPECT_EQ(ReadFile(Name("12_00_01")).substr(0, 9), "second0\r\n");
}

TEST_F(DataLogFilesTest, UnmodifiedLogIsNotSaved) {
    log.SetText("a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\n");
    EXPECT_FALSE(files.Timer4WWWSave());
    EXPECT_FALSE(fs::exists(DataDir()) && !fs::is_empty(DataDir()));
}

TEST_F(DataLogFilesTest, NoStationNoSaveLinesKept) {
    util.stationFolder = "\\Ardu";
    AddLines(20);
    EXPECT_FALSE(files.Timer4WWWSave());
    EXPECT_FALSE(files.ManualSave());
    EXPECT_EQ(log.Count(), 20u);
    EXPECT_TRUE(log.Modified());
    EXPECT_FALSE(fs::exists(config + "/ardu/data"));
}

TEST_F(DataLogFilesTest, PeriodicSaveOntoARecurringNameKeepsTheEarlierLines) {
    // The clock was set back: the name of an earlier file comes round again.
    WriteFile(Name("12_00_00"), "earlier\r\n");
    AddLines(11);
    ASSERT_TRUE(files.Timer4WWWSave());
    std::string expected = "earlier\r\n";
    for (int i = 0; i < 11; ++i) expected += "line" + std::to_string(i) + "\r\n";
    EXPECT_EQ(ReadFile(Name("12_00_00")), expected);
}

// ---- manual save ----

TEST_F(DataLogFilesTest, ManualSaveMergesAfterAnExistingFile) {
    const std::string path = Name("12_00_00");
    WriteFile(path, "old1\r\nold2\n");
    log.Append("new1");
    log.Append("new2");
    ASSERT_TRUE(files.ManualSave());
    EXPECT_EQ(ReadFile(path), "old1\r\nold2\r\nnew1\r\nnew2\r\n");
    EXPECT_EQ(host.status, std::vector<std::string>{Cp("2023-05-01 12:00:00 zapisał: "
                                                       "Ardu2023-05-01 12_00_00.txt")});
    // Series 0, 1 and 2: the first three channels, as the point-marks caption counts them.
    EXPECT_EQ(host.caption, Cp("0 linii w Dane TXT | 4 / 5 / 6 punktów wykresów"));
    EXPECT_EQ(host.hint, path);
    EXPECT_EQ(files.LastLogPath(), path);
    EXPECT_EQ(log.Count(), 0u);
    // The manual save leaves OstatniLog alone.
    EXPECT_EQ(util.Read(settings::kOstatniLog), "Ardu2021-07-13");
}

TEST_F(DataLogFilesTest, ManualSaveAfterReloadOfTheSameDayFileDoesNotDoubleIt) {
    // A whole-day mask: the file reloaded at start-up is the one the save
    // at shut-down writes to.
    util.FileNameMask = "\"day\"YYYY-MM-DD";
    const std::string path = DataDir() + "/day2023-05-01.txt";
    WriteFile(path, "f1\r\nf2\r\n");
    util.Write(settings::kOstatniLog, path);
    log.Append("k1");
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(files.StartupReload());
        log.Append("new" + std::to_string(run));
        ASSERT_TRUE(files.ManualSave());
    }
    const std::string note = Stamp() + Cp("odczytał ostatni zapisany log: ") + path + "\r\n";
    const std::string active = Stamp() + "Active 2<\r\n";
    EXPECT_EQ(ReadFile(path),
              "f1\r\nf2\r\n" + note + "k1\r\n" + active + "new0\r\n" + note + active + "new1\r\n");
}

TEST_F(DataLogFilesTest, ManualSaveAfterReadingTheFileBackDoesNotDoubleIt) {
    const std::string path = Name("12_00_00");
    WriteFile(path, "old1\r\nold2\r\n");
    ASSERT_TRUE(files.ReadBack(path));
    log.Append("new");
    ASSERT_TRUE(files.ManualSave());
    EXPECT_EQ(ReadFile(path), "old1\r\nold2\r\nnew\r\n");
}

TEST_F(DataLogFilesTest, ManualSaveOfUnmodifiedLogDoesNothing) {
    log.SetText("a\r\n");
    EXPECT_FALSE(files.ManualSave());
    EXPECT_EQ(host.status, std::vector<std::string>{});
    EXPECT_EQ(log.Count(), 1u);
}

// ---- failures keep everything ----

class FailedSave : public DataLogFilesTest {
protected:
    // A save the user asked for may ask; a periodic one reports without a
    // dialog.
    void ExpectNothingChanged(std::size_t lines, bool periodic) {
        const std::vector<std::string>& said = periodic ? host.unattended : host.errors;
        EXPECT_TRUE((periodic ? host.errors : host.unattended).empty());
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find(Name("12_00_00")), std::string::npos) << said[0];
        EXPECT_EQ(log.Count(), lines);
        EXPECT_TRUE(log.Modified());
        EXPECT_EQ(files.LastLogPath(), "New");
        EXPECT_EQ(util.Read(settings::kOstatniLog), "Ardu2021-07-13");
        EXPECT_EQ(host.status, std::vector<std::string>{});
        EXPECT_EQ(host.hint, "unset");
    }
};

// Every tick tries again under a new name; a full disk must neither stop the
// ticks with a dialog nor fill the "POST" page: said once, then only in the
// status bar, until a save succeeds. The user's own save may still ask.
TEST_F(FailedSave, PeriodicSaveIntoAFolderThatCannotBeMade) {
    fs::create_directories(config + "/ardu/DS3231");
    WriteFile(DataDir(), "a regular file where the data folder belongs");
    AddLines(11);
    EXPECT_FALSE(files.Timer4WWWSave());
    ExpectNothingChanged(11, true);
    for (int tick = 0; tick < 2; ++tick) {
        clock.advance(1);
        EXPECT_FALSE(files.Timer4WWWSave());
    }
    EXPECT_EQ(host.unattended.size(), 1u);
    EXPECT_EQ(host.status.size(), 2u);  // the repeats
    EXPECT_FALSE(files.ManualSave());
    EXPECT_EQ(host.errors.size(), 1u);
    // Once a save went through, the next failure is said again.
    fs::remove(DataDir());
    EXPECT_TRUE(files.Timer4WWWSave());
    fs::remove_all(DataDir());
    WriteFile(DataDir(), "in the way again");
    AddLines(11);
    clock.advance(1);
    EXPECT_FALSE(files.Timer4WWWSave());
    EXPECT_EQ(host.unattended.size(), 2u);
}

// A folder the user may not write to: the save and the unsent file say so,
// rather than that the data folder is missing.
TEST_F(FailedSave, UnwritableStationFolderReportsTheRealCause) {
    fs::create_directories(config + "/ardu/DS3231");
    fs::permissions(dir.path(), fs::perms(0755));
    AddLines(11);
    // Root may write anything, so the saves run in a child as an ordinary user.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
        const std::string denied = Cp(": brak uprawnień");
        std::string unsentError;
        util.UnsentFileName(&unsentError);
        const bool saved = files.Timer4WWWSave();
        const bool ok = !saved && host.errors.empty() && host.unattended.size() == 1 &&
                        host.unattended[0] == PathToText(Name("12_00_00")) + denied &&
                        unsentError == DataDir() + denied && log.Count() == 11;
        if (!ok && !host.unattended.empty())
            std::fprintf(stderr, "%s\n", host.unattended[0].c_str());
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FailedSave, ManualSaveOverAnUnreadableFileDoesNotRepeatTheMerge) {
    fs::create_directories(Name("12_00_00"));  // a folder of the file's name
    AddLines(3);
    EXPECT_FALSE(files.ManualSave());
    ExpectNothingChanged(3, false);
    EXPECT_EQ(log.Line(0), "line0");  // the log was not merged into
}

TEST_F(FailedSave, SettingRefusedAfterTheFileWasWrittenIsReported) {
    AddLines(11);
    fs::create_directories(StationIni());  // the settings file cannot be replaced
    EXPECT_TRUE(files.Timer4WWWSave());
    EXPECT_TRUE(host.errors.empty());
    ASSERT_EQ(host.unattended.size(), 1u);
    EXPECT_EQ(host.unattended[0], "Unable to write to " + StationIni() + Cp(": to jest folder"));
    EXPECT_TRUE(FileExists(Name("12_00_00")));
}

// A mask may name sub-folders of the data folder, never a way out of it.
TEST_F(DataLogFilesTest, MaskFoldersStayInsideTheDataFolder) {
    const struct {
        const char* mask;
        const char* saved;  // below the data folder, or null when refused
    } cases[] = {
        {"\"dane\\pomiar \"YYYY", "dane/pomiar 2023"},
        {"\"..\\..\\x\"YYYY", nullptr},
        {"\"dane\\..\\..\\y\"", nullptr},
    };
    for (const auto& c : cases) {
        host.errors.clear();
        log.Clear();
        AddLines(3);
        files.ApplyDateMask(c.mask);
        EXPECT_EQ(files.ManualSave(), c.saved != nullptr) << c.mask;
        if (c.saved != nullptr) {
            EXPECT_TRUE(FileExists(DataDir() + "/" + c.saved)) << c.mask;
            EXPECT_TRUE(host.errors.empty()) << c.mask;
            continue;
        }
        ASSERT_EQ(host.errors.size(), 1u) << c.mask;
        EXPECT_NE(host.errors[0].find(Cp("poza folder danych")), std::string::npos);
        EXPECT_EQ(log.Count(), 3u);
        EXPECT_TRUE(log.Modified());
        EXPECT_EQ(files.OpenDialogFileName(), "");
    }
    EXPECT_FALSE(fs::exists(config + "/ardu/x"));
    EXPECT_FALSE(fs::exists(config + "/ardu/y"));
    EXPECT_FALSE(fs::exists(config + "/ardu/DS3231/y"));
}

// Paths stay UTF-8 on disk; they are Windows-1250 only as text (status,
// hint, log line, OstatniLog) and become paths again when read back.
TEST_F(DataLogFilesTest, PolishLettersInFolderAndMaskMakeUtf8FileNames) {
    const std::string polishConfig = dir.file("łukasz/łódź");
    ScopedConfigHome polish{polishConfig};
    const std::string data = polishConfig + "/ardu/DS3231/data";
    const std::string file = data + "/pomiar żółw 2023.txt";
    files.ApplyDateMask(Cp("\"pomiar żółw \"YYYY"));
    AddLines(11);
    ASSERT_TRUE(files.Timer4WWWSave());
    ASSERT_TRUE(FileExists(file)) << "no file of the UTF-8 name";
    EXPECT_EQ(host.status.back(), Stamp() + Cp(" > Zapisał: pomiar żółw 2023.txt"));
    EXPECT_EQ(host.hint, Cp(file));
    EXPECT_EQ(util.Read(settings::kOstatniLog), Cp(file));
    EXPECT_EQ(files.LastLogPath(), file);
    EXPECT_EQ(files.OpenDialogFileName(), file);

    ASSERT_TRUE(files.ReadBack(file));
    EXPECT_EQ(host.status.back(), Cp("odczytał: " + file));
    EXPECT_EQ(log.Count(), 11u);

    log.Clear();
    ASSERT_TRUE(files.StartupReload());
    EXPECT_EQ(log.Line(11), Stamp() + Cp("odczytał ostatni zapisany log: " + file));
    EXPECT_EQ(host.status.back(), Cp("start za 10 sek. odczytał: pomiar żółw 2023.txt"));
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(DataLogFilesTest, StartupReloadStillFindsAPathStoredAsUtf8Bytes) {
    const std::string path = dir.file("stary zapis ł.txt");
    WriteFile(path, "f1\r\n");
    util.Write(settings::kOstatniLog, path);  // as earlier versions stored it
    EXPECT_TRUE(files.StartupReload());
    EXPECT_EQ(files.LastLogPath(), path);
}

// ---- reading back ----

TEST_F(DataLogFilesTest, ReadBackReplacesTheLogOnly) {
    const std::string path = dir.file("picked.txt");
    WriteFile(path, "r1\nr2\rr3");
    log.Append("before");
    ASSERT_TRUE(files.ReadBack(path));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"r1", "r2", "r3"}));
    EXPECT_FALSE(log.Modified());
    EXPECT_EQ(host.status, std::vector<std::string>{Cp("odczytał: ") + path});
    EXPECT_EQ(host.calls, std::vector<std::string>{});  // chart left as it was
    EXPECT_EQ(files.LastLogPath(), "New");
}

TEST_F(DataLogFilesTest, ReadBackOfMissingFileReportsAndKeepsTheLog) {
    log.Append("before");
    EXPECT_FALSE(files.ReadBack(dir.file("absent.txt")));
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"before"});
    EXPECT_TRUE(log.Modified());
    EXPECT_EQ(host.errors.size(), 1u);
}

TEST_F(DataLogFilesTest, OpenDialogPresetIsTheDatedName) {
    EXPECT_EQ(files.OpenDialogFileName(), Name("12_00_00"));
    util.stationFolder = "\\Ardu";
    EXPECT_EQ(files.OpenDialogFileName(), "");
}

// ---- start-up reload ----

TEST_F(DataLogFilesTest, StartupReloadPutsTheFileFirstThenTheNoteThenTheLog) {
    const std::string path = DataDir() + "/last.txt";
    WriteFile(path, "f1\r\nf2\r\n");
    util.Write(settings::kOstatniLog, path);
    log.Append("k1");
    log.Append("k2");
    ASSERT_TRUE(files.StartupReload());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "f1", "f2", Stamp() + Cp("odczytał ostatni zapisany log: ") + path,
                               "k1", "k2", Stamp() + "Active 2<"}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"hidden", "stop", "rebuild", "visible"}));
    EXPECT_EQ(host.status, std::vector<std::string>{Cp("start za 10 sek. odczytał: last.txt")});
    EXPECT_EQ(files.LastLogPath(), path);
    EXPECT_FALSE(log.Modified());
}

TEST_F(DataLogFilesTest, StartupReloadWithoutTheFileOnlyMarks) {
    log.Append("k1");
    EXPECT_FALSE(files.StartupReload());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"k1", Stamp() + "Active 2<"}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"hidden", "visible"}));
    EXPECT_EQ(files.LastLogPath(), "New");
}

TEST_F(DataLogFilesTest, StartupReloadOfAnUnreadableFileKeepsThePortRunning) {
    // A regular file whose reading fails even for root (address 0 is unmapped).
    const std::string path = "/proc/self/mem";
    util.Write(settings::kOstatniLog, path);
    log.Append("k1");
    EXPECT_FALSE(files.StartupReload());
    EXPECT_EQ(host.calls, (std::vector<std::string>{"hidden", "visible"}));
    EXPECT_EQ(host.errors, std::vector<std::string>{path + Cp(": błąd wejścia/wyjścia")});
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"k1", Stamp() + "Active 2<"}));
    EXPECT_EQ(files.LastLogPath(), "New");
}

// ---- test fill, mask and averaging count ----

TEST_F(DataLogFilesTest, TestFillAppends36000UnstampedLines) {
    files.TestFill();
    ASSERT_EQ(log.Count(), 36000u);
    EXPECT_EQ(log.Line(0), "test bufor: 255,255,255,255,35,0, -> -0.1 3.5");
    EXPECT_EQ(log.Line(35999), log.Line(0));
    EXPECT_TRUE(log.Modified());
}

TEST_F(DataLogFilesTest, DateMaskAppliedStoredAndUsed) {
    EXPECT_EQ(files.ApplyDateMask("\"pomiar \"YYYY-MM-DD"),
              "maska daty w nazwie pliku: \"pomiar \"YYYY-MM-DD");
    EXPECT_EQ(util.Read(settings::kMaskaDaty), "\"pomiar \"YYYY-MM-DD");
    EXPECT_EQ(ReadFile(StationIni()), "[CONFIG]\r\nmaskaDaty=\"pomiar \"YYYY-MM-DD\r\n");
    EXPECT_EQ(util.DataFileName(), DataDir() + "/pomiar 2023-05-01.txt");
}

TEST_F(DataLogFilesTest, MaskInQuotesAtBothEndsSurvivesARestart) {
    files.ApplyDateMask("\"pomiar\" YYYY-MM-DD \"h\"");
    util.FileNameMask = "lost";
    files.LoadSettings();
    EXPECT_EQ(util.FileNameMask, "\"pomiar\" YYYY-MM-DD \"h\"");
}

TEST_F(DataLogFilesTest, MaskWithoutQuoteShowsThePrefixAfterTheFirstName) {
    util.Write(settings::kMaskaDaty, "YYYY-MM-DD");
    files.LoadSettings();
    EXPECT_EQ(files.MaskCaption(), "maska daty w nazwie pliku: YYYY-MM-DD");
    AddLines(11);
    files.Timer4WWWSave();
    EXPECT_TRUE(FileExists(DataDir() + "/Ardu2023-05-01.txt"));
    EXPECT_EQ(files.MaskCaption(), "maska daty w nazwie pliku: \"Ardu\"YYYY-MM-DD");
}

TEST_F(DataLogFilesTest, RefusedMaskSettingIsReportedAndTheMaskStillUsed) {
    fs::create_directories(StationIni());
    files.ApplyDateMask("YYYY");
    EXPECT_EQ(host.errors, std::vector<std::string>{"Unable to write to " + StationIni() +
                                                    Cp(": to jest folder")});
    EXPECT_EQ(util.FileNameMask, "YYYY");
}

struct CountCase {
    const char* typed;
    std::optional<int> stored;
};

class AveragingCount : public DataLogFilesTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(AveragingCount, ParsedRoundedStoredAndCaptioned) {
    const CountCase& c = GetParam();
    const auto caption = files.ApplyAveragingCount(c.typed);
    if (!c.stored) {
        EXPECT_EQ(caption, std::nullopt);
        EXPECT_EQ(files.AveragingCount(), 100);
        EXPECT_FALSE(FileExists(StationIni()));
        return;
    }
    EXPECT_EQ(caption, Cp("zapisuje do Dane TXT po uśrednieniu ") + c.typed + Cp(" odczytów"));
    EXPECT_EQ(files.AveragingCount(), *c.stored);
    EXPECT_EQ(util.Read(settings::kIleDoSredniej), *c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, AveragingCount,
    ::testing::Values(CountCase{"0", 1}, CountCase{"abc", std::nullopt}, CountCase{"2.5", 2},
                      CountCase{"3.5", 4}, CountCase{"12", 12}, CountCase{"-7", 1},
                      CountCase{"0.4", 1}, CountCase{"1e2", 100}, CountCase{" 5 ", 5},
                      CountCase{"", std::nullopt}, CountCase{"1,5", std::nullopt},
                      CountCase{"inf", std::nullopt}, CountCase{"nan", std::nullopt},
                      CountCase{"1e20", std::nullopt}, CountCase{"12x", std::nullopt},
                      CountCase{".", std::nullopt}, CountCase{"1e", std::nullopt},
                      CountCase{"+7", 7}, CountCase{"+-7", std::nullopt},
                      CountCase{"-+7", std::nullopt}, CountCase{"++7", std::nullopt}));

TEST_F(DataLogFilesTest, StartupCaptionsAndDialogTexts) {
    util.Write(settings::kIleDoSredniej, 25);
    files.LoadSettings();
    EXPECT_EQ(files.AveragingCountCaption(), Cp("zapisuje do Dane TXT po uśrednieniu 25 odczytów"));
    EXPECT_EQ(files.AveragingDialogText(), "25");
    EXPECT_EQ(files.MaskCaption(), "maska daty w nazwie pliku: YYYY-MM-DD hh_mm_ss");
    EXPECT_EQ(DataLogFiles::MaskDialogCaption(), Cp("\"nazwa pliku\" z datą"));
    EXPECT_EQ(DataLogFiles::MaskDialogPrompt(),
              "wprowadz nazwe pliku i format daty wg wzoru: \"nazwa pliku\" YYYY-MM-DD hh_mm_ss "
              "nie stosij dwukropka");
    EXPECT_EQ(DataLogFiles::AveragingDialogCaption(), Cp("średnia"));
    EXPECT_EQ(DataLogFiles::AveragingDialogPrompt(), Cp("z ilu odczytów?"));
}

}  // namespace
}  // namespace pom
