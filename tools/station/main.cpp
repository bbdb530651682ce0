// pomiarnik-station: the simulated measuring station on a pseudo-terminal or
// a serial device.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/station/SimStation.h"
#include "util/Cp1250.h"
#include "util/SystemError.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

// The PC may stop reading; what it has not taken by then is dropped, as the
// real station's line would drop it.
constexpr std::size_t kMaxQueued = 1 << 20;

// The system's reason in the words the program uses, for a UTF-8 terminal.
std::string Reason(int err) {
    return pom::Cp1250ToUtf8(pom::SystemErrorText(err));
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

speed_t Speed(int baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 115200:
            return B115200;
        default:
            return B57600;
    }
}

bool MakeRaw(int fd, int baud, bool setSpeed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (setSpeed) {
        cfsetispeed(&t, Speed(baud));
        cfsetospeed(&t, Speed(baud));
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string Printable(const std::string& bytes) {
    std::string s;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            s += "\\n\n";
        } else if (c == '\r') {
            s += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pom::station;
    std::string error;
    const auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) {
        std::fprintf(stderr, "pomiarnik-station: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    const Options opt = *parsed;
    if (opt.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    int fd = -1;
    std::string path;
    const bool pty = opt.device.empty();
    if (pty) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[256];
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 ||
            ptsname_r(fd, name, sizeof name) != 0) {
            std::fprintf(stderr, "pomiarnik-station: no pseudo-terminal: %s\n",
                         Reason(errno).c_str());
            return 1;
        }
        path = name;
        // Raw on both ends: no echo of what the PC sends, no CR/LF translation.
        if (!MakeRaw(fd, opt.baud, false))
            std::fprintf(stderr, "pomiarnik-station: raw mode refused: %s\n",
                         Reason(errno).c_str());
    } else {
        path = opt.device;
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            std::fprintf(stderr, "pomiarnik-station: cannot open %s: %s\n", path.c_str(),
                         Reason(errno).c_str());
            return 1;
        }
        if (!MakeRaw(fd, opt.baud, true))
            std::fprintf(stderr, "pomiarnik-station: raw mode refused on %s: %s\n", path.c_str(),
                         Reason(errno).c_str());
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const pom::LocalDateTime clockStart = opt.start ? *opt.start : pom::SystemClock().now();
    SimStation station(opt, clockStart, NowMs());
    std::string out;
    std::int64_t nextWriteMs = 0;
    bool connected = false;

    while (!g_stop) {
        const std::int64_t now = NowMs();
        out += station.Advance(now);

        int timeout =
            static_cast<int>(std::min<std::int64_t>(station.MsUntilNextReading(now), 1000));
        pollfd p{fd, POLLIN, 0};
        if (!out.empty() && connected) {
            if (opt.chunkDelayMs > 0 && now < nextWriteMs)
                timeout = std::min<int>(timeout, static_cast<int>(nextWriteMs - now));
            else
                p.events |= POLLOUT;
        }
        const int r = poll(&p, 1, std::max(timeout, 0));
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "pomiarnik-station: poll: %s\n", Reason(errno).c_str());
            return 1;
        }

        bool hup = (p.revents & (POLLHUP | POLLERR)) != 0;
        if (p.revents & POLLIN) {
            char buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                const std::string in(buf, static_cast<std::size_t>(n));
                if (opt.verbose) std::fprintf(stderr, "<< %s", Printable(in).c_str());
                out += station.Receive(in, NowMs());
                hup = false;
            } else if (n < 0 && errno == EIO) {
                hup = true;
            }
        }
        if (hup && !pty) {
            // A device that hangs up is gone (unplugged, or the far end of a
            // pseudo-terminal closed): polling it again would only spin.
            std::fprintf(stderr, "pomiarnik-station: %s hung up\n", path.c_str());
            close(fd);
            return 1;
        }
        if (hup) {
            // Nobody has the terminal open: the station goes on measuring into
            // its buffer, and what it says meanwhile is lost.
            if (connected && opt.verbose) std::fprintf(stderr, "-- peer closed\n");
            connected = false;
            out.clear();
            poll(nullptr, 0, 50);
            continue;
        }
        if (!connected && opt.verbose) std::fprintf(stderr, "-- peer open\n");
        connected = true;

        if (out.size() > kMaxQueued) out.erase(0, out.size() - kMaxQueued / 2);
        if ((p.revents & POLLOUT) && !out.empty()) {
            std::size_t len = out.size();
            if (opt.chunk > 0)
                len = std::min<std::size_t>(len, static_cast<std::size_t>(opt.chunk));
            const ssize_t n = write(fd, out.data(), len);
            if (n > 0) {
                if (opt.verbose)
                    std::fprintf(stderr, ">> %s",
                                 Printable(out.substr(0, static_cast<std::size_t>(n))).c_str());
                out.erase(0, static_cast<std::size_t>(n));
                nextWriteMs = NowMs() + opt.chunkDelayMs;
            } else if (n < 0 && errno == EIO && pty) {
                connected = false;
                out.clear();
            }
        }
    }
    close(fd);
    return 0;
}
