#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "util/Clock.h"

namespace pom::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points $XDG_CONFIG_HOME at a folder for the life of the object.
class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const std::string& dir);
    ~ScopedConfigHome();
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

private:
    std::string old_;
    bool had_ = false;
};

// A port on 127.0.0.1 held by this test for its life: bound, never
// listening, so a connection to it is refused at once and no other program
// can take it. Tests whose window may upload point it here instead of at a
// default address, where a real recording service may listen.
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;
    int port() const { return port_; }
    // "127.0.0.1:PORT" + path, an upload address without a scheme.
    std::string address(const std::string& path = "/Zapisz2Pomiary.php") const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port on 127.0.0.1 nobody listens on now (bound and let go again), for a
// server the test starts itself.
int FreePort();
// True when something accepts a connection on 127.0.0.1:port.
bool Accepts(int port);

// A clock that stands still until told to move.
class FakeClock final : public Clock {
public:
    explicit FakeClock(LocalDateTime t = {2023, 5, 1, 12, 0, 0, 0}) : t_(t) {}
    LocalDateTime now() const override { return t_; }
    void set(LocalDateTime t) { t_ = t; }
    void advance(long long seconds) { t_ = AddSeconds(t_, seconds); }

private:
    LocalDateTime t_;
};

// Polls the condition until it holds or the deadline passes; true when it held.
bool WaitFor(const std::function<bool()>& cond,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Folder of the built programs (build/bin), for tests that start them.
std::string BinDir();

}  // namespace pom::test
