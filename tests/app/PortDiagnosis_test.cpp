#include "app/logic/PortDiagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

// Characters, not bytes, of a UTF-8 text.
std::size_t Utf8Chars(const std::string& utf8) {
    std::size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

TEST(PortDiagnosis, NamesWithoutSlashLiveInDev) {
    EXPECT_EQ(PortDevicePath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(PortDevicePath("serial/by-id/usb-Arduino"), "serial/by-id/usb-Arduino");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> r;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        r.push_back(text.substr(start, nl - start));
    r.push_back(text.substr(start));
    return r;
}

// The hint names the device's group and never asks the user to join root;
// each line fits about 100 characters besides the device path.
TEST(PortDiagnosis, PermissionDeniedGivesAShortSafeCure) {
    test::TempDir dir;
    const std::string dev = dir.file("ttyFAKE");
    test::WriteFile(dev, "");
    const group* dialout = ::getgrnam("dialout");
    const struct {
        gid_t gid;
        std::vector<const char*> present, absent;
    } cases[] = {
        {0, {"grupa root", "udev", "usermod -aG dialout", "zaloguj"}, {"-aG root", "grupy root"}},
        {dialout ? dialout->gr_gid : 20,
         {"grupa dialout", "usermod -aG dialout", "zaloguj ponownie"},
         {"zwykle dialout", "root"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chown(dev.c_str(), 0, c.gid), 0);
        const std::string text = Cp1250ToUtf8(PortOpenFailureReason(dev, EACCES));
        for (const char* p : c.present) EXPECT_NE(text.find(p), std::string::npos) << text;
        for (const char* a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << text;
        const auto lines = Lines(text);
        EXPECT_EQ(lines.size(), 2u) << text;
        for (const auto& l : lines) {
            const std::size_t extra = l.find(dev) != std::string::npos ? dev.size() : 0;
            EXPECT_LE(Utf8Chars(l) - extra, 100u) << l;
        }
    }
}

TEST(PortDiagnosis, BusyAndMissingPortsSayWhy) {
    const std::string busy = Cp1250ToUtf8(PortOpenFailureReason("/dev/ttyUSB0", EBUSY));
    EXPECT_NE(busy.find("inny program"), std::string::npos) << busy;
    const std::string missing = Cp1250ToUtf8(PortOpenFailureReason("/dev/ttyUSB9", ENOENT));
    EXPECT_NE(missing.find("nie ma urządzenia /dev/ttyUSB9"), std::string::npos) << missing;
    const std::string other = PortOpenFailureReason("/dev/ttyS0", EIO);
    EXPECT_NE(other.find("(5)"), std::string::npos) << other;
}

}  // namespace
}  // namespace pom
