#include "web/HttpPoster.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "serial/QueuedDispatcher.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/web/Gzip.h"
#include "util/Cp1250.h"
#include "web/HttpDecode.h"

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

// What the sender makes of a reply from a real server: its code, and how
// an error report after "http Error: " starts (and what else it says).
TEST(HttpPosterTest, ReplyWordsAndClientReasonsReachTheReport) {
    std::string longPage;
    for (std::size_t i = 0; i <= http::kMaxLines; ++i) longPage += "x\n";
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    const struct {
        std::string reply, query;
        int code;
        std::string shows, alsoShows;
    } cases[] = {
        {ok + longPage + "Result=Ok\r\n", "", 0, "", ""},  // the word past the line cut
        {ok + longPage, "", -1, "httpclient: response cut to its first 100000 lines\r\nx\nx\n",
         Cp(" …[odpowiedź: ") + std::to_string(longPage.size()) + Cp(" bajtów]")},
        {ok + test::GzipBomb(2), "", -1, "httpclient: gzip body inflates to more than", ""},
        {ok + "Result=Ok\r\n", "?x=", -1, "could not convert x= to multipart", ""},
        {"HTTP/1.0 201 Created\r\n\r\nistnieje=Ok\r\n", "", 1, "", ""},  // any 2xx
    };
    RawHttpServer server;
    QueuedDispatcher main;
    THttpClient client;
    WWyslac sender(
        main,
        [&](const UploadRecord& r, const std::atomic<bool>&) { return PostRecordWith(client, r); },
        [](const std::string&, bool, WWyslac::Kind) {}, [] { return std::string(); });
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.code) + " " + k.shows.substr(0, 40));
        server.SetReply(RawHttpServer::Canned(k.reply));
        const auto record = BuildReadingRecord("2023-01-05 07:04:09 21.5; ", "QRX741",
                                               server.url("/Zapisz2Pomiary.php") + k.query);
        ASSERT_TRUE(record);
        std::string shown;
        EXPECT_EQ(sender.PostRecord(*record, shown), k.code);
        EXPECT_TRUE(shown.starts_with(k.shows)) << shown.substr(0, 200);
        EXPECT_NE(shown.find(k.alsoShows), std::string::npos) << shown.substr(0, 400);
        EXPECT_LT(shown.size(), kReportMax);
    }
}

}  // namespace
}  // namespace pom
