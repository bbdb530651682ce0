#include "web/Uploader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "serial/QueuedDispatcher.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using ::testing::ElementsAre;

class Host final : public UploadHost {
public:
    std::vector<std::string> web, status, stored;
    bool checked = true;
    bool enabled = true;
    int interval = 60000;
    int measure = 10;
    int saves = 0;

    std::string Stamp() override { return "2023-05-01 12:00:00 "; }
    void AppendWeb(const std::string& line) override { web.push_back(line.substr(20)); }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    bool UploadChecked() const override { return checked; }
    void SetUploadTimerEnabled(bool on) override { enabled = on; }
    void SetUploadInterval(int ms) override { interval = ms; }
    int MeasureInterval() const override { return measure; }
    std::string UploadTable() const override { return "QRX741"; }
    std::string UploadAddress() const override { return "127.0.0.1:8080/Zapisz2Pomiary.php"; }
    void PeriodicSave() override { ++saves; }
    void StoreLastSent(const std::string& s) override { stored.push_back(s); }
};

// A server that answers what the test says, recording what was posted.
class UploaderTest : public ::testing::Test {
protected:
    PostOutcome Post(const UploadRecord& r) {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(r);
        return {reply_, failure_};
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
    Reply("", "down");
    for (int i = 0; i < 5; ++i) uploader_.Append("2023-05-01 12:0" + std::to_string(i) + ":00 1; ");
    host_.interval = 1234;
    uploader_.Timer4WWWTimer();
    EXPECT_EQ(host_.interval, 1234);  // exactly five: unchanged
    ASSERT_TRUE(main_.PumpUntil([&] { return sender_.Idle(); }));
    uploader_.Append("2023-05-01 12:09:00 1; ");
    uploader_.Timer4WWWTimer();
    EXPECT_EQ(host_.interval, 10000);
    ASSERT_TRUE(main_.PumpUntil([&] { return sender_.Idle(); }));
    // Unticked: the periodic save still runs, nothing is sent.
    host_.checked = false;
    const std::size_t posts = Posted().size();
    uploader_.Timer4WWWTimer();
    EXPECT_EQ(Posted().size(), posts);
}

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
