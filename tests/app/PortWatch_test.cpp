#include "app/logic/PortWatch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

using State = PortWatch::State;

// A port whose device comes and goes as the test says.
class FakePort final : public PortWatchHost {
public:
    std::vector<std::string> log, web;
    bool run = true;
    bool active = false;
    std::string device = "/dev/ttyACM0";
    int openError = 0;  // what the next opening fails with (0: it opens)
    int opens = 0, closes = 0;

    std::string Stamp() override { return "2023-05-01 12:00:00 "; }
    void AppendLog(std::string line) override { log.push_back(std::move(line)); }
    void AppendWeb(const std::string& cp1250) override { web.push_back(cp1250); }
    std::string PortText() const override { return "ttyACM0"; }
    std::uint32_t Baud() const override { return 57600; }
    bool RunWanted() const override { return run; }
    bool PortActive() const override { return active; }
    std::string DeviceId() const override { return device; }
    int OpenPort() override {
        ++opens;
        active = openError == 0;
        return openError;
    }
    void ClosePort() override {
        ++closes;
        active = false;
    }
};

class PortWatchTest : public ::testing::Test {
protected:
    // The start-up timer's opening, as the window reports it.
    void Start(bool ok, int error = 0) {
        port_.active = ok;
        watch_.Opened(ok, error);
    }

    test::FakeClock clock_;
    FakePort port_;
    PortWatch watch_{port_, clock_};
};

TEST(PortWatchRules, WhichWorkerReportsMeanTheDeviceIsGone) {
    const struct {
        std::uint32_t place;
        int code;
        bool loss;
    } cases[] = {
        {9804, EIO, true},      // read on a hung-up tty
        {9803, EIO, true},      // queue count of a pulled adapter
        {9803, ENODEV, true},   //
        {9702, ENXIO, true},    // write to a device that is gone
        {9911, EBADF, true},    //
        {9905, ENOTTY, false},  // a pseudo-terminal has no modem lines
        {9803, EINVAL, false},  // no line counters
        {9701, 0, false},       // a write cut short by its time-out
        {112, ENOENT, false},   // a failed opening is not a loss of an open port
        {501, EIO, false},      // the main thread's own calls
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortWatch::IsLoss(c.place, c.code), c.loss) << c.place << " " << c.code;
}

TEST(PortWatchRules, AgesInSecondsMinutesAndHours) {
    const struct {
        long long s;
        const char* text;
    } cases[] = {{-3, "0 s"},    {0, "0 s"},        {12, "12 s"},  {119, "119 s"},
                 {120, "2 min"}, {7199, "119 min"}, {7200, "2 h"}, {400000, "111 h"}};
    for (const auto& c : cases) EXPECT_EQ(PortWatch::Age(c.s), c.text) << c.s;
}

// Every way an open port can be lost: closed, logged once in both memos,
// retried while RUN stays ticked.
TEST_F(PortWatchTest, EachKindOfLossClosesLogsAndRetries) {
    enum class How { Report, NodeGone, NodeReplaced };
    const struct {
        How how;
        const char* reason;
    } cases[] = {
        {How::Report, "błąd wejścia/wyjścia"},
        {How::NodeGone, "urządzenie zniknęło"},
        {How::NodeReplaced, "nazwa prowadzi do innego urządzenia"},
    };
    for (const auto& c : cases) {
        FakePort port;
        PortWatch watch(port, clock_);
        port.active = true;
        watch.Opened(true, 0);
        watch.Check();
        ASSERT_EQ(watch.state(), State::Open);
        switch (c.how) {
            case How::Report:
                EXPECT_TRUE(watch.Report(9804, EIO));
                break;
            case How::NodeGone:
                port.device.clear();
                watch.Check();
                break;
            case How::NodeReplaced:
                port.device = "/dev/ttyACM1";
                watch.Check();
                break;
        }
        const std::string line =
            "2023-05-01 12:00:00 " + Cp("stacja odłączona: ttyACM0 (") + Cp(c.reason) + ")";
        EXPECT_EQ(watch.state(), State::Retrying) << c.reason;
        EXPECT_EQ(watch.Reason(), Cp(c.reason));
        EXPECT_FALSE(port.active);
        EXPECT_EQ(port.closes, 1);
        EXPECT_EQ(port.log, std::vector<std::string>{line});
        EXPECT_EQ(port.web, std::vector<std::string>{line});
        // A second report of the same loss changes nothing.
        watch.Report(9803, EIO);
        EXPECT_EQ(port.closes, 1);
        EXPECT_EQ(port.log.size(), 1u);
    }
}

TEST_F(PortWatchTest, RetriesEveryTickUntilTheDeviceIsBackThenLogsIt) {
    Start(true);
    clock_.advance(60);
    watch_.Report(9803, EIO);
    port_.device.clear();  // unplugged

    const struct {
        std::string device;
        int openError;
        State after;
        int opens;
        std::size_t webLines;  // each new reason once
    } ticks[] = {
        {"", 0, State::Retrying, 0, 2},                   // no device: not even tried
        {"", 0, State::Retrying, 0, 2},                   // same reason: not logged again
        {"/dev/ttyACM1", EACCES, State::Retrying, 1, 3},  // there, but refused
        {"/dev/ttyACM1", EACCES, State::Retrying, 2, 3},  //
        {"/dev/ttyACM1", 0, State::Open, 3, 4},           // back
        {"/dev/ttyACM1", 0, State::Open, 3, 4},           // open: nothing to retry
    };
    for (const auto& t : ticks) {
        clock_.advance(PortWatch::kRetrySeconds);
        port_.device = t.device;
        port_.openError = t.openError;
        watch_.RetryTick();
        EXPECT_EQ(watch_.state(), t.after);
        EXPECT_EQ(port_.opens, t.opens);
        EXPECT_EQ(port_.web.size(), t.webLines);
    }
    EXPECT_EQ(port_.web[1],
              "2023-05-01 12:00:00 " + Cp("ponowne otwarcie nieudane: ttyACM0 (brak urządzenia)"));
    EXPECT_EQ(port_.web[2],
              "2023-05-01 12:00:00 " + Cp("ponowne otwarcie nieudane: ttyACM0 (brak uprawnień)"));
    const std::string back = "2023-05-01 12:00:00 " + Cp("stacja podłączona: ttyACM0: 57600");
    EXPECT_EQ(port_.web.back(), back);
    EXPECT_EQ(port_.log.back(), back);
    EXPECT_EQ(port_.log.size(), 2u);  // the loss and the return, nothing between
    // The device opened now is the one watched: a renumbered node is no loss.
    watch_.Check();
    EXPECT_EQ(watch_.state(), State::Open);
}

TEST_F(PortWatchTest, RunIsTheUsersWish) {
    // A port missing at start is retried while RUN is ticked...
    port_.device.clear();
    Start(false, ENOENT);
    EXPECT_EQ(watch_.state(), State::Retrying);
    EXPECT_EQ(watch_.Reason(), Cp("nie ma takiego pliku ani urządzenia"));
    // ... unticking RUN stops the retries ...
    port_.run = false;
    watch_.Check();
    EXPECT_EQ(watch_.state(), State::Closed);
    port_.device = "/dev/ttyACM0";
    watch_.RetryTick();
    EXPECT_EQ(port_.opens, 0);
    // ... ticking it opens through the handler, which reports the result.
    port_.run = true;
    port_.active = true;
    watch_.Opened(true, 0);
    EXPECT_EQ(watch_.state(), State::Open);
    // RUN unticked closes the port: no loss is logged, nothing is retried.
    port_.run = false;
    port_.active = false;
    watch_.Check();
    EXPECT_EQ(watch_.state(), State::Closed);
    clock_.advance(60);
    watch_.RetryTick();
    EXPECT_EQ(port_.opens, 0);
    EXPECT_TRUE(port_.log.empty());
    // A loss while RUN is off (the COM menu opens the port regardless): closed.
    port_.active = true;
    watch_.Opened(true, 0);
    watch_.Report(9804, EIO);
    EXPECT_EQ(watch_.state(), State::Closed);
    watch_.RetryTick();
    EXPECT_EQ(port_.opens, 0);
}

TEST_F(PortWatchTest, PortAndBaudChangesFollowTheirOpening) {
    Start(true);
    // A port picked that does not open: retried, on the new name.
    port_.active = false;
    watch_.Opened(false, ENOENT);
    EXPECT_EQ(watch_.state(), State::Retrying);
    port_.device = "/dev/ttyUSB0";
    watch_.RetryTick();
    EXPECT_EQ(watch_.state(), State::Open);
    // A port closed behind the watch's back with RUN ticked is reopened.
    port_.active = false;
    watch_.Check();
    EXPECT_EQ(watch_.state(), State::Retrying);
    EXPECT_EQ(watch_.Reason(), Cp("port zamknięty"));
    // Reports of a lost device that come while not open do nothing.
    EXPECT_TRUE(watch_.Report(9804, EIO));
    EXPECT_EQ(port_.closes, 0);
}

TEST_F(PortWatchTest, StatusLineFollowsTheStateAndTheLastLine) {
    const auto text = [&](int interval = 10) { return watch_.StatusLine(interval); };
    EXPECT_EQ(text().text, Cp("ttyACM0: port otwierany za 5 s"));
    clock_.advance(3);
    EXPECT_EQ(text().text, Cp("ttyACM0: port otwierany za 2 s"));
    clock_.advance(3);
    EXPECT_EQ(text().text, Cp("ttyACM0: port otwierany za 0 s"));
    EXPECT_FALSE(text().warning);

    Start(true);
    EXPECT_EQ(text().text, Cp("ttyACM0: otwarty, czekam na pierwszą linię stacji"));
    clock_.advance(31);  // more than three intervals of 10 s without a line
    EXPECT_TRUE(text().warning);
    EXPECT_FALSE(text(15).warning);
    watch_.LineReceived();
    clock_.advance(12);
    EXPECT_EQ(text().text, Cp("ttyACM0: otwarty, ostatnia linia 12 s temu"));
    EXPECT_FALSE(text().warning);
    clock_.advance(19);
    EXPECT_TRUE(text().warning);

    clock_.set({2023, 5, 1, 13, 4, 5, 0});
    watch_.Report(9804, EIO);
    EXPECT_EQ(text().text, Cp("ttyACM0: ponawiam otwarcie od 13:04:05 (błąd wejścia/wyjścia)"));
    EXPECT_TRUE(text().warning);
    EXPECT_EQ(watch_.Since(), (LocalDateTime{2023, 5, 1, 13, 4, 5, 0}));

    port_.run = false;
    watch_.Check();
    EXPECT_EQ(text().text, Cp("ttyACM0: zamknięty przez użytkownika (RUN)"));
    EXPECT_FALSE(text().warning);
}

}  // namespace
}  // namespace pom
