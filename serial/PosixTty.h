#pragma once

// Thin POSIX layer under the serial component: each call returns 0 or the
// errno of the refused call, so the component can report it with its Place.

#include <cstdint>
#include <string>

struct termios;

namespace pom::serial {

// An open tty. Closed by Close() or, at the latest, by the last owner.
class PortFile {
public:
    explicit PortFile(int fd) : fd_(fd) {}
    ~PortFile();
    PortFile(const PortFile&) = delete;
    PortFile& operator=(const PortFile&) = delete;
    int fd() const { return fd_; }
    // 0 or the errno of close().
    int Close();

private:
    int fd_;
};

// The device path for a port name: a name holding "/" is the path itself,
// any other name lives under /dev/.
std::string DevicePath(const std::string& portName);

// Opens a tty for exclusive use (O_NONBLOCK, no controlling terminal). Refuses
// what is not a tty (ENOTTY) and a port another process holds (EBUSY): the
// advisory lock catches holders that TIOCEXCL lets through (root).
int OpenExclusive(const std::string& path, int& fd);
// Gives up the claim (flag and lock) while the descriptor may still be held
// for a moment by the worker, so the next opener is not refused.
void ReleaseExclusive(int fd);

struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint32_t flowControl = 0;
    bool parityErrorReplacement = false;
    char xonChar = 17;
    char xoffChar = 19;
};

// Reads return at once with what is queued (VMIN 0, VTIME 0).
int SetImmediateReads(int fd);
// Raw mode with the given line settings; EINVAL for values termios cannot hold.
int SetLineSettings(int fd, const LineSettings& s);
// Fills the termios fields that the settings decide (exposed for tests).
int BuildTermios(termios& t, const LineSettings& s);
// Rates without a Bxxx constant go through termios2 (BOTHER).
int SetCustomBaud(int fd, std::uint32_t baud);
int ReadBaud(int fd, std::uint32_t& baud);

// Modem lines in the component's MS_* bit layout (CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80).
int GetModemStatus(int fd, std::uint32_t& status);
std::uint32_t ModemBitsFromTiocm(int tiocm);
int SetDtr(int fd, bool on);
int SetRts(int fd, bool on);
int SetBreak(int fd, bool on);
int Purge(int fd);
int QueueCounts(int fd, std::uint32_t& in, std::uint32_t& out);

// The driver's line-error counters; differences become CE_* bits.
struct LineCounters {
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
int GetLineCounters(int fd, LineCounters& c);
std::uint32_t LineErrorBits(const LineCounters& before, const LineCounters& now);

// True for errors that say the driver does not have the call at all
// (pseudo-terminals refuse the modem and counter ioctls).
bool IsRefusedIoctl(int err);

}  // namespace pom::serial
