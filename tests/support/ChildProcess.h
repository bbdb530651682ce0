#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace pom::test {

// One of the built programs (build/bin) running beside the test, its standard
// output on a pipe. Ended with SIGTERM (then SIGKILL) when the object goes,
// unless it has already exited.
class ChildProcess {
public:
    // program: a file name in BinDir(), or a path (holding "/") to any other
    // program; env: variables set or replaced for it.
    ChildProcess(const std::string& program, std::vector<std::string> args,
                 const std::vector<std::pair<std::string, std::string>>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    // The next line of its standard output (without LF); what has come when
    // the deadline passes or the output ends.
    std::string ReadLine(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Its exit code (128 + signal when a signal ended it), or -1 while it still
    // runs when the deadline passes.
    int WaitExit(std::chrono::milliseconds deadline);
    bool Signal(int sig);

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
};

}  // namespace pom::test
