#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace pom::test {

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> args,
                           const std::vector<std::pair<std::string, std::string>>& env) {
    const std::string bin =
        program.find('/') != std::string::npos ? program : BinDir() + "/" + program;
    args.insert(args.begin(), bin);
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string v = *e;
        bool replaced = false;
        for (const auto& [name, value] : env) replaced = replaced || v.starts_with(name + "=");
        if (!replaced) vars.push_back(v);
    }
    for (const auto& [name, value] : env) vars.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    if (posix_spawn(&pid_, bin.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    stdout_ = out[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGTERM);
        if (WaitExit(std::chrono::seconds(10)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (stdout_ >= 0) ::close(stdout_);
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds deadline) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char c = 0;
        if (::read(stdout_, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return line;
}

int ChildProcess::WaitExit(std::chrono::milliseconds deadline) {
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool done = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, deadline);
    if (!done) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool ChildProcess::Signal(int sig) {
    return pid_ > 0 && !exited_ && ::kill(pid_, sig) == 0;
}

}  // namespace pom::test
