// The pages' shells and the data they carry, without a server.
#include "tools/recorder/RecorderPages.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace pom::recorder {
namespace {

struct JsonCase {
    std::string text;
    std::string json;
};

// Names the case in the test list by its ASCII part only.
void PrintTo(const JsonCase& c, std::ostream* os) {
    for (char ch : c.json) *os << (ch > ' ' && ch < 0x7f ? ch : '_');
}

class ScriptJsonCases : public ::testing::TestWithParam<JsonCase> {};

TEST_P(ScriptJsonCases, WrittenSoNoTextCanEndTheDataElement) {
    EXPECT_EQ(ScriptJson(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScriptJsonCases,
    ::testing::Values(
        JsonCase{"Sonda_1", "\"Sonda_1\""},
        JsonCase{"</script><script>alert(1)</script>",
                 "\"\\u003c/script\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\""},
        JsonCase{"<!-- a & b", "\"\\u003c!-- a \\u0026 b\""}, JsonCase{"\"\\", "\"\\\"\\\\\""},
        JsonCase{std::string("a\0b\n\x7f", 5), "\"a\\u0000b\\u000a\\u007f\""},
        // Polish letters pass as they are; bytes that are no UTF-8 do not.
        JsonCase{"\xC5\xBC\xC3\xB3\xC5\x82w \xC2\xB0"
                 "C",
                 "\"\xC5\xBC\xC3\xB3\xC5\x82w \xC2\xB0"
                 "C\""},
        JsonCase{"\xB9\xEA", "\"\\ufffd\\ufffd\""},             // Windows-1250 "ąę"
        JsonCase{"\xC5", "\"\\ufffd\""},                        // cut short
        JsonCase{"\xC0\xBC", "\"\\ufffd\\ufffd\""},             // "<" in two bytes
        JsonCase{"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
        JsonCase{"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""}));

TEST(RecorderPagesTest, StationPageCarriesItsTableAsDataAndLinksItsExports) {
    const std::string page = StationPage("Sonda_2");
    EXPECT_NE(page.find("<script type=\"application/json\" id=\"page-data\">{\"table\":\"Sonda_2\"}"
                        "</script>"),
              std::string::npos);
    EXPECT_NE(page.find("href=\"/table/Sonda_2.csv\""), std::string::npos);
    EXPECT_NE(page.find("href=\"/api/table/Sonda_2\""), std::string::npos);
    for (const char* range : {"24h", "7d", "30d", "1r", "all"})
        EXPECT_NE(page.find("data-range=\"" + std::string(range) + "\""), std::string::npos)
            << range;
    // A name that is no table name still cannot bring markup in.
    const std::string odd = StationPage("<b>\"x\"");
    EXPECT_EQ(odd.find("<b>"), std::string::npos);
    EXPECT_NE(odd.find("{\"table\":\"\\u003cb\\u003e\\\"x\\\"\"}"), std::string::npos);
}

TEST(RecorderPagesTest, HomeWithoutTablesSaysHowTheFirstOneComes) {
    const std::string page = IndexPage({});
    EXPECT_NE(page.find("Brak tabel"), std::string::npos);
    // Its script waits for that first station.
    EXPECT_NE(page.find("<script src=\"/assets/dashboard.js?v="), std::string::npos);
}

}  // namespace
}  // namespace pom::recorder
