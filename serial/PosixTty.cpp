#include "serial/PosixTty.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/SerialPlaces.h"

namespace pom::serial {

PortFile::~PortFile() {
    Close();
}

int PortFile::Close() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    // close() releases the descriptor even when it reports an error.
    return ::close(fd) == 0 ? 0 : errno;
}

std::string DevicePath(const std::string& portName) {
    if (portName.find('/') != std::string::npos) return portName;
    return "/dev/" + portName;
}

int OpenExclusive(const std::string& path, int& fd) {
    fd = -1;
    const int f = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) return errno;
    // Writing commands into a plain file or a pipe would corrupt it.
    if (!::isatty(f)) {
        ::close(f);
        return ENOTTY;
    }
    if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(f);
        return err;
    }
    ::ioctl(f, TIOCEXCL);  // a second line of defence; root passes it anyway
    fd = f;
    return 0;
}

void ReleaseExclusive(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

int SetImmediateReads(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return errno;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
}

namespace {

speed_t StandardSpeed(std::uint32_t baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        default:
            return B0;
    }
}

}  // namespace

int BuildTermios(termios& t, const LineSettings& s) {
    if (s.baud == 0 || s.dataBits < 5 || s.dataBits > 8 || s.parity > 4 || s.stopBits > 2)
        return EINVAL;
    // Raw mode: bytes pass untouched, no echo, no signals, no line editing.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[s.dataBits - 5];
    switch (s.parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // A byte that fails the parity check is handed on as it came, unless
    // replacement is asked for; termios can only replace it with NUL.
    if (s.parity != 0 && s.parityErrorReplacement) t.c_iflag |= INPCK;
    // termios has one "more than one stop bit" setting; UARTs send 1.5 for it at 5 data bits.
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    // Of the flow-control bits termios has hardware handshake and XON/XOFF;
    // the DSR, DTR-handshake and abort bits have no counterpart.
    if ((s.flowControl & kFlowCtsOut) != 0 ||
        (s.flowControl & kFlowRtsControl) == kFlowRtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (s.flowControl & kFlowXonXoffOut) t.c_iflag |= IXON;
    if (s.flowControl & kFlowXonXoffIn) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t sp = StandardSpeed(s.baud);
    const speed_t use = sp == B0 ? B38400 : sp;
    cfsetispeed(&t, use);
    cfsetospeed(&t, use);
    return 0;
}

int SetLineSettings(int fd, const LineSettings& s) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return errno;
    if (const int err = BuildTermios(t, s)) return err;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return errno;
    if (StandardSpeed(s.baud) == B0) return SetCustomBaud(fd, s.baud);
    return 0;
}

std::uint32_t ModemBitsFromTiocm(int tiocm) {
    std::uint32_t r = 0;
    if (tiocm & TIOCM_CTS) r |= kMsCtsOn;
    if (tiocm & TIOCM_DSR) r |= kMsDsrOn;
    if (tiocm & TIOCM_RNG) r |= kMsRingOn;
    if (tiocm & TIOCM_CAR) r |= kMsRlsdOn;
    return r;
}

int GetModemStatus(int fd, std::uint32_t& status) {
    int v = 0;
    if (::ioctl(fd, TIOCMGET, &v) != 0) return errno;
    status = ModemBitsFromTiocm(v);
    return 0;
}

namespace {
int ModemLine(int fd, int bit, bool on) {
    int v = bit;
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &v) == 0 ? 0 : errno;
}
}  // namespace

int SetDtr(int fd, bool on) {
    return ModemLine(fd, TIOCM_DTR, on);
}
int SetRts(int fd, bool on) {
    return ModemLine(fd, TIOCM_RTS, on);
}

int SetBreak(int fd, bool on) {
    return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
}

int Purge(int fd) {
    return ::tcflush(fd, TCIOFLUSH) == 0 ? 0 : errno;
}

int QueueCounts(int fd, std::uint32_t& in, std::uint32_t& out) {
    int i = 0, o = 0;
    if (::ioctl(fd, TIOCINQ, &i) != 0) return errno;
    if (::ioctl(fd, TIOCOUTQ, &o) != 0) return errno;
    in = static_cast<std::uint32_t>(i < 0 ? 0 : i);
    out = static_cast<std::uint32_t>(o < 0 ? 0 : o);
    return 0;
}

int GetLineCounters(int fd, LineCounters& c) {
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return errno;
    c.frame = static_cast<std::uint32_t>(ic.frame);
    c.overrun = static_cast<std::uint32_t>(ic.overrun);
    c.parity = static_cast<std::uint32_t>(ic.parity);
    c.brk = static_cast<std::uint32_t>(ic.brk);
    c.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    return 0;
}

std::uint32_t LineErrorBits(const LineCounters& before, const LineCounters& now) {
    std::uint32_t r = 0;
    if (now.bufOverrun != before.bufOverrun) r |= kCeRxOver;
    if (now.overrun != before.overrun) r |= kCeOverrun;
    if (now.parity != before.parity) r |= kCeRxParity;
    if (now.frame != before.frame) r |= kCeFrame;
    if (now.brk != before.brk) r |= kCeBreak;
    return r;
}

bool IsRefusedIoctl(int err) {
    return err == ENOTTY || err == EINVAL || err == EOPNOTSUPP;
}

}  // namespace pom::serial
