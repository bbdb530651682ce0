#include "app/ui/SignalBridge.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace pom {
namespace {

int g_fds[2] = {-1, -1};

extern "C" void OnSignal(int sig) {
    const int saved = errno;
    const char b = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &b, 1);
    errno = saved;
}

}  // namespace

SignalBridge::SignalBridge(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
    for (int fd : g_fds) ::fcntl(fd, F_SETFL, O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(g_fds[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalBridge::ReadPipe);
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
}

SignalBridge::~SignalBridge() {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
    notifier_.reset();
    for (int& fd : g_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalBridge::ReadPipe() {
    char b = 0;
    while (::read(g_fds[1], &b, 1) == 1) emit endOfSession(static_cast<unsigned char>(b));
}

}  // namespace pom
