#include "serial/SerialPort.h"

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/PosixTty.h"
#include "serial/QueuedDispatcher.h"
#include "serial/SerialPlaces.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

using namespace std::chrono_literals;

struct Report {
    std::uint32_t place;
    std::uint32_t code;
    std::string msg;
    std::uint8_t noise;
};

// A port on a pseudo-terminal, with the test as the main thread that pumps
// the worker's calls.
class SerialPortTest : public ::testing::Test {
protected:
    SerialPortTest() {
        port_ = std::make_unique<TSerialPort>(main_);
        port_->SetOnProcessError([this](TSerialPort&, std::uint32_t place, std::uint32_t code,
                                        const std::string& msg, std::uint8_t noise) {
            reports_.push_back({place, code, msg, noise});
        });
    }

    TSerialPort& port() { return *port_; }

    void Open(const std::string& path) {
        port().SetCommPort(path);
        port().SetActive(true);
        ASSERT_TRUE(port().Active());
    }

    bool Pump(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 10s) {
        return main_.PumpUntil(cond, deadline);
    }

    int CountPlace(std::uint32_t place) const {
        int n = 0;
        for (const auto& r : reports_) n += r.place == place ? 1 : 0;
        return n;
    }

    const Report* Find(std::uint32_t place) const {
        for (const auto& r : reports_)
            if (r.place == place) return &r;
        return nullptr;
    }

    bool Has(std::uint32_t place, int code) const {
        for (const auto& r : reports_)
            if (r.place == place && r.code == static_cast<std::uint32_t>(code)) return true;
        return false;
    }

    // Waits until the worker has reported what a pseudo-terminal refuses, so
    // that it is not in the middle of a hand-over when the test goes on.
    void SettleRefusals() {
        ASSERT_TRUE(Pump([&] { return Has(9905, ENOTTY) && Has(9803, ENOTTY); }));
        main_.Pump();
    }

    std::string TakeCluster(std::int32_t* errorCode = nullptr) {
        std::int32_t size = 0, err = 0;
        auto data = port().ReadNextCluster(size, err);
        if (errorCode) *errorCode = err;
        return size > 0 ? std::string(data.get(), static_cast<std::size_t>(size)) : std::string();
    }

    test::TempDir dir_;
    test::Pty pty_;
    QueuedDispatcher main_;
    std::unique_ptr<TSerialPort> port_;
    std::vector<Report> reports_;
};

// --- properties ---

struct AutoTimeoutCase {
    std::uint32_t baud;
    std::uint32_t delay;
};

class AutoTimeouts : public SerialPortTest,
                     public ::testing::WithParamInterface<AutoTimeoutCase> {};

TEST(SerialPortDefaults, ClosedOnTheArduinoPortName) {
    QueuedDispatcher main;
    TSerialPort port(main);
    EXPECT_EQ(port.CommPort(), "ttyACM0");
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.ComHandle(), -1);
}

TEST_P(AutoTimeouts, BaudRatePicksTheLastRowNotAboveIt) {
    port().SetBaudRate(GetParam().baud);
    EXPECT_EQ(port().RTOCharDelayTime(), GetParam().delay);
    EXPECT_EQ(port().WTOCharDelayTime(), GetParam().delay);
}

INSTANTIATE_TEST_SUITE_P(Table, AutoTimeouts,
                         ::testing::Values(AutoTimeoutCase{57600, 190}, AutoTimeoutCase{100, 1100},
                                           AutoTimeoutCase{300000, 43},
                                           AutoTimeoutCase{110, 100000},
                                           AutoTimeoutCase{19200, 570}, AutoTimeoutCase{56000, 200},
                                           AutoTimeoutCase{115199, 190},
                                           AutoTimeoutCase{115200, 95}),
                         [](const auto& info) { return std::to_string(info.param.baud); });

TEST_F(SerialPortTest, WithoutXTOAutoTheDelaysStay) {
    port().SetXTOAuto(false);
    port().SetBaudRate(57600);
    EXPECT_EQ(port().RTOCharDelayTime(), 1100u);
    port().SetXTOAuto(true);  // switching it on applies the table at once
    EXPECT_EQ(port().RTOCharDelayTime(), 190u);
}

TEST_F(SerialPortTest, LimitAbove100IsWarnedAndCut) {
    port().SetXONLimDiv(150);
    port().SetXOFFLimDiv(101);
    EXPECT_EQ(port().XONLimDiv(), 100);
    EXPECT_EQ(port().XOFFLimDiv(), 100);
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[0].place, 100u);
    EXPECT_EQ(reports_[0].code, 150u);
    EXPECT_EQ(reports_[0].noise, 1);
    EXPECT_EQ(reports_[0].msg, "Warning XOnLimDef set to 100");
    EXPECT_EQ(reports_[1].code, 101u);
    EXPECT_EQ(reports_[1].msg, "Warning XOffLimDef set to 100");
}

TEST_F(SerialPortTest, FlowLimitsFromQueueSize) {
    Open(pty_.slavePath());
    EXPECT_EQ(port().XonLim(), 1351u);
    EXPECT_EQ(port().XoffLim(), 1351u);
}

TEST_F(SerialPortTest, QueueSizeChangeWhileClosedIsRefused) {
    port().SetRxQueueSize(2048);
    port().SetTxQueueSize(1024);
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[0].place, 101u);
    EXPECT_EQ(reports_[0].msg, "Error can not set Quesize");
    EXPECT_EQ(reports_[1].place, 102u);
    EXPECT_EQ(port().RxQueueSize(), 2048);
    Open(pty_.slavePath());
    reports_.clear();
    port().SetRxQueueSize(1000);
    EXPECT_EQ(CountPlace(101), 0);
    EXPECT_EQ(port().XonLim(), 2048u * 33 / 100);  // applied at the open
}

TEST_F(SerialPortTest, ModemLineChangesWhileClosedAreIgnored) {
    port().SetDTRState(false);
    port().SetRTSState(false);
    port().SetBREAKState(true);
    EXPECT_EQ(port().DTRState(), true);
    EXPECT_EQ(port().RTSState(), true);
    EXPECT_EQ(port().BREAKState(), false);
    EXPECT_TRUE(reports_.empty());
}

struct NoiseCase {
    std::uint8_t errorNoise;
    std::uint8_t noise;
    bool delivered;
};

class NoiseFilter : public SerialPortTest, public ::testing::WithParamInterface<NoiseCase> {};

TEST_P(NoiseFilter, DeliversUpToErrorNoise) {
    port().SetErrorNoise(GetParam().errorNoise);
    port().ProcessError(42, 7, GetParam().noise, "x");
    EXPECT_EQ(reports_.size(), GetParam().delivered ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, NoiseFilter,
                         ::testing::Values(NoiseCase{255, 2, true}, NoiseCase{0, 0, true},
                                           NoiseCase{0, 1, false}, NoiseCase{1, 1, true},
                                           NoiseCase{1, 2, false}));

// --- open and close ---

TEST_F(SerialPortTest, OpenCloseReopen) {
    Open(pty_.slavePath());
    EXPECT_GE(port().ComHandle(), 0);
    ASSERT_NE(Find(110), nullptr);
    EXPECT_EQ(Find(110)->msg, "Msg start reactivating Port");
    EXPECT_EQ(Find(110)->noise, 2);
    SettleRefusals();
    port().SetActive(false);
    EXPECT_EQ(port().Active(), false);
    EXPECT_EQ(port().ComHandle(), -1);
    EXPECT_EQ(port().DTRState(), false);
    EXPECT_EQ(port().RTSState(), false);
    ASSERT_NE(Find(100), nullptr);
    EXPECT_EQ(Find(100)->msg, "Msg start deactivating Port");
    EXPECT_EQ(CountPlace(104), 0);  // the idle worker lets the close through at once
    port().SetActive(true);
    EXPECT_EQ(port().Active(), true);
    EXPECT_EQ(port().DTRState(), true);
    pty_.Write("hello");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "hello");
}

TEST_F(SerialPortTest, EachOpenStartsAFreshSession) {
    // What the worker learnt about one open (calls refused, failures already
    // reported, error counters, a hang-up) does not carry over to the next.
    auto refusals = [&](std::uint32_t place) {
        int n = 0;
        for (const auto& r : reports_) n += r.place == place && r.code == ENOTTY ? 1 : 0;
        return n;
    };
    Open(pty_.slavePath());
    for (int open = 1; open <= 5; ++open) {
        ASSERT_TRUE(Pump([&] { return refusals(9905) == open && refusals(9803) == open; }))
            << "open " << open;
        main_.Pump();
        port().SetActive(false);
        port().SetActive(true);
    }
}

TEST_F(SerialPortTest, FailedOpenLeavesClosedAndALaterOpenRetries) {
    const std::string link = dir_.file("port");
    port().SetCommPort(link);
    port().SetActive(true);
    EXPECT_EQ(port().Active(), false);
    EXPECT_EQ(port().ComHandle(), -1);
    ASSERT_NE(Find(112), nullptr);
    EXPECT_EQ(Find(112)->code, static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(Find(112)->msg, "Error reopening Port");
    std::filesystem::create_symlink(pty_.slavePath(), link);
    port().SetActive(true);
    EXPECT_EQ(port().Active(), true);
    EXPECT_GE(port().ComHandle(), 0);
}

TEST_F(SerialPortTest, LongDevicePathIsOpenedWhole) {
    // Stable names under /dev/serial/by-id/ are often longer than 79 characters.
    const std::string folder = dir_.file(std::string(60, 'd'));
    std::filesystem::create_directories(folder);
    const std::string link =
        folder + "/usb-Arduino__www.arduino.cc__0043_9563533303135181E0E0-if00";
    ASSERT_GT(link.size(), 120u);
    std::filesystem::create_symlink(pty_.slavePath(), link);
    Open(link);
    EXPECT_EQ(port().Active(), true);
    EXPECT_EQ(Find(112), nullptr);
}

TEST_F(SerialPortTest, PortHeldByAnotherOpenerIsRefused) {
    Open(pty_.slavePath());
    TSerialPort second(main_);
    std::vector<std::uint32_t> codes;
    second.SetOnProcessError([&](TSerialPort&, std::uint32_t place, std::uint32_t code,
                                 const std::string&, std::uint8_t) {
        if (place == 112) codes.push_back(code);
    });
    second.SetCommPort(pty_.slavePath());
    second.SetActive(true);
    EXPECT_EQ(second.Active(), false);
    EXPECT_EQ(second.ComHandle(), -1);
    EXPECT_EQ(codes, std::vector<std::uint32_t>{EBUSY});
    // The holder is undisturbed.
    pty_.Write("still mine");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "still mine");
}

TEST_F(SerialPortTest, PortHeldByAnotherProcessIsRefused) {
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only calls that are safe after fork() in a threaded process.
        close(release[1]);
        close(ready[0]);
        int fd = -1;
        const char ok = serial::OpenExclusive(pty_.slavePath(), fd) == 0 ? '1' : '0';
        [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
        char c;
        [[maybe_unused]] ssize_t r = read(release[0], &c, 1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    port().SetCommPort(pty_.slavePath());
    port().SetActive(true);
    EXPECT_EQ(port().Active(), false);
    EXPECT_EQ(port().ComHandle(), -1);
    EXPECT_EQ(Has(112, EBUSY), true);
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    // Once the other process has let go, a later open succeeds.
    port().SetActive(true);
    EXPECT_EQ(port().Active(), true);
}

TEST_F(SerialPortTest, PlainFileIsNotOpenedAsPort) {
    const std::string file = dir_.file("notaport");
    test::WriteFile(file, "data");
    port().SetCommPort(file);
    port().SetActive(true);
    EXPECT_EQ(port().Active(), false);
    ASSERT_NE(Find(112), nullptr);
    EXPECT_EQ(Find(112)->code, static_cast<std::uint32_t>(ENOTTY));
    EXPECT_EQ(test::ReadFile(file), "data");
}

TEST_F(SerialPortTest, CommPortChangeWhileOpenReopensOnTheNewName) {
    test::Pty other;
    Open(pty_.slavePath());
    reports_.clear();
    port().SetCommPort(pty_.slavePath());  // same name: nothing happens
    EXPECT_TRUE(reports_.empty());
    port().SetCommPort(other.slavePath());
    EXPECT_EQ(port().Active(), true);
    EXPECT_EQ(CountPlace(100), 1);
    EXPECT_EQ(CountPlace(110), 1);
    other.Write("new");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "new");
}

TEST_F(SerialPortTest, CommPortChangeWhileClosedOnlyStoresTheName) {
    port().SetCommPort(pty_.slavePath());
    EXPECT_EQ(port().Active(), false);
    EXPECT_EQ(port().CommPort(), pty_.slavePath());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(SerialPortTest, LongPortNameIsCutTo255) {
    port().SetCommPort(std::string(300, 'x'));
    EXPECT_EQ(port().CommPort().size(), 255u);
}

class LineRate : public SerialPortTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LineRate, IsAppliedToTheTty) {
    Open(pty_.slavePath());
    port().SetBaudRate(GetParam());
    std::uint32_t baud = 0;
    ASSERT_EQ(serial::ReadBaud(port().ComHandle(), baud), 0);
    EXPECT_EQ(baud, GetParam());
    EXPECT_EQ(CountPlace(802), 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, LineRate, ::testing::Values(19200u, 57600u, 115200u, 300000u));

TEST_F(SerialPortTest, SettingsTakenWhileClosedApplyAtOpen) {
    port().SetBaudRate(19200);
    port().SetDataBits(7);
    port().SetParityType(2);
    port().SetStopBits(2);
    Open(pty_.slavePath());
    termios t{};
    ASSERT_EQ(tcgetattr(port().ComHandle(), &t), 0);
    // A pseudo-terminal always keeps 8 bits without parity; the rest holds.
    EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}

TEST_F(SerialPortTest, ImpossibleLineSettingIsReported) {
    Open(pty_.slavePath());
    port().SetDataBits(9);
    ASSERT_NE(Find(802), nullptr);
    EXPECT_EQ(Find(802)->code, static_cast<std::uint32_t>(EINVAL));
    EXPECT_EQ(Find(802)->msg, "Error setting CommState, 87 indicate that Parms are incorrect");
    // The port goes on with what it had.
    pty_.Write("ok");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
}

TEST_F(SerialPortTest, RefusedModemIoctlsAreReportedOnceAndIoGoesOn) {
    Open(pty_.slavePath());
    // Pseudo-terminals have no modem lines.
    ASSERT_NE(Find(601), nullptr);
    EXPECT_EQ(Find(601)->msg, "Error setting DTR");
    ASSERT_NE(Find(501), nullptr);
    EXPECT_EQ(Find(501)->msg, "Error setting RTS");
    ASSERT_TRUE(Pump([&] { return Find(9905) != nullptr; }));
    EXPECT_EQ(Find(9905)->msg, "Error getting ModemStatus");
    EXPECT_EQ(Find(9905)->noise, 0);
    reports_.clear();
    port().SendString("ping\r\n");
    pty_.Write("pong");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "pong");
    EXPECT_EQ(pty_.ReadAvailable(), "ping\r\n");
    EXPECT_EQ(CountPlace(9905), 0);  // not again for the same open
    port().SetDTRState(false);
    EXPECT_EQ(CountPlace(602), 1);
}

// --- receiving ---

TEST_F(SerialPortTest, BurstSmallerThanClusterSizeBecomesOneCluster) {
    std::vector<std::string> got;
    port().SetOnRxClusterEvent([&](TSerialPort& p) {
        std::int32_t size, err;
        auto data = p.ReadNextCluster(size, err);
        got.emplace_back(data.get(), static_cast<std::size_t>(size));
    });
    Open(pty_.slavePath());
    const std::string burst(200, 'a');
    pty_.Write(burst.substr(0, 100));
    pty_.Write(burst.substr(100));
    ASSERT_TRUE(Pump([&] { return !got.empty(); }));
    EXPECT_EQ(got, std::vector<std::string>{burst});
    EXPECT_EQ(port().ClusterSize(), 200);
}

TEST_F(SerialPortTest, QueueAtClusterSizeIsReadAtOnce) {
    port().SetClusterSize(20);
    // The quiet time alone would wait a minute.
    port().SetRTOExtraDelayTime(60000);
    Open(pty_.slavePath());
    pty_.Write(std::string(20, 'z'));
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), std::string(20, 'z'));
}

TEST_F(SerialPortTest, ClusterSizeFollowsTheLastClusterTaken) {
    port().SetRTOExtraDelayTime(60000);
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    pty_.Write("12345678901234567890");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster().size(), 20u);
    EXPECT_EQ(port().ClusterSize(), 20);
    // Now 20 queued bytes are read without waiting for the quiet time.
    pty_.Write(std::string(20, 'b'));
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), std::string(20, 'b'));
}

TEST_F(SerialPortTest, ReadRequestReadsWhatIsQueuedAndClears) {
    port().SetRTOExtraDelayTime(60000);
    Open(pty_.slavePath());
    pty_.Write("abc");
    ASSERT_TRUE(Pump([&] { return port().CommStateInQueue() == 3; }));
    EXPECT_EQ(port().ClusterCount(), 0u);
    port().SetReadRequest(true);
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(port().ReadRequest(), false);
    EXPECT_EQ(TakeCluster(), "abc");
}

TEST_F(SerialPortTest, NoClusterWaitingGivesNothing) {
    std::int32_t size = 0, err = 0;
    EXPECT_EQ(port().ReadNextCluster(size, err), nullptr);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(err, -1);
    EXPECT_EQ(port().ClusterSize(), 3072);
}

TEST_F(SerialPortTest, ZeroByteClusterComesBackWithoutBuffer) {
    port().SetStripNullChars(true);
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    pty_.Write(std::string(3, '\0'));
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    std::int32_t size = -5, err = -5;
    EXPECT_EQ(port().ReadNextCluster(size, err), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(port().ClusterSize(), 0);
    // With ClusterSize 0 anything queued is read at once.
    port().SetRTOExtraDelayTime(60000);
    pty_.Write("x");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "x");
}

TEST_F(SerialPortTest, NullBytesStayWithoutStripNullChars) {
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    pty_.Write(std::string("a\0b", 3));
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), std::string("a\0b", 3));
}

TEST_F(SerialPortTest, ClustersQueueUpWithoutAHandlerInOrder) {
    port().SetRTOExtraDelayTime(60000);
    Open(pty_.slavePath());
    for (const char* part : {"one", "two", "three"}) {
        const std::size_t before = port().ClusterCount();
        pty_.Write(part);
        ASSERT_TRUE(Pump([&] { return port().CommStateInQueue() > 0; }));
        port().SetReadRequest(true);
        ASSERT_TRUE(Pump([&] { return port().ClusterCount() == before + 1; }));
    }
    EXPECT_EQ(TakeCluster(), "one");
    EXPECT_EQ(TakeCluster(), "two");
    EXPECT_EQ(TakeCluster(), "three");
}

TEST_F(SerialPortTest, ThreadQuietModeRaisesNothingButClustersStillGather) {
    int events = 0;
    port().SetOnRxClusterEvent([&](TSerialPort&) { ++events; });
    port().SetOnCommStat([&](TSerialPort&) { ++events; });
    port().SetThreadQuietMode(true);
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    reports_.clear();
    pty_.Write("quiet");
    ASSERT_TRUE(test::WaitFor([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(main_.Pending(), 0u);
    main_.Pump();
    EXPECT_EQ(events, 0);
    EXPECT_EQ(CountPlace(9905), 0);
    EXPECT_EQ(TakeCluster(), "quiet");
}

TEST_F(SerialPortTest, EventCharRaisesItsEventAfterTheArrival) {
    std::vector<std::string> seen;
    port().SetOnRxCharEvent([&](TSerialPort&) { seen.push_back("char"); });
    port().SetOnRxEventCharEvent([&](TSerialPort&) { seen.push_back("flag"); });
    port().SetOnCommEvent([&](TSerialPort& p) {
        seen.push_back("comm");
        EXPECT_NE(p.CommEvent(), 0u);
    });
    port().SetEventChar('\n');
    port().SetClusterSize(1);
    Open(pty_.slavePath());
    pty_.Write("line\n");
    ASSERT_TRUE(Pump([&] {
        auto flag = std::find(seen.begin(), seen.end(), "flag");
        return flag != seen.end() && std::find(flag, seen.end(), "comm") != seen.end();
    }));
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), "char");
    // The event character is seen when its bytes are read; its dispatch ends
    // with the catch-all event like every other.
    auto flag = std::find(seen.begin(), seen.end(), "flag");
    EXPECT_EQ(*(flag + 1), "comm");
}

TEST_F(SerialPortTest, CommStatFollowsTheInputQueue) {
    std::vector<std::uint32_t> inQueue;
    port().SetOnCommStat([&](TSerialPort& p) { inQueue.push_back(p.CommStateInQueue()); });
    port().SetRTOExtraDelayTime(60000);
    Open(pty_.slavePath());
    pty_.Write("12345");
    ASSERT_TRUE(Pump([&] { return !inQueue.empty() && inQueue.back() == 5; }));
    port().SetReadRequest(true);
    ASSERT_TRUE(Pump([&] { return inQueue.back() == 0; }));
}

// --- writing ---

TEST_F(SerialPortTest, CompletedWriteRaisesWriteDoneOnce) {
    int done = 0;
    port().SetOnWriteDone([&](TSerialPort&) { ++done; });
    Open(pty_.slavePath());
    port().SendString("T?\r\n");
    ASSERT_TRUE(Pump([&] { return done == 1; }));
    EXPECT_EQ(port().WrittenBytes(), 4u);
    EXPECT_EQ(port().SendInProgress(), false);
    port().SendString("");  // sends nothing
    main_.Pump();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(pty_.ReadAvailable(), "T?\r\n");
}

TEST_F(SerialPortTest, SecondSendWhilePendingIsDropped) {
    int done = 0;
    port().SetOnWriteDone([&](TSerialPort&) { ++done; });
    Open(pty_.slavePath());
    // More than the pseudo-terminal holds while nobody reads its other side.
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    port().SendString(big);
    ASSERT_EQ(port().SendInProgress(), true);
    port().SendString("second");
    ASSERT_NE(Find(901), nullptr);
    EXPECT_EQ(Find(901)->msg, "Msg, dont enter SendData while SendInProgress is set");
    EXPECT_EQ(Find(901)->noise, 2);
    std::string received;
    ASSERT_TRUE(Pump([&] {
        received += pty_.ReadAvailable();
        return done == 1 && received.size() >= big.size();
    }));
    received += pty_.ReadAvailable();
    EXPECT_EQ(received, big);
    EXPECT_EQ(port().WrittenBytes(), big.size());
    EXPECT_EQ(CountPlace(9701), 0);
    main_.Pump();
    EXPECT_EQ(done, 1);
}

TEST_F(SerialPortTest, WriteCutShortByItsTimeBudgetReportsAndFinishes) {
    int done = 0;
    port().SetOnWriteDone([&](TSerialPort&) { ++done; });
    port().SetWTOCharDelayTime(0);
    port().SetWTOExtraDelayTime(100);
    Open(pty_.slavePath());
    port().SendString(std::string(200000, 'w'));
    ASSERT_TRUE(Pump([&] { return done == 1; }));
    EXPECT_EQ(CountPlace(9701), 1);
    EXPECT_EQ(Find(9701)->msg, "Error write TimeOut");
    EXPECT_LT(port().WrittenBytes(), 200000u);
    EXPECT_EQ(port().SendInProgress(), false);
}

TEST_F(SerialPortTest, SendWhileClosedIsAnError) {
    int done = 0;
    port().SetOnWriteDone([&](TSerialPort&) { ++done; });
    port().SendString("x");
    ASSERT_NE(Find(903), nullptr);
    EXPECT_EQ(Find(903)->msg, "Error writing Data");
    EXPECT_EQ(done, 0);
}

TEST_F(SerialPortTest, CloseAbortsAPendingWrite) {
    int done = 0;
    port().SetOnWriteDone([&](TSerialPort&) { ++done; });
    Open(pty_.slavePath());
    port().SendString(std::string(200000, 'c'));
    ASSERT_EQ(port().SendInProgress(), true);
    port().SetActive(false);
    ASSERT_TRUE(Pump([&] { return done == 1; }));
    EXPECT_EQ(port().SendInProgress(), false);
    ASSERT_NE(Find(9702), nullptr);
    EXPECT_EQ(Find(9702)->code, static_cast<std::uint32_t>(ECANCELED));
}

// --- threads and shut-down ---

TEST_F(SerialPortTest, CloseWhileWorkerWaitsForEventsGoesIdle) {
    port().SetRTOExtraDelayTime(60000);  // queued bytes stay queued
    Open(pty_.slavePath());
    SettleRefusals();
    bool closed = false;
    int afterClose = 0, comm = 0;
    for (int e = 0; e < static_cast<int>(TSerialPort::Event::kCount); ++e)
        port().SetOnEvent(static_cast<TSerialPort::Event>(e), [&](TSerialPort&) {
            if (closed) ++afterClose;
        });
    port().SetOnCommEvent([&](TSerialPort&) { closed ? ++afterClose : ++comm; });
    pty_.Write("queued");
    // The catch-all event ends the dispatch of the arrival; then the line is quiet.
    ASSERT_TRUE(Pump([&] { return comm > 0 && port().CommStateInQueue() == 6; }));
    main_.Pump();
    closed = true;
    port().SetActive(false);
    // The close purged the queue and saw the worker go idle, and nothing was
    // handed over on the way: the main thread did not pump, so a hand-over
    // would have kept the worker busy.
    EXPECT_EQ(CountPlace(104), 0);
    EXPECT_EQ(main_.Pending(), 0u);
    main_.Pump();
    EXPECT_EQ(afterClose, 0);
    EXPECT_EQ(port().ClusterCount(), 0u);
    port().WaitForThreadIdle(10);
    pty_.Write("late");
    main_.Pump();
    EXPECT_EQ(port().ClusterCount(), 0u);
}

TEST_F(SerialPortTest, CloseWhileWorkerIsBlockedOnBusyMainThread) {
    int clusters = 0;
    port().SetOnRxClusterEvent([&](TSerialPort&) { ++clusters; });
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    SettleRefusals();
    pty_.Write("blocked");
    // The main thread does not pump: the worker waits in its hand-over.
    ASSERT_TRUE(test::WaitFor([&] { return main_.Pending() > 0; }));
    port().SetActive(false);
    EXPECT_EQ(port().Active(), false);
    EXPECT_EQ(port().ComHandle(), -1);
    EXPECT_EQ(CountPlace(104), 1);
    EXPECT_EQ(Find(104)->msg, "Warning ThreadIsRunning");
    // The handler runs after the close, and the data is still there.
    ASSERT_TRUE(Pump([&] { return clusters == 1; }));
    EXPECT_EQ(TakeCluster(), "blocked");
    // The port can be opened again at once.
    port().SetActive(true);
    EXPECT_EQ(port().Active(), true);
}

TEST_F(SerialPortTest, DestructionWithMainThreadBusyNeitherHangsNorRunsTheHandler) {
    bool ran = false;
    port().SetOnRxClusterEvent([&](TSerialPort&) { ran = true; });
    port().SetReadRequest(true);
    Open(pty_.slavePath());
    SettleRefusals();
    pty_.Write("bye");
    ASSERT_TRUE(test::WaitFor([&] { return main_.Pending() > 0; }));
    port_.reset();
    EXPECT_EQ(main_.Pending(), 0u);
    main_.Pump();
    EXPECT_EQ(ran, false);
}

TEST_F(SerialPortTest, DestructionWhileOpenAndIdle) {
    Open(pty_.slavePath());
    port_.reset();
    // The device is free again.
    TSerialPort again(main_);
    again.SetCommPort(pty_.slavePath());
    again.SetActive(true);
    EXPECT_EQ(again.Active(), true);
}

TEST_F(SerialPortTest, DeviceThatDisappearsIsReportedAndCanBeOpenedAgain) {
    const std::string link = dir_.file("ttyACM0");
    auto device = std::make_unique<test::Pty>();
    std::filesystem::create_symlink(device->slavePath(), link);
    Open(link);
    device->Write("before");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "before");

    device.reset();  // the adapter is pulled
    ASSERT_TRUE(Pump([&] { return Has(9803, EIO) || Has(9804, EIO); }));
    // The failure is reported once, not every turn, and the main thread is free.
    int turns = 0;
    Pump([&] { return ++turns > 100; }, 1s);
    int eio = 0;
    for (const auto& r : reports_) eio += r.code == EIO ? 1 : 0;
    EXPECT_LE(eio, 2);
    port().SendString("into the void\r\n");
    main_.Pump();

    // It comes back (under the same name) and the port is opened again.
    test::Pty back;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(back.slavePath(), link);
    port().SetActive(false);
    reports_.clear();
    port().SetActive(true);
    ASSERT_EQ(port().Active(), true);
    // A fresh start: nothing learnt about the pulled device (hung up, failures
    // already reported, calls it refused) carries over to the new one.
    SettleRefusals();
    back.Write("after");
    ASSERT_TRUE(Pump([&] { return port().ClusterCount() == 1; }));
    EXPECT_EQ(TakeCluster(), "after");
}

}  // namespace
}  // namespace pom
