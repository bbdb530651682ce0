#include "app/logic/DataLog.h"
#include "app/logic/DataLogFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

class DataLogSetText : public ::testing::TestWithParam<SplitCase> {};

TEST_P(DataLogSetText, AcceptsEveryLineEnd) {
    DataLog log;
    log.SetText(GetParam().text);
    EXPECT_EQ(log.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, DataLogSetText,
    ::testing::Values(SplitCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
                      SplitCase{"Lf", "a\nb\n", {"a", "b"}}, SplitCase{"Cr", "a\rb\r", {"a", "b"}},
                      SplitCase{"Mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
                      SplitCase{"NoFinalEnd", "a\r\nb", {"a", "b"}},
                      SplitCase{"EmptyLinesKept", "a\r\n\r\n\nb\r\n", {"a", "", "", "b"}},
                      SplitCase{"Empty", "", {}}, SplitCase{"OnlyEnd", "\r\n", {""}},
                      SplitCase{"LfCrIsTwoEnds", "a\n\rb", {"a", "", "b"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DataLog, TextEndsEveryLineWithCrLf) {
    DataLog log;
    log.Append("2023-05-01 12:00:00 A:1");
    log.Append(
        "\xB0"
        "C");
    EXPECT_EQ(log.Text(),
              "2023-05-01 12:00:00 A:1\r\n\xB0"
              "C\r\n");
    EXPECT_EQ(DataLog().Text(), "");
}

class Recorder final : public DataLogListener {
public:
    void LineAppended(const std::string& line) override { events.push_back("+" + line); }
    void Reset() override { events.push_back("reset"); }
    std::vector<std::string> events;
};

TEST(DataLog, ModifiedFlagFollowsAppendAndWholeTextChanges) {
    DataLog log;
    Recorder rec;
    log.SetListener(&rec);
    EXPECT_FALSE(log.Modified());
    log.Append("a");
    EXPECT_TRUE(log.Modified());
    log.SetText("x\r\ny\r\n");
    EXPECT_FALSE(log.Modified());
    log.Append("b");
    log.Clear();
    EXPECT_FALSE(log.Modified());
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"+a", "reset", "+b", "reset"}));
}

// Makes the system refuse writes beyond a size, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l{bytes, old_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

class DataLogFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("log.txt");

    int Entries() const {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
        return n;
    }
};

TEST_F(DataLogFile, SaveAndLoadRoundTrip) {
    DataLog log;
    log.Append("one");
    log.Append(
        "dw\xF3"
        "ch");
    log.SaveToFile(path);
    EXPECT_EQ(ReadFile(path),
              "one\r\ndw\xF3"
              "ch\r\n");
    EXPECT_EQ(Entries(), 1);

    DataLog back;
    back.Append("old");
    back.LoadFromFile(path);
    EXPECT_EQ(back.Lines(), log.Lines());
    EXPECT_FALSE(back.Modified());
}

TEST_F(DataLogFile, MissingFileThrowsAndChangesNothing) {
    DataLog log;
    log.Append("kept");
    try {
        log.LoadFromFile(dir.file("absent.txt"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  dir.file("absent.txt") + Cp(": nie ma takiego pliku ani urządzenia"));
    }
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"kept"});
    EXPECT_TRUE(log.Modified());
}

TEST_F(DataLogFile, RefusedSaveKeepsTheOldFileWhole) {
    WriteFile(path, "old line\r\n");
    DataLog log;
    for (int i = 0; i < 100; ++i) log.Append("a line long enough to pass the limit");
    {
        FileSizeLimit limit(64);
        EXPECT_THROW(log.SaveToFile(path), std::runtime_error);
    }
    EXPECT_EQ(ReadFile(path), "old line\r\n");
    EXPECT_EQ(Entries(), 1);  // no temporary file left behind
    EXPECT_EQ(log.Count(), 100u);
}

// The manual save merges onto an existing file; when the write is refused,
// the log must not keep the merged lines, or the next save would add the
// file's lines a second time.
TEST_F(DataLogFile, RefusedMergingSaveLeavesFileAndLogAsTheyWere) {
    class Host final : public DataLogHost {
    public:
        void SetStatusText(const std::string&) override {}
        void SetStatusHint(const std::string&) override {}
        void SetChartCaption(const std::string&) override {}
        int SeriesPointCount(int) const override { return 0; }
        void SetAllSeriesVisible(bool) override {}
        void RebuildChart() override {}
        void StopPort() override {}
        void ReportError(const std::string& m) override { errors.push_back(m); }
        std::vector<std::string> errors;
    } host;
    test::ScopedConfigHome home(dir.path());
    test::FakeClock clock;
    TdmUtil util(clock);
    util.stationFolder = "\\ardu\\DS3231";
    DataLog log;
    DataLogFiles files(log, util, host);
    const std::string file = files.OpenDialogFileName();
    WriteFile(file, "old\r\n");
    for (int i = 0; i < 100; ++i) log.Append("a line long enough to pass the limit");
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(files.ManualSave());
    }
    EXPECT_EQ(host.errors, std::vector<std::string>{file + Cp(": plik za duży")});
    EXPECT_EQ(ReadFile(file), "old\r\n");
    EXPECT_EQ(log.Count(), 100u);
    EXPECT_EQ(log.Line(0), "a line long enough to pass the limit");
    EXPECT_TRUE(log.Modified());
    EXPECT_TRUE(files.ManualSave());
    EXPECT_EQ(ReadFile(file).substr(0, 43), "old\r\na line long enough to pass the limit\r\n");
    EXPECT_EQ(ReadFile(file).size(), 5u + 100u * 38u);
}

}  // namespace
}  // namespace pom
