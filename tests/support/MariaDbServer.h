#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace pom::test {

// A private mariadbd for the tests of one program: its own data folder,
// socket and port on 127.0.0.1, a user of its own; no system database is
// touched. Started on first use, stopped when the tests end.
class MariaDbServer {
public:
    // The program's server, started now if it is not running; nullptr and the
    // reason in `why` where mariadbd is missing or does not start.
    static MariaDbServer* Shared(std::string* why);

    ~MariaDbServer();
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    // A new empty database and its address for --db (user and password in it).
    std::string NewDatabase();
    // The same over the socket instead of the port.
    std::string SocketAddress(const std::string& database) const;
    int port() const { return port_; }

    // The server gone at once, as in a crash (SIGKILL), and started again on
    // the same data and port.
    void Kill();
    bool Start(std::string* error);

    // SQL as the server's root, behind the recorder's back; the rows of a
    // query as text (NULL as "NULL"), nullopt-like empty with `ok` false.
    bool Exec(const std::string& database, const std::string& sql, std::string* error = nullptr);
    std::vector<std::vector<std::string>> Query(const std::string& database,
                                                const std::string& sql);

private:
    MariaDbServer() = default;
    bool Install(std::string* error);

    TempDir dir_;
    int port_ = 0;
    int databases_ = 0;
    std::string program_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace pom::test
