#include "tests/support/MariaDbServer.h"

#include <mysql.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef POM_MARIADB_NO_GTEST
#include <gtest/gtest.h>
#endif

#include <cstdlib>

namespace pom::test {
namespace {

constexpr const char* kUser = "pomiarnik";
constexpr const char* kPassword = "tajne-hasło";

std::string Find(const std::string& name) {
    std::string path = "/usr/sbin:/usr/bin:/usr/local/sbin:/usr/local/bin";
    if (const char* p = std::getenv("PATH")) path = std::string(p) + ":" + path;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto colon = path.find(':', start);
        const std::string dir = path.substr(start, colon - start);
        const std::string file = dir + "/" + name;
        if (!dir.empty() && ::access(file.c_str(), X_OK) == 0) return file;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

int Run(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string PercentEncoded(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

MYSQL* Root(const std::string& socket, const std::string& database) {
    MYSQL* db = mysql_init(nullptr);
    const unsigned timeout = 2;
    mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(db, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(db, "localhost", "root", nullptr,
                            database.empty() ? nullptr : database.c_str(), 0, socket.c_str(), 0)) {
        mysql_close(db);
        return nullptr;
    }
    return db;
}

std::unique_ptr<MariaDbServer>& Instance() {
    static std::unique_ptr<MariaDbServer> server;
    return server;
}

#ifndef POM_MARIADB_NO_GTEST
// Stops the server when the program's tests end (else when the program does).
class StopAtEnd : public ::testing::Environment {
public:
    void TearDown() override { Instance().reset(); }
};
[[maybe_unused]] ::testing::Environment* const kStopAtEnd =
    ::testing::AddGlobalTestEnvironment(new StopAtEnd);
#endif

}  // namespace

MariaDbServer* MariaDbServer::Shared(std::string* why) {
    static std::string failure;
    auto& server = Instance();
    if (server) return server.get();
    if (!failure.empty()) {
        if (why) *why = failure;
        return nullptr;
    }
    std::unique_ptr<MariaDbServer> s(new MariaDbServer);
    s->program_ = Find("mariadbd");
    if (s->program_.empty()) {
        failure = "mariadbd is missing (Debian's mariadb-server; run scripts/install-deps)";
    } else if (!s->Install(&failure) || !s->Start(&failure)) {
        if (failure.empty()) failure = "mariadbd did not start";
    } else {
        MYSQL* root = Root(s->dir_.file("sock"), "");
        const std::string user = std::string("'") + kUser + "'@'%'";
        const bool ok =
            root &&
            mysql_query(root,
                        ("CREATE USER " + user + " IDENTIFIED BY '" + kPassword + "'").c_str()) ==
                0 &&
            mysql_query(root, ("GRANT ALL ON *.* TO " + user).c_str()) == 0;
        if (!ok)
            failure = std::string("mariadbd: no test user: ") + (root ? mysql_error(root) : "");
        if (root) mysql_close(root);
        if (ok) server = std::move(s);
    }
    if (why) *why = failure;
    return server.get();
}

MariaDbServer::~MariaDbServer() {
    // ChildProcess ends it with SIGTERM, a clean shutdown.
    process_.reset();
}

bool MariaDbServer::Install(std::string* error) {
    const std::string install = Find("mariadb-install-db");
    if (install.empty()) {
        *error = "mariadb-install-db is missing (Debian's mariadb-server)";
        return false;
    }
    const std::string log = dir_.file("install.log");
    std::string cmd = install + " --no-defaults --datadir=" + dir_.file("data") +
                      " --auth-root-authentication-method=normal --skip-test-db";
    if (::geteuid() == 0) cmd += " --user=root";
    if (Run(cmd + " >" + log + " 2>&1") != 0) {
        *error = "mariadb-install-db failed: " + ReadFile(log);
        return false;
    }
    port_ = FreePort();
    return true;
}

bool MariaDbServer::Start(std::string* error) {
    std::vector<std::string> args = {
        "--no-defaults",
        "--datadir=" + dir_.file("data"),
        "--socket=" + dir_.file("sock"),
        "--port=" + std::to_string(port_),
        "--bind-address=127.0.0.1",
        "--pid-file=" + dir_.file("mariadbd.pid"),
        "--log-error=" + dir_.file("mariadbd.err"),
        "--skip-log-bin",
        "--skip-name-resolve",
        "--innodb-buffer-pool-size=64M",
    };
    if (::geteuid() == 0) args.push_back("--user=root");
    process_ = std::make_unique<ChildProcess>(program_, args);
    const std::string socket = dir_.file("sock");
    const bool up = WaitFor(
        [&] {
            if (MYSQL* db = Root(socket, "")) {
                mysql_close(db);
                return true;
            }
            return process_->WaitExit(std::chrono::milliseconds(0)) >= 0;  // it gave up
        },
        std::chrono::seconds(60));
    MYSQL* db = Root(socket, "");
    if (!up || db == nullptr) {
        if (error) *error = "mariadbd did not answer: " + ReadFile(dir_.file("mariadbd.err"));
        return false;
    }
    mysql_close(db);
    return true;
}

void MariaDbServer::Kill() {
    if (!process_) return;
    process_->Signal(SIGKILL);
    process_->WaitExit(std::chrono::seconds(30));
    process_.reset();
}

std::string MariaDbServer::NewDatabase() {
    const std::string name = "pomiary" + std::to_string(++databases_);
    Exec("", "CREATE DATABASE " + name);
    return "mariadb://" + std::string(kUser) + ":" + PercentEncoded(kPassword) +
           "@127.0.0.1:" + std::to_string(port_) + "/" + name;
}

std::string MariaDbServer::SocketAddress(const std::string& database) const {
    return "mariadb://" + std::string(kUser) + ":" + PercentEncoded(kPassword) + "@/" + database +
           "?socket=" + dir_.file("sock");
}

bool MariaDbServer::Exec(const std::string& database, const std::string& sql, std::string* error) {
    MYSQL* db = Root(dir_.file("sock"), database);
    const bool ok = db && mysql_real_query(db, sql.data(), sql.size()) == 0;
    if (!ok && error) *error = db ? mysql_error(db) : "no connection";
    if (db) mysql_close(db);
    return ok;
}

std::vector<std::vector<std::string>> MariaDbServer::Query(const std::string& database,
                                                           const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    MYSQL* db = Root(dir_.file("sock"), database);
    if (db && mysql_real_query(db, sql.data(), sql.size()) == 0) {
        if (MYSQL_RES* res = mysql_store_result(db)) {
            const unsigned n = mysql_num_fields(res);
            while (MYSQL_ROW row = mysql_fetch_row(res)) {
                std::vector<std::string> r;
                for (unsigned i = 0; i < n; ++i) r.push_back(row[i] ? row[i] : "NULL");
                rows.push_back(std::move(r));
            }
            mysql_free_result(res);
        }
    }
    if (db) mysql_close(db);
    return rows;
}

}  // namespace pom::test
