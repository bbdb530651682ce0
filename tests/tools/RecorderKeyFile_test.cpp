// The shared key from a file, and the options that go with it.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/tools/RecorderClient.h"
#include "tools/recorder/RecorderOptions.h"
#include "tools/recorder/RecorderServer.h"
#include "tools/recorder/RecorderStore.h"
#include "web/HttpPoster.h"

namespace pom::recorder {
namespace {

TEST(RecorderOptionsTest, KeyFileReadOrRefused) {
    struct Case {
        std::optional<std::string> content;  // nullopt: no file
        std::string key;                     // empty: refused with `error`
        std::string error;
    };
    const Case cases[] = {{"s3cret\n", "s3cret", ""},
                          {"s3cret\r\n", "s3cret", ""},
                          {" s3 cret ", " s3 cret ", ""},  // blanks are the key's own
                          {"\n", "", "the file holds no key"},
                          {std::nullopt, "", "No such file or directory"},
                          {std::string(4097, 'k'), "", "longer than 4096 bytes"}};
    test::TempDir dir;
    const std::string path = dir.file("klucz");
    for (const Case& c : cases) {
        std::remove(path.c_str());
        if (c.content) test::WriteFile(path, *c.content);
        std::string error;
        const auto o = ParseOptions({"--key-file", path}, error);
        EXPECT_EQ(o ? o->key : "", c.key) << error;
        EXPECT_EQ(error, c.error.empty() ? "" : "--key-file " + path + ": " + c.error);
    }
}

// The monitor's own client sends the key written into the script address,
// for readings and legends alike; the value as written, "+" as "%2B".
TEST(RecorderOptionsTest, TheMonitorSendsTheKeyOfTheScriptAddress) {
    const std::string key = "s3cret-1.2_x~";
    test::TempDir dir;
    SqliteStore store(dir.file("p.sqlite"));
    Server server(store, ServerConfig{"127.0.0.1", 0, key, 2});
    std::string error;
    const int port = server.Start(&error);
    ASSERT_GT(port, 0) << error;
    const std::string script = "127.0.0.1:" + std::to_string(port) + "/Zapisz2Pomiary.php?key=";
    for (const auto& [given, stored] : std::vector<std::pair<std::string, bool>>{
             {key, true}, {"s3cret", false}, {"a+b", false}}) {
        const auto reading =
            BuildReadingRecord("2026-01-05 07:04:09 21.5; ", "test", script + given);
        ASSERT_TRUE(reading.has_value());
        THttpClient client;
        EXPECT_EQ(test::HasSuccessWord(PostRecordWith(client, *reading).response), stored) << given;
        const UploadRecord legends = BuildLegendsRecord("T [C]", "test", script + given);
        EXPECT_EQ(test::HasSuccessWord(PostRecordWith(client, legends).response), stored) << given;
    }
}

}  // namespace
}  // namespace pom::recorder
