#include "web/HttpPoster.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

using test::RawHttpServer;
using ::testing::ElementsAre;

// The form fields of a multipart request, in the order they came.
std::vector<std::pair<std::string, std::string>> FormFields(const std::string& request) {
    std::vector<std::pair<std::string, std::string>> out;
    static const std::regex field("name=\"([^\"]*)\"\r\n\r\n([^\r]*)\r\n");
    for (std::sregex_iterator it(request.begin(), request.end(), field), end; it != end; ++it)
        out.emplace_back((*it)[1], (*it)[2]);
    return out;
}

TEST(HttpPosterTest, ReadingPostsItsFieldsInOrderAndSkipsEmptySlots) {
    RawHttpServer server;
    const auto record = BuildReadingRecord("2023-01-05 07:04:09 21.5; -888; 3.3; ", "QRX741",
                                           server.url("/Zapisz2Pomiary.php"));
    ASSERT_TRUE(record);
    THttpClient client;
    const PostOutcome out = PostRecordWith(client, *record);
    EXPECT_EQ(out.failure, "");
    EXPECT_EQ(out.response, "Result=Ok\r\n");
    const std::string request = server.Request();
    EXPECT_TRUE(request.starts_with("POST /Zapisz2Pomiary.php HTTP/1.0\r\n")) << request;
    using F = std::pair<std::string, std::string>;
    EXPECT_THAT(FormFields(request),
                ElementsAre(F{"Miasto", "QRX741"}, F{"Data", "2023-01-05 07:04:09"},
                            F{"Sonda0", "21.5"}, F{"Sonda1", "-888"}, F{"Sonda2", "3.3"}));
}

TEST(HttpPosterTest, NoServerIsAFailureWithItsReason) {
    const test::ReservedPort nobody;
    UploadRecord r;
    r.Address = nobody.address();
    THttpClient client;
    const PostOutcome out = PostRecordWith(client, r);
    EXPECT_NE(out.failure, "");
    EXPECT_EQ(out.response, "");
}

TEST(HttpPosterTest, CancelFlagGivesUpASilentServerAtOnce) {
    RawHttpServer server(RawHttpServer::Silent());
    UploadRecord r;
    r.Address = server.url("/");
    THttpClient client;  // 90 s of patience by default
    std::atomic<bool> cancel{false};
    client.SetCancelFlag(&cancel);
    std::thread stopper([&] {
        server.Request();  // once the request has arrived
        cancel = true;
    });
    const PostOutcome out = PostRecordWith(client, r);
    stopper.join();
    EXPECT_EQ(out.failure, "timeout");
    EXPECT_FALSE(client.Busy());
}

}  // namespace
}  // namespace pom
