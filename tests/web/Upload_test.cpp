#include "web/Upload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::ElementsAre;

TEST(SplitFieldsTest, BlanksAndSeparatorsSplitQuotesKeepTogether) {
    EXPECT_THAT(SplitFields("2023-01-05 07:04:09 21.5; 1013.25; -888", ';'),
                ElementsAre("2023-01-05", "07:04:09", "21.5", "1013.25", "-888"));
    EXPECT_THAT(SplitFields("a;;b;", ';'), ElementsAre("a", "", "b", ""));
    EXPECT_THAT(SplitFields("\"x \"\"y\"\", z\",w", ','), ElementsAre("x \"y\", z", "w"));
    EXPECT_THAT(SplitFields("  ", ','), ElementsAre());
    EXPECT_THAT(SplitFields("\"\"", ','), ElementsAre(""));
}

TEST(JoinDelimitedTest, QuotesWhatWouldSplitAndReadsBackTheSame) {
    const std::vector<std::string> items = {"localhost:8080/Zapisz2Pomiary.php", "a b/x.php",
                                            "q\"t", "c,d", ""};
    const std::string text = JoinDelimited(items);
    EXPECT_EQ(text, "localhost:8080/Zapisz2Pomiary.php,\"a b/x.php\",\"q\"\"t\",\"c,d\",");
    // Reading back under the field rule: the trailing empty item survives.
    EXPECT_EQ(SplitFields(text, ','), items);
    EXPECT_EQ(JoinDelimited({""}), "\"\"");
    EXPECT_THAT(SplitFields(JoinDelimited({""}), ','), ElementsAre(""));
}

TEST(UploadRecordTest, ReadingWithThreeValuesFillsThreeSlots) {
    int extra = -1;
    const auto r = BuildReadingRecord("2023-01-05 07:04:09 21.5; -888; 3.3; ", "QRX741",
                                      "localhost/Zapisz2Pomiary.php", &extra);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Table, "QRX741");
    EXPECT_EQ(r->Stamp, "2023-01-05 07:04:09");
    EXPECT_THAT(std::vector<std::string>(r->Values.begin(), r->Values.begin() + 4),
                ElementsAre("21.5", "-888", "3.3", "-999.0"));
    EXPECT_EQ(r->Values[10], "-999.0");
    EXPECT_EQ(extra, 0);
    // Fewer than two fields is no job.
    EXPECT_FALSE(BuildReadingRecord("2023-01-05", "t", "a"));
    EXPECT_FALSE(BuildReadingRecord("", "t", "a"));
    // Values past the eleventh are counted, not posted.
    BuildReadingRecord("d t 1; 2; 3; 4; 5; 6; 7; 8; 9; 10; 11; 12; 13; ", "t", "a", &extra);
    EXPECT_EQ(extra, 2);
}

TEST(UploadRecordTest, TextsAreCutAt255) {
    const auto r = BuildReadingRecord("d t " + std::string(300, '1'), std::string(300, 'T'), "a");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Table.size(), 255u);
    EXPECT_EQ(r->Values[0].size(), 255u);
}

TEST(UploadRecordTest, LegendsGoToTheOpisyScriptWithoutValues) {
    const UploadRecord r =
        BuildLegendsRecord("pomT0;V;U;U", "QRX741", "host/a.php/Zapisz2Pomiary.php");
    EXPECT_EQ(r.Table, "QRX741opisy");
    EXPECT_EQ(r.Address, "host/aopisy.php/Zapisz2Pomiary.php");  // the first ".php"
    EXPECT_EQ(r.Stamp, "pomT0;V;U;U");
    for (const std::string& v : r.Values) EXPECT_EQ(v, "-999");
    EXPECT_EQ(BuildLegendsRecord("x", "t", "host/skrypt").Address, "host/skrypt");
}

TEST(ClassifyReplyTest, LaterWordsOverrideEarlierOnes) {
    EXPECT_EQ(ClassifyReply("Result=Ok\r\n"), 0);
    EXPECT_EQ(ClassifyReply("Result=Ok istnieje=Ok\r\n"), 1);
    EXPECT_EQ(ClassifyReply("UtworzonoBrakujacaTabele ok\r\nResult=Ok\r\n"), 2);
    EXPECT_EQ(ClassifyReply("Result=Ok " + Cp("Problem ze wstawieniem opisów")), -1);
    EXPECT_EQ(ClassifyReply("Result=Ok Problem ze wstawieniem opisów"), -1);
    EXPECT_EQ(ClassifyReply(""), -1);
    EXPECT_EQ(ClassifyReply("Result="), -1);
    EXPECT_EQ(ClassifyReply("<html>500 Internal Server Error</html>"), -1);
}

TEST(ReportTest, WordsOfTheReports) {
    UploadRecord job;
    job.Table = "QRX741";
    EXPECT_EQ(ReportText(0, job, ""), "wymiana ok");
    EXPECT_EQ(ReportText(1, job, ""), "istnieje ok");
    EXPECT_EQ(ReportText(2, job, ""), "ok Utworzono TABLE [QRX741]");
    EXPECT_EQ(ReportText(-1, job, "x\r\n"), "http Error: x\r\n");
    // A report adds a few hundred bytes to the memo, however large the reply.
    EXPECT_EQ(ReportText(-1, job, std::string(5000, 'r')).size(), 12 + kReportMax);
    EXPECT_EQ(ShortenReply(std::string(kReplyShown, 'r')), std::string(kReplyShown, 'r'));
    EXPECT_EQ(ShortenReply("<p>" + std::string(1 << 20, 'r')),
              "<p>" + std::string(kReplyShown - 3, 'r') + Cp(" …[odpowiedź: 1048579 bajtów]"));
    EXPECT_TRUE(IsSuccessReport("2023-01-05 07:04:09 ok Utworzono TABLE [QRX741]"));
    EXPECT_FALSE(IsSuccessReport("2023-01-05 07:04:09 http Error: "));
}

}  // namespace
}  // namespace pom
