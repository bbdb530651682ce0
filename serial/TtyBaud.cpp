// termios2 lives in the kernel headers, which clash with <termios.h>; this
// file includes only them.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace pom::serial {

int SetCustomBaud(int fd, std::uint32_t baud) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
    // A driver that cannot come near the rate says so by what it kept.
    termios2 back{};
    if (::ioctl(fd, TCGETS2, &back) != 0) return errno;
    const std::uint64_t got = back.c_ospeed;
    const std::uint64_t want = baud;
    if (got * 100 < want * 97 || got * 100 > want * 103) return EINVAL;
    return 0;
}

int ReadBaud(int fd, std::uint32_t& baud) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    baud = t.c_ospeed;
    return 0;
}

}  // namespace pom::serial
