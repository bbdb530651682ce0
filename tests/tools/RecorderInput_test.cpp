// What the recorder takes from a post and what it refuses, before any of it
// reaches the database.
#include "tools/recorder/RecorderInput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/recorder/RecorderApi.h"
#include "tools/recorder/RecorderOptions.h"
#include "tools/recorder/RecorderPages.h"

namespace pom::recorder {
namespace {

TEST(RecorderInputTest, TableNamesOnlyFromTheAllowList) {
    for (const std::string& ok :
         std::vector<std::string>{"test", "QRX741", "a", "_", "Stacja_2", std::string(64, 'z')})
        EXPECT_TRUE(IsTableName(ok)) << ok;
    for (const std::string& bad : std::vector<std::string>{
             std::string(), std::string(65, 'z'), std::string(10000, 'a'),
             std::string("x; DROP TABLE test"), std::string("te\"st"), std::string("te'st"),
             std::string("a b"), std::string("a-b"), std::string("\xC5\x81\xC3\xB3\x64\xC5\xBA"),
             std::string("a\0b", 3), std::string("t.x"), std::string("sqlite_master"),
             std::string("SQLite_x"), std::string("Result=Ok")})
        EXPECT_FALSE(IsTableName(bad)) << bad;
}

TEST(RecorderInputTest, StampsAndDaysAreRealCalendarTimes) {
    for (const char* ok : {"2023-01-05 07:04:09", "2024-02-29 23:59:59", "2000-12-31 00:00:00"})
        EXPECT_TRUE(IsStamp(ok)) << ok;
    for (const char* bad : {"", "2023-01-05", "2023-01-05T07:04:09", "2023-1-05 07:04:09",
                            "2023-01-05 7:04:09", "2023-02-29 12:00:00", "2023-04-31 12:00:00",
                            "2023-13-01 12:00:00", "2023-00-10 12:00:00", "2023-01-05 24:00:00",
                            "2023-01-05 12:60:00", "2023-01-05 12:00:60", "2023-01-05 07:04:09 ",
                            "+023-01-05 07:04:09", "2023-01-05 07:04:0x"})
        EXPECT_FALSE(IsStamp(bad)) << bad;
    EXPECT_TRUE(IsDay("2024-02-29"));
    EXPECT_FALSE(IsDay("2023-02-29"));
    EXPECT_EQ(NextDay("2023-12-31"), "2024-01-01");
    EXPECT_EQ(PreviousDay("2024-03-01"), "2024-02-29");
}

TEST(RecorderInputTest, NumbersAreFiniteDecimalsWithAPoint) {
    const std::vector<std::pair<const char*, double>> ok = {
        {"21.5", 21.5}, {"-888", -888},       {"+3", 3},     {"0", 0},          {".5", 0.5},
        {"5.", 5},      {"1013.25", 1013.25}, {"1e3", 1000}, {"-2.5E-1", -0.25}};
    for (const auto& [text, value] : ok) {
        const auto v = ParseNumber(text);
        ASSERT_TRUE(v.has_value()) << text;
        EXPECT_DOUBLE_EQ(*v, value) << text;
    }
    for (const char* bad : {"", "21,5", " 21.5", "21.5 ", "abc", "nan", "inf", "-", ".", "1e",
                            "1e999", "0x10", "1..2", "--1", "12345678901234567890123456789012345"})
        EXPECT_FALSE(ParseNumber(bad).has_value()) << bad;
}

TEST(RecorderInputTest, Utf8IsCheckedStrictly) {
    EXPECT_TRUE(
        IsUtf8("Ciśnienie \xC2\xB0"
               "C \xF0\x9F\x98\x80"));
    for (const std::string& bad : std::vector<std::string>{
             std::string("\xB0"
                         "C"),  // a Windows-1250 degree sign
             std::string("\xC0\xAF"), std::string("\xE0\x80\xAF"), std::string("\xED\xA0\x80"),
             std::string("\xC5"), std::string("a\0b", 3), std::string("\xF4\x90\x80\x80")})
        EXPECT_FALSE(IsUtf8(bad));
}

TEST(RecorderInputTest, KeyMustMatchWhole) {
    EXPECT_TRUE(KeyMatches("s3cret", "s3cret"));
    for (const char* bad : {"", "s3cre", "s3cret!", "S3cret", "s3cres", "s3crets3cret"})
        EXPECT_FALSE(KeyMatches("s3cret", bad)) << bad;
}

TEST(RecorderInputTest, UrlEncodedFormsDecode) {
    const auto f = ParseUrlEncoded("Miasto=test&Data=2023-01-05+07%3A04%3A09&Sonda0=&key=%C5%82");
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->size(), 4u);
    EXPECT_EQ((*f)[1].value, "2023-01-05 07:04:09");
    EXPECT_EQ((*f)[2].value, "");
    EXPECT_EQ((*f)[3].value, "\xC5\x82");
    for (const char* bad : {"a=%", "a=%4", "a=%zz", "=x"})
        EXPECT_FALSE(ParseUrlEncoded(bad).has_value()) << bad;
}

std::vector<Field> Post(std::vector<Field> extra = {}) {
    std::vector<Field> f = {{"Miasto", "test"}, {"Data", "2023-01-05 07:04:09"}};
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

TEST(RecorderInputTest, AReadingCarriesItsValuesAndNullsForTheRest) {
    const auto r =
        CheckReading(Post({{"Sonda0", "21.5"}, {"Sonda2", "-888"}, {"Sonda10", ""}}), "");
    ASSERT_TRUE(std::holds_alternative<Reading>(r));
    const Reading& reading = std::get<Reading>(r);
    EXPECT_EQ(reading.table, "test");
    EXPECT_EQ(reading.stamp, "2023-01-05 07:04:09");
    EXPECT_EQ(reading.values[0], 21.5);
    EXPECT_FALSE(reading.values[1].has_value());
    EXPECT_EQ(reading.values[2], -888.0);
    EXPECT_FALSE(reading.values[10].has_value());
}

struct RefusedCase {
    const char* what;
    std::vector<Field> fields;
    std::string key;
    int status;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.what;
}

class RecorderReadingRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RecorderReadingRefused, WithAReasonThatHoldsNoSuccessWord) {
    const auto r = CheckReading(GetParam().fields, GetParam().key);
    ASSERT_TRUE(std::holds_alternative<Refusal>(r));
    const Refusal& refusal = std::get<Refusal>(r);
    EXPECT_EQ(refusal.status, GetParam().status);
    EXPECT_FALSE(refusal.reason.empty());
    for (const char* word : {"Result=Ok", "istnieje=Ok", "UtworzonoBrakujacaTabele ok"})
        EXPECT_EQ(refusal.reason.find(word), std::string::npos) << refusal.reason;
}

std::vector<Field> Many(int n) {
    std::vector<Field> f;
    for (int i = 0; i < n; ++i) f.push_back({"x" + std::to_string(i), ""});
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecorderReadingRefused,
    ::testing::Values(
        RefusedCase{"no Miasto", {{"Data", "2023-01-05 07:04:09"}}, "", 400},
        RefusedCase{"bad Miasto", {{"Miasto", "x;DROP"}, {"Data", "2023-01-05 07:04:09"}}, "", 400},
        RefusedCase{"Miasto echoing a word",
                    {{"Miasto", "Result=Ok"}, {"Data", "2023-01-05 07:04:09"}},
                    "",
                    400},
        RefusedCase{"no Data", {{"Miasto", "test"}}, "", 400},
        RefusedCase{"Data not a time", {{"Miasto", "test"}, {"Data", "2023-01-05"}}, "", 400},
        RefusedCase{"Data with letters", {{"Miasto", "test"}, {"Data", "istnieje=Ok"}}, "", 400},
        RefusedCase{"value with comma", Post({{"Sonda0", "21,5"}}), "", 400},
        RefusedCase{"value word", Post({{"Sonda3", "Result=Ok"}}), "", 400},
        RefusedCase{"unknown field", Post({{"Sonda11", "1"}}), "", 400},
        RefusedCase{"zero-padded channel", Post({{"Sonda01", "1"}}), "", 400},
        RefusedCase{"field twice", Post({{"Data", "2023-01-05 07:04:10"}}), "", 400},
        RefusedCase{
            "not UTF-8", {{"Miasto", "test"}, {"Data", "2023-01-05 07:04:09\xB0"}}, "", 400},
        RefusedCase{"too many fields", Many(17), "", 400},
        RefusedCase{"key missing", Post(), "s3cret", 403},
        RefusedCase{"key wrong", Post({{"key", "s3cres"}}), "s3cret", 403},
        RefusedCase{"key checked before the rest", {{"Miasto", "x;y"}}, "s3cret", 403}));

TEST(RecorderInputTest, TheRightKeyPasses) {
    EXPECT_TRUE(std::holds_alternative<Reading>(CheckReading(Post({{"key", "s3cret"}}), "s3cret")));
}

TEST(RecorderInputTest, LegendsBelongToTheTableBeforeOpisy) {
    const auto l = CheckLegends({{"Miasto", "testopisy"}, {"Data", "pomT0;°C;Tz;Tz"}}, "");
    ASSERT_TRUE(std::holds_alternative<Legends>(l));
    EXPECT_EQ(std::get<Legends>(l).table, "test");
    EXPECT_EQ(std::get<Legends>(l).text, "pomT0;°C;Tz;Tz");
    // The longest table name still gets its legends.
    const auto longest =
        CheckLegends({{"Miasto", std::string(64, 'a') + "opisy"}, {"Data", ""}}, "");
    EXPECT_TRUE(std::holds_alternative<Legends>(longest));
    for (const auto& bad : std::vector<std::vector<Field>>{
             {{"Miasto", "x'opisy"}, {"Data", "t"}},
             {{"Miasto", "testopisy"}},
             {{"Miasto", "testopisy"}, {"Data", std::string(kMaxLegendsBytes + 1, 'a')}},
             {{"Miasto", "testopisy"}, {"Data", "t"}, {"Sonda0", "1"}}})
        EXPECT_TRUE(std::holds_alternative<Refusal>(CheckLegends(bad, "")));
}

TEST(RecorderInputTest, LegendsTextNamesTheChannels) {
    // A legends post is a client's text: a channel number that is no plain
    // number must be passed over, never used as an index.
    const auto l = ChannelNames(
        "pomT0;\xC2\xB0"
        "C;Tz;Tz)(pomT1;V;U1;U1)(pomT2;hPa;P;P)(junk)(pomT99;x;y;y)(pomT4;;N;N)"
        "(pomT-1;x;Minus;M)(pomT+3;x;Plus;P)(pomT-0;x;Zero;Z)");
    const std::vector<std::pair<std::string, std::string>> expected = {{"Tz",
                                                                        "\xC2\xB0"
                                                                        "C"},
                                                                       {"U1", "V"},
                                                                       {"P", "hPa"},
                                                                       {"", ""},
                                                                       {"N", ""},
                                                                       {"", ""}};
    for (std::size_t c = 0; c < expected.size(); ++c) {
        EXPECT_EQ(l[c].name, expected[c].first) << c;
        EXPECT_EQ(l[c].unit, expected[c].second) << c;
    }
    EXPECT_EQ(ChannelNames("")[0].name, "");
}

TEST(RecorderInputTest, OptionsReadAndRefused) {
    std::string error;
    const auto o =
        ParseOptions({"--listen", "127.0.0.1:0", "--db", "/tmp/x.sqlite", "--key", "k"}, error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->host, "127.0.0.1");
    EXPECT_EQ(o->port, 0);
    EXPECT_EQ(o->dbPath, "/tmp/x.sqlite");
    EXPECT_EQ(o->key, "k");
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--listen", "127.0.0.1"}, "bad value for --listen: 127.0.0.1"},
        {{"--listen", "127.0.0.1:65536"}, "bad value for --listen: 127.0.0.1:65536"},
        {{"--listen", ":80"}, "bad value for --listen: :80"},
        {{"--key", ""}, "bad value for --key: (hidden)"},
        {{"--key", "k", "--key-file", "k"}, "give either --key or --key-file"},
        {{"--copy", "a.sqlite"}, "--copy needs two stores: FROM TO"},
        {{"--copy", "a.sqlite", "a.sqlite"}, "--copy needs two different stores: FROM TO"},
        {{"--threads", "0"}, "bad value for --threads: 0"},
        {{"--db"}, "--db needs a value"},
        {{"--bogus"}, "unknown option --bogus"}};
    for (const auto& [args, message] : bad) {
        error.clear();
        EXPECT_FALSE(ParseOptions(args, error).has_value());
        EXPECT_EQ(error, message);
    }
}

}  // namespace
}  // namespace pom::recorder
