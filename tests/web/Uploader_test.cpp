#include "web/Uploader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "serial/QueuedDispatcher.h"
#include "tests/support/RawHttpServer.h"
#include "util/Cp1250.h"
#include "web/HttpPoster.h"

namespace pom {
namespace {

using test::BodyOf;
using test::RawHttpServer;
using ::testing::ElementsAre;

class Host final : public UploadHost {
public:
    std::vector<std::string> web, status, stored;
    bool checked = true;
    bool enabled = true;
    int interval = 60000;
    int measure = 10;
    int saves = 0;
    // Only the fake poster sees this address; the real-server tests set their own.
    std::string address = "127.0.0.1:8080/Zapisz2Pomiary.php";

    std::string Stamp() override { return "2023-05-01 12:00:00 "; }
    void AppendWeb(const std::string& line) override { web.push_back(line.substr(20)); }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    bool UploadChecked() const override { return checked; }
    void SetUploadTimerEnabled(bool on) override { enabled = on; }
    void SetUploadTimerInterval(int ms) override { interval = ms; }
    int MeasureInterval() const override { return measure; }
    std::string UploadTable() const override { return "QRX741"; }
    std::string UploadAddress() const override { return address; }
    void PeriodicSave() override { ++saves; }
    void StoreLastSent(const std::string& s) override { stored.push_back(s); }
};

// A server that answers what the test says, recording what was posted.
class UploaderTest : public ::testing::Test {
protected:
    PostOutcome Post(const UploadRecord& r) {
        if (real_) return PostRecordWith(client_, r);
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(r);
        return {reply_, failure_, {}};
    }
    // Runs one tick and lets the sender's report reach the "main thread".
    void Tick() {
        uploader_.Timer4WWWTimer();
        ASSERT_TRUE(main_.PumpUntil([&] { return sender_.Idle(); }));
    }
    void Reply(std::string text, std::string failure = {}) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(text);
        failure_ = std::move(failure);
    }
    std::vector<UploadRecord> Posted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }

    QueuedDispatcher main_;
    Host host_;
    UploadQueue queue_;
    std::mutex mutex_;
    std::string reply_, failure_;
    std::vector<UploadRecord> posted_;
    bool real_ = false;  // posts go to host_.address through a real client
    THttpClient client_;
    WWyslac sender_{main_,
                    [this](const UploadRecord& r, const std::atomic<bool>&) { return Post(r); },
                    [this](const std::string& line, bool ok, WWyslac::Kind kind) {
                        uploader_.onMeldunek(line, ok, kind);
                    },
                    [] { return std::string("2023-05-01 12:00:01 "); }};
    Uploader uploader_{host_, queue_, sender_};
};

TEST_F(UploaderTest, WithTheServerDownTheFirstEntryIsRetriedAndTheSecondWaits) {
    uploader_.Append("2023-05-01 12:00:00 1; ");
    uploader_.Append("2023-05-01 12:05:00 2; ");
    Reply("", "Could not connect");
    Tick();
    Tick();
    ASSERT_EQ(Posted().size(), 2u);
    EXPECT_EQ(Posted()[0].Stamp, "2023-05-01 12:00:00");
    EXPECT_EQ(Posted()[1].Stamp, "2023-05-01 12:00:00");
    EXPECT_EQ(queue_.Size(), 2u);
    EXPECT_EQ(host_.interval, 60000);
    EXPECT_EQ(host_.status.back(), "Wait...");
    EXPECT_EQ(host_.web.back(), "http Error: Could not connect");
    EXPECT_TRUE(host_.enabled);

    Reply("Result=Ok\r\n");
    Tick();
    EXPECT_EQ(queue_.Size(), 1u);
    EXPECT_EQ(queue_.Front(), "2023-05-01 12:05:00 2; ");
    EXPECT_EQ(uploader_.LastSent(), "2023-05-01 12:00:00");
    EXPECT_THAT(host_.stored, ElementsAre("2023-05-01 12:00:00"));
    EXPECT_EQ(host_.status.back(), Cp("ostatni wysłany: 2023-05-01 12:00:00"));
    // Below five entries the next tick comes after a third of the interval.
    EXPECT_EQ(host_.interval, 3330);
    EXPECT_THAT(std::vector<std::string>(host_.web.end() - 4, host_.web.end()),
                ElementsAre("z kolejki[1/2]: 2023-05-01 12:00:00 1; ", "dane do: QRX741",
                            Cp("wyśle do: 127.0.0.1:8080/Zapisz2Pomiary.php"), "wymiana ok"));
    EXPECT_EQ(host_.saves, 3);
}

TEST_F(UploaderTest, PostedFieldsFollowTheEntry) {
    uploader_.Append("2023-05-01 12:00:00 21.5; -888; -999.0; 3; ");
    Reply("istnieje=Ok");
    Tick();
    ASSERT_EQ(Posted().size(), 1u);
    const UploadRecord r = Posted()[0];
    EXPECT_EQ(r.Table, "QRX741");
    EXPECT_EQ(r.Address, "127.0.0.1:8080/Zapisz2Pomiary.php");
    EXPECT_THAT(std::vector<std::string>(r.Values.begin(), r.Values.begin() + 5),
                ElementsAre("21.5", "-888", "-999.0", "3", "-999.0"));
    EXPECT_TRUE(queue_.Empty());
    EXPECT_EQ(host_.web.back(), "istnieje ok");
}

TEST_F(UploaderTest, LegendsSuccessRemovesNoReading) {
    uploader_.Append("2023-05-01 12:00:00 1; ");
    uploader_.SetLastSent("2023-04-30 00:00:00");
    Reply("Result=Ok");
    uploader_.SendLegends("pomT0;V;U;U");
    ASSERT_TRUE(main_.PumpUntil([&] { return sender_.Idle(); }));
    ASSERT_EQ(Posted().size(), 1u);
    EXPECT_EQ(Posted()[0].Table, "QRX741opisy");
    EXPECT_EQ(Posted()[0].Address, "127.0.0.1:8080/Zapisz2Pomiaryopisy.php");
    EXPECT_EQ(queue_.Size(), 1u);
    EXPECT_EQ(uploader_.LastSent(), "2023-04-30 00:00:00");
    EXPECT_TRUE(host_.stored.empty());
    EXPECT_EQ(host_.web.back(), "wymiana ok");
}

TEST_F(UploaderTest, SuccessWithAnEmptyQueueRemovesNothing) {
    uploader_.onMeldunek("2023-05-01 12:00:01 wymiana ok", true, WWyslac::Kind::Reading);
    EXPECT_TRUE(queue_.Empty());
    EXPECT_EQ(host_.status.size(), 1u);
}

TEST_F(UploaderTest, EntryWithoutTwoFieldsIsMovedOutOfTheWay) {
    uploader_.Append("zepsuty");
    uploader_.Append("2023-05-01 12:00:00 1; ");
    Reply("Result=Ok");
    Tick();
    EXPECT_EQ(host_.web.back(), Cp("pominięty wpis kolejki (mniej niż dwa pola): zepsuty"));
    EXPECT_EQ(queue_.Size(), 1u);
    Tick();
    EXPECT_TRUE(queue_.Empty());
}

TEST_F(UploaderTest, BusySenderRefusesASecondJob) {
    uploader_.Append("2023-05-01 12:00:00 1; ");
    Reply("Result=Ok");
    uploader_.SendQueueHead(queue_.Front());
    // Its report waits for the main thread, so the sender is still busy.
    uploader_.SendQueueHead(queue_.Front());
    EXPECT_EQ(host_.web.back(), "Error: not suspend");
    ASSERT_TRUE(main_.PumpUntil([&] { return sender_.Idle(); }));
    EXPECT_TRUE(queue_.Empty());
}

TEST_F(UploaderTest, IntervalFollowsTheQueueLength) {
    Reply("Result=Ok");
    for (int i = 0; i < 6; ++i) uploader_.Append("2023-05-01 12:0" + std::to_string(i) + ":00 1; ");
    Tick();
    EXPECT_EQ(host_.interval, 10000);  // six after the hand-over
    uploader_.SetUploadInterval(1234);
    Tick();
    EXPECT_EQ(host_.interval, 1234);  // exactly five: unchanged
    Tick();
    EXPECT_EQ(host_.interval, 3330);
    EXPECT_TRUE(host_.enabled);
    // Unticked: the periodic save still runs, nothing is sent.
    host_.checked = false;
    const std::size_t posts = Posted().size();
    uploader_.Timer4WWWTimer();
    EXPECT_EQ(Posted().size(), posts);
}

// A dead server during a read-out: every queued entry asks for a tick in
// 5 s, and each of those would hit the server again.
TEST_F(UploaderTest, BackOffHoldsUntilAPostSucceeds) {
    uploader_.Append("2023-05-01 12:00:00 1; ");
    Reply("", "Could not connect");
    for (int i = 1; i <= 3; ++i) {
        Tick();
        uploader_.Append("2023-05-01 12:0" + std::to_string(i) + ":00 1; ");
        uploader_.SetUploadInterval(5000);  // what queueing an entry asks
        EXPECT_EQ(host_.interval, 60000);
        EXPECT_TRUE(host_.enabled);
    }
    Reply("Result=Ok\r\n");
    Tick();
    EXPECT_EQ(queue_.Size(), 3u);
    uploader_.SetUploadInterval(5000);
    EXPECT_EQ(host_.interval, 5000);
}

// A station interval of 0 or less would make a 0 ms timer that spins.
TEST_F(UploaderTest, IntervalOfZeroOrLessStopsTheTimer) {
    Reply("Result=Ok");
    for (const int measure : {0, -7}) {
        host_.measure = measure;
        uploader_.Append("2023-05-01 12:00:00 1; ");
        Tick();
        EXPECT_FALSE(host_.enabled);
        EXPECT_GT(host_.interval, 0);  // 0 is never handed to the timer
    }
    // Ticking again is not enough: it waits for an interval above 0.
    uploader_.SetTimerEnabled(true);
    EXPECT_FALSE(host_.enabled);
    uploader_.SetUploadInterval(5000);
    EXPECT_TRUE(host_.enabled);
}

// The whole path against a real server: a reply word counts only where the
// script had the form and answered 2xx.
struct ServerCase {
    const char* name;
    std::string redirect;  // the status of a redirect to the script; empty: none
    std::string reply;     // the script's answer
    bool removed;
};

void PrintTo(const ServerCase& c, std::ostream* os) {
    *os << c.name;
}

class RealServerUpload : public UploaderTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(RealServerUpload, EntryLeavesTheQueueOnlyWhenTheScriptStoredIt) {
    const ServerCase& k = GetParam();
    RawHttpServer script(RawHttpServer::Canned(k.reply));
    RawHttpServer moved(RawHttpServer::Canned(std::string("HTTP/1.0 ") + k.redirect +
                                              "\r\nLocation: " + script.url("/nowy/Zapisz.php") +
                                              "\r\n\r\nmoved"));
    host_.address = (k.redirect.empty() ? script : moved).url("/Zapisz2Pomiary.php");
    real_ = true;
    uploader_.Append("2023-05-01 12:00:00 21.5; 3.3; ");
    Tick();

    EXPECT_EQ(queue_.Empty(), k.removed);
    // The script had the whole form, by POST, once.
    EXPECT_EQ(script.RequestCount(), 1u);
    EXPECT_TRUE(script.Request().starts_with("POST "));
    EXPECT_NE(BodyOf(script.Request()).find("name=\"Data\"\r\n\r\n2023-05-01 12:00:00\r\n"),
              std::string::npos);
    const std::string& report = host_.web.back();
    if (k.removed) {
        EXPECT_EQ(report, "wymiana ok");
    } else {
        EXPECT_TRUE(report.starts_with("http Error: HTTP/1.0 ")) << report;
        EXPECT_LT(report.size(), 800u);  // however large the page
    }
}

const std::string kOk = "HTTP/1.0 200 OK\r\n\r\nResult=Ok\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, RealServerUpload,
    ::testing::Values(ServerCase{"Stored", "", kOk, true},
                      ServerCase{"Redirect302", "302 Found", kOk, true},
                      ServerCase{"Redirect307", "307 Temporary Redirect", kOk, true},
                      ServerCase{"Redirect302ToAFailingScript", "302 Found",
                                 "HTTP/1.0 500 Internal Server Error\r\n\r\nResult=Ok\r\n", false},
                      ServerCase{"ErrorPage500WithTheReplyWord", "",
                                 "HTTP/1.0 500 Internal Server Error\r\n\r\n<html>Result=Ok\r\n" +
                                     std::string(1 << 20, 'e') + "</html>",
                                 false},
                      ServerCase{"NotFound404WithTheReplyWord", "",
                                 "HTTP/1.0 404 Not Found\r\n\r\nResult=Ok istnieje=Ok\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SenderTest, PostThatFailsInsteadOfAnsweringStillReportsAndGoesIdle) {
    QueuedDispatcher main;
    std::vector<std::string> reports;
    WWyslac sender(
        main,
        [](const UploadRecord&, const std::atomic<bool>&) -> PostOutcome {
            throw std::runtime_error("empty address");
        },
        [&](const std::string& line, bool ok, WWyslac::Kind) {
            EXPECT_FALSE(ok);
            reports.push_back(line);
        },
        [] { return std::string("S "); });
    ASSERT_TRUE(sender.HandOver(UploadRecord{}));
    ASSERT_TRUE(main.PumpUntil([&] { return sender.Idle(); }));
    EXPECT_THAT(reports, ElementsAre("S http Error: empty address"));
    EXPECT_TRUE(sender.HandOver(UploadRecord{}));
    // Destroyed with a report waiting for the main thread: no hang.
}

}  // namespace
}  // namespace pom
