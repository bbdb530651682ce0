// "odśwież Rys" from the dated files: which files a name makes a save of the
// station's, and the rebuild from a set of files and the memory on its worker.
#include "app/logic/ChartFileRebuild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/logic/DataLog.h"
#include "app/logic/Readings.h"
#include "app/logic/StationParse.h"
#include "serial/QueuedDispatcher.h"
#include "tests/support/FakeReadingsHost.h"
#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"
#include "util/TdmUtil.h"

namespace pom {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// ---- names

struct NameCase {
    const char* mask;
    const char* name;
    DataFileKind kind;
    const char* latestDate;  // for Dated
};

class NameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTable, ReadsTheDateBackThroughTheMask) {
    const NameCase& c = GetParam();
    const DataFileMatch m = MatchDataFileName(c.mask, Cp(c.name));
    EXPECT_EQ(m.kind, c.kind) << c.mask << " | " << c.name;
    if (c.kind == DataFileKind::Dated) {
        EXPECT_EQ(FormatRebuildDate(m.latest), c.latestDate);
    }
}

constexpr DataFileKind kOther = DataFileKind::Other;
constexpr DataFileKind kBad = DataFileKind::BadDate;
constexpr DataFileKind kDated = DataFileKind::Dated;

INSTANTIATE_TEST_SUITE_P(
    Names, NameTable,
    ::testing::Values(NameCase{"\"Ardu\"YYYY-MM-DD hh:mm:ss", "Ardu2023-05-01 12_00_07.txt", kDated,
                               "2023-05-01"},
                      // Not the station's saves: another name, the unsent file, another extension.
                      NameCase{"YYYY-MM-DD hh_mm_ss", "niewyslane.txt", kOther, ""},
                      NameCase{"YYYY-MM-DD hh_mm_ss", "Ardu2023-05-01 12_00_07.csv", kOther, ""},
                      // Named like a save, but no date.
                      NameCase{"YYYY-MM-DD hh_mm_ss", "Ardu2023-13-01 12_00_07.txt", kBad, ""},
                      NameCase{"YYYY-MM-DD hh_mm_ss", "Ardu2023-02-29 12_00_07.txt", kBad, ""},
                      NameCase{"YYYY-MM-DD hh_mm_ss", "Ardu2023-05-0x 12_00_07.txt", kBad, ""},
                      // A day cut off by the extension leaves the month's end.
                      NameCase{"\"log \"YYYY.MM.DD", "log 2023.05.txt", kDated, "2023-05-31"},
                      NameCase{"\"log \"YYYY.MM.DD", "log 2023.05.14.txt", kBad, ""},
                      // Short forms, month names, sub-folders.
                      NameCase{"\"A\"yymmdd", "A230501.txt", kDated, "2023-05-01"},
                      NameCase{"\"A\"dd mmmm yyyy", "A01 październik 2023.txt", kDated,
                               "2023-10-01"},
                      NameCase{"\"dane\\\"yyyy\\mm-dd", "dane/2023/05-01.txt", kBad, ""}));

// Every name the saves form is read back to its time, whatever the mask.
TEST(DataFileNameTest, NamesTheSavesFormAreReadBackToTheirDay) {
    test::TempDir dir;
    test::ScopedConfigHome home(dir.path());
    test::FakeClock clock;
    TdmUtil util(clock);
    util.stationFolder = "\\ardu\\DS3231";
    // The second mask loses its year with the extension: such a name may
    // hold any year.
    const std::pair<const char*, bool> masks[] = {{"YYYY-MM-DD hh_mm_ss", true},
                                                  {"\"x\"d.m.yy h_n", false},
                                                  {"\"sub\\\"yyyy-mm\\\"d\"dd", true}};
    const LocalDateTime times[] = {{2023, 1, 9, 7, 5, 9, 0}, {2024, 2, 29, 23, 59, 59, 0}};
    const std::string folder = util.StationDataFolder() + "/";
    for (const auto& [mask, wholeDate] : masks) {
        for (const LocalDateTime& t : times) {
            clock.set(t);
            util.FileNameMask = mask;
            const std::string path = util.DataFileName();
            const std::string name = PathToText(path.substr(folder.size()));
            const DataFileMatch m = MatchDataFileName(mask, name);
            ASSERT_EQ(m.kind, DataFileKind::Dated) << mask << " | " << name;
            EXPECT_GE(m.latest, t) << mask << " | " << name;
            if (wholeDate) {
                EXPECT_EQ(FormatRebuildDate(m.latest), FormatRebuildDate(t))
                    << mask << " | " << name;
            }
        }
    }
}

// ---- the rebuild

// The window's side: points recorded; the held port keeps received lines
// until it is let go, as the window's receive hold does.
class Host final : public test::FakeReadingsHost, public ChartRebuildHost {
public:
    std::string Stamp() override { return "2023-05-09 12:00:00 "; }
    void AppendLog(std::string line) override { log.push_back(std::move(line)); }
    int ValueCount() const override { return valueCount; }
    void SetValueCount(int n) override { valueCount = n; }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    void SetAllSeriesVisible(bool) override {}
    void ClearPlot() override { points.clear(); }
    void PausePort() override { held = true; }
    void ResumePort() override {
        ++resumes;
        held = false;
        for (const std::string& line : waiting) Receive(line);
        waiting.clear();
    }
    LocalDateTime RebuildStartDate() const override { return start; }
    void AltitudeReply(const std::string&) override {}
    void TemperatureReply(const std::string&) override {}
    void ShowChannels() override { ++shows; }

    // A line from the station: plotted at once unless the port is held.
    void Receive(const std::string& line) {
        if (held) {
            waiting.push_back(line);
            return;
        }
        int count = 0;
        readings->PlotReading(ReadingRecord(std::string_view(line).substr(20), count));
    }

    // The first value of each reading on series 0, in plotting order.
    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const Point& p : points)
            if (p.series == 0) ids.push_back(static_cast<int>(p.value));
        return ids;
    }

    Readings* readings = nullptr;
    LocalDateTime start{2023, 5, 1, 0, 0, 0, 0};
    bool held = false;
    int resumes = 0, shows = 0;
    std::vector<std::string> waiting;
};

// A reading logged at the time, whose first value tells it apart.
std::string Reading(const char* when, int id) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s R:%s %d 1 2 3 W4r:0", when, when, id);
    return buf;
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
}

struct SetCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::vector<std::string> memory;
    std::vector<int> ids;
    std::vector<std::string> complaints;  // parts of the logged complaints, in order
};

class FileSetTable : public ::testing::TestWithParam<SetCase> {
protected:
    FileSetTable() {
        host.readings = &readings;
        host.valueCount = 4;
    }

    std::string Data() const { return dir.path() + "/ardu/DS3231/data"; }

    void Write(const std::string& folder, const std::string& name, const std::string& text) {
        std::filesystem::create_directories(
            std::filesystem::path(folder + "/" + name).parent_path());
        test::WriteFile(folder + "/" + name, text);
    }

    // Starts a rebuild and lets the main thread take the batches until the end.
    bool Run(ChartFileRebuild& r, const std::string& mask = "YYYY-MM-DD hh_mm_ss") {
        r.Start(Data(), mask, log);
        return main.PumpUntil([&] { return !r.Running(); });
    }

    test::TempDir dir;
    QueuedDispatcher main;
    Host host;
    StationValues values;
    Readings readings{host, values};
    DataLog log;
};

TEST_P(FileSetTable, PlotsTheFilesFromTheDateInTimeOrderThenTheMemory) {
    const SetCase& c = GetParam();
    for (const auto& [name, text] : c.files) Write(Data(), name, text);
    // Another kind's saves, the day's, in its own folder.
    Write(dir.path() + "/ardu/BME280/data", "Ardu2023-05-01 12_00_00.txt",
          Lines({Reading("2023-05-01 11:00:00", 900)}));
    for (const std::string& l : c.memory) log.Append(l);
    ChartFileRebuild r(host, readings, main);
    ASSERT_TRUE(Run(r)) << c.what;
    EXPECT_THAT(host.Ids(), ElementsAreArray(c.ids)) << c.what;
    std::vector<std::string> said;
    for (const std::string& l : host.log)
        if (l.find("odbudowa") != std::string::npos) said.push_back(l);
    std::vector<::testing::Matcher<std::string>> want;
    for (const std::string& part : c.complaints) want.push_back(HasSubstr(Cp(part)));
    EXPECT_THAT(said, ElementsAreArray(want)) << c.what;
    EXPECT_EQ(host.resumes, 1);
    EXPECT_EQ(host.shows, 1);
    EXPECT_EQ(host.status.back(), "wykresy od: 2023-05-01");
    EXPECT_THAT(host.status, ::testing::Contains("odbudowa wykresu: 100%"));
}

// A reading with a run of zero bytes, as a crash leaves them in a file.
constexpr char kZeros[] = "2023-05-03 09:00:01 R:2023-05-03 09:00:01 2\0\0 1 2 3";

INSTANTIATE_TEST_SUITE_P(
    Sets, FileSetTable,
    ::testing::Values(
        SetCase{"files before the date are not read; a save of the day keeps its own day's lines",
                {{"Ardu2023-04-29 10_00_00.txt", Lines({Reading("2023-05-01 09:00:00", 1)})},
                 {"Ardu2023-05-01 00_05_00.txt",
                  Lines({Reading("2023-04-30 23:59:00", 2), Reading("2023-05-01 00:01:00", 3)})}},
                {},
                {3},
                {}},
        SetCase{"time order by the names' dates, not by listing; other files left alone",
                {{"Ardu2023-05-07 10_00_00.txt", Lines({Reading("2023-05-07 09:00:00", 70)})},
                 {"Ardu2023-05-06 10_00_00.txt", Lines({Reading("2023-05-06 09:00:00", 60)})},
                 {"Ardu2023-05-03 10_00_00.txt", Lines({Reading("2023-05-03 09:00:00", 30)})},
                 {"Ardu2023-05-05 10_00_00.txt", Lines({Reading("2023-05-05 09:00:00", 50)})},
                 {"Ardu2023-05-01 10_00_00.txt", Lines({Reading("2023-05-01 09:00:00", 10)})},
                 {"Ardu2023-05-04 10_00_00.txt", Lines({Reading("2023-05-04 09:00:00", 40)})},
                 {"Ardu2023-05-02 9_00_00.txt", Lines({Reading("2023-05-02 08:00:00", 20)})},
                 {"niewyslane.txt", Lines({Reading("2023-05-02 08:30:00", 99)})},
                 {"notatki.txt", Lines({Reading("2023-05-02 08:30:00", 98)})}},
                {},
                {10, 30, 40, 50, 60, 70},
                {"pominięty plik Ardu2023-05-02 9_00_00.txt: data w nazwie nie pasuje do maski"}},
        SetCase{"a torn last line and a line with bad bytes are left out, the rest kept, "
                "then the memory",
                {{"Ardu2023-05-02 10_00_00.txt",
                  Lines({Reading("2023-05-02 09:00:00", 10)}) + Reading("2023-05-02 09:00:05", 1)},
                 {"Ardu2023-05-03 10_00_00.txt",
                  Lines({Reading("2023-05-03 09:00:00", 20), std::string(kZeros, sizeof kZeros - 1),
                         Reading("2023-05-03 09:00:02", 21)})}},
                {Reading("2023-05-03 10:00:00", 22)},
                {10, 20, 21, 22},
                {"Ardu2023-05-02 10_00_00.txt: ostatnia linia bez końca",
                 "Ardu2023-05-03 10_00_00.txt: pominięte linie z niedozwolonymi bajtami: 1"}},
        SetCase{"the file a start-up put in front of the log is plotted once",
                {{"Ardu2023-05-02 10_00_00.txt",
                  Lines({Reading("2023-05-02 09:00:00", 10), Reading("2023-05-02 09:30:00", 11)})}},
                {Reading("2023-05-02 09:00:00", 10), Reading("2023-05-02 09:30:00", 11),
                 "2023-05-02 11:00:00 " + Cp("odczytał ostatni zapisany log: /x/") +
                     "Ardu2023-05-02 10_00_00.txt",
                 Reading("2023-05-02 11:00:01", 12)},
                {10, 11, 12},
                {}},
        SetCase{"and so is a file that a later save wrote again after such a start-up",
                {{"Ardu2023-05-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:00", 10)})},
                 {"Ardu2023-05-02 12_00_00.txt",
                  Lines({Reading("2023-05-02 09:00:00", 10),
                         "2023-05-02 11:00:00 " + Cp("odczytał ostatni zapisany log: /x/") +
                             "Ardu2023-05-02 10_00_00.txt",
                         Reading("2023-05-02 11:00:01", 11)})}},
                {},
                {10, 11},
                {}},
        SetCase{"memory that starts like a file but holds less of it is plotted",
                {{"Ardu2023-05-02 10_00_00.txt",
                  Lines({Reading("2023-05-02 09:00:00", 10), Reading("2023-05-02 09:30:00", 11)})}},
                {Reading("2023-05-02 09:00:00", 10), Reading("2023-05-02 09:40:00", 12)},
                {10, 11, 10, 12},
                {}}),
    [](const ::testing::TestParamInfo<SetCase>& i) { return "Set" + std::to_string(i.index); });

TEST_F(FileSetTable, AFileReadBackThroughTheLogIsPlottedOnce) {
    const std::string text =
        Lines({Reading("2023-05-02 09:00:00", 10), Reading("2023-05-02 09:30:00", 11)});
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", text);
    // What the menu's "odczytaj" does: the log becomes the file.
    log.LoadFromFile(Data() + "/Ardu2023-05-02 10_00_00.txt");
    log.Append(Reading("2023-05-02 11:00:00", 12));
    ChartFileRebuild r(host, readings, main);
    ASSERT_TRUE(Run(r));
    EXPECT_THAT(host.Ids(), ElementsAreArray({10, 11, 12}));
}

TEST_F(FileSetTable, ABadlyNamedFileIsSaidAtTheFirstRebuildOnly) {
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:00", 10)}));
    Write(Data(), "Ardu2023-13-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:01", 11)}));
    ChartFileRebuild r(host, readings, main);
    ASSERT_TRUE(Run(r));
    ASSERT_TRUE(Run(r));
    int said = 0;
    for (const std::string& l : host.log) said += l.find("Ardu2023-13-02") != std::string::npos;
    EXPECT_EQ(said, 1);
    EXPECT_THAT(host.Ids(), ElementsAreArray({10}));
}

TEST_F(FileSetTable, AnUnreadableFileIsSaidAndTheOthersAreRead) {
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:00", 10)}));
    // A save that refuses to be read, whoever runs the test.
    std::filesystem::create_symlink("/proc/self/mem", Data() + "/Ardu2023-05-02 11_00_00.txt");
    Write(Data(), "Ardu2023-05-02 12_00_00.txt", Lines({Reading("2023-05-02 11:00:00", 11)}));
    ChartFileRebuild r(host, readings, main);
    ASSERT_TRUE(Run(r));
    EXPECT_THAT(host.Ids(), ElementsAreArray({10, 11}));
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_THAT(host.log[1], HasSubstr(Cp("pominięty plik Ardu2023-05-02 11_00_00.txt: ")));
}

TEST_F(FileSetTable, ALineReceivedDuringTheRebuildIsPlottedAfterIt) {
    // Enough lines that the rebuild is still running when the line comes.
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        char when[32];
        std::snprintf(when, sizeof when, "2023-05-02 %02d:%02d:%02d", i / 3600, i / 60 % 60,
                      i % 60);
        text += Reading(when, 10) + "\r\n";
    }
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", text);
    ChartFileRebuild r(host, readings, main);
    r.Start(Data(), "YYYY-MM-DD hh_mm_ss", log);
    ASSERT_TRUE(r.Running());
    host.Receive(Reading("2023-05-09 12:00:00", 77));
    EXPECT_TRUE(host.Ids().empty()) << "nothing plotted before the batches are taken";
    ASSERT_TRUE(main.PumpUntil([&] { return !r.Running(); }));
    const std::vector<int> ids = host.Ids();
    ASSERT_EQ(ids.size(), 30001u);
    EXPECT_EQ(ids.back(), 77);
    EXPECT_TRUE(host.waiting.empty());
}

TEST_F(FileSetTable, ASecondStartGivesTheFirstUpAndCancelInTheMiddleLetsThePortGo) {
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:00", 10)}));
    Write(Data(), "Ardu2023-05-04 10_00_00.txt", Lines({Reading("2023-05-04 09:00:00", 20)}));
    ChartFileRebuild r(host, readings, main);
    r.Start(Data(), "YYYY-MM-DD hh_mm_ss", log);
    host.start = {2023, 5, 3, 0, 0, 0, 0};
    ASSERT_TRUE(Run(r));
    EXPECT_THAT(host.Ids(), ElementsAreArray({20}));
    EXPECT_EQ(host.resumes, 2);

    r.Start(Data(), "YYYY-MM-DD hh_mm_ss", log);
    r.Cancel();
    EXPECT_FALSE(r.Running());
    EXPECT_EQ(host.resumes, 3);
    // Gone mid-rebuild: the worker is stopped and joined, the port let go.
    {
        ChartFileRebuild other(host, readings, main);
        other.Start(Data(), "YYYY-MM-DD hh_mm_ss", log);
    }
    EXPECT_EQ(host.resumes, 4);
    EXPECT_EQ(main.Pending(), 0u);
}

TEST_F(FileSetTable, WithoutAStationTheMemoryAloneIsRebuilt) {
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", Lines({Reading("2023-05-02 09:00:00", 10)}));
    log.Append(Reading("2023-05-02 10:00:00", 11));
    ChartFileRebuild r(host, readings, main);
    r.Start("", "YYYY-MM-DD hh_mm_ss", log);
    ASSERT_TRUE(main.PumpUntil([&] { return !r.Running(); }));
    EXPECT_THAT(host.Ids(), ElementsAreArray({11}));
}

}  // namespace
}  // namespace pom
