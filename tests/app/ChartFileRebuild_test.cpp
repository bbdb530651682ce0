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
    if (c.kind != DataFileKind::Dated) return;
    EXPECT_EQ(FormatRebuildDate(m.latest), c.latestDate);
}

using enum DataFileKind;
constexpr char kMask[] = "YYYY-MM-DD hh_mm_ss";

const NameCase kNames[] = {
    {"\"Ardu\"YYYY-MM-DD hh:mm:ss", "Ardu2023-05-01 12_00_07.txt", Dated, "2023-05-01"},
    // Not the station's saves: another name, the unsent file, another extension.
    {kMask, "niewyslane.txt", Other, ""},
    {kMask, "Ardu2023-05-01 12_00_07.csv", Other, ""},
    // Named like a save, but no date.
    {kMask, "Ardu2023-13-01 12_00_07.txt", BadDate, ""},
    {kMask, "Ardu2023-02-29 12_00_07.txt", BadDate, ""},
    {kMask, "Ardu2023-05-0x 12_00_07.txt", BadDate, ""},
    // A day cut off by the extension leaves the month's end.
    {"\"log \"YYYY.MM.DD", "log 2023.05.txt", Dated, "2023-05-31"},
    {"\"log \"YYYY.MM.DD", "log 2023.05.14.txt", BadDate, ""},
    // Short forms, month names, sub-folders.
    {"\"A\"yymmdd", "A230501.txt", Dated, "2023-05-01"},
    {"\"A\"dd mmmm yyyy", "A01 październik 2023.txt", Dated, "2023-10-01"},
    {"\"dane\\\"yyyy\\mm-dd", "dane/2023/05-01.txt", BadDate, ""}};

INSTANTIATE_TEST_SUITE_P(Names, NameTable, ::testing::ValuesIn(kNames));

// Every name the saves form is read back to its time, whatever the mask.
TEST(DataFileNameTest, NamesTheSavesFormAreReadBackToTheirDay) {
    test::TempDir dir;
    test::ScopedConfigHome home(dir.path());
    test::FakeClock clock;
    TdmUtil util(clock);
    util.stationFolder = "\\ardu\\DS3231";
    // The second mask loses its year with the extension: such a name may
    // hold any year.
    const std::pair<const char*, bool> masks[] = {
        {kMask, true}, {"\"x\"d.m.yy h_n", false}, {"\"sub\\\"yyyy-mm\\\"d\"dd", true}};
    const LocalDateTime times[] = {{2023, 1, 9, 7, 5, 9, 0}, {2024, 2, 29, 23, 59, 59, 0}};
    const std::string folder = util.StationDataFolder() + "/";
    for (const auto& [mask, wholeDate] : masks)
        for (const LocalDateTime& t : times) {
            clock.set(t);
            util.FileNameMask = mask;
            const std::string name = PathToText(util.DataFileName().substr(folder.size()));
            SCOPED_TRACE(std::string(mask) + " | " + name);
            const DataFileMatch m = MatchDataFileName(mask, name);
            ASSERT_EQ(m.kind, DataFileKind::Dated);
            EXPECT_GE(m.latest, t);
            if (wholeDate) {
                EXPECT_EQ(FormatRebuildDate(m.latest), FormatRebuildDate(t));
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
        int count = 0;
        if (held)
            waiting.push_back(line);
        else
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
std::string Reading(const std::string& when, int id) {
    return when + " R:" + when + " " + std::to_string(id) + " 1 2 3 W4r:0";
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
}

// A save of the day holding one reading of it.
std::pair<std::string, std::string> Save(const std::string& day, int id) {
    return {"Ardu2023-" + day + " 10_00_00.txt", Lines({Reading("2023-" + day + " 09:00:00", id)})};
}

// Two readings saved, then what the memory may hold after them.
const std::string kR10 = Reading("2023-05-02 09:00:00", 10);
const std::string kR11 = Reading("2023-05-02 09:30:00", 11);
const std::string kR12 = Reading("2023-05-02 11:00:01", 12);
const std::pair<std::string, std::string> kSaved{"Ardu2023-05-02 10_00_00.txt",
                                                 Lines({kR10, kR11})};

// A save that refuses to be read, whoever runs the test.
const std::string kUnreadable = "<unreadable>";
// A reading with a run of zero bytes, as a crash leaves them in a file.
constexpr char kZeros[] = "2023-05-03 09:00:01 R:2023-05-03 09:00:01 2\0\0 1 2 3";
// What a start-up reload of the last save leaves in the log after its lines.
const std::string kReloaded = "2023-05-02 11:00:00 " + Cp("odczytał ostatni zapisany log: /x/") +
                              "Ardu2023-05-02 10_00_00.txt";

using Files = std::vector<std::pair<std::string, std::string>>;  // name, content

struct SetCase {
    const char* what;
    Files files;
    std::vector<std::string> memory;
    std::vector<int> ids;
    std::vector<std::string> complaints;  // parts of the logged complaints, in order
    bool station;                         // else the rebuild has no folder to read
};

SetCase Set(const char* what, Files files, std::vector<std::string> memory, std::vector<int> ids,
            std::vector<std::string> complaints = {}, bool station = true) {
    return {what,           std::move(files),      std::move(memory),
            std::move(ids), std::move(complaints), station};
}

class FileSetTable : public ::testing::TestWithParam<SetCase> {
protected:
    FileSetTable() {
        host.readings = &readings;
        host.valueCount = 4;
    }

    std::string Data() const { return dir.path() + "/ardu/DS3231/data"; }

    void Write(const std::string& folder, const std::string& name, const std::string& text) {
        const std::filesystem::path path(folder + "/" + name);
        std::filesystem::create_directories(path.parent_path());
        if (text == kUnreadable)
            std::filesystem::create_symlink("/proc/self/mem", path);
        else
            test::WriteFile(path.string(), text);
    }

    // Starts a rebuild and lets the main thread take the batches until the end.
    bool Run(ChartFileRebuild& r, bool station = true) {
        r.Start(station ? Data() : "", kMask, log);
        return main.PumpUntil([&] { return !r.Running(); });
    }

    // The rebuild's complaints in the log.
    std::vector<std::string> Said() const {
        std::vector<std::string> said;
        for (const std::string& l : host.log)
            if (l.find("odbudowa") != std::string::npos) said.push_back(l);
        return said;
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
    ASSERT_TRUE(Run(r, c.station)) << c.what;
    EXPECT_THAT(host.Ids(), ElementsAreArray(c.ids)) << c.what;
    std::vector<::testing::Matcher<std::string>> want;
    for (const std::string& part : c.complaints) want.push_back(HasSubstr(Cp(part)));
    EXPECT_THAT(Said(), ElementsAreArray(want)) << c.what;
    EXPECT_EQ(host.status.back(), "wykresy od: 2023-05-01");
    EXPECT_THAT(host.status, ::testing::Contains("odbudowa wykresu: 100%"));
    // Again: the same points; a badly named file is said at the first only.
    host.log.clear();
    ASSERT_TRUE(Run(r, c.station));
    EXPECT_THAT(host.Ids(), ElementsAreArray(c.ids)) << c.what;
    EXPECT_THAT(Said(), ::testing::Each(::testing::Not(HasSubstr("maski"))));
    EXPECT_EQ(host.resumes, 2);
    EXPECT_EQ(host.shows, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, FileSetTable,
    ::testing::Values(
        Set("from the date, in the order of the names' dates, not of listing; other files left "
            "alone; a save of the day keeps its own day's lines",
            {{"Ardu2023-04-29 10_00_00.txt", Lines({Reading("2023-05-01 09:00:00", 1)})},
             Save("05-07", 70),
             Save("05-06", 60),
             Save("05-03", 30),
             {"Ardu2023-05-01 00_05_00.txt",
              Lines({Reading("2023-04-30 23:59:00", 2), Reading("2023-05-01 00:01:00", 3)})},
             Save("05-05", 50),
             Save("05-04", 40),
             {"Ardu2023-05-02 9_00_00.txt", Lines({Reading("2023-05-02 08:00:00", 20)})},
             {"niewyslane.txt", Lines({Reading("2023-05-02 08:30:00", 99)})},
             {"notatki.txt", Lines({Reading("2023-05-02 08:30:00", 98)})}},
            {}, {3, 30, 40, 50, 60, 70},
            {"pominięty plik Ardu2023-05-02 9_00_00.txt: data w nazwie nie pasuje do maski"}),
        Set("a torn last line, a line with bad bytes and an unreadable file are left out, the "
            "rest kept, then the memory",
            {{"Ardu2023-05-02 10_00_00.txt", Lines({kR10}) + Reading("2023-05-02 09:00:05", 1)},
             {"Ardu2023-05-02 11_00_00.txt", kUnreadable},
             {"Ardu2023-05-03 10_00_00.txt",
              Lines({Reading("2023-05-03 09:00:00", 20), std::string(kZeros, sizeof kZeros - 1),
                     Reading("2023-05-03 09:00:02", 21)})}},
            {Reading("2023-05-03 10:00:00", 22)}, {10, 20, 21, 22},
            {"Ardu2023-05-02 10_00_00.txt: ostatnia linia bez końca",
             "pominięty plik Ardu2023-05-02 11_00_00.txt: ",
             "Ardu2023-05-03 10_00_00.txt: pominięte linie z niedozwolonymi bajtami: 1"}),
        Set("the file a start-up put in front of the log is plotted once", {kSaved},
            {kR10, kR11, kReloaded, kR12}, {10, 11, 12}),
        Set("and so is a file that a later save wrote again after such a start-up",
            {kSaved, {"Ardu2023-05-02 12_00_00.txt", Lines({kR10, kR11, kReloaded, kR12})}}, {},
            {10, 11, 12}),
        Set("and a file the menu read back into the log", {kSaved}, {kR10, kR11, kR12},
            {10, 11, 12}),
        Set("memory that starts like a file but holds less of it is plotted", {kSaved},
            {kR10, Reading("2023-05-02 09:40:00", 12)}, {10, 11, 10, 12}),
        Set("without a station, the memory alone", {kSaved}, {kR12}, {12}, {}, false)));

TEST_F(FileSetTable, LinesReceivedMeanwhileComeAfterASecondStartAndCancelLetThePortGo) {
    // Enough lines that the rebuild is still running when the line comes.
    std::string text;
    char when[32];
    for (int i = 0; i < 30000; ++i) {
        std::snprintf(when, sizeof when, "2023-05-02 %02d:%02d:%02d", i / 3600, i / 60 % 60,
                      i % 60);
        text += Lines({Reading(when, 10)});
    }
    Write(Data(), "Ardu2023-05-02 10_00_00.txt", text);
    Write(Data(), "Ardu2023-05-04 10_00_00.txt", Lines({Reading("2023-05-04 09:00:00", 20)}));
    ChartFileRebuild r(host, readings, main);
    r.Start(Data(), kMask, log);
    ASSERT_TRUE(r.Running());
    host.Receive(Reading("2023-05-09 12:00:00", 77));
    EXPECT_TRUE(host.Ids().empty()) << "nothing plotted before the batches are taken";
    ASSERT_TRUE(main.PumpUntil([&] { return !r.Running(); }));
    const std::vector<int> ids = host.Ids();
    ASSERT_EQ(ids.size(), 30002u);
    EXPECT_EQ(ids[30000], 20);
    EXPECT_EQ(ids.back(), 77);
    EXPECT_TRUE(host.waiting.empty());

    // A second start gives the first up.
    r.Start(Data(), kMask, log);
    host.start = {2023, 5, 3, 0, 0, 0, 0};
    ASSERT_TRUE(Run(r));
    EXPECT_THAT(host.Ids(), ElementsAreArray({20}));
    EXPECT_EQ(host.resumes, 3);

    r.Start(Data(), kMask, log);
    r.Cancel();
    EXPECT_FALSE(r.Running());
    EXPECT_EQ(host.resumes, 4);
    // Gone mid-rebuild: the worker is stopped and joined, the port let go.
    {
        ChartFileRebuild other(host, readings, main);
        other.Start(Data(), kMask, log);
    }
    EXPECT_EQ(host.resumes, 5);
    EXPECT_EQ(main.Pending(), 0u);
}

}  // namespace
}  // namespace pom
