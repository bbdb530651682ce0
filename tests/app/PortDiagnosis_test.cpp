#include "app/logic/PortDiagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "util/Cp1250.h"

namespace pom {
namespace {

TEST(PortDiagnosis, NamesWithoutSlashLiveInDev) {
    EXPECT_EQ(PortDevicePath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(PortDevicePath("serial/by-id/usb-Arduino"), "serial/by-id/usb-Arduino");
}

TEST(PortDiagnosis, PermissionDeniedNamesTheOwningGroupAndTheNewLogin) {
    test::TempDir dir;
    const std::string dev = dir.file("ttyFAKE");
    test::WriteFile(dev, "");
    // Root's group 0 is "root" on every system.
    ASSERT_EQ(::chown(dev.c_str(), 0, 0), 0);
    const std::string text = Cp1250ToUtf8(PortOpenFailureReason(dev, EACCES));
    EXPECT_NE(text.find("grupy root"), std::string::npos) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    EXPECT_NE(text.find("zaloguj ponownie"), std::string::npos) << text;
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
