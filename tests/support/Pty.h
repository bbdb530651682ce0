#pragma once

#include <chrono>
#include <string>

namespace pom::test {

// A pseudo-terminal pair in raw mode: the test holds the master side and
// hands the slave's path to the code under test, which opens it as a port.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slave_; }
    int masterFd() const { return master_; }
    void Write(const std::string& bytes);
    // What has arrived from the other side so far (non-blocking).
    std::string ReadAvailable();

private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace pom::test
