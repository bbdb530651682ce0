#include "util/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"
#include "util/FileUtil.h"

namespace pom {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, GivesWhatGetPrivateProfileStringGives) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(IniDocument::Parse(c.file).Get(c.section, c.key), c.expected);
}

const std::string kLong(3000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(
        ReadCase{"Plain", "[CONFIG]\r\nnrCOMport=COM5\r\n", "CONFIG", "nrCOMport", "COM5"},
        ReadCase{"SectionAndKeyIgnoreCase", "[config]\r\nNRCOMPORT=COM5\r\n", "CONFIG", "nrCOMport",
                 "COM5"},
        ReadCase{"PolishLettersIgnoreCase",
                 "[\xA3\xD3"
                 "D\xAF]\r\nk=1\r\n",
                 "\xB3\xF3"
                 "d\xBF",
                 "K", "1"},
        ReadCase{"BlanksAroundNamesAndValue", "  [ CONFIG ]  \r\n\t nrCOMport  =  COM 5 \t\r\n",
                 "CONFIG", "nrCOMport", "COM 5"},
        ReadCase{"NoFinalLineEnd", "[S]\r\nk=v", "S", "k", "v"},
        ReadCase{"LfOnly", "[S]\nk=v\n", "S", "k", "v"},
        ReadCase{"LoneCr", "[S]\rk=v\r", "S", "k", "v"},
        ReadCase{"DuplicateSectionFirstWins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n", "S", "k", "1"},
        ReadCase{"KeyOnlyInSecondDuplicateIsMissing", "[S]\r\nk=1\r\n[S]\r\nj=3\r\n", "S", "j",
                 std::nullopt},
        ReadCase{"DuplicateKeyFirstWins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
        ReadCase{"GarbageLinesSkipped",
                 "\x01\x02 garbage\r\n[S]\r\nno equals sign\r\n=novalue\r\n;k=comment\r\n"
                 "[broken\r\nk=v\r\n",
                 "S", "k", "v"},
        ReadCase{"KeyBeforeAnySectionBelongsToNone", "k=v\r\n[S]\r\n", "S", "k", std::nullopt},
        ReadCase{"MissingSection", "[S]\r\nk=v\r\n", "T", "k", std::nullopt},
        ReadCase{"MissingKey", "[S]\r\nk=v\r\n", "S", "j", std::nullopt},
        ReadCase{"EmptyValueIsPresent", "[S]\r\nk=\r\n", "S", "k", ""},
        ReadCase{"DoubleQuotesStripped", "[S]\r\nk=\"  a b  \"\r\n", "S", "k", "  a b  "},
        ReadCase{"SingleQuotesStripped", "[S]\r\nk='x'\r\n", "S", "k", "x"},
        ReadCase{"UnmatchedQuotesKept", "[S]\r\nk=\"x'\r\n", "S", "k", "\"x'"},
        ReadCase{"LoneQuoteKept", "[S]\r\nk=\"\r\n", "S", "k", "\""},
        ReadCase{"ValueWithEqualsSign", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
        ReadCase{"LongValueCutTo2047", "[S]\r\nk=" + kLong + "\r\n", "S", "k",
                 std::string(2047, 'x')},
        ReadCase{"Utf8BomBeforeFirstSection", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"NulBytesKept", std::string("[S]\r\nk=a\0b\r\n", 12), "S", "k",
                 std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniWrite, EveryValueReadsBackAsWritten) {
    for (const std::string v :
         {"\"log\" YYYY \"x\"", "'q'", " lead", "trail\t", "\"", "'", "", "\"\"", "plain"}) {
        IniDocument doc;
        doc.Set("S", "k", v);
        EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Get("S", "k"), v) << v;
    }
}

TEST(IniRead, MissingDefaultLosesTrailingBlanksOnly) {
    const IniDocument doc = IniDocument::Parse("");
    EXPECT_EQ(doc.GetString("S", "k", "  def  "), "  def");
}

struct WriteCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
};

class IniWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheLineItIsAbout) {
    const WriteCase& c = GetParam();
    IniDocument doc = IniDocument::Parse(c.before);
    doc.Set(c.section, c.key, c.value);
    EXPECT_EQ(doc.Serialize(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    ::testing::Values(
        WriteCase{"EmptyFile", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
        WriteCase{"ReplaceKeepsOtherLinesAndSpelling",
                  "; note\r\n[S]\r\n  K = old \r\ngarbage\r\nx=1\r\n", "s", "k", "new",
                  "; note\r\n[S]\r\nK=new\r\ngarbage\r\nx=1\r\n"},
        WriteCase{"NewKeyAtEndOfItsSection", "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n", "S", "k", "v",
                  "[S]\r\na=1\r\nk=v\r\n\r\n[T]\r\nb=2\r\n"},
        WriteCase{"NewKeyInEmptySection", "[S]\r\n[T]\r\n", "S", "k", "v", "[S]\r\nk=v\r\n[T]\r\n"},
        WriteCase{"NewSectionAfterBlankLine", "[S]\r\na=1\r\n", "T", "b", "2",
                  "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n"},
        WriteCase{"LfFileStaysLf", "[S]\na=1\n", "S", "a", "2", "[S]\na=2\n"},
        WriteCase{"MixedEndingsBecomeCrLf", "[S]\r\na=1\nb=2\rc=3", "S", "a", "9",
                  "[S]\r\na=9\r\nb=2\r\nc=3\r\n"},
        WriteCase{"NoFinalLineEnd", "[S]\r\na=1", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n"},
        WriteCase{"FirstOfDuplicateSections", "[S]\na=1\n[S]\na=2\n", "S", "a", "3",
                  "[S]\na=3\n[S]\na=2\n"},
        WriteCase{"LineBreaksInValueCannotAddLines", "[S]\r\n", "S", "a",
                  "x\r\n[CONFIG]\r\nnrCOMport=evil", "[S]\r\na=x  [CONFIG]  nrCOMport=evil\r\n"},
        WriteCase{"EmptyValue", "[S]\r\na=1\r\n", "S", "a", "", "[S]\r\na=\r\n"},
        WriteCase{"QuotedValueKeepsItsQuotes", "", "S", "m", "\"log\"", "[S]\r\nm=\"\"log\"\"\r\n"},
        WriteCase{"BlanksKept", "", "S", "m", " x ", "[S]\r\nm=\" x \"\r\n"},
        WriteCase{"QuoteInsideNeedsNothing", "", "S", "m", "\"a\"b", "[S]\r\nm=\"a\"b\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct IntCase {
    const char* text;
    int expected;
};

class IniInteger : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniInteger, ParsesHexDecimalOrGivesDefault) {
    EXPECT_EQ(ParseIniInteger(GetParam().text, -77), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniInteger,
    ::testing::Values(IntCase{"0x1F", 31}, IntCase{"0X1f", 31}, IntCase{"$1F", 31},
                      IntCase{"-$1F", -31}, IntCase{"abc", -77}, IntCase{"12", 12},
                      IntCase{"-12", -12}, IntCase{"+7", 7}, IntCase{"0x", -77},
                      IntCase{"0x1G", -77}, IntCase{"", -77}, IntCase{"$", -77},
                      IntCase{"12abc", -77}, IntCase{"1.5", -77}, IntCase{"2147483647", 2147483647},
                      IntCase{"2147483648", -77}, IntCase{"-2147483648", -2147483647 - 1},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"0xFF000005", -16777211},
                      IntCase{"0x123456789", -77}));

class IniFileOnDisk : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("pomiarnik.ini");

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        return names;
    }
};

TEST_F(IniFileOnDisk, MissingFileGivesDefaultAndFirstWriteCreatesIt) {
    EXPECT_EQ(IniReadString(path, "S", "k", "def"), "def");
    IniWriteString(path, "S", "k", "v");
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=v\r\n");
    EXPECT_EQ(IniReadString(path, "S", "k", "def"), "v");
}

TEST_F(IniFileOnDisk, WriteKeepsOtherLinesAndLeavesNoTemporaryFile) {
    WriteFile(path, "# hand-made\r\n[S]\r\nk=1\r\n[T]\r\nx=y\r\n");
    IniWriteString(path, "S", "k", "2");
    EXPECT_EQ(ReadFile(path), "# hand-made\r\n[S]\r\nk=2\r\n[T]\r\nx=y\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"pomiarnik.ini"});
}

TEST_F(IniFileOnDisk, WriteThroughSymbolicLinkKeepsTheLink) {
    const std::string real = dir.file("real.ini");
    WriteFile(real, "[S]\r\nk=1\r\n");
    std::filesystem::create_symlink(real, path);
    IniWriteString(path, "S", "k", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadFile(real), "[S]\r\nk=2\r\n");
}

TEST_F(IniFileOnDisk, SectionOfSeveralKeysInOneWrite) {
    IniWriteSection(path, "W", {{"a", "1"}, {"b", "2"}});
    EXPECT_EQ(ReadFile(path), "[W]\r\na=1\r\nb=2\r\n");
}

TEST_F(IniFileOnDisk, RefusedWhenParentIsARegularFile) {
    WriteFile(dir.file("notafolder"), "x");
    const std::string bad = dir.file("notafolder/pomiarnik.ini");
    try {
        IniWriteString(bad, "S", "k", "v");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + bad + Cp(": część ścieżki nie jest folderem"));
        EXPECT_EQ(e.path(), bad);
    }
    EXPECT_EQ(IniReadString(bad, "S", "k", "def"), "def");
}

TEST_F(IniFileOnDisk, UnreadableFileIsNotReplacedByOneHoldingOnlyTheNewValue) {
    std::filesystem::create_directory(path);  // a folder where the file should be
    EXPECT_THROW(IniWriteString(path, "S", "k", "v"), IniWriteError);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(IniFileOnDisk, ReadOnlyFileIsRefusedAsWindowsRefusesIt) {
    WriteFile(path, "[S]\r\nk=1\r\n");
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0777));
    // Root may write anything, so the write runs in a child as an ordinary user.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(9);
        try {
            IniWriteString(path, "S", "k", "2");
            _exit(1);
        } catch (const IniWriteError&) {
            _exit(0);
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=1\r\n");
}

TEST(AtomicWrite, FailedRenameRemovesTheTemporaryFile) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("target/inner"));
    EXPECT_THROW(WriteFileAtomic(dir.file("target"), "bytes"), std::runtime_error);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(AtomicWrite, KeepsThePermissionsOfTheReplacedFile) {
    TempDir dir;
    const std::string p = dir.file("f");
    WriteFile(p, "old");
    std::filesystem::permissions(p, std::filesystem::perms(0640));
    WriteFileAtomic(p, "new");
    EXPECT_EQ(ReadFile(p), "new");
    EXPECT_EQ(static_cast<int>(std::filesystem::status(p).permissions()), 0640);
}

// A new file gets what open() would give it: 0666 less the umask.
TEST(AtomicWrite, NewFileFollowsTheUmask) {
    TempDir dir;
    for (const auto& [mask, expected] : {std::pair{0022, 0644}, {0002, 0664}, {0077, 0600}}) {
        const mode_t before = ::umask(static_cast<mode_t>(mask));
        const std::string p = dir.file("new" + std::to_string(mask));
        WriteFileAtomic(p, "x");
        ::umask(before);
        EXPECT_EQ(static_cast<int>(std::filesystem::status(p).permissions()), expected)
            << "umask " << mask;
    }
}

// The temporary name must not push a long target name past the 255-byte limit.
TEST(AtomicWrite, NamesUpToTheSystemLimitCanBeWritten) {
    TempDir dir;
    for (const std::size_t length : {240u, 245u, 255u}) {
        const std::string p = dir.file(std::string(length, 'n'));
        ASSERT_NO_THROW(WriteFileAtomic(p, "data")) << length;
        EXPECT_EQ(ReadFile(p), "data");
    }
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3);
}

}  // namespace
}  // namespace pom
