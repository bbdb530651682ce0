// The shared key from a file, and the options that go with it.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tools/recorder/RecorderOptions.h"

namespace pom::recorder {
namespace {

struct KeyCase {
    const char* name;
    std::optional<std::string> content;  // nullopt: no file
    std::optional<std::string> key;      // nullopt: refused
    std::string error;                   // the end of the refusal
};

std::ostream& operator<<(std::ostream& os, const KeyCase& c) {
    return os << c.name;
}

class KeyFileTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyFileTest, ReadOrRefused) {
    const KeyCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.file("klucz");
    if (c.content) test::WriteFile(path, *c.content);
    std::string error;
    const auto o = ParseOptions({"--key-file", path}, error);
    if (c.key) {
        ASSERT_TRUE(o.has_value()) << error;
        EXPECT_EQ(o->key, *c.key);
        return;
    }
    EXPECT_FALSE(o.has_value());
    EXPECT_EQ(error, "--key-file " + path + ": " + c.error);
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << "the key is not echoed";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyFileTest,
    ::testing::Values(
        KeyCase{"LineEnd", "s3cret\n", "s3cret", ""},
        KeyCase{"WindowsLineEnd", "s3cret\r\n", "s3cret", ""},
        KeyCase{"NoLineEnd", "s3cret", "s3cret", ""},
        KeyCase{"BlanksAreTheKeys", " s3 cret \n", " s3 cret ", ""},
        KeyCase{"Empty", "", std::nullopt, "the file holds no key"},
        KeyCase{"OnlyALineEnd", "\n", std::nullopt, "the file holds no key"},
        KeyCase{"Missing", std::nullopt, std::nullopt, "No such file or directory"},
        KeyCase{"TooLong", std::string(4097, 'k'), std::nullopt, "longer than 4096 bytes"},
        KeyCase{"LongestTaken", std::string(4096, 'k') + "\n", std::string(4096, 'k'), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecorderOptionsTest, KeyFileAndCopyRefusals) {
    test::TempDir dir;
    const std::string key = dir.file("klucz");
    test::WriteFile(key, "s3cret\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--key", "k", "--key-file", key}, "give either --key or --key-file"},
        {{"--key-file", key, "--key", "k"}, "give either --key or --key-file"},
        {{"--key-file", dir.path()}, "--key-file " + dir.path() + ": cannot be read"},
        {{"--copy", "a.sqlite"}, "--copy needs two stores: FROM TO"},
        {{"--copy", "a.sqlite", "a.sqlite"}, "--copy needs two different stores: FROM TO"}};
    for (const auto& [args, message] : bad) {
        std::string error;
        EXPECT_FALSE(ParseOptions(args, error).has_value()) << message;
        EXPECT_EQ(error, message);
    }
    std::string error;
    const auto o = ParseOptions({"--copy", "a.sqlite", "b.sqlite"}, error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_EQ(o->copyFrom, "a.sqlite");
    EXPECT_EQ(o->copyTo, "b.sqlite");
}

}  // namespace
}  // namespace pom::recorder
