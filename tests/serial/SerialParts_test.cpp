// The serial component's pure rules and helpers, without a device.
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial/PortList.h"
#include "serial/PosixTty.h"
#include "serial/QueuedDispatcher.h"
#include "serial/SerialPlaces.h"
#include "serial/WorkThread.h"
#include "tests/support/TestSupport.h"

namespace pom {
namespace {

using namespace serial;

// --- cluster forming ---

struct ReadCase {
    const char* name;
    std::uint32_t n;
    std::uint64_t elapsedMs;
    bool readRequest;
    std::uint32_t clusterSize;
    std::uint32_t lineErrors;
    bool read;
};

class ClusterRule : public ::testing::TestWithParam<ReadCase> {};

// With the main window's values: 190 us per character, 250 ms extra.
TEST_P(ClusterRule, DecidesWhenQueuedBytesAreRead) {
    const auto& c = GetParam();
    EXPECT_EQ(TWorkThread::ShouldRead(c.n, c.elapsedMs, c.readRequest, c.clusterSize, 190, 250,
                                      c.lineErrors),
              c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClusterRule,
    ::testing::Values(ReadCase{"EmptyQueueNever", 0, 100000, true, 0, 0x1F, false},
                      ReadCase{"TrickleWaits", 100, 200, false, 3072, 0, false},
                      // 100 bytes: 250 + 19 ms of quiet.
                      ReadCase{"QuietTimeNotYetOver", 100, 269, false, 3072, 0, false},
                      ReadCase{"QuietTimeOver", 100, 270, false, 3072, 0, true},
                      ReadCase{"ReadRequest", 1, 0, true, 3072, 0, true},
                      ReadCase{"ClusterSizeReached", 20, 0, false, 20, 0, true},
                      ReadCase{"BelowClusterSize", 19, 0, false, 20, 0, false},
                      ReadCase{"ZeroClusterSizeReadsAnything", 1, 0, false, 0, 0, true},
                      ReadCase{"FramingError", 5, 0, false, 3072, kCeFrame, true},
                      ReadCase{"Break", 5, 0, false, 3072, kCeBreak, true},
                      ReadCase{"OnlyHigherBitsWait", 5, 0, false, 3072, 0x100, false},
                      // ClusterSize beyond what the tty can queue must not stall a stream.
                      ReadCase{"FullTtyQueue", 4095, 0, false, 60000, 0, true}),
    [](const auto& info) { return info.param.name; });

// --- termios mapping ---

struct TermiosCase {
    const char* name;
    LineSettings settings;
    tcflag_t cflagMask;
    tcflag_t cflag;
    tcflag_t iflagMask;
    tcflag_t iflag;
};

LineSettings With(std::uint8_t dataBits, std::uint8_t parity, std::uint8_t stopBits,
                  std::uint32_t flow = 0, bool replace = false) {
    LineSettings s;
    s.dataBits = dataBits;
    s.parity = parity;
    s.stopBits = stopBits;
    s.flowControl = flow;
    s.parityErrorReplacement = replace;
    return s;
}

class TermiosMapping : public ::testing::TestWithParam<TermiosCase> {};

TEST_P(TermiosMapping, SettingsBecomeTermiosFlags) {
    const auto& c = GetParam();
    termios t{};
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_iflag = ICRNL | IXON;
    t.c_oflag = OPOST;
    ASSERT_EQ(BuildTermios(t, c.settings), 0);
    EXPECT_EQ(t.c_cflag & c.cflagMask, c.cflag);
    EXPECT_EQ(t.c_iflag & c.iflagMask, c.iflag);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

INSTANTIATE_TEST_SUITE_P(
    Cases, TermiosMapping,
    ::testing::Values(
        TermiosCase{"Plain8N1", With(8, 0, 0), kFrame, CS8, IXON | IXOFF | INPCK, 0},
        TermiosCase{"SevenEven", With(7, 2, 0), kFrame, CS7 | PARENB, INPCK, 0},
        TermiosCase{"Odd", With(8, 1, 0), kFrame, CS8 | PARENB | PARODD, INPCK, 0},
        TermiosCase{"Mark", With(8, 3, 0), kFrame, CS8 | PARENB | PARODD | CMSPAR, INPCK, 0},
        TermiosCase{"Space", With(8, 4, 0), kFrame, CS8 | PARENB | CMSPAR, INPCK, 0},
        TermiosCase{"FiveBitsOneAndHalfStop", With(5, 0, 1), kFrame, CS5 | CSTOPB, 0, 0},
        TermiosCase{"TwoStop", With(6, 0, 2), kFrame, CS6 | CSTOPB, 0, 0},
        TermiosCase{"CtsFlow", With(8, 0, 0, kFlowCtsOut), kFrame, CS8 | CRTSCTS, 0, 0},
        TermiosCase{"RtsHandshake", With(8, 0, 0, kFlowRtsHandshake), kFrame, CS8 | CRTSCTS, 0, 0},
        TermiosCase{"RtsEnableIsNoHandshake", With(8, 0, 0, 0x1000), kFrame, CS8, 0, 0},
        TermiosCase{"XonXoffBothWays", With(8, 0, 0, kFlowXonXoffOut | kFlowXonXoffIn), kFrame, CS8,
                    IXON | IXOFF, IXON | IXOFF},
        TermiosCase{"ParityReplacement", With(8, 2, 0, 0, true), kFrame, CS8 | PARENB, INPCK,
                    INPCK}),
    [](const auto& info) { return info.param.name; });

TEST(TermiosMapping, ValuesTermiosCannotHoldAreRefused) {
    for (const auto& s : {With(9, 0, 0), With(4, 0, 0), With(8, 5, 0), With(8, 0, 3)}) {
        termios t{};
        EXPECT_EQ(BuildTermios(t, s), EINVAL);
    }
    LineSettings zero;
    zero.baud = 0;
    termios t{};
    EXPECT_EQ(BuildTermios(t, zero), EINVAL);
}

TEST(TermiosMapping, FlowCharactersGoToStartAndStop) {
    LineSettings s;
    s.xonChar = 'q';
    s.xoffChar = 's';
    termios t{};
    ASSERT_EQ(BuildTermios(t, s), 0);
    EXPECT_EQ(t.c_cc[VSTART], 'q');
    EXPECT_EQ(t.c_cc[VSTOP], 's');
}

TEST(DevicePath, NamesAndPaths) {
    EXPECT_EQ(DevicePath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(DevicePath("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(DevicePath("pts/3"), "pts/3");
}

TEST(LineErrors, CounterDifferencesBecomeErrorBits) {
    LineCounters a, b;
    EXPECT_EQ(LineErrorBits(a, b), 0u);
    b.frame = 1;
    b.brk = 2;
    EXPECT_EQ(LineErrorBits(a, b), kCeFrame | kCeBreak);
    b = a;
    b.overrun = 1;
    b.parity = 1;
    b.bufOverrun = 7;
    EXPECT_EQ(LineErrorBits(a, b), kCeOverrun | kCeRxParity | kCeRxOver);
}

// --- port list ---

class PortListTest : public ::testing::Test {
protected:
    PortListTest() { std::filesystem::create_directories(byId_); }
    // A tty as the kernel shows it, and its device node.
    void Tty(const std::string& name, bool device, const char* type = nullptr) {
        std::filesystem::create_directories(sys_ + "/" + name);
        if (device) std::filesystem::create_directories(sys_ + "/" + name + "/device");
        if (type) test::WriteFile(sys_ + "/" + name + "/type", type);
        test::WriteFile(dev_ + "/" + name, "");
    }
    // A stable name as udev makes it: a relative link to the node.
    std::string Stable(const std::string& name, const std::string& tty) {
        std::filesystem::create_symlink("../../" + tty, byId_ + "/" + name);
        return byId_ + "/" + name;
    }
    std::vector<std::string> List(std::vector<std::string> list = {}) {
        EnumComPortsIn(list, sys_, byId_, dev_);
        return list;
    }
    test::TempDir dir_;
    std::string sys_ = dir_.file("class/tty");
    std::string dev_ = dir_.file("dev");
    std::string byId_ = dir_.file("dev/serial/by-id");
};

// One entry per device: the stable name where there is one.
TEST_F(PortListTest, OneEntryPerDeviceByItsStableNameWhereItHasOne) {
    Tty("tty0", false);
    Tty("ttyS0", true, "0\n");  // registered, no UART behind it
    Tty("ttyS1", true, "4\n");
    Tty("ttyUSB0", true);
    Tty("ttyACM0", true);
    Tty("ptmx", true);
    Tty("rfcomm0", false);  // Bluetooth: no device of its own in sysfs
    const std::string uno = Stable("usb-Arduino_Uno-if00", "ttyACM0");
    EXPECT_EQ(List(), (std::vector<std::string>{"rfcomm0", uno, "ttyS1", "ttyUSB0"}));
}

TEST_F(PortListTest, LongStableNamesAreListed) {
    // The port opens by its whole path, however long.
    Tty("ttyUSB3", true);
    const std::string longName = Stable("usb-" + std::string(120, 'b'), "ttyUSB3");
    EXPECT_EQ(List(), std::vector<std::string>{longName});
}

TEST_F(PortListTest, NamesAlreadyListedAreNotAddedAgain) {
    Tty("ttyUSB0", true);
    Tty("ttyACM0", true);
    Stable("usb-Arduino_Uno-if00", "ttyACM0");
    // By name in other letter case, or as the same device by its plain name.
    EXPECT_EQ(List({"TTYusb0", "other", dev_ + "/ttyACM0"}),
              (std::vector<std::string>{"TTYusb0", "other", dev_ + "/ttyACM0"}));
}

TEST_F(PortListTest, NoSerialPortsLeaveTheListEmpty) {
    std::vector<std::string> list;
    EnumComPortsIn(list, dir_.file("missing"), dir_.file("missing-too"), dir_.file("none"));
    EXPECT_TRUE(list.empty());
}

// A name stored before stable names were offered still finds its entry.
TEST_F(PortListTest, StoredPlainNameMatchesItsListedStableName) {
    Tty("ttyACM0", true);
    Tty("ttyACM1", true);
    const std::string uno = Stable("usb-Arduino_Uno-if00", "ttyACM0");
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"ttyACM0", uno, true},        {uno, "ttyACM0", true},       {dev_ + "/ttyACM0", uno, true},
        {"ttyACM1", uno, false},       {"ttyACM7", "ttyACM7", true},  // absent, but the same name
        {"ttyACM7", "ttyACM8", false},                                // both absent
        {"ttyACM7", uno, false},
    };
    for (const auto& c : cases) EXPECT_EQ(SamePortIn(c.a, c.b, dev_), c.same) << c.a << " " << c.b;
}

// --- dispatchers ---

TEST(QueuedDispatcher, CallRunsOnThePumpingThread) {
    QueuedDispatcher d;
    std::thread::id ranOn;
    std::thread worker([&] { d.SyncCall([&] { ranOn = std::this_thread::get_id(); }); });
    ASSERT_TRUE(d.PumpUntil([&] { return ranOn != std::thread::id(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(QueuedDispatcher, CancelReleasesTheCallerWithoutRunningItsCall) {
    QueuedDispatcher d;
    std::atomic<bool> ran{false}, returned{false};
    std::thread worker([&] {
        d.SyncCall([&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(test::WaitFor([&] { return d.Pending() == 1; }));
    d.CancelCallsFrom(worker.get_id());
    worker.join();
    EXPECT_EQ(returned.load(), true);
    EXPECT_EQ(d.Pump(), 0u);
    EXPECT_EQ(ran.load(), false);
}

TEST(QueuedDispatcher, CancelLeavesOtherCallersQueued) {
    QueuedDispatcher d;
    std::atomic<int> ran{0};
    std::thread a([&] { d.SyncCall([&] { ran += 1; }); });
    std::thread b([&] { d.SyncCall([&] { ran += 10; }); });
    ASSERT_TRUE(test::WaitFor([&] { return d.Pending() == 2; }));
    d.CancelCallsFrom(a.get_id());
    a.join();
    ASSERT_TRUE(d.PumpUntil([&] { return ran == 10; }));
    b.join();
    EXPECT_EQ(ran.load(), 10);
}

TEST(QueuedDispatcher, DestructionReleasesAWaitingCallerSafely) {
    auto d = std::make_unique<QueuedDispatcher>();
    std::atomic<bool> ran{false}, returned{false};
    std::thread worker([&] {
        d->SyncCall([&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(test::WaitFor([&] { return d->Pending() == 1; }));
    d.reset();
    worker.join();
    EXPECT_EQ(returned.load(), true);
    EXPECT_EQ(ran.load(), false);
}

TEST(QueuedDispatcher, CallFromTheMainThreadRunsAtOnce) {
    QueuedDispatcher d;
    int ran = 0;
    d.SyncCall([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(d.Pending(), 0u);
}

}  // namespace
}  // namespace pom
